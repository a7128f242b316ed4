#include "platform/framework/MultiNodeBackupOpsController.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"

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

CQiError MultiNodeBackupOpsController::InitializeBackupWorkerParams(CBackupWorkerParamsPtr&) {
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
