#include "sim/lib/SimNodeData.h"

#include <algorithm>

#include "sim/lib/SimFiles.h"

namespace TqSim {

SimNodeData::SimNodeData(const SimCluster& cluster, const SimNode& node)
    : node_(node), format_(SimTableDir::FormatForVersion(cluster.version)) {}

bool SimNodeData::Load(std::string& error) {
  if (!SimNodeConfig(node_.confDir).Read(settings_, error)) return false;
  if (settings_.dataDirs.empty()) {
    error = "No data directories configured for node " + node_.address;
    return false;
  }
  return true;
}

std::vector<SimTableDir> SimNodeData::TableDirs(const std::string& keyspace,
                                                const SimTable& table) const {
  std::vector<SimTableDir> dirs;
  for (const auto& d : settings_.dataDirs) {
    std::string path = JoinPath(JoinPath(d, keyspace), TableDirName(table));
    if (IsDir(path)) dirs.emplace_back(path, format_);
  }
  return dirs;
}

bool SimNodeData::MakeTableDirs(const std::string& keyspace, const SimTable& table,
                                std::vector<SimTableDir>& dirs, std::string& error) const {
  dirs.clear();
  for (const auto& d : settings_.dataDirs) {
    std::string path = JoinPath(JoinPath(d, keyspace), TableDirName(table));
    const bool existed = IsDir(path);
    if (!MakeDirs(path, error)) return false;
    dirs.emplace_back(path, format_);
    // A new table serves nothing until data is flushed, loaded or refreshed.
    if (!existed && !dirs.back().StartLiveRecord(error)) return false;
  }
  return true;
}

std::vector<SimTableDir> SimNodeData::KeyspaceTableDirs(const std::string& keyspace) const {
  std::vector<SimTableDir> dirs;
  for (const auto& d : settings_.dataDirs) {
    std::string ksDir = JoinPath(d, keyspace);
    for (const auto& t : ListDir(ksDir)) {
      if (IsDir(JoinPath(ksDir, t))) dirs.emplace_back(JoinPath(ksDir, t), format_);
    }
  }
  return dirs;
}

std::vector<SimTableDir> SimNodeData::AllTableDirs() const {
  std::vector<SimTableDir> dirs;
  std::vector<std::string> keyspaces;
  for (const auto& d : settings_.dataDirs) {
    for (const auto& ks : ListDir(d)) {
      if (IsDir(JoinPath(d, ks))) keyspaces.push_back(ks);
    }
  }
  std::sort(keyspaces.begin(), keyspaces.end());
  keyspaces.erase(std::unique(keyspaces.begin(), keyspaces.end()), keyspaces.end());
  for (const auto& ks : keyspaces) {
    for (auto& dir : KeyspaceTableDirs(ks)) dirs.push_back(std::move(dir));
  }
  return dirs;
}

}  // namespace TqSim
