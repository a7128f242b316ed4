#pragma once

#include <string>

#include "platform/framework/FrameworkTypes.h"

// The remote-agent side of a controller: the process entry and the channel to
// the coordinator.
class TQRemoteAgentClient {
 public:
  TQRemoteAgentClient() = default;
  virtual ~TQRemoteAgentClient() = default;
  TQRemoteAgentClient(const TQRemoteAgentClient&) = delete;
  TQRemoteAgentClient& operator=(const TQRemoteAgentClient&) = delete;

  // Entry of the agent; the framework runs the agent and answers 0.
  virtual int Main() { return 0; }

  // Sends a message to the coordinator of the phase; false when it could not
  // be sent (no message, no framework services, or the send failed).
  bool SendMsgToServer(const FrameworkMessagePtr& message);

  // The suite client this agent runs for.
  const std::string& getClientName() const { return clientName_; }
  void setClientName(const std::string& name) { clientName_ = name; }
  void setFrameworkServices(const DistributedQEL::IFrameworkServicesPtr& services) {
    services_ = services;
  }
  const DistributedQEL::IFrameworkServicesPtr& getFrameworkServices() const { return services_; }

 private:
  std::string clientName_;
  DistributedQEL::IFrameworkServicesPtr services_;
};
