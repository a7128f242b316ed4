// The end of the backup phase: phase status, index metadata, the coordinator's
// Priam, the last backup status for the next job, the reference time and the
// post-operations phase.

#include <ctime>
#include <string>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "common/BackupRecords.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/JMBkpOps.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQBkpJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TQCassandra {

namespace {

constexpr uint32_t EV_JOB_FAILED = 0x6000469;

// Phase parameters for the phases that follow a completed backup.
constexpr const char* kReferenceTimeParam = " -r %ld ";
constexpr const char* kPostOpsParams = " -bypass -cassandra";

}  // namespace

CQiError CassandraBackupCoordinator::RenameDirchangeFiles() { return CQiError::Success(); }

// Cassandra keeps no directory-change state and takes no failed files from
// the index, so there is nothing to prepare.
CQiError CassandraBackupCoordinator::PreProcessFailedFiles(bool&) { return CQiError::Success(); }

CQiError CassandraBackupCoordinator::OnComplete() {
  TQ_DEBUG_FUNCTION();

  // 1. Task counts and the success percent.
  uint32_t taskCount = 0;
  uint32_t successfulTasks = 0;
  for (const auto& task : getTasks()) {
    ++taskCount;
    if (task && task->status == DistributedQEL::TASK_COMPLETE) ++successfulTasks;
  }
  TQLOG(2, "Task count: %u, Successful task count: %u", taskCount, successfulTasks);
  const uint32_t successPercent = taskCount ? successfulTasks * 100u / taskCount : 0;

  // 2. The threshold is only reported; it decides nothing.
  int64_t threshold = 100;
  TQPlatformInfo().getNumber("Cassandra", "nCassandraBackupJobSuccessThreshold", threshold);
  TQLOG(2, "nCassandraBackupJobSuccessThreshold: %lu Current job success percent: %d",
        static_cast<unsigned long>(threshold), static_cast<int>(successPercent));

  // 3. The phase status.
  std::string failureText;
  int phaseStatus = PHASE_COMPLETE;
  setStatusWord(1);
  if (noBackupContent) {
    phaseStatus = PHASE_COMPLETE;
    setStatusWord(2);
  } else if (commitLogNotConfigured) {
    phaseStatus = PHASE_FAILED;
    setStatusWord(2);
  } else if (successPercent == 0) {
    TQLOG(0, "Phase will be marked Failed since backup failed on all nodes");
    phaseStatus = PHASE_FAILED;
    failureText = "Marking job failure as the backup failed on all nodes.";
  } else if (successPercent == 100 && !nodeSkipped) {
    phaseStatus = PHASE_COMPLETE;
  } else {
    TQLOG(0, "Phase will be marked Complete with warnings since backup failed on some nodes");
    phaseStatus = PHASE_COMPLETE_WITH_WARNINGS;
  }

  // 4. A job asked to stop fails, whatever the tasks say.
  const TQJobClientPtr jobClient = getJobClient();
  const TQJobCtrlClientPtr jobCtrlClient = getJobCtrlClient();
  if (jobCtrlClient && jobCtrlClient->checkQuitFlag()) {
    TQLOG(0, "Phase will be marked Failed since QuitFlag detected");
    failureText = "Marking job failure since QuitFlag detected";
    phaseStatus = PHASE_FAILED;
    setStatusWord(1);
  }
  setPhaseStatus(phaseStatus);
  const bool completed =
      phaseStatus == PHASE_COMPLETE || phaseStatus == PHASE_COMPLETE_WITH_WARNINGS;

  // 5. Index metadata, then the coordinator's Priam goes.
  if (priam) {
    CQiError error = createCassandraMetadataInIndex();
    if (error.IsError()) {
      TQLOG(-1, "Creating Cassandra metadata failed: %s", error.AsString().c_str());
    }
    error = priam->stopPriam();
    if (error.IsError()) TQLOG(-1, "Failed to stop Priam: %s", error.AsString().c_str());
    priam.reset();
  }

  // A failed request of steps 6 and 7 is returned, but only after the failed
  // phase's pending cause and the framework's end of the phase (8 and 9),
  // which always happen.
  CQiError firstError = CQiError::Success();
  auto keep = [&firstError](const CQiError& error) {
    if (!firstError.IsError()) firstError = error;
  };
  const TQBkpJobClientPtr backupJobClient = boost::dynamic_pointer_cast<TQBkpJobClient>(jobClient);
  if (completed) {
    // 6.1 and 6.2: the keyspace statuses of this job's controllers, merged in
    // report order, are what the next job starts from.
    std::vector<App::CassandraNodeStatus> merged;
    for (const auto& xml : keyspaceStatusXmls) {
      App::CassandraLastBackupStatus report;
      report.unserialize(xml);
      for (const auto& node : report.getNodeStatuses()) {
        std::string nodeXml;
        node.serialize(nodeXml);
        TQLOG(2, "Status: %s", nodeXml.c_str());
        merged.push_back(node);
      }
    }
    if (!merged.empty()) {
      App::CassandraLastBackupStatus status;
      status.setNodeStatuses(merged);
      std::string xml;
      status.serialize(xml);
      TQLOG(0, "Setting backup status: %s", xml.c_str());
      if (subclient) {
        subclient->setBackedupContentXML(xml, nullptr);
      } else {
        TQLOG(-1, "No subclient to keep the backup status on");
      }
    }

    // 6.3 and 6.4: the reference time.
    if (jobClient) {
      TQLOG(0, "Setting reference time for the completed job");
      const time_t now = time(nullptr);
      char param[64];
      snprintf(param, sizeof param, kReferenceTimeParam, static_cast<long>(now));
      if (!backupJobClient || !backupJobClient->setReferenceTime(static_cast<int64_t>(now))) {
        keep(FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to setReferenceTime"));
      } else if (!backupJobClient->concatPhaseParams(param, TQBkpJobClient::kPhaseParamsAppend)) {
        keep(FXErrorUtil::ErrorWin32(FXLOC, 774,
                                     "Error adding reference time (-r) to phase params"));
      } else if (!backupJobClient->updateInfo(false, nullptr)) {
        keep(FXErrorUtil::ErrorWin32(FXLOC, 774,
                                     "Failed to update JobManager with the ReferenceTime"));
      }
    } else {
      TQLOG(0, "Job client object not initialized. Not updating reference time");
    }
  }

  // 7. The post-operations phase, whatever the status.
  if (jobClient && jobCtrlClient) {
    JMBkpOpsPtr operations = JMBkpOpsFactory::allocObj(0, jobClient, jobCtrlClient);
    if (operations) operations->sendRequest(JMBkpOps::kRequestPostOps);
    TQLOG(0, "Updating JM with post ops request");
    if (!backupJobClient || !backupJobClient->updateInfo(false, nullptr)) {
      TQLOG(-1, "Failed to update JM to run Post Ops");
    }
    if (!backupJobClient ||
        !backupJobClient->concatPhaseParams(kPostOpsParams, TQBkpJobClient::kPhaseParamsAppend)) {
      keep(FXErrorUtil::ErrorWin32(FXLOC, 774, "Error adding post ops phase arguments"));
    } else if (!backupJobClient->updateInfo(false, nullptr)) {
      keep(FXErrorUtil::ErrorWin32(FXLOC, 774,
                                   "Failed to update JobManager with post ops phase arguments"));
    }
  }

  // 8. A failed phase.
  if (!completed) {
    setCompletionCode(4);
    TQLOG(-1, "%s", failureText.c_str());
    if (jobClient) {
      jobClient->setPendingCauseAndEvent(EV_JOB_FAILED, 6, 0, false, 300, false, 0, 0, 0, 0);
    }
  }

  // 9. The framework's end of the phase.
  CQiError error = TQDC_FileSystem::CBackup::OnComplete();
  if (firstError.IsError()) {
    if (error.IsError()) TQLOG(-1, "End of the phase failed: %s", error.AsString(2).c_str());
    return firstError.Push(FXLOC);
  }
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
