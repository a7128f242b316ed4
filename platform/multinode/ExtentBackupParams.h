#pragma once

#include <cstdint>

namespace OBJECTOPSAPI {

// What part of its file one backup item carries. A whole file is one item;
// a large file listed in extents is one item per extent, and a restore puts
// the extents of a file back at their offsets to make the whole file again.
struct ExtentBackupParams {
  static constexpr uint64_t kDefaultExtentSize = 0x400000;  // 4 MiB

  explicit ExtentBackupParams(uint64_t offset = 0)
      : isExtent(false),
        isLastExtent(true),
        offset(offset),
        extentSize(kDefaultExtentSize),
        length(0) {}

  bool isExtent;        // the item is one extent of its file, not the whole file
  bool isLastExtent;    // the item reaches the end of its file (true for a whole file)
  uint64_t offset;      // position in the file of the item's first byte
  uint64_t extentSize;  // extent size in force for the item
  uint64_t length;      // bytes the item carries; 0 for a whole file (up to its end)
};

}  // namespace OBJECTOPSAPI
