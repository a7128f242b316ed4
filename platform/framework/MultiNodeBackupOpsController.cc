#include "platform/framework/MultiNodeBackupOpsController.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"
#include "platform/multinode/MultiNodeBackupOpsWorkerParams.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace MultiNodeBackupOps {

CQiError MultiNodeBackupOpsController::getClientConfigObject(
    TQDC_FileSystem::CFSClientConfigPtr& config) {
  TQDC_FileSystem::CFSClientConfigPtr current =
      boost::dynamic_pointer_cast<TQDC_FileSystem::CFSClientConfig>(getClientConfig());
  if (!current) {
    current.reset(new MultiNodeBackupOpsControllerClientConfig());
    setClientConfig(current);
  }
  config = current;
  return CQiError::Success();
}

void MultiNodeBackupOpsController::OnAgentStarted() { CFSBackupController::OnAgentStarted(); }

CQiError MultiNodeBackupOpsController::OnTask(DistributedQEL::TaskInfo*, bool&) {
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsController::GetBackupWorker(IBackupWorkerPtr&,
                                                       DistributedQEL::StreamInfo*) {
  return FXErrorUtil::ErrorWin32(FXLOC, 1359, "This controller has no backup worker");
}

CQiError MultiNodeBackupOpsController::GetBackupWorkerParams(CBackupWorkerParamsPtr&) {
  return FXErrorUtil::ErrorWin32(FXLOC, 1359, "This controller has no backup worker parameters");
}

CQiError MultiNodeBackupOpsController::InitializeBackupWorkerParams(
    CBackupWorkerParamsPtr& params) {
  MultiNodeBackupOpsWorkerParamsPtr own =
      boost::dynamic_pointer_cast<MultiNodeBackupOpsWorkerParams>(params);
  if (!own) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid backup worker parameters");
  const DistributedQEL::CClientConfigPtr& config = getClientConfig();
  if (config) {
    own->jobId = config->getJobId();
    own->backupLevel = config->getBackupLevel();
    own->jobResultsDirectory = config->getJobResultsDirectory();
  }
  MultiNodeBackupOpsControllerClientConfigPtr nodeConfig =
      boost::dynamic_pointer_cast<MultiNodeBackupOpsControllerClientConfig>(config);
  if (nodeConfig) own->failedFilePath = nodeConfig->getFailuresFilePath();
  own->clientName = getClientName();
  own->jobCtrlClient =
      jobCtrlClient_ ? jobCtrlClient_ : TQJobCtrlClientPtr(new TQJobCtrlClient(own->jobId));
  own->frameworkServices = getFrameworkServices();
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
