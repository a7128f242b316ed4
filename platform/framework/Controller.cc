#include "platform/framework/Controller.h"

#include "platform/framework/ClientConfig.h"
#include "platform/framework/FrameworkServices.h"

namespace DistributedQEL {

void CController::OnAgentStarted() {
  if (getFrameworkServices()) getFrameworkServices()->RequestStartupReport(getClientName());
}

CQiError CController::OnMsgReceived(const FrameworkMessagePtr& message) {
  if (!message) return CQiError::Success();
  CQiError error = OnMessage(*message);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

void CController::getQELLogFileName(std::string&) {}

CQiError CController::OnMessage(const CNMessageBase&) { return CQiError::Success(); }

int CController::getNumberOfWorkers() {
  return clientConfig_ ? clientConfig_->getNumberOfStreams() : 0;
}

CQiError CController::OnStartStream(DistributedQEL::StreamInfo*) { return CQiError::Success(); }

CQiError CController::OnStopStream(DistributedQEL::StreamInfo*) { return CQiError::Success(); }

CQiError CController::OnTask(DistributedQEL::TaskInfo*, bool&) { return CQiError::Success(); }

CQiError CController::OnStopTask(DistributedQEL::TaskInfo*) { return CQiError::Success(); }

CQiError CController::OnWaitTask(DistributedQEL::TaskInfo*) { return CQiError::Success(); }

CQiError CController::SetAdditionalStartupValues(DistributedQEL::ControllerStartup&) {
  return CQiError::Success();
}

CQiError CController::SetAdditionalCtrlDoneValues(DistributedQEL::ControllerDone&) {
  return CQiError::Success();
}

CQiError CController::processNodeInit(CNMessageBase*) { return CQiError::Success(); }

CQiError CController::HandleJobResultDirectorySync(CNMessageBase*) { return CQiError::Success(); }

CQiError CController::OnStopWorker(int) { return CQiError::Success(); }

void CController::SetCmdLineArgs(int, char**) {}

CQiError CController::UpdateSubclientdirState(DistributedQEL::ControllerStartup&) {
  return CQiError::Success();
}

CQiError CController::getClientConfigObject(CClientConfigPtr& config) {
  if (!clientConfig_) clientConfig_.reset(new CClientConfig(1));
  config = clientConfig_;
  return CQiError::Success();
}

}  // namespace DistributedQEL
