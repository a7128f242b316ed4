#pragma once

#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"

// One line of the mount table.
struct SMountEntry {
  std::string device;
  std::string mountPoint;
  std::string fileSystemType;
  std::string options;
};

// Finds the mount that holds a path.
class FXMountPoint {
 public:
  // The mount holding `path`: the path is made absolute and its symbolic
  // links are resolved (as far as it exists), then the mount point with the
  // longest match wins; a later line for the same mount point (a mount over
  // another) wins over an earlier one. Errors: a null or empty path (EINVAL),
  // an unreadable mount table, or no mount holding the path (ENOENT).
  static CQiError GetMountPoint(const char* path, SMountEntry& mount);
  static CQiError GetMountPoint(const char* path, CQiString& mountPoint);

  // Reads and parses a table in the form of /proc/self/mounts.
  static CQiError ReadMountTable(std::vector<SMountEntry>& table,
                                 const char* file = "/proc/self/mounts");
  // Parses "device mount-point type options ..." lines; octal escapes such as
  // "\040" (a blank) are decoded; malformed lines are skipped.
  static std::vector<SMountEntry> ParseMountTable(const std::string& text);
  // The entry holding the absolute, resolved `path` (the rule above).
  static bool FindMount(const std::vector<SMountEntry>& table, const std::string& path,
                        SMountEntry& mount);
};
