#include "platform/framework/FSBackupController.h"

#include "platform/base/FXErrorUtil.h"

namespace TQDC_FileSystem {

CQiError CFSBackupController::getClientConfigObject(CFSClientConfigPtr& config) {
  CFSClientConfigPtr current = boost::dynamic_pointer_cast<CFSClientConfig>(getClientConfig());
  if (!current) {
    current.reset(new CFSClientConfig(1));
    setClientConfig(current);
  }
  config = current;
  return CQiError::Success();
}

CQiError CFSBackupController::getClientConfigObject(DistributedQEL::CClientConfigPtr& config) {
  CFSClientConfigPtr fsConfig;
  CQiError error = getClientConfigObject(fsConfig);
  if (error.IsError()) return error.Push(FXLOC);
  if (!fsConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller made no client configuration");
  }
  config = fsConfig;
  return CQiError::Success();
}

}  // namespace TQDC_FileSystem
