// The data mover places an SSTable into a live table folder only whole: a
// component whose stored content is damaged keeps every component of its
// generation out (the others are placed), a generation split over archive
// files appears once its last component arrived, and what it places is
// journaled before it gets its name.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "StoreTestSupport.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/datamover/RestoreDataMover.h"
#include "platform/datamover/RestoreGenerations.h"
#include "platform/datamover/RestoreJournal.h"
#include "platform/datamover/RestoreTargets.h"
#include "platform/framework/FSRestoreWorker.h"
#include "platform/index/ArchiveStore.h"
#include "platform/log/EventJournal.h"
#include "platform/msg/FrameworkRecords.h"

namespace {

using TqDataMover::CRestoreDataMover;
using TqDataMover::CRestoreGenerations;
using TqDataMover::SDataMoverSetup;

constexpr int64_t kBackupJob = 120;
constexpr int64_t kRestoreJob = 620;

class InPlaceWorker : public TQDC_FileSystem::CFSRestoreWorker {
 public:
  explicit InPlaceWorker(std::string options)
      : CFSRestoreWorker(nullptr), options_(std::move(options)) {}
  CQiError GetExtendedOptions(std::string& options) override {
    options = options_;
    return CQiError::Success();
  }

 private:
  std::string options_;
};

// The names in `folder`.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class WholeSSTables : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    CEventJournal::Instance().Clear();
    dataDir_ = DataPath("data");
    table_ = dataDir_ + "/ks1/t1-0a0b";
    results_ = DataPath("results");
  }
  void TearDown() override {
    TqDataMover::CRestoreTargets::Instance().ForgetJob(kRestoreJob);
    CRestoreGenerations::Instance().ForgetJob(kRestoreJob);
    CEventJournal::Instance().Clear();
    StoreTest::TearDown();
  }

  // Stores the components `names` of table ks1.t1 through stream `stream`
  // of the backup job; returns its archive file.
  int64_t StoreComponents(int stream, const std::vector<std::string>& names) {
    CStoreDataStream data(Job(kBackupJob, stream));
    for (const std::string& name : names) {
      EXPECT_FALSE(Store(data, "/c1/dc1/node1/ks1/t1/" + name, "content of " + name, "/src/" + name)
                       .IsError());
    }
    return data.GetArchiveFileId();
  }

  // Overwrites the stored content of the item ending in `name`.
  void Damage(const std::string& name) {
    CArchiveStore store(Home());
    ASSERT_FALSE(store.Open().IsError());
    std::vector<SStoredItem> items;
    ASSERT_FALSE(store.ListItems(kBackupJob, items).IsError());
    for (const SStoredItem& item : items) {
      if (item.headerPath.size() < name.size() ||
          item.headerPath.compare(item.headerPath.size() - name.size(), name.size(), name) != 0) {
        continue;
      }
      std::ofstream(CArchiveStore::RootUnder(Home()) + "/" + item.pieces.front().content,
                    std::ios::trunc)
          << "damaged";
      return;
    }
    FAIL() << name << " is not stored";
  }

  CQiError RunTask(CRestoreDataMover& mover, int64_t archiveFile) {
    DistributedQEL::RestoreTaskInfo restore;
    restore.setSourcePaths({"/c1/dc1/node1/ks1"});
    restore.setArchiveFileId(archiveFile);
    std::string xml;
    restore.serialize(xml);
    DistributedQEL::TaskInfo task;
    task.setPayload(xml);
    return mover.RunTask(task);
  }

  SDataMoverSetup Setup(int stream) {
    SDataMoverSetup setup;
    setup.jobId = kRestoreJob;
    setup.streamNumber = stream;
    setup.jobResultsDirectory = results_;
    return setup;
  }

  boost::shared_ptr<InPlaceWorker> Worker() {
    CExtendedOptions options;
    options.setOption("CassandraRestore", 1);
    options.setOption("CassandraRestoreDataDirectory", "node1:" + dataDir_ + "##");
    options.setOption("CassandraMeta", "~KEYSPACE~ks1~BEGIN~~TABLEMETA~t1~TABLEID~0a-0b");
    std::string text;
    options.getOptions(text);
    return boost::shared_ptr<InPlaceWorker>(new InPlaceWorker(text));
  }

  std::string dataDir_, table_, results_;
};

TEST_F(WholeSSTables, ADamagedComponentKeepsItsWholeSSTableOutAndTheOthersArePlaced) {
  const int64_t archiveFile =
      StoreComponents(1, {"nb-1-big-Data.db", "nb-1-big-Index.db", "nb-1-big-TOC.txt",
                          "nb-2-big-Data.db", "nb-2-big-Index.db", "nb-2-big-TOC.txt"});
  Damage("nb-1-big-Index.db");
  CRestoreDataMover mover(Setup(1), Worker());
  CQiError error = RunTask(mover, archiveFile);
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.AsString().find("checksum"), std::string::npos) << error.AsString();
  ASSERT_FALSE(mover.Finish().IsError());

  // No component of generation 1, no temporary; generation 2 whole.
  EXPECT_EQ(Names(table_),
            (std::set<std::string>{"nb-2-big-Data.db", "nb-2-big-Index.db", "nb-2-big-TOC.txt"}));
  EXPECT_EQ(mover.Progress().files, 3);
  EXPECT_EQ(mover.Progress().failed, 1);
  EXPECT_EQ(CRestoreGenerations::Instance().LeftOut(kRestoreJob), 1);
  const std::vector<CEventJournal::Entry> events =
      CEventJournal::Instance().Find(CRestoreGenerations::kEvSSTableLeftOut);
  ASSERT_EQ(events.size(), 1u);
  ASSERT_EQ(events[0].args.size(), 3u);
  EXPECT_EQ(events[0].args[0], table_);
  EXPECT_EQ(events[0].args[1], "nb-1-big");
  EXPECT_EQ(events[0].args[2].rfind("nb-1-big-Index.db: ", 0), 0u) << events[0].args[2];
  EXPECT_NE(events[0].args[2].find("checksum"), std::string::npos) << events[0].args[2];

  // Only what became visible was journaled, before it did.
  TqDataMover::CRestoreJournal::SContent journal;
  TqDataMover::CRestoreJournal::Read(
      TqDataMover::CRestoreResultFile::FolderOf(results_, kRestoreJob), journal);
  EXPECT_EQ(journal.folders, (std::set<std::string>{table_}));
  std::set<std::string> placed;
  for (const auto& file : journal.placed) {
    placed.insert(file.path);
    struct stat st {};
    ASSERT_EQ(lstat(file.path.c_str(), &st), 0) << file.path;
    EXPECT_EQ(file.inode, static_cast<uint64_t>(st.st_ino)) << file.path;
  }
  EXPECT_EQ(placed,
            (std::set<std::string>{table_ + "/nb-2-big-Data.db", table_ + "/nb-2-big-Index.db",
                                   table_ + "/nb-2-big-TOC.txt"}));
}

// The backup's streams cut one SSTable over two archive files; two streams
// of the restore node place them: nothing of it is visible until the second
// brought the rest.
TEST_F(WholeSSTables, AnSSTableSplitOverArchiveFilesAppearsOnceWhole) {
  const int64_t first = StoreComponents(1, {"nb-1-big-Data.db", "nb-1-big-Index.db"});
  const int64_t second = StoreComponents(2, {"nb-1-big-TOC.txt", "nb-2-big-Data.db"});
  CRestoreDataMover one(Setup(1), Worker());
  CRestoreDataMover two(Setup(2), Worker());
  ASSERT_FALSE(RunTask(one, first).IsError());
  // Held: only hidden temporaries.
  for (const std::string& name : Names(table_)) {
    EXPECT_NE(name.find(".tqrestore-"), std::string::npos) << name;
  }
  EXPECT_EQ(one.Progress().files, 0);
  // The first stream ends; the node's other stream still runs.
  ASSERT_FALSE(one.Finish().IsError());
  ASSERT_FALSE(RunTask(two, second).IsError());
  ASSERT_FALSE(two.Finish().IsError());
  EXPECT_EQ(Names(table_), (std::set<std::string>{"nb-1-big-Data.db", "nb-1-big-Index.db",
                                                  "nb-1-big-TOC.txt", "nb-2-big-Data.db"}));
  EXPECT_EQ(two.Progress().files, 4);
  EXPECT_EQ(CRestoreGenerations::Instance().LeftOut(kRestoreJob), 0);
}

}  // namespace
