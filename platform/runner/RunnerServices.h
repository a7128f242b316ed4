#pragma once

#include <memory>

#include "platform/framework/FrameworkServices.h"

namespace TqRunner {

class CPhaseEngine;

// The framework services that one phase's coordinator and controllers call;
// every request goes to the phase engine that runs them. Once the engine is
// gone every request fails (error 1359, or false).
class CRunnerServices : public DistributedQEL::IFrameworkServices {
 public:
  explicit CRunnerServices(std::weak_ptr<CPhaseEngine> engine) : engine_(std::move(engine)) {}

  CQiError addNode(uint32_t clientId, DistributedQEL::CNodeInfoPtr& node) override;
  CQiError addNode(const std::string& clientName, DistributedQEL::CNodeInfoPtr& node) override;
  CQiError addWorker(const std::string& clientName, bool backupWorker,
                     const PropertyMap& properties) override;
  CQiError getStreams(std::vector<DistributedQEL::CStreamInfoPtr>& streams,
                      const DistributedQEL::CNodeInfoPtr& node, int status, int kind) override;
  CQiError sendMessageToNode(const std::string& clientName,
                             const FrameworkMessagePtr& message) override;
  int64_t GetTaskCommitOffset(int taskId) override;
  CQiError CommitTaskOffset(int taskId, int64_t offset) override;
  bool SendMsgToServer(const std::string& clientName, const FrameworkMessagePtr& message) override;
  void RequestStartupReport(const std::string& clientName) override;

 private:
  std::weak_ptr<CPhaseEngine> engine_;
};

}  // namespace TqRunner
