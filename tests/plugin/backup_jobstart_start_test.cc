// The backup coordinator's job start over the Priam stand-in: collect-file
// ranges and the process-wide counter, the stream share, the mapping file of
// a restarted job, the commit-log check before Priam, the failures of the
// start-up steps, and a phase that registers no node.

#include <fstream>

#include "BackupJobStartFixture.h"
#include "common/BackupRecords.h"
#include "platform/app/CassandraInstance.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/suite/Base64.h"

namespace jobstart {
namespace {

class JobStart : public JobStartTest {
 protected:
  // A generated one-DC cluster, one client per node, the instance and a
  // whole-cluster subclient of `maxStreams` streams.
  uint64_t ThreeNodeWholeCluster(int maxStreams = 8) {
    Generate(Options(3));
    NodeClients();
    Instance(ClusterInstance());
    return Subclient({WholeCluster()}, maxStreams);
  }

  std::vector<int> Starts() const {
    std::vector<int> starts;
    for (const auto& r : Registered()) starts.push_back(r.collectFileStart);
    return starts;
  }
};

// The collect-file numbers of a process begin at 1, and a second phase of
// the same process continues after the first. Run in a process of its own
// by FreshProcessNumbersFromOne.
TEST_F(JobStart, DISABLED_InFreshProcess) {
  uint64_t subclient = ThreeNodeWholeCluster(8);
  {
    CLogCapture log;
    CoordinatorProbe& first = Coordinator(subclient);
    CQiError e = first.loadNodeConfiguration();
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    EXPECT_EQ(RegisteredNames(), (std::vector<std::string>{"node1", "node2", "node3"}));
    EXPECT_EQ(Starts(), (std::vector<int>{1, 7, 13}));
    EXPECT_EQ(first.nextTaskId, 20u);  // one number apart from the ranges
    EXPECT_EQ(first.tasksPerNode, 6u);
    EXPECT_EQ(first.config()->getLastCollectFileNumber(), 18u);
    EXPECT_TRUE(log.Contains("Assigning 3 streams to each node"));
  }
  CoordinatorProbe& second = Coordinator(subclient);
  CQiError e = second.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_EQ(Starts(), (std::vector<int>{20, 26, 32}));
  EXPECT_EQ(second.nextTaskId, 39u);
}

TEST_F(JobStart, FreshProcessNumbersFromOne) {
  std::string text;
  EXPECT_TRUE(simtest::RunOwnTestInFreshProcess("JobStart.DISABLED_InFreshProcess",
                                                home_.Sub("fresh.txt"), text))
      << text;
}

// In this process other phases may have run before: the numbers are
// compared with the first node's.
TEST_F(JobStart, ThreeNodesShareEightStreamsAndTheNextPhaseContinues) {
  uint64_t subclient = ThreeNodeWholeCluster(8);
  CLogCapture log;
  CoordinatorProbe& first = Coordinator(subclient);
  CQiError e = first.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  std::vector<int> starts = Starts();
  ASSERT_EQ(starts.size(), 3u);
  const int s = starts[0];
  EXPECT_GE(s, 1);
  EXPECT_EQ(starts, (std::vector<int>{s, s + 6, s + 12}));
  EXPECT_EQ(first.nextTaskId, static_cast<uint32_t>(s + 19));  // one apart from the ranges
  EXPECT_EQ(first.tasksPerNode, 6u);
  EXPECT_EQ(first.config()->getLastCollectFileNumber(), static_cast<uint32_t>(s + 17));
  EXPECT_TRUE(log.Contains("Assigning 3 streams to each node"));
  EXPECT_TRUE(log.Contains("Assigned collect file ID " + std::to_string(s + 6) + " to node node2"));
  EXPECT_TRUE(first.taskStatusByClient.empty());
  EXPECT_EQ(first.config()->clientId, static_cast<int64_t>(clientIds_["cluster1"]));
  // The coordinator's Priam runs, and the cluster's name and version are
  // kept on the configuration and the instance.
  ASSERT_TRUE(first.priam);
  EXPECT_TRUE(first.priam->getIsConnected());
  EXPECT_EQ(first.config()->clusterName, "TestCluster");
  std::string version;
  CassandraInstance(instanceId_).getVersion(version);
  EXPECT_EQ(version, "3.11.4");

  CoordinatorProbe& second = Coordinator(subclient);
  e = second.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_EQ(Starts(), (std::vector<int>{s + 19, s + 25, s + 31}));
  EXPECT_EQ(second.nextTaskId, static_cast<uint32_t>(s + 38));
}

struct ShareCase {
  int nodes;
  int maxStreams;
  int perNode;
};

void PrintTo(const ShareCase& c, std::ostream* os) {
  *os << c.nodes << " nodes, " << c.maxStreams << " streams";
}

class StreamShare : public JobStart, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(StreamShare, IsTheMaximumOverTheNodesRoundedUp) {
  const ShareCase& c = GetParam();
  Generate(Options(c.nodes));
  NodeClients();
  Instance(ClusterInstance());
  uint64_t subclient = Subclient({WholeCluster()}, c.maxStreams);
  CLogCapture log;
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_TRUE(log.Contains("Assigning " + std::to_string(c.perNode) + " streams to each node"));
  EXPECT_EQ(coordinator.tasksPerNode, static_cast<uint32_t>(2 * c.perNode));
  std::vector<int> starts = Starts();
  ASSERT_EQ(starts.size(), static_cast<size_t>(c.nodes));
  for (size_t i = 1; i < starts.size(); ++i) {
    EXPECT_EQ(starts[i], starts[0] + 2 * c.perNode * static_cast<int>(i));
  }
  EXPECT_EQ(coordinator.nextTaskId, static_cast<uint32_t>(starts[0] + 2 * c.perNode * c.nodes + 1));

  // Each node is then given the same share as its "-numstreams", whatever
  // the framework's configured streams: its controller splits its collect
  // files into exactly the numbers the coordinator preallocated.
  coordinator.config()->setNumberOfStreams(100);
  for (DistributedQEL::CNodeInfoPtr node : coordinator.getNodes()) {
    ASSERT_FALSE(coordinator.getStreamReservationInfoForNode(node).IsError());
    std::string arguments;
    ASSERT_FALSE(coordinator.getCommandArgumentsForNode(node, arguments).IsError());
    EXPECT_EQ(arguments.rfind("-numstreams " + std::to_string(c.perNode) + " -t ", 0), 0u)
        << arguments;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StreamShare,
                         ::testing::Values(ShareCase{1, 4, 4}, ShareCase{2, 5, 3},
                                           ShareCase{3, 1, 1}, ShareCase{4, 9, 3}));

TEST_F(JobStart, MappingFileOfARestartedJobGivesBackEachNodesStart) {
  uint64_t subclient = ThreeNodeWholeCluster(8);
  const uint64_t node2 = clientIds_["node2"];
  const uint64_t node3 = clientIds_["node3"];
  simtest::WriteFile(MappingFile(), "  " + std::to_string(node2) +
                                        " 5:-1|6:0|7:0|\n"
                                        "\n"
                                        "99\n"
                                        "98 1:0| extra\n" +
                                        std::to_string(node3) + " 40:0|41:-1|\t\n" +
                                        std::to_string(node2) + " 77:0|\n");
  CLogCapture log;
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);

  std::vector<int> starts = Starts();
  ASSERT_EQ(starts.size(), 3u);
  const int s = starts[0];
  // The node new to the rerun takes numbers after every recorded one.
  EXPECT_GT(s, 77);
  EXPECT_EQ(starts, (std::vector<int>{s, 5, 40}));
  // Every node's range is still reserved.
  EXPECT_EQ(coordinator.nextTaskId, static_cast<uint32_t>(s + 19));
  EXPECT_EQ(coordinator.taskStatusByClient, (std::unordered_map<uint32_t, std::string>{
                                                {static_cast<uint32_t>(node2), "5:-1|6:0|7:0|"},
                                                {static_cast<uint32_t>(node3), "40:0|41:-1|"}}));
  EXPECT_TRUE(log.Contains("Assigned collect file ID 5 to node node2 from mapping file"));
  // The node's controller is started with the number it had.
  DistributedQEL::CNodeInfoPtr node2Info = coordinator.findNodeInfoByNodeName("node2");
  std::string arguments;
  ASSERT_FALSE(coordinator.getCommandArgumentsForNode(node2Info, arguments).IsError());
  EXPECT_NE(arguments.find("-collectFileStart 5"), std::string::npos) << arguments;
  EXPECT_TRUE(log.Contains("Reading from mapping file " + MappingFile()));
}

// The instance's gateway and JMX settings reach the configuration and the
// coordinator's Priam: its property set and its JVM options.
TEST_F(JobStart, InstanceSettingsReachTheConfigurationAndPriam) {
  Scripted().SetReply("status", "[" + StatusRow("10.0.1.1", "dc1") + "]");
  Client("node1", {"10.0.1.1"});
  SInstanceSettings settings = ClusterInstance();
  settings.gatewayHost = "10.0.1.1";
  settings.gatewayCqlPort = 9142;
  settings.gatewayUser = "cassandra";
  settings.gatewayPassword = "cql-secret";
  SJmxSettings jmx;
  jmx.host = "10.0.1.1";
  jmx.port = 7199;
  jmx.service = "jmxrmi";
  jmx.user = "monitor";
  jmx.password = "jmx-secret";
  settings.jmx = jmx;
  Instance(settings);
  uint64_t subclient = Subclient({WholeCluster()});
  CRegistry::Instance().Set("Cassandra", "nCassandraRemoteJMXEnabled", "1");
  CLogCapture log;
  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  CRegistry::Instance().Remove("Cassandra", "nCassandraRemoteJMXEnabled");
  ASSERT_FALSE(e.IsError()) << e.AsString(2);

  const auto& config = *coordinator.config();
  EXPECT_EQ(config.gatewayHost, "10.0.1.1");
  EXPECT_EQ(config.gatewayCqlPort, 9142u);
  EXPECT_EQ(config.gatewayUser, "cassandra");
  EXPECT_EQ(config.gatewayPassword, base64Encode(std::string("cql-secret")));
  EXPECT_EQ(config.jmxHost, "10.0.1.1");
  EXPECT_EQ(config.jmxPort, 7199u);
  EXPECT_EQ(config.jmxUser, "monitor");
  EXPECT_EQ(config.jmxPassword, base64Encode(std::string("jmx-secret")));
  EXPECT_EQ(config.jmxService, "jmxrmi");
  EXPECT_EQ(config.javaHome, settings.javaHome);
  EXPECT_TRUE(log.Contains("Gateway properties: 10.0.1.1 9142 cassandra 10.0.1.1 7199"));

  TqCassandra::ScriptedPriam::Session session = Scripted().LastSession();
  EXPECT_EQ(session.properties["priam.cqlusername"], "cassandra");
  EXPECT_EQ(session.properties["priam.cqluserpassword"], config.gatewayPassword);
  EXPECT_EQ(session.properties["priam.jmx.user"], "monitor");
  EXPECT_EQ(session.properties["priam.jmx.token"], config.jmxPassword);
  ASSERT_EQ(session.starts.size(), 1u);
  EXPECT_EQ(session.starts[0].jvmOptions, " -Dpriam.jmx.host=10.0.1.1");
  EXPECT_EQ(session.starts[0].javaPath, settings.javaHome + "/java");
  EXPECT_EQ(session.context.confLocation, settings.cassandraConfigFile);
}

TEST_F(JobStart, UnreadableMappingFileFailsTheStart) {
  uint64_t subclient = ThreeNodeWholeCluster(8);
  ASSERT_TRUE(std::filesystem::create_directories(MappingFile()));
  CQiError e = Coordinator(subclient).loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString(2);
  EXPECT_NE(e.AsString(2).find("Failed to read from the mapping file"), std::string::npos);
}

TEST_F(JobStart, CommitLogJobNeedsCommitLogBackupOnTheInstance) {
  Generate(Options(3));
  NodeClients();
  SInstanceSettings settings = ClusterInstance();
  settings.enableCommitLogBackup = false;
  Instance(settings);
  uint64_t subclient = Subclient({WholeCluster()});
  CLogCapture log;
  CoordinatorProbe& coordinator = Coordinator(subclient, "log");
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsEvent(e, kEvCommitLogNotConfigured)) << e.AsString(2);
  EXPECT_TRUE(coordinator.commitLogNotConfigured);
  EXPECT_TRUE(
      log.Contains("Commit log backup is not configured at the instance level. Failing "
                   "the job"));
  // Nothing further ran: no Priam, no node.
  EXPECT_FALSE(coordinator.priam);
  EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());
  EXPECT_TRUE(coordinator.getNodes().empty());
  EXPECT_TRUE(App_ExecuteSP::Calls().empty());
}

TEST_F(JobStart, CommitLogJobTakesTheInstancesArchiveSettings) {
  Generate(Options(3));
  NodeClients();
  SInstanceSettings settings = ClusterInstance();
  settings.enableCommitLogBackup = true;
  settings.archiveLogPath = "/archive/commitlog";
  settings.archiveCommand = "/usr/local/bin/archive-segment";
  Instance(settings);
  uint64_t subclient = Subclient({WholeCluster()});
  CoordinatorProbe& coordinator = Coordinator(subclient, "log");
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  EXPECT_FALSE(coordinator.commitLogNotConfigured);
  EXPECT_EQ(coordinator.config()->archiveDirectory, "/archive/commitlog");
  EXPECT_EQ(coordinator.config()->archiveCommand, "/usr/local/bin/archive-segment");
}

TEST_F(JobStart, PreviousStatusIsKeptPerInstanceName) {
  uint64_t subclient = ThreeNodeWholeCluster(8);
  auto status = [](const std::string& name, const std::string& keyspace) {
    App::CassandraKeyspaceStatus ks;
    ks.setKeyspaceName(keyspace);
    ks.setStatus(1);
    App::CassandraNodeStatus node;
    node.setInstanceName(name);
    node.setKeyspaceStatuses({ks});
    return node;
  };
  App::CassandraLastBackupStatus last;
  last.setNodeStatuses({status("node1", "ks1"), status("node2", "ks2"), status("node1", "ks9")});
  std::string xml;
  ASSERT_EQ(last.serialize(xml), 0);
  ASSERT_FALSE(CassandraSubclient(subclient).setBackedupContentXML(xml).IsError());

  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  ASSERT_EQ(coordinator.lastStatusXml.size(), 2u);
  App::CassandraNodeStatus kept;
  ASSERT_EQ(kept.unserialize(coordinator.lastStatusXml["node1"]), 0);
  ASSERT_EQ(kept.getKeyspaceStatuses().size(), 1u);
  EXPECT_EQ(kept.getKeyspaceStatuses()[0].getKeyspaceName(), "ks1");
}

// A step that fails ends the start with its error and its event, once.
TEST_F(JobStart, FailuresOfTheStartUpSteps) {
  Generate(Options(3));
  NodeClients();
  uint64_t instanceId = Instance(ClusterInstance());
  uint64_t subclient = Subclient({WholeCluster()});

  {
    SCOPED_TRACE("no application ids");
    CoordinatorProbe& coordinator = Coordinator(subclient);
    coordinator.config()->setApplicationId(0);
    CQiError e = coordinator.loadNodeConfiguration();
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString(2);
    EXPECT_NE(
        e.AsString(2).find("Failed to initialize Cassandra client/instance/subclient objects"),
        std::string::npos);
  }
  {
    SCOPED_TRACE("Priam does not start");
    EditCluster([](TqSim::SimCluster& c) {
      c.faults = {{"start", "", "", "exit", 3, "Unable to load cassandra.yaml"}};
    });
    CEventJournal::Instance().Clear();
    CQiError e = Coordinator(subclient).loadNodeConfiguration();
    EXPECT_TRUE(e.IsError());
    EXPECT_EQ(Events(kEvPriamStartFailed).size(), 1u);
    EXPECT_TRUE(coordinator_->getNodes().empty());
  }
  {
    SCOPED_TRACE("clusterDetails fails");
    EditCluster([](TqSim::SimCluster& c) {
      c.faults = {{"request", "clusterDetails", "", "fail", 500, "boom"}};
    });
    CEventJournal::Instance().Clear();
    CQiError e = Coordinator(subclient).loadNodeConfiguration();
    EXPECT_TRUE(e.IsError());
    auto events = Events(kEvPriamRequestFailed);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(events[0].size(), 2u);
    EXPECT_EQ(events[0][0], "clusterDetails");
    EXPECT_NE(events[0][1].find(": boom"), std::string::npos) << events[0][1];
    EXPECT_TRUE(coordinator_->getNodes().empty());
  }
  {
    SCOPED_TRACE("no configuration file");
    EditCluster([](TqSim::SimCluster& c) { c.faults.clear(); });
    SInstanceSettings settings = ClusterInstance();
    settings.id = instanceId;
    settings.cassandraConfigFile.clear();
    Instance(settings);
    CRegistry::Instance().Remove("Cassandra", "sCassandraiConfigFilePath");
    CoordinatorProbe& coordinator = Coordinator(subclient);
    CQiError e = coordinator.loadNodeConfiguration();
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << e.AsString(2);
    EXPECT_NE(e.AsString(2).find("Cassandra config file path is not set"), std::string::npos);
    EXPECT_FALSE(coordinator.priam);

    // The registry's file stands in for the instance's.
    CRegistry::Instance().Set("Cassandra", "sCassandraiConfigFilePath",
                              cluster_.nodes[1].confDir + "/cassandra.yaml");
    CoordinatorProbe& second = Coordinator(subclient);
    e = second.loadNodeConfiguration();
    CRegistry::Instance().Remove("Cassandra", "sCassandraiConfigFilePath");
    EXPECT_FALSE(e.IsError()) << e.AsString(2);
    EXPECT_EQ(second.config()->cassandraConfigFile, cluster_.nodes[1].confDir + "/cassandra.yaml");
  }
}

// A phase that registers no node has no one to share the streams with: it
// ends with an error naming the cause, and reserves and reads nothing.
TEST_F(JobStart, NoNodeRegisteredEndsThePhaseWithAClearError) {
  Generate(Options(3));
  NodeClients();
  Instance(ClusterInstance());
  SContentRow empty;  // none of the three fields
  struct Case {
    const char* name;
    std::vector<SContentRow> content;
    bool allDown;
  } cases[] = {
      {"every node down, whole cluster", {WholeCluster()}, true},
      {"a row without fields", {empty}, false},
  };
  CoordinatorProbe& before = Coordinator(Subclient({WholeCluster()}));
  ASSERT_FALSE(before.loadNodeConfiguration().IsError());
  const uint32_t next = before.nextTaskId;
  // A mapping file that would be read if the start went on.
  simtest::WriteFile(MappingFile(), std::to_string(clientIds_["node1"]) + " 3:0|\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EditCluster([&](TqSim::SimCluster& cluster) {
      for (auto& n : cluster.nodes) n.status = c.allDown ? "Down" : "Up";
    });
    CEventJournal::Instance().Clear();
    uint64_t subclient = Subclient(c.content);
    CoordinatorProbe& coordinator = Coordinator(subclient);
    CQiError e = coordinator.loadNodeConfiguration();
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627)) << e.AsString(2);
    EXPECT_NE(e.AsString(2).find("No Cassandra node could be registered"), std::string::npos);
    EXPECT_TRUE(coordinator.getNodes().empty());
    EXPECT_TRUE(coordinator.taskStatusByClient.empty());
    EXPECT_EQ(coordinator.nextTaskId, 0u);
    EXPECT_EQ(coordinator.tasksPerNode, 0u);
    EXPECT_EQ(coordinator.config()->getLastCollectFileNumber(), 0u);
    EXPECT_FALSE(coordinator.noBackupContent);
    EXPECT_FALSE(CEventJournal::Instance().Has(kEvNoBackupContent));
    EXPECT_EQ(Events(kEvNodeSkipped).size(), c.allDown ? 3u : 0u);
  }
  // No collect-file numbers were reserved.
  std::filesystem::remove(MappingFile());
  EditCluster([](TqSim::SimCluster& cluster) {
    for (auto& n : cluster.nodes) n.status = "Up";
  });
  ASSERT_FALSE(Coordinator(Subclient({WholeCluster()})).loadNodeConfiguration().IsError());
  ASSERT_FALSE(Registered().empty());
  EXPECT_EQ(Registered().front().collectFileStart, static_cast<int>(next));
}

}  // namespace
}  // namespace jobstart
