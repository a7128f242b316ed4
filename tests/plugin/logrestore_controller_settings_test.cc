// The point-in-time node controller when its agent stops: the staged logs
// given to Cassandra's user, each target's commit-log restore settings and
// replay list edited line by line with ".bkp" copies, the restart and
// do-not-restart statuses, and what a failure on one target leaves.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogRestoreControllerFixture.h"

namespace logrestoretest {
namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

const std::string kCommand = "restore_command=/bin/cp %from %to ";
const std::string kDirectories = "restore_directories=/stage/91/node1/#COMMITLOG#";
const std::string kPointInTime = "restore_point_in_time=2021:3:4 5:6:7";
const std::string kReplayLine = "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks1.t1,ks1.t2\"";
const std::string kEnvText = "JMX_PORT=\"7199\"\n";
const std::string kPropsText = "restore_command=\nrestore_directories=\nrestore_point_in_time=\n";

std::string Read(const std::string& path) { return simtest::ReadFile(path); }

TEST_F(LogRestoreControllerTest, PropertiesKeysAreSetLineByLineAndTheOriginalKeptAsBkp) {
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"keys on later lines, replaced in place",
       "# archive\narchive_command=/bin/ln %path /a/%name\nrestore_command=\nrestore_directories="
       "\nrestore_point_in_time=\nx=1\n",
       "# archive\narchive_command=/bin/ln %path /a/%name\n" + kCommand + "\n" + kDirectories +
           "\n" + kPointInTime + "\nx=1\n"},
      {"a key on the first line is replaced, not appended again",
       "restore_command=/old %from %to\nrestore_directories=/old\nrestore_point_in_time=old\n",
       kCommand + "\n" + kDirectories + "\n" + kPointInTime + "\n"},
      {"carriage returns are kept",
       "restore_command=a\r\nrestore_directories=b\r\nrestore_point_in_time=c\r\n",
       kCommand + "\r\n" + kDirectories + "\r\n" + kPointInTime + "\r\n"},
      {"the last key line without a line end",
       "restore_command=\nrestore_directories=\nrestore_point_in_time=2000:1:1 0:0:0",
       kCommand + "\n" + kDirectories + "\n" + kPointInTime},
      {"missing keys are appended after an empty line", "archive_command=\n",
       "archive_command=\n\n\n" + kCommand + "\n\n" + kDirectories + "\n\n" + kPointInTime},
      {"commented and longer keys stay", "#restore_command=x\nrestore_command_old=y\n" + kPropsText,
       "#restore_command=x\nrestore_command_old=y\n" + kCommand + "\n" + kDirectories + "\n" +
           kPointInTime + "\n"},
  };
  std::vector<std::string> confs;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    confs.push_back(AddTarget("n" + std::to_string(i), cases[i].before, kEnvText));
  }
  controller_->OnAgentStopped();
  for (size_t i = 0; i < confs.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(Read(confs[i] + "/" + kProps), cases[i].after);
    EXPECT_EQ(Read(confs[i] + "/" + kProps + ".bkp"), cases[i].before);
    EXPECT_EQ(Read(confs[i] + "/" + kEnv + ".bkp"), kEnvText);
  }
  EXPECT_EQ(PendingCauses(kConfigFailed), 0u);
}

TEST_F(LogRestoreControllerTest, DollarSignsOfTheRestoreCommandAreWrittenLiterally) {
  controller_->restoreCommand = "/opt/$1/cp $& $` $' $$ \\1";
  const std::string conf = AddTarget("n1", kPropsText, kEnvText);
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(conf + "/" + kProps), "restore_command=/opt/$1/cp $& $` $' $$ \\1 %from %to \n" +
                                           kDirectories + "\n" + kPointInTime + "\n");
}

TEST_F(LogRestoreControllerTest, TheReplayListLineIsSetLineByLineAndTheOriginalKeptAsBkp) {
  const std::string old = "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=old.t\"";
  struct Case {
    const char* name;
    std::string before;
    std::string after;
  } cases[] = {
      {"appended after the last line", kEnvText, kEnvText + "\n" + kReplayLine + "\n"},
      {"appended after a last line without a line end", "JMX_PORT=\"7199\"",
       "JMX_PORT=\"7199\"\n" + kReplayLine + "\n"},
      {"an empty file", "", "\n" + kReplayLine + "\n"},
      {"an earlier replay list on the first line is replaced", old + "\nJMX_PORT=1\n",
       kReplayLine + "\nJMX_PORT=1\n"},
      {"an earlier replay list keeps its carriage return", "a=1\r\n" + old + "\r\nb=2\r\n",
       "a=1\r\n" + kReplayLine + "\r\nb=2\r\n"},
      {"an earlier replay list ending the file without a line end", "a=1\n" + old,
       "a=1\n" + kReplayLine},
      {"other JVM options stay", "JVM_OPTS=\"$JVM_OPTS -Xss256k\"\n",
       "JVM_OPTS=\"$JVM_OPTS -Xss256k\"\n\n" + kReplayLine + "\n"},
  };
  std::vector<std::string> confs;
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    confs.push_back(AddTarget("n" + std::to_string(i), kPropsText, cases[i].before));
  }
  controller_->OnAgentStopped();
  for (size_t i = 0; i < confs.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(Read(confs[i] + "/" + kEnv), cases[i].after);
    EXPECT_EQ(Read(confs[i] + "/" + kEnv + ".bkp"), cases[i].before);
  }
}

TEST_F(LogRestoreControllerTest, EachTargetReplaysItsOwnTablesInListOrder) {
  const std::string a = AddTarget("a", kPropsText, kEnvText, {"ks2.z", "ks1.a"});
  const std::string b = AddTarget("b", kPropsText, kEnvText, {"ks3.t"});
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(a + "/" + kEnv),
            kEnvText + "\nJVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks2.z,ks1.a\"\n");
  EXPECT_EQ(Read(b + "/" + kEnv),
            kEnvText + "\nJVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks3.t\"\n");
}

// Each source node's logs are staged apart; a target restored from several
// replays the folders of those whose logs were staged, in name order.
TEST_F(LogRestoreControllerTest, EachSourceNodesStagedLogsAreARestoreFolderOfItsTarget) {
  const std::string conf = AddTarget("a", kPropsText, kEnvText);
  AddMapping(Node("srcX", "node0"), Node("host1", "a"));
  AddMapping(Node("nodeNoLogs", ""), Node("host1", "a"));
  AddMapping(Node("node2", ""), Node("host1", "elsewhere"));
  for (const char* source : {"node0", "node2"}) {
    fs::create_directories(home_.Sub("stage/a/") + source + "/#COMMITLOG#");
  }
  fs::create_directories(home_.Sub("stage/a/nodeNoLogs"));
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(conf + "/" + kProps),
            kCommand +
                "\nrestore_directories=/stage/91/node0/#COMMITLOG#,/stage/91/node1/#COMMITLOG#\n" +
                kPointInTime + "\n");
}

TEST_F(LogRestoreControllerTest, TheRestartStatusNamesThisMachineAndItsContainers) {
  AddTarget("plain", kPropsText, kEnvText);
  AddTarget("boxed", kPropsText, kEnvText);
  controller_->containerByTarget["boxed"] = "cass-2";
  controller_->OnAgentStopped();
  const std::vector<Status> statuses = StatusMessages();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].failed, 0);
  EXPECT_EQ(statuses[0].values,
            (Values{{"CassandraRestart", "1"},
                    {"NodeName", "host1"},
                    {"DockerInfo", "boxed:cass-2:" + home_.Sub("stage/boxed") + "##"}}));
  // The pause after the ownership change.
  EXPECT_EQ(sleeps_->Sleeps(), std::vector<uint32_t>{5000});
}

TEST_F(LogRestoreControllerTest, APlainNodeSendsNoDockerInfo) {
  AddTarget("plain", kPropsText, kEnvText);
  controller_->OnAgentStopped();
  const std::vector<Status> statuses = StatusMessages();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].values, (Values{{"CassandraRestart", "1"}, {"NodeName", "host1"}}));
}

// Every way the phase can end without anything to replay sends the status
// without values, edits nothing and leaves no ".bkp" file.
TEST_F(LogRestoreControllerTest, NothingToReplaySendsTheDoNotRestartStatus) {
  struct Case {
    const char* name;
    bool staged = true;
    bool recover = true;
    bool quit = false;
    std::list<std::string> tables = {"ks1.t1"};
  } cases[4];
  cases[0].name = "no commit log restored";
  cases[0].staged = false;
  cases[1].name = "without recover";
  cases[1].recover = false;
  cases[2].name = "the job is stopping";
  cases[2].quit = true;
  cases[3].name = "no table to replay";
  cases[3].tables = {};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    controller_->recover = c.recover;
    TQJobCtrlClient::SetProcessQuitFlag(c.quit);
    const std::string conf =
        AddTarget("n" + std::to_string(++n), kPropsText, kEnvText, c.tables, c.staged);
    controller_->OnAgentStopped();
    const std::vector<Status> statuses = StatusMessages();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].failed, 0);
    EXPECT_FALSE(statuses[0].hasValues);
    EXPECT_EQ(Read(conf + "/" + kProps), kPropsText);
    EXPECT_EQ(Read(conf + "/" + kEnv), kEnvText);
    EXPECT_FALSE(fs::exists(conf + "/" + kProps + ".bkp"));
    EXPECT_FALSE(fs::exists(conf + "/" + kEnv + ".bkp"));
    // Without restored logs nothing changes owner and nothing waits.
    EXPECT_EQ(process_->Commands().empty(), !c.staged);
    EXPECT_EQ(sleeps_->Sleeps().empty(), !c.staged);
  }
}

TEST_F(LogRestoreControllerTest, ATargetWithoutLogsInItsOwnStagingFolderIsLeftAlone) {
  // Containers stage each node in a folder of its own; only one got logs.
  const std::string withLogs = AddTarget("a", kPropsText, kEnvText);
  const std::string without = AddTarget("b", kPropsText, kEnvText, {"ks1.t1"}, false);
  controller_->containerByTarget = {{"a", "cass-a"}, {"b", "cass-b"}};
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(withLogs + "/" + kEnv), kEnvText + "\n" + kReplayLine + "\n");
  EXPECT_EQ(Read(without + "/" + kProps), kPropsText);
  EXPECT_EQ(Read(without + "/" + kEnv), kEnvText);
  EXPECT_FALSE(fs::exists(without + "/" + kProps + ".bkp"));
  EXPECT_EQ(process_->Commands(),
            std::vector<std::string>{" chown -R cassandra:cassandra " + home_.Sub("stage/a")});
  const std::vector<Status> statuses = StatusMessages();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].values,
            (Values{{"CassandraRestart", "1"},
                    {"NodeName", "host1"},
                    {"DockerInfo", "a:cass-a:" + home_.Sub("stage/a") +
                                       "##b:cass-b:" + home_.Sub("stage/b") + "##"}}));
}

TEST_F(LogRestoreControllerTest, StagedLogsChangeOwnerOncePerStagingFolderQuotedForTheShell) {
  CRegistry::Instance().Set("Cassandra", "sCassOSUser", "cass user");
  CRegistry::Instance().Set("Cassandra", "sCassOSGroup", "ops");
  AddTarget("a", kPropsText, kEnvText);
  AddTarget("b", kPropsText, kEnvText);
  AddTarget("c", kPropsText, kEnvText);
  // Two targets of one staging folder, as plain nodes of one machine have.
  controller_->hostStagingPath["b"] = controller_->hostStagingPath["a"];
  // A failing change of owner is only logged.
  process_.reset();
  process_.reset(new CProcessScript());
  process_->Add(CProcessScript::kContains, "stage/c", CProcessScript::Answer{"", "denied", 1});
  process_->Add(CProcessScript::kPrefix, " chown -R ", CProcessScript::Answer{});
  controller_->OnAgentStopped();
  EXPECT_EQ(process_->Commands(),
            (std::vector<std::string>{" chown -R 'cass user':ops " + home_.Sub("stage/a"),
                                      " chown -R 'cass user':ops " + home_.Sub("stage/c")}));
  ASSERT_EQ(StatusMessages().size(), 1u);
  EXPECT_TRUE(StatusMessages()[0].hasValues);
}

TEST_F(LogRestoreControllerTest, TheGroupFollowsTheRegistryOnlyWithAUserThere) {
  CRegistry::Instance().Set("Cassandra", "sCassOSGroup", "ops");
  AddTarget("a", kPropsText, kEnvText);
  controller_->OnAgentStopped();
  EXPECT_EQ(process_->Commands(),
            std::vector<std::string>{" chown -R cassandra:cassandra " + home_.Sub("stage/a")});
}

// A target whose settings cannot be edited keeps its files as they were and
// raises the pending cause; the targets after it are still configured, the
// restart status still goes out and the Priams are stopped at the end.
TEST_F(LogRestoreControllerTest, AFailedTargetIsLeftAsItWasAndTheOthersGoOn) {
  const std::string first = AddTarget("a", kPropsText, kEnvText);
  // No properties file: its copy fails.
  const std::string noProps = AddTarget("b", std::nullopt, kEnvText);
  // No env file: the properties were read and made but are not written.
  const std::string noEnv = AddTarget("c", kPropsText, std::nullopt);
  // An env file whose folder takes no new file: the properties are written
  // first, then put back when the env file cannot be replaced.
  const std::string stuck = AddTarget("d", kPropsText, std::nullopt);
  fs::create_symlink("/proc/self/comm", stuck + "/" + kEnv);
  const std::string last = AddTarget("e", kPropsText, kEnvText);

  controller_->OnAgentStopped();

  for (const std::string& conf : {first, last}) {
    EXPECT_EQ(Read(conf + "/" + kEnv), kEnvText + "\n" + kReplayLine + "\n");
    EXPECT_EQ(Read(conf + "/" + kProps),
              kCommand + "\n" + kDirectories + "\n" + kPointInTime + "\n");
  }
  EXPECT_EQ(Read(noProps + "/" + kEnv), kEnvText);
  EXPECT_FALSE(fs::exists(noProps + "/" + kEnv + ".bkp"));
  EXPECT_EQ(Read(noEnv + "/" + kProps), kPropsText);
  EXPECT_EQ(Read(stuck + "/" + kProps), kPropsText);
  EXPECT_TRUE(fs::is_symlink(stuck + "/" + kEnv));
  EXPECT_EQ(PendingCauses(kConfigFailed), 3u);

  // The others replay, and the coordinator ends the job pending.
  const std::vector<Status> statuses = StatusMessages();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_EQ(statuses[0].values, (Values{{"CassandraRestart", "1"}, {"NodeName", "host1"}}));
  EXPECT_EQ(statuses[0].failed, 1);
}

TEST_F(LogRestoreControllerTest, NoTargetConfiguredMeansNoRestartAndAFailedStatus) {
  const std::string conf = AddTarget("a", std::nullopt, kEnvText);
  controller_->OnAgentStopped();
  const std::vector<Status> statuses = StatusMessages();
  ASSERT_EQ(statuses.size(), 1u);
  EXPECT_FALSE(statuses[0].hasValues);
  EXPECT_EQ(statuses[0].failed, 1);
  EXPECT_EQ(PendingCauses(kConfigFailed), 1u);
  EXPECT_EQ(Read(conf + "/" + kEnv), kEnvText);
}

TEST_F(LogRestoreControllerTest, SettingsThatCouldBreakTheirLineAreRefused) {
  struct Case {
    const char* name;
    std::string command;
    std::string pointInTime;
    std::string stagePath;
  } cases[] = {
      {"line feed in the command", "/bin/cp\nrestore_point_in_time=", "2021:3:4 5:6:7",
       "/stage/91"},
      {"carriage return in the staging path", "/bin/cp", "2021:3:4 5:6:7", "/stage\r/91"},
      {"no command", "", "2021:3:4 5:6:7", "/stage/91"},
      {"no point in time", "/bin/cp", "", "/stage/91"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    controller_->restoreCommand = c.command;
    controller_->cassandraPointInTime = c.pointInTime;
    controller_->stagePath = c.stagePath;
    const std::string conf = AddTarget("n" + std::to_string(++n), kPropsText, kEnvText);
    controller_->OnAgentStopped();
    EXPECT_EQ(Read(conf + "/" + kProps), kPropsText);
    EXPECT_EQ(Read(conf + "/" + kEnv), kEnvText);
    EXPECT_EQ(PendingCauses(kConfigFailed), 1u);
    ASSERT_EQ(StatusMessages().size(), 1u);
    EXPECT_FALSE(StatusMessages()[0].hasValues);
    EXPECT_EQ(StatusMessages()[0].failed, 1);
  }
}

TEST_F(LogRestoreControllerTest, WhenTheRestartCannotBeRequestedTheBkpCopiesGoBack) {
  controller_ = Make(false);
  const std::string a = AddTarget("a", "restore_command=\r\n", "X=1");
  const std::string b = AddTarget("b", kPropsText, kEnvText);
  controller_->OnAgentStopped();
  EXPECT_EQ(Read(a + "/" + kProps), "restore_command=\r\n");
  EXPECT_EQ(Read(a + "/" + kEnv), "X=1");
  EXPECT_EQ(Read(b + "/" + kProps), kPropsText);
  EXPECT_EQ(Read(b + "/" + kEnv), kEnvText);
}

}  // namespace
}  // namespace logrestoretest
