#pragma once

#include "platform/framework/FSBackupController.h"
#include "platform/multinode/BackupWorker.h"
#include "platform/multinode/BackupWorkerParams.h"

namespace MultiNodeBackupOps {

// Base of a node controller of a parallel file backup: it gives each stream a
// backup worker with its parameters, and each task its collect file.
class MultiNodeBackupOpsController : public TQDC_FileSystem::CFSBackupController {
 public:
  MultiNodeBackupOpsController() = default;

  using CFSBackupController::getClientConfigObject;
  // Makes a MultiNodeBackupOpsControllerClientConfig on first request.
  CQiError getClientConfigObject(TQDC_FileSystem::CFSClientConfigPtr& config) override;
  // The framework's start-up step.
  void OnAgentStarted() override;
  // Hands the task to the stream's worker.
  CQiError OnTask(DistributedQEL::TaskInfo* task, bool& flag) override;
  // A worker and its parameters for a stream; the base has none (error 1359).
  virtual CQiError GetBackupWorker(IBackupWorkerPtr& worker, DistributedQEL::StreamInfo* stream);
  virtual CQiError GetBackupWorkerParams(CBackupWorkerParamsPtr& params);
  // Fills the framework's part of MultiNodeBackupOpsWorkerParams from the
  // configuration and the controller: job id, backup level, job results
  // directory, client name, the failures list as the workers' failed-file
  // path, the job control client (or one of the job's own) and the framework
  // services. Parameters of another type are error 87, and so are none.
  virtual CQiError InitializeBackupWorkerParams(CBackupWorkerParamsPtr& params);

  // The job control client whose quit flag the workers read.
  const TQJobCtrlClientPtr& getJobCtrlClient() const { return jobCtrlClient_; }
  void setJobCtrlClient(const TQJobCtrlClientPtr& client) { jobCtrlClient_ = client; }

 private:
  TQJobCtrlClientPtr jobCtrlClient_;
};

}  // namespace MultiNodeBackupOps
