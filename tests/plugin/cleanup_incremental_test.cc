// The post-operations controller's incremental file cleanup on a temporary
// tree: which collect files are read, the snapshot-time sweep of the backups
// folders, escaped paths, and the files that could not be deleted.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cleanup/CassandraPostOpCleanupController.h"
#include "platform/framework/ClientConfig.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/CollectFileEntry.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using MultiNodeBackupOps::CCollectFileEntry;
using TQCassandra::CassandraPostOpCleanupController;

constexpr long kSnapTime = 1700000000;
constexpr uint32_t kIncomplete = 0x60003D7;

class Probe : public CassandraPostOpCleanupController {
 public:
  Probe(const std::string& jobResults, const std::string& status) {
    clientConfig.reset(new DistributedQEL::CClientConfig(1));
    clientConfig->setJobResultsDirectory(jobResults);
    taskStatus = status;
  }
  using CassandraPostOpCleanupController::deleteFailed;
};

class CleanupIncrementalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CEventJournal::Instance().Clear();
    fs::create_directories(jr_);
  }
  void TearDown() override { CEventJournal::Instance().Clear(); }

  // A file with its modification time `offset` seconds after the snapshot.
  std::string File(const std::string& path, long offset = -100) {
    simtest::WriteFile(path, "data");
    struct timeval times[2];
    times[0].tv_sec = times[1].tv_sec = kSnapTime + offset;
    times[0].tv_usec = times[1].tv_usec = 0;
    EXPECT_EQ(::utimes(path.c_str(), times), 0) << path;
    return path;
  }
  void Collect(const std::string& name, const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) {
      text += CCollectFileEntry(path, 4).FormatNumberedLine() + "\n";
    }
    simtest::WriteFile(jr_ + "/" + name, text);
  }
  void Info(const std::vector<std::string>& dataDirs) {
    std::string text = std::to_string(kSnapTime) + "\n";
    for (size_t i = 0; i < dataDirs.size(); ++i) {
      text += "node" + std::to_string(i) + " ;" + dataDirs[i] + "\n";
    }
    simtest::WriteFile(jr_ + "/CassandraCleanupInfoFile", text);
  }
  static bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
  }
  std::string FilesToCleanup() const { return simtest::ReadFile(jr_ + "/FilesToCleanup.tqf"); }

  simtest::TempDir dir_;
  std::string jr_ = dir_.Sub("jr");
  std::string d1_ = dir_.Sub("d1");
  std::string d2_ = dir_.Sub("d2");
};

TEST_F(CleanupIncrementalTest, OnlyCompletedTasksCollectFilesAreRead) {
  Info({d1_});
  const std::string a = File(d1_ + "/ks/t-1/backups/a-Data.db");
  const std::string b = File(d1_ + "/ks/t-1/backups/b-Data.db");
  const std::string c = File(d1_ + "/ks/t-1/backups/c-Data.db");
  Collect("CollectInc1.tqf", {a});
  Collect("CollectInc2.tqf", {b});
  Collect("CollectInc3.tqf", {c});
  Probe p(jr_, "1:-1|2:0|3:-1");
  EXPECT_FALSE(p.cleanupIncrFiles(TQBkpLevel_Incremental).IsError());
  EXPECT_FALSE(Exists(a));
  EXPECT_TRUE(Exists(b));  // its task did not complete
  EXPECT_FALSE(Exists(c));
  EXPECT_FALSE(p.deleteFailed);
  EXPECT_FALSE(Exists(jr_ + "/FilesToCleanup.tqf"));
  EXPECT_FALSE(CEventJournal::Instance().Has(kIncomplete));
}

TEST_F(CleanupIncrementalTest, IncrementalFallsBackToTheTotFile) {
  Info({d1_});
  const std::string tot3 = File(d1_ + "/ks/t-1/backups/tot3-Data.db");
  const std::string tot1 = File(d1_ + "/ks/t-1/backups/tot1-Data.db");
  const std::string inc1 = File(d1_ + "/ks/t-1/backups/inc1-Data.db");
  Collect("CollectInc1.tqf", {inc1});
  Collect("CollectTot1.tqf", {tot1});  // the Inc file is there: not read
  Collect("CollectTot3.tqf", {tot3});
  {
    Probe p(jr_, "1:-1|3:-1|4:-1|");
    CLogCapture log;
    p.cleanupIncrFiles(TQBkpLevel_Incremental);
    EXPECT_FALSE(Exists(inc1));
    EXPECT_TRUE(Exists(tot1));
    EXPECT_FALSE(Exists(tot3));
    // Neither file of task 4: the "Tot" path is reported.
    EXPECT_TRUE(log.Contains("Failed to open collect file " + jr_ + "/CollectTot4.tqf"));
  }
  // A full job reads only "Tot" files, and a missing one says nothing.
  const std::string inc5 = File(d1_ + "/ks/t-1/backups/inc5-Data.db");
  Collect("CollectInc5.tqf", {inc5});
  Probe full(jr_, "1:-1|5:-1|");
  CLogCapture log;
  full.cleanupIncrFiles(TQBkpLevel_Full);
  EXPECT_FALSE(Exists(tot1));
  EXPECT_TRUE(Exists(inc5));
  EXPECT_FALSE(log.Contains("Failed to open collect file"));
}

TEST_F(CleanupIncrementalTest, SnapshotLinesSweepTheTablesBackupsInEveryDataDirectory) {
  Info({d1_, d2_});
  const std::string snapFile = File(d1_ + "/ks1/t1-abc/snapshots/12TQsnapshot345/nb-1-big-Data.db");
  struct Case {
    std::string path;
    bool gone;
  } cases[] = {
      {File(d1_ + "/ks1/t1-abc/backups/old-Data.db", -1), true},
      {File(d1_ + "/ks1/t1-abc/backups/equal-Data.db", 0), false},
      {File(d1_ + "/ks1/t1-abc/backups/new-Data.db", 5), false},
      {File(d2_ + "/ks1/t1-abc/backups/old-Data.db", -3600), true},
      {File(d2_ + "/ks1/t1-abc/backups/.idx/old-Data.db", -10), true},  // subfolders too
      {File(d2_ + "/ks1/t1-abc/backups/.idx/new-Data.db", 10), false},
      {File(d1_ + "/ks1/t2-def/backups/old-Data.db", -10), false},  // another table
      {File(d1_ + "/ks2/t1-abc/backups/old-Data.db", -10), false},  // another keyspace
  };
  Collect("CollectTot1.tqf", {snapFile});
  Probe p(jr_, "1:-1|");
  p.cleanupIncrFiles(TQBkpLevel_Full);
  for (const auto& c : cases) EXPECT_EQ(Exists(c.path), !c.gone) << c.path;
  // The snapshot's own files are Cassandra's to clear.
  EXPECT_TRUE(Exists(snapFile));
  EXPECT_FALSE(p.deleteFailed);
}

TEST_F(CleanupIncrementalTest, EscapedPathsAreDeletedByTheirRealNames) {
  Info({d1_});
  const std::vector<std::string> paths = {
      File(d1_ + "/ks/t-1/backups/per%cent-Data.db"),
      File(d1_ + "/ks/t-1/backups/pi|pe-Data.db"),
      File(d1_ + "/ks/t-1/backups/line\nfeed-Data.db"),
      File(d1_ + "/ks/t-1/backups/%25already-Data.db"),
  };
  // A decoy named like the escaped text of the first path.
  const std::string decoy = File(d1_ + "/ks/t-1/backups/per%25cent-Data.db", 100);
  Collect("CollectInc1.tqf", paths);
  Probe p(jr_, "1:-1|");
  p.cleanupIncrFiles(TQBkpLevel_Incremental);
  for (const std::string& path : paths) EXPECT_FALSE(Exists(path)) << path;
  EXPECT_TRUE(Exists(decoy));
  EXPECT_FALSE(p.deleteFailed);
}

// An incremental pass stops at a listed file it cannot remove (one already
// gone included) and one pass over the full collect files follows; a pass
// over the full collect files goes on past such a file.
TEST_F(CleanupIncrementalTest, AnIncrementalPassThatCannotRemoveAFileRestartsOverTheTotFiles) {
  Info({d1_});
  const std::string backups = d1_ + "/ks/t-1/backups/";
  struct Case {
    const char* name;
    std::string stuck;  // the listed file that is not removed
    bool left;          // the full pass cannot remove it either
  } cases[] = {
      {"already gone", backups + "gone-Data.db", false},
      {"cannot be removed", backups + std::string(300, 'n'), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CEventJournal::Instance().Clear();
    const std::string before = File(backups + "before-Data.db");
    const std::string after = File(backups + "after-Data.db");
    const std::string next = File(backups + "next-Data.db");
    const std::string tot1 = File(backups + "tot1-Data.db");
    const std::string tot2 = File(backups + "tot2-Data.db");
    const std::string totAfter = File(backups + "tot-after-Data.db");
    Collect("CollectInc1.tqf", {before, c.stuck, after});
    Collect("CollectInc2.tqf", {next});
    Collect("CollectTot1.tqf", {tot1, c.stuck, totAfter});
    Collect("CollectTot2.tqf", {tot2});
    Probe p(jr_, "1:-1|2:-1|");
    p.cleanupIncrFiles(TQBkpLevel_Incremental);
    EXPECT_FALSE(Exists(before));
    // The incremental pass ended at the file...
    EXPECT_TRUE(Exists(after));
    EXPECT_TRUE(Exists(next));
    // ...and the full pass read every "Tot" file to its end.
    EXPECT_FALSE(Exists(tot1));
    EXPECT_FALSE(Exists(totAfter));
    EXPECT_FALSE(Exists(tot2));
    // Only a file that the full pass could not remove is left on record.
    const bool left = c.left;
    EXPECT_EQ(p.deleteFailed, left);
    EXPECT_EQ(Exists(jr_ + "/FilesToCleanup.tqf"), left);
    if (left) {
      EXPECT_EQ(FilesToCleanup(), c.stuck + "\n");
    }
    EXPECT_EQ(CEventJournal::Instance().Has(kIncomplete), left);
    for (const std::string& path : {after, next}) fs::remove(path);
    fs::remove(jr_ + "/FilesToCleanup.tqf");
  }
  // A full job has a single pass: it goes on past a file already gone.
  const std::string gone = backups + "gone-Data.db";
  const std::string after = File(backups + "after-Data.db");
  Collect("CollectTot1.tqf", {gone, after});
  Probe full(jr_, "1:-1|");
  full.cleanupIncrFiles(TQBkpLevel_Full);
  EXPECT_FALSE(Exists(after));
  EXPECT_FALSE(full.deleteFailed);
}

// Only a file of a table's backups folder is deleted as listed. A line that
// names anything else (a table or keyspace folder that is gone, a live
// SSTable, a file outside the data directories) is left, and so is its
// folder with every file in it, in either kind of pass; a file of another
// snapshot only sweeps its table's backups folder.
TEST_F(CleanupIncrementalTest, ALineOutsideATablesBackupsFolderIsLeftWithItsFolder) {
  struct Case {
    const char* name;
    const char* listed;  // below the case's data directory
    bool backupsSwept;   // t-1's backups folder loses its old file
  } cases[] = {
      {"table folder gone", "/ks/t-gone", false},
      {"keyspace folder gone", "/ks-gone", false},
      {"file of a table folder that is gone", "/ks/t-gone/backups/nb-1-big-Data.db", false},
      {"live SSTable", "/ks/t-1/nb-1-big-Data.db", false},
      {"file of another snapshot", "/ks/t-1/snapshots/other/nb-1-big-Data.db", true},
  };
  for (TQBkpLevel level : {TQBkpLevel_Incremental, TQBkpLevel_Full}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (level == TQBkpLevel_Full ? " full" : " incremental"));
      const std::string data =
          dir_.Sub(std::string("data-") + std::to_string(static_cast<int>(level)) + "-" + c.name);
      Info({data});
      // Every file is older than the snapshot.
      const std::vector<std::string> kept = {
          File(data + "/ks/t-1/nb-1-big-Data.db"),
          File(data + "/ks/t-2/nb-1-big-Data.db"),
          File(data + "/ks/t-1/snapshots/other/nb-1-big-Data.db"),
          File(data + "/ks/t-2/snapshots/other/nb-1-big-Data.db"),
          File(data + "/ks/t-2/backups/nb-1-big-Data.db"),
          File(data + "/ks2/t-1/nb-1-big-Data.db"),
      };
      const std::string backupsFile = File(data + "/ks/t-1/backups/nb-1-big-Data.db");
      const std::string backupsIndex = File(data + "/ks/t-1/backups/.idx/nb-1-big-Data.db");
      // A pass over the full collect files would delete this one.
      const std::string totFile = File(data + "/ks/t-2/backups/nb-2-big-Data.db");
      Collect(level == TQBkpLevel_Full ? "CollectTot1.tqf" : "CollectInc1.tqf", {data + c.listed});
      if (level != TQBkpLevel_Full) Collect("CollectTot1.tqf", {totFile});
      Probe p(jr_, "1:-1|");
      CLogCapture log;
      p.cleanupIncrFiles(level);
      for (const std::string& path : kept) EXPECT_TRUE(Exists(path)) << path;
      EXPECT_NE(Exists(backupsFile), c.backupsSwept);
      EXPECT_NE(Exists(backupsIndex), c.backupsSwept);
      EXPECT_TRUE(Exists(totFile));  // no second pass
      EXPECT_FALSE(p.deleteFailed);
      if (!c.backupsSwept) {
        EXPECT_TRUE(log.Contains("Not deleting " + data + c.listed +
                                 ": not a file of a table's backups folder"));
      }
      fs::remove(jr_ + "/CollectTot1.tqf");
      fs::remove(jr_ + "/CollectInc1.tqf");
    }
  }
}

TEST_F(CleanupIncrementalTest, EveryFileLeftIsListedAndOneEventRaised) {
  Info({d1_});
  // Paths that cannot be unlinked, whoever runs the test: names longer than
  // any file system allows.
  const std::string tooLong1 = d1_ + "/ks/t-1/backups/" + std::string(300, 'n');
  const std::string deleted = File(d1_ + "/ks/t-1/backups/ok-Data.db");
  const std::string tooLong2 = d1_ + "/ks/t-1/backups/" + std::string(300, 'm');
  Collect("CollectTot1.tqf", {tooLong1, deleted, tooLong2});
  simtest::WriteFile(jr_ + "/FilesToCleanup.tqf", "from an earlier run\n");
  Probe p(jr_, "1:-1|");
  CLogCapture log;
  EXPECT_FALSE(p.cleanupIncrFiles(TQBkpLevel_Full).IsError());
  EXPECT_FALSE(Exists(deleted));
  EXPECT_TRUE(p.deleteFailed);
  EXPECT_EQ(FilesToCleanup(), tooLong1 + "\n" + tooLong2 + "\n");
  auto events = CEventJournal::Instance().Find(kIncomplete);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kInfo);
  EXPECT_EQ(events[0].args, (std::vector<std::string>{jr_ + "/FilesToCleanup.tqf"}));
  EXPECT_TRUE(log.Contains("Failed to unlink the file " + tooLong1 + ": Errno: "));
}

TEST_F(CleanupIncrementalTest, OnlyAWholeSnapshotsComponentMakesASnapshotLine) {
  struct Case {
    const char* path;
    bool snapshot;
    const char* keyspace;
    const char* table;
  } cases[] = {
      {"/d/ks/t-1/snapshots/s/f-Data.db", true, "ks", "t-1"},
      {"/d/ks/t-1/snapshots/s/.idx/f-Data.db", true, "ks", "t-1"},
      {"/d/snapshots/t-1/snapshots/s/f", true, "snapshots", "t-1"},
      {"/d/ks/snapshots/snapshots/s/f", true, "ks", "snapshots"},
      {"/d/snapshots/t-1/backups/f", false, "", ""},  // keyspace named "snapshots"
      {"/d/ks/snapshots/backups/f", false, "", ""},   // table named "snapshots"
      {"/d/mysnapshots/t-1/backups/f", false, "", ""},
      {"/d/ks/t-1/snapshotsX/s/f", false, "", ""},
      {"/snapshots/s/f", false, "", ""},  // nothing before it
      {"/d/ks/t-1/snapshots/f", false, "", ""},
  };
  for (const auto& c : cases) {
    std::string keyspace, table;
    EXPECT_EQ(CassandraPostOpCleanupController::SnapshotTableOf(c.path, keyspace, table),
              c.snapshot)
        << c.path;
    if (c.snapshot) {
      EXPECT_EQ(keyspace, c.keyspace) << c.path;
      EXPECT_EQ(table, c.table) << c.path;
    }
  }
  // A backups file of a keyspace named "snapshots" is deleted as itself;
  // its neighbours stay.
  Info({d1_});
  const std::string listed = File(d1_ + "/snapshots/t-1/backups/a-Data.db");
  const std::string neighbour = File(d1_ + "/snapshots/t-1/backups/b-Data.db");
  Collect("CollectInc1.tqf", {listed});
  Probe p(jr_, "1:-1|");
  p.cleanupIncrFiles(TQBkpLevel_Incremental);
  EXPECT_FALSE(Exists(listed));
  EXPECT_TRUE(Exists(neighbour));
}

TEST_F(CleanupIncrementalTest, TheSweepStaysInsideTheDataDirectories) {
  Info({d1_});
  const std::string outside = dir_.Sub("outside");
  const std::string outsideOld = File(outside + "/old-Data.db", -100);
  // A link inside a swept backups folder, and a backups folder that is a
  // link: neither is followed.
  const std::string backups = d1_ + "/ks/t-1/backups";
  File(backups + "/old-Data.db", -100);
  fs::create_directory_symlink(outside, backups + "/link");
  fs::create_directories(d1_ + "/ks/t-2");
  fs::create_directory_symlink(outside, d1_ + "/ks/t-2/backups");
  // A listed file outside the data directories is left, and its folder's
  // subfolders are not swept.
  const std::string elsewhere = File(dir_.Sub("else/backups/listed-Data.db"));
  const std::string elsewhereSub = File(dir_.Sub("else/backups/sub/old-Data.db"), -100);
  const std::string insideListed = File(backups + "/listed-Data.db");
  const std::string insideSub = File(backups + "/.idx/old-Data.db", -100);
  Collect("CollectInc1.tqf", {d1_ + "/ks/t-1/snapshots/s/f-Data.db",
                              d1_ + "/ks/t-2/snapshots/s/f-Data.db", elsewhere, insideListed});
  Probe p(jr_, "1:-1|");
  p.cleanupIncrFiles(TQBkpLevel_Incremental);
  EXPECT_FALSE(Exists(backups + "/old-Data.db"));
  EXPECT_TRUE(Exists(backups + "/link"));
  EXPECT_TRUE(Exists(outsideOld));
  EXPECT_TRUE(Exists(elsewhere));
  EXPECT_TRUE(Exists(elsewhereSub));
  EXPECT_FALSE(Exists(insideListed));
  EXPECT_FALSE(Exists(insideSub));
}

TEST_F(CleanupIncrementalTest, DirectoriesExtentsAndContainerLines) {
  Info({d1_});
  const std::string folder = d1_ + "/ks/t-1/backups/folder";
  const std::string inFolder = File(folder + "/keep-Data.db", 100);
  const std::string big = File(d1_ + "/ks/t-1/backups/big-Data.db");
  const std::string container = File(d1_ + "/ks/t-1/backups/c-Data.db");
  CCollectFileEntry extent(big, 4);
  extent.isExtent = true;
  extent.extentOffset = 0;
  extent.extentLength = 2;
  extent.fileSize = 4;
  simtest::WriteFile(jr_ + "/CollectInc1.tqf", CCollectFileEntry(folder, 0).FormatNumberedLine() +
                                                   "\n" + extent.FormatNumberedLine() + "\n" +
                                                   "%CONTAINER%cass1" + container +
                                                   ":/var/lib/c\n");
  Probe p(jr_, "1:-1|");
  CLogCapture log;
  p.cleanupIncrFiles(TQBkpLevel_Incremental);
  EXPECT_TRUE(Exists(folder));
  EXPECT_TRUE(Exists(inFolder));
  EXPECT_TRUE(Exists(big));  // extents are left
  EXPECT_FALSE(Exists(container));
  EXPECT_TRUE(log.Contains("New file to delete: " + container));
}

}  // namespace
