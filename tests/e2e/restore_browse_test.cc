// The restore launcher base browsing the index of real backup jobs of a
// generated cluster: the items of a selection, summed per archive file, within
// the to-time of the restore.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "E2eFixture.h"
#include "platform/base/FXString.h"
#include "platform/framework/StartClientRestoreDistributed.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/suite/PlatformInfo.h"

namespace {

using e2e::E2eTest;

// A launcher that keeps what the index answered before the base makes its
// records of it.
class CBrowseTestLauncher : public TQDC_FileSystem::CStartClientRestoreDistributed {
 public:
  struct Group {
    std::string path;
    int64_t archiveFileId = 0;
    int64_t files = 0;
    int64_t extents = 0;
  };

  CBrowseTestLauncher() : CStartClientRestoreDistributed(nullptr, nullptr, false, false) {
    perArchiveFileRecords = true;
    distributedRestore = true;
  }

  CQiError ProcessBrowseResponse(databrowse::BrowseResponseList& responses) override {
    ++pages;
    for (const auto& response : responses.getResponses()) {
      auto result = response.getResult();
      if (!result) continue;
      for (const auto& aggregate : result->getAggregates()) {
        aggregateTotal += aggregate.getExpectedItemTotal();
      }
      for (const auto& item : result->getData()) {
        auto details = item.getDetails();
        if (!details) continue;
        groups.push_back(Group{item.getPath(), details->getArchiveFileId(), details->getFileCount(),
                               details->getExtentCount()});
      }
    }
    return CStartClientRestore::ProcessBrowseResponse(responses);
  }

  int pages = 0;
  int64_t aggregateTotal = 0;
  std::vector<Group> groups;
};

struct Expected {
  int64_t files = 0;
  int64_t extents = 0;
};

bool Under(const std::string& path, const std::string& selection) {
  if (selection == "/**/*") return path != "/";
  return path == selection || path.compare(0, selection.size() + 1, selection + "/") == 0;
}

class RestoreBrowse : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    // Files above 300 bytes are stored as extents of 128 bytes.
    CRegistry::Instance().Set("FileSystemAgent", "nEnableExtentBackup", "1");
    CRegistry::Instance().Set("FileSystemAgent", "nExtentSize", "128");
    CRegistry::Instance().Set("FileSystemAgent", "nLargeFileThreshold", "300");
  }

  void TearDown() override {
    CRegistry::Instance().Remove("FileSystemAgent", "nEnableExtentBackup");
    CRegistry::Instance().Remove("FileSystemAgent", "nExtentSize");
    CRegistry::Instance().Remove("FileSystemAgent", "nLargeFileThreshold");
    E2eTest::TearDown();
  }

  // Describes restore job `jobId` of `selection` up to `toTime`.
  void DescribeRestore(int64_t jobId, const std::string& selection, int64_t toTime) {
    TqRunner::JobDescription description;
    description.jobId = jobId;
    description.jobType = "restore";
    description.startTime = toTime + 10;
    description.sourceInstanceId = harness_->State().instanceId;
    description.destInstanceId = harness_->State().instanceId;
    description.sourceAppType = TqHarness::CJobHarness::kAppType;
    description.backupSetId = 1;
    description.subclientId = static_cast<int64_t>(harness_->State().subclientId);
    description.toTime = toTime;
    description.pathList1 = {selection};
    ASSERT_FALSE(TqRunner::CJobRecordStore().WriteDescription(description).IsError());
  }

  // Newest stored version of every header path under `selection` of the
  // jobs (later jobs win), summed per archive file.
  std::map<int64_t, Expected> ExpectedGroups(const std::vector<int64_t>& jobs,
                                             const std::string& selection, int64_t& items) {
    std::map<std::string, std::pair<int64_t, int64_t>> newest;  // path -> afile, extents
    CArchiveStore store(harness_->SuiteHome());
    EXPECT_FALSE(store.Open().IsError());
    for (int64_t job : jobs) {
      std::vector<SStoredItem> stored;
      EXPECT_FALSE(store.ListItems(job, stored).IsError());
      for (const auto& item : stored) {
        if (!Under(item.headerPath, selection) || !item.complete) continue;
        int64_t extents = item.pieces.size() > 1 ? static_cast<int64_t>(item.pieces.size()) : 0;
        newest[item.headerPath] = {item.pieces.front().archiveFileId, extents};
      }
    }
    std::map<int64_t, Expected> groups;
    for (const auto& entry : newest) {
      groups[entry.second.first].files += 1;
      groups[entry.second.first].extents += entry.second.second;
    }
    items = static_cast<int64_t>(newest.size());
    return groups;
  }

  // Browses `selection` through the launcher and checks it against the store.
  void ExpectSelection(int64_t restoreJob, const std::string& selection, int64_t toTime,
                       const std::vector<int64_t>& jobsInRange) {
    SCOPED_TRACE(selection);
    DescribeRestore(restoreJob, selection, toTime);
    CBrowseTestLauncher launcher;
    ASSERT_FALSE(launcher
                     .Initialize(static_cast<int>(TqHarness::CJobHarness::kAppType), restoreJob, "",
                                 CProgramArgumentsPtr())
                     .IsError());
    FSRFIRInitData init;
    std::list<FSRSrcPath> srcPaths;
    std::list<RestoreRecord> records;
    unsigned long long itemCount = 0;
    CQiError error = launcher.getRestoreParameters(init, srcPaths, records, itemCount);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);

    int64_t items = 0;
    std::map<int64_t, Expected> expected = ExpectedGroups(jobsInRange, selection, items);
    ASSERT_GT(items, 0);
    EXPECT_EQ(launcher.pages, 1);
    EXPECT_EQ(launcher.aggregateTotal, items);
    EXPECT_EQ(itemCount, static_cast<unsigned long long>(items));
    EXPECT_EQ(launcher.getBrowseToTime(), toTime);
    EXPECT_EQ(init.toTime, toTime);
    EXPECT_EQ(init.numberOfSrcPaths, 1u);
    ASSERT_EQ(srcPaths.size(), 1u);
    EXPECT_EQ(srcPaths.front().path, selection);

    // Every group lies in the selection; per archive file the groups sum to
    // the stored items and their extents.
    std::map<int64_t, Expected> browsed;
    for (const auto& group : launcher.groups) {
      EXPECT_TRUE(Under(group.path, selection)) << group.path;
      browsed[group.archiveFileId].files += group.files;
      browsed[group.archiveFileId].extents += group.extents;
    }
    ASSERT_EQ(browsed.size(), expected.size());
    for (const auto& entry : expected) {
      ASSERT_TRUE(browsed.count(entry.first)) << "archive file " << entry.first;
      EXPECT_EQ(browsed[entry.first].files, entry.second.files) << "archive file " << entry.first;
      EXPECT_EQ(browsed[entry.first].extents, entry.second.extents)
          << "archive file " << entry.first;
    }

    // One record per archive file with its items and extents; the node of a
    // record is the instance of its items.
    std::set<int64_t> seen;
    for (const auto& record : records) {
      EXPECT_TRUE(seen.insert(record.archiveFileId).second) << record.AsString();
      ASSERT_TRUE(expected.count(record.archiveFileId)) << record.AsString();
      const Expected& e = expected[record.archiveFileId];
      EXPECT_EQ(record.fileCount, e.files) << record.AsString();
      EXPECT_EQ(record.extentCount, e.extents) << record.AsString();
      EXPECT_EQ(record.itemCount, e.files + e.extents) << record.AsString();
      EXPECT_EQ(record.hasExtents, e.extents > 0) << record.AsString();
      EXPECT_EQ(record.toTime, toTime);
      for (const auto& group : launcher.groups) {
        if (group.archiveFileId != record.archiveFileId) continue;
        std::vector<std::string> parts;
        FXString::Split(group.path, "/", parts);
        if (parts.size() > 3) {
          EXPECT_EQ(record.strNodeName, parts[3]) << group.path;
        }
      }
    }
    EXPECT_EQ(seen.size(), expected.size());
  }
};

TEST_F(RestoreBrowse, SelectionsGiveTheirItemsPerArchiveFileWithinTheToTime) {
  MakeCluster();
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  // The later job's items are newer than the first job's end by at least a
  // second, the to-time's resolution.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(1, 1024, added).IsError());
  TqRunner::JobResult incremental = Backup(TQBkpLevel_Incremental);
  ASSERT_TRUE(incremental.Completed());

  // The store holds extents, so their counts are checked for real.
  bool extents = false;
  {
    CArchiveStore store(harness_->SuiteHome());
    ASSERT_FALSE(store.Open().IsError());
    for (int64_t job : {full.jobId, incremental.jobId}) {
      std::vector<SStoredItem> stored;
      ASSERT_FALSE(store.ListItems(job, stored).IsError());
      for (const auto& item : stored) extents = extents || item.pieces.size() > 1;
    }
  }
  EXPECT_TRUE(extents);

  const struct {
    const char* selection;
  } kSelections[] = {
      {"/TestCluster"},                   // the whole cluster
      {"/TestCluster/dc1/node2"},         // a node
      {"/TestCluster/dc1/node1/ks2"},     // a keyspace
      {"/TestCluster/dc1/node3/ks1/t2"},  // a table
  };
  int64_t restoreJob = 1000;
  for (const auto& c : kSelections) {
    // Up to the first job's end: its items only.
    ExpectSelection(restoreJob++, c.selection, full.endTime, {full.jobId});
    // Up to the second job's end: the newest version of every item.
    ExpectSelection(restoreJob++, c.selection, incremental.endTime,
                    {full.jobId, incremental.jobId});
  }
}

TEST_F(RestoreBrowse, ASelectionWithNothingStoredBrowsesNoItems) {
  MakeCluster();
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  // Before the backup ran, nothing of it is in range.
  DescribeRestore(2000, "/TestCluster", full.startTime - 5);
  CBrowseTestLauncher launcher;
  ASSERT_FALSE(launcher.Initialize(64, 2000, "", CProgramArgumentsPtr()).IsError());
  FSRFIRInitData init;
  std::list<FSRSrcPath> srcPaths;
  std::list<RestoreRecord> records;
  unsigned long long itemCount = 99;
  ASSERT_FALSE(launcher.getRestoreParameters(init, srcPaths, records, itemCount).IsError());
  EXPECT_EQ(itemCount, 0u);
  EXPECT_TRUE(records.empty());
  EXPECT_TRUE(launcher.groups.empty());
}

}  // namespace

namespace {

TEST_F(RestoreBrowse, CommitLogPathsGiveTheArchivedSegmentsOfTheirNode) {
  TqSim::FixtureOptions options = e2e::SmallCluster();
  options.docker = true;
  options.commitLogSegments = 2;
  ASSERT_FALSE(harness_->CreateCluster(options).IsError());
  TqHarness::RegisterOptions registration;
  registration.commitLogBackup = true;
  ASSERT_FALSE(harness_->Register(registration).IsError());
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  TqHarness::BackupRequest request;
  request.commitLog = true;
  TqRunner::JobResult log;
  ASSERT_FALSE(harness_->RunBackup(request, log).IsError());
  ASSERT_TRUE(log.Completed());

  // The commit-log folder of each node that archived segments.
  std::set<std::string> logFolders;
  CArchiveStore store(harness_->SuiteHome());
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> stored;
  ASSERT_FALSE(store.ListItems(log.jobId, stored).IsError());
  for (const auto& item : stored) {
    const size_t at = item.headerPath.find("/#COMMITLOG#");
    if (at != std::string::npos) logFolders.insert(item.headerPath.substr(0, at + 12));
  }
  ASSERT_EQ(logFolders.size(), 3u);
  int64_t restoreJob = 3000;
  for (const auto& folder : logFolders) {
    ExpectSelection(restoreJob++, folder, log.endTime, {full.jobId, log.jobId});
  }
  // A node's data selection holds no commit logs of the node.
  const std::string node = logFolders.begin()->substr(0, logFolders.begin()->size() - 12);
  ExpectSelection(restoreJob++, node + "/ks1", log.endTime, {full.jobId, log.jobId});
}

}  // namespace
