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

TEST_F(CleanupIncrementalTest, AFileAlreadyGoneCountsAsDeleted) {
  Info({d1_});
  const std::string gone = d1_ + "/ks/t-1/backups/gone-Data.db";
  const std::string after = File(d1_ + "/ks/t-1/backups/after-Data.db");
  const std::string next = File(d1_ + "/ks/t-1/backups/next-Data.db");
  const std::string tot = File(d1_ + "/ks/t-1/backups/tot-Data.db");
  Collect("CollectInc1.tqf", {gone, after});
  Collect("CollectInc2.tqf", {next});
  Collect("CollectTot1.tqf", {tot});
  Probe p(jr_, "1:-1|2:-1|");
  p.cleanupIncrFiles(TQBkpLevel_Incremental);
  EXPECT_FALSE(Exists(after));
  EXPECT_FALSE(Exists(next));
  EXPECT_TRUE(Exists(tot));  // no pass over the "Tot" files
  EXPECT_FALSE(p.deleteFailed);
  EXPECT_FALSE(Exists(jr_ + "/FilesToCleanup.tqf"));
  EXPECT_FALSE(CEventJournal::Instance().Has(kIncomplete));
}

TEST_F(CleanupIncrementalTest, EveryFileLeftIsListedAndOneEventRaised) {
  Info({d1_});
  // Paths that cannot be unlinked, whoever runs the test: one under a
  // regular file, one with a name longer than any file system allows.
  const std::string plain = File(d1_ + "/ks/t-1/backups/plain-Data.db", 100);
  const std::string under = plain + "/x";
  const std::string tooLong = d1_ + "/ks/t-1/backups/" + std::string(300, 'n');
  const std::string deleted = File(d1_ + "/ks/t-1/backups/ok-Data.db");
  Collect("CollectInc1.tqf", {under, deleted, tooLong});
  simtest::WriteFile(jr_ + "/FilesToCleanup.tqf", "from an earlier run\n");
  Probe p(jr_, "1:-1|");
  CLogCapture log;
  EXPECT_FALSE(p.cleanupIncrFiles(TQBkpLevel_Incremental).IsError());
  EXPECT_FALSE(Exists(deleted));
  EXPECT_TRUE(p.deleteFailed);
  EXPECT_EQ(FilesToCleanup(), under + "\n" + tooLong + "\n");
  auto events = CEventJournal::Instance().Find(kIncomplete);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kInfo);
  EXPECT_EQ(events[0].args, (std::vector<std::string>{jr_ + "/FilesToCleanup.tqf"}));
  EXPECT_TRUE(log.Contains("Failed to unlink the file " + under + ": Errno: "));
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
  // A listed file outside the data directories: deleted itself, but its
  // folder's subfolders are not swept.
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
  EXPECT_FALSE(Exists(elsewhere));
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
