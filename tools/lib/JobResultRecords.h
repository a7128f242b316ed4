#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace TqHarness {

// Records a restore leaves in its targets' work folders below a job's
// result folders ("CassandraStopped", "CommitLogSettingsEdited"): small
// regular files of a known name whose first line says what to put right.
class CJobResultRecords {
 public:
  // Every regular file named `name` below `folders`; links are neither
  // followed nor taken.
  static std::vector<std::filesystem::path> Find(const std::vector<std::string>& folders,
                                                 const char* name);
  // The first line of a small file ("" when it cannot be read).
  static std::string FirstLine(const std::filesystem::path& path);
};

}  // namespace TqHarness
