// The client restore launcher: the to-time of its browse, the browse paths of a
// restore (commit-log paths, cluster and data-centre expansion, the per-node
// paths of a subclient restore), the source paths of a subclient restore and
// the restore records made of browse answers with their totals.

#include <gtest/gtest.h>

#include "RestoreCoordinatorFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/msg/BrowseRecords.h"
#include "restore/StartClientRestoreCassandra.h"

namespace restoretest {
namespace {

using SourceDCMap = std::map<std::string, std::list<std::string>>;

// Opens the launcher's members to the tests.
class LauncherProbe : public TQCassandra::CStartClientRestoreCassandra {
 public:
  LauncherProbe(bool subclientRestore, bool stageFreeRestore, const SourceDCMap& map)
      : CStartClientRestoreCassandra(nullptr, nullptr, false, subclientRestore, stageFreeRestore,
                                     map) {}
  using CStartClientRestoreCassandra::browsePathList;
  using CStartClientRestoreCassandra::browseRequest;
  using CStartClientRestoreCassandra::clusterName;
  using CStartClientRestoreCassandra::clusterNodes;
  using CStartClientRestoreCassandra::filterList;
  using CStartClientRestoreCassandra::instanceId;
  using CStartClientRestoreCassandra::restoreRecordList;
  using CStartClientRestoreCassandra::skipSourcePathsFromBrowse;
  using CStartClientRestoreCassandra::srcPathList;
  using CStartClientRestoreCassandra::stripLevelList;
  using CStartClientRestoreCassandra::subclientId;
  using CStartClientRestoreCassandra::totalItemsExpected;
  using CStartClientRestoreCassandra::useAlternatePathDelimiter;
};

std::vector<std::string> RequestPaths(const databrowse::BrowseRequest& request) {
  std::vector<std::string> out;
  for (const auto& path : request.getPaths()) out.push_back(path.getPath());
  return out;
}

// One browse item of the answer: path, archive file, group, file and extent
// counts.
databrowse::BrowseData Item(const std::string& path, int64_t archiveFile, int64_t group,
                            int64_t files, int64_t extents = 0, const std::string& afileType = "") {
  databrowse::BrowseItemDetails details;
  details.setArchiveFileId(archiveFile);
  details.setArchiveGroup(group);
  details.setFileCount(files);
  details.setExtentCount(extents);
  TqEntities::OmbrelEntity ombrel;
  ombrel.setOmbrelId(2);
  details.setOmbrel(ombrel);
  if (!afileType.empty()) {
    databrowse::AdditionalFlag flag;
    flag.setKey(I2::RESTORE_AFILE_TYPES::KEY_NAME);
    flag.setValue(afileType);
    databrowse::AdditionalFlagList list;
    list.setFlags({flag});
    databrowse::BrowseFlags flags;
    flags.setAdditionalFlags(list);
    details.setFlags(flags);
  }
  databrowse::BrowseData data;
  data.setPath(path);
  data.setDetails(details);
  return data;
}

databrowse::BrowseResponseList Answer(int64_t expected,
                                      const std::vector<databrowse::BrowseData>& items) {
  databrowse::AggregateResult aggregate;
  aggregate.setExpectedItemTotal(expected);
  databrowse::BrowseResult result;
  result.setAggregates({aggregate});
  result.setData(items);
  databrowse::BrowseResponse response;
  response.setStatus(0);
  response.setResult(result);
  databrowse::BrowseResponseList list;
  list.setResponses({response});
  return list;
}

class LauncherTest : public RestoreCoordinatorTest {
 protected:
  static constexpr int64_t kJobId = 61;

  // The restore task of job kJobId with these selections and filters.
  EvRstTask& Task(const std::vector<std::string>& selections,
                  const std::vector<std::string>& filters = {}) {
    TqRunner::JobDescription d = Description(kJobId);
    d.pathList1 = selections;
    d.pathList2 = filters;
    d.xmlOptions = JobOptionXml(true, true);
    StoreDescription(d);
    task_.reset(new EvRstTask(kJobId, 0, nullptr, false, false));
    return *task_;
  }
  LauncherProbe& Launcher(bool subclientRestore, const SourceDCMap& map = {},
                          bool stageFree = false) {
    launcher_.reset(new LauncherProbe(subclientRestore, stageFree, map));
    launcher_->setRestoreTask(task_.get());
    return *launcher_;
  }

  // A destination instance whose stored nodes are these records.
  uint64_t NodesInstance(const std::vector<App::CassandraNode>& nodes) {
    SInstanceSettings settings = InstanceSettings("dest", {});
    settings.clusterName = "c";
    uint64_t id = Instance(settings);
    EditInstance(id, [&](SInstanceRecord& r) {
      r.clusterName = "c";
      r.nodeXmls.clear();
      for (const auto& node : nodes) {
        std::string xml;
        EXPECT_EQ(node.serialize(xml), 0);
        r.nodeXmls.push_back(xml);
      }
    });
    return id;
  }
  static App::CassandraNode StoredNode(const std::string& client, const std::string& dataCenter,
                                       const std::string& agentName = "") {
    App::CassandraNode node;
    TqEntities::ClientEntity entity;
    entity.setClientId(7);
    entity.setClientName(client);
    node.setClient(entity);
    node.setDataCenter(dataCenter);
    if (!agentName.empty()) node.setAgentInstanceName(agentName);
    return node;
  }

  std::unique_ptr<EvRstTask> task_;
  std::unique_ptr<LauncherProbe> launcher_;
};

// A data restore's items are those of its to-time: widened by the commit-log
// archiving interval, the browse would bring back a later backup's data.
TEST_F(LauncherTest, ADataRestoreBrowsesUpToItsOwnToTime) {
  for (const char* interval : {"", "5"}) {
    for (long given : {1000L, 0L}) {
      SCOPED_TRACE(std::string(interval) + " " + std::to_string(given));
      SetSwitch("nCommitlogBackupInterval", interval);
      LauncherProbe& l = Launcher(false);
      long toTime = given;
      CLogCapture log;
      ASSERT_FALSE(l.getToTime(toTime, false).IsError());
      EXPECT_EQ(toTime, given);
      EXPECT_FALSE(log.Contains("Changing ToTime to"));
    }
  }
}

TEST_F(LauncherTest, SelectionsGainCommitLogPathsAndExpandOverTheSourceDataCentres) {
  const SourceDCMap map = {{"dc1", {"a", "b"}}, {"dc2", {"c"}}};
  struct Case {
    const char* name;
    std::vector<std::string> selections;
    std::vector<std::string> added;
  } cases[] = {
      {"tables of one node: its commit-log path once",
       {"/c/dc1/a/ks/t1", "/c/dc1/a/ks/t2", "/c/dc1/a/ks2"},
       {"/c/dc1/a/#COMMITLOG#"}},
      {"tables of two nodes",
       {"/c/dc1/a/ks/t1", "/c/dc2/c/ks/t1"},
       {"/c/dc1/a/#COMMITLOG#", "/c/dc2/c/#COMMITLOG#"}},
      {"a cluster", {"/c"}, {"/c/dc1", "/c/dc1/a", "/c/dc1/b", "/c/dc2", "/c/dc2/c"}},
      {"a data centre", {"/c/dc1"}, {"/c/dc1/a", "/c/dc1/b"}},
      {"a node", {"/c/dc1/a"}, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Task(k.selections);
    LauncherProbe& l = Launcher(false, map);
    ASSERT_FALSE(l.CreateBrowseRequest().IsError());
    std::vector<std::string> expected = k.selections;
    expected.insert(expected.end(), k.added.begin(), k.added.end());
    EXPECT_EQ(task_->getPaths(EvRstTask::kSourcePaths), expected);
    ASSERT_TRUE(l.browseRequest.getOptions());
    EXPECT_EQ(l.browseRequest.getOptions()->getint64(62), 1);
  }
}

TEST_F(LauncherTest, SubclientRestoreBrowsesEveryNodeOfTheInstance) {
  const uint64_t instance =
      NodesInstance({StoredNode("n1", "dc1"), StoredNode("host2", "dc2", "host2_10.0.0.2")});
  struct Case {
    const char* name;
    std::vector<std::string> selections;
    std::vector<std::string> paths;
  } cases[] = {
      {"everything",
       {"/"},
       {"/**/*", "/c/dc1/n1/#COMMITLOG#", "/c/dc2/host2_10.0.0.2/#COMMITLOG#"}},
      {"a path of another form",
       {"/a/b/c"},
       {"/**/*", "/c/dc1/n1/#COMMITLOG#", "/c/dc2/host2_10.0.0.2/#COMMITLOG#"}},
      {"a keyspace",
       {"/ks"},
       {"/c/dc1/n1/ks", "/c/dc2/host2_10.0.0.2/ks", "/c/dc1/n1/#COMMITLOG#",
        "/c/dc2/host2_10.0.0.2/#COMMITLOG#"}},
      {"a table and an empty selection",
       {"", "/ks/t"},
       {"/c/dc1/n1/ks/t", "/c/dc2/host2_10.0.0.2/ks/t", "/c/dc1/n1/#COMMITLOG#",
        "/c/dc2/host2_10.0.0.2/#COMMITLOG#"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Task(k.selections);
    LauncherProbe& l = Launcher(true);
    l.instanceId = instance;
    databrowse::BrowseRequest request;
    ASSERT_TRUE(l.fillBrowsePaths(request));
    EXPECT_EQ(RequestPaths(request), k.paths);
    EXPECT_EQ(l.browsePathList, k.paths);
    EXPECT_EQ(l.clusterName, "c");
    EXPECT_EQ(l.clusterNodes.size(), 2u);
  }
}

// A launcher asked twice reads the instance afresh: neither its node list nor
// its browse paths grow across calls.
TEST_F(LauncherTest, ASecondFillKeepsNoListGrowing) {
  const uint64_t instance = NodesInstance({StoredNode("n1", "dc1"), StoredNode("n2", "dc1")});
  Task({"/ks"});
  LauncherProbe& l = Launcher(true);
  l.instanceId = instance;
  databrowse::BrowseRequest first, second;
  ASSERT_TRUE(l.fillBrowsePaths(first));
  ASSERT_TRUE(l.fillBrowsePaths(second));
  EXPECT_EQ(l.clusterNodes.size(), 2u);
  EXPECT_EQ(l.browsePathList, RequestPaths(second));
  EXPECT_EQ(l.browsePathList.size(), 4u);
}

TEST_F(LauncherTest, AnInstanceTheCentralServerCannotGiveFailsTheFill) {
  Task({"/ks"});
  LauncherProbe& l = Launcher(true);
  l.instanceId = 4711;
  databrowse::BrowseRequest request;
  CLogCapture log;
  EXPECT_FALSE(l.fillBrowsePaths(request));
  EXPECT_TRUE(log.Contains("Stored procedure to get instance properties failed with an error"));
  EXPECT_TRUE(RequestPaths(request).empty());
}

TEST_F(LauncherTest, StageFreeRestoreBuildsOnlyTheSubclientPaths) {
  const uint64_t instance = NodesInstance({StoredNode("n1", "dc1")});
  Task({"/c/dc1/n1/ks/t"});
  LauncherProbe& plain = Launcher(false, {}, true);
  ASSERT_FALSE(plain.CreateBrowseRequest().IsError());
  EXPECT_TRUE(RequestPaths(plain.browseRequest).empty());
  EXPECT_EQ(task_->getPaths(EvRstTask::kSourcePaths).size(), 1u);

  Task({"/ks"});
  LauncherProbe& subclient = Launcher(true, {}, true);
  subclient.instanceId = instance;
  ASSERT_FALSE(subclient.CreateBrowseRequest().IsError());
  EXPECT_EQ(RequestPaths(subclient.browseRequest),
            (std::vector<std::string>{"/c/dc1/n1/ks", "/c/dc1/n1/#COMMITLOG#"}));

  LauncherProbe& failing = Launcher(true, {}, true);
  failing.instanceId = 4711;
  CQiError e = failing.CreateBrowseRequest();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetMessage(), "Failed to set browse paths for launching browse/find");
}

TEST_F(LauncherTest, SubclientSourcePathsComeFromTheBrowsePaths) {
  const uint64_t instance = NodesInstance({StoredNode("n1", "dc1")});
  Task({"/ks/t"}, {"/c/dc1/n1/ks/t/skip-me"});
  LauncherProbe& l = Launcher(true);
  l.instanceId = instance;
  databrowse::BrowseRequest request;
  ASSERT_TRUE(l.fillBrowsePaths(request));
  ASSERT_FALSE(l.prepareScPaths().IsError());
  EXPECT_EQ(std::vector<std::string>(l.srcPathList.begin(), l.srcPathList.end()),
            (std::vector<std::string>{"/c/dc1/n1/ks/t", "/c/dc1/n1/#COMMITLOG#"}));
  EXPECT_EQ(
      std::vector<int>(l.stripLevelList.begin(), l.stripLevelList.end()),
      (std::vector<int>{
          CStartClientRestore::computeStripLevelSuper(task_.get(), "/c/dc1/n1/ks/t"),
          CStartClientRestore::computeStripLevelSuper(task_.get(), "/c/dc1/n1/#COMMITLOG#")}));
  EXPECT_EQ(std::vector<std::string>(l.filterList.begin(), l.filterList.end()),
            std::vector<std::string>{"/c/dc1/n1/ks/t/skip-me"});
}

TEST_F(LauncherTest, CleanupAndEmptySourcePaths) {
  Task({"/ks"});
  LauncherProbe& cleanup = Launcher(true);
  cleanup.setDoCleanup(true);
  ASSERT_FALSE(cleanup.prepareScPaths().IsError());
  EXPECT_EQ(std::vector<std::string>(cleanup.srcPathList.begin(), cleanup.srcPathList.end()),
            std::vector<std::string>{"cleanup"});

  LauncherProbe& empty = Launcher(true);
  CQiError e = empty.prepareScPaths();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627));
  EXPECT_EQ(e.GetMessage(), "srcpaths is empty");

  LauncherProbe& skipped = Launcher(true);
  skipped.browsePathList = {"/c/dc1/n1/ks"};
  skipped.skipSourcePathsFromBrowse = 1;
  e = skipped.prepareScPaths();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetMessage(), "srcpaths is empty");
}

TEST_F(LauncherTest, BrowseAnswersBecomeRecordsAndTheirTotalsAreChecked) {
  struct Case {
    const char* name;
    int64_t expected;
    std::vector<databrowse::BrowseData> items;
    bool passes;
    size_t records;
    int64_t commitLogs;
  } cases[] = {
      {"7 data and 3 commit-log files of 10",
       10,
       {Item("/c/dc1/n1/ks/t/f1", 5, 1, 4), Item("/c/dc1/n2/ks/t/f2", 6, 1, 3),
        Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", 9, 1, 3)},
       true,
       2,
       3},
      {"7 data and 2 commit-log files of 10",
       10,
       {Item("/c/dc1/n1/ks/t/f1", 5, 1, 4), Item("/c/dc1/n2/ks/t/f2", 6, 1, 3),
        Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", 9, 1, 2)},
       false,
       2,
       2},
      {"a repeated item with extents counts once",
       7,
       {Item("/c/dc1/n1/ks/t/f1", 5, 1, 4, 2), Item("/c/dc1/n1/ks/t/f9", 5, 1, 4, 2),
        Item("/c/dc1/n2/ks/t/f2", 6, 1, 3)},
       true,
       2,
       0},
      {"the same figures of one archive file for two nodes are two records",
       8,
       {Item("/c/dc1/n1/ks/t/f1", 5, 1, 4), Item("/c/dc1/n2/ks/t/f1", 5, 1, 4)},
       true,
       2,
       0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Task({"/c"});
    LauncherProbe& l = Launcher(false);
    databrowse::BrowseResponseList answer = Answer(k.expected, k.items);
    CQiError e = l.ProcessBrowseResponse(answer);
    EXPECT_EQ(e.IsError() != 0, !k.passes) << e.AsString();
    if (!k.passes) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627));
      EXPECT_EQ(e.GetMessage(),
                "Total aggregate 10 is not equal to total aggregate of files per AFile value 7");
    }
    EXPECT_EQ(l.restoreRecordList.size(), k.records);
    EXPECT_EQ(l.getNumberOfCommitLogItems(), k.commitLogs);
  }
}

TEST_F(LauncherTest, RecordsNameTheirNodeAndArchiveFile) {
  Task({"/c"});
  LauncherProbe& l = Launcher(false);
  databrowse::BrowseResponseList answer =
      Answer(6, {Item("/c/dc1/n1/ks/t/f1", 5, 3, 4, 2, "2"), Item("/c/dc2/n2/ks/t/f2", 6, 3, 2),
                 Item("", 8, 3, 0)});
  ASSERT_FALSE(l.ProcessBrowseResponse(answer).IsError());
  ASSERT_EQ(l.restoreRecordList.size(), 2u);
  const RestoreRecord& first = l.restoreRecordList.front();
  EXPECT_EQ(first.strNodeName, "n1");
  EXPECT_EQ(first.archiveFileId, 5);
  EXPECT_EQ(first.archiveGroupId, 3);
  EXPECT_EQ(first.itemCount, 6);
  EXPECT_TRUE(first.hasExtents);
  EXPECT_EQ(first.archiveFileType, 2);
  EXPECT_EQ(first.installationDomainId, 2);
  const RestoreRecord& second = l.restoreRecordList.back();
  EXPECT_EQ(second.strNodeName, "n2");
  EXPECT_EQ(second.itemCount, 2);
  EXPECT_FALSE(second.hasExtents);
  EXPECT_EQ(second.archiveFileType, I2::RESTORE_AFILE_TYPES::TAPE);
}

// Each page of a paged answer carries its own total: each passes its check,
// and the commit-log count adds up over the pages.
TEST_F(LauncherTest, EachPageIsCheckedAgainstItsOwnTotal) {
  Task({"/c"});
  LauncherProbe& l = Launcher(false);
  databrowse::BrowseResponseList page1 =
      Answer(5, {Item("/c/dc1/n1/ks/t/f1", 5, 1, 4),
                 Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", 9, 1, 1)});
  databrowse::BrowseResponseList page2 =
      Answer(5, {Item("/c/dc1/n2/ks/t/f2", 6, 1, 3),
                 Item("/c/dc1/n2/#COMMITLOG#/CommitLog-7-2.log", 10, 1, 2)});
  ASSERT_FALSE(l.ProcessBrowseResponse(page1).IsError());
  CQiError e = l.ProcessBrowseResponse(page2);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_EQ(l.getNumberOfCommitLogItems(), 3);
  EXPECT_EQ(l.restoreRecordList.size(), 2u);
  EXPECT_EQ(l.totalItemsExpected, 10u);
}

}  // namespace
}  // namespace restoretest
