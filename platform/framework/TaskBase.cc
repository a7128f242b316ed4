#include "platform/framework/TaskBase.h"

namespace DistributedQEL {

size_t TaskBase::failedStreamCount() const {
  size_t count = 0;
  for (const auto& node : failedStreams) count += node.second.size();
  return count;
}

}  // namespace DistributedQEL
