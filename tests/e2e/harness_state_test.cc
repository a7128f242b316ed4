// What a harness home remembers: a file written before homes held further
// clusters reads as a home of one cluster, and further clusters come back
// as they were saved.

#include <gtest/gtest.h>

#include <string>

#include "support/SimTestSupport.h"
#include "tools/lib/HarnessState.h"

namespace {

using TqHarness::CHarnessState;
using TqHarness::HarnessCluster;

TEST(HarnessState, AnOldSingleClusterFileReadsAsAHomeOfOneCluster) {
  simtest::TempDir dir;
  simtest::WriteFile(CHarnessState::PathIn(dir.path()), R"({
  "clusterRoot": "/h/cluster", "clusterFile": "/h/cluster/cluster.json",
  "clusterName": "TestCluster", "dockerWorld": "", "coordinatorClient": "cluster1",
  "coordinatorClientId": 7, "instanceId": 3, "subclientId": 4, "nextJobId": 5, "changes": 2,
  "nodes": [{"name": "node1", "address": "10.0.1.1", "dataCenter": "dc1", "confDir": "/c",
             "dataDirs": ["/d1", "/d2"], "commitLogArchiveDir": "/a",
             "containerArchiveDir": "", "clientId": 8}]
})");
  CHarnessState state;
  ASSERT_FALSE(state.Load(dir.path()).IsError());
  EXPECT_TRUE(state.clusters.empty());
  EXPECT_EQ(state.nextJobId, 5);
  HarnessCluster found;
  ASSERT_TRUE(state.FindCluster("TestCluster", found));
  EXPECT_EQ(found.instanceId, 3u);
  EXPECT_EQ(found.subclientId, 4u);
  EXPECT_EQ(found.coordinatorClient, "cluster1");
  ASSERT_EQ(found.nodes.size(), 1u);
  EXPECT_EQ(found.nodes[0].dataDirs, (std::vector<std::string>{"/d1", "/d2"}));
  EXPECT_EQ(found.nodes[0].clientId, 8u);
  EXPECT_FALSE(state.FindCluster("target", found));
  EXPECT_EQ(state.FurtherCluster("TestCluster"), nullptr);

  // Saved again without further clusters, the file keeps its old shape.
  ASSERT_FALSE(state.Save(dir.path()).IsError());
  EXPECT_EQ(simtest::ReadFile(CHarnessState::PathIn(dir.path())).find("\"clusters\""),
            std::string::npos);
}

TEST(HarnessState, FurtherClustersComeBackAsSaved) {
  simtest::TempDir dir;
  CHarnessState state;
  state.clusterName = "TestCluster";
  state.clusterFile = "/h/cluster/cluster.json";
  HarnessCluster target;
  target.name = "target";
  target.clusterRoot = "/h/clusters/target";
  target.clusterFile = "/h/clusters/target/cluster.json";
  target.coordinatorClient = "cluster2";
  target.coordinatorClientId = 11;
  target.instanceId = 12;
  target.subclientId = 13;
  TqHarness::HarnessNode node;
  node.name = "target-node1";
  node.address = "10.1.1.1";
  node.dataDirs = {"/t1"};
  node.clientId = 14;
  target.nodes.push_back(node);
  state.clusters.push_back(target);
  HarnessCluster unregistered;
  unregistered.name = "other";
  state.clusters.push_back(unregistered);
  ASSERT_FALSE(state.Save(dir.path()).IsError());

  CHarnessState read;
  ASSERT_FALSE(read.Load(dir.path()).IsError());
  ASSERT_EQ(read.clusters.size(), 2u);
  HarnessCluster found;
  ASSERT_TRUE(read.FindCluster("target", found));
  EXPECT_TRUE(found.Registered());
  EXPECT_EQ(found.clusterFile, target.clusterFile);
  EXPECT_EQ(found.coordinatorClient, "cluster2");
  EXPECT_EQ(found.coordinatorClientId, 11u);
  EXPECT_EQ(found.instanceId, 12u);
  ASSERT_EQ(found.nodes.size(), 1u);
  EXPECT_EQ(found.nodes[0].name, "target-node1");
  EXPECT_EQ(found.nodes[0].address, "10.1.1.1");
  EXPECT_EQ(found.nodes[0].clientId, 14u);
  ASSERT_NE(read.FurtherCluster("other"), nullptr);
  EXPECT_FALSE(read.FurtherCluster("other")->Registered());
  // The first cluster is found by its own name, never as a further one.
  ASSERT_TRUE(read.FindCluster("TestCluster", found));
  EXPECT_EQ(found.clusterFile, "/h/cluster/cluster.json");
}

TEST(HarnessState, AFileOfTheWrongShapeIsAnError) {
  // The last ones hold numbers their fields cannot hold: refused, never
  // converted into some other number.
  for (const char* text :
       {R"({"clusters": [{"nodes": 5}]})", R"({"nextJobId": 1e300})", R"({"changes": 3000000000})",
        R"({"instanceId": -1})", R"({"nodes": [{"name": "n1", "clientId": 2.5}]})",
        R"({"clusters": [{"name": "c2", "subclientId": -1e300}]})"}) {
    simtest::TempDir dir;
    simtest::WriteFile(CHarnessState::PathIn(dir.path()), text);
    CHarnessState state;
    EXPECT_TRUE(state.Load(dir.path()).IsError()) << text;
  }
}

}  // namespace
