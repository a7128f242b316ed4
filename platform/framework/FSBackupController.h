#pragma once

#include "platform/framework/Controller.h"
#include "platform/framework/FSClientConfig.h"

namespace TQDC_FileSystem {

// Base of a file-system backup node controller.
class CFSBackupController : public DistributedQEL::CController {
 public:
  CFSBackupController() = default;

  using CController::getClientConfigObject;
  // The controller's file-system configuration, made on first request and
  // kept as the base's configuration.
  virtual CQiError getClientConfigObject(CFSClientConfigPtr& config);
  // The framework's slot: hands out the file-system configuration.
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;
  virtual CQiError OnExtentConfigProperty() { return CQiError::Success(); }
};

}  // namespace TQDC_FileSystem
