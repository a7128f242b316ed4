// The backup coordinator's cluster discovery: the ring and the stored node
// list it rewrites, nodes that are skipped per content kind, nodes that share
// a client, and the failures of the Priam replies and stored procedures.

#include <set>

#include "BackupJobStartFixture.h"
#include "platform/app/CassandraInstance.h"
#include "sim/lib/SimCluster.h"

namespace jobstart {
namespace {

using App::CassandraNode;

class Discovery : public JobStartTest {
 protected:
  // The stored node list as XML text, to see that it did not change.
  std::string StoredText() const {
    std::string text;
    for (const CassandraNode& node : StoredNodes()) {
      std::string xml;
      node.serialize(xml);
      text += xml;
    }
    return text;
  }
  int InstanceProcedureCalls() const {
    int count = 0;
    for (const auto& call : App_ExecuteSP::Calls()) {
      if (call.procedureId == kClusterInstanceProcedure) ++count;
    }
    return count;
  }

  // A scripted ring of nodes 10.0.1.1 to 10.0.1.n in dc1, each with a client
  // "node<i>" and a stored record; the status reply is `status` when given.
  uint64_t ScriptedCluster(int n, const std::vector<SContentRow>& content,
                           const std::string& status = "") {
    Scripted();
    std::string rows;
    SInstanceSettings settings = ClusterInstance();
    for (int i = 1; i <= n; ++i) {
      const std::string address = "10.0.1." + std::to_string(i);
      Client("node" + std::to_string(i), {address});
      SNodeSettings stored;
      stored.address = address;
      stored.configDirectory = "/conf/node" + std::to_string(i);
      settings.nodes.push_back(stored);
      rows += (i > 1 ? "," : "") + StatusRow(address, "dc1");
    }
    Instance(settings);
    Scripted().SetReply("status", status.empty() ? "[" + rows + "]" : status);
    return Subclient(content);
  }
};

TEST_F(Discovery, StoredNodeListHoldsTheRingAndTheNodesThatLeftIt) {
  Generate(Options(4, 2));
  EditCluster([](TqSim::SimCluster& c) {
    c.nodes[1].state = "Joining";
    c.nodes[3].status = "Down";
  });
  NodeClients();
  Client("gone", {"10.9.9.9"});
  Client("old", {"10.8.0.1", "10.8.0.2"});
  SInstanceSettings settings = ClusterInstance();
  settings.nodes[0].javaHome = "/opt/java-node1";
  settings.nodes[2].configDirectory.clear();
  settings.nodes[2].dataDirectories.clear();
  auto stale = [](const std::string& address, uint64_t clientId) {
    SNodeSettings node;
    node.address = address;
    node.clientId = clientId;
    node.dataCenter = "dc9";
    node.rack = "rack9";
    node.configDirectory = "/conf/" + address;
    return node;
  };
  settings.nodes.push_back(stale("10.9.9.9", 0));
  settings.nodes.push_back(stale("10.0.1.77", clientIds_["node1"]));  // its client stays
  settings.nodes.push_back(stale("10.8.0.2", 0));
  settings.nodes.push_back(stale("10.8.0.1", 0));
  Instance(settings);
  uint64_t subclient = Subclient({Row("ks1", "")});

  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);

  TqSim::SimCluster ring;
  std::string error;
  ASSERT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(ring, error)) << error;
  std::vector<CassandraNode> stored = StoredNodes();
  ASSERT_EQ(stored.size(), 6u);
  const int64_t expectedState[] = {0, 2, 0, 0};
  const int64_t expectedDown[] = {0, 0, 0, 1};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(ring.nodes[i].address);
    const CassandraNode& node = stored[i];
    EXPECT_EQ(node.getAddress(), ring.nodes[i].address);
    EXPECT_EQ(node.getDataCenter(), ring.nodes[i].dataCenter);
    EXPECT_EQ(node.getRack(), ring.nodes[i].rack);
    ASSERT_EQ(ring.nodes[i].tokens.size(), 1u);
    EXPECT_EQ(node.getTokens(), ring.nodes[i].tokens[0]);
    EXPECT_EQ(node.getHostId(), ring.nodes[i].hostId);
    EXPECT_EQ(node.getState(), expectedState[i]);
    EXPECT_EQ(node.getDown(), expectedDown[i]);
    EXPECT_EQ(node.getClientName(), cluster_.nodes[i].name);
    ASSERT_TRUE(node.getClient());
    EXPECT_EQ(node.getClient()->getClientId(),
              static_cast<int64_t>(clientIds_[cluster_.nodes[i].name]));
    EXPECT_FALSE(node.hasAgentInstanceName());
    // Stored settings win where the stored record has them.
    EXPECT_EQ(node.getConfigDirectory(),
              i == 2 ? settings.cassandraConfigFile : cluster_.nodes[i].confDir);
    EXPECT_EQ(node.getDataDirectories(), i == 2 ? "" : cluster_.nodes[i].dataDirs.front());
    EXPECT_EQ(node.getJavaHome(), i == 0 ? "/opt/java-node1" : settings.javaHome);
  }
  // Of the stale records, in address order: the first of client "old", then
  // "gone"; the one of a client already listed is dropped.
  for (size_t i = 4; i < 6; ++i) {
    const CassandraNode& node = stored[i];
    SCOPED_TRACE(node.getAddress());
    EXPECT_EQ(node.getAddress(), i == 4 ? "10.8.0.1" : "10.9.9.9");
    EXPECT_EQ(node.getClientName(), i == 4 ? "old" : "gone");
    EXPECT_EQ(node.getDown(), 1);
    EXPECT_TRUE(node.getDataCenter().empty());
    EXPECT_TRUE(node.getRack().empty());
    EXPECT_TRUE(node.getTokens().empty());
    EXPECT_TRUE(node.getHostId().empty());
    EXPECT_EQ(node.getConfigDirectory(), "/conf/" + node.getAddress());
  }
  EXPECT_EQ(Events(kEvNodeSkipped),
            (std::vector<std::vector<std::string>>{{"old", "Node is not part of the cluster"},
                                                   {"gone", "Node is not part of the cluster"}}));
}

struct SkipCase {
  const char* name;
  std::vector<SContentRow> content;
  std::vector<std::string> registered;
  std::vector<std::vector<std::string>> events;
};

void PrintTo(const SkipCase& c, std::ostream* os) { *os << c.name; }

class SkippedNodes : public Discovery, public ::testing::WithParamInterface<SkipCase> {};

// Ring of two data centres: node1 (dc1) up, node2 (dc1) joining, node3 (dc2)
// without a suite client, node4 (dc2) down.
TEST_P(SkippedNodes, FollowTheContentKind) {
  const SkipCase& c = GetParam();
  Generate(Options(4, 2));
  EditCluster([](TqSim::SimCluster& cluster) {
    cluster.nodes[1].state = "Joining";
    cluster.nodes[3].status = "Down";
  });
  for (int i : {0, 1, 3}) Client(cluster_.nodes[i].name, {cluster_.nodes[i].address});
  Instance(ClusterInstance());
  uint64_t subclient = Subclient(c.content);
  CLogCapture log;
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_EQ(RegisteredNames(), c.registered);
  EXPECT_EQ(Events(kEvNodeSkipped), c.events);
  EXPECT_EQ(coordinator.nodeSkipped, !c.events.empty());
  EXPECT_TRUE(log.Contains("Adding cassandra ip 10.0.1.2 to failed nodes list"));
  EXPECT_TRUE(log.Contains("Skipping node 10.0.2.1"));
}

const char* const kDown = "Cassandra services are down";
const char* const kUnmapped = "Could not map Cassandra node to Torvanell node";

INSTANTIATE_TEST_SUITE_P(
    Content, SkippedNodes,
    ::testing::Values(SkipCase{"WholeCluster",
                               {WholeCluster()},
                               {"node1"},
                               {{"10.0.1.2", kDown}, {"10.0.2.1", kUnmapped}, {"10.0.2.2", kDown}}},
                      SkipCase{"DataCentreRows",
                               {Row("", "dc1"), Row("ks1", "dc2")},
                               {"node1"},
                               {{"10.0.1.2", kDown}, {"10.0.2.1", kUnmapped}, {"10.0.2.2", kDown}}},
                      SkipCase{"KeyspaceRow", {Row("ks1", "")}, {"node1", "node2", "node4"}, {}}),
    [](const ::testing::TestParamInfo<SkipCase>& info) { return std::string(info.param.name); });

TEST_F(Discovery, AddressesOfOneClientAreToldApartByAgentInstanceNames) {
  Generate(Options(3));
  Client("host1", {cluster_.nodes[0].address, cluster_.nodes[1].address});
  Client("node3", {cluster_.nodes[2].address});
  Instance(ClusterInstance());
  uint64_t subclient = Subclient({Row("ks1", ""), Row("ks2", "")}, 4);
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);

  EXPECT_TRUE(coordinator.dockerConfig);
  const std::string key1 = "host1_" + cluster_.nodes[0].address;
  const std::string key2 = "host1_" + cluster_.nodes[1].address;
  const std::string key3 = "node3_" + cluster_.nodes[2].address;
  using Keyspaces = std::list<std::string>;
  EXPECT_EQ(coordinator.nodeKeyspaces,
            (std::unordered_map<std::string, Keyspaces>{
                {key1, {"ks1", "ks2"}}, {key2, {"ks1", "ks2"}}, {key3, {"ks1", "ks2"}}}));
  // One framework node per client; each node record attached once.
  std::vector<RegisteredNode> registered = Registered();
  ASSERT_EQ(registered.size(), 2u);
  EXPECT_EQ(registered[0].clientName, "host1");
  EXPECT_EQ(registered[0].addresses,
            (std::vector<std::string>{cluster_.nodes[0].address, cluster_.nodes[1].address}));
  EXPECT_EQ(registered[1].addresses, (std::vector<std::string>{cluster_.nodes[2].address}));
  EXPECT_EQ(coordinator.tasksPerNode, 4u);  // 4 streams over 2 nodes

  std::vector<std::string> names;
  for (const CassandraNode& node : StoredNodes()) names.push_back(node.getAgentInstanceName());
  EXPECT_EQ(names, (std::vector<std::string>{key1, key2, key3}));
}

TEST_F(Discovery, AnAddressWithoutClientInDockerModeIsNamedByItsAddress) {
  Scripted();
  Client("host1", {"10.0.1.1", "10.0.1.2"});
  Instance(ClusterInstance());
  Scripted().SetReply("status", "[" + StatusRow("10.0.1.1", "dc1") + "," +
                                    StatusRow("10.0.1.2", "dc1") + "," +
                                    StatusRow("10.0.1.4", "dc1") + "]");
  uint64_t subclient = Subclient({Row("ks1", "")});
  CLogCapture log;
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_TRUE(coordinator.dockerConfig);
  EXPECT_EQ(RegisteredNames(), (std::vector<std::string>{"host1"}));
  // Under keyspace content the address without a client is only logged.
  EXPECT_TRUE(log.Contains("Skipping node 10.0.1.4"));
  EXPECT_FALSE(coordinator.nodeSkipped);
  EXPECT_TRUE(Events(kEvNodeSkipped).empty());

  std::vector<CassandraNode> stored = StoredNodes();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored[0].getAgentInstanceName(), "host1_10.0.1.1");
  EXPECT_EQ(stored[1].getAgentInstanceName(), "host1_10.0.1.2");
  EXPECT_EQ(stored[2].getAgentInstanceName(), "_10.0.1.4");
  EXPECT_FALSE(stored[2].getClient());
  EXPECT_TRUE(stored[2].getClientName().empty());
}

struct ReplyCase {
  const char* name;
  std::string reply;  // "" for a failed request
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class MalformedStatus : public Discovery, public ::testing::WithParamInterface<ReplyCase> {};

// A "status" that fails or cannot be read ends the discovery before the
// stored node list is touched.
TEST_P(MalformedStatus, FailsTheRequestAndKeepsTheStoredList) {
  const ReplyCase& c = GetParam();
  uint64_t subclient = ScriptedCluster(3, {WholeCluster()}, c.reply.empty() ? "[]" : c.reply);
  if (c.reply.empty()) {
    Scripted().SetError("status", FXErrorUtil::ErrorWin32(FXLOC, 1359, "ring unknown"), "down");
  }
  const std::string before = StoredText();
  App_ExecuteSP::ClearCalls();
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  EXPECT_TRUE(App_ExecuteSP::Calls().empty());
  ASSERT_TRUE(e.IsError());
  auto events = Events(kEvPriamRequestFailed);
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(events[0].size(), 2u);
  EXPECT_EQ(events[0][0], "status");
  EXPECT_EQ(StoredText(), before);
  EXPECT_TRUE(coordinator.getNodes().empty());
  EXPECT_TRUE(Events(kEvNodeSkipped).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MalformedStatus,
    ::testing::Values(ReplyCase{"Object", R"({"node":"10.0.1.1"})"},
                      ReplyCase{"NotJson", "<html>busy</html>"},
                      ReplyCase{"WrongType", R"([{"node":"10.0.1.1","data_center":1}])"},
                      ReplyCase{"Failed", ""}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

// An empty ring is a readable answer that tells nothing about the stored
// nodes: the job fails for lack of nodes and the stored list stays as it is.
TEST_F(Discovery, AnEmptyRingFailsWithoutTouchingTheStoredList) {
  uint64_t subclient = ScriptedCluster(2, {Row("ks1", "")}, "[]");
  const std::string before = StoredText();
  CQiError e = Coordinator(subclient).loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());  // nothing to register
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627)) << e.AsString(2);
  std::vector<CassandraNode> stored = StoredNodes();
  ASSERT_EQ(stored.size(), 2u);
  for (const CassandraNode& node : stored) EXPECT_EQ(node.getDown(), 0);
  EXPECT_EQ(StoredText(), before);
}

class MalformedMeta : public Discovery, public ::testing::WithParamInterface<ReplyCase> {};

// The default subclient's content comes from "getMeta"; an answer that
// cannot be read fails the request instead of passing for "no keyspaces".
TEST_P(MalformedMeta, FailsTheRequest) {
  const ReplyCase& c = GetParam();
  uint64_t subclient = ScriptedCluster(2, {});
  Scripted().SetReply("getMeta", c.reply);
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 13)) << e.AsString(2);
  auto events = Events(kEvPriamRequestFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0][0], "getMeta");
  EXPECT_FALSE(coordinator.noBackupContent);
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvNoBackupContent));
  EXPECT_TRUE(coordinator.getNodes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MalformedMeta,
    ::testing::Values(ReplyCase{"Object", R"({"KEYSPACE":"ks1"})"},
                      ReplyCase{"KeyspaceNumber", R"([{"KEYSPACE":5}])"},
                      ReplyCase{"ReplicationText", R"([{"KEYSPACE":"ks1","REPLICATION":"x"}])"},
                      ReplyCase{"ClassNumber", R"([{"KEYSPACE":"ks1","REPLICATION":{"class":7}}])"},
                      ReplyCase{"TablesObject", R"([{"KEYSPACE":"ks1","Tables":{}}])"},
                      ReplyCase{"ReplicationNumber", R"([{"KEYSPACE":"ks1","REPLICATION":2}])"}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(Discovery, MetaElementsThatAreNotObjectsArePassedOver) {
  uint64_t subclient = ScriptedCluster(2, {});
  Scripted().SetReply("getMeta", R"(["junk", 3, {"KEYSPACE":"ks1","REPLICATION":)"
                                 R"({"class":"org.apache.cassandra.locator.SimpleStrategy"}}])");
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  using Keyspaces = std::list<std::string>;
  EXPECT_EQ(coordinator.nodeKeyspaces,
            (std::unordered_map<std::string, Keyspaces>{{"node1", {"ks1"}}, {"node2", {"ks1"}}}));
}

class MalformedDetails : public Discovery, public ::testing::WithParamInterface<ReplyCase> {};

// A "clusterDetails" reply that cannot be read fails the request and leaves
// the stored cluster name and version as they were.
TEST_P(MalformedDetails, FailTheRequestAndKeepTheStoredNames) {
  const ReplyCase& c = GetParam();
  uint64_t subclient = ScriptedCluster(2, {WholeCluster()});
  {
    CassandraInstance instance(instanceId_);
    ASSERT_FALSE(instance.setClusterName("kept").IsError());
    ASSERT_FALSE(instance.setVersion("3.11").IsError());
  }
  Scripted().SetReply("clusterDetails", c.reply);
  CQiError e = Coordinator(subclient).loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 13)) << e.AsString(2);
  auto events = Events(kEvPriamRequestFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0][0], "clusterDetails");
  EXPECT_TRUE(App_ExecuteSP::Calls().empty());
  CassandraInstance instance(instanceId_);
  std::string name, version;
  EXPECT_FALSE(instance.getClusterName(name).IsError());
  EXPECT_FALSE(instance.getVersion(version).IsError());
  EXPECT_EQ(name, "kept");
  EXPECT_EQ(version, "3.11");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MalformedDetails,
    ::testing::Values(ReplyCase{"WrongType", R"({"ClusterName":5,"Version":"4.0"})"},
                      ReplyCase{"NotJson", "<html>busy</html>"},
                      ReplyCase{"Array", R"(["c1","4.0"])"},
                      ReplyCase{"NoClusterName", R"({"Version":"4.0"})"},
                      ReplyCase{"NoVersion", R"({"ClusterName":"c1"})"}, ReplyCase{"Empty", "{}"}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

struct ProcedureCase {
  const char* name;
  uint32_t procedure;
  int result;  // 0: a reply of `reply`
  std::string reply;
  int skipCalls;
  uint32_t code;
  std::string message;
  bool setSent;  // the stored node list was written
};

void PrintTo(const ProcedureCase& c, std::ostream* os) { *os << c.name; }

const char* const kNoConfig = "no config";

class ProcedureFailures : public Discovery, public ::testing::WithParamInterface<ProcedureCase> {};

TEST_P(ProcedureFailures, EndTheDiscoveryWithTheirError) {
  const ProcedureCase& c = GetParam();
  uint64_t subclient = ScriptedCluster(3, {WholeCluster()});
  if (c.result != 0) {
    App_ExecuteSP::FailProcedure(c.procedure, c.result, "refused", c.skipCalls);
  } else {
    std::string reply = c.reply;
    if (reply == kNoConfig) {
      // An instance record without its cluster configuration.
      App::DistributedClusterInstanceResp response;
      response.setInstanceInfo(App::ClusterInstanceInfo());
      ASSERT_EQ(response.serialize(reply), 0);
    }
    App_ExecuteSP::ReplyProcedure(c.procedure, reply, c.skipCalls);
  }
  App_ExecuteSP::ClearCalls();
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  App_ExecuteSP::ClearFailures();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, c.code)) << e.AsString(2);
  EXPECT_NE(e.AsString(2).find(c.message), std::string::npos) << e.AsString(2);
  EXPECT_EQ(InstanceProcedureCalls(), c.setSent ? 2 : 1);
  EXPECT_TRUE(coordinator.getNodes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Procedures, ProcedureFailures,
    ::testing::Values(
        ProcedureCase{"ClientsFail", 0x1E122479, 3, "", 0, 13,
                      "Stored procedure to get Client entities for IP addresses failed with an "
                      "error [3], response Str [refused]",
                      false},
        ProcedureCase{"ClientsUnreadable", 0x1E122479, 0, "<x/>", 0, 13,
                      "Unserialize of Stored procedure response failed with an error", false},
        ProcedureCase{"GetFails", kClusterInstanceProcedure, 4, "", 0, 13,
                      "Stored procedure to get instance properties failed with an error [4], "
                      "response Str [refused]",
                      false},
        ProcedureCase{"GetUnreadable", kClusterInstanceProcedure, 0, "not xml", 0, 13,
                      "Unserialize of Stored procedure response failed with an error", false},
        ProcedureCase{"GetWithoutConfig", kClusterInstanceProcedure, 0, kNoConfig, 0, 87,
                      "Null Cassandra config", false},
        ProcedureCase{"SetFails", kClusterInstanceProcedure, 5, "", 1, 13,
                      "Stored procedure to set instance properties failed with an error [5], "
                      "response Str [refused]",
                      true}),
    [](const ::testing::TestParamInfo<ProcedureCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(Discovery, RingStateTexts) {
  CoordinatorProbe coordinator;
  struct Case {
    const char* text;
    App::CassandraNodeState state;
    bool invalid;
  } cases[] = {{"Normal", App::CassandraNodeState::Normal, false},
               {"Leaving", App::CassandraNodeState::Leaving, false},
               {"Joining", App::CassandraNodeState::Joining, false},
               {"Moving", App::CassandraNodeState::Moving, false},
               {"normal", App::CassandraNodeState::Normal, true},
               {"", App::CassandraNodeState::Normal, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    CLogCapture log;
    EXPECT_EQ(coordinator.getStatus(c.text), c.state);
    EXPECT_EQ(log.Contains("Invalid Cassandra node status"), c.invalid);
  }
}

}  // namespace
}  // namespace jobstart
