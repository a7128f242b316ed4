// The backup coordinator while the framework starts a node: its stream share,
// the controller's argument line, and the answer to each start-up report
// (the collect-file request, built from one cached "getMeta", or NodeInit).

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/BackupRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "plugin/BackupTasksFixture.h"

namespace {

using backuptest::BackupTasksFixture;
using backuptest::CassandraNode;
using DistributedQEL::CassandraCreateCollectFiles;
using DistributedQEL::CassandraKeyspace;
using DistributedQEL::CassandraNodeKeyspace;
using DistributedQEL::CNodeInfoPtr;
using TqCassandra::ScopedPriamTransportFactory;
using TqCassandra::ScriptedPriam;

constexpr uint32_t kPriamRequestFailed = 0x60003D3;
constexpr uint32_t kPriamAccessDenied = 0x6000485;

// Keyspaces as Priam's "getMeta" lists them.
const char* const kMeta = R"([
  {"KEYSPACE":"ks1","REPLICATION":{"class":"org.apache.cassandra.locator.NetworkTopologyStrategy"},
   "Tables":[{"COLUMNSPACE":"t1","ID":"5a1c395e-b41f-11e5-9f22-ba0be0483c18"},
             {"COLUMNSPACE":"t2","ID":"00000000-0000-0000-0000-000000000001"}]},
  {"KEYSPACE":"ks2","REPLICATION":{"class":"org.apache.cassandra.locator.SimpleStrategy"},
   "Tables":[{"COLUMNSPACE":"s1","ID":"11111111-2222-3333-4444-555555555555"}]},
  {"KEYSPACE":"ks3","REPLICATION":{"class":"NetworkTopologyStrategy"}}
])";

std::vector<std::pair<std::string, std::string>> Options(const CassandraCreateCollectFiles& r) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& o : r.getOptions()) out.emplace_back(o.getName(), o.getValue());
  return out;
}

std::vector<std::string> OptionNames(const CassandraCreateCollectFiles& r) {
  std::vector<std::string> out;
  for (const auto& o : r.getOptions()) out.push_back(o.getName());
  return out;
}

std::vector<std::string> KeyspaceNames(const CassandraNodeKeyspace& entry) {
  std::vector<std::string> out;
  for (const auto& k : entry.getKeyspaces()) out.push_back(k.getKeyspaceName());
  return out;
}

class NodeStart : public BackupTasksFixture {
 protected:
  void SetUp() override {
    BackupTasksFixture::SetUp();
    ASSERT_FALSE(coordinator.getClientConfigObject(config_).IsError());
    script->SetReply("getMeta", kMeta);
    coordinator.priam.reset(new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base",
                                                       priamDir.path(), "/etc/cassandra", false));
    ASSERT_FALSE(coordinator.priam->startPriam().IsError());
    coordinator.clientConfig->clusterName = "cluster1";
  }

  // The answer to the node's first start-up report.
  CQiError Acknowledge(CNodeInfoPtr node, FrameworkMessagePtr& message) {
    return coordinator.getNodeStartAcknowledgeMessage(node, message);
  }
  CassandraCreateCollectFiles Request(CNodeInfoPtr node) {
    FrameworkMessagePtr message;
    CQiError error = Acknowledge(node, message);
    EXPECT_FALSE(error.IsError()) << error.AsString();
    CassandraCreateCollectFiles request;
    if (message) {
      auto typed = RecordAs<CassandraCreateCollectFiles>(*message);
      EXPECT_TRUE(typed);
      if (typed) request = *typed;
    }
    return request;
  }
  size_t MetaRequests() const {
    size_t n = 0;
    for (const auto& r : script->AllRequests()) n += r.resource == "getMeta";
    return n;
  }

  DistributedQEL::CClientConfigPtr config_;
  TempDir priamDir;
  std::shared_ptr<ScriptedPriam> script = std::make_shared<ScriptedPriam>();
  ScopedPriamTransportFactory guard{script->Factory()};
};

TEST_F(NodeStart, StreamShareIsConfiguredStreamsOverNodesRoundedUp) {
  struct Case {
    int nodes;
    int streams;
    int cpus;
    int share;
    int limit;
  } cases[] = {
      {3, 8, 0, 3, 3}, {3, 8, 16, 3, 16}, {3, 8, 2, 3, 2}, {2, 8, 0, 4, 4}, {1, 1, 4, 1, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.nodes << " nodes, " << c.streams << " streams, " << c.cpus << " cpus");
    backuptest::CoordinatorProbe probe;
    probe.setFrameworkServices(services);
    DistributedQEL::CClientConfigPtr config;
    ASSERT_FALSE(probe.getClientConfigObject(config).IsError());
    config->setNumberOfStreams(c.streams);
    for (int i = 0; i < c.nodes; ++i) {
      uint32_t id = 100 * (&c - cases) + i + 1;
      services->registerClient(id, "share" + std::to_string(id), "", i == 0 ? c.cpus : 0);
      ASSERT_FALSE(probe.addNode(id).IsError());
    }
    CNodeInfoPtr node = probe.getNodes()[0];
    ASSERT_FALSE(probe.getStreamReservationInfoForNode(node).IsError());
    EXPECT_EQ(node->getMaxStreamsNeeded(1), c.share);
    EXPECT_EQ(node->getNodeWorkersLimit(), c.share);
    EXPECT_EQ(node->getStreamLimit(1), c.limit);
  }
}

TEST_F(NodeStart, ArgumentLineCarriesShareLevelMediaAgentAndFirstCollectFile) {
  CNodeInfoPtr first = AddNode(11, "node1", 1);
  AddNode(12, "node2", 7);
  AddNode(13, "node3", 13);
  ASSERT_FALSE(coordinator.getStreamReservationInfoForNode(first).IsError());
  std::string arguments = "left over from before";
  ASSERT_FALSE(coordinator.getCommandArgumentsForNode(first, arguments).IsError());
  EXPECT_EQ(arguments, "-numstreams 3 -t 1 -d ma1 -collectFileStart 1");

  config_->setBackupLevel(TQBkpLevel_Incremental);
  config_->setMediaAgentName("MA1");
  config_->setNumberOfStreams(12);
  CNodeInfoPtr third = coordinator.findNodeInfoByNodeName("node3");
  Info(third)->collectFileStart = 9;
  ASSERT_FALSE(coordinator.getStreamReservationInfoForNode(third).IsError());
  ASSERT_FALSE(coordinator.getCommandArgumentsForNode(third, arguments).IsError());
  EXPECT_EQ(arguments, "-numstreams 4 -t 2 -d MA1 -collectFileStart 9");
}

// The node line is written with the quoting the controller's parser reads:
// any media agent comes back as it was, and the options after it stay.
TEST_F(NodeStart, ArgumentLineReadsBackWhateverTheMediaAgent) {
  CNodeInfoPtr node = AddNode(11, "node1", 7);
  ASSERT_FALSE(coordinator.getStreamReservationInfoForNode(node).IsError());
  for (const std::string& agent :
       {std::string("MA 1"), std::string(""), std::string("-collectFileStart"),
        std::string("--log"), std::string("a\"b\\c"), std::string("log")}) {
    SCOPED_TRACE(agent);
    config_->setMediaAgentName(agent);
    std::string arguments;
    ASSERT_FALSE(coordinator.getCommandArgumentsForNode(node, arguments).IsError());
    CProgramArgumentsPtr parsed;
    ASSERT_FALSE(CProgramArguments::Parse("-j 4711 " + arguments, parsed).IsError());
    std::string value;
    ASSERT_FALSE(parsed->getStringValue("d", value).IsError());
    EXPECT_EQ(value, agent);
    int64_t start = 0;
    ASSERT_FALSE(parsed->getNumberValue("collectFileStart", start).IsError());
    EXPECT_EQ(start, 7);
    EXPECT_FALSE(parsed->isFlagSet("log"));
  }
}

// The node's share, and so its "-numstreams", is the one its range of
// collect-file numbers was sized by: the controller then splits into exactly
// the numbers the coordinator preallocated, whatever the configured streams.
TEST_F(NodeStart, TheShareFollowsTheCollectFileRangeOnceItIsSized) {
  CNodeInfoPtr first = AddNode(11, "node1", 1);
  AddNode(12, "node2", 11);
  AddNode(13, "node3", 21);
  config_->setNumberOfStreams(3);  // 1 stream per node by the configuration
  coordinator.tasksPerNode = 10;   // 5 streams per node by the subclient
  ASSERT_FALSE(coordinator.getStreamReservationInfoForNode(first).IsError());
  EXPECT_EQ(first->getMaxStreamsNeeded(1), 5);
  EXPECT_EQ(first->getNodeWorkersLimit(), 5);
  std::string arguments;
  ASSERT_FALSE(coordinator.getCommandArgumentsForNode(first, arguments).IsError());
  EXPECT_EQ(arguments, "-numstreams 5 -t 1 -d ma1 -collectFileStart 1");
}

TEST_F(NodeStart, ArgumentLineOfANodeWithoutReservationHasNoStreams) {
  CNodeInfoPtr node = AddNode(11, "node1", 5);
  std::string arguments;
  ASSERT_FALSE(coordinator.getCommandArgumentsForNode(node, arguments).IsError());
  EXPECT_EQ(arguments, "-numstreams 0 -t 1 -d ma1 -collectFileStart 5");
}

TEST_F(NodeStart, FirstAnswerIsTheCollectFileRequestWithOptionsInOrder) {
  CNodeInfoPtr node1 = AddNode(11, "node1", 1);
  CNodeInfoPtr node2 = AddNode(12, "node2", 7);
  CNodeInfoPtr node3 = AddNode(13, "node3", 13);
  coordinator.nodeKeyspaces["node1"] = {"ks1"};
  coordinator.nodeKeyspaces["node2"] = {};
  coordinator.nodeKeyspaces["node3"] = {"ks3"};
  coordinator.jmxConfigXml = "<jmx/>";
  coordinator.authConfigXml = "<auth/>";
  coordinator.clientConfig->extentBackup = true;
  coordinator.clientConfig->extentSize = 4294967296ull;
  coordinator.clientConfig->largeFileThreshold = 1048576;
  App::CassandraNodeStatus previous;
  previous.setInstanceName("node1");
  App::CassandraKeyspaceStatus ks;
  ks.setKeyspaceName("ks1");
  ks.setStatus(1);
  previous.setKeyspaceStatuses({ks});
  std::string previousXml;
  ASSERT_EQ(previous.serialize(previousXml), 0);
  coordinator.lastStatusXml["node1"] = previousXml;
  coordinator.lastStatusXml["node2x"] = previousXml;  // another node's entry

  CassandraCreateCollectFiles request = Request(node1);
  EXPECT_EQ(request.getClusterName(), "cluster1");
  auto options = Options(request);
  ASSERT_EQ(OptionNames(request),
            (std::vector<std::string>{"CreateCollectFiles", "JMXConfig", "AuthConfig",
                                      "LastBackupStatus", "ExtentSize", "LargeFileThreshold"}));
  EXPECT_EQ(options[0].second, "y");
  EXPECT_EQ(options[1].second, "<jmx/>");
  EXPECT_EQ(options[2].second, "<auth/>");
  App::CassandraLastBackupStatus sent;
  ASSERT_EQ(sent.unserialize(options[3].second), 0);
  ASSERT_EQ(sent.getNodeStatuses().size(), 1u);
  EXPECT_EQ(sent.getNodeStatuses()[0], previous);
  EXPECT_EQ(options[4].second, "4294967296");
  EXPECT_EQ(options[5].second, "1048576");

  // The node's instance with its keyspace and tables, ids without dashes.
  auto entries = request.getNodeKeyspaces();
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_TRUE(entries[0].getNode());
  EXPECT_EQ(*entries[0].getNode(), Info(node1)->cassandraNodes[0]);
  auto keyspaces = entries[0].getKeyspaces();
  ASSERT_EQ(keyspaces.size(), 1u);
  EXPECT_EQ(keyspaces[0].getKeyspaceName(), "ks1");
  auto tables = keyspaces[0].getTables();
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].getTableName(), "t1");
  EXPECT_EQ(tables[0].getTableId(), "5a1c395eb41f11e59f22ba0be0483c18");
  EXPECT_EQ(tables[1].getTableName(), "t2");
  EXPECT_EQ(tables[1].getTableId(), "00000000000000000000000000000001");

  // The other two nodes use the cached reply: one "getMeta" for the job.
  CassandraCreateCollectFiles second = Request(node2);
  CassandraCreateCollectFiles third = Request(node3);
  EXPECT_EQ(MetaRequests(), 1u);
  EXPECT_EQ(KeyspaceNames(third.getNodeKeyspaces()[0]), std::vector<std::string>{"ks3"});
  // A node without an earlier status still gets an empty status record.
  App::CassandraLastBackupStatus none;
  ASSERT_EQ(none.unserialize(Options(second)[3].second), 0);
  EXPECT_TRUE(none.getNodeStatuses().empty());
}

TEST_F(NodeStart, WholeNodeLeavesOutSimpleStrategyUnlessTheWholeClusterIsBackedUp) {
  struct Case {
    const char* name;
    std::list<std::string> selected;
    bool fullCluster;
    bool fullNodeKey;
    std::vector<std::string> sent;
  } cases[] = {
      {"whole node", {}, false, false, {"ks1", "ks3"}},
      {"whole cluster", {}, true, false, {"ks1", "ks2", "ks3"}},
      {"one keyspace", {"ks2"}, false, false, {"ks2"}},
      {"data centre without keyspace", {"ks1"}, false, true, {"ks1", "ks2", "ks3"}},
      {"keyspace Priam does not know", {"gone"}, false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backuptest::CoordinatorProbe probe;
    probe.setFrameworkServices(services);
    DistributedQEL::CClientConfigPtr config;
    ASSERT_FALSE(probe.getClientConfigObject(config).IsError());
    probe.metaJson = kMeta;
    uint32_t id = 200 + (&c - cases);
    std::string name = "whole" + std::to_string(id);
    services->registerClient(id, name);
    ASSERT_FALSE(probe.addNode(id).IsError());
    CNodeInfoPtr node = probe.findNodeInfoByNodeName(name);
    TQCassandra::CassandraNodeInfoPtr info(new TQCassandra::CassandraNodeInfo());
    info->cassandraNodes = {CassandraNode(name, "10.0.0.9")};
    node->setCustomInfo(info);
    probe.nodeKeyspaces[name] = c.selected;
    probe.fullClusterBackup = c.fullCluster;
    if (c.fullNodeKey) probe.fullNodeKeys.push_back(name);

    FrameworkMessagePtr message;
    ASSERT_FALSE(probe.getNodeStartAcknowledgeMessage(node, message).IsError());
    auto request = RecordAs<CassandraCreateCollectFiles>(*message);
    ASSERT_TRUE(request);
    EXPECT_EQ(KeyspaceNames(request->getNodeKeyspaces()[0]), c.sent);
    // The node key's list then names every keyspace sent.
    std::set<std::string> listed(probe.nodeKeyspaces[name].begin(),
                                 probe.nodeKeyspaces[name].end());
    for (const auto& k : c.sent) EXPECT_TRUE(listed.count(k)) << k;
  }
}

TEST_F(NodeStart, RestartedNodeIsNotAskedToMakeCollectFilesAgain) {
  CNodeInfoPtr node1 = AddNode(11, "node1", 1);
  CNodeInfoPtr node2 = AddNode(12, "node2", 7);
  coordinator.taskStatusByClient[11] = "1:-1|2:0|";
  EXPECT_EQ(Options(Request(node1))[0],
            std::make_pair(std::string("CreateCollectFiles"), std::string("n")));
  EXPECT_EQ(Options(Request(node2))[0],
            std::make_pair(std::string("CreateCollectFiles"), std::string("y")));
}

TEST_F(NodeStart, CommitLogJobSendsArchiveSettingsAndNoKeyspaces) {
  CNodeInfoPtr node = AddNode(
      11, "node1", 1, 0, {CassandraNode("node1", "10.0.0.1"), CassandraNode("node1", "10.0.0.2")});
  coordinator.nodeKeyspaces["node1"] = {};
  coordinator.clientConfig->commitLogJob = true;
  coordinator.clientConfig->archiveCommand = "/bin/cp %path /archive/%name";
  coordinator.clientConfig->archiveDirectory = "/archive";
  coordinator.lastStatusXml["node1"] = "<x/>";
  CassandraCreateCollectFiles request = Request(node);
  EXPECT_EQ(Options(request), (std::vector<std::pair<std::string, std::string>>{
                                  {"CreateCollectFiles", "y"},
                                  {"CommitLogBackupCmd", "/bin/cp %path /archive/%name"},
                                  {"CommitLogBackupDir", "/archive"}}));
  auto entries = request.getNodeKeyspaces();
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& entry : entries) {
    EXPECT_TRUE(entry.getKeyspaces().empty());
    EXPECT_TRUE(entry.isSet(2));
  }
  EXPECT_EQ(entries[1].getNode()->getAddress(), "10.0.0.2");
}

TEST_F(NodeStart, ExtentOptionsFollowTheirOwnConditions) {
  struct Case {
    bool extentBackup;
    uint64_t size;
    uint64_t threshold;
    std::vector<std::pair<std::string, std::string>> tail;
  } cases[] = {
      {true, 0, 1048576, {{"LargeFileThreshold", "1048576"}}},
      {true, 65536, 0, {{"ExtentSize", "65536"}}},
      {false, 65536, 1048576, {}},
      {true,
       18446744073709551615ull,
       1,
       {{"ExtentSize", "18446744073709551615"}, {"LargeFileThreshold", "1"}}},
  };
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.extentBackup << " " << c.size << " " << c.threshold);
    coordinator.clientConfig->extentBackup = c.extentBackup;
    coordinator.clientConfig->extentSize = c.size;
    coordinator.clientConfig->largeFileThreshold = c.threshold;
    auto options = Options(Request(node));
    ASSERT_EQ(options.size(), 2 + c.tail.size());
    EXPECT_EQ(options[1].first, "LastBackupStatus");
    std::vector<std::pair<std::string, std::string>> tail(options.begin() + 2, options.end());
    EXPECT_EQ(tail, c.tail);
  }
}

TEST_F(NodeStart, ReportedNodeGetsNodeInitWhateverTheRestOfTheState) {
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  Info(node)->collectReportReceived = true;
  coordinator.metadataAvailable = false;
  coordinator.priam.reset();
  FrameworkMessagePtr message;
  ASSERT_FALSE(Acknowledge(node, message).IsError());
  ASSERT_TRUE(message);
  EXPECT_EQ(message->getNamespaceId(), DistributedQEL::NodeInit::kNamespaceId);
  EXPECT_EQ(message->getClassId(), DistributedQEL::NodeInit::kClassId);
  EXPECT_TRUE(message->fieldNumbers().empty());
}

TEST_F(NodeStart, FailedGetMetaRaisesItsEventOnceAndStopsEveryLaterRequest) {
  script->SetError("getMeta", FXErrorUtil::ErrorWin32(FXLOC, 1359, "no schema"), "busy");
  CNodeInfoPtr node1 = AddNode(11, "node1", 1);
  CNodeInfoPtr node2 = AddNode(12, "node2", 7);
  FrameworkMessagePtr message;
  CLogCapture log;
  CQiError error = Acknowledge(node1, message);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1359));
  EXPECT_FALSE(message);
  EXPECT_FALSE(coordinator.metadataAvailable);
  auto events = CEventJournal::Instance().Find(kPriamRequestFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
  EXPECT_EQ(events[0].args, std::vector<std::string>{"getMeta"});
  EXPECT_TRUE(log.Contains("Error while getting metadata from the Cassandra cluster. Error: "));

  error = Acknowledge(node2, message);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(error.GetMessage(), "Failed to get metaData from Priam. Not continuing.");
  EXPECT_FALSE(message);
  EXPECT_EQ(MetaRequests(), 1u);
  EXPECT_EQ(CEventJournal::Instance().Find(kPriamRequestFailed).size(), 1u);
}

TEST_F(NodeStart, AccessDeniedOnGetMetaRaisesTheAccessEvent) {
  script->SetAccessDenied("getMeta");
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  FrameworkMessagePtr message;
  EXPECT_TRUE(FXErrorUtil::IsWin32(Acknowledge(node, message), 5));
  EXPECT_TRUE(CEventJournal::Instance().Has(kPriamAccessDenied));
  EXPECT_FALSE(CEventJournal::Instance().Has(kPriamRequestFailed));
}

TEST_F(NodeStart, DockerInstancesOfOneClientEachGetTheirOwnEntry) {
  coordinator.dockerConfig = true;
  CNodeInfoPtr node = AddNode(11, "node1", 1, 0,
                              {CassandraNode("node1", "10.0.0.1", "node1_10.0.0.1"),
                               CassandraNode("node1", "10.0.0.2", "node1_10.0.0.2")});
  AddNode(12, "node10", 7, 0, {CassandraNode("node10", "10.0.0.3", "node10_10.0.0.3")});
  coordinator.nodeKeyspaces["node1_10.0.0.1"] = {"ks1"};
  coordinator.nodeKeyspaces["node1_10.0.0.2"] = {"ks3"};
  coordinator.nodeKeyspaces["node10_10.0.0.3"] = {"ks2"};
  for (const char* key : {"node1_10.0.0.1", "node1_10.0.0.2", "node10_10.0.0.3"}) {
    App::CassandraNodeStatus status;
    status.setInstanceName(key);
    std::string xml;
    status.serialize(xml);
    coordinator.lastStatusXml[key] = xml;
  }

  CassandraCreateCollectFiles request = Request(node);
  auto entries = request.getNodeKeyspaces();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(KeyspaceNames(entries[0]), std::vector<std::string>{"ks1"});
  EXPECT_EQ(KeyspaceNames(entries[1]), std::vector<std::string>{"ks3"});
  App::CassandraLastBackupStatus sent;
  ASSERT_EQ(sent.unserialize(Options(request)[1].second), 0);
  std::set<std::string> names;
  for (const auto& s : sent.getNodeStatuses()) names.insert(s.getInstanceName());
  EXPECT_EQ(names, (std::set<std::string>{"node1_10.0.0.1", "node1_10.0.0.2"}));

  std::vector<CassandraNodeKeyspace> list = entries;
  EXPECT_EQ(coordinator.findInstanceObjByInstance(&list, "node1_10.0.0.2"), &list[1]);
  EXPECT_EQ(coordinator.findInstanceObjByInstance(&list, "node1"), nullptr);
}

TEST_F(NodeStart, OddMetadataElementsAddNothingAndNeverThrow) {
  coordinator.metaJson = R"([
    7, "text", null,
    {"KEYSPACE":"bare"},
    {"KEYSPACE":"mixed","REPLICATION":{"class":"NetworkTopologyStrategy"},
     "Tables":[3,{"COLUMNSPACE":"t","ID":"a-b"}]}
  ])";
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  coordinator.nodeKeyspaces["node1"] = {};
  CassandraCreateCollectFiles request;
  EXPECT_NO_THROW(request = Request(node));
  auto keyspaces = request.getNodeKeyspaces()[0].getKeyspaces();
  ASSERT_EQ(keyspaces.size(), 2u);
  EXPECT_EQ(keyspaces[0].getKeyspaceName(), "bare");  // no REPLICATION: not SimpleStrategy
  EXPECT_TRUE(keyspaces[0].getTables().empty());
  EXPECT_EQ(keyspaces[1].getKeyspaceName(), "mixed");
  ASSERT_EQ(keyspaces[1].getTables().size(), 1u);
  EXPECT_EQ(keyspaces[1].getTables()[0].getTableId(), "ab");
  EXPECT_EQ(MetaRequests(), 0u);  // a cached reply is never asked again
}

// "REPLICATION" given as a JSON text holding an object is read as the object:
// a SimpleStrategy keyspace stays out of a whole-node backup either way.
TEST_F(NodeStart, ReplicationAsTextIsReadAsItsObject) {
  coordinator.metaJson = R"([
    {"KEYSPACE":"simple","REPLICATION":"{\"class\":\"org.apache.cassandra.locator.SimpleStrategy\",\"replication_factor\":\"1\"}"},
    {"KEYSPACE":"nts","REPLICATION":"{\"class\":\"NetworkTopologyStrategy\",\"dc1\":\"3\"}"}
  ])";
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  coordinator.nodeKeyspaces["node1"] = {};
  EXPECT_EQ(KeyspaceNames(Request(node).getNodeKeyspaces()[0]), std::vector<std::string>{"nts"});
}

// A keyspace whose members have an unexpected shape fails the node's start
// with the request's event, instead of being left out of the backup unseen.
TEST_F(NodeStart, MetadataOfAnUnexpectedShapeFailsTheRequest) {
  const struct {
    const char* name;
    const char* meta;
  } cases[] = {
      {"not an array", R"({"KEYSPACE":"ks1"})"},
      {"not JSON", "<html>busy</html>"},
      {"keyspace a number", R"([{"KEYSPACE":5,"Tables":[]}])"},
      {"tables an object", R"([{"KEYSPACE":"ks1","Tables":{"COLUMNSPACE":"x"}}])"},
      {"replication a number", R"([{"KEYSPACE":"ks1","REPLICATION":3}])"},
      {"replication text not an object", R"([{"KEYSPACE":"ks1","REPLICATION":"x"}])"},
      {"class a number", R"([{"KEYSPACE":"ks1","REPLICATION":{"class":7}}])"},
      {"table id a number", R"([{"KEYSPACE":"ks1","Tables":[{"COLUMNSPACE":"t","ID":1}]}])"},
  };
  CNodeInfoPtr node1 = AddNode(11, "node1", 1);
  coordinator.nodeKeyspaces["node1"] = {};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CEventJournal::Instance().Clear();
    coordinator.metadataAvailable = true;
    coordinator.metaJson = c.meta;
    FrameworkMessagePtr message;
    CQiError error = Acknowledge(node1, message);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString(2);
    EXPECT_FALSE(message);
    EXPECT_FALSE(coordinator.metadataAvailable);
    auto events = CEventJournal::Instance().Find(kPriamRequestFailed);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].args, std::vector<std::string>{"getMeta"});
  }
}

}  // namespace
