#include "tools/lib/JobResultRecords.h"

#include <fstream>

#include "sim/lib/SimClusterFile.h"

namespace TqHarness {

namespace fs = std::filesystem;

std::vector<fs::path> CJobResultRecords::Find(const std::vector<std::string>& folders,
                                              const char* name) {
  std::vector<fs::path> records;
  for (const std::string& folder : folders) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code e;
      if (it->path().filename() == name && it->symlink_status(e).type() == fs::file_type::regular) {
        records.push_back(it->path());
      }
    }
  }
  return records;
}

std::string CJobResultRecords::FirstLine(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

bool CJobResultRecords::FindNode(const CHarnessState& state, const std::string& confDir,
                                 TqSim::SimNode& node, std::string& clusterFile) {
  if (confDir.empty()) return false;
  std::vector<std::string> clusterFiles;
  if (!state.clusterFile.empty()) clusterFiles.push_back(state.clusterFile);
  for (const HarnessCluster& cluster : state.clusters) clusterFiles.push_back(cluster.clusterFile);
  const std::string wanted = fs::path(confDir).lexically_normal().string();
  for (const std::string& file : clusterFiles) {
    TqSim::SimCluster cluster;
    std::string error;
    {
      TqSim::SimClusterFile clusterFileLock(file);
      TqSim::SimClusterFile::Lock lock(clusterFileLock);
      if (!clusterFileLock.Load(cluster, error)) continue;
    }
    for (const TqSim::SimNode& candidate : cluster.nodes) {
      if (candidate.confDir.empty() ||
          fs::path(candidate.confDir).lexically_normal().string() != wanted) {
        continue;
      }
      node = candidate;
      clusterFile = file;
      return true;
    }
  }
  return false;
}

}  // namespace TqHarness
