#include "platform/framework/Backup.h"

#include "platform/framework/FrameworkServices.h"
#include "platform/framework/TaskBase.h"
#include "platform/framework/UnixFSClientConfig.h"

namespace TQDC_FileSystem {

CQiError CBackup::getClientConfigObject(DistributedQEL::CClientConfigPtr& config) {
  if (!getClientConfig())
    setClientConfig(DistributedQEL::CClientConfigPtr(new CUnixFSClientConfig()));
  config = getClientConfig();
  return CQiError::Success();
}

CQiError CBackup::PreProcessFailedFiles(bool&) { return CQiError::Success(); }

int64_t CBackup::GetTaskCommitOffset(const DistributedQEL::TaskBasePtr& task) const {
  if (!task || !getFrameworkServices()) return -1;
  return getFrameworkServices()->GetTaskCommitOffset(task->taskId);
}

}  // namespace TQDC_FileSystem
