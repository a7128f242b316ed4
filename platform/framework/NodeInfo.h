#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/framework/FVBase.h"
#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// The framework's record of one node of a phase: one suite client on which a
// controller runs. The identity is fixed at construction; the state, the
// stream figures and the payload may be read and changed from several threads
// (the coordinator's calls and the framework's stream threads).
class CNodeInfo {
 public:
  CNodeInfo(const std::string& clientName, uint32_t clientId, const std::string& hostName = "");
  virtual ~CNodeInfo() = default;
  CNodeInfo(const CNodeInfo&) = delete;
  CNodeInfo& operator=(const CNodeInfo&) = delete;

  const std::string& getClientName() const { return clientName_; }
  uint32_t getClientID() const { return clientId_; }
  const std::string& getHostName() const { return hostName_; }

  int getState() const { return state_.load(); }
  void setState(int state) { state_.store(state); }
  bool isStartFailed() const { return startFailed_.load(); }
  void setStartFailed(bool failed) { startFailed_.store(failed); }
  bool isAborted() const { return aborted_.load(); }
  void setAborted(bool aborted) { aborted_.store(aborted); }

  // Number of CPUs of the node's machine (0 when the framework does not know).
  int getCPUCount() const { return cpuCount_.load(); }
  void setCPUCount(int count) { cpuCount_.store(count); }

  // Stream figures per stream kind (0 when never set).
  void setStreamLimit(int streamKind, int limit);
  int getStreamLimit(int streamKind) const;
  void setMaxStreamsNeeded(int streamKind, int count);
  int getMaxStreamsNeeded(int streamKind) const;
  // Streams of the kind that currently run on the node (kept by the framework).
  void setStreamCount(int streamKind, int count);
  int getStreamCount(int streamKind) const;
  // Every stream kind for which the node has a figure, ascending.
  std::vector<int> getStreamTypes() const;

  void setNodeWorkersLimit(int limit) { workersLimit_.store(limit); }
  int getNodeWorkersLimit() const { return workersLimit_.load(); }

  FVBasePtr getCustomInfo() const;
  void setCustomInfo(const FVBasePtr& info);

 private:
  struct StreamFigures {
    int limit = 0;
    int maxNeeded = 0;
    int count = 0;
  };

  const std::string clientName_;
  const uint32_t clientId_;
  const std::string hostName_;
  std::atomic<int> state_{NODE_NEW};
  std::atomic<bool> startFailed_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<int> cpuCount_{0};
  std::atomic<int> workersLimit_{0};
  mutable std::mutex mutex_;
  std::map<int, StreamFigures> streams_;
  FVBasePtr customInfo_;
};

}  // namespace DistributedQEL
