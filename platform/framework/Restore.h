#pragma once

#include <list>
#include <string>

#include "platform/framework/Coordinator.h"
#include "platform/framework/CoordinatorReports.h"
#include "platform/framework/FVBase.h"
#include "platform/framework/RestoreRecord.h"
#include "platform/framework/TaskPolicy.h"
#include "platform/framework/ValueTypes.h"

class CStartClientRestore;
typedef boost::shared_ptr<CStartClientRestore> CStartClientRestorePtr;

namespace TQDC_FileSystem {

// Coordinator base of a file-system restore phase.
class CRestore : public DistributedQEL::ICoordinator {
 public:
  // `cleanupRestore`: the restore object of a clean-up phase.
  explicit CRestore(bool cleanupRestore = false) : cleanupRestore_(cleanupRestore) {}

  bool isBackupJob() const override { return false; }
  bool shouldSkipThisPhase() const override { return skipThisPhase_; }
  bool shouldExecCommand() const override { return false; }
  bool isArchiveIndexRequired() override { return false; }
  // The framework's initialize, then the state file (when none is set yet):
  // "<job results directory>/DistributedQELState_<job id>.tqf".
  CQiError initialize(DistributedQEL::CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override;
  // The phase's report totals (AddRestoreStatistics).
  CQiError GetReportsObject(DistributedQEL::CCoordinatorReportsPtr& reports) override;
  bool isMAExchangeAllowed() override { return ICoordinator::isMAExchangeAllowed(); }
  // Makes a CRestoreClientConfig when the base has no configuration.
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;

  // The restore's change handlers ask for no action (0) and succeed.
  virtual CQiError onStreamChange(const DistributedQEL::CStreamInfoPtr& stream,
                                  DistributedQEL::TakeAction& action);
  virtual CQiError onNodeChange(const DistributedQEL::CNodeInfoPtr& node,
                                DistributedQEL::TakeAction& action);
  virtual bool IsParallelBrowseEnabled() { return false; }
  virtual CQiError PrepareRestoreParameters(DistributedQEL::CClientConfigPtr& config,
                                            CProgramArgumentsPtr& arguments,
                                            TQJobClientPtr jobClient,
                                            TQJobCtrlClientPtr jobCtrlClient);
  // The framework's default policies.
  virtual CQiError CreateTaskCreatePolicy(CTaskCreatePolicyPtr& policy);
  virtual CQiError CreateTaskAssignPolicy(CTaskAssignPolicyPtr& policy);
  // Keeps the restart entries of a resumed job (getRestartInfo): the tasks
  // the framework makes for entries whose offset is -1 start complete.
  virtual CQiError ProcessRestartString(std::list<RestartInfo>& restartInfo);
  virtual bool ShouldCreateWaitTask() { return false; }
  // True when every task is final (5, 6 or 8); an empty list gives true.
  virtual bool IsAllTaskCompletedForCurrentPhase();
  virtual bool CanChangeTaskState(DistributedQEL::TaskBasePtr& task,
                                  DistributedQEL::RestorePhase phase);

  // True when every task is final (5, 6 or 8).
  bool IsAllTaskDone() const;
  bool IsCurPhaseIsFileExtentPhase() const {
    return currentPhase_ == DistributedQEL::RESTORE_PHASE_FILE_EXTENT;
  }
  bool IsRegularFileRestoreTaskType(const RestoreTaskInfoWrapperPtr& task) const;
  bool IsFileExtentTaskType(const RestoreTaskInfoWrapperPtr& task) const;
  bool IsDeletedFileProcessingTaskType(const RestoreTaskInfoWrapperPtr& task) const;
  bool IsFailedFileRestoreTaskType(const RestoreTaskInfoWrapperPtr& task) const;

  bool isCleanupRestore() const { return cleanupRestore_; }
  int getCurrentPhase() const { return currentPhase_; }
  void setCurrentPhase(int phase) { currentPhase_ = phase; }
  void setSkipThisPhase(bool skip) { skipThisPhase_ = skip; }
  // Set by the framework once restore tasks can run; OnIdle waits for it.
  bool isReady() const { return ready_; }
  void setReady(bool ready) { ready_ = ready; }
  // Job status for the job manager (1 success, 2 failed, 3 pending) and
  // whether (and how) it was set; both 0 until a coordinator sets them, so a
  // restore that sets nothing reports neither success nor a stale value.
  int getJobStatus() const { return jobStatus_; }
  void setJobStatus(int status) { jobStatus_ = status; }
  int getStatusSetFlag() const { return statusSetFlag_; }
  void setStatusSetFlag(int flag) { statusSetFlag_ = flag; }
  // The nodes come from a node map.
  bool getNodeMapFlag() const { return nodeMapFlag_; }
  void setNodeMapFlag(bool flag) { nodeMapFlag_ = flag; }
  // The client restore launcher of the phase.
  const CStartClientRestorePtr& getStartClientRestore() const { return launcher_; }
  void setStartClientRestore(const CStartClientRestorePtr& launcher) { launcher_ = launcher; }

  // What the launcher's getRestoreParameters handed back: init data, source
  // paths, restore records (one per archive file, each naming its node) and
  // the number of items to restore.
  FSRFIRInitData& getRestoreInitData() { return initData_; }
  std::list<FSRSrcPath>& getSourcePaths() { return srcPaths_; }
  std::list<RestoreRecord>& getRestoreRecords() { return restoreRecords_; }
  unsigned long long getItemCount() const { return itemCount_; }
  void setItemCount(unsigned long long count) { itemCount_ = count; }
  // The framework's state file of the phase, handed to every node
  // ("DistributedQELStateFile"); "" until initialize.
  const std::string& getStateFile() const { return stateFile_; }
  void setStateFile(const std::string& path) { stateFile_ = path; }
  // The restart entries ProcessRestartString kept.
  const std::list<RestartInfo>& getRestartInfo() const { return restartInfo_; }

  // Report counters. A worker's final figures are added once: bytes, failed
  // and restored items to the report totals (ReportData::kBytesRestored,
  // kItemsFailed, kItemsRestored) and skipped items to the restore client
  // configuration's skipped count. Every item is accounted for when items
  // restored + items skipped == getItemCount().
  void AddRestoreStatistics(const DistributedQEL::CRestoreStatistics& statistics);
  void getTotalData(DistributedQEL::ReportData& data) const { reports_->getTotalData(data); }
  // The restore client configuration's skipped count; 0 without one.
  uint64_t getSkippedItemCount() const;

 private:
  bool TypeIs(const RestoreTaskInfoWrapperPtr& task, int type) const {
    return task && task->taskType == type;
  }

  const bool cleanupRestore_;
  bool skipThisPhase_ = false;
  int currentPhase_ = DistributedQEL::RESTORE_PHASE_REGULAR;
  bool ready_ = false;
  int jobStatus_ = 0;
  int statusSetFlag_ = 0;
  bool nodeMapFlag_ = false;
  CStartClientRestorePtr launcher_;
  FSRFIRInitData initData_;
  std::list<FSRSrcPath> srcPaths_;
  std::list<RestoreRecord> restoreRecords_;
  unsigned long long itemCount_ = 0;
  std::string stateFile_;
  std::list<RestartInfo> restartInfo_;
  DistributedQEL::CCoordinatorReportsPtr reports_{new DistributedQEL::CCoordinatorReports()};
};

}  // namespace TQDC_FileSystem
