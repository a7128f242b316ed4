#pragma once

// Helpers of the tests that run the plug-in against a generated cluster and
// the Priam stand-in (or a scripted Priam): small fixture options, ring
// edits, status reply rows, and the check that no child outlives a test.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace simtest {

// A small cluster: one table of one tiny SSTable per keyspace and node.
inline TqSim::FixtureOptions SmallClusterOptions(int nodes, int dataCenters = 1,
                                                 int keyspaces = 2) {
  TqSim::FixtureOptions options;
  options.nodes = nodes;
  options.dataCenters = dataCenters;
  options.keyspaces = keyspaces;
  options.tablesPerKeyspace = 1;
  options.sstablesPerTable = 1;
  options.sstableSize = 16;
  return options;
}

inline void GenerateCluster(const std::string& root, const TqSim::FixtureOptions& options,
                            TqSim::FixtureResult& cluster) {
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(root, options, cluster, error)) << error;
}

// Loads the simulated cluster, lets `edit` change it and saves it.
template <typename F>
void EditClusterFile(const std::string& clusterFile, F edit) {
  TqSim::SimClusterFile file(clusterFile);
  TqSim::SimCluster cluster;
  std::string error;
  ASSERT_TRUE(file.Load(cluster, error)) << error;
  edit(cluster);
  ASSERT_TRUE(file.Save(cluster, error)) << error;
}

// One element of a "status" reply.
inline std::string StatusRowJson(const std::string& address, const std::string& dataCenter,
                                 const std::string& status, const std::string& state) {
  return R"({"node":")" + address + R"(","data_center":")" + dataCenter + R"(","nodestatus":")" +
         status + R"(","state":")" + state + R"(","rack":"r1","token":"42","hostid":"h-)" +
         address + R"("})";
}

// Every child process still there is a failure of the test; it is killed
// and reaped.
inline void KillLeftChildren() {
  for (pid_t pid : ChildrenOf(::getpid())) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ADD_FAILURE() << "process " << pid << " was left running";
  }
}

}  // namespace simtest
