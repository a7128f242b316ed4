#include "platform/framework/Restore.h"

#include "platform/base/FXMutex.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/StartClientRestore.h"
#include "platform/framework/TaskBase.h"

namespace TQDC_FileSystem {

namespace {

bool IsFinal(int status) {
  return status == DistributedQEL::TASK_COMPLETE || status == DistributedQEL::TASK_FAILED ||
         status == DistributedQEL::TASK_FINAL;
}

}  // namespace

CQiError CRestore::getClientConfigObject(DistributedQEL::CClientConfigPtr& config) {
  if (!getClientConfig()) {
    setClientConfig(DistributedQEL::CClientConfigPtr(new CRestoreClientConfig(2)));
  }
  config = getClientConfig();
  return CQiError::Success();
}

CQiError CRestore::initialize(DistributedQEL::CClientConfigPtr& config,
                              CProgramArgumentsPtr& arguments, TQJobClientPtr jobClient,
                              TQJobCtrlClientPtr jobCtrlClient) {
  CQiError error = ICoordinator::initialize(config, arguments, jobClient, jobCtrlClient);
  if (error.IsError()) return error.Push(FXLOC);
  const DistributedQEL::CClientConfigPtr& own = getClientConfig();
  if (stateFile_.empty() && own && !own->getJobResultsDirectory().empty()) {
    stateFile_ = own->getJobResultsDirectory() + "/DistributedQELState_" +
                 std::to_string(own->getJobId()) + ".tqf";
  }
  return CQiError::Success();
}

CQiError CRestore::GetReportsObject(DistributedQEL::CCoordinatorReportsPtr& reports) {
  reports = reports_;
  return CQiError::Success();
}

void CRestore::AddRestoreStatistics(const DistributedQEL::CRestoreStatistics& statistics) {
  auto_lock lock(getCoordinatorLock(), true);
  DistributedQEL::ReportData totals;
  reports_->getTotalData(totals);
  totals.counters[DistributedQEL::ReportData::kBytesRestored] += statistics.bytesRestored;
  totals.counters[DistributedQEL::ReportData::kItemsFailed] += statistics.itemsFailed;
  totals.counters[DistributedQEL::ReportData::kItemsRestored] += statistics.itemsRestored;
  reports_->setTotalData(totals);
  auto config = boost::dynamic_pointer_cast<CRestoreClientConfig>(getClientConfig());
  if (config && statistics.skippedFilesCount > 0) {
    config->addSkippedItems(static_cast<uint64_t>(statistics.skippedFilesCount));
  }
}

uint64_t CRestore::getSkippedItemCount() const {
  auto config = boost::dynamic_pointer_cast<CRestoreClientConfig>(getClientConfig());
  return config ? config->getSkippedItemCount() : 0;
}

CQiError CRestore::onStreamChange(const DistributedQEL::CStreamInfoPtr&,
                                  DistributedQEL::TakeAction& action) {
  action.action = 0;
  return CQiError::Success();
}

CQiError CRestore::onNodeChange(const DistributedQEL::CNodeInfoPtr&,
                                DistributedQEL::TakeAction& action) {
  action.action = 0;
  return CQiError::Success();
}

CQiError CRestore::PrepareRestoreParameters(DistributedQEL::CClientConfigPtr&,
                                            CProgramArgumentsPtr&, TQJobClientPtr,
                                            TQJobCtrlClientPtr) {
  return CQiError::Success();
}

CQiError CRestore::CreateTaskCreatePolicy(CTaskCreatePolicyPtr& policy) {
  policy.reset(new CTaskCreatePolicy());
  return CQiError::Success();
}

CQiError CRestore::CreateTaskAssignPolicy(CTaskAssignPolicyPtr& policy) {
  policy.reset(new CTaskAssignPolicy());
  return CQiError::Success();
}

CQiError CRestore::ProcessRestartString(std::list<RestartInfo>& restartInfo) {
  auto_lock lock(getCoordinatorLock(), true);
  restartInfo_ = restartInfo;
  return CQiError::Success();
}

bool CRestore::IsAllTaskCompletedForCurrentPhase() { return IsAllTaskDone(); }

bool CRestore::CanChangeTaskState(DistributedQEL::TaskBasePtr&, DistributedQEL::RestorePhase) {
  return true;
}

bool CRestore::IsAllTaskDone() const {
  for (const auto& task : getTasks()) {
    if (task && !IsFinal(task->status)) return false;
  }
  return true;
}

bool CRestore::IsRegularFileRestoreTaskType(const RestoreTaskInfoWrapperPtr& task) const {
  return TypeIs(task, RestoreTaskInfoWrapper::kRegularFileRestore);
}

bool CRestore::IsFileExtentTaskType(const RestoreTaskInfoWrapperPtr& task) const {
  return TypeIs(task, RestoreTaskInfoWrapper::kFileExtent);
}

bool CRestore::IsDeletedFileProcessingTaskType(const RestoreTaskInfoWrapperPtr& task) const {
  return TypeIs(task, RestoreTaskInfoWrapper::kDeletedFileProcessing);
}

bool CRestore::IsFailedFileRestoreTaskType(const RestoreTaskInfoWrapperPtr& task) const {
  return TypeIs(task, RestoreTaskInfoWrapper::kFailedFileRestore);
}

}  // namespace TQDC_FileSystem
