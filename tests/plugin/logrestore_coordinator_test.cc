// The point-in-time coordinator: the commit-log entries of the node start
// payload, the controllers' restart reports, and the end of the phase (which
// nodes are restarted and the status the phase ends with).

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RestoreCoordinatorFixture.h"
#include "common/RestoreRecords.h"
#include "logrestore/CassandraDockerInfo.h"
#include "logrestore/CassandraLogRestoresCoordinator.h"
#include "platform/base/QiSleep.h"
#include "platform/framework/TaskBase.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/network/TqNetworkScript.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace restoretest {
namespace {

namespace fs = std::filesystem;
using Event = CTqNetworkScript::Event;
using Pairs = std::vector<std::pair<std::string, std::string>>;

constexpr uint32_t kEvCommitLogReplayFailed = 0x600046B;
constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;
constexpr int64_t kJob = 77;

class LogProbe : public TQCassandra::CCassandraLogRestores {
 public:
  LogProbe()
      : TQDC_FileSystem::CRestore(false), CCassandraRestores(false), CCassandraLogRestores(false) {}
  using CCassandraLogRestores::dockerInfoByNode;
  using CCassandraLogRestores::nodesToRestart;
  using CCassandraLogRestores::pointInTime;
  using CCassandraRestores::destConfig;
  using CCassandraRestores::isLogRestore;
  using CCassandraRestores::nodeMap;
  using CCassandraRestores::priamUtil;
  using CCassandraRestores::recover;
  using CCassandraRestores::reloadFailed;
  using CCassandraRestores::restoreClientConfig;
  using CCassandraRestores::sourceConfig;
  using CCassandraRestores::stagePath;
  using CCassandraRestores::useSSTableLoader;
};

App::CassandraNode StoredNode(const std::string& client, uint32_t id, const std::string& address,
                              const std::string& hostId, const std::string& agentName = "") {
  App::CassandraNode node;
  TqEntities::ClientEntity entity;
  entity.setClientId(id);
  entity.setClientName(client);
  node.setClient(entity);
  node.setAddress(address);
  node.setHostId(hostId);
  node.setDataCenter("dc1");
  node.setConfigDirectory("/etc/" + client);
  node.setTokens("1");
  if (!agentName.empty()) node.setAgentInstanceName(agentName);
  return node;
}

App::CassandraDockerClientMap Entry(const std::string& client, uint32_t id) {
  App::CassandraClientMapEntity side;
  TqEntities::ClientEntity entity;
  entity.setClientId(id);
  entity.setClientName(client);
  side.setClient(entity);
  App::CassandraDockerClientMap entry;
  entry.setSource(side);
  entry.setTarget(side);
  return entry;
}

DistributedQEL::AgentStoppedStatus Status(const Pairs& values, int64_t failed = 0) {
  DistributedQEL::AgentStoppedStatus status;
  status.setFailed(failed);
  std::vector<DistributedQEL::DINameValue> list;
  for (const auto& v : values) list.emplace_back(v.first, v.second);
  if (!list.empty()) status.setValues(list);
  return status;
}

std::string StatusRows(const std::vector<std::string>& upAddresses) {
  std::string out = "[";
  for (const std::string& address : upAddresses) {
    if (out.size() > 1) out += ",";
    out += R"({"node":")" + address + R"(","nodestatus":"Up","hostid":"h-)" + address + R"("})";
  }
  return out + "]";
}

class LogCoordinatorTest : public RestoreCoordinatorTest {
 protected:
  void SetUp() override {
    RestoreCoordinatorTest::SetUp();
    previousSleep_ = CSleepHook::Set([](uint32_t) {});
    for (const char* name : {"node1", "node2", "node3"}) Client(name);
    jobResults_ = home_.Sub("coordinator1/JobResults/restore");
    fs::create_directories(jobResults_);
  }
  void TearDown() override {
    probe_.reset();
    channel_.reset();
    CSleepHook::Set(previousSleep_);
    RestoreCoordinatorTest::TearDown();
  }

  // A point-in-time coordinator of job kJob over node1..node3 of the
  // destination, with the coordinator's Priam (seed 10.0.0.1) when `priam`.
  LogProbe& Coordinator(bool recover, bool priam = true) {
    probe_.reset(new LogProbe());
    LogProbe& c = *probe_;
    c.setFrameworkServices(services_);
    c.restoreClientConfig.reset(new TQCassandra::CCassandraRestoreClientConfig());
    c.restoreClientConfig->setJobId(kJob);
    c.restoreClientConfig->setJobResultsDirectory(jobResults_);
    c.destConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    c.sourceConfig = c.destConfig;
    c.destConfig->archiveCommand = "/bin/cp -f";
    c.destConfig->clusterNodes = {StoredNode("node1", 11, "10.0.0.1", "h-10.0.0.1"),
                                  StoredNode("node2", 12, "10.0.0.2", "h-10.0.0.2"),
                                  StoredNode("node3", 13, "10.0.0.3", "h-10.0.0.3")};
    c.nodeMap = {Entry("node1", 11), Entry("node2", 12), Entry("node3", 13)};
    c.recover = recover;
    c.stagePath = "/stage/77";
    c.pointInTime = 1700000500;
    c.setJobClient(TQJobClientPtr(new TQJobClient(kJob)));
    c.setJobCtrlClient(TQJobCtrlClientPtr(new TQJobCtrlClient(kJob)));
    if (priam) {
      const std::string conf = home_.Sub("log-conf");
      simtest::WriteFile(conf + "/cassandra.yaml",
                         "cluster_name: Dest\nrpc_address: 10.0.1.1\nseed_provider:\n"
                         "  - class_name: org.apache.cassandra.locator.SimpleSeedProvider\n"
                         "    parameters:\n      - seeds: \"10.0.0.1\"\n");
      Scripted().SetReply("getMeta",
                          R"([{"KEYSPACE":"ks1","Tables":[{"COLUMNSPACE":"t1","ID":"a"}]}])");
      Scripted().SetReply("status", StatusRows({"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
      c.priamUtil.reset(
          new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base", home_.path(), conf, true));
      EXPECT_FALSE(c.priamUtil->startPriam().IsError());
    }
    return c;
  }
  std::string RefTimeFile() const { return jobResults_ + "/BackupRefTime_77"; }

  // The payload entries of node1's start message.
  Pairs Payload(LogProbe& c) {
    DistributedQEL::CNodeInfoPtr node(new DistributedQEL::CNodeInfo("node1", 11));
    FrameworkMessagePtr message;
    CQiError e = c.getNodeStartAcknowledgeMessage(node, message);
    EXPECT_FALSE(e.IsError()) << e.AsString();
    Pairs out;
    auto* init = dynamic_cast<DistributedQEL::NodeInit*>(message.get());
    if (init) {
      for (const auto& v : init->getValues()) out.emplace_back(v.getName(), v.getValue());
    }
    return out;
  }

  // Registers the clients with the framework and has them ask for a restart.
  void Restart(LogProbe& c, const std::vector<std::string>& clients) {
    for (const std::string& client : clients) {
      ASSERT_FALSE(c.addNode(client).IsError());
      ASSERT_FALSE(
          c.processMessage(Status({{"CassandraRestart", "1"}, {"NodeName", client}})).IsError());
    }
  }
  // The utility on each of these hosts reports its restart.
  void Reports(const std::vector<std::string>& clients) {
    if (!channel_) channel_.reset(new CTqNetworkScript());
    for (const std::string& client : clients) {
      channel_->Reply(client + ".sim",
                      DistributedQEL::DINameValue("CassandraServiceRestarted", "0"));
    }
  }
  std::vector<std::string> Attached() const {
    std::vector<std::string> out;
    if (!channel_) return out;
    for (const Event& e : channel_->Events(Event::kAttach)) out.push_back(e.host);
    return out;
  }
  static bool ReplayPending() {
    return CEventJournal::Instance().Has(kEvCommitLogReplayFailed, CEventJournal::kPendingCause);
  }

  std::unique_ptr<LogProbe> probe_;
  std::unique_ptr<CTqNetworkScript> channel_;
  std::string jobResults_;
  CSleepHook::Hook previousSleep_;
};

TEST_F(LogCoordinatorTest, PayloadAddsTheCommitLogEntries) {
  struct Case {
    const char* name;
    bool recover;
    const char* refTime;  // null: no file
    Pairs tail;
    int64_t pointInTime = 1700000500;
  } cases[] = {
      {"recover",
       true,
       "1699990000",
       {{"BackupReferenceTime", "1699990000"},
        {"CommitLogRestoreCmd", "/bin/cp -f"},
        {"CommitLogRestoreTime", "1700000500"}}},
      {"recover, the first line of the file",
       true,
       "1699990000\nmore\n",
       {{"BackupReferenceTime", "1699990000"},
        {"CommitLogRestoreCmd", "/bin/cp -f"},
        {"CommitLogRestoreTime", "1700000500"}}},
      {"recover, no file",
       true,
       nullptr,
       {{"BackupReferenceTime", ""},
        {"CommitLogRestoreCmd", "/bin/cp -f"},
        {"CommitLogRestoreTime", "1700000500"}}},
      {"without recover", false, "1699990000", {{"BackupReferenceTime", "1699990000"}}},
      {"five seconds after 1970: a plain number",
       true,
       "0",
       {{"BackupReferenceTime", "0"},
        {"CommitLogRestoreCmd", "/bin/cp -f"},
        {"CommitLogRestoreTime", "5"}},
       5},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    fs::remove(RefTimeFile());
    if (k.refTime) simtest::WriteFile(RefTimeFile(), k.refTime);
    LogProbe& c = Coordinator(k.recover);
    c.pointInTime = k.pointInTime;
    Pairs entries = Payload(c);
    ASSERT_GE(entries.size(), k.tail.size());
    // The restore payload comes first, the commit-log entries last.
    EXPECT_EQ(entries.front().first, "MasterNodeName");
    EXPECT_EQ(Pairs(entries.end() - k.tail.size(), entries.end()), k.tail);
    EXPECT_EQ(entries.size() - k.tail.size(), k.recover ? 4u : 3u);
  }
}

TEST_F(LogCoordinatorTest, RestartReportsNameNodesAndContainers) {
  struct Case {
    const char* name;
    Pairs values;
    int64_t failed;
    std::vector<std::string> restart;
    // node key -> "<container>|<staging location>"
    std::map<std::string, std::string> docker;
    bool reloadFailed;
  } cases[] = {
      {"restart", {{"CassandraRestart", "1"}, {"NodeName", "node1"}}, 0, {"node1"}, {}, false},
      {"no node name", {{"CassandraRestart", "1"}}, 0, {}, {}, false},
      {"no restart", {{"CassandraRestart", "0"}, {"NodeName", "node1"}}, 0, {}, {}, false},
      {"reload failed", {}, 1, {}, {}, true},
      {"two containers, an empty piece skipped",
       {{"CassandraRestart", "1"},
        {"NodeName", "node1"},
        {"DockerInfo", "k1:c1:/var/s/77####k2:c2:/var/t/77##"}},
       0,
       {"node1"},
       {{"k1", "c1|/var/s/77"}, {"k2", "c2|/var/t/77"}},
       false},
      {"a staging path keeps its colons",
       {{"DockerInfo", "k1:c1:/var/a:b##"}},
       0,
       {},
       {{"k1", "c1|/var/a:b"}},
       false},
      {"short or empty parts are refused",
       {{"DockerInfo", "k1:c1##k2##:c3:/s##k4::/s##k5:c5:##k6:c6:/s6##"}},
       0,
       {},
       {{"k6", "c6|/s6"}},
       false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    LogProbe& c = Coordinator(true, false);
    ASSERT_FALSE(c.processMessage(Status(k.values, k.failed)).IsError());
    EXPECT_EQ(std::vector<std::string>(c.nodesToRestart.begin(), c.nodesToRestart.end()),
              k.restart);
    std::map<std::string, std::string> docker;
    for (const auto& entry : c.dockerInfoByNode) {
      docker[entry.first] = entry.second->containerName + "|" + entry.second->stagingLocation;
    }
    EXPECT_EQ(docker, k.docker);
    EXPECT_EQ(c.reloadFailed, k.reloadFailed);
  }
}

TEST_F(LogCoordinatorTest, ReportedNodesAreRestartedAndTheFileRemoved) {
  simtest::WriteFile(RefTimeFile(), "1699990000");
  LogProbe& c = Coordinator(true);
  Restart(c, {"node3", "node1"});
  Reports({"node1", "node3"});
  CQiError e = c.OnComplete();
  ASSERT_FALSE(e.IsError()) << e.AsString();
  // node1 is the seed; node2 did not ask.
  EXPECT_EQ(Attached(), (std::vector<std::string>{"node1.sim", "node3.sim"}));
  EXPECT_FALSE(fs::exists(RefTimeFile()));
  EXPECT_FALSE(ReplayPending());
  EXPECT_NE(c.getJobStatus(), 3);
}

// A client that runs two destination nodes and reports once has both
// restarted, each with its own address, host id and container.
TEST_F(LogCoordinatorTest, OneReportRestartsEveryNodeOfTheClient) {
  LogProbe& c = Coordinator(true);
  c.destConfig->clusterNodes = {StoredNode("node1", 11, "10.0.0.1", "h-10.0.0.1", "cassA"),
                                StoredNode("node1", 11, "10.0.0.2", "h-10.0.0.2", "cassB")};
  ASSERT_FALSE(c.addNode("node1").IsError());
  ASSERT_FALSE(c.processMessage(Status({{"CassandraRestart", "1"},
                                        {"NodeName", "node1"},
                                        {"DockerInfo", "cassB:ctrB:/host/b/77##"}}))
                   .IsError());
  Reports({"node1", "node1"});
  CQiError e = c.OnComplete();
  ASSERT_FALSE(e.IsError()) << e.AsString();
  std::vector<Event> attach = channel_->Events(Event::kAttach);
  ASSERT_EQ(attach.size(), 2u);
  EXPECT_EQ(attach[0].command.getArguments(),
            " --cassandraConfDirectory /etc/node1 --jobId 77 --stagingPath /stage/77");
  EXPECT_EQ(attach[1].command.getArguments(),
            " --cassandraConfDirectory /etc/node1 --jobId 77 --container ctrB --stagingPath "
            "/host/b/77");
}

TEST_F(LogCoordinatorTest, NoNodeToRestartSucceedsOnlyAPhaseThatHasNotFailed) {
  struct Case {
    const char* name;
    std::function<void(LogProbe&)> setUp;
    int status;
  } cases[] = {
      {"nothing wrong", [](LogProbe&) {}, 1},
      {"a node failed its reload", [](LogProbe& c) { c.reloadFailed = true; }, 3},
      {"a node's settings could not be made (field 1 of its status)",
       [](LogProbe& c) { ASSERT_FALSE(c.processMessage(Status({}, 1)).IsError()); }, 3},
      {"a task failed",
       [](LogProbe& c) {
         DistributedQEL::TaskBasePtr task(new DistributedQEL::TaskBase());
         task->taskId = 1;
         task->status = DistributedQEL::TASK_FAILED;
         c.addTask(task);
       },
       0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    LogProbe& c = Coordinator(true);
    k.setUp(c);
    CLogCapture log;
    ASSERT_FALSE(c.OnComplete().IsError());
    EXPECT_EQ(c.getJobStatus(), k.status);
    EXPECT_EQ(log.Contains("No nodes to be restarted. Marking job success."), k.status == 1);
    EXPECT_FALSE(ReplayPending());
  }
}

TEST_F(LogCoordinatorTest, QuitFlagOrNoRestoreLeavesTheNodesAlone) {
  struct Case {
    const char* name;
    bool quit;
    bool recover;
    bool loader;
    bool fileStays;
    int status;
  } cases[] = {
      {"quit", true, true, false, true, 2},
      {"neither recover nor loader", false, false, false, false, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    simtest::WriteFile(RefTimeFile(), "1699990000");
    LogProbe& c = Coordinator(k.recover);
    c.useSSTableLoader = k.loader;
    Restart(c, {"node1"});
    if (k.quit) c.getJobCtrlClient()->setQuitFlag(true);
    channel_.reset(new CTqNetworkScript());
    ASSERT_FALSE(c.OnComplete().IsError());
    EXPECT_TRUE(Attached().empty());
    EXPECT_EQ(fs::exists(RefTimeFile()), k.fileStays);
    EXPECT_EQ(c.getJobStatus(), k.status);
  }
}

// A node that never comes Up: the others are still restarted, the phase ends
// pending with EV_COMMIT_LOG_REPLAY_FAILED.
TEST_F(LogCoordinatorTest, AFailedReplayLeavesTheJobPending) {
  LogProbe& c = Coordinator(true);
  Scripted().SetReply("status", StatusRows({"10.0.0.1", "10.0.0.3"}));
  Restart(c, {"node1", "node2", "node3"});
  Reports({"node1", "node2", "node3"});
  CLogCapture log;
  CQiError e = c.OnComplete();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString();
  EXPECT_EQ(e.GetMessage(), "Failed to restart some Cassandra nodes.");
  EXPECT_EQ(Attached(), (std::vector<std::string>{"node1.sim", "node2.sim", "node3.sim"}));
  EXPECT_EQ(c.getJobStatus(), 3);
  EXPECT_EQ(c.getStatusSetFlag(), 1);
  EXPECT_TRUE(ReplayPending());
  EXPECT_TRUE(log.Contains("Failed to replay the Commit logs on atleast node: Error ["));
  ASSERT_EQ(CEventJournal::Instance().Find(kEvNodeNotRestarted).size(), 1u);
  EXPECT_EQ(CEventJournal::Instance().Find(kEvNodeNotRestarted)[0].args,
            (std::vector<std::string>{"node2.sim"}));
}

TEST_F(LogCoordinatorTest, ANodeThatCannotBeRestartedLeavesTheJobPending) {
  struct Case {
    const char* name;
    std::function<void(LogProbe&)> setUp;
    std::vector<std::string> attached;
    uint32_t code;
    std::string event;
  } cases[] = {
      // node2 asked, but the framework has no record of its client.
      {"no node record",
       [this](LogProbe& c) {
         Restart(c, {"node1", "node3"});
         ASSERT_FALSE(c.processMessage(Status({{"CassandraRestart", "1"}, {"NodeName", "node2"}}))
                          .IsError());
       },
       {"node1.sim", "node3.sim"},
       774,
       "10.0.0.2"},
      {"a client that runs no destination node",
       [this](LogProbe& c) {
         Restart(c, {"node1"});
         ASSERT_FALSE(
             c.processMessage(Status({{"CassandraRestart", "1"}, {"NodeName", "stranger"}}))
                 .IsError());
       },
       {"node1.sim"},
       774,
       "stranger"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    channel_.reset();
    LogProbe& c = Coordinator(true);
    k.setUp(c);
    Reports({"node1", "node3"});
    CQiError e = c.OnComplete();
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, k.code)) << e.AsString();
    EXPECT_EQ(Attached(), k.attached);
    EXPECT_EQ(c.getJobStatus(), 3);
    EXPECT_TRUE(ReplayPending());
    ASSERT_EQ(CEventJournal::Instance().Find(kEvNodeNotRestarted).size(), 1u);
    EXPECT_EQ(CEventJournal::Instance().Find(kEvNodeNotRestarted)[0].args,
              (std::vector<std::string>{k.event}));
  }
}

// The sstableloader option without recover: no coordinator's Priam, so no
// node can be checked; the phase says so instead of crashing.
TEST_F(LogCoordinatorTest, ALoaderRestoreWithoutPriamIsAClearError) {
  LogProbe& c = Coordinator(false, false);
  c.useSSTableLoader = true;
  Restart(c, {"node1"});
  channel_.reset(new CTqNetworkScript());
  CQiError e = c.OnComplete();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << e.AsString();
  EXPECT_NE(e.GetMessage().find("the coordinator's Priam runs only in a restore with the recover "
                                "option"),
            std::string::npos);
  EXPECT_TRUE(Attached().empty());
  EXPECT_EQ(c.getJobStatus(), 3);
  EXPECT_TRUE(ReplayPending());
}

TEST_F(LogCoordinatorTest, RestartEntriesAreIgnored) {
  LogProbe& c = Coordinator(true, false);
  std::list<TQDC_FileSystem::RestartInfo> entries(1);
  EXPECT_FALSE(c.ProcessRestartString(entries).IsError());
  EXPECT_TRUE(c.getRestartInfo().empty());
}

}  // namespace
}  // namespace restoretest
