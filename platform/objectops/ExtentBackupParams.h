#pragma once

#include <cstdint>

namespace OBJECTOPSAPI {

// How an item's content is taken from its file. By default the item is the
// whole file; an extent item is the byte range [offset, offset + length) of
// its file (length 0: up to the end of the file), and the extents of one file
// that several items carry are put back together on retrieval. The content is
// read and sent in units of `extentSize` bytes.
struct ExtentBackupParams {
  static constexpr uint64_t kDefaultExtentSize = 0x400000;  // 4 MiB

  explicit ExtentBackupParams(uint64_t n = 0)
      : isExtent(false), failOnChange(true), offset(n), extentSize(kDefaultExtentSize), length(0) {}

  bool isExtent;      // the item is one extent of its file, not the whole file
  bool failOnChange;  // fail the item when the file's size changes while it is read
  uint64_t offset;    // where an extent item starts in its file
  uint64_t extentSize;
  uint64_t length;  // bytes of an extent item; 0 = up to the end of the file
};

}  // namespace OBJECTOPSAPI
