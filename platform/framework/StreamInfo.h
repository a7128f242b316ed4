#pragma once

#include <atomic>
#include <string>

#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// The framework's record of one data stream of a node.
class CStreamInfo {
 public:
  CStreamInfo(const std::string& nodeName, int streamNumber, int streamKind)
      : nodeName_(nodeName), streamNumber_(streamNumber), streamKind_(streamKind) {}
  virtual ~CStreamInfo() = default;
  CStreamInfo(const CStreamInfo&) = delete;
  CStreamInfo& operator=(const CStreamInfo&) = delete;

  const std::string& getNodeName() const { return nodeName_; }
  int getStreamNumber() const { return streamNumber_; }
  int getStreamKind() const { return streamKind_; }

  int getState() const { return state_.load(); }
  void setState(int state) { state_.store(state); }
  // States 2, 3 and 4 are active streams.
  bool isActive() const {
    int s = state_.load();
    return s == STREAM_STARTING || s == STREAM_RUNNING || s == STREAM_WAITING;
  }

  // The task kind the stream's task request asks for; 0 asks for any kind.
  int getRequestedTaskKind() const { return requestedTaskKind_.load(); }
  void setRequestedTaskKind(int kind) { requestedTaskKind_.store(kind); }

 private:
  const std::string nodeName_;
  const int streamNumber_;
  const int streamKind_;
  std::atomic<int> state_{STREAM_NEW};
  std::atomic<int> requestedTaskKind_{0};
};

}  // namespace DistributedQEL
