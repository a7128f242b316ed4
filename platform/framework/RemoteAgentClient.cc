#include "platform/framework/RemoteAgentClient.h"

#include "platform/framework/FrameworkServices.h"

bool TQRemoteAgentClient::SendMsgToServer(const FrameworkMessagePtr& message) {
  if (!message || !services_) return false;
  return services_->SendMsgToServer(clientName_, message);
}
