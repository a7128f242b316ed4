// The node browse: the Priam stand-in over generated clusters (data
// centres, a node down, a Joining node, one client hosting several nodes in
// containers) and a scripted Priam for replies of every shape, and the
// clients of the node addresses.

#include "BrowseFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/SuiteServiceRecords.h"

namespace browsetest {
namespace {

class NodeBrowseTest : public BrowseTest {
 protected:
  // Browses the generated cluster through the stored instance 7.
  Outcome BrowseCluster() {
    if (!instance_) {
      Instance(InstanceSettings());
      instance_ = true;
    }
    return Browse(InstanceRequest());
  }
  std::vector<App::CassandraNode> Nodes(const Outcome& outcome) {
    EXPECT_FALSE(outcome.Failed()) << outcome.Message();
    return outcome.Item().getNodes();
  }
  // A scripted node browse with this "status" reply.
  Outcome ScriptedBrowse(const std::string& status) {
    Scripted().SetReply("status", status);
    GatewaySettings gateway;
    gateway.configFile = ScriptedConf();
    return Browse(Request(std::nullopt, std::nullopt, &gateway));
  }
  bool instance_ = false;
};

TEST_F(NodeBrowseTest, OneDataCentreGivesEveryNodeWithItsRingFields) {
  Generate(Options(3));
  NodeClients();
  Outcome outcome = BrowseCluster();
  const App::CassandraBrowseItem item = outcome.Item();
  EXPECT_EQ(item.getClusterName(), "TestCluster");
  EXPECT_EQ(item.getVersion(), "3.11.4");
  EXPECT_TRUE(item.getContents().empty());
  const auto nodes = item.getNodes();
  ASSERT_EQ(nodes.size(), 3u);

  TqSim::SimCluster ring;
  std::string error;
  ASSERT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(ring, error)) << error;
  for (size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(i);
    const TqSim::SimNode& expected = ring.nodes[i];
    EXPECT_EQ(nodes[i].getAddress(), expected.address);
    EXPECT_EQ(nodes[i].getDataCenter(), "dc1");
    EXPECT_EQ(nodes[i].getRack(), "rack1");
    EXPECT_EQ(nodes[i].getTokens(), expected.tokens.at(0));
    EXPECT_EQ(nodes[i].getHostId(), expected.hostId);
    EXPECT_EQ(nodes[i].getState(), 0);
    EXPECT_EQ(nodes[i].getDown(), 0);
    EXPECT_TRUE(nodes[i].isSet(9));
    EXPECT_TRUE(nodes[i].isSet(10));
    // One client per node: no agent instance names, and no client fields.
    EXPECT_FALSE(nodes[i].hasAgentInstanceName());
    EXPECT_FALSE(nodes[i].isSet(2));
    EXPECT_FALSE(nodes[i].isSet(3));
  }
  // The clients were asked for every address, in ring order.
  auto calls = App_ExecuteSP::Calls();
  ASSERT_EQ(calls.size(), 1u);
  App::GetClientsForIPAddressRequest asked;
  ASSERT_EQ(asked.unserialize(calls[0].requestXml), 0);
  EXPECT_EQ(asked.getIpAddresses(), (std::vector<std::string>{"10.0.1.1", "10.0.1.2", "10.0.1.3"}));
}

TEST_F(NodeBrowseTest, TwoDataCentresANodeDownAndAJoiningNodeShowTheirStates) {
  Generate(Options(4, 2));
  NodeClients();
  EditCluster([](TqSim::SimCluster& c) {
    c.nodes[1].status = "Down";
    c.nodes[1].running = false;
    c.nodes[3].state = "Joining";
    c.nodes[2].state = "Leaving";
  });
  const auto nodes = Nodes(BrowseCluster());
  ASSERT_EQ(nodes.size(), 4u);
  const std::vector<std::string> dcs = {"dc1", "dc1", "dc2", "dc2"};
  const std::vector<int64_t> states = {0, 0, 1, 2};
  const std::vector<int64_t> down = {0, 1, 0, 0};
  for (size_t i = 0; i < nodes.size(); ++i) {
    SCOPED_TRACE(nodes[i].getAddress());
    EXPECT_EQ(nodes[i].getDataCenter(), dcs[i]);
    EXPECT_EQ(nodes[i].getState(), states[i]);
    EXPECT_EQ(nodes[i].getDown(), down[i]);
  }
}

TEST_F(NodeBrowseTest, AClientHostingSeveralNodesInContainersNamesEachNodeByAgentInstance) {
  TqSim::FixtureOptions options = Options(3);
  options.docker = true;
  Generate(options);
  Client("dockerhost", {"10.0.1.1", "10.0.1.2"});
  Client("node3", {"10.0.1.3"});
  const auto nodes = Nodes(BrowseCluster());
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].getAgentInstanceName(), "dockerhost_10.0.1.1");
  EXPECT_EQ(nodes[1].getAgentInstanceName(), "dockerhost_10.0.1.2");
  EXPECT_EQ(nodes[2].getAgentInstanceName(), "node3_10.0.1.3");
  EXPECT_TRUE(Browser().dockerConfig);
}

TEST_F(NodeBrowseTest, AgentInstanceNamesAreDecidedByEachBrowseOwnClients) {
  Scripted().SetReply(
      "status", "[" + StatusRow("10.0.1.1", "dc1") + "," + StatusRow("10.0.1.2", "dc1") + "]");
  Client("dockerhost", {"10.0.1.1", "10.0.1.2"});
  GatewaySettings gateway;
  gateway.configFile = ScriptedConf();
  auto nodes = Nodes(Browse(Request(std::nullopt, std::nullopt, &gateway)));
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[1].getAgentInstanceName(), "dockerhost_10.0.1.2");

  // The same browser on another ring whose nodes each have their own client.
  Scripted().SetReply(
      "status", "[" + StatusRow("10.0.2.1", "dc1") + "," + StatusRow("10.0.2.2", "dc1") + "]");
  Client("a", {"10.0.2.1"});
  Client("b", {"10.0.2.2"});
  nodes = Nodes(Browse(Request(std::nullopt, std::nullopt, &gateway)));
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_FALSE(nodes[0].hasAgentInstanceName());
  EXPECT_FALSE(nodes[1].hasAgentInstanceName());
}

TEST_F(NodeBrowseTest, AddressesWithoutAClientDoNotSwitchOnAgentInstanceNames) {
  Client("a", {"10.0.1.3"});
  const auto nodes =
      Nodes(ScriptedBrowse("[" + StatusRow("10.0.1.1", "dc1") + "," + StatusRow("10.0.1.2", "dc1") +
                           "," + StatusRow("10.0.1.3", "dc1") + "]"));
  ASSERT_EQ(nodes.size(), 3u);
  for (const auto& node : nodes) EXPECT_FALSE(node.hasAgentInstanceName());
  EXPECT_FALSE(Browser().dockerConfig);
}

TEST_F(NodeBrowseTest, AnUnmappedAddressOfASharedClientRingGetsAnEmptyClientName) {
  Client("dockerhost", {"10.0.1.1", "10.0.1.3"});
  const auto nodes =
      Nodes(ScriptedBrowse("[" + StatusRow("10.0.1.1", "dc1") + "," + StatusRow("10.0.1.2", "dc1") +
                           "," + StatusRow("10.0.1.3", "dc1") + "]"));
  ASSERT_EQ(nodes.size(), 3u);
  // The entity of 10.0.1.3 is not taken for 10.0.1.2's.
  EXPECT_EQ(nodes[0].getAgentInstanceName(), "dockerhost_10.0.1.1");
  EXPECT_EQ(nodes[1].getAgentInstanceName(), "_10.0.1.2");
  EXPECT_EQ(nodes[2].getAgentInstanceName(), "dockerhost_10.0.1.3");
}

TEST_F(NodeBrowseTest, StatusElementsAndTextsAreReadAsTheRingGivesThem) {
  CLogCapture log;
  const auto nodes =
      Nodes(ScriptedBrowse("[\"text\", 5, " + StatusRow("10.0.1.1", "dc1", "down", "Moving") + "," +
                           StatusRow("10.0.1.2", "dc2", "Down", "normal") + "," +
                           StatusRow("10.0.1.3", "dc2", "Up", "Leaving") + "]"));
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].getDown(), 0);  // "down" is not "Down"
  EXPECT_EQ(nodes[0].getState(), 3);
  EXPECT_EQ(nodes[1].getDown(), 1);
  EXPECT_EQ(nodes[1].getState(), 0);  // unknown text, logged
  EXPECT_EQ(nodes[2].getState(), 1);
  EXPECT_FALSE(log.Texts(-1).empty());
  EXPECT_TRUE(log.Contains("Invalid Cassandra node status"));
}

TEST_F(NodeBrowseTest, AnEmptyRingGivesAnItemWithoutNodesAndStillAsksForClients) {
  Outcome outcome = ScriptedBrowse("[]");
  ASSERT_FALSE(outcome.Failed()) << outcome.Message();
  EXPECT_EQ(outcome.Item().getClusterName(), "Scripted");
  EXPECT_EQ(outcome.Item().getVersion(), "4.0.1");
  EXPECT_TRUE(outcome.Item().getNodes().empty());
  EXPECT_EQ(App_ExecuteSP::Calls().size(), 1u);
}

struct BadReply {
  const char* name;
  const char* resource;
  std::string reply;
  std::string reason;
};

TEST_F(NodeBrowseTest, RepliesOfTheWrongShapeAreBrowseErrors) {
  const std::vector<BadReply> cases = {
      {"details not JSON", "clusterDetails", "<html>",
       "Error while getting cluster Details from the Cassandra cluster."},
      {"details an array", "clusterDetails", "[]",
       "Error while getting cluster Details from the Cassandra cluster."},
      {"details name a number", "clusterDetails", R"({"ClusterName":5})",
       "Error while getting cluster Details from the Cassandra cluster."},
      {"status an object", "status", R"({"node":"10.0.1.1"})",
       "Failed to fetch status node status from Cassandra"},
      {"status cut short", "status", "[" + StatusRow("10.0.1.1", "dc1"),
       "Failed to fetch status node status from Cassandra"},
      {"status member a number", "status", R"([{"node":"10.0.1.1","token":42}])",
       "Failed to fetch status node status from Cassandra"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scripted().SetReply("clusterDetails", R"({"ClusterName":"Scripted","Version":"4.0.1"})");
    Scripted().SetReply("status", "[]");
    Scripted().SetReply(c.resource, c.reply);
    GatewaySettings gateway;
    gateway.configFile = ScriptedConf();
    Outcome outcome = Browse(Request(std::nullopt, std::nullopt, &gateway));
    EXPECT_TRUE(outcome.Failed());
    EXPECT_EQ(outcome.Message(), kPrefix + c.reason);
    EXPECT_TRUE(outcome.items.empty());
  }
  EXPECT_TRUE(App_ExecuteSP::Calls().empty());
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(NodeBrowseTest, AFailedClusterDetailsRaisesTheRequestEvent) {
  Scripted().SetError("clusterDetails", FXErrorUtil::ErrorWin32(FXLOC, 1359, "down"), "gone");
  GatewaySettings gateway;
  gateway.configFile = ScriptedConf();
  Outcome outcome = Browse(Request(std::nullopt, std::nullopt, &gateway));
  EXPECT_EQ(outcome.error.GetCode(), kWin32_1359);
  EXPECT_EQ(
      outcome.Message(),
      std::string(kPrefix) + "Error while getting cluster Details from the Cassandra cluster.");
  const auto events = Events(kEvPriamRequestFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].at(0), "clusterDetails");
}

TEST_F(NodeBrowseTest, AFailedStatusGivesItsReason) {
  Scripted().SetError("status", FXErrorUtil::ErrorWin32(FXLOC, 5, "denied"), "");
  GatewaySettings gateway;
  gateway.configFile = ScriptedConf();
  Outcome outcome = Browse(Request(std::nullopt, std::nullopt, &gateway));
  EXPECT_EQ(outcome.error.GetCode(), kWin32_1359);
  EXPECT_EQ(outcome.Message(),
            std::string(kPrefix) + "Failed to fetch status node status from Cassandra");
}

TEST_F(NodeBrowseTest, AFailedClientLookUpReachesTheCallerInTheGenericResponse) {
  App_ExecuteSP::FailProcedure(kClientsProcedure, 4, "records unavailable");
  Outcome outcome = ScriptedBrowse("[" + StatusRow("10.0.1.1", "dc1") + "]");
  EXPECT_EQ(outcome.error.GetCode(), kWin32_13);
  EXPECT_EQ(outcome.generic.getErrorCode(), 1);
  EXPECT_EQ(outcome.Message(), std::string(kPrefix) +
                                   "Stored procedure to get Client entities for IP addresses "
                                   "failed with an error [4], response Str [records unavailable]");
  EXPECT_TRUE(outcome.items.empty());

  App_ExecuteSP::ClearFailures();
  App_ExecuteSP::ReplyProcedure(kClientsProcedure, "<not xml");
  outcome = ScriptedBrowse("[" + StatusRow("10.0.1.1", "dc1") + "]");
  EXPECT_EQ(outcome.error.GetCode(), kWin32_13);
  EXPECT_EQ(outcome.Message().rfind(
                std::string(kPrefix) + "Unserialize of Stored procedure response failed", 0),
            0u)
      << outcome.Message();
}

TEST_F(NodeBrowseTest, ClientsPairedByPositionWhenTheEntitiesNameNoAddress) {
  // A response whose entities carry no host name: paired in request order;
  // surplus entities are ignored.
  App::GetClientsForIPAddressResponse response;
  std::vector<TqEntities::ClientEntity> entities(3);
  entities[0].setClientName("same");
  entities[1].setClientName("same");
  entities[2].setClientName("extra");
  response.setClients(entities);
  std::string xml;
  ASSERT_EQ(response.serialize(xml), 0);
  App_ExecuteSP::ReplyProcedure(kClientsProcedure, xml);
  std::map<std::string, std::string> clients;
  ASSERT_FALSE(Browser().getTQclientsForIPs({"10.0.1.1", "10.0.1.2"}, clients).IsError());
  EXPECT_EQ(clients,
            (std::map<std::string, std::string>{{"10.0.1.1", "same"}, {"10.0.1.2", "same"}}));
  EXPECT_TRUE(Browser().dockerConfig);
}

}  // namespace
}  // namespace browsetest
