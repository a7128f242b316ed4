#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "platform/base/QiError.h"

namespace DistributedQEL {

// The commit offsets of a phase's tasks: where a task handed out again
// resumes. Safe to use from every stream thread at once.
class CCommitOffsets {
 public:
  CCommitOffsets() = default;
  explicit CCommitOffsets(std::map<int, int64_t> initial) : offsets_(std::move(initial)) {}

  // The task's last committed offset, -1 when it has none.
  int64_t Get(int taskId) const;
  // Records the task's offset; a negative offset is error 87.
  CQiError Commit(int taskId, int64_t offset);

 private:
  mutable std::mutex mutex_;
  std::map<int, int64_t> offsets_;
};

}  // namespace DistributedQEL
