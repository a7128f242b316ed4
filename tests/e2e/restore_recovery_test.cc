// What a restore's own end, or the next locking run, removes after a restore
// killed, stopped or failed, read from the journals in the job's result
// folder: hidden temporaries in the journaled folders and the files the job
// placed and never loaded; never a file the job did not place, nor one below
// a data directory it began to load (unless that load was refused); a result
// folder put right is settled and not looked at again.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/datamover/RestoreJournal.h"
#include "support/SimTestSupport.h"
#include "tools/lib/RestoreRecovery.h"

namespace {

using TqDataMover::CRestoreJournal;
using TqHarness::CRestoreRecovery;

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

class RestoreRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    results_ = dir_.Sub("results");
    loadedTable_ = dir_.Sub("data1/ks1/t1-0a");
    unloadedTable_ = dir_.Sub("data2/ks1/t1-0a");
    std::filesystem::create_directories(loadedTable_);
    std::filesystem::create_directories(unloadedTable_);
    journal_.Open(results_, 1);
  }

  // Writes `path` and journals it as placed (as the data mover does before
  // the rename).
  void Placed(const std::string& path) {
    simtest::WriteFile(path, "sstable");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    ASSERT_FALSE(journal_.NotePlaced({Identity(st, path)}).IsError());
  }

  static CRestoreJournal::SPlaced Identity(const struct stat& st, const std::string& path) {
    CRestoreJournal::SPlaced placed;
    placed.device = static_cast<uint64_t>(st.st_dev);
    placed.inode = static_cast<uint64_t>(st.st_ino);
    placed.size = static_cast<uint64_t>(st.st_size);
    placed.mtimeNs = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                     static_cast<uint64_t>(st.st_mtim.tv_nsec);
    placed.path = path;
    return placed;
  }

  static std::string IdOf(const struct stat& st) {
    const CRestoreJournal::SPlaced placed = Identity(st, "");
    return std::to_string(placed.device) + ":" + std::to_string(placed.inode) + ":" +
           std::to_string(placed.size) + ":" + std::to_string(placed.mtimeNs);
  }

  simtest::TempDir dir_;
  std::string results_, loadedTable_, unloadedTable_;
  CRestoreJournal journal_;
};

TEST(RestoreRecoveryNames, OnlyTheDataMoversTemporariesAreTemporaries) {
  struct Case {
    const char* name;
    bool temporary;
  };
  for (const Case& c :
       {Case{".nb-1-big-Data.db.tqrestore-Ab3dE9", true}, Case{"nb-1-big-Data.db", false},
        Case{".nb-1-big-Data.db.tqrestore-", false},
        Case{"nb-1-big-Data.db.tqrestore-Ab3dE9", false}, Case{".tqsim-live", false}}) {
    EXPECT_EQ(CRestoreRecovery::IsTemporary(c.name), c.temporary) << c.name;
  }
}

TEST_F(RestoreRecovery, TemporariesAndPlacedFilesNeverLoadedGoEverythingElseStays) {
  ASSERT_FALSE(journal_.NoteFolder(unloadedTable_).IsError());
  ASSERT_FALSE(journal_.NoteFolder(loadedTable_).IsError());
  const std::string temporary = unloadedTable_ + "/.nb-3-big-Index.db.tqrestore-Xy12Ab";
  simtest::WriteFile(temporary, "half");
  // Placed and never loaded: goes.
  Placed(unloadedTable_ + "/nb-2-big-Data.db");
  Placed(unloadedTable_ + "/nb-2-big-Index.db");
  // Placed below a data directory the node began to load: stays.
  Placed(loadedTable_ + "/nb-2-big-Data.db");
  ASSERT_FALSE(CRestoreJournal::NoteLoading(results_, dir_.Sub("data1")).IsError());
  // Journaled, then replaced by a file the job did not place (the file
  // system may give it the same inode): stays.
  Placed(unloadedTable_ + "/nb-4-big-Data.db");
  ASSERT_EQ(unlink((unloadedTable_ + "/nb-4-big-Data.db").c_str()), 0);
  simtest::WriteFile(unloadedTable_ + "/nb-4-big-Data.db", "someone else's");
  // Live SSTables the job never journaled: stay.
  const std::string live = unloadedTable_ + "/nb-1-big-Data.db";
  simtest::WriteFile(live, "live");
  struct stat liveStat {};
  ASSERT_EQ(lstat(live.c_str(), &liveStat), 0);
  // A temporary's name in a folder the job never journaled: stays.
  const std::string elsewhere = dir_.Sub("other/.nb-1-big-Data.db.tqrestore-Qw34Er");
  simtest::WriteFile(elsewhere, "not ours");
  journal_.Close();
  // A last line cut short by the kill is not read (its path may be cut too).
  {
    std::ofstream out(results_ + "/" + CRestoreJournal::PlacedName(2));
    out << "P\t" << IdOf(liveStat) << "\t" << live;
  }

  CRestoreRecovery::SRemoved removed;
  CRestoreRecovery::Recover({dir_.path()}, removed);
  EXPECT_EQ(removed.temporaries, 1);
  EXPECT_EQ(removed.placed, 2);
  EXPECT_FALSE(Exists(temporary));
  EXPECT_FALSE(Exists(unloadedTable_ + "/nb-2-big-Data.db"));
  EXPECT_FALSE(Exists(unloadedTable_ + "/nb-2-big-Index.db"));
  EXPECT_TRUE(Exists(loadedTable_ + "/nb-2-big-Data.db"));
  EXPECT_TRUE(Exists(unloadedTable_ + "/nb-4-big-Data.db"));
  EXPECT_TRUE(Exists(live));
  EXPECT_TRUE(Exists(elsewhere));

  // A second run finds nothing more to remove.
  CRestoreRecovery::Recover({dir_.path()}, removed);
  EXPECT_EQ(removed.temporaries, 1);
  EXPECT_EQ(removed.placed, 2);
}

// Journal lines that are not of the journal's shapes, or whose paths are not
// plain absolute ones, remove nothing.
TEST_F(RestoreRecovery, LinesOfOtherShapesRemoveNothing) {
  Placed(unloadedTable_ + "/nb-2-big-Data.db");
  journal_.Close();
  struct stat st {};
  ASSERT_EQ(lstat((unloadedTable_ + "/nb-2-big-Data.db").c_str(), &st), 0);
  const std::string id = IdOf(st);
  {
    std::ofstream out(results_ + "/" + CRestoreJournal::PlacedName(1), std::ios::trunc);
    out << "P\t" << id << "\t" << unloadedTable_ << "/../t1-0a/nb-2-big-Data.db\n"
        << "P\t" << id << "\tdata2/ks1/t1-0a/nb-2-big-Data.db\n"
        << "P " << id << " " << unloadedTable_ << "/nb-2-big-Data.db\n"
        << "P\tx:1:2:3\t" << unloadedTable_ << "/nb-2-big-Data.db\n"
        << "P\t" << std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) << "\t"
        << unloadedTable_ << "/nb-2-big-Data.db\n";
  }
  CRestoreRecovery::SRemoved removed;
  CRestoreRecovery::Recover({dir_.path()}, removed);
  EXPECT_EQ(removed.placed, 0);
  EXPECT_TRUE(Exists(unloadedTable_ + "/nb-2-big-Data.db"));
}

// A load noted and then refused ("U") no longer keeps the files below its
// data directory; a later load of the same directory keeps them again.
TEST_F(RestoreRecovery, ARefusedLoadKeepsNothingALaterLoadKeepsItsFiles) {
  struct Case {
    const char* name;
    std::vector<char> marks;  // in the order noted for data1
    bool kept;
  };
  for (const Case& c : {Case{"never loaded", {}, false}, Case{"loading", {'L'}, true},
                        Case{"refused", {'L', 'U'}, false},
                        Case{"refused, then loaded again", {'L', 'U', 'L'}, true}}) {
    simtest::TempDir dir;
    const std::string results = dir.Sub("results");
    const std::string table = dir.Sub("data1/ks1/t1-0a");
    std::filesystem::create_directories(table);
    CRestoreJournal journal;
    journal.Open(results, 1);
    const std::string file = table + "/nb-2-big-Data.db";
    simtest::WriteFile(file, "sstable");
    struct stat st {};
    ASSERT_EQ(lstat(file.c_str(), &st), 0);
    ASSERT_FALSE(journal.NotePlaced({Identity(st, file)}).IsError());
    journal.Close();
    for (char mark : c.marks) {
      const CQiError e = mark == 'L' ? CRestoreJournal::NoteLoading(results, dir.Sub("data1"))
                                     : CRestoreJournal::NoteNotLoaded(results, dir.Sub("data1"));
      ASSERT_FALSE(e.IsError()) << c.name;
    }
    CRestoreRecovery::SRemoved removed;
    CRestoreRecovery::Recover({dir.path()}, removed);
    EXPECT_EQ(Exists(file), c.kept) << c.name;
    EXPECT_EQ(removed.placed, c.kept ? 0 : 1) << c.name;
  }
}

// Once put right, a result folder is settled: what its journals name is not
// looked at again, whatever later lies under those names; a folder whose
// journals appear later is still put right, and the loading marks of a
// settled folder still keep the files below their data directories.
TEST_F(RestoreRecovery, APutRightFolderIsSettledAndNotLookedAtAgain) {
  ASSERT_FALSE(journal_.NoteFolder(unloadedTable_).IsError());
  Placed(unloadedTable_ + "/nb-2-big-Data.db");
  ASSERT_FALSE(CRestoreJournal::NoteLoading(results_, dir_.Sub("data1")).IsError());
  journal_.Close();

  CRestoreRecovery::SRemoved removed;
  CRestoreRecovery::Recover({dir_.path()}, removed);
  EXPECT_EQ(removed.placed, 1);
  EXPECT_TRUE(Exists(results_ + "/" + CRestoreRecovery::kSettledName));

  // A later temporary in the journaled folder is not the settled job's.
  const std::string temporary = unloadedTable_ + "/.nb-5-big-Data.db.tqrestore-Zz99Yy";
  simtest::WriteFile(temporary, "another job's");
  // The journals of another result folder of the job, found later.
  const std::string other = dir_.Sub("results2");
  CRestoreJournal second;
  second.Open(other, 1);
  const std::string below = loadedTable_ + "/nb-3-big-Data.db";
  const std::string unloaded = unloadedTable_ + "/nb-3-big-Data.db";
  for (const std::string& path : {below, unloaded}) {
    simtest::WriteFile(path, "sstable");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    ASSERT_FALSE(second.NotePlaced({Identity(st, path)}).IsError());
  }
  second.Close();

  removed = CRestoreRecovery::SRemoved();
  CRestoreRecovery::Recover({dir_.path()}, removed);
  EXPECT_EQ(removed.temporaries, 0);
  EXPECT_EQ(removed.placed, 1);
  EXPECT_TRUE(Exists(temporary));
  EXPECT_TRUE(Exists(below));
  EXPECT_FALSE(Exists(unloaded));
  EXPECT_TRUE(Exists(other + "/" + CRestoreRecovery::kSettledName));
}

}  // namespace
