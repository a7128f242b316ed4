// The commit-log launcher: its browse reaches one archiving interval past the
// to-time; of a browse answer only the "#COMMITLOG#" items become restore
// records, the other items count as skipped in the totals check, and a
// stage-free job lowers the expected total by them.

#include <gtest/gtest.h>

#include "RestoreCoordinatorFixture.h"
#include "logrestore/StartClientRestoreCassandraLog.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/msg/BrowseRecords.h"

namespace restoretest {
namespace {

class LogLauncherProbe : public TQCassandra::CStartClientRestoreCassandraLog {
 public:
  LogLauncherProbe() : CStartClientRestoreCassandraLog(nullptr, nullptr, false, false) {}
  using CStartClientRestoreCassandraLog::restoreRecordList;
  using CStartClientRestoreCassandraLog::totalItemsExpected;
};

databrowse::BrowseData Item(const std::string& path, int64_t archiveFile, int64_t files) {
  databrowse::BrowseItemDetails details;
  details.setArchiveFileId(archiveFile);
  details.setArchiveGroup(3);
  details.setFileCount(files);
  details.setExtentCount(0);
  TqEntities::OmbrelEntity ombrel;
  ombrel.setOmbrelId(2);
  details.setOmbrel(ombrel);
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

// "<node>:<archive file>:<item count>" per record.
std::vector<std::string> Records(const LogLauncherProbe& l) {
  std::vector<std::string> out;
  for (const RestoreRecord& r : l.restoreRecordList) {
    out.push_back(r.strNodeName + ":" + std::to_string(r.archiveFileId) + ":" +
                  std::to_string(r.itemCount));
  }
  return out;
}

class LogLauncherTest : public RestoreCoordinatorTest {
 protected:
  static constexpr int64_t kJobId = 63;

  LogLauncherProbe& Launcher(const std::string& optionsXml) {
    TqRunner::JobDescription d = Description(kJobId);
    d.pathList1 = {"/c"};
    d.xmlOptions = optionsXml;
    StoreDescription(d);
    task_.reset(new EvRstTask(kJobId, 0, nullptr, false, false));
    launcher_.reset(new LogLauncherProbe());
    launcher_->setRestoreTask(task_.get());
    return *launcher_;
  }
  static std::string Options(bool stageFree) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setStageFreeRestore(stageFree ? 1 : 0);
    return JobOptionXml(true, true, &options);
  }

  std::unique_ptr<EvRstTask> task_;
  std::unique_ptr<LogLauncherProbe> launcher_;
};

const std::vector<databrowse::BrowseData> kMixed = {
    Item("/c/dc1/n1/ks/t/f1", 5, 4),
    Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", 9, 3),
    Item("/c/dc1/n2/ks/t/f2", 6, 3),
    Item("/c/dc1/n2/#COMMITLOG#/CommitLog-7-2.log", 9, 2),
};

// Logs archived within one archiving interval after the to-time still hold
// writes made before it: the browse reaches that far.
TEST_F(LogLauncherTest, ToTimeIsWidenedByTheCommitLogBackupInterval) {
  struct Case {
    const char* interval;
    long toTime;
    long expected;
  } cases[] = {{"", 1000, 1000 + 1800},
               {"5", 1000, 1000 + 300},
               {"0", 1000, 1000},
               {"5", 0, 0}};  // an open to-time stays open
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.interval) + " " + std::to_string(k.toTime));
    SetSwitch("nCommitlogBackupInterval", k.interval);
    LogLauncherProbe& l = Launcher(Options(false));
    long toTime = k.toTime;
    CLogCapture log;
    ASSERT_FALSE(l.getToTime(toTime, false).IsError());
    EXPECT_EQ(toTime, k.expected);
    if (k.toTime != 0) {
      EXPECT_EQ(log.Contains("Unable to fetch registry value name for Commit log backup interval"),
                std::string(k.interval).empty());
      EXPECT_TRUE(log.Contains("Changing ToTime to " + std::to_string(k.expected)));
    }
  }
}

TEST_F(LogLauncherTest, OnlyCommitLogsBecomeRecordsAndTheTotalsCheckHolds) {
  struct Case {
    const char* name;
    int64_t expected;
    bool passes;
  } cases[] = {
      {"5 commit logs and 7 skipped files of 12", 12, true},
      {"a total the items do not make", 11, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    LogLauncherProbe& l = Launcher(Options(false));
    databrowse::BrowseResponseList answer = Answer(k.expected, kMixed);
    CQiError e = l.ProcessBrowseResponse(answer);
    EXPECT_EQ(e.IsError() == 0, k.passes) << e.AsString();
    if (!k.passes) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627));
      EXPECT_EQ(e.GetMessage(),
                "Total aggregate 11 is not equal to total aggregate of files per AFile value 5");
    }
    // The logs of two nodes in one archive file are one record per node.
    EXPECT_EQ(Records(l), (std::vector<std::string>{"n1:9:3", "n2:9:2"}));
    EXPECT_EQ(l.getNumberOfCommitLogItems(), 0);
    if (k.passes) {
      EXPECT_EQ(l.totalItemsExpected, 12u);
    }
  }
}

TEST_F(LogLauncherTest, MoreLogsOfANodeInOneArchiveFileJoinItsRecord) {
  LogLauncherProbe& l = Launcher(Options(false));
  databrowse::BrowseResponseList answer =
      Answer(6, {Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", 9, 3),
                 Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-2.log", 9, 1),
                 Item("/c/dc1/n1/#COMMITLOG#/CommitLog-7-3.log", 10, 1), Item("", 11, 1)});
  CQiError e = l.ProcessBrowseResponse(answer);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  // The item without a path counts but makes no record.
  EXPECT_EQ(Records(l), (std::vector<std::string>{"n1:9:4", "n1:10:1"}));
}

TEST_F(LogLauncherTest, AStageFreeJobLowersTheTotalByTheSkippedItems) {
  LogLauncherProbe& l = Launcher(Options(true));
  databrowse::BrowseResponseList answer = Answer(12, kMixed);
  ASSERT_FALSE(l.ProcessBrowseResponse(answer).IsError());
  EXPECT_EQ(l.totalItemsExpected, 5u);
}

TEST_F(LogLauncherTest, JobOptionsThatCannotBeReadFailTheBrowse) {
  struct Case {
    const char* name;
    std::string xml;
    std::string message;
  } cases[] = {
      {"none", "", "Failed to get job options"},
      {"not a record", "<not-a-record", "Failed to get unserialize job options"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    LogLauncherProbe& l = Launcher(k.xml);
    databrowse::BrowseResponseList answer = Answer(12, kMixed);
    CQiError e = l.ProcessBrowseResponse(answer);
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627)) << e.AsString();
    EXPECT_EQ(e.GetMessage(), k.message);
    EXPECT_TRUE(l.restoreRecordList.empty());
  }
}

}  // namespace
}  // namespace restoretest
