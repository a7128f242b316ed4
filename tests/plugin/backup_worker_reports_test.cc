// The backup controller's start-up and done reports: what each start-up
// report carries, the node's backup time and per-keyspace status, keyspaces
// whose files failed in the workers, and the reports that carry nothing.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "backup/CassandraBackupWorker.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/objectops/InMemoryDataStream.h"
#include "sim/lib/SimTableDir.h"

namespace {

using bctest::JobArguments;
using bctest::Option;
using Values = std::vector<std::pair<std::string, std::string>>;

constexpr uint32_t kKeyspaceBackupFailed = 0x60003D1;

Values ValuesOf(const std::vector<DistributedQEL::DINameValue>& list) {
  Values values;
  for (const auto& v : list) values.emplace_back(v.getName(), v.getValue());
  return values;
}

// Keyspace name and status per instance, from a done report's status text.
std::vector<std::pair<std::string, Values>> StatusOf(const std::string& xml) {
  App::CassandraLastBackupStatus status;
  EXPECT_EQ(status.unserialize(xml), 0) << xml;
  std::vector<std::pair<std::string, Values>> out;
  for (const auto& node : status.getNodeStatuses()) {
    Values keyspaces;
    for (const auto& k : node.getKeyspaceStatuses()) {
      EXPECT_TRUE(k.hasStatus());
      keyspaces.emplace_back(k.getKeyspaceName(), std::to_string(k.getStatus()));
    }
    out.emplace_back(node.getInstanceName(), keyspaces);
  }
  return out;
}

Values AllKeyspaces(const std::string& status, const std::string& failed = "",
                    const std::string& failedStatus = "0") {
  Values keyspaces;
  for (const char* name : {"ks1", "ks2", "ks3", "ks4"})
    keyspaces.emplace_back(name, name == failed ? failedStatus : status);
  return keyspaces;
}

class Reports : public bctest::ScriptedControllerTest {
 protected:
  Values Startup() {
    DistributedQEL::ControllerStartup report;
    EXPECT_FALSE(controller_->SetAdditionalStartupValues(report).IsError());
    EXPECT_TRUE(report.isSet(9));
    return ValuesOf(report.getValues());
  }
  DistributedQEL::ControllerDone Done() {
    DistributedQEL::ControllerDone report;
    EXPECT_FALSE(controller_->SetAdditionalCtrlDoneValues(report).IsError());
    return report;
  }
  // The instance of node 1 has a Priam that does not start.
  void SecondPriamFails() {
    priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1627, "no JVM"),
                          cluster_.nodes[1].confDir);
  }
};

TEST_F(Reports, TheFirstStartupReportOnlyAnnouncesTheController) {
  bctest::Controller& controller = StartController(JobArguments());
  CLogCapture log;
  EXPECT_EQ(Startup(), (Values{{"CassandraStartup", "y"}}));
  EXPECT_TRUE(log.Contains("Setting CassandraStartup on startup message"));
  EXPECT_TRUE(controller.Config()->startupSent);
  // A later report before any request carries nothing.
  EXPECT_EQ(Startup(), Values{});
}

// "CreateCollectFiles" = "n": the failed instance, no collect-file range; the
// done report gives backup time 0 and status 1 for each keyspace of the
// instance whose Priam runs.
TEST_F(Reports, ASkippingNodeReportsItsFailedInstanceAndNoCollectFiles) {
  SecondPriamFails();
  bctest::Controller& controller = StartController(JobArguments());
  EXPECT_EQ(Startup(), (Values{{"CassandraStartup", "y"}}));
  ASSERT_FALSE(Send(Request(2, {Option("CreateCollectFiles", "n")})).IsError());
  ASSERT_TRUE(controller.collectFilesSkipped);
  CLogCapture log;
  EXPECT_EQ(Startup(), (Values{{"FailedInstances", InstanceName(1) + ","}}));
  EXPECT_TRUE(log.Contains("Priam not initialized or not started on " + InstanceName(1) +
                           ". Adding to failed instances list"));

  DistributedQEL::ControllerDone done = Done();
  Values values = ValuesOf(done.getValues());
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], (std::pair<std::string, std::string>{"CassandraNodeBackupTime", "0"}));
  EXPECT_EQ(values[1].first, "CassandraKeyspaceStatus");
  EXPECT_EQ(StatusOf(values[1].second),
            (std::vector<std::pair<std::string, Values>>{{InstanceName(0), AllKeyspaces("1")}}));
  EXPECT_TRUE(log.Contains("Priam not initialized or not started on " + InstanceName(1) +
                           ". Backup was skipped"));
  EXPECT_FALSE(CEventJournal::Instance().Has(kKeyspaceBackupFailed));
}

TEST_F(Reports, EveryFailedInstanceIsListedInOrderWithItsComma) {
  priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1627, "no JVM"));
  StartController(JobArguments());
  Startup();
  Send(Request(2, {Option("CreateCollectFiles", "n")}));
  EXPECT_EQ(Startup(),
            (Values{{"FailedInstances", InstanceName(0) + "," + InstanceName(1) + ","}}));
}

// Once the collect files exist, every later report carries their range.
TEST_F(Reports, LaterReportsCarryTheCollectFileRange) {
  bctest::Controller& controller = StartController(JobArguments());
  Startup();
  ASSERT_FALSE(Send(Request(2, {})).IsError());
  const uint32_t count = controller.Config()->getCollectFileCount();
  ASSERT_GT(count, 0u);
  CLogCapture log;
  const Values expected = {{"CollectFileCount", std::to_string(count)}, {"CollectFileStart", "5"}};
  EXPECT_EQ(Startup(), expected);
  EXPECT_EQ(Startup(), expected);
  EXPECT_TRUE(log.Contains("Setting Cassandra collect file details on startup message"));
}

// A collect-file count or a first number of 0 leaves both out.
TEST_F(Reports, NoRangeWithoutBothNumbers) {
  bctest::Controller& controller = StartController(JobArguments());
  Startup();
  for (auto numbers : {std::pair<uint32_t, uint32_t>{0, 5}, {4, 0}, {0, 0}}) {
    controller.Config()->setCollectFileCount(numbers.first);
    controller.Config()->setCollectFileStart(numbers.second);
    EXPECT_EQ(Startup(), Values{});
  }
}

// A failing file in a worker: its keyspace line reaches the failures list,
// and the done report gives that keyspace status 0 and raises the event.
TEST_F(Reports, AKeyspaceWhoseFileFailedInAWorkerIsReportedFailed) {
  // The scripted Priam takes no snapshot: the job's snapshot is made here.
  for (size_t node : {0u, 1u}) {
    for (const auto& table : TableDirs(node)) {
      std::string error;
      ASSERT_TRUE(TqSim::SimTableDir(table, "mc").Snapshot(bctest::kSnapshot, "schema", error))
          << error;
    }
  }
  bctest::Controller& controller = StartController(JobArguments());
  Startup();
  ASSERT_FALSE(Send(Request(2, {})).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  ASSERT_GT(controller.backupStartTime, 0);

  MultiNodeBackupOps::CBackupWorkerParamsPtr params;
  ASSERT_FALSE(controller.GetBackupWorkerParams(params).IsError());
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  MultiNodeBackupOps::IBackupWorkerPtr worker;
  DistributedQEL::StreamInfo streamInfo;
  streamInfo.setStreamNumber(1);
  ASSERT_FALSE(controller.GetBackupWorker(worker, &streamInfo).IsError());
  boost::shared_ptr<OBJECTOPSAPI::CInMemoryDataStream> stream(
      new OBJECTOPSAPI::CInMemoryDataStream());
  // One snapshot file of ks2 on the first instance cannot be read.
  std::string failing;
  for (const auto& entry : ExpectedEntries({0, 1}, bctest::FromSnapshot)) {
    if (entry.find(cluster_.nodes[0].dataDirs[0] + "/ks2/") == 0 &&
        entry.find("/snapshots/") != std::string::npos) {
      failing = entry;
      break;
    }
  }
  ASSERT_FALSE(failing.empty());
  stream->FailItem(failing, FXErrorUtil::ErrorWin32(FXLOC, 1117, "Media error"));
  ASSERT_FALSE(worker->Initialize(params).IsError());
  ASSERT_FALSE(worker->SetupPipeline(stream).IsError());

  const int first = 5;
  const int count = static_cast<int>(controller.Config()->getCollectFileCount());
  int failedTasks = 0;
  for (int number = first; number < first + count; ++number) {
    const std::string file = JR("CollectTot" + std::to_string(number) + ".tqf");
    CQiError error = worker->DoBackup(file, number, std::to_string(number) + "|-1", "stream 1");
    if (error.IsError()) {
      ++failedTasks;
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
      EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + file);
    }
  }
  EXPECT_EQ(failedTasks, 1);
  EXPECT_EQ(simtest::ReadFile(JR("Failures.tqf")), InstanceName(0) + " ks2\n");

  CLogCapture log;
  Values values = ValuesOf(Done().getValues());
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], (std::pair<std::string, std::string>{
                           "CassandraNodeBackupTime", std::to_string(controller.backupStartTime)}));
  EXPECT_EQ(StatusOf(values[1].second), (std::vector<std::pair<std::string, Values>>{
                                            {InstanceName(0), AllKeyspaces("1", "ks2")},
                                            {InstanceName(1), AllKeyspaces("1")}}));
  EXPECT_TRUE(log.Contains("Sending keyspace backup status"));
  auto events = CEventJournal::Instance().Find(kKeyspaceBackupFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
  EXPECT_EQ(events[0].args,
            (std::vector<std::string>{" backing up keyspaces ks2 on node " + InstanceName(0),
                                      bctest::kClient}));
}

// Lines of exactly two fields count, each failed keyspace once; the event
// names every one, instances in ascending order.
TEST_F(Reports, TheFailuresListDecidesTheStatusAndTheEvent) {
  StartController(JobArguments());
  Startup();
  ASSERT_FALSE(Send(Request(2, {Option("CreateCollectFiles", "n")})).IsError());
  simtest::WriteFile(JR("Failures.tqf"), InstanceName(1) + " ks3\n" + InstanceName(0) + " ks1\n" +
                                             InstanceName(0) + " ks1\nks2\n\n" + InstanceName(0) +
                                             " ks4 extra\n");
  Values values = ValuesOf(Done().getValues());
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(StatusOf(values[1].second), (std::vector<std::pair<std::string, Values>>{
                                            {InstanceName(0), AllKeyspaces("1", "ks1")},
                                            {InstanceName(1), AllKeyspaces("1", "ks3")}}));
  auto events = CEventJournal::Instance().Find(kKeyspaceBackupFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].args[0], " backing up keyspaces ks1 on node " + InstanceName(0) +
                                   ", ks3 on node " + InstanceName(1));
}

// Failed collect files or a commit-log job: the done report carries nothing.
TEST_F(Reports, NoStatusAfterFailedCollectFilesOrForACommitLogJob) {
  const struct {
    bool failed;
    bool commitLog;
    const char* line;
  } cases[] = {
      {true, false,
       "Not sending backup status. CassandraCreateCollectFileFailed: 1 CommitLogBackupJob: 0"},
      {false, true,
       "Not sending backup status. CassandraCreateCollectFileFailed: 0 CommitLogBackupJob: 1"},
      {true, true,
       "Not sending backup status. CassandraCreateCollectFileFailed: 1 CommitLogBackupJob: 1"},
  };
  bctest::Controller& controller = StartController(JobArguments());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    controller.collectFileCreationFailed = c.failed;
    controller.Config()->commitLogJob = c.commitLog;
    CLogCapture log;
    DistributedQEL::ControllerDone done = Done();
    EXPECT_FALSE(done.isSet(6));
    EXPECT_TRUE(log.Contains(c.line));
  }

  // A request that fails on the way (the flush) leaves the done report empty.
  controller_->uninitializePriam();
  controller_.reset();
  priam_->SetError("flush", FXErrorUtil::ErrorWin32(FXLOC, 774, "down"), "");
  StartController(JobArguments());
  EXPECT_FALSE(Send(Request(2, {})).IsError());
  ASSERT_TRUE(controller_->collectFileCreationFailed);
  EXPECT_FALSE(Done().isSet(6));
}

// A controller whose configuration is not the plug-in's.
TEST(ReportsWithoutConfiguration, AreRefused) {
  TQCassandra::CassandraBackupController controller;
  controller.setClientConfig(DistributedQEL::CClientConfigPtr(
      new MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfig()));
  DistributedQEL::ControllerStartup startup;
  DistributedQEL::ControllerDone done;
  DistributedQEL::TaskInfo task;
  bool flag = false;
  for (CQiError error :
       {controller.SetAdditionalStartupValues(startup),
        controller.SetAdditionalCtrlDoneValues(done), controller.OnTask(&task, flag)}) {
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
    EXPECT_EQ(error.GetMessage(), "NULL CassandraControllerClientConfig");
  }
  MultiNodeBackupOps::CBackupWorkerParamsPtr params;
  ASSERT_FALSE(controller.GetBackupWorkerParams(params).IsError());
  CQiError error = controller.InitializeBackupWorkerParams(params);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1359));
  EXPECT_EQ(error.GetMessage(), "Unable to get CassandraControllerClientConfig object.");
  MultiNodeBackupOps::IBackupWorkerPtr worker;
  EXPECT_TRUE(FXErrorUtil::IsWin32(controller.GetBackupWorker(worker, nullptr), 87));
  EXPECT_TRUE(boost::dynamic_pointer_cast<CassandraBackupWorker>(worker));
}

}  // namespace
