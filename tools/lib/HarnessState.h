#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// A further cluster of a home (`tqcass cluster --name NAME`): its own node
// and client names and addresses, registered as an instance of its own.
struct HarnessCluster {
  std::string name;  // also the cluster's name in Cassandra
  std::string clusterRoot;
  std::string clusterFile;
  std::vector<HarnessNode> nodes;
  std::string coordinatorClient;  // "" before it was registered
  uint64_t coordinatorClientId = 0;
  uint64_t instanceId = 0;
  uint64_t subclientId = 0;

  bool Registered() const { return subclientId != 0; }
};

// What a harness home remembers between processes, in "<home>/harness.json":
// the generated cluster, the registered clients, instance and subclient, and
// the next job id; further named clusters beside it. Written whole through a
// temporary file. A file without further clusters (as homes made before
// they existed) reads as a home of one cluster.
class CHarnessState {
 public:
  std::string clusterRoot;  // "" before a cluster was made
  std::string clusterFile;
  std::string clusterName;
  std::string dockerWorld;  // the docker stand-in's world, "" without containers
  std::vector<HarnessNode> nodes;
  std::string coordinatorClient;
  uint64_t coordinatorClientId = 0;
  uint64_t instanceId = 0;
  uint64_t subclientId = 0;
  int64_t nextJobId = 1;
  // Number of the next change of the cluster's data (seeds new SSTables).
  int changes = 0;
  // The further clusters, in the order they were made.
  std::vector<HarnessCluster> clusters;

  bool HasCluster() const { return !clusterFile.empty(); }
  bool Registered() const { return subclientId != 0; }

  // The home's first cluster in the form of a further one.
  HarnessCluster Primary() const;
  // The cluster of that name, the first one included; false when none.
  bool FindCluster(const std::string& name, HarnessCluster& cluster) const;
  // A further cluster of that name (never the first one); null when none.
  HarnessCluster* FurtherCluster(const std::string& name);

  static std::string PathIn(const std::string& home);
  // A missing file leaves the state empty and succeeds.
  CQiError Load(const std::string& home);
  CQiError Save(const std::string& home) const;
};

}  // namespace TqHarness
