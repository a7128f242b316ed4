// tqcass restoring to a point in time, run as a program: the checks before
// such a restore, the run with its summary, and the verification of what
// every node replayed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TqcassTestSupport.h"
#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimCommitLog.h"
#include "sim/lib/SimLogReplay.h"
#include "support/SimTestSupport.h"

namespace {

using tqcasstest::Contains;
using tqcasstest::Outcome;

class TqcassPit : public tqcasstest::TqcassTest {
 protected:
  // A 3-node cluster in containers with a full backup (job 1), commit-log
  // writes backed up by job 2, and a point in time after them.
  void BackUpWithLogs(long long& point) {
    ASSERT_EQ(Run("cluster --nodes 3 --docker --size 128").status, 0);
    Outcome o = Run("register --commit-log");
    ASSERT_EQ(o.status, 0) << o.output;
    ASSERT_EQ(Run("backup --quiet").status, 0);
    ASSERT_EQ(Run("change --log").status, 0);
    const time_t written = std::time(nullptr);
    ASSERT_EQ(Run("backup --log --quiet").status, 0);
    while (std::time(nullptr) <= written) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    point = static_cast<long long>(std::time(nullptr));
  }

  // The nodes whose commit-log restore settings are live.
  std::vector<std::string> NodesWithLiveSettings() {
    std::vector<std::string> nodes;
    for (const char* node : {"node1", "node2", "node3"}) {
      const std::string conf = Home() + "/cluster/nodes/" + node + "/conf";
      TqSim::SimLogReplay::Settings settings;
      std::string error;
      if (TqSim::SimLogReplay::ReadSettings(conf, settings, error) &&
          !settings.restoreDirectories.empty()) {
        nodes.push_back(node);
      }
    }
    return nodes;
  }
};

TEST_F(TqcassPit, RestoreToAPointInTimeReplaysTheLogsUpToItAndVerifies) {
  ASSERT_EQ(Run("cluster --nodes 3 --docker --size 128").status, 0);
  Outcome o = Run("register --commit-log");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("backup --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  const std::string now = " --to-time " + std::to_string(std::time(nullptr));

  // Refused before anything runs.
  struct Case {
    std::string arguments;
    int status;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {"restore 1" + now, 1, "no commit-log backup completed after backup job 1"},
           {"restore 1 --to-time 2020-02-30T00:00:00", 2, "--to-time: not a time"},
           {"restore 1 --to-time 1000", 1, "lies before backup job 1 ended"},
       }) {
    o = Run(c.arguments);
    EXPECT_EQ(o.status, c.status) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, c.text)) << c.arguments << "\n" << o.output;
  }

  o = Run("change --log");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "archived 3 commit-log segments holding 12 writes")) << o.output;
  const time_t written = std::time(nullptr);
  ASSERT_EQ(Run("backup --log --quiet").status, 0);
  // The point lies in a later second than every write before it.
  while (std::time(nullptr) <= written) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const long long point = static_cast<long long>(std::time(nullptr));
  const std::string to = " --to-time " + std::to_string(point);
  o = Run("restore 1 --mode staged" + to);
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "use --mode in-place or loader")) << o.output;
  // Writes after the point, backed up too.
  while (std::time(nullptr) <= point + 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(Run("change --log").status, 0);
  ASSERT_EQ(Run("backup --log --quiet").status, 0);

  o = Run("restore 1 --quiet" + to);
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restore job 4 (in-place) of backup job 1 onto TestCluster to "))
      << o.output;
  EXPECT_TRUE(Contains(o.output, ": Completed")) << o.output;
  o = Run("show 4");
  EXPECT_TRUE(Contains(o.output, "  point in time: ")) << o.output;
  EXPECT_TRUE(Contains(o.output, " (commit logs replayed up to it)\n")) << o.output;
  o = Run("verify 4");
  EXPECT_EQ(o.status, 0) << o.output;
  // Each node: the 4 writes of each of its two fixture segments and the 4 of
  // the first change; the second change's segments are stored but replay
  // nothing.
  EXPECT_TRUE(Contains(o.output, "job 4: 36 mutations of 12 stored commit-log segments up to "))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "replayed on 3 nodes (36 expected): verified")) << o.output;

  // A write the restore did not replay is found.
  const std::string cluster = Home() + "/cluster/nodes/node2/data1/ks1";
  std::string table;
  for (const auto& entry : std::filesystem::directory_iterator(cluster)) {
    if (entry.path().filename().string().rfind("t1-", 0) == 0) table = entry.path().string();
  }
  ASSERT_FALSE(table.empty());
  std::ofstream(table + "/" + TqSim::SimCommitLog::kJournalFile, std::ios::app)
      << "4 " << point * 1000000 + 5 << " ks1.t1 intruder\n";
  o = Run("verify 4");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "node2 ks1.t1: replayed but not expected: ")) << o.output;

  // A node left with restore settings would replay again at its next start.
  const std::string conf = Home() + "/cluster/nodes/node3/conf/commitlog_archiving.properties";
  std::filesystem::copy_file(conf, conf + ".bkp");
  std::ofstream(conf, std::ios::app) << "\nrestore_directories=/var/lib/cassandra/stage/4\n";
  o = Run("verify 4");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "node3 " + conf + ".bkp: copy not put back")) << o.output;
  EXPECT_TRUE(Contains(o.output, "node3 " + conf + ": restore settings still live")) << o.output;
}

// Killed while the nodes' restore settings are live (at the replay's first
// status check): the next command that takes the lock puts every node's
// settings back from its copies, and the restore run again replays and
// verifies.
TEST_F(TqcassPit, AKilledRestoresSettingsArePutBackByTheNextCommand) {
  long long point = 0;
  ASSERT_NO_FATAL_FAILURE(BackUpWithLogs(point));
  const std::string to = " --to-time " + std::to_string(point);
  ASSERT_NO_FATAL_FAILURE(AddFault("", "status", "signal", SIGKILL));
  Outcome o = Run("restore 1 --quiet" + to);
  ASSERT_NE(o.status, 0) << o.output;
  // The first node's replay may have put its own settings back.
  ASSERT_GE(NodesWithLiveSettings().size(), 2u);
  // What a kill in the middle of a copy or a rewrite would leave.
  const std::string node2 = Home() + "/cluster/nodes/node2/conf/";
  for (const char* name : {".cassandra-env.sh.bkp.tqtmp-a1b2c3", "cassandra-env.sh.tqtmp-d4e5f6",
                           "commitlog_archiving.properties.tqtmp-g7h8i9"}) {
    std::ofstream(node2 + name) << "partial";
  }

  o = Run("register --streams 3");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 was interrupted: marked failed")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 had left restore settings live on ")) << o.output;
  EXPECT_TRUE(Contains(o.output, ": put back from their .bkp copies")) << o.output;
  EXPECT_TRUE(NodesWithLiveSettings().empty());
  for (const char* node : {"node1", "node2", "node3"}) {
    const std::string conf = Home() + "/cluster/nodes/" + node + "/conf/";
    EXPECT_FALSE(std::filesystem::exists(conf + "commitlog_archiving.properties.bkp")) << node;
    EXPECT_FALSE(std::filesystem::exists(conf + "cassandra-env.sh.bkp")) << node;
    for (const auto& entry : std::filesystem::directory_iterator(conf)) {
      EXPECT_EQ(entry.path().filename().string().find(".tqtmp-"), std::string::npos)
          << entry.path();
    }
  }

  o = Run("restore 1 --quiet" + to);
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, ": Completed")) << o.output;
  o = Run("show 4");
  EXPECT_TRUE(Contains(o.output, "  point in time: ")) << o.output;
  EXPECT_TRUE(Contains(o.output, " (commit logs replayed up to it)\n")) << o.output;
  o = Run("verify 4");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "restore settings still live")) << o.output;
  EXPECT_TRUE(Contains(o.output, "replayed on 3 nodes (36 expected): verified")) << o.output;
}

// A staging folder the replay cannot carry is refused before any job runs;
// a line end is refused for every restore.
TEST_F(TqcassPit, AStagingFolderTheReplayCannotCarryIsRefused) {
  long long point = 0;
  ASSERT_NO_FATAL_FAILURE(BackUpWithLogs(point));
  const std::string to = " --to-time " + std::to_string(point);
  struct Case {
    std::string arguments;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {"--stage '/tmp/a b'" + to, "it holds a blank"},
           {"--stage '/tmp/a;b'" + to, "it holds \";\""},
           {"--stage '/tmp/a,b'" + to, "it holds \",\""},
           {"--stage '/tmp/a##b'" + to, "it holds \"##\""},
           {"--stage '/tmp/a:b'" + to, "it holds \":\""},
           {"--stage \"$(printf '/tmp/a\\nb')\"" + to, "it holds a control character"},
           {"--mode loader --stage \"$(printf '/tmp/a\\nstage /x')\"",
            "it holds a control character"},
       }) {
    Outcome o = Run("restore 1 --quiet " + c.arguments);
    EXPECT_EQ(o.status, 1) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, "--stage: the staging folder cannot be used")) << o.output;
    EXPECT_TRUE(Contains(o.output, c.text)) << c.arguments << "\n" << o.output;
  }
  // No job was made.
  Outcome o = Run("jobs");
  EXPECT_FALSE(Contains(o.output, "restore")) << o.output;
}

// Every node refuses its edit (its commit-log settings file is gone): no
// node replays, and the job does not read Completed.
TEST_F(TqcassPit, ARestoreWhoseNodesCannotBeConfiguredEndsPending) {
  long long point = 0;
  ASSERT_NO_FATAL_FAILURE(BackUpWithLogs(point));
  for (const char* node : {"node1", "node2", "node3"}) {
    std::filesystem::remove(Home() + "/cluster/nodes/" + node +
                            "/conf/commitlog_archiving.properties");
  }
  Outcome o = Run("restore 1 --quiet --to-time " + std::to_string(point));
  EXPECT_NE(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 (restore in-place): Completed w/ one or more errors"))
      << o.output;
  for (const char* node : {"node1", "node2", "node3"}) {
    EXPECT_TRUE(Contains(o.output, std::string("pending: ") + node + ": Commit-log archiving " +
                                       "could not be configured: " + node + ": Failed to open "))
        << o.output;
  }
  EXPECT_TRUE(NodesWithLiveSettings().empty());
  o = Run("show 3");
  EXPECT_TRUE(Contains(
      o.output,
      " (the job did not complete: the commit logs may not have been replayed up to it)\n"))
      << o.output;
  EXPECT_FALSE(Contains(o.output, "(commit logs replayed up to it)")) << o.output;
}

}  // namespace
