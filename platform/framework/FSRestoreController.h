#pragma once

#include "platform/framework/RestoreController.h"

namespace TQDC_FileSystem {

// The file-system restore node controller of the framework.
class CFSRestoreController : public DistributedQEL::CRestoreController {
 public:
  CFSRestoreController() = default;

  // A new CFSRestoreWorker.
  CQiError GetRestoreWorker(DistributedQEL::IRestoreWorkerPtr& worker) override;
  // Makes a CRestoreClientConfig when there is no configuration.
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;
};

}  // namespace TQDC_FileSystem
