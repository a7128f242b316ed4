#include "platform/framework/RestoreController.h"

#include "platform/base/FXErrorUtil.h"

namespace DistributedQEL {

CQiError CRestoreController::GetRestoreWorker(IRestoreWorkerPtr&) {
  return FXErrorUtil::ErrorWin32(FXLOC, 1359, "This controller has no restore worker");
}

CQiError CRestoreController::GetJobControllerObj(TQJobCtrlClientPtr& jobCtrlClient) {
  if (!jobCtrlClient_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The job control client is not available");
  }
  jobCtrlClient = jobCtrlClient_;
  return CQiError::Success();
}

}  // namespace DistributedQEL
