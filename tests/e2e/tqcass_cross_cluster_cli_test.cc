// tqcass with a second cluster in one home, run as a separate program: the
// cluster and its registration as another instance, a restore onto it with
// a node map, and the refusals of what cannot be restored that way.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "TqcassTestSupport.h"
#include "support/SimTestSupport.h"

namespace {

using tqcasstest::Contains;
using tqcasstest::Outcome;

class TqcassCrossCluster : public tqcasstest::TqcassTest {
 protected:
  // The live Data.db files of `keyspace` below a cluster folder, by node.
  std::map<std::string, std::vector<std::string>> LiveData(const std::string& clusterRoot,
                                                           const std::string& keyspace) {
    std::map<std::string, std::vector<std::string>> byNode;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(clusterRoot + "/nodes", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      const std::filesystem::path path = it->path();
      if (!it->is_regular_file() || path.parent_path().parent_path().filename() != keyspace ||
          !Contains(path.filename().string(), "-Data.db")) {
        continue;
      }
      // <root>/nodes/<node>/data<i>/<ks>/<table>/<file>
      const std::string node =
          path.parent_path().parent_path().parent_path().parent_path().filename().string();
      byNode[node].push_back(simtest::ReadFile(path.string()));
    }
    return byNode;
  }
};

TEST_F(TqcassCrossCluster, ASecondClusterIsRegisteredAndRestoredOntoThroughANodeMap) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);

  Outcome o = Run("cluster --name target --nodes 2 --size 256");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "cluster target: 2 nodes")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  target-node1 10.1.1.1 dc1")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  target-node2 10.1.1.2 dc1")) << o.output;
  o = Run("register --cluster target");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "registered cluster target: client cluster2")) << o.output;
  EXPECT_TRUE(Contains(o.output, "2 node clients")) << o.output;
  o = Run("register --cluster target");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "The cluster target of ")) << o.output;
  EXPECT_TRUE(Contains(o.output, "is registered already")) << o.output;

  const auto sourceData = LiveData(dir_.Sub("home/cluster"), "ks1");
  ASSERT_EQ(sourceData.size(), 2u);
  o =
      Run("restore 1 --keyspace ks1 --target-cluster target --map node1=target-node2 "
          "--map node2=target-node1 --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "restore job 2 (in-place) of backup job 1 onto target "
                       "(node1 -> target-node2, node2 -> target-node1)"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 (restore in-place): Completed")) << o.output;
  // Each target node serves its source node's data files, and only those.
  const auto targetData = LiveData(dir_.Sub("home/clusters/target"), "ks1");
  auto sorted = [](std::vector<std::string> files) {
    std::sort(files.begin(), files.end());
    return files;
  };
  ASSERT_EQ(targetData.count("target-node1"), 1u);
  ASSERT_EQ(targetData.count("target-node2"), 1u);
  EXPECT_EQ(sorted(targetData.at("target-node2")), sorted(sourceData.at("node1")));
  EXPECT_EQ(sorted(targetData.at("target-node1")), sorted(sourceData.at("node2")));
  EXPECT_EQ(LiveData(dir_.Sub("home/cluster"), "ks1"), sourceData);
  // verify compares each backed-up file with what its target node serves.
  o = Run("verify 2");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 1 onto target checked: verified"))
      << o.output;
  o = Run("show 2");
  EXPECT_TRUE(Contains(o.output, "restore: in-place of backup job 1, ks1, tables not truncated"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "onto:    target (node1 -> target-node2, node2 -> target-node1)"))
      << o.output;

  // A restored file changed afterwards no longer holds the backup's bytes.
  std::string changed;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           dir_.Sub("home/clusters/target/nodes/target-node2"), ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string();
    if (Contains(path, "/ks1/") && Contains(path, "-Data.db") && !Contains(path, "/snapshots/") &&
        !Contains(path, "/backups/")) {
      changed = path;
    }
  }
  ASSERT_FALSE(changed.empty());
  simtest::WriteFile(changed, "damaged");
  o = Run("verify 2");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "onto target checked: NOT verified")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  no restored file holds its bytes: 1\n    target-node2 "))
      << o.output;
}

// What a restore onto another cluster does to the target depends on the
// tokens: a target node that takes over its source node's tokens loses its
// whole data folders; one that holds them already keeps its data, and the
// restored tables are truncated unless --no-truncate. tqcass says which
// before the job starts, and the restore does what it said.
TEST_F(TqcassCrossCluster, ARestoreOntoAnotherClusterSaysWhatTheTargetLosesAndDoesIt) {
  ASSERT_EQ(Run("cluster --nodes 2 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  // Made alike, the target's nodes hold the source nodes' tokens in order.
  ASSERT_EQ(Run("cluster --name target --nodes 2 --size 256").status, 0);
  ASSERT_EQ(Run("register --cluster target").status, 0);
  {
    std::ofstream registry(dir_.Sub("home/registry"), std::ios::app);
    registry << "[Cassandra]\nnCassandraSleepTime=0\n";
  }
  const std::string target = dir_.Sub("home/clusters/target");
  const auto source = LiveData(dir_.Sub("home/cluster"), "ks1");
  const auto own = LiveData(target, "ks1");
  ASSERT_EQ(own.size(), 2u);
  auto sorted = [](std::vector<std::string> files) {
    std::sort(files.begin(), files.end());
    return files;
  };
  auto joined = [&](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return sorted(a);
  };
  const std::string straight =
      "restore 1 --keyspace ks1 --target-cluster target --map node1=target-node1 "
      "--map node2=target-node2 --quiet";

  // Tokens alike, --no-truncate: the target's own rows stay beside the
  // restored ones.
  Outcome o = Run(straight + " --no-truncate");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "  target-node1 holds the tokens of node1 already: its data folders are "
                       "kept, and its rows of the restored tables stay beside the restored ones\n"))
      << o.output;
  EXPECT_FALSE(Contains(o.output, "truncated on every node")) << o.output;
  auto after = LiveData(target, "ks1");
  EXPECT_EQ(sorted(after["target-node1"]), joined(own.at("target-node1"), source.at("node1")));
  EXPECT_EQ(sorted(after["target-node2"]), joined(own.at("target-node2"), source.at("node2")));

  // Tokens alike: the restored tables are truncated as in place.
  o = Run(straight);
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "  target-node2 holds the tokens of node2 already: its data folders are "
                       "kept\n"))
      << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "  the restored tables (ks1) are truncated on every node of target: their "
                       "rows there are lost (--no-truncate keeps them)\n"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 (restore in-place): Completed\n")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  tables truncated\n")) << o.output;
  after = LiveData(target, "ks1");
  EXPECT_EQ(sorted(after["target-node1"]), sorted(source.at("node1")));
  EXPECT_EQ(sorted(after["target-node2"]), sorted(source.at("node2")));
  EXPECT_EQ(Run("verify 3").status, 0);

  // Crossed, each target node takes over tokens it does not hold: its data
  // folders go first, with the keyspace the restore does not bring back.
  ASSERT_FALSE(LiveData(target, "ks2").empty());
  o = Run("restore 1 --keyspace ks1 --target-cluster target --map node1=target-node2 --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "  target-node2 takes over the tokens of node1: its data folders are "
                       "emptied first, losing every keyspace they hold, the system keyspaces "
                       "and those the backup lacks included (ks1, ks2"))
      << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "  no table is truncated: a target node taking over tokens is down "
                       "meanwhile\n"))
      << o.output;
  // The summary names the one node restored, and the one left out.
  EXPECT_TRUE(Contains(o.output, "the selection of node node1 of backup job 1")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  not restored: node2 (not in --map)\n")) << o.output;
  EXPECT_EQ(LiveData(target, "ks2").count("target-node2"), 0u);
  EXPECT_EQ(sorted(LiveData(target, "ks1").at("target-node2")), sorted(source.at("node1")));
  o = Run("show 4");
  EXPECT_TRUE(Contains(o.output, "  not restored: node2 (not in --map)\n")) << o.output;

  // The loader deletes and truncates nothing.
  o = Run(straight + " --mode loader");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "  nothing of target is deleted or truncated: the loaded rows join the "
                       "rows it holds\n"))
      << o.output;

  // --help and the README say it before anyone runs it.
  o = Run("restore --help");
  EXPECT_TRUE(Contains(o.output, "its data folders are emptied first")) << o.output;
  EXPECT_TRUE(Contains(o.output, "the loader mode never truncates")) << o.output;
  std::ifstream in(std::string(TQ_SOURCE_DIR) + "/README.md");
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(Contains(readme, "its data folders are emptied first")) << "README.md";
  EXPECT_TRUE(Contains(readme, "the loader mode never truncates")) << "README.md";
}

TEST_F(TqcassCrossCluster, WhatCannotBeRestoredAcrossClustersIsRefusedWithItsReason) {
  struct Case {
    const char* arguments;
    int status;
    const char* text;
  };
  // Before a further cluster can exist.
  for (const Case& c : std::vector<Case>{
           {"cluster --name target", 1, "has no cluster yet; make its first one"},
           {"register --cluster target", 1, "has no cluster named target"},
       }) {
    Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, c.status) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, c.text)) << c.arguments << "\n" << o.output;
  }
  ASSERT_EQ(Run("cluster --nodes 2 --size 128").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("cluster --name target --nodes 2 --size 128").status, 0);
  ASSERT_EQ(Run("register --cluster target").status, 0);
  ASSERT_EQ(Run("cluster --name other --nodes 1 --size 128").status, 0);
  ASSERT_EQ(Run("cluster --name small --nodes 1 --size 128").status, 0);
  ASSERT_EQ(Run("register --cluster small").status, 0);
  for (const Case& c : std::vector<Case>{
           // Refused before the home is touched.
           {"restore 1 --target-cluster target --map node1", 2,
            "--map: not SOURCE=TARGET with two node names: node1"},
           {"restore 1 --target-cluster target --map =target-node1", 2,
            "--map: not SOURCE=TARGET with two node names: =target-node1"},
           {"restore 1 --target-cluster target --map 'node1=a/b'", 2,
            "--map: not SOURCE=TARGET with two node names: node1=a/b"},
           {"restore 1 --target-cluster target --map node1=target-node1 --map node1=target-node2",
            2, "--map: node node1 is mapped twice"},
           {"restore 1 --replace-dead-node", 2,
            "--replace-dead-node: name the replacing nodes with --map or --target-cluster"},
           {"restore 1 --mode staged --replace-dead-node --map node1=node2", 2,
            "--replace-dead-node: only with --mode in-place"},
           {"cluster --name x --docker", 2, "--docker: a cluster made with --name runs without"},
           {"restore 1 --target-cluster target --to-time 1", 2,
            "--to-time: restores onto the backed-up nodes only, not with --target-cluster or "
            "--map"},
           // Refused by what the home holds.
           {"restore 1 --target-cluster nosuch", 1, "no cluster named nosuch in " /* the home */},
           {"restore 1 --target-cluster other", 1,
            "the cluster other is not registered (register it with \"tqcass register --cluster "
            "other\")"},
           {"restore 1 --target-cluster target --map node9=target-node1", 1,
            "--map: the cluster TestCluster has no node node9"},
           {"restore 1 --target-cluster target --map node1=node2", 1,
            "--map: the cluster target has no node node2"},
           {"restore 1 --target-cluster target --map node1=target-node1 --map "
            "node2=target-node1",
            1, "node target-node1 of target would take the place of two nodes"},
           // Paired in order, the one node of small would stand for both.
           {"restore 1 --target-cluster small", 1,
            "node small-node1 of small would take the place of two nodes"},
           // A replacement joins the ring of the dead node it replaces.
           {"restore 1 --target-cluster target --map node1=target-node1 --replace-dead-node", 1,
            "--replace-dead-node: the nodes of target cannot take the place of dead nodes of "
            "TestCluster: a replacement joins the ring of the node it replaces (name nodes of "
            "TestCluster with --map)"},
           {"restore 1 --map node1=node2 --replace-dead-node", 1,
            "--replace-dead-node: node node1 of TestCluster is not down; only a dead node is "
            "replaced"},
           // Outside containers the nodes share one commit-log archive folder.
           {"restore 1 --to-time 1", 1,
            "--to-time: the 2 nodes of TestCluster are not in containers and archive their "
            "commit logs into one folder, so each node would replay the others' segments; a "
            "restore to a point in time needs a cluster in containers or of one node"},
           {"register --cluster nosuch", 1,
            "has no cluster named nosuch; make it with \"tqcass cluster --name nosuch\""},
           {"cluster --name target", 1, "has a cluster named target already"},
           {"cluster --name TestCluster", 1, "has a cluster named TestCluster already"},
           {"cluster --name 'bad/name'", 1, "Cannot name a cluster \"bad/name\""},
       }) {
    Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, c.status) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, c.text)) << c.arguments << "\n" << o.output;
  }
  // No refused restore made a job.
  Outcome o = Run("jobs");
  EXPECT_FALSE(Contains(o.output, "restore")) << o.output;
}

// A node dies; another node of the cluster takes its place with its backed-up
// data, and the dead node leaves the ring.
TEST_F(TqcassCrossCluster, ADeadNodeIsReplacedByAnotherNodeOfItsCluster) {
  ASSERT_EQ(Run("cluster --nodes 4 --size 128").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  // Cassandra's start needs no pause in the simulated cluster.
  {
    std::ofstream registry(dir_.Sub("home/registry"), std::ios::app);
    registry << "[Cassandra]\nnCassandraSleepTime=0\n";
  }
  ASSERT_EQ(Run("backup --quiet").status, 0);
  const auto node3Data = LiveData(dir_.Sub("home/cluster"), "ks1").at("node3");
  // node4 is the new machine: it starts without data.
  ASSERT_EQ(Run("damage --node node4").status, 0);
  Outcome o = Run("damage --node node3 --down");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "node node3 (10.0.1.3) is down")) << o.output;
  o = Run("browse nodes");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "Down")) << o.output;

  o = Run("restore 1 --map node3=node4 --replace-dead-node --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "onto TestCluster (node3 -> node4)")) << o.output;
  EXPECT_TRUE(Contains(o.output, "Completed")) << o.output;
  o = Run("browse nodes");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "10.0.1.3")) << o.output;
  EXPECT_FALSE(Contains(o.output, "Down")) << o.output;
  EXPECT_TRUE(Contains(o.output, "10.0.1.4")) << o.output;
  auto sorted = [](std::vector<std::string> files) {
    std::sort(files.begin(), files.end());
    return files;
  };
  EXPECT_EQ(sorted(LiveData(dir_.Sub("home/cluster"), "ks1").at("node4")), sorted(node3Data));
  o = Run("verify 2");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 1 onto TestCluster checked: verified"))
      << o.output;
}

}  // namespace
