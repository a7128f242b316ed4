#include "sim/lib/SimTableLoader.h"

#include <algorithm>
#include <cstdlib>

#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeData.h"

namespace TqSim {

std::vector<const SimNode*> SimTableLoader::Holders(const SimCluster& cluster,
                                                    const SimKeyspace& keyspace,
                                                    const std::string& localDataCentre) {
  const std::string strategy = keyspace.replication.value("class", std::string());
  const bool perDataCentre = strategy.find("NetworkTopologyStrategy") != std::string::npos;
  std::vector<const SimNode*> out;
  for (const auto& node : cluster.nodes) {
    if (!localDataCentre.empty() && node.dataCenter != localDataCentre) continue;
    if (perDataCentre) {
      auto factor = keyspace.replication.find(node.dataCenter);
      if (factor == keyspace.replication.end() || !factor->is_string() ||
          std::atoi(factor->get<std::string>().c_str()) <= 0) {
        continue;
      }
    }
    out.push_back(&node);
  }
  return out;
}

SimReply SimTableLoader::Load(SimContext& c, const std::string& directory, bool localOnly) {
  if (!IsDir(directory)) return SimReply::Fail("Directory " + directory + " does not exist");
  std::string tableName = BaseName(directory);
  const std::string keyspaceName = BaseName(ParentPath(directory));
  size_t dash = tableName.rfind('-');
  if (dash != std::string::npos && tableName.size() - dash - 1 == 32) tableName.erase(dash);
  const SimKeyspace* keyspace = c.cluster.FindKeyspace(keyspaceName);
  const SimTable* table = c.cluster.FindTable(keyspaceName, tableName);
  if (!keyspace || !table) {
    return SimReply::Fail("Table " + keyspaceName + "." + tableName + " does not exist");
  }
  std::string error;
  int loaded = 0, nodes = 0;
  for (const SimNode* n : Holders(c.cluster, *keyspace, localOnly ? c.self.dataCenter : "")) {
    if (!n->running) continue;
    SimNodeData data(c.cluster, *n);
    std::vector<SimTableDir> dirs;
    if (!data.Load(error) || !data.MakeTableDirs(keyspaceName, *table, dirs, error)) {
      return SimReply::Fail(error);
    }
    if (dirs.empty()) return SimReply::Fail("Node " + n->address + " has no data directory");
    int next = 1;
    for (const auto& d : dirs) next = std::max(next, d.HighestGeneration() + 1);
    int imported = 0;
    if (!dirs.front().Import(directory, next, imported, error)) return SimReply::Fail(error);
    loaded += imported;
    ++nodes;
  }
  return SimReply::Ok("Loaded " + std::to_string(loaded) + " SSTables from " + directory +
                      " into " + std::to_string(nodes) + " nodes");
}

bool SimTableLoader::MakeLive(const SimCluster& cluster, const SimNode& node,
                              const std::vector<std::string>& keyspaces, std::string& error) {
  SimNodeData data(cluster, node);
  if (!data.Load(error)) return false;
  std::vector<SimTableDir> dirs;
  if (keyspaces.empty()) {
    dirs = data.AllTableDirs();
  } else {
    for (const auto& ks : keyspaces) {
      for (auto& d : data.KeyspaceTableDirs(ks)) dirs.push_back(std::move(d));
    }
  }
  for (const auto& d : dirs) {
    if (!d.MakeAllLive(error)) return false;
  }
  return true;
}

}  // namespace TqSim
