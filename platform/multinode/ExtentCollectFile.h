#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/multinode/ExtentBackupParams.h"
#include "platform/multinode/UnixFlatCollectFile.h"

namespace MultiNodeBackupOps {

// Extent backup of large files. With extent backup on, the extent pass lists
// each regular file above the large-file threshold as consecutive extents of
// the extent size (the last one shorter) in place of its one entry, so that
// streams can back the file up in parts and a restore can put it back whole.
// With it off (the default) every file is one entry.
class CExtentCollectFile {
 public:
  // Registry section and values of the extent settings (sizes in bytes).
  static constexpr const char* kRegistrySection = "FileSystemAgent";
  static constexpr const char* kEnableValue = "nEnableExtentBackup";
  static constexpr const char* kExtentSizeValue = "nExtentSize";
  static constexpr const char* kThresholdValue = "nLargeFileThreshold";
  static constexpr uint64_t kDefaultExtentSize = 4ULL << 30;           // 4 GiB
  static constexpr uint64_t kDefaultLargeFileThreshold = 10ULL << 30;  // 10 GiB

  // `flatFile` may be empty for an object that only parses entries.
  // `useExtents` false makes Run leave the flat file as it is.
  CExtentCollectFile(const CUnixFlatCollectFilePtr& flatFile, uint64_t extentSize,
                     uint64_t largeFileThreshold, bool useExtents);

  // The extent pass: closes the flat collect file, reads it and replaces it
  // (atomically) with the same entries, large files turned into extents.
  // Entries that already are extents stay as they are. No flat file, or an
  // extent size of 0, is error 87; a malformed entry is error 13; a failed
  // read or write is its error, and the flat file then keeps its content.
  CQiError Run();

  // Reads one line of a numbered collect file: `path` gets the entry's path;
  // for an extent, `params` gets isExtent, offset, length and isLastExtent;
  // for a whole file they are set to a whole file (offset 0, length 0). The
  // flags and the params' extent size are left as they are. A malformed line
  // is error 13.
  CQiError ParseCollectFileEntry(const std::string& line, std::string& path, uint64_t& flags,
                                 OBJECTOPSAPI::ExtentBackupParams& params) const;

  // Sets the three values to their defaults (extent backup off), then to the
  // registry's values where present. A value that is present but not a
  // non-negative number is error 13 and that field keeps its default; the
  // other fields are still read.
  static CQiError ReadExtentConfigFromRegistry(bool& extentBackup, uint64_t& extentSize,
                                               uint64_t& largeFileThreshold);

  uint64_t GetExtentSize() const { return extentSize_; }
  uint64_t GetLargeFileThreshold() const { return largeFileThreshold_; }

 private:
  CUnixFlatCollectFilePtr flatFile_;
  uint64_t extentSize_;
  uint64_t largeFileThreshold_;
  bool useExtents_;
};

}  // namespace MultiNodeBackupOps
