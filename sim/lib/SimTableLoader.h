#pragma once

#include <string>
#include <vector>

#include "sim/lib/SimCluster.h"
#include "sim/lib/SimRequest.h"

namespace TqSim {

// What the simulated Cassandra does with SSTable files it did not write
// itself: the SSTable loader streams a folder into the nodes that hold its
// keyspace, and a refresh or a start loads the files placed in a node's
// table directories.
class SimTableLoader {
 public:
  // The nodes that hold the keyspace by its replication: every node for a
  // strategy without data centres, else the nodes of the data centres given
  // a factor above 0. With `localDataCentre` set only its nodes.
  static std::vector<const SimNode*> Holders(const SimCluster& cluster, const SimKeyspace& keyspace,
                                             const std::string& localDataCentre = "");

  // Loads the SSTables of <...>/<keyspace>/<table>[-<id>] into every running
  // holder, under generations above every one the node's table uses; holders
  // that are down are left out. `localOnly`: only the holders of the data
  // centre of the node that runs the load.
  static SimReply Load(SimContext& context, const std::string& directory, bool localOnly);

  // Makes the placed SSTables of one node live: those of the keyspaces
  // named, or of every table when none is named.
  static bool MakeLive(const SimCluster& cluster, const SimNode& node,
                       const std::vector<std::string>& keyspaces, std::string& error);
};

}  // namespace TqSim
