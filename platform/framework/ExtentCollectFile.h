#pragma once

#include <cstdint>

#include "platform/base/QiError.h"

namespace MultiNodeBackupOps {

// Extent backup of large files: a file at or above the large-file threshold is
// backed up in extents of the extent size.
class CExtentCollectFile {
 public:
  // Registry section and values of the extent settings (sizes in bytes).
  static constexpr const char* kRegistrySection = "FileSystemAgent";
  static constexpr const char* kEnableValue = "nEnableExtentBackup";
  static constexpr const char* kExtentSizeValue = "nExtentSize";
  static constexpr const char* kThresholdValue = "nLargeFileThreshold";
  static constexpr uint64_t kDefaultExtentSize = 4ULL << 30;           // 4 GiB
  static constexpr uint64_t kDefaultLargeFileThreshold = 10ULL << 30;  // 10 GiB

  // Sets the three values to their defaults (extent backup off), then to the
  // registry's values where present. A value that is present but not a
  // non-negative number is error 13 and that field keeps its default; the
  // other fields are still read.
  static CQiError ReadExtentConfigFromRegistry(bool& extentBackup, uint64_t& extentSize,
                                               uint64_t& largeFileThreshold);
};

}  // namespace MultiNodeBackupOps
