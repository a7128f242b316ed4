// The Cassandra restore launcher against the catalog of a real backup of a
// generated 3-node cluster: each selection gives records of exactly its
// nodes, counting exactly the files stored under it.

#include <gtest/gtest.h>

#include <set>

#include "E2eFixture.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/suite/EvRstTask.h"
#include "restore/StartClientRestoreCassandra.h"

namespace e2e {
namespace {

constexpr int64_t kRestoreJob = 900;

class LauncherCatalogTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    MakeCluster();
    TqRunner::JobResult backup = Backup(TQBkpLevel_Full);
    ASSERT_TRUE(backup.Completed());
    backupJob_ = backup.jobId;
    CArchiveStore store(harness_->SuiteHome());
    ASSERT_FALSE(store.Open().IsError());
    ASSERT_FALSE(store.ListItems(backupJob_, items_).IsError());
    for (const auto& node : harness_->State().nodes) {
      sourceDCmap_[node.dataCenter].push_back(node.name);
    }
  }

  // Runs the launcher of a restore job that selects `selections`.
  CQiError Launch(const std::vector<std::string>& selections, bool subclientRestore,
                  std::list<RestoreRecord>& records, unsigned long long& itemCount,
                  std::vector<std::string>* taskPaths = nullptr) {
    TqRunner::JobDescription d;
    d.jobId = kRestoreJob;
    d.jobType = "restore";
    d.ombrelId = 2;
    d.sourceInstanceId = harness_->State().instanceId;
    d.destInstanceId = harness_->State().instanceId;
    d.subclientId = static_cast<int64_t>(harness_->State().subclientId);
    d.pathList1 = selections;
    EXPECT_FALSE(TqRunner::CJobRecordStore().WriteDescription(d).IsError());
    TQCassandra::CStartClientRestoreCassandra launcher(nullptr, nullptr, false, subclientRestore,
                                                       false, sourceDCmap_);
    launcher.setJobId(kRestoreJob);
    FSRFIRInitData init;
    std::list<FSRSrcPath> sources;
    CQiError e = launcher.getRestoreParameters(init, sources, records, itemCount);
    if (taskPaths) *taskPaths = launcher.GetRestoreTask()->getPaths(EvRstTask::kSourcePaths);
    EXPECT_EQ(launcher.getNumberOfCommitLogItems(), 0);
    return e;
  }

  // Stored items of the backup (directories included) at or below `prefix`.
  int64_t ItemsUnder(const std::string& prefix) const {
    int64_t count = 0;
    for (const auto& item : items_) {
      if (item.headerPath == prefix ||
          item.headerPath.compare(0, prefix.size() + 1, prefix + "/") == 0) {
        ++count;
      }
    }
    return count;
  }
  // The keyspace and table of some stored data file.
  void SomeTable(std::string& keyspace, std::string& table) const {
    for (const auto& item : items_) {
      std::vector<std::string> parts;
      size_t start = 1;
      while (start <= item.headerPath.size()) {
        size_t slash = item.headerPath.find('/', start);
        if (slash == std::string::npos) slash = item.headerPath.size();
        parts.push_back(item.headerPath.substr(start, slash - start));
        start = slash + 1;
      }
      if (!item.isDirectory && parts.size() == 6) {
        keyspace = parts[3];
        table = parts[4];
        return;
      }
    }
  }
  static std::set<std::string> NodesOf(const std::list<RestoreRecord>& records) {
    std::set<std::string> nodes;
    // Items above the node level (the cluster's and data centres' folders)
    // name no node.
    for (const auto& r : records) {
      if (!r.strNodeName.empty()) nodes.insert(r.strNodeName);
    }
    return nodes;
  }
  static int64_t FileCount(const std::list<RestoreRecord>& records) {
    int64_t files = 0;
    for (const auto& r : records) files += r.fileCount;
    return files;
  }

  int64_t backupJob_ = 0;
  std::vector<SStoredItem> items_;
  std::map<std::string, std::list<std::string>> sourceDCmap_;
};

TEST_F(LauncherCatalogTest, EachSelectionGivesTheRecordsOfItsNodes) {
  const TqHarness::CHarnessState& state = harness_->State();
  const std::string cluster = "/" + state.clusterName;
  const TqHarness::HarnessNode& node1 = state.nodes.front();
  const std::string nodePath = cluster + "/" + node1.dataCenter + "/" + node1.name;
  std::string keyspace, table;
  SomeTable(keyspace, table);
  ASSERT_FALSE(keyspace.empty());

  struct Case {
    std::string name;
    std::vector<std::string> selections;
    std::string prefix;
    std::set<std::string> nodes;
  } cases[] = {
      {"the whole cluster", {cluster}, cluster, {"node1", "node2", "node3"}},
      {"one node", {nodePath}, nodePath, {"node1"}},
      {"one keyspace of one node",
       {nodePath + "/" + keyspace},
       nodePath + "/" + keyspace,
       {"node1"}},
      {"one table of one node",
       {nodePath + "/" + keyspace + "/" + table},
       nodePath + "/" + keyspace + "/" + table,
       {"node1"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::list<RestoreRecord> records;
    unsigned long long itemCount = 0;
    std::vector<std::string> taskPaths;
    CQiError e = Launch(k.selections, false, records, itemCount, &taskPaths);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(NodesOf(records), k.nodes);
    EXPECT_EQ(FileCount(records), ItemsUnder(k.prefix));
    EXPECT_GT(FileCount(records), 0);
    if (k.selections.front().size() > nodePath.size()) {
      // A keyspace-level selection brings its instance's commit-log path.
      EXPECT_EQ(taskPaths.back(), nodePath + "/#COMMITLOG#");
    }
  }
}

TEST_F(LauncherCatalogTest, ASubclientRestoreOfAKeyspaceBrowsesEveryNode) {
  std::string keyspace, table;
  SomeTable(keyspace, table);
  std::list<RestoreRecord> records;
  unsigned long long itemCount = 0;
  CQiError e = Launch({"/" + keyspace}, true, records, itemCount);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_EQ(NodesOf(records), (std::set<std::string>{"node1", "node2", "node3"}));
  int64_t expected = 0;
  for (const auto& node : harness_->State().nodes) {
    expected += ItemsUnder("/" + harness_->State().clusterName + "/" + node.dataCenter + "/" +
                           node.name + "/" + keyspace);
  }
  EXPECT_EQ(FileCount(records), expected);
}

}  // namespace
}  // namespace e2e
