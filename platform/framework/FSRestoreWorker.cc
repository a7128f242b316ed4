#include "platform/framework/FSRestoreWorker.h"

#include "platform/framework/RestoreItemCallBack.h"

namespace TQDC_FileSystem {

CQiError CFSRestoreWorker::GetBrowseResponseCallBack(
    boost::shared_ptr<DistributedQEL::CRestoreItemCallBack>& callBack) {
  callBack.reset(new DistributedQEL::CRestoreItemCallBack(this));
  return CQiError::Success();
}

CQiError CFSRestoreWorker::GetExtendedOptions(std::string&) { return CQiError::Success(); }

void CFSRestoreWorker::SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task, long& size) {
  restoreTask_ = task;
  restoreTaskSize_ = size;
}

}  // namespace TQDC_FileSystem
