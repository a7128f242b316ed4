#include "platform/framework/FSRestoreController.h"

#include "platform/framework/FSRestoreWorker.h"
#include "platform/framework/RestoreClientConfig.h"

namespace TQDC_FileSystem {

CQiError CFSRestoreController::GetRestoreWorker(DistributedQEL::IRestoreWorkerPtr& worker) {
  worker.reset(new CFSRestoreWorker(this));
  return CQiError::Success();
}

CQiError CFSRestoreController::getClientConfigObject(DistributedQEL::CClientConfigPtr& config) {
  if (!getClientConfig()) {
    setClientConfig(DistributedQEL::CClientConfigPtr(new CRestoreClientConfig(2)));
  }
  config = getClientConfig();
  return CQiError::Success();
}

}  // namespace TQDC_FileSystem
