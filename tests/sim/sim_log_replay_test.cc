// The node utility's commit-log replay mode, started through the real
// remote-command channel on a generated cluster: the restart with the
// node's restore settings, what it replays into the tables' journals, its
// report, the "cleanup" answer putting the ".bkp" copies back, and its
// switches (never Up, Up after some checks, "false", no answer).

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/app/SuiteRegistration.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/suite/ClientContext.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimCommitLog.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimLogReplay.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"

namespace {

using TqSim::SimCommitLog;
using TqSim::SimMutation;

uint32_t Win32(uint32_t code) { return CQiError::MakeCode(CQiError::kWin32, code); }

// 2026-03-04 05:06:07 UTC in microseconds.
constexpr int64_t kPoint = 1772600767LL * 1000000;

SimMutation M(int64_t micros, const std::string& table, const std::string& value) {
  SimMutation m;
  m.timestampMicros = micros;
  m.table = table;
  m.value = value;
  return m;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class LogReplayTest : public ::testing::Test {
 protected:
  void Make(bool docker) {
    CClientContext::SetSuiteHome(home_.Sub("suite"));
    TqSim::FixtureOptions options = simtest::SmallClusterOptions(2);
    options.tablesPerKeyspace = 2;  // ks1.t1, ks1.t2, ks2.t1, ks2.t2
    options.docker = docker;
    simtest::GenerateCluster(home_.Sub("cluster"), options, cluster_);
    CSuiteRegistration registration;
    SInstanceSettings instance;
    uint64_t id = 0;
    ASSERT_FALSE(registration.registerClient("cluster1", "cluster1.sim", {}, id).IsError());
    instance.name = "cassandra1";
    instance.clientId = id;
    instance.clusterName = "TestCluster";
    for (const auto& node : cluster_.nodes) {
      uint64_t clientId = 0;
      ASSERT_FALSE(
          registration.registerClient(node.name, node.name + ".sim", {node.address}, clientId)
              .IsError());
      SNodeSettings stored;
      stored.address = node.address;
      stored.clientId = clientId;
      stored.configDirectory = node.confDir;
      instance.nodes.push_back(stored);
    }
    uint64_t instanceId = 0;
    ASSERT_FALSE(registration.registerInstance(instance, instanceId).IsError());
  }
  void TearDown() override {
    network_.reset();
    CClientContext::SetSuiteHome("");
    simtest::KillLeftChildren();
  }

  const TqSim::FixtureNode& Node(int i) const { return cluster_.nodes[i]; }
  std::string NodeDir(int i) const { return TqSim::ParentPath(Node(i).confDir); }
  // The staged logs of node i, as the host sees them.
  std::string Staged(int i) const { return NodeDir(i) + "/stage/42/#COMMITLOG#"; }

  void Stage(int i, const std::string& name, const std::vector<SimMutation>& mutations) {
    std::string error;
    ASSERT_TRUE(TqSim::MakeDirs(Staged(i), error)) << error;
    ASSERT_TRUE(SimCommitLog::WriteSegment(Staged(i) + "/" + name, mutations, error)) << error;
  }

  // The restore settings of node i, as the node controller leaves them:
  // ".bkp" copies, the restore keys and the replay list.
  void Configure(int i, const std::string& restoreDir, const std::string& point,
                 const std::string& replayList) {
    const std::string props = Node(i).confDir + "/commitlog_archiving.properties";
    const std::string env = Node(i).confDir + "/cassandra-env.sh";
    originalProps_ = simtest::ReadFile(props);
    originalEnv_ = simtest::ReadFile(env);
    simtest::WriteFile(props + ".bkp", originalProps_);
    simtest::WriteFile(env + ".bkp", originalEnv_);
    std::string text =
        Replace(originalProps_, "\nrestore_command=\n", "\nrestore_command=/bin/cp %from %to \n");
    text = Replace(text, "\nrestore_directories=\n", "\nrestore_directories=" + restoreDir + "\n");
    text = Replace(text, "\nrestore_point_in_time=\n", "\nrestore_point_in_time=" + point + "\n");
    simtest::WriteFile(props, text);
    simtest::WriteFile(
        env, originalEnv_ + "\nJVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=" + replayList + "\"\n");
  }

  // Starts the utility in its replay mode on node i's client.
  void Start(int i, const std::string& arguments) {
    CNSession::tqsExecuteRemoteCommandType command;
    command.setProgram("RoVerodaruvErad");
    command.setArguments(arguments);
    command.setWaitFlag(1);
    network_.reset(new CTqNetwork());
    bool timedOut = true;
    CQiError e = network_->Attach_RemoteCommand((Node(i).name + ".sim").c_str(), command, nullptr,
                                                "coordinator1", 30, timedOut);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    ASSERT_FALSE(timedOut);
  }
  std::string Arguments(int i, const std::string& extra = "") const {
    return " --cassandraConfDirectory " + Node(i).confDir + " --jobId 42" + extra +
           " --stagingPath " + NodeDir(i) + "/stage/42";
  }
  // The utility's report: "CassandraServiceRestarted" = <value>.
  std::string Report() {
    bool timedOut = true;
    CNMessageBasePtr message;
    CQiError e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, 30, timedOut);
    EXPECT_FALSE(e.IsError()) << e.AsString();
    if (!message) return "<none>";
    auto value = RecordAs<DistributedQEL::DINameValue>(*message);
    if (!value) return "<other record>";
    EXPECT_EQ(value->getName(), "CassandraServiceRestarted");
    return value->getValue();
  }
  // Answers "cleanup" and ends the connection; the utility ends by itself.
  void Cleanup(const std::string& value) {
    bool timedOut = true;
    CQiError e =
        network_->SendXMLMessage(DistributedQEL::DINameValue("cleanup", value), 0, -1, timedOut);
    EXPECT_FALSE(e.IsError()) << e.AsString();
    const pid_t pid = network_->ProgramPid();
    EXPECT_FALSE(network_->Disconnect(10, timedOut).IsError());
    EXPECT_FALSE(timedOut);
    EXPECT_FALSE(simtest::ProcessExists(pid));
  }
  void AddFault(const std::string& node, const std::string& action, int status = 0) {
    simtest::EditClusterFile(cluster_.clusterFile, [&](TqSim::SimCluster& c) {
      TqSim::SimFault f;
      f.when = "utility";
      f.request = "logReplay";
      f.node = node;
      f.action = action;
      f.status = status;
      c.faults.push_back(f);
    });
  }

  // What node i's tables replayed: "ks.t" -> "<job> <value>" in order.
  std::map<std::string, std::vector<std::string>> Journals(int i) {
    std::map<std::string, std::vector<std::string>> out;
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(cluster, error)) << error;
    for (const auto& ks : cluster.keyspaces) {
      for (const auto& t : ks.tables) {
        std::vector<TqSim::SimJournalEntry> entries;
        const std::string dir =
            Node(i).dataDirs.front() + "/" + ks.name + "/" + TqSim::TableDirName(t);
        EXPECT_TRUE(SimCommitLog::ReadJournal(dir, entries, error)) << error;
        for (const auto& e : entries) {
          out[ks.name + "." + t.name].push_back(std::to_string(e.jobId) + " " + e.mutation.value);
        }
      }
    }
    return out;
  }
  TqSim::SimNode NodeState(int i) {
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(cluster, error)) << error;
    return *cluster.FindNode(Node(i).address);
  }
  // node i's "nodestatus" in a "status" request to node 0's Priam.
  std::string RingStatus(int i) {
    TqSim::PriamRequestHandler priam(cluster_.clusterFile, Node(0).address);
    TqSim::SimReply reply = priam.Handle(0, "/status", "");
    EXPECT_EQ(reply.status, 200) << reply.text;
    for (const auto& row : nlohmann::json::parse(reply.text)) {
      if (row["node"] == Node(i).address) return row["nodestatus"];
    }
    return "<none>";
  }
  void ExpectCopiesPutBack(int i) {
    const std::string conf = Node(i).confDir;
    EXPECT_EQ(simtest::ReadFile(conf + "/commitlog_archiving.properties"), originalProps_);
    EXPECT_EQ(simtest::ReadFile(conf + "/cassandra-env.sh"), originalEnv_);
    EXPECT_FALSE(TqSim::IsFile(conf + "/commitlog_archiving.properties.bkp"));
    EXPECT_FALSE(TqSim::IsFile(conf + "/cassandra-env.sh.bkp"));
  }
  std::string RestartsLog() {
    return simtest::ReadFile(home_.Sub("cluster/") + TqSim::SimLogReplay::kRestartsLog);
  }

  simtest::TempDir home_;
  TqSim::FixtureResult cluster_;
  std::string originalProps_;
  std::string originalEnv_;
  std::string error_;
  std::unique_ptr<CTqNetwork> network_;
};

TEST_F(LogReplayTest, RestartReplaysTheListedTablesUpToThePointAndCleanupPutsTheCopiesBack) {
  Make(false);
  // The segments come in name order, whatever the order of writing.
  Stage(1, "CommitLog-6-20.log",
        {M(kPoint + 999, "ks1.t1", "c"), M(kPoint + 1000, "ks1.t1", "late"),
         M(kPoint, "ks2.t1", "d")});
  Stage(1, "CommitLog-6-3.log",
        {M(kPoint - 5000000, "ks1.t1", "a"), M(kPoint - 1, "ks1.t2", "other"),
         M(kPoint - 2, "ks2.t1", "b")});
  TqSim::WriteTextFile(Staged(1) + "/notes.txt", "not a segment", error_);
  Configure(1, Staged(1), "2026:3:4 5:6:7", "ks1.t1,ks2.t1");
  const auto journalsOfOtherNode = Journals(0);

  Start(1, Arguments(1));
  EXPECT_EQ(Report(), "7");
  EXPECT_EQ(NodeState(1).status, "Up");
  EXPECT_TRUE(NodeState(1).running);
  Cleanup("true");

  const auto journals = Journals(1);
  EXPECT_EQ(journals.at("ks1.t1"), (std::vector<std::string>{"42 a", "42 c"}));
  EXPECT_EQ(journals.at("ks2.t1"), (std::vector<std::string>{"42 b", "42 d"}));
  EXPECT_FALSE(journals.count("ks1.t2"));
  EXPECT_EQ(Journals(0), journalsOfOtherNode);
  ExpectCopiesPutBack(1);
  // The restored copies went from the commit-log folder; the staged logs stay.
  EXPECT_FALSE(TqSim::IsFile(Node(1).commitLogDir + "/CommitLog-6-3.log"));
  EXPECT_TRUE(TqSim::IsFile(Staged(1) + "/CommitLog-6-3.log"));
  EXPECT_EQ(RestartsLog(), "42 " + Node(1).address + " up\n");

  // A later restart with the settings put back replays nothing again.
  Start(1, Arguments(1));
  EXPECT_EQ(Report(), "7");
  Cleanup("true");
  EXPECT_EQ(Journals(1), journals);
}

TEST_F(LogReplayTest, NodeInAContainerReadsItsRestoreFolderThroughTheMounts) {
  Make(true);
  Stage(0, "CommitLog-7-5.log", {M(kPoint, "ks2.t2", "x")});
  Configure(0, "/var/lib/cassandra/stage/42/#COMMITLOG#", "", "ks2.t2");
  Start(0, Arguments(0, " --container " + Node(0).containerName));
  EXPECT_EQ(Report(), "7");
  Cleanup("true");
  EXPECT_EQ(Journals(0).at("ks2.t2"), (std::vector<std::string>{"42 x"}));
  ExpectCopiesPutBack(0);
}

// A start that fails leaves the node down and reports "false"; the copies
// go back also when the requester answers "false".
TEST_F(LogReplayTest, FailedStartsReportFalse) {
  Make(false);
  Stage(0, "CommitLog-6-1.log", {M(kPoint, "ks1.t1", "x")});
  struct Case {
    const char* name;
    std::string restoreDir;
    std::string point;
    std::string replayList;
  } cases[] = {
      {"unreadable point in time", Staged(0), "2026-03-04 05:06:07", "ks1.t1"},
      {"unknown table", Staged(0), "", "ks1.t1,ks9.t1"},
      {"missing restore folder", Staged(0) + "/gone", "", "ks1.t1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(0, c.restoreDir, c.point, c.replayList);
    Start(0, Arguments(0));
    EXPECT_EQ(Report(), "false");
    EXPECT_EQ(NodeState(0).status, "Down");
    EXPECT_FALSE(NodeState(0).running);
    Cleanup("false");
    ExpectCopiesPutBack(0);
    EXPECT_TRUE(Journals(0).empty());
  }
  // A folder no node of the client has.
  Start(0, " --cassandraConfDirectory /nowhere --jobId 42 --stagingPath /s");
  EXPECT_EQ(Report(), "false");
  Cleanup("false");
}

TEST_F(LogReplayTest, Switches) {
  Make(false);
  Stage(1, "CommitLog-6-1.log", {M(kPoint, "ks1.t1", "x")});

  // Up after two status checks: two "Down" answers, then "Up".
  AddFault(Node(1).address, "up_after", 2);
  Configure(1, Staged(1), "", "ks1.t1");
  Start(1, Arguments(1));
  EXPECT_EQ(Report(), "7");
  EXPECT_EQ(RingStatus(1), "Down");
  EXPECT_EQ(RingStatus(1), "Down");
  EXPECT_EQ(RingStatus(1), "Up");
  EXPECT_EQ(RingStatus(1), "Up");
  Cleanup("true");
  EXPECT_EQ(Journals(1).at("ks1.t1"), (std::vector<std::string>{"42 x"}));

  // Never Up: the report comes, the ring keeps the node down.
  simtest::EditClusterFile(cluster_.clusterFile, [](TqSim::SimCluster& c) { c.faults.clear(); });
  AddFault(Node(1).address, "never_up");
  Configure(1, Staged(1), "", "ks1.t1");
  Start(1, Arguments(1, ""));
  EXPECT_EQ(Report(), "7");
  for (int check = 0; check < 6; ++check) EXPECT_EQ(RingStatus(1), "Down");
  Cleanup("false");
  ExpectCopiesPutBack(1);

  // "false" without touching the node.
  simtest::EditClusterFile(cluster_.clusterFile, [](TqSim::SimCluster& c) {
    c.faults.clear();
    c.FindNode("10.0.1.2")->status = "Up";
    c.FindNode("10.0.1.2")->running = true;
  });
  AddFault("", "answer_false");
  Configure(1, Staged(1), "", "ks1.t1");
  const auto before = Journals(1);
  Start(1, Arguments(1));
  EXPECT_EQ(Report(), "false");
  EXPECT_EQ(RingStatus(1), "Up");
  Cleanup("false");
  EXPECT_EQ(Journals(1), before);

  // No answer: the connection closes without a report.
  AddFault(Node(1).address, "no_answer");
  simtest::EditClusterFile(cluster_.clusterFile, [](TqSim::SimCluster& c) {
    std::swap(c.faults.front(), c.faults.back());  // the switch of the node comes first
  });
  Start(1, Arguments(1));
  bool timedOut = true;
  CNMessageBasePtr message;
  CQiError e = network_->ReceiveXMLMessage(nullptr, message, nullptr, 0, 30, timedOut);
  EXPECT_EQ(e.GetCode(), Win32(10054));
  EXPECT_EQ(message, nullptr);
  EXPECT_FALSE(network_->Disconnect(10, timedOut).IsError());

  const std::string a = Node(1).address;
  EXPECT_EQ(RestartsLog(), "42 " + a + " up_after_2\n42 " + a + " never_up\n42 " + a +
                               " answer_false\n42 " + a + " no_answer\n");
}

}  // namespace
