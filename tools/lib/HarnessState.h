#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// What a harness home remembers between processes, in "<home>/harness.json":
// the generated cluster, the registered clients, instance and subclient, and
// the next job id. Written whole through a temporary file.
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

  bool HasCluster() const { return !clusterFile.empty(); }
  bool Registered() const { return subclientId != 0; }

  static std::string PathIn(const std::string& home);
  // A missing file leaves the state empty and succeeds.
  CQiError Load(const std::string& home);
  CQiError Save(const std::string& home) const;
};

}  // namespace TqHarness
