#include "tools/lib/ClusterDataChange.h"

#include <algorithm>
#include <functional>

#include "platform/base/FXErrorUtil.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimNodeData.h"

namespace TqHarness {

CQiError CClusterDataChange::AddSSTables(const std::string& clusterFile, int perTable,
                                         uint64_t dataSize, int round, int& added) {
  added = 0;
  TqSim::SimClusterFile file(clusterFile);
  TqSim::SimCluster cluster;
  std::string error;
  if (!file.Load(cluster, error)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", error.c_str());
  }
  for (TqSim::SimNode& node : cluster.nodes) {
    TqSim::SimNodeData data(cluster, node);
    if (!data.Load(error)) return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", error.c_str());
    for (const TqSim::SimKeyspace& keyspace : cluster.keyspaces) {
      for (const TqSim::SimTable& table : keyspace.tables) {
        std::vector<TqSim::SimTableDir> dirs;
        if (!data.MakeTableDirs(keyspace.name, table, dirs, error) || dirs.empty()) {
          return FXErrorUtil::ErrorWin32(FXLOC, 29, "%s", error.c_str());
        }
        for (int i = 0; i < perTable; ++i) {
          int generation = 0;
          for (const auto& d : dirs) generation = std::max(generation, d.HighestGeneration());
          ++generation;
          const TqSim::SimTableDir& dir = dirs[(generation - 1) % dirs.size()];
          const uint64_t seed =
              std::hash<std::string>()(node.address + "/" + keyspace.name + "." + table.name + "/" +
                                       std::to_string(generation) + "/" + std::to_string(round));
          TqSim::SimSSTable written;
          if (!dir.WriteSSTable(generation, dataSize, seed, written, error)) {
            return FXErrorUtil::ErrorWin32(FXLOC, 29, "%s", error.c_str());
          }
          if (data.settings().incrementalBackups && !dir.LinkIntoBackups(written, error)) {
            return FXErrorUtil::ErrorWin32(FXLOC, 29, "%s", error.c_str());
          }
          ++added;
        }
        const std::string entry = keyspace.name + "." + table.name;
        if (std::find(node.unflushed.begin(), node.unflushed.end(), entry) ==
            node.unflushed.end()) {
          node.unflushed.push_back(entry);
        }
      }
    }
  }
  if (!file.Save(cluster, error)) return FXErrorUtil::ErrorWin32(FXLOC, 29, "%s", error.c_str());
  return CQiError();
}

}  // namespace TqHarness
