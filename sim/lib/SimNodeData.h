#pragma once

#include <string>
#include <vector>

#include "sim/lib/SimCluster.h"
#include "sim/lib/SimNodeConfig.h"
#include "sim/lib/SimTableDir.h"

namespace TqSim {

// The data directories of one simulated node, as its cassandra.yaml names
// them.
class SimNodeData {
 public:
  SimNodeData(const SimCluster& cluster, const SimNode& node);

  // Reads the node's configuration; needed before anything else.
  bool Load(std::string& error);
  const SimNodeSettings& settings() const { return settings_; }

  // The table's directories that exist, one per data directory at most.
  std::vector<SimTableDir> TableDirs(const std::string& keyspace, const SimTable& table) const;
  // Creates the table's directory in every data directory; a new one starts
  // with nothing live.
  bool MakeTableDirs(const std::string& keyspace, const SimTable& table,
                     std::vector<SimTableDir>& dirs, std::string& error) const;
  // Every table directory on disk, of any keyspace (system ones included).
  std::vector<SimTableDir> AllTableDirs() const;
  // Every table directory of one keyspace on disk.
  std::vector<SimTableDir> KeyspaceTableDirs(const std::string& keyspace) const;

  const std::string& format() const { return format_; }

 private:
  const SimNode& node_;
  std::string format_;
  SimNodeSettings settings_;
};

}  // namespace TqSim
