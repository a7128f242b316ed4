// The commit-log restore worker and its item filter: options that always
// stage the logs, the filter against the backup reference time, and the
// skipped items added to the worker's progress.

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "logrestore/CassandraLogRestoreItemCallBack.h"
#include "logrestore/CassandraLogRestoreWorker.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/msg/BrowseRecords.h"

namespace {

using TQCassandra::CCassandraLogRestoreItemCallBack;
using TQCassandra::CCassandraLogRestoreWorker;
using Options = std::vector<std::pair<std::string, std::string>>;

const std::unordered_map<std::string, std::string> kDataDirs = {{"nodeA", "/var/lib/c/data"}};
const std::unordered_map<std::string, std::string> kStaging = {{"nodeA", "/stage/91"}};

std::unique_ptr<CCassandraLogRestoreWorker> MakeWorker(bool recover, bool loader,
                                                       long backupRefTime) {
  boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles> metadata(
      new DistributedQEL::CassandraCreateCollectFiles());
  return std::unique_ptr<CCassandraLogRestoreWorker>(new CCassandraLogRestoreWorker(
      nullptr, 6, recover, kDataDirs, kStaging, false, loader, &metadata, backupRefTime));
}

// A browsed item; `backupTime` < 0 makes one without its details.
CNMessageBase Item(const std::string& path, int64_t backupTime) {
  databrowse::BrowseData data;
  data.setPath(path);
  if (backupTime >= 0) {
    databrowse::BrowseItemDetails details;
    details.setBackupTime(backupTime);
    data.setDetails(details);
  }
  return data;
}

TEST(LogRestoreWorker, OptionsAlwaysStageTheLogsWhateverTheRestoreMode) {
  for (bool recover : {true, false}) {
    for (bool loader : {true, false}) {
      SCOPED_TRACE(std::string("recover ") + (recover ? "1" : "0") + " loader " +
                   (loader ? "1" : "0"));
      auto worker = MakeWorker(recover, loader, 0);
      std::string options;
      ASSERT_FALSE(worker->GetExtendedOptions(options).IsError());
      EXPECT_EQ(CExtendedOptions(options).items(),
                (Options{{"CassandraStagedRestore", "1"},
                         {"CassandraStagedRestoreStagingLoc", "nodeA:/stage/91##"}}));
    }
  }
}

TEST(LogRestoreItemFilter, ItemsBackedUpBeforeTheReferenceTimeAreSkippedAndCounted) {
  struct Case {
    const char* name;
    long referenceTime;
    std::vector<int64_t> times;
    std::vector<bool> skipped;
  } cases[] = {
      {"at the reference time kept, a second older skipped",
       1000,
       {1000, 999, 1001},
       {false, true, false}},
      {"an item without a backup time counts as backed up at 0", 1000, {-1}, {true}},
      {"reference time 0 skips nothing", 0, {0, 1, -1}, {false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto worker = MakeWorker(true, false, c.referenceTime);
    boost::shared_ptr<DistributedQEL::CRestoreItemCallBack> callBack;
    ASSERT_FALSE(worker->GetBrowseResponseCallBack(callBack).IsError());
    auto* filter = dynamic_cast<CCassandraLogRestoreItemCallBack*>(callBack.get());
    ASSERT_NE(filter, nullptr);
    std::vector<CNMessageBase> items;
    for (int64_t t : c.times)
      items.push_back(Item("/c1/dc1/nodeA/#COMMITLOG#/CommitLog-7-1.log", t));
    uint64_t expected = 0;
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(filter->ShouldSkipItem(items.begin() + i), c.skipped[i]) << "item " << i;
      expected += c.skipped[i] ? 1 : 0;
    }
    EXPECT_EQ(filter->getSkippedItemsCount(), expected);
  }
}

TEST(LogRestoreItemFilter, AWorkerThatIsNoCommitLogWorkerGivesReferenceTimeZero) {
  TQCassandra::CCassandraRestoreWorker plain(nullptr, 6, true, kDataDirs, kStaging, false, false,
                                             nullptr);
  std::vector<CNMessageBase> items = {Item("/c1/dc1/nodeA/#COMMITLOG#/CommitLog-7-1.log", 1)};
  for (DistributedQEL::IRestoreWorker* worker :
       {static_cast<DistributedQEL::IRestoreWorker*>(&plain),
        static_cast<DistributedQEL::IRestoreWorker*>(nullptr)}) {
    CCassandraLogRestoreItemCallBack filter(worker);
    EXPECT_FALSE(filter.ShouldSkipItem(items.begin()));
    EXPECT_EQ(filter.getSkippedItemsCount(), 0u);
  }
}

TEST(LogRestoreWorker, ProgressCarriesTheItemsTheCurrentFilterSkipped) {
  auto worker = MakeWorker(true, false, 1000);
  DistributedQEL::CRestoreStatistics statistics;
  statistics.itemsRestored = 4;
  statistics.bytesRestored = 400;
  statistics.skippedFilesCount = 1;
  // Before any filter exists the figures pass as they are.
  ASSERT_FALSE(worker->UpdateProgress(statistics).IsError());
  EXPECT_EQ(worker->getLastStatistics().skippedFilesCount, 1);

  boost::shared_ptr<DistributedQEL::CRestoreItemCallBack> first, second;
  ASSERT_FALSE(worker->GetBrowseResponseCallBack(first).IsError());
  std::vector<CNMessageBase> items = {Item("/a", 10), Item("/b", 20), Item("/c", 2000)};
  for (auto it = items.begin(); it != items.end(); ++it) first->ShouldSkipItem(it);
  ASSERT_FALSE(worker->UpdateProgress(statistics).IsError());
  EXPECT_EQ(worker->getLastStatistics().skippedFilesCount, 3);
  EXPECT_EQ(worker->getLastStatistics().itemsRestored, 4);
  EXPECT_EQ(worker->getLastStatistics().bytesRestored, 400);

  // A new task gets a new filter; only its own skips count from then on.
  ASSERT_FALSE(worker->GetBrowseResponseCallBack(second).IsError());
  EXPECT_NE(first.get(), second.get());
  second->ShouldSkipItem(items.begin());
  ASSERT_FALSE(worker->UpdateProgress(statistics).IsError());
  EXPECT_EQ(worker->getLastStatistics().skippedFilesCount, 2);
}

}  // namespace
