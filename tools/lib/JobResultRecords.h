#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sim/lib/SimCluster.h"
#include "tools/lib/HarnessState.h"

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
  // The node of the home (of any of its clusters) whose configuration
  // directory is `confDir`, with its cluster file; false when none. A
  // record only chooses among the home's own nodes: its text is compared,
  // never used as a path.
  static bool FindNode(const CHarnessState& state, const std::string& confDir, TqSim::SimNode& node,
                       std::string& clusterFile);
};

}  // namespace TqHarness
