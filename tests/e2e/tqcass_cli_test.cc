// The command-line front end run as a separate program, one invocation per
// step, state kept in its home folder between them.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DataFilesSupport.h"
#include "TqcassTestSupport.h"
#include "platform/index/ArchiveStore.h"
#include "support/SimTestSupport.h"

namespace {

using tqcasstest::BackedUpData;
using tqcasstest::Contains;
using tqcasstest::DataFiles;
using tqcasstest::LiveData;
using tqcasstest::OfKeyspace;
using tqcasstest::Outcome;
using TqcassCli = tqcasstest::TqcassTest;

TEST_F(TqcassCli, ClusterRegisterBackupsChangeShowAndVerify) {
  Outcome o = Run("cluster --nodes 3 --size 512");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "cluster TestCluster: 3 nodes")) << o.output;
  o = Run("register");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "3 node clients")) << o.output;

  o = Run("backup --level full");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "[backup] ")) << o.output;
  EXPECT_TRUE(Contains(o.output, " files, ")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 1 (backup full): Completed")) << o.output;

  o = Run("change --sstables 2 --size 300");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "wrote 24 new SSTables")) << o.output;

  o = Run("backup --level incremental --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_FALSE(Contains(o.output, "[backup] start")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 (backup incremental): Completed")) << o.output;

  o = Run("jobs");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "full")) << o.output;
  EXPECT_TRUE(Contains(o.output, "incremental")) << o.output;

  o = Run("show 1");
  ASSERT_EQ(o.status, 0) << o.output;
  for (const char* part : {"status:  Completed", "phase backup: Completed (complete)", "node node1",
                           "node node3", "events: ", "phase postop: Completed",
                           "cleanup node1    snapshots left 0, listed files gone 72/72",
                           ", not deleted 0, cleanup info file removed"}) {
    EXPECT_TRUE(Contains(o.output, part)) << part << "\n" << o.output;
  }

  // The snapshots and the backed-up incremental files are gone; their bytes
  // are proven against the tables' SSTables.
  for (const char* job : {"1", "2"}) {
    o = Run(std::string("verify ") + job);
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, ": verified")) << o.output;
    EXPECT_TRUE(Contains(o.output, " compared with their table's SSTable, ")) << o.output;
  }
}

// The job's stream count is shared over the nodes, whatever larger maximum
// the subclient was registered with.
TEST_F(TqcassCli, AJobsStreamsAreSharedOverTheNodes) {
  Outcome o = Run("cluster --nodes 3 --size 256");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("register --streams 16");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("backup --level full --streams 3 --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("show 1");
  ASSERT_EQ(o.status, 0) << o.output;
  const size_t phase = o.output.find("phase backup:");
  ASSERT_NE(phase, std::string::npos) << o.output;
  for (const char* node : {"node1", "node2", "node3"}) {
    const size_t at = o.output.find(std::string("node ") + node, phase);
    ASSERT_NE(at, std::string::npos) << node << "\n" << o.output;
    const std::string line = o.output.substr(at, o.output.find('\n', at) - at);
    EXPECT_TRUE(Contains(line, "streams 1")) << line;
  }
  o = Run("verify 1");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, ": verified")) << o.output;
}

// A cluster whose data directories hold ";" cannot be registered: the
// directory would split in the node's list into a relative one.
TEST_F(TqcassCli, DataDirectoriesHoldingASemicolonAreRefusedAtRegistration) {
  const std::string home = dir_.Sub("a;b");
  Outcome o = Run("cluster --nodes 1 --size 64", home);
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("register", home);
  EXPECT_NE(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "holds \";\", which separates a node's data directories"))
      << o.output;
}

TEST_F(TqcassCli, FailuresEndWithNonZeroStatus) {
  struct Case {
    const char* arguments;
    int status;
    const char* text;
  };
  // Before a cluster exists.
  for (const Case& c : std::vector<Case>{
           {"register", 1, "has no cluster yet"},
           {"backup", 1, "has no cluster yet"},
           {"frobnicate", 2, "unknown command \"frobnicate\""},
           {"backup --level weekly", 2, "--level: weekly not in {full,incremental}"},
           {"cluster --nodes zero", 2, "--nodes: \"zero\" is not a whole number (1 to 64)"},
           // Beyond the range of a count: refused, not wrapped round to 1.
           {"cluster --nodes 4294967297", 2, "--nodes: 4294967297 is out of range (1 to 64)"},
           {"cluster --size 99999999999999999999", 2, "is out of range (1 to 1073741824)"},
           {"show", 2, "job is required"},
           {"show 7", 1, "Job 7 has no record"},
           {"verify x", 2, "\"x\" is not a whole number"},
           {"verify 99999999999999999999", 2, "is out of range"},
       }) {
    Outcome o = Run(c.arguments);
    EXPECT_EQ(o.status, c.status) << c.arguments << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, c.text)) << c.arguments << "\n" << o.output;
  }
  ASSERT_EQ(Run("cluster --nodes 1 --size 128").status, 0);
  Outcome o = Run("backup");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "is not registered yet")) << o.output;
  ASSERT_EQ(Run("register").status, 0);
  o = Run("register");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "registered already")) << o.output;

  // A job whose stored bytes were damaged does not verify.
  ASSERT_EQ(Run("backup --quiet").status, 0);
  CArchiveStore store(Home() + "/suite");
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(1, items).IsError());
  std::string content;
  for (const auto& item : items) {
    if (!item.isDirectory && item.size > 0) {
      content = CArchiveStore::RootUnder(Home() + "/suite") + "/" + item.pieces.front().content;
      break;
    }
  }
  ASSERT_FALSE(content.empty());
  simtest::WriteFile(content, "damaged");
  o = Run("verify 1");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "NOT verified")) << o.output;
}

// Whether a restore's summary says it restored every file of its selection:
// "<before>N files (B) restored of N (B)<after>".
bool RestoredAll(const std::string& output, const std::string& before, const std::string& after) {
  const std::regex all(before + "([1-9][0-9]*) files \\(([^)]+)\\) restored of \\1 \\(\\2\\)" +
                       after);
  return std::regex_search(output, all);
}

// The live files of a keyspace on every node, by path, with their bytes.
std::map<std::string, std::string> LiveFiles(const std::string& home, const std::string& keyspace) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(home + "/cluster", ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    const std::filesystem::path path = it->path();
    if (!it->is_regular_file() || path.parent_path().parent_path().filename() != keyspace) {
      continue;
    }
    files[path.string()] = simtest::ReadFile(path.string());
  }
  return files;
}

TEST_F(TqcassCli, ADamagedTableComesBackInPlaceAndTheRestoreVerifies) {
  ASSERT_EQ(Run("cluster --nodes 3 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("change --sstables 1 --size 300").status, 0);
  ASSERT_EQ(Run("backup --level incremental --quiet").status, 0);
  const auto otherKeyspace = LiveFiles(Home(), "ks2");
  ASSERT_FALSE(otherKeyspace.empty());

  Outcome o = Run("damage --keyspace ks1.t1 --node node2");
  ASSERT_EQ(o.status, 0) << o.output;
  // Four SSTables of eight components on one node: the generated one, the
  // one the change wrote and one flushed by each backup.
  EXPECT_TRUE(Contains(o.output, "removed 32 files of 1 tables on 1 nodes")) << o.output;
  for (const auto& file : LiveFiles(Home(), "ks1")) {
    EXPECT_FALSE(Contains(file.first, "/node2/") && Contains(file.first, "/t1-") &&
                 Contains(file.first, "-Data.db"))
        << file.first;
  }
  EXPECT_EQ(Run("damage --keyspace ks9").status, 2);
  EXPECT_EQ(Run("damage --node node9").status, 2);

  o = Run("restore 2 --keyspace ks1");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restore job 3 (in-place) of backup job 2 onto TestCluster"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "[restore] start")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 (restore in-place): Completed")) << o.output;
  // Every file of the selection restored, counted as the progress lines count.
  EXPECT_TRUE(RestoredAll(o.output, "6 of 6 tasks complete, ", ", the selection of backup job 2"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "  tables truncated\n")) << o.output;
  EXPECT_EQ(LiveFiles(Home(), "ks2"), otherKeyspace);

  o = Run("verify 3");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3: 192 files")) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 2 checked: verified")) << o.output;
  o = Run("jobs");
  EXPECT_TRUE(Contains(o.output, "restore  in-place")) << o.output;
  // A restore counts the files it restored: no "-".
  EXPECT_TRUE(std::regex_search(o.output, std::regex("\n3 +restore +in-place +[0-9:-]+ [0-9:]+ +"
                                                     "[1-9][0-9]* +[0-9.]+ [KM]?B +Completed")))
      << o.output;
  o = Run("show 3");
  EXPECT_TRUE(Contains(o.output, "restore: in-place of backup job 2, ks1, tables truncated"))
      << o.output;

  // A restored file changed afterwards no longer holds the backup's bytes.
  std::string changed;
  for (const auto& file : LiveFiles(Home(), "ks1")) {
    if (Contains(file.first, "/node2/") && Contains(file.first, "-Data.db")) changed = file.first;
  }
  ASSERT_FALSE(changed.empty());
  simtest::WriteFile(changed, "damaged");
  o = Run("verify 3");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "checked: NOT verified")) << o.output;
  EXPECT_TRUE(Contains(o.output, "  live file not from the backup: 1\n    " + changed + "\n"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "  no restored file holds its bytes: 1\n    node2 ")) << o.output;
  // A restore of a job that is no backup is refused.
  o = Run("restore 3 --quiet");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 is no backup job")) << o.output;
}

// A restore of an older backup brings back that backup's data only, run
// however soon after a later backup: a user rolling back a change does not
// get it back.
TEST_F(TqcassCli, RestoringTheFullBackupAfterALaterIncrementalBringsBackOnlyItsSSTables) {
  ASSERT_EQ(Run("cluster --nodes 3 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  const DataFiles full = OfKeyspace(BackedUpData(Home(), 1), "ks1");
  std::set<std::string> nodes;
  for (const auto& table : full) nodes.insert(table.first.substr(0, table.first.find(' ')));
  ASSERT_EQ(nodes.size(), 3u);
  // Backup times are whole seconds: the next backup starts in a later one
  // than the full backup ended in, as it does when a user runs it.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ASSERT_EQ(Run("change --sstables 1 --size 300").status, 0);
  ASSERT_EQ(Run("backup --level incremental --quiet").status, 0);
  ASSERT_FALSE(OfKeyspace(BackedUpData(Home(), 2), "ks1").empty());
  ASSERT_NE(OfKeyspace(LiveData(Home()), "ks1"), full);

  Outcome o = Run("restore 1 --keyspace ks1 --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 (restore in-place): Completed")) << o.output;
  EXPECT_EQ(OfKeyspace(LiveData(Home()), "ks1"), full);
  o = Run("verify 3");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 1 checked: verified")) << o.output;
}

TEST_F(TqcassCli, AStageFreeRestoreLoadsADamagedTableFromTheShareAndVerifies) {
  ASSERT_EQ(Run("cluster --nodes 3 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("damage --keyspace ks1.t1 --node node2").status, 0);
  Outcome o = Run("verify 1");
  ASSERT_EQ(o.status, 0) << o.output;

  o = Run("restore 1 --mode stage-free --keyspace ks1");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restore job 2 (stage-free) of backup job 1 onto TestCluster"))
      << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 (restore stage-free): Completed")) << o.output;
  // No data mover task: the nodes loaded the tables from the share.
  EXPECT_TRUE(Contains(o.output, "3 nodes loaded ")) << o.output;
  EXPECT_TRUE(Contains(o.output, " of the selection of backup job 1 from the share")) << o.output;
  EXPECT_FALSE(Contains(o.output, "0 of 0 tasks")) << o.output;
  // Nothing is left mounted at the nodes' folder, nor exported.
  EXPECT_FALSE(std::filesystem::exists("/TqCassandraMountDir2"));
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(Home() + "/suite/zelk/shares", ec) || ec) << ec.message();

  o = Run("verify 2");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 1 checked: verified")) << o.output;
  o = Run("show 2");
  EXPECT_TRUE(Contains(o.output, "restore: stage-free of backup job 1, ks1")) << o.output;
}

// Every mode of restore on one machine, the nodes sharing one staging
// folder, each verified right after it ran; in place twice over the same
// tables. None leaves anything pending (no "cassandra" user is needed).
TEST_F(TqcassCli, EveryRestoreModeVerifiesAndInPlaceRunsTwice) {
  ASSERT_EQ(Run("cluster --nodes 3 --size 256").status, 0);
  ASSERT_EQ(Run("register").status, 0);
  ASSERT_EQ(Run("backup --quiet").status, 0);
  ASSERT_EQ(Run("change --sstables 1 --size 300").status, 0);
  ASSERT_EQ(Run("backup --level incremental --quiet").status, 0);
  const char* const modes[] = {"in-place", "in-place", "staged", "loader"};
  int job = 3;
  for (const char* mode : modes) {
    SCOPED_TRACE(std::string(mode) + " as job " + std::to_string(job));
    const std::string id = std::to_string(job);
    Outcome o = Run(std::string("restore 2 --quiet --mode ") + mode);
    ASSERT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, "job " + id + " (restore " + mode + "): Completed")) << o.output;
    o = Run("verify " + id);
    EXPECT_EQ(o.status, 0) << o.output;
    EXPECT_TRUE(Contains(o.output, "job " + id + ": 384 files")) << o.output;
    EXPECT_TRUE(Contains(o.output, "restored from backup job 2 checked: verified")) << o.output;
    o = Run("show " + id);
    EXPECT_TRUE(Contains(o.output, "pending causes: 0")) << o.output;
    ++job;
  }
}

TEST_F(TqcassCli, CommitLogBackupOfAClusterInContainers) {
  ASSERT_EQ(Run("cluster --nodes 2 --docker --size 128").status, 0);
  Outcome o = Run("register --commit-log");
  ASSERT_EQ(o.status, 0) << o.output;
  o = Run("backup --log --quiet");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 1 (backup commit-log): Completed")) << o.output;
  o = Run("verify 1");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "4 files")) << o.output;  // two segments per node
}

TEST_F(TqcassCli, DemoEndsWithBothBackupsVerified) {
  Outcome o = Run("demo");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 1 (backup full): Completed")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 2 (backup incremental): Completed")) << o.output;
  EXPECT_TRUE(Contains(o.output, "removed 192 files of 2 tables on 3 nodes")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3 (restore in-place): Completed")) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 3: 192 files")) << o.output;
  EXPECT_TRUE(Contains(o.output, "restored from backup job 2 checked: verified")) << o.output;
  EXPECT_TRUE(Contains(o.output, "both backups and the restore verified")) << o.output;
  // A second demo in the same home starts afresh.
  o = Run("demo");
  ASSERT_EQ(o.status, 0) << o.output;
  EXPECT_TRUE(Contains(o.output, "job 1 (backup full): Completed")) << o.output;
}

TEST_F(TqcassCli, BrowseListsTheDemoClusterAndAFailedBrowseSaysWhy) {
  ASSERT_EQ(Run("demo").status, 0);

  for (const char* command : {"browse nodes", "browse nodes --subclient 1"}) {
    Outcome o = Run(command);
    ASSERT_EQ(o.status, 0) << command << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, "cluster TestCluster, Cassandra 3.11.4: 3 nodes")) << o.output;
    for (const char* address : {"10.0.1.1", "10.0.1.2", "10.0.1.3"}) {
      EXPECT_TRUE(Contains(o.output, address)) << o.output;
    }
    EXPECT_TRUE(Contains(o.output, "10.0.1.3  dc1          rack1  Normal  Up")) << o.output;
  }

  Outcome o;
  for (const char* command : {"browse keyspaces", "browse keyspaces --subclient 1"}) {
    o = Run(command);
    ASSERT_EQ(o.status, 0) << command << "\n" << o.output;
    EXPECT_TRUE(Contains(o.output, "cluster TestCluster: 2 keyspace rows")) << o.output;
    EXPECT_TRUE(Contains(o.output, "ks2       -            3")) << o.output;
  }

  EXPECT_EQ(Run("browse").status, 2);
  EXPECT_EQ(Run("browse keyspaces --subclient x").status, 2);
  o = Run("browse keyspaces --subclient 99");
  EXPECT_EQ(o.status, 1) << o.output;

  // A Priam that fails the schema request: the reason, and a failure status.
  const std::string clusterFile = Home() + "/cluster/cluster.json";
  std::string cluster = simtest::ReadFile(clusterFile);
  const std::string noFaults = "\"faults\": []";
  const size_t faults = cluster.find(noFaults);
  ASSERT_NE(faults, std::string::npos) << cluster;
  cluster.replace(faults, noFaults.size(),
                  "\"faults\": [{\"when\": \"request\", \"request\": \"getMeta\", "
                  "\"action\": \"fail\"}]");
  simtest::WriteFile(clusterFile, cluster);
  o = Run("browse keyspaces");
  EXPECT_EQ(o.status, 1) << o.output;
  EXPECT_TRUE(Contains(o.output,
                       "browse failed: Failed to fetch nodes/schemas from the Cassandra cluster: "
                       "Failed to get Cassandra metadata from Priam service"))
      << o.output;
}

}  // namespace
