#include "platform/framework/CommitOffsets.h"

#include "platform/base/FXErrorUtil.h"

namespace DistributedQEL {

int64_t CCommitOffsets::Get(int taskId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = offsets_.find(taskId);
  return it == offsets_.end() ? -1 : it->second;
}

CQiError CCommitOffsets::Commit(int taskId, int64_t offset) {
  if (offset < 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid commit offset %lld for task %d",
                                   static_cast<long long>(offset), taskId);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  offsets_[taskId] = offset;
  return CQiError::Success();
}

}  // namespace DistributedQEL
