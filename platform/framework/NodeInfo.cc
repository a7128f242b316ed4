#include "platform/framework/NodeInfo.h"

namespace DistributedQEL {

CNodeInfo::CNodeInfo(const std::string& clientName, uint32_t clientId, const std::string& hostName)
    : clientName_(clientName), clientId_(clientId), hostName_(hostName) {}

void CNodeInfo::setStreamLimit(int streamKind, int limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_[streamKind].limit = limit;
}

int CNodeInfo::getStreamLimit(int streamKind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = streams_.find(streamKind);
  return it == streams_.end() ? 0 : it->second.limit;
}

void CNodeInfo::setMaxStreamsNeeded(int streamKind, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_[streamKind].maxNeeded = count;
}

int CNodeInfo::getMaxStreamsNeeded(int streamKind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = streams_.find(streamKind);
  return it == streams_.end() ? 0 : it->second.maxNeeded;
}

void CNodeInfo::setStreamCount(int streamKind, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_[streamKind].count = count;
}

int CNodeInfo::getStreamCount(int streamKind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = streams_.find(streamKind);
  return it == streams_.end() ? 0 : it->second.count;
}

std::vector<int> CNodeInfo::getStreamTypes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int> kinds;
  for (const auto& s : streams_) kinds.push_back(s.first);
  return kinds;
}

FVBasePtr CNodeInfo::getCustomInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return customInfo_;
}

void CNodeInfo::setCustomInfo(const FVBasePtr& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  customInfo_ = info;
}

}  // namespace DistributedQEL
