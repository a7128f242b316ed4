#include "platform/framework/Coordinator.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/FrameworkServices.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"

namespace DistributedQEL {

namespace {

CQiError NoServices(const FXCodeLocation& location) {
  return FXErrorUtil::ErrorWin32(location, 1359, "The framework services are not available");
}

}  // namespace

ICoordinator::ICoordinator() = default;
ICoordinator::~ICoordinator() = default;

void ICoordinator::getQELLogFileName(std::string&) {}

CQiError ICoordinator::getClientConfigObject(CClientConfigPtr& config) {
  if (!clientConfig_) clientConfig_.reset(new CClientConfig(1));
  config = clientConfig_;
  return CQiError::Success();
}

CQiError ICoordinator::initialize(CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                                  TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) {
  if (config) clientConfig_ = config;
  programArguments_ = arguments;
  jobClient_ = jobClient;
  jobCtrlClient_ = jobCtrlClient;
  return CQiError::Success();
}

CQiError ICoordinator::getStreamReservationInfoForNode(CNodeInfoPtr&) {
  return CQiError::Success();
}

CQiError ICoordinator::getCommandArgumentsForNode(CNodeInfoPtr&, std::string&) {
  return CQiError::Success();
}

CQiError ICoordinator::getNodeStartAcknowledgeMessage(CNodeInfoPtr&, FrameworkMessagePtr&) {
  return CQiError::Success();
}

void ICoordinator::ControllerStarted(CNodeInfoPtr&, DistributedQEL::ControllerStartup*) {}

void ICoordinator::ControllerDone(CNodeInfoPtr&, DistributedQEL::ControllerDone*) {}

CQiError ICoordinator::getTask(CNodeInfoPtr&, CStreamInfoPtr&, TaskInfoPtr&) {
  return CQiError::Success();
}

CQiError ICoordinator::getTask(CNodeInfoPtr&, TaskBasePtr&, TaskInfoPtr&) {
  return CQiError::Success();
}

CQiError ICoordinator::OnStreamChange(const CStreamInfoPtr&, TakeAction& action) {
  action.action = 0;
  return CQiError::Success();
}

CQiError ICoordinator::OnTaskChange(const TaskBasePtr&, TakeAction& action) {
  action.action = 0;
  return CQiError::Success();
}

CQiError ICoordinator::OnNodeChange(const CNodeInfoPtr&, TakeAction& action) {
  action.action = 0;
  return CQiError::Success();
}

CQiError ICoordinator::OnTaskComplete(TaskBasePtr&, DistributedQEL::TaskComplete*) {
  return CQiError::Success();
}

CQiError ICoordinator::GetReportsObject(CCoordinatorReportsPtr& reports) {
  reports.reset();
  return CQiError::Success();
}

CQiError ICoordinator::GetTaskPayload(const TaskBasePtr&, std::string&) {
  return CQiError::Success();
}

CQiError ICoordinator::GetTaskParameters(std::string&) { return CQiError::Success(); }

bool ICoordinator::IsTaskCommitted(const TaskBasePtr&) { return true; }

CQiError ICoordinator::GetFileListAndSourcePath(std::vector<std::string>&, std::string&) {
  return CQiError::Success();
}

CQiError ICoordinator::OnSkipPhase(TQJobClientPtr) { return CQiError::Success(); }

CQiError ICoordinator::processMessage(const CNMessageBase&) { return CQiError::Success(); }

CNodeInfoPtr ICoordinator::findNodeInfoByNodeName(const std::string& clientName) {
  auto_lock lock(lock_);
  for (const auto& node : nodeList_) {
    if (node && node->getClientName() == clientName) return node;
  }
  return CNodeInfoPtr();
}

CQiError ICoordinator::RegisterNode(CQiError result, const CNodeInfoPtr& node) {
  if (result.IsError()) return result.Push(FXLOC);
  if (!node) return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The framework made no node record");
  auto_lock lock(lock_);
  for (const auto& known : nodeList_) {
    if (known && known->getClientName() == node->getClientName()) return CQiError::Success();
  }
  nodeList_.push_back(node);
  return CQiError::Success();
}

CQiError ICoordinator::addNode(uint32_t clientId) {
  if (!services_) return NoServices(FXLOC);
  {
    auto_lock lock(lock_);
    for (const auto& known : nodeList_) {
      if (known && known->getClientID() == clientId) return CQiError::Success();
    }
  }
  CNodeInfoPtr node;
  return RegisterNode(services_->addNode(clientId, node), node);
}

CQiError ICoordinator::addNode(const std::string& clientName) {
  if (!services_) return NoServices(FXLOC);
  if (findNodeInfoByNodeName(clientName)) return CQiError::Success();
  CNodeInfoPtr node;
  return RegisterNode(services_->addNode(clientName, node), node);
}

CQiError ICoordinator::addWorker(const std::string& clientName, bool backupWorker,
                                 const PropertyMap& properties) {
  if (!services_) return NoServices(FXLOC);
  CQiError error = services_->addWorker(clientName, backupWorker, properties);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError ICoordinator::getStreams(std::vector<CStreamInfoPtr>& streams, const CNodeInfoPtr& node,
                                  int status, int kind) {
  if (!services_) return NoServices(FXLOC);
  CQiError error = services_->getStreams(streams, node, status, kind);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError ICoordinator::sendMessageToNode(const std::string& clientName,
                                         const FrameworkMessagePtr& message) {
  if (!services_) return NoServices(FXLOC);
  if (!message) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No message to send to node %s", clientName.c_str());
  }
  CQiError error = services_->sendMessageToNode(clientName, message);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

std::vector<CNodeInfoPtr> ICoordinator::getNodes() const {
  auto_lock lock(lock_);
  return nodeList_;
}

std::vector<TaskBasePtr> ICoordinator::getTasks() const {
  auto_lock lock(lock_);
  return taskList_;
}

void ICoordinator::addTask(const TaskBasePtr& task) {
  auto_lock lock(lock_);
  taskList_.push_back(task);
}

}  // namespace DistributedQEL
