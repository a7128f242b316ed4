#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/RestoreWorkerBase.h"
#include "platform/framework/ValueTypes.h"

namespace DistributedQEL {
class CRestoreController;
}

namespace TQDC_FileSystem {

// The file-system restore worker of the framework.
class CFSRestoreWorker : public DistributedQEL::CRestoreWorker {
 public:
  explicit CFSRestoreWorker(DistributedQEL::CRestoreController* controller)
      : controller_(controller) {}

  // The item filter the worker applies to browse results.
  virtual CQiError GetBrowseResponseCallBack(
      boost::shared_ptr<DistributedQEL::CRestoreItemCallBack>& callBack);
  // The extended-option string of the restore; the framework adds nothing.
  virtual CQiError GetExtendedOptions(std::string& options);
  // The restore task about to be restored and its size.
  virtual void SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task, long& size);

  DistributedQEL::CRestoreController* getController() const { return controller_; }
  const DistributedQEL::RestoreTaskInfoPtr& getRestoreTask() const { return restoreTask_; }
  long getRestoreTaskSize() const { return restoreTaskSize_; }

 private:
  DistributedQEL::CRestoreController* controller_;
  DistributedQEL::RestoreTaskInfoPtr restoreTask_;
  long restoreTaskSize_ = 0;
};

}  // namespace TQDC_FileSystem
