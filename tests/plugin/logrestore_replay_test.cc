// The rolling restart of a point-in-time restore over a scripted
// remote-command channel and a scripted Priam: the order of the nodes, the
// utility's argument line, the status checks and their waits, the cleanup
// answers, and how one failing node leaves the others restarted.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RestoreCoordinatorFixture.h"
#include "common/RestoreRecords.h"
#include "logrestore/CassandraLogReplay.h"
#include "platform/base/QiSleep.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/network/TqNetwork.h"
#include "platform/network/TqNetworkScript.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace restoretest {
namespace {

using Event = CTqNetworkScript::Event;
using TQCassandra::CassandraLogReplay;
using TQCassandra::CassandraNodeInfoList;
using TQCassandra::CCassandraDockerInfo;
using TQCassandra::CCassandraNodeInfo;

constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;
constexpr int64_t kJob = 42;

uint32_t Win32(uint32_t code) { return CQiError::MakeCode(CQiError::kWin32, code); }

// One row of Priam's "status" reply.
std::string Row(const std::string& address, const std::string& status, const std::string& hostId) {
  return R"({"node":")" + address + R"(","nodestatus":")" + status + R"(","hostid":")" + hostId +
         R"("})";
}
std::string Rows(const std::vector<std::string>& rows) {
  std::string out = "[";
  for (const std::string& row : rows) out += (out.size() > 1 ? "," : "") + row;
  return out + "]";
}

class ReplayTest : public RestoreCoordinatorTest {
 protected:
  void SetUp() override {
    RestoreCoordinatorTest::SetUp();
    channel_.reset(new CTqNetworkScript());
    for (const char* name : {"node1", "node2", "node3"}) Client(name);
    previousSleep_ = CSleepHook::Set([this](uint32_t ms) {
      sleeps_.push_back(ms);
      if (onSleep_) onSleep_(ms);
    });
  }
  void TearDown() override {
    CSleepHook::Set(previousSleep_);
    channel_.reset();
    priam_.reset();
    for (const char* name : {"nCassandraStartWaitTime", "nCassandraRestartReportWaitTime",
                             "nCassandraStartWaitTimeOnCoordinator"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    RestoreCoordinatorTest::TearDown();
  }

  // The coordinator's Priam over the script, its seeds from cassandra.yaml.
  void WithPriam(const std::string& seeds, const std::string& status) {
    const std::string conf = home_.Sub("replay-conf");
    simtest::WriteFile(conf + "/cassandra.yaml",
                       "cluster_name: Dest\nrpc_address: 10.0.1.1\nseed_provider:\n"
                       "  - class_name: org.apache.cassandra.locator.SimpleSeedProvider\n"
                       "    parameters:\n      - seeds: \"" +
                           seeds + "\"\n");
    Scripted().SetReply("status", status);
    priam_.reset(
        new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base", home_.path(), conf, true));
    ASSERT_FALSE(priam_->startPriam().IsError());
  }

  // A node to restart, run by that client (host "<client>.sim").
  static boost::shared_ptr<CCassandraNodeInfo> Node(const std::string& client,
                                                    const std::string& ip,
                                                    const std::string& hostId,
                                                    const std::string& confDir = "/etc/cassandra") {
    boost::shared_ptr<CCassandraNodeInfo> node(new CCassandraNodeInfo());
    if (!client.empty()) {
      node->nodeInfo.reset(new DistributedQEL::CNodeInfo(client, 1, client + ".sim"));
    }
    node->ip = ip;
    node->hostId = hostId;
    node->confDir = confDir;
    return node;
  }

  void Report(const std::string& host, const std::string& value) {
    channel_->Reply(host, DistributedQEL::DINameValue("CassandraServiceRestarted", value));
  }

  CQiError Run(const CassandraNodeInfoList& nodes, TQJobCtrlClient* jobCtrl = nullptr) {
    CassandraLogReplay replay(nodes, priam_, "/stage/42", kJob, jobCtrl);
    return replay.Run();
  }

  // "<kind> <host>" per channel call; a send names its cleanup value.
  std::vector<std::string> Calls() const {
    static const char* kKinds[] = {"attach", "send", "receive", "disconnect"};
    std::vector<std::string> out;
    for (const Event& e : channel_->Events()) {
      std::string call = std::string(kKinds[e.kind]) + " " + e.host;
      if (e.kind == Event::kSend) {
        auto value = RecordAs<DistributedQEL::DINameValue>(*e.message);
        call += value ? " " + value->getName() + "=" + value->getValue() : " ?";
      }
      out.push_back(call);
    }
    return out;
  }
  std::vector<std::string> AttachedHosts() const {
    std::vector<std::string> out;
    for (const Event& e : channel_->Events(Event::kAttach)) out.push_back(e.host);
    return out;
  }
  size_t StatusChecks() const {
    size_t n = 0;
    for (const auto& r : priamScript_->AllRequests()) n += r.resource == "status";
    return n;
  }
  std::vector<std::string> NotRestartedEvents() const {
    std::vector<std::string> out;
    for (const auto& entry : CEventJournal::Instance().Find(kEvNodeNotRestarted)) {
      out.push_back(entry.args.empty() ? "" : entry.args.front());
    }
    return out;
  }
  // One node's whole exchange, ending with that cleanup answer.
  static std::vector<std::string> Exchange(const std::string& host, const std::string& cleanup) {
    return {"attach " + host, "receive " + host, "send " + host + " cleanup=" + cleanup,
            "disconnect " + host};
  }

  std::unique_ptr<CTqNetworkScript> channel_;
  boost::shared_ptr<TqCassandra::PriamUtil> priam_;
  std::vector<uint32_t> sleeps_;
  std::function<void(uint32_t)> onSleep_;
  CSleepHook::Hook previousSleep_;
};

TEST_F(ReplayTest, SeedsRestartFirstAndOnlyOnce) {
  // node3 is a seed by its address, node2 by its host name.
  WithPriam("10.0.0.3, node2.sim", Rows({Row("10.0.0.1", "Up", "h1"), Row("node2.sim", "Up", "h2"),
                                         Row("10.0.0.3", "Up", "h3")}));
  for (const char* host : {"node1.sim", "node2.sim", "node3.sim"}) Report(host, "5");
  CQiError e = Run({Node("node1", "10.0.0.1", "h1"), Node("node2", "10.0.0.2", "h2"),
                    Node("node3", "10.0.0.3", "h3")});
  ASSERT_FALSE(e.IsError()) << e.AsString();
  std::vector<std::string> expected;
  for (const char* host : {"node2.sim", "node3.sim", "node1.sim"}) {
    for (const std::string& call : Exchange(host, "true")) expected.push_back(call);
  }
  EXPECT_EQ(Calls(), expected);
  // The 60 s after each start; every node Up at its first check.
  EXPECT_EQ(sleeps_, (std::vector<uint32_t>{60000, 60000, 60000}));
  EXPECT_TRUE(NotRestartedEvents().empty());
}

TEST_F(ReplayTest, UtilityArgumentsOfPlainAndDockerNodes) {
  struct Case {
    const char* name;
    std::string confDir;
    std::string container;  // "" a plain node
    std::string hostStaging;
    std::string arguments;
  } cases[] = {
      {"plain", "/etc/cassandra", "", "",
       " --cassandraConfDirectory /etc/cassandra --jobId 42 --stagingPath /stage/42"},
      {"docker", "/etc/cassandra", "cass-1", "/var/host/stage/42",
       " --cassandraConfDirectory /etc/cassandra --jobId 42 --container cass-1 --stagingPath "
       "/var/host/stage/42"},
      {"one colon: the part before it", "/etc/cassandra:/etc/cassandra2", "", "",
       " --cassandraConfDirectory /etc/cassandra --jobId 42 --stagingPath /stage/42"},
      {"two colons: whole", "/a:/b:/c", "", "",
       " --cassandraConfDirectory /a:/b:/c --jobId 42 --stagingPath /stage/42"},
      {"a blank stays in its value", "/etc/my cassandra", "cass 1", "/host stage",
       " --cassandraConfDirectory \"/etc/my cassandra\" --jobId 42 --container \"cass 1\" "
       "--stagingPath \"/host stage\""},
  };
  WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Up", "h1")}));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    channel_.reset(new CTqNetworkScript());
    Report("node1.sim", "1");
    boost::shared_ptr<CCassandraNodeInfo> node = Node("node1", "10.0.0.1", "h1", k.confDir);
    if (!k.container.empty()) {
      node->dockerInfo.reset(new CCassandraDockerInfo{k.container, k.hostStaging});
    }
    ASSERT_FALSE(Run({node}).IsError());
    std::vector<Event> attach = channel_->Events(Event::kAttach);
    ASSERT_EQ(attach.size(), 1u);
    EXPECT_EQ(attach[0].command.getArguments(), k.arguments);
    EXPECT_EQ(attach[0].command.getProgram(), "RoVerodaruvErad");
    EXPECT_EQ(attach[0].command.getField1(), 0);
    EXPECT_EQ(attach[0].command.getWaitFlag(), 1);
    EXPECT_EQ(attach[0].command.getField5(), 0);
    EXPECT_EQ(attach[0].timeoutSecs, 120);
    EXPECT_EQ(attach[0].localClient, "coordinator1");
  }
}

TEST_F(ReplayTest, NodeNeverUpCostsSixChecksAndFiveWaits) {
  WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Down", "h1"), Row("10.0.0.2", "Up", "h2")}));
  Report("node1.sim", "7");
  Report("node2.sim", "7");
  CQiError e = Run({Node("node1", "10.0.0.1", "h1"), Node("node2", "10.0.0.2", "h2")});
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString();
  EXPECT_EQ(e.GetMessage(), "Failed to restart some Cassandra nodes.");
  // Six checks of node1, then one of node2.
  EXPECT_EQ(StatusChecks(), 7u);
  EXPECT_EQ(sleeps_, (std::vector<uint32_t>{60000, 7000, 7000, 7000, 7000, 7000, 60000}));
  std::vector<std::string> expected = Exchange("node1.sim", "false");
  for (const std::string& call : Exchange("node2.sim", "true")) expected.push_back(call);
  EXPECT_EQ(Calls(), expected);
  EXPECT_EQ(NotRestartedEvents(), (std::vector<std::string>{"node1.sim"}));
}

// The report's number sets the wait between checks; a report without one
// uses the configured wait, not 0 and not an earlier node's number.
TEST_F(ReplayTest, TheReportSetsTheWaitBetweenChecks) {
  struct Case {
    const char* name;
    std::string configured;  // "" absent
    std::string report;
    uint32_t waitMs;
  } cases[] = {
      {"a number", "", "9", 9000},
      {"zero", "", "0", 0},
      {"not a number, default", "", "soon", 30000},
      {"not a number, configured", "12", "soon", 12000},
      {"empty, configured", "12", "", 12000},
      {"negative", "12", "-5", 12000},
      {"a number beyond an hour is cut to one", "", "999999", 3600000},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SetSwitch("nCassandraStartWaitTime", k.configured);
    channel_.reset(new CTqNetworkScript());
    WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Down", "h1")}));
    // Up at the third check.
    int waits = 0;
    onSleep_ = [&](uint32_t ms) {
      if (ms != 60000 && ++waits == 2) {
        Scripted().SetReply("status", Rows({Row("10.0.0.1", "Up", "h1")}));
      }
    };
    sleeps_.clear();
    Report("node1.sim", k.report);
    CQiError e = Run({Node("node1", "10.0.0.1", "h1")});
    onSleep_ = nullptr;
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(sleeps_, (std::vector<uint32_t>{60000, k.waitMs, k.waitMs}));
    EXPECT_EQ(Calls(), Exchange("node1.sim", "true"));
  }
}

TEST_F(ReplayTest, AStatusRowCountsOnlyForTheNodesHostId) {
  struct Case {
    const char* name;
    std::string hostId;
    std::string status;
    bool up;
  } cases[] = {
      {"own host id", "h1", Rows({Row("10.0.0.1", "Up", "h1")}), true},
      {"another host id", "h1", Rows({Row("10.0.0.1", "Up", "h9")}), false},
      {"no host id known", "", Rows({Row("10.0.0.1", "Up", "h9")}), true},
      {"first matching row decides", "h1",
       Rows({Row("10.0.0.1", "Down", "h1"), Row("10.0.0.1", "Up", "h1")}), false},
      {"by host name", "h1", Rows({Row("node1.sim", "Up", "h1")}), true},
      {"not JSON", "h1", "Up", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    channel_.reset(new CTqNetworkScript());
    WithPriam("10.0.0.1", k.status);
    Report("node1.sim", "0");
    CQiError e = Run({Node("node1", "10.0.0.1", k.hostId)});
    EXPECT_EQ(e.IsError() == 0, k.up) << e.AsString();
    EXPECT_EQ(Calls(), Exchange("node1.sim", k.up ? "true" : "false"));
  }
}

// Two nodes at one address (two containers of one machine) are two nodes:
// each has its own argument line and is checked by its own host id.
TEST_F(ReplayTest, NodesAtOneAddressAreToldApartByHostId) {
  WithPriam("10.0.0.9", Rows({Row("10.0.0.5", "Up", "h1"), Row("10.0.0.5", "Down", "h2")}));
  Report("node1.sim", "0");
  Report("node2.sim", "0");
  boost::shared_ptr<CCassandraNodeInfo> docker = Node("node2", "10.0.0.5", "h2", "/etc/c2");
  docker->dockerInfo.reset(new CCassandraDockerInfo{"cass-2", "/host/stage-2"});
  CQiError e = Run({Node("node1", "10.0.0.5", "h1", "/etc/c1"), docker});
  ASSERT_TRUE(e.IsError());
  std::vector<Event> attach = channel_->Events(Event::kAttach);
  ASSERT_EQ(attach.size(), 2u);
  EXPECT_EQ(attach[0].command.getArguments(),
            " --cassandraConfDirectory /etc/c1 --jobId 42 --stagingPath /stage/42");
  EXPECT_EQ(attach[1].command.getArguments(),
            " --cassandraConfDirectory /etc/c2 --jobId 42 --container cass-2 --stagingPath "
            "/host/stage-2");
  std::vector<std::string> expected = Exchange("node1.sim", "true");
  for (const std::string& call : Exchange("node2.sim", "false")) expected.push_back(call);
  EXPECT_EQ(Calls(), expected);
}

// Whatever goes wrong with node1, node2 is still restarted, node1 is
// reported, and the replay fails with node1's error.
TEST_F(ReplayTest, AFailingNodeLeavesTheOthersRestarted) {
  struct Case {
    const char* name;
    std::function<void(CTqNetworkScript&)> script;
    std::vector<std::string> node1Calls;
    uint32_t code;
    std::string message;
  } cases[] = {
      {"launch fails",
       [](CTqNetworkScript& s) {
         s.FailLaunch("node1.sim", FXErrorUtil::ErrorWin32(FXLOC, 1067, "no such program"));
       },
       {"attach node1.sim"},
       Win32(774),
       "Failed to start CassandraUtil on node node1 for 10.0.0.1"},
      {"launch times out",
       [](CTqNetworkScript& s) { s.TimeOutLaunch("node1.sim"); },
       {"attach node1.sim"},
       Win32(774),
       "Failed to start CassandraUtil on node node1 for 10.0.0.1"},
      {"receive fails",
       [](CTqNetworkScript& s) {
         s.FailReceive("node1.sim", FXErrorUtil::ErrorWin32(FXLOC, 10054, "connection closed"));
       },
       {"attach node1.sim", "receive node1.sim", "send node1.sim cleanup=false",
        "disconnect node1.sim"},
       Win32(10054),
       "connection closed"},
      {"a record of another kind",
       [](CTqNetworkScript& s) { s.Reply("node1.sim", DistributedQEL::NodeInit()); },
       {"attach node1.sim", "receive node1.sim", "disconnect node1.sim"},
       Win32(774),
       "Failed to cast the message"},
      {"the utility reports false",
       [](CTqNetworkScript& s) {
         s.Reply("node1.sim", DistributedQEL::DINameValue("CassandraServiceRestarted", "false"));
       },
       Exchange("node1.sim", "false"), Win32(774), "Failed to restart some Cassandra nodes."},
      {"another report",
       [](CTqNetworkScript& s) {
         s.Reply("node1.sim", DistributedQEL::DINameValue("Restarted", "5"));
       },
       Exchange("node1.sim", "false"), Win32(774), "Failed to restart some Cassandra nodes."},
      {"the cleanup answer cannot be sent",
       [](CTqNetworkScript& s) {
         s.Reply("node1.sim", DistributedQEL::DINameValue("CassandraServiceRestarted", "0"));
         s.FailSend("node1.sim", FXErrorUtil::ErrorWin32(FXLOC, 10054, "broken pipe"));
       },
       {"attach node1.sim", "receive node1.sim", "send node1.sim cleanup=true",
        "disconnect node1.sim"},
       Win32(10054),
       "broken pipe"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    channel_.reset(new CTqNetworkScript());
    WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Up", "h1"), Row("10.0.0.2", "Up", "h2")}));
    k.script(*channel_);
    Report("node2.sim", "0");
    CQiError e = Run({Node("node1", "10.0.0.1", "h1"), Node("node2", "10.0.0.2", "h2")});
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetCode(), k.code) << e.AsString();
    EXPECT_EQ(e.GetMessage(), k.message);
    std::vector<std::string> expected = k.node1Calls;
    for (const std::string& call : Exchange("node2.sim", "true")) expected.push_back(call);
    EXPECT_EQ(Calls(), expected);
    EXPECT_EQ(NotRestartedEvents(), (std::vector<std::string>{"node1.sim"}));
  }
}

TEST_F(ReplayTest, ANodeWithoutRecordOrNamesIsAnErrorOfItsOwn) {
  struct Case {
    const char* name;
    boost::shared_ptr<CCassandraNodeInfo> node;
    std::string event;
    std::string message;
  };
  boost::shared_ptr<CCassandraNodeInfo> noHost(new CCassandraNodeInfo());
  noHost->nodeInfo.reset(new DistributedQEL::CNodeInfo("node3", 3, ""));
  noHost->ip = "10.0.0.3";
  const std::vector<Case> cases = {
      {"no node record", Node("", "10.0.0.1", "h1"), "10.0.0.1",
       "No node record for the client of node 10.0.0.1"},
      {"no host name", noHost, "10.0.0.3", "Failed to retrieve hostname for client node3"},
  };
  WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Up", "h1"), Row("10.0.0.2", "Up", "h2")}));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    channel_.reset(new CTqNetworkScript());
    Report("node2.sim", "0");
    CQiError e = Run({k.node, Node("node2", "10.0.0.2", "h2")});
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString();
    EXPECT_EQ(e.GetMessage(), k.message);
    EXPECT_EQ(Calls(), Exchange("node2.sim", "true"));
    EXPECT_EQ(NotRestartedEvents(), (std::vector<std::string>{k.event}));
  }
}

// The wait for a report is bounded by the registry value, awaited in slices
// of five seconds.
TEST_F(ReplayTest, TheWaitForAReportIsBounded) {
  CRegistry::Instance().Set("Cassandra", "nCassandraRestartReportWaitTime", "12");
  WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Up", "h1"), Row("10.0.0.2", "Up", "h2")}));
  for (int i = 0; i < 5; ++i) channel_->TimeOutReceive("node1.sim");
  Report("node2.sim", "0");
  CQiError e = Run({Node("node1", "10.0.0.1", "h1"), Node("node2", "10.0.0.2", "h2")});
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1460)) << e.AsString();
  EXPECT_EQ(e.GetMessage(), "No restart report from node node1 within 12 seconds");
  std::vector<std::string> expected = {"attach node1.sim",
                                       "receive node1.sim",
                                       "receive node1.sim",
                                       "receive node1.sim",
                                       "send node1.sim cleanup=false",
                                       "disconnect node1.sim"};
  for (const std::string& call : Exchange("node2.sim", "true")) expected.push_back(call);
  EXPECT_EQ(Calls(), expected);
}

// A job asked to stop ends the wait and starts no further node.
TEST_F(ReplayTest, TheQuitFlagEndsTheWaitAndTheReplay) {
  WithPriam("10.0.0.1", Rows({Row("10.0.0.1", "Up", "h1"), Row("10.0.0.2", "Up", "h2")}));
  TQJobCtrlClient jobCtrl(kJob);
  onSleep_ = [&](uint32_t) { jobCtrl.setQuitFlag(true); };
  Report("node2.sim", "0");
  CQiError e = Run({Node("node1", "10.0.0.1", "h1"), Node("node2", "10.0.0.2", "h2")}, &jobCtrl);
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1223)) << e.AsString();
  EXPECT_EQ(Calls(), (std::vector<std::string>{"attach node1.sim", "send node1.sim cleanup=false",
                                               "disconnect node1.sim"}));
  EXPECT_EQ(AttachedHosts(), (std::vector<std::string>{"node1.sim"}));
}

TEST_F(ReplayTest, AFailedSeedListRestartsNothing) {
  const std::string conf = home_.Sub("no-seeds");
  simtest::WriteFile(conf + "/cassandra.yaml", "cluster_name: Dest\n");
  Scripted();
  priam_.reset(new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base", home_.path(), conf, true));
  ASSERT_FALSE(priam_->startPriam().IsError());
  CQiError e = Run({Node("node1", "10.0.0.1", "h1")});
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(channel_->Events().empty());
}

}  // namespace
}  // namespace restoretest
