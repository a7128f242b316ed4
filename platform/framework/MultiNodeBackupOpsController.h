#pragma once

#include "platform/framework/FSBackupController.h"

namespace MultiNodeBackupOps {

// Worker bases of a parallel file backup.
class IBackupWorker;
class CBackupWorkerParams;
typedef boost::shared_ptr<IBackupWorker> IBackupWorkerPtr;
typedef boost::shared_ptr<CBackupWorkerParams> CBackupWorkerParamsPtr;

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
  // Fills the framework's part of the parameters.
  virtual CQiError InitializeBackupWorkerParams(CBackupWorkerParamsPtr& params);
};

}  // namespace MultiNodeBackupOps
