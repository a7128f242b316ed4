// Cluster browses of a harness home: the plug-in's browser from its library,
// in the gateway client's context, against the Priam stand-in over the
// generated cluster.

#include <filesystem>

#include "E2eFixture.h"
#include "tools/lib/ClusterBrowse.h"

namespace e2e {
namespace {

using TqHarness::BrowseKind;

class BrowseE2e : public E2eTest {
 protected:
  TqHarness::ClusterBrowseResult Browse(BrowseKind kind, uint64_t subclientId = 0) {
    TqHarness::ClusterBrowseResult result;
    CQiError error =
        TqHarness::CClusterBrowse(*harness_, TQ_PLUGIN_PATH).Run({kind, subclientId}, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }
  // Nothing of any browse is left in the base directory's Temp or in the
  // gateway client's job results.
  void ExpectNoBrowseFolders() {
    std::error_code ec;
    const std::string temp = harness_->Home() + "/base/Temp";
    EXPECT_TRUE(!std::filesystem::exists(temp) || std::filesystem::is_empty(temp));
    EXPECT_FALSE(std::filesystem::exists(harness_->SuiteHome() + "/" +
                                         TqHarness::CJobHarness::kCoordinatorClient +
                                         "/JobResults/2"));
  }
};

TEST_F(BrowseE2e, NodesOfTwoDataCentresWithANodeDownAndAJoiningNode) {
  TqSim::FixtureOptions options = SmallCluster(4);
  options.dataCenters = 2;
  MakeCluster(options);
  ASSERT_FALSE(harness_
                   ->EditCluster([](TqSim::SimCluster& c) {
                     c.nodes[1].status = "Down";
                     c.nodes[1].running = false;
                     c.nodes[3].state = "Joining";
                   })
                   .IsError());
  const auto result = Browse(BrowseKind::kNodes);
  ASSERT_TRUE(result.Ok()) << result.errorMessage;
  EXPECT_EQ(result.errorCode, 0);
  EXPECT_EQ(result.item.getClusterName(), "TestCluster");
  const auto nodes = result.item.getNodes();
  ASSERT_EQ(nodes.size(), 4u);
  const std::vector<std::string> addresses = {"10.0.1.1", "10.0.1.2", "10.0.2.1", "10.0.2.2"};
  for (size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(addresses[i]);
    EXPECT_EQ(nodes[i].getAddress(), addresses[i]);
    EXPECT_EQ(nodes[i].getDataCenter(), i < 2 ? "dc1" : "dc2");
    EXPECT_EQ(nodes[i].getDown(), i == 1 ? 1 : 0);
    EXPECT_EQ(nodes[i].getState(), i == 3 ? 2 : 0);
    EXPECT_FALSE(nodes[i].hasAgentInstanceName());
  }
  ExpectNoBrowseFolders();
}

TEST_F(BrowseE2e, KeyspacesOfTheRegisteredInstanceAndOfItsSubclient) {
  TqSim::FixtureOptions options = SmallCluster(3);
  options.keyspaces = 3;
  MakeCluster(options);
  for (uint64_t subclient : {uint64_t(0), harness_->State().subclientId}) {
    SCOPED_TRACE(subclient);
    const auto result = Browse(BrowseKind::kKeyspaces, subclient);
    ASSERT_TRUE(result.Ok()) << result.errorMessage;
    std::vector<std::string> rows;
    for (const auto& row : result.item.getContents()) {
      rows.push_back(row.getKeyspaceName() + "/" + row.getDataCenter() + "/" +
                     std::to_string(row.getReplicationFactor()));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"ks1/dc1/3", "ks2//3", "ks3/dc1/3"}));
  }
  ExpectNoBrowseFolders();
}

TEST_F(BrowseE2e, AFailedBrowseAnswersItsReasonAndLeavesNothingRunning) {
  MakeCluster(SmallCluster(1));
  ASSERT_FALSE(harness_
                   ->EditCluster([](TqSim::SimCluster& c) {
                     TqSim::SimFault fault;
                     fault.when = "request";
                     fault.request = "getMeta";
                     fault.action = "fail";
                     c.faults.push_back(fault);
                   })
                   .IsError());
  const auto result = Browse(BrowseKind::kKeyspaces, harness_->State().subclientId);
  EXPECT_FALSE(result.Ok());
  EXPECT_EQ(result.items, 0);
  EXPECT_EQ(result.errorCode, 1);
  EXPECT_EQ(result.errorMessage,
            "Failed to fetch nodes/schemas from the Cassandra cluster: Failed to get Cassandra "
            "metadata from Priam service");
  ExpectNoBrowseFolders();
}

}  // namespace
}  // namespace e2e
