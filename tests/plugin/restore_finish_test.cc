// The restore controller's end on the node: keyspaces learnt from tasks, the
// ownership command line, the in-place bring-up and refresh, the failed
// reload status, and the Priams stopped at the end in every mode.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "RestoreFinishFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/TqProcess.h"

namespace finishtest {
namespace {

using Keyspaces = std::map<std::string, std::list<std::string>>;

Keyspaces KeyspacesOf(const FinishProbe& controller) {
  return Keyspaces(controller.keyspacesByInstance.begin(), controller.keyspacesByInstance.end());
}

// ---------------------------------------------------------------- OnTask

TEST_F(RestoreFinishTest, TaskPathsRecordEachKeyspaceOnceUnderItsInstance) {
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks1/tab1", "/c1/dc1/nodeA/ks1/tab2",
                     "/c1/dc1/nodeA/#COMMITLOG#", "/c1/dc1/nodeA/#COMMITLOG#/CommitLog-1.log",
                     "/c1/dc1/nodeA", "/c1/dc1/nodeB/ks2", "/c1/dc1/nodeA/ks3/tab1/f-Data.db"})
                   .IsError());
  EXPECT_EQ((Keyspaces{{"nodeA", {"ks1", "ks3"}}, {"nodeB", {"ks2"}}}), KeyspacesOf(*controller_));
  EXPECT_TRUE(controller_->taskReceived);
  // A second task of the same keyspaces adds nothing.
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks3/tab9"}).IsError());
  EXPECT_EQ((std::list<std::string>{"ks1", "ks3"}), controller_->keyspacesByInstance["nodeA"]);
}

TEST_F(RestoreFinishTest, WithoutRecoverTasksRecordNoKeyspaceButAreReceived) {
  controller_->recover = false;
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks1/tab1"}).IsError());
  EXPECT_TRUE(controller_->keyspacesByInstance.empty());
  EXPECT_TRUE(controller_->taskReceived);
}

TEST_F(RestoreFinishTest, KeyspacesAreKeptUnderTheTargetTheSourceIsRestoredTo) {
  // One source with an agent instance name onto a target with one, one
  // source known by its client onto this machine's client; a source no
  // mapping names keeps its own name.
  AddMapping(Node("srcA", "srcA_10.0.0.1"), Node("host1", "host1_10.0.1.1"));
  AddMapping(Node("srcB", ""), Node("host1", ""));
  ASSERT_FALSE(
      Task({"/c1/dc1/srcA_10.0.0.1/ks1/t", "/c1/dc1/srcB/ks2/t", "/c1/dc1/srcC/ks3/t"}).IsError());
  EXPECT_EQ((Keyspaces{{"host1_10.0.1.1", {"ks1"}}, {"host1", {"ks2"}}, {"srcC", {"ks3"}}}),
            KeyspacesOf(*controller_));
}

TEST_F(RestoreFinishTest, NamesThatAreNoKeyspaceNeverReachTheRefresh) {
  ASSERT_FALSE(Task({"/c1/dc1/nodeA/ks1&x=1/t", "/c1/dc1/nodeA/a,b/t", "/c1/dc1/nodeA//t",
                     "/c1/dc1/nodeA/good_1/t"})
                   .IsError());
  EXPECT_EQ((Keyspaces{{"nodeA", {"good_1"}}}), KeyspacesOf(*controller_));
}

// ---------------------------------------------------------- chown line

TEST(RestoreChownCommand, EveryPartIsQuotedForTheShell) {
  struct Case {
    std::string user, group, directory, command;
  } cases[] = {
      {"cassandra", "cassandra", "/var/lib/cassandra/data",
       " chown -R cassandra:cassandra /var/lib/cassandra/data"},
      {"cass user", "grp", "/data/my dir", " chown -R 'cass user':grp '/data/my dir'"},
      {"$(reboot)", "g`id`", "/d/it's", " chown -R '$(reboot)':'g`id`' '/d/it'\\''s'"},
      {"u;rm -rf /", "g", "/d;ls", " chown -R 'u;rm -rf /':g '/d;ls'"},
  };
  for (const Case& c : cases) {
    std::string command = "stale";
    EXPECT_FALSE(TQCassandra::CCassandraRestoreController::MakeChownCommand(c.user, c.group,
                                                                            c.directory, command)
                     .IsError())
        << c.user;
    EXPECT_EQ(c.command, command);
  }
}

TEST(RestoreChownCommand, TheShellHandsChownExactlyTheThreeArguments) {
  // A "chown" first on PATH that prints its arguments, one a line.
  simtest::TempDir bin;
  simtest::WriteScript(bin.Sub("chown"), "for a in \"$@\"; do printf '%s\\n' \"$a\"; done");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (bin.path() + ":" + oldPath).c_str(), 1);
  struct Case {
    std::string user, group, directory;
  } cases[] = {
      {"cass user", "g`id`", "/d/it's here"},
      {"$(touch " + bin.Sub("owned") + ")", "g;id", "/d/$HOME/*"},
  };
  for (const Case& c : cases) {
    std::string command, out, err;
    ASSERT_FALSE(TQCassandra::CCassandraRestoreController::MakeChownCommand(c.user, c.group,
                                                                            c.directory, command)
                     .IsError());
    EXPECT_EQ(0, TqProcess::system(command.c_str(), out, err, 0, false)) << err;
    EXPECT_EQ("-R\n" + c.user + ":" + c.group + "\n" + c.directory + "\n", out);
  }
  ::setenv("PATH", oldPath.c_str(), 1);
  EXPECT_FALSE(fs::exists(bin.Sub("owned")));
}

TEST(RestoreChownCommand, PartsThatCannotBeQuotedSafelyAreRefused) {
  struct Case {
    std::string user, group, directory;
  } cases[] = {
      {"", "g", "/d"},         {"u", "", "/d"},        {"-R", "g", "/d"},
      {"u", "--from=x", "/d"}, {"u:x", "g", "/d"},     {"u", "g:x", "/d"},
      {"u\nrm", "g", "/d"},    {"u", "g", ""},         {"u", "g", "data"},
      {"u", "g", "-R"},        {"u", "g", "/d\n/etc"}, {"u", "g", std::string("/d\0x", 4)},
  };
  for (const Case& c : cases) {
    std::string command = "stale";
    CQiError e = TQCassandra::CCassandraRestoreController::MakeChownCommand(c.user, c.group,
                                                                            c.directory, command);
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << c.user << ":" << c.group << " " << c.directory;
    EXPECT_EQ("", command);
  }
}

// ---------------------------------------------------------- ownership

TEST_F(RestoreFinishTest, OwnerComesFromTheRegistryUserThenItsGroup) {
  struct Case {
    const char* user;   // null: absent
    const char* group;  // null: absent
    std::string owner;
  } cases[] = {
      {nullptr, nullptr, "cassandra:cassandra"},
      {"U", nullptr, "U:cassandra"},
      {nullptr, "G", "cassandra:cassandra"},
      {"U", "G", "U:G"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    if (c.user) CRegistry::Instance().Set("Cassandra", "sCassOSUser", c.user);
    if (c.group) CRegistry::Instance().Set("Cassandra", "sCassOSGroup", c.group);
    AddTarget("host1");
    controller_->taskReceived = true;
    controller_->useSSTableLoader = true;
    controller_->hostStagingPath["host1"] = "/stage/77";
    CRegistry::Instance().Set("Cassandra", "nKeepCassandraStagingPath", "1");
    fs::create_directories(controller_->restoreResultsDirectory());
    controller_->OnAgentStopped();
    EXPECT_EQ(std::vector<std::string>{" chown -R " + c.owner + " /stage/77"}, Commands());
    TearDown();
  }
}

TEST_F(RestoreFinishTest, OwnershipGoesToTheDataDirectoryOrTheStaging) {
  struct Case {
    bool loader;
    bool hostStaging;
    std::string directory;
  } cases[] = {
      {false, true, "data"},
      {true, true, "/host/stage/77"},
      {true, false, "/stage/77"},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    const std::string conf = AddTarget("host1");
    AddMapping(Node("host1", ""), Node("host1", ""));
    controller_->taskReceived = true;
    controller_->useSSTableLoader = c.loader;
    controller_->stagePath = "/stage/77";
    if (c.hostStaging) controller_->hostStagingPath["host1"] = "/host/stage/77";
    fs::create_directories(controller_->restoreResultsDirectory());
    controller_->OnAgentStopped();
    const std::string dir =
        c.directory == "data" ? controller_->dataDirsByTarget["host1"].front() : c.directory;
    EXPECT_EQ(std::vector<std::string>{" chown -R cassandra:cassandra " + dir}, Commands());
    // A loader restore refreshes nothing; in place the refresh follows.
    const std::vector<std::string> resources =
        c.loader ? std::vector<std::string>() : std::vector<std::string>{"refresh"};
    EXPECT_EQ(resources, ResourcesOf(conf));
    EXPECT_EQ(1, SessionOf(conf).stops);
    EXPECT_EQ(5000u, sleeps_->Sleeps().front());
    TearDown();
  }
}

TEST_F(RestoreFinishTest, FailedOwnershipIsReportedAndTheNodeStillFinishes) {
  CProcessScript script;  // answers instead of the fixture's script
  script.Add(CProcessScript::kPrefix, " chown -R ",
             CProcessScript::Answer{"", "chown: invalid user", 1});
  const std::string conf = AddTarget("host1");
  AddMapping(Node("host1", ""), Node("host1", ""));
  controller_->taskReceived = true;
  CLogCapture log;
  controller_->OnAgentStopped();

  const std::string command =
      " chown -R cassandra:cassandra " + controller_->dataDirsByTarget["host1"].front();
  auto causes = CEventJournal::Instance().Find(kChownFailed, CEventJournal::kPendingCause);
  ASSERT_EQ(1u, causes.size());
  EXPECT_EQ(std::vector<std::string>{command}, causes[0].args);
  EXPECT_TRUE(log.Contains(" Failed to change permissions on required directory cmd [" + command +
                           "], error [chown: invalid user]"));
  EXPECT_EQ(std::vector<std::string>{"refresh"}, ResourcesOf(conf));
  EXPECT_FALSE(controller_->reloadFailed);
  EXPECT_TRUE(StatusMessages().empty());
}

TEST_F(RestoreFinishTest, AnOwnerThatCannotBeQuotedIsRefusedWithoutRunningAnything) {
  CRegistry::Instance().Set("Cassandra", "sCassOSUser", "-rf");
  AddTarget("host1");
  AddMapping(Node("host1", ""), Node("host1", ""));
  controller_->taskReceived = true;
  controller_->OnAgentStopped();
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(1u, PendingCauses(kChownFailed));
}

// ---------------------------------------------------------- refresh

TEST_F(RestoreFinishTest, RefreshNamesTheLearntKeyspacesOfTheNode) {
  const std::string conf = AddTarget("host1");
  AddMapping(Node("host1", ""), Node("host1", ""));
  ASSERT_FALSE(Task({"/c/dc/host1/ks1/t1", "/c/dc/host1/ks2/t1", "/c/dc/other/ks9/t"}).IsError());
  controller_->OnAgentStopped();
  EXPECT_EQ(std::vector<std::string>{"refresh?keyspaces=ks1,ks2"}, ResourcesOf(conf));
  EXPECT_EQ(0, SessionOf(conf).requests[0].kind);
  EXPECT_EQ("", SessionOf(conf).requests[0].body);
  EXPECT_EQ(1, SessionOf(conf).stops);
  EXPECT_TRUE(StatusMessages().empty());
}

TEST_F(RestoreFinishTest, RestoreOntoAnotherMachineRefreshesTheRestoredKeyspaces) {
  const std::string conf = AddTarget("host1");
  AddMapping(Node("src1", "", "10.0.0.9"), Node("host1", ""));
  ASSERT_FALSE(Task({"/c/dc/src1/ks1/t1"}).IsError());
  controller_->OnAgentStopped();
  EXPECT_EQ((std::vector<std::string>{"start", "refresh?keyspaces=ks1"}), ResourcesOf(conf));
}

// ---------------------------------------------------------- bring-up

TEST_F(RestoreFinishTest, SameMachineStartsCassandraOnlyWithRunDR) {
  for (bool runDR : {false, true}) {
    TearDown();
    SetUp();
    const std::string conf = AddTarget("host1_10.0.0.1");
    AddMapping(Node("host1", "host1_10.0.0.1"), Node("host1", "host1_10.0.0.1"));
    controller_->runDR = runDR;
    controller_->taskReceived = true;
    controller_->OnAgentStopped();
    const std::vector<std::string> resources =
        runDR ? std::vector<std::string>{"start", "refresh"} : std::vector<std::string>{"refresh"};
    EXPECT_EQ(resources, ResourcesOf(conf));
    // The ownership pause, then twice the sleep time around a start.
    const std::vector<uint32_t> sleeps =
        runDR ? std::vector<uint32_t>{5000, 3000, 3000} : std::vector<uint32_t>{5000};
    EXPECT_EQ(sleeps, sleeps_->Sleeps());
    TearDown();
  }
}

TEST_F(RestoreFinishTest, AnotherMachineIsStartedWithoutReplacement) {
  const std::string conf = AddTarget("host1");
  AddMapping(Node("other", "", "10.0.0.2"), Node("host1", ""));
  controller_->taskReceived = true;
  controller_->OnAgentStopped();
  EXPECT_EQ((std::vector<std::string>{"start", "refresh"}), ResourcesOf(conf));
  EXPECT_EQ((std::vector<uint32_t>{5000, 3000, 3000}), sleeps_->Sleeps());
}

// The configuration folder and the dead node's name reach Priam as query
// values: characters that would add or cut a parameter are percent-encoded,
// plain paths and addresses go as they are.
TEST_F(RestoreFinishTest, DeadNodeRequestEncodesItsQueryValues) {
  struct Case {
    std::string conf, address, resource;
  } cases[] = {
      {"/etc/cassandra/conf", "10.0.0.7",
       "replaceDeadNode?confpath=/etc/cassandra/conf&nodename=10.0.0.7"},
      {"/etc/my conf&nodename=x", "10.0.0.7",
       "replaceDeadNode?confpath=/etc/my%20conf%26nodename%3Dx&nodename=10.0.0.7"},
      {"/etc/c%#?", "fe80::1", "replaceDeadNode?confpath=/etc/c%25%23%3F&nodename=fe80::1"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.conf);
    TearDown();
    SetUp();
    const std::string conf = AddTarget("host1");
    AddMapping(Node("dead", "", k.address, "-9,42", "/x/cassandra.yaml"),
               Node("host1", "", "10.0.1.1", "", k.conf + ":/dse"));
    controller_->replaceDeadNode = true;
    controller_->taskReceived = true;
    controller_->OnAgentStopped();
    const auto requests = SessionOf(conf).requests;
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(k.resource, requests[0].resource);
  }
}

TEST_F(RestoreFinishTest, DeadNodeReplacementTakesOverTheSourceIdentity) {
  const std::string conf = AddTarget("host1");
  const std::string data = controller_->dataDirsByTarget["host1"].front();
  simtest::WriteFile(data + "/system/local-1/nb-1-big-Data.db", "x");
  simtest::WriteFile(data + "/ks1/t-1/nb-1-big-Data.db", "y");
  AddMapping(Node("dead", "", "10.0.0.7", "-9,42", "/etc/cassandra/cassandra.yaml:/x"),
             Node("host1", "", "10.0.1.1", "", "/etc/cassandra/conf:/dse"));
  controller_->replaceDeadNode = true;
  controller_->taskReceived = true;
  controller_->OnAgentStopped();

  const auto requests = SessionOf(conf).requests;
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ(0, requests[0].kind);
  EXPECT_EQ("replaceDeadNode?confpath=/etc/cassandra/conf&nodename=10.0.0.7", requests[0].resource);
  EXPECT_EQ(1, requests[1].kind);
  EXPECT_EQ("ReplaceTokens", requests[1].resource);
  EXPECT_EQ(R"({"ConfPath":"/etc/cassandra/conf","Tokens":"-9,42","Replace":"1"})",
            requests[1].body);
  EXPECT_EQ("start", requests[2].resource);
  EXPECT_EQ("refresh", requests[3].resource);
  EXPECT_FALSE(fs::exists(data + "/system"));
  EXPECT_TRUE(fs::exists(data + "/ks1/t-1/nb-1-big-Data.db"));
  EXPECT_EQ((std::vector<uint32_t>{5000, 1000, 3000, 3000}), sleeps_->Sleeps());
  EXPECT_FALSE(controller_->reloadFailed);
}

TEST_F(RestoreFinishTest, TheMappingIsFoundByAgentNameOrElseByClientName) {
  // The first entry's target has another agent instance name and is passed
  // over; the second names this target by its client.
  const std::string conf = AddTarget("host1");
  AddMapping(Node("host1", "dead"), Node("host1", "host1_x"));
  AddMapping(Node("host1", ""), Node("host1", ""));
  controller_->taskReceived = true;
  controller_->replaceDeadNode = true;
  controller_->OnAgentStopped();
  // Source and target on this machine: no replacement, no start.
  EXPECT_EQ(std::vector<std::string>{"refresh"}, ResourcesOf(conf));
}

// ---------------------------------------------------------- failed reloads

TEST_F(RestoreFinishTest, EveryReloadThatFailsOrCannotRunReachesTheCoordinatorOnce) {
  struct Case {
    const char* name;
    const char* failing;  // Priam request that fails, or null
    bool replace;
    bool mapped;
    bool started;
    std::vector<std::string> resources;
  } cases[] = {
      {"refresh fails", "refresh", false, true, true, {"start", "refresh"}},
      {"start fails", "start", false, true, true, {"start", "refresh"}},
      {"replacement fails", "replaceDeadNode", true, true, true, {"replaceDeadNode", "refresh"}},
      {"token takeover fails",
       "ReplaceTokens",
       true,
       true,
       true,
       {"replaceDeadNode", "ReplaceTokens", "refresh"}},
      {"no mapping", nullptr, false, false, true, {"refresh"}},
      {"Priam not started", nullptr, false, true, false, {}},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    if (c.failing) {
      priamScript_->SetError(c.failing, FXErrorUtil::ErrorWin32(FXLOC, 1627, "failed"), "bad");
    }
    const std::string conf = AddTarget("host1", c.started);
    if (c.mapped) AddMapping(Node("other", "", "10.0.0.2", "1"), Node("host1", ""));
    controller_->replaceDeadNode = c.replace;
    controller_->taskReceived = true;
    controller_->OnAgentStopped();
    std::vector<std::string> resources;
    for (const std::string& r : ResourcesOf(conf)) resources.push_back(r.substr(0, r.find('?')));
    EXPECT_EQ(c.resources, resources) << c.name;
    EXPECT_TRUE(controller_->reloadFailed) << c.name;
    EXPECT_LE(1u, PendingCauses(kReloadFailed)) << c.name;
    EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages()) << c.name;
    TearDown();
  }
}

TEST_F(RestoreFinishTest, OneFailingNodeOfTwoSendsExactlyOneStatus) {
  priamScript_->SetError("refresh", FXErrorUtil::ErrorWin32(FXLOC, 1627, "failed"), "bad",
                         home_.Sub("conf/host1_b"));
  const std::string a = AddTarget("host1_a");
  const std::string b = AddTarget("host1_b");
  AddMapping(Node("host1", "host1_a"), Node("host1", "host1_a"));
  AddMapping(Node("host1", "host1_b"), Node("host1", "host1_b"));
  controller_->taskReceived = true;
  CLogCapture log;
  controller_->OnAgentStopped();
  EXPECT_EQ(std::vector<std::string>{"refresh"}, ResourcesOf(a));
  EXPECT_EQ(std::vector<std::string>{"refresh"}, ResourcesOf(b));
  EXPECT_EQ(1u, PendingCauses(kReloadFailed));
  EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages());
  EXPECT_TRUE(log.Contains("Failed to reload Cassandra tables. Sending FAIL status"));
  EXPECT_TRUE(log.Contains(" Failed to refresh the keyspaces error ["));
}

TEST_F(RestoreFinishTest, AStatusThatCannotBeSentIsLogged) {
  AddTarget("host1", false);
  controller_->setFrameworkServices(nullptr);
  controller_->taskReceived = true;
  CLogCapture log;
  controller_->OnAgentStopped();
  EXPECT_TRUE(log.Contains("Failed to send AgentStoppedStatus message to the Master"));
}

// ---------------------------------------------------------- modes

TEST_F(RestoreFinishTest, StagedRestoreSkipsEveryNodeAsNotStarted) {
  controller_->recover = false;
  const std::string conf = AddTarget("host1", false);
  controller_->taskReceived = true;
  CLogCapture log;
  controller_->OnAgentStopped();
  EXPECT_TRUE(
      log.Contains("Priam not initialized or not started on host1. Skipping cassandra "
                   "restore"));
  EXPECT_TRUE(Commands().empty());
  EXPECT_FALSE(controller_->reloadFailed);
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
  EXPECT_TRUE(StatusMessages().empty());
}

TEST_F(RestoreFinishTest, WithoutATaskNothingIsFinished) {
  const std::string conf = AddTarget("host1");
  controller_->OnAgentStopped();
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(ResourcesOf(conf).empty());
  EXPECT_EQ(1, SessionOf(conf).stops);
}

TEST_F(RestoreFinishTest, StageFreeRestoreOnlyReportsAndStops) {
  const std::string conf = AddTarget("host1");
  controller_->stageFreeRestore = true;
  controller_->useSSTableLoader = true;
  controller_->taskReceived = true;
  controller_->reloadFailed = true;  // its load failed before
  controller_->OnAgentStopped();
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(ResourcesOf(conf).empty());
  EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages());
  EXPECT_EQ(1, SessionOf(conf).stops);
}

TEST_F(RestoreFinishTest, AQuitSkipsTheBringUpAndStillStopsEveryPriam) {
  const std::string a = AddTarget("host1_a");
  const std::string b = AddTarget("host1_b");
  AddMapping(Node("other", "", "10.0.0.2"), Node("host1", "host1_a"));
  AddMapping(Node("other2", "", "10.0.0.3"), Node("host1", "host1_b"));
  jobCtrl_->setQuitFlag(true);
  controller_->taskReceived = true;
  controller_->OnAgentStopped();
  EXPECT_EQ(2u, Commands().size());
  EXPECT_TRUE(ResourcesOf(a).empty());
  EXPECT_TRUE(ResourcesOf(b).empty());
  for (const auto& session : priamScript_->Sessions()) {
    EXPECT_EQ(1, session.stops);
    EXPECT_FALSE(session.running);
  }
  EXPECT_TRUE(StatusMessages().empty());
}

TEST_F(RestoreFinishTest, WithoutAJobControlClientTheInPlaceReloadFails) {
  const std::string conf = AddTarget("host1");
  AddMapping(Node("host1", ""), Node("host1", ""));
  controller_->setJobCtrlClient(TQJobCtrlClientPtr());
  controller_->taskReceived = true;
  controller_->OnAgentStopped();
  EXPECT_TRUE(ResourcesOf(conf).empty());
  EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages());
  EXPECT_FALSE(SessionOf(conf).running);
}

}  // namespace
}  // namespace finishtest
