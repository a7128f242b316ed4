// The end of the backup phase: the phase status from the tasks, the flags and
// the quit flag; the merged last backup status; the reference time and the
// post-operations phase handed to the job manager; the pending cause of a
// failed phase; the coordinator's Priam.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "BackupCompleteFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace {

using backup_complete::CompletionTest;
using backup_complete::StatusReport;

constexpr uint32_t kJobFailed = 0x6000469;
const char* const kAllFailed = "Marking job failure as the backup failed on all nodes.";
const char* const kQuit = "Marking job failure since QuitFlag detected";

class CompletionStatus : public CompletionTest {};

struct StatusCase {
  const char* name;
  int tasks;
  int complete;
  int otherStatus;
  bool nodeSkipped;
  bool noBackupContent;
  bool commitLogNotConfigured;
  bool quit;
  int phaseStatus;
  int statusWord;
  bool failed;              // completion code 4 and the pending cause
  const char* failureLine;  // the level -1 line of a failed phase
  const char* milestone;    // a level 0 line of the decision ("" for none)
};

const StatusCase kStatusCases[] = {
    {"all tasks complete", 10, 10, 0, false, false, false, false, PHASE_COMPLETE, 1, false, "", ""},
    {"seven of ten", 10, 7, DistributedQEL::TASK_FAILED, false, false, false, false,
     PHASE_COMPLETE_WITH_WARNINGS, 1, false, "",
     "Phase will be marked Complete with warnings since backup failed on some nodes"},
    {"all complete but a node skipped", 10, 10, 0, true, false, false, false,
     PHASE_COMPLETE_WITH_WARNINGS, 1, false, "",
     "Phase will be marked Complete with warnings since backup failed on some nodes"},
    {"one of three (33 percent)", 3, 1, DistributedQEL::TASK_NEW, false, false, false, false,
     PHASE_COMPLETE_WITH_WARNINGS, 1, false, "", ""},
    {"three of four, one failed", 4, 3, DistributedQEL::TASK_FAILED, false, false, false, false,
     PHASE_COMPLETE_WITH_WARNINGS, 1, false, "", ""},
    {"tasks waiting for reassignment", 2, 1, DistributedQEL::TASK_REASSIGN, false, false, false,
     false, PHASE_COMPLETE_WITH_WARNINGS, 1, false, "", ""},
    {"no task at all", 0, 0, 0, false, false, false, false, PHASE_FAILED, 1, true, kAllFailed,
     "Phase will be marked Failed since backup failed on all nodes"},
    {"no task complete", 5, 0, DistributedQEL::TASK_FAILED, false, false, false, false,
     PHASE_FAILED, 1, true, kAllFailed, ""},
    {"nothing to back up", 0, 0, 0, false, true, false, false, PHASE_COMPLETE, 2, false, "", ""},
    {"commit-log backup not configured", 0, 0, 0, false, false, true, false, PHASE_FAILED, 2, true,
     "", ""},
    {"quit after a full success", 10, 10, 0, false, false, false, true, PHASE_FAILED, 1, true,
     kQuit, "Phase will be marked Failed since QuitFlag detected"},
    {"quit wins over nothing to back up", 0, 0, 0, false, true, false, true, PHASE_FAILED, 1, true,
     kQuit, ""},
};

TEST_F(CompletionStatus, PhaseStatusFromTasksFlagsAndQuitFlag) {
  for (const auto& c : kStatusCases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    AddNodes({"node1", "node2", "node3"});
    AddTasks(c.tasks, c.complete, c.otherStatus);
    coordinator_->nodeSkipped = c.nodeSkipped;
    coordinator_->noBackupContent = c.noBackupContent;
    coordinator_->commitLogNotConfigured = c.commitLogNotConfigured;
    jobCtrlClient_->setQuitFlag(c.quit);

    CLogCapture log;
    const time_t before = time(nullptr);
    CQiError error = coordinator_->OnComplete();
    const time_t after = time(nullptr);
    ASSERT_FALSE(error.IsError()) << error.AsString();

    EXPECT_EQ(coordinator_->getPhaseStatus(), c.phaseStatus);
    EXPECT_EQ(coordinator_->getStatusWord(), c.statusWord);
    EXPECT_EQ(coordinator_->getCompletionCode(), c.failed ? 4 : 0);
    EXPECT_EQ(CEventJournal::Instance().Has(kJobFailed, CEventJournal::kPendingCause), c.failed);
    EXPECT_EQ(jobClient_->getPendingCause(), c.failed ? kJobFailed : 0u);
    if (c.failed) {
      std::vector<std::string> errors = log.Texts(-1);
      EXPECT_NE(std::find(errors.begin(), errors.end(), c.failureLine), errors.end());
    }
    if (*c.milestone) {
      std::vector<std::string> milestones = log.Texts(0);
      EXPECT_NE(std::find(milestones.begin(), milestones.end(), c.milestone), milestones.end());
    }

    // Only a completed phase gets a reference time; every phase with both job
    // clients asks for the post-operations phase.
    TQBkpJobClient::JobManagerState state = jobClient_->getJobManagerState();
    EXPECT_EQ(state.requests, std::vector<int>{2});
    if (c.failed) {
      EXPECT_FALSE(state.hasReferenceTime);
      EXPECT_EQ(state.phaseParams, " -bypass -cassandra");
      EXPECT_EQ(state.updates, 2);
    } else {
      ASSERT_TRUE(state.hasReferenceTime);
      EXPECT_GE(state.referenceTime, before);
      EXPECT_LE(state.referenceTime, after);
      EXPECT_EQ(state.phaseParams,
                " -r " + std::to_string(state.referenceTime) + "  -bypass -cassandra");
      EXPECT_EQ(state.updates, 3);
    }
  }
}

TEST_F(CompletionStatus, SuccessThresholdIsOnlyLogged) {
  registry_.Set("Cassandra", "nCassandraBackupJobSuccessThreshold", "50");
  AddNodes({"node1"});
  AddTasks(10, 4);
  CLogCapture log;
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_COMPLETE_WITH_WARNINGS);
  EXPECT_TRUE(
      log.Contains("nCassandraBackupJobSuccessThreshold: 50 Current job success percent: 40"));
  EXPECT_TRUE(log.Contains("Task count: 10, Successful task count: 4"));
}

TEST_F(CompletionStatus, DefaultThresholdIsLoggedAsHundred) {
  AddNodes({"node1"});
  AddTasks(3, 1);
  CLogCapture log;
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_TRUE(
      log.Contains("nCassandraBackupJobSuccessThreshold: 100 Current job success percent: 33"));
}

TEST_F(CompletionStatus, MergedStatusListsEveryReportedNodeInReportOrder) {
  // A status from the previous job, replaced by this job's.
  ASSERT_FALSE(subclient_->setBackedupContentXML(StatusReport({{"old", {"ks0"}}})).IsError());
  AddNodes({"node1", "node2", "node3"});
  AddTasks(6, 6);
  coordinator_->keyspaceStatusXmls = {StatusReport({{"node2", {"ks1", "ks2"}}, {"node3", {"ks1"}}}),
                                      "not a status record", StatusReport({{"node1", {"ks2"}}})};
  ASSERT_FALSE(coordinator_->OnComplete().IsError());

  App::CassandraLastBackupStatus stored;
  ASSERT_EQ(stored.unserialize(StoredStatus()), 0);
  std::vector<App::CassandraNodeStatus> nodes = stored.getNodeStatuses();
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].getInstanceName(), "node2");
  EXPECT_EQ(nodes[1].getInstanceName(), "node3");
  EXPECT_EQ(nodes[2].getInstanceName(), "node1");
  ASSERT_EQ(nodes[0].getKeyspaceStatuses().size(), 2u);
  EXPECT_EQ(nodes[0].getKeyspaceStatuses()[1].getKeyspaceName(), "ks2");
  EXPECT_EQ(nodes[0].getKeyspaceStatuses()[1].getStatus(), 1);
  EXPECT_EQ(nodes[2].getKeyspaceStatuses()[0].getKeyspaceName(), "ks2");
}

TEST_F(CompletionStatus, StatusIsKeptWhenNoControllerReportedOrThePhaseFailed) {
  const std::string previous = StatusReport({{"node1", {"ks1"}}});
  ASSERT_FALSE(subclient_->setBackedupContentXML(previous).IsError());
  AddNodes({"node1"});
  AddTasks(2, 2);
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_EQ(StoredStatus(), previous);

  // A failed phase stores nothing, even with reports.
  TearDown();
  SetUp();
  ASSERT_FALSE(subclient_->setBackedupContentXML(previous).IsError());
  AddNodes({"node1"});
  AddTasks(2, 0);
  coordinator_->keyspaceStatusXmls = {StatusReport({{"node1", {"ks9"}}})};
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_FAILED);
  EXPECT_EQ(StoredStatus(), previous);
}

TEST_F(CompletionStatus, WithoutJobClientsNothingReachesTheJobManager) {
  DistributedQEL::CClientConfigPtr config;
  CProgramArgumentsPtr arguments;
  ASSERT_FALSE(coordinator_->initialize(config, arguments, TQJobClientPtr(), TQJobCtrlClientPtr())
                   .IsError());
  AddNodes({"node1"});
  AddTasks(2, 2);
  CLogCapture log;
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_COMPLETE);
  EXPECT_TRUE(log.Contains("Job client object not initialized. Not updating reference time"));
  EXPECT_EQ(jobClient_->getJobManagerState().updates, 0);
  EXPECT_TRUE(jobClient_->getJobManagerState().requests.empty());

  // A failed phase without a job client: status and code, no pending cause.
  TearDown();
  SetUp();
  ASSERT_FALSE(coordinator_->initialize(config, arguments, TQJobClientPtr(), TQJobCtrlClientPtr())
                   .IsError());
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_FAILED);
  EXPECT_EQ(coordinator_->getCompletionCode(), 4);
  EXPECT_FALSE(CEventJournal::Instance().Has(kJobFailed, CEventJournal::kPendingCause));
}

TEST_F(CompletionStatus, JobClientWithoutControlClientSetsTheReferenceTimeOnly) {
  DistributedQEL::CClientConfigPtr config;
  CProgramArgumentsPtr arguments;
  ASSERT_FALSE(
      coordinator_->initialize(config, arguments, jobClient_, TQJobCtrlClientPtr()).IsError());
  AddNodes({"node1"});
  AddTasks(1, 1);
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  TQBkpJobClient::JobManagerState state = jobClient_->getJobManagerState();
  EXPECT_TRUE(state.hasReferenceTime);
  EXPECT_EQ(state.phaseParams, " -r " + std::to_string(state.referenceTime) + " ");
  EXPECT_TRUE(state.requests.empty());
}

struct JobManagerFailure {
  const char* name;
  TQBkpJobClient::Call call;
  int nth;
  bool phaseFails;
  const char* error;   // "" when OnComplete succeeds
  bool postOpsParams;  // " -bypass -cassandra" reached the job manager
  bool pendingCause;
};

// A refused request fails OnComplete, but the post-operations request, the
// failed phase's pending cause and the framework's end of the phase always
// happen.
const JobManagerFailure kJobManagerFailures[] = {
    {"reference time refused", TQBkpJobClient::kSetReferenceTime, 1, false,
     "Failed to setReferenceTime", true, false},
    {"-r not added", TQBkpJobClient::kConcatPhaseParams, 1, false,
     "Error adding reference time (-r) to phase params", true, false},
    {"reference time update refused", TQBkpJobClient::kUpdateInfo, 1, false,
     "Failed to update JobManager with the ReferenceTime", true, false},
    {"post-ops request update refused", TQBkpJobClient::kUpdateInfo, 2, false, "", true, false},
    {"post-ops arguments not added", TQBkpJobClient::kConcatPhaseParams, 2, false,
     "Error adding post ops phase arguments", false, false},
    {"post-ops arguments update refused", TQBkpJobClient::kUpdateInfo, 3, false,
     "Failed to update JobManager with post ops phase arguments", false, false},
    {"failed phase, post-ops arguments not added", TQBkpJobClient::kConcatPhaseParams, 1, true,
     "Error adding post ops phase arguments", false, true},
    {"failed phase, post-ops arguments update refused", TQBkpJobClient::kUpdateInfo, 2, true,
     "Failed to update JobManager with post ops phase arguments", false, true},
    {"failed phase, first update refused", TQBkpJobClient::kUpdateInfo, 1, true, "", true, true},
};

TEST_F(CompletionStatus, JobManagerFailures) {
  for (const auto& c : kJobManagerFailures) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    AddNodes({"node1"});
    AddTasks(2, c.phaseFails ? 0 : 2);
    jobClient_->failCall(c.call, c.nth);
    CLogCapture log;
    CQiError error = coordinator_->OnComplete();
    if (*c.error) {
      ASSERT_TRUE(error.IsError());
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774)) << error.AsString();
      EXPECT_NE(error.AsString().find(c.error), std::string::npos) << error.AsString();
    } else {
      EXPECT_FALSE(error.IsError()) << error.AsString();
    }
    const std::string params = jobClient_->getJobManagerState().phaseParams;
    EXPECT_EQ(params.find(" -bypass -cassandra") != std::string::npos, c.postOpsParams) << params;
    EXPECT_EQ(CEventJournal::Instance().Has(kJobFailed, CEventJournal::kPendingCause),
              c.pendingCause);
    EXPECT_EQ(coordinator_->getCompletionCode(), c.phaseFails ? 4 : 0);
    EXPECT_TRUE(coordinator_->isPhaseEnded());
    if (c.call == TQBkpJobClient::kUpdateInfo && c.nth == (c.phaseFails ? 1 : 2)) {
      EXPECT_TRUE(log.Contains("Failed to update JM to run Post Ops"));
    }
  }
}

TEST_F(CompletionStatus, PlainJobClientCannotTakeTheReferenceTime) {
  TQJobClientPtr plain(new TQJobClient(kJobId));
  DistributedQEL::CClientConfigPtr config;
  CProgramArgumentsPtr arguments;
  ASSERT_FALSE(coordinator_->initialize(config, arguments, plain, jobCtrlClient_).IsError());
  AddNodes({"node1"});
  AddTasks(1, 1);
  CQiError error = coordinator_->OnComplete();
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.AsString().find("Failed to setReferenceTime"), std::string::npos);
}

TEST_F(CompletionStatus, PriamIsStoppedAndReleasedEvenWhenTheIndexWriteFails) {
  // No archive file exists for the job, so the index write fails.
  UseScriptedPriam();
  AddNodes({"node1"});
  AddTasks(1, 1);
  CLogCapture log;
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_TRUE(log.Contains("Creating Cassandra metadata failed: "));
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_COMPLETE);
  EXPECT_FALSE(coordinator_->priam);
  ASSERT_EQ(script_->Sessions().size(), 1u);
  EXPECT_EQ(script_->LastSession().stops, 1);
  EXPECT_FALSE(script_->LastSession().running);
  EXPECT_TRUE(Metadata().empty());
}

TEST_F(CompletionStatus, QuitStillWritesTheIndexAndStopsPriam) {
  StoreJobItem();
  UseScriptedPriam();
  script_->SetReply("getMeta", "[]");
  script_->SetReply("status", R"([{"data_center":"dc1"}])");
  AddNodes({"node1"});
  AddTasks(1, 1);
  coordinator_->nodeBackupTime["node1"] = 1700000000;
  jobCtrlClient_->setQuitFlag(true);
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_FAILED);
  EXPECT_EQ(Metadata().size(), 1u);
  EXPECT_TRUE(IndexWritingClosed());
  EXPECT_EQ(script_->LastSession().stops, 1);
  EXPECT_FALSE(coordinator_->priam);
  EXPECT_EQ(jobClient_->getJobManagerState().requests, std::vector<int>{2});
}

TEST_F(CompletionStatus, WithoutPriamNoIndexIsWritten) {
  StoreJobItem();
  AddNodes({"node1"});
  AddTasks(1, 1);
  coordinator_->nodeBackupTime["node1"] = 1700000000;
  ASSERT_FALSE(coordinator_->OnComplete().IsError());
  EXPECT_TRUE(Metadata().empty());
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_COMPLETE);
}

TEST_F(CompletionStatus, BackupBaseHooksDoNothing) {
  for (bool flag : {true, false}) {
    bool value = flag;
    EXPECT_FALSE(coordinator_->PreProcessFailedFiles(value).IsError());
    EXPECT_EQ(value, flag);
  }
  EXPECT_FALSE(coordinator_->RenameDirchangeFiles().IsError());
}

}  // namespace
