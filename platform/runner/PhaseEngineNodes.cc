// The controller threads of a phase: one per node, in the node's client
// context; each handles its controller's start-up, its messages one at a
// time, and its stop.
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/Controller.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/framework/RestoreController.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/runner/Guarded.h"
#include "platform/runner/MessageCarrier.h"
#include "platform/runner/PhaseEngine.h"

namespace TqRunner {

void CPhaseEngine::ControllerMain(NodeSlotPtr slot) {
  {
    CClientContextScope context(slot->identity);
    CQiError error = Guarded("The controller", [&] { return StartController(*slot); });
    if (error.IsError()) {
      InboxItem failed;
      failed.kind = InboxItem::kStartFailed;
      failed.slot = slot;
      failed.text =
          "The controller of node " + slot->clientName + " did not start: " + error.AsString();
      PostToCoordinator(failed);
      std::lock_guard<std::mutex> lock(mutex_);
      slot->startAborted = true;
    } else {
      ControllerLoop(slot);
    }
    StopController(slot);
  }
  InboxItem finished;
  finished.kind = InboxItem::kFinished;
  finished.slot = slot;
  PostToCoordinator(finished);
  std::lock_guard<std::mutex> lock(mutex_);
  slot->busy = false;
  slot->threadDone = true;
  mainNotified_ = true;
  mainWake_.notify_all();
}

CQiError CPhaseEngine::StartController(NodeSlot& slot) {
  DistributedQEL::CController* made =
      setup_.controllerFactory ? setup_.controllerFactory(setup_.phase.c_str()) : nullptr;
  if (made == nullptr) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The plug-in has no controller for job kind %s",
                                   setup_.phase.c_str());
  }
  std::shared_ptr<DistributedQEL::CController> controller(made);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.controller = controller;
  }
  controller->setClientName(slot.clientName);
  controller->setFrameworkServices(services_);
  CProgramArgumentsPtr arguments;
  CQiError error = CProgramArguments::Parse(slot.arguments, arguments);
  if (error.IsError()) return error.Push(FXLOC);
  controller->setProgramArguments(arguments);
  DistributedQEL::CClientConfigPtr config;
  error = controller->getClientConfigObject(config);
  if (error.IsError()) return error.Push(FXLOC);
  if (!config) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller made no client configuration");
  }
  error = config->parseArguments(arguments);
  if (error.IsError()) return error.Push(FXLOC);
  auto* backupController =
      dynamic_cast<MultiNodeBackupOps::MultiNodeBackupOpsController*>(controller.get());
  if (backupController != nullptr) backupController->setJobCtrlClient(setup_.jobCtrlClient);
  auto* restoreController = dynamic_cast<DistributedQEL::CRestoreController*>(controller.get());
  if (restoreController != nullptr) {
    restoreController->setJobCtrlClient(setup_.jobCtrlClient);
    restoreController->setMultiNode(true);
  }
  controller->OnAgentStarted();
  return CQiError::Success();
}

void CPhaseEngine::ControllerLoop(const NodeSlotPtr& slot) {
  std::shared_ptr<DistributedQEL::CController> controller;
  std::unique_lock<std::mutex> lock(mutex_);
  controller = slot->controller;
  while (true) {
    if (RunControllerCallLocked(lock, *slot)) continue;
    if (slot->startupRequests > 0) {
      --slot->startupRequests;
      slot->busy = true;
      lock.unlock();
      SendStartupReport(slot);
      lock.lock();
      continue;
    }
    if (!slot->inbox.empty()) {
      std::string text = std::move(slot->inbox.front());
      slot->inbox.pop_front();
      slot->busy = true;
      lock.unlock();
      DeliverToController(*slot, text);
      lock.lock();
      continue;
    }
    if (slot->stopRequested) break;
    lock.unlock();
    bool done = true;
    CQiError error = Guarded("isControllerDone", [&] {
      done = controller->isControllerDone();
      return CQiError::Success();
    });
    if (error.IsError()) TQLOG(-1, "%s", error.AsString().c_str());
    lock.lock();
    if (done) {
      slot->stopRequested = true;
      break;
    }
    if (slot->startupRequests > 0 || !slot->inbox.empty() || !slot->calls.empty()) continue;
    slot->busy = false;
    mainNotified_ = true;
    mainWake_.notify_all();
    slot->wake.wait_for(lock, spec_.limits.pollInterval, [&] {
      return slot->startupRequests > 0 || !slot->inbox.empty() || !slot->calls.empty() ||
             slot->stopRequested;
    });
  }
  slot->busy = true;
  streamWake_.notify_all();
}

void CPhaseEngine::SendStartupReport(const NodeSlotPtr& slot) {
  std::shared_ptr<DistributedQEL::CController> controller;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controller = slot->controller;
  }
  DistributedQEL::ControllerStartup startup;
  CQiError error = Guarded("SetAdditionalStartupValues",
                           [&] { return controller->SetAdditionalStartupValues(startup); });
  std::string text;
  if (!error.IsError()) error = CMessageCarrier::Serialize(startup, text);
  if (error.IsError()) {
    InboxItem failed;
    failed.kind = InboxItem::kStartFailed;
    failed.slot = slot;
    failed.text = "Start-up report of node " + slot->clientName + " not sent: " + error.AsString();
    PostToCoordinator(failed);
    std::lock_guard<std::mutex> lock(mutex_);
    slot->startAborted = true;
    slot->stopRequested = true;
    return;
  }
  EmitMessage(slot->clientName, kCoordinatorEndpoint, text);
  InboxItem report;
  report.kind = InboxItem::kMessage;
  report.slot = slot;
  report.text = std::move(text);
  PostToCoordinator(report);
}

void CPhaseEngine::DeliverToController(NodeSlot& slot, const std::string& xml) {
  std::shared_ptr<DistributedQEL::CController> controller;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controller = slot.controller;
  }
  FrameworkMessagePtr message;
  CQiError error = CMessageCarrier::Receive(xml, message);
  if (error.IsError()) {
    TQLOG(-1, "Node %s could not read a message: %s", slot.clientName.c_str(),
          error.AsString().c_str());
    Progress();
    return;
  }
  const uint32_t ns = message->getNamespaceId();
  const uint32_t cls = message->getClassId();
  if (ns == DistributedQEL::NodeStop::kNamespaceId && cls == DistributedQEL::NodeStop::kClassId) {
    TQLOG(1, "Node %s asked to stop", slot.clientName.c_str());
    controller->setStopRequested(true);
    std::lock_guard<std::mutex> lock(mutex_);
    slot.stopRequested = true;
    streamWake_.notify_all();
  } else if (ns == DistributedQEL::NodeInit::kNamespaceId &&
             cls == DistributedQEL::NodeInit::kClassId) {
    error = Guarded("processNodeInit", [&] { return controller->processNodeInit(message.get()); });
    bool start = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      start = !error.IsError() && !slot.controllerStarted;
      if (start) slot.controllerStarted = true;
    }
    if (start) {
      error = Guarded("OnControllerStarted", [&] { return controller->OnControllerStarted(); });
      ControllerStartReturned(slot);
    }
    if (error.IsError()) {
      // The controller cannot work without its start: it stops and reports
      // that it failed to initialise.
      std::lock_guard<std::mutex> lock(mutex_);
      slot.initFailed = true;
      slot.stopRequested = true;
      if (slot.failure.empty()) {
        slot.failure = "The controller of node " + slot.clientName +
                       " failed to initialise: " + error.AsString();
      }
      streamWake_.notify_all();
    }
  } else {
    error = Guarded("OnMsgReceived", [&] { return controller->OnMsgReceived(message); });
  }
  if (error.IsError()) {
    TQLOG(-1, "Node %s failed on message %s: %s", slot.clientName.c_str(),
          message->getTagName().c_str(), error.AsString().c_str());
  }
  Progress();
}

void CPhaseEngine::StopController(const NodeSlotPtr& slot) {
  std::shared_ptr<DistributedQEL::CController> controller;
  bool failed = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    slot->stopRequested = true;
    controller = slot->controller;
    failed = slot->failed || slot->startAborted || slot->initFailed;
    // The node's streams end first (they see the stop); a stream still busy
    // gets the grace period, and the calls it hands over are still served.
    streamWake_.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + spec_.limits.stopGrace;
    while (slot->streamThreads > 0 && std::chrono::steady_clock::now() < deadline) {
      if (RunControllerCallLocked(lock, *slot)) continue;
      slot->wake.wait_for(lock, spec_.limits.pollInterval);
    }
    if (slot->streamThreads > 0) {
      TQLOG(-1, "Node %s stops with %d streams still running", slot->clientName.c_str(),
            slot->streamThreads);
    }
    // OnAgentStopped comes after the controller's last task.
    CloseControllerCallsLocked(*slot);
  }
  if (!controller) return;
  // A restore controller finishes its nodes when its data agent stops, and
  // what it reports then reaches the coordinator before its done report.
  const bool restore = IsRestorePhase();
  if (restore) AgentStopped(*slot, *controller);
  DistributedQEL::ControllerDone done;
  done.setResult(failed ? DistributedQEL::ControllerDone::kResultInitFailed : 0);
  CQiError error = Guarded("SetAdditionalCtrlDoneValues",
                           [&] { return controller->SetAdditionalCtrlDoneValues(done); });
  if (error.IsError()) {
    TQLOG(-1, "Done values of node %s: %s", slot->clientName.c_str(), error.AsString().c_str());
  }
  std::string text;
  error = CMessageCarrier::Serialize(done, text);
  if (error.IsError()) {
    TQLOG(-1, "Done report of node %s not sent: %s", slot->clientName.c_str(),
          error.AsString().c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot->failure.empty()) {
      slot->failure = "Done report of node " + slot->clientName + " not sent: " + error.AsString();
    }
  } else {
    EmitMessage(slot->clientName, kCoordinatorEndpoint, text);
    InboxItem report;
    report.kind = InboxItem::kMessage;
    report.slot = slot;
    report.text = std::move(text);
    PostToCoordinator(report);
  }
  if (!restore) AgentStopped(*slot, *controller);
}

void CPhaseEngine::AgentStopped(NodeSlot& slot, DistributedQEL::CController& controller) {
  CQiError error = Guarded("OnAgentStopped", [&] {
    controller.OnAgentStopped();
    return CQiError::Success();
  });
  if (error.IsError()) {
    TQLOG(-1, "OnAgentStopped of node %s: %s", slot.clientName.c_str(), error.AsString().c_str());
  }
}

CQiError CPhaseEngine::ControllerOnTask(NodeSlot& slot, DistributedQEL::CController& controller,
                                        DistributedQEL::TaskInfo& task) {
  auto onTask = [&controller, &task] {
    bool flag = false;
    return Guarded("OnTask", [&] { return controller.OnTask(&task, flag); });
  };
  if (!IsRestorePhase()) return onTask();
  return CallOnControllerThread(slot, onTask);
}

CQiError CPhaseEngine::CallOnControllerThread(NodeSlot& slot, std::function<CQiError()> call) {
  auto pending = std::make_shared<ControllerCall>();
  pending->run = std::move(call);
  std::unique_lock<std::mutex> lock(mutex_);
  if (slot.callsClosed) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller of node %s has stopped",
                                   slot.clientName.c_str());
  }
  slot.calls.push_back(pending);
  slot.wake.notify_all();
  slot.wake.wait(lock, [&] { return pending->done; });
  return pending->result;
}

bool CPhaseEngine::RunControllerCallLocked(std::unique_lock<std::mutex>& lock, NodeSlot& slot) {
  if (slot.calls.empty()) return false;
  ControllerCallPtr call = slot.calls.front();
  slot.calls.pop_front();
  slot.busy = true;
  lock.unlock();
  CQiError result = Guarded("The controller call", [&] { return call->run(); });
  lock.lock();
  call->result = result;
  call->done = true;
  slot.wake.notify_all();
  return true;
}

void CPhaseEngine::CloseControllerCallsLocked(NodeSlot& slot) {
  slot.callsClosed = true;
  for (const ControllerCallPtr& call : slot.calls) {
    call->result = FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller of node %s has stopped",
                                           slot.clientName.c_str());
    call->done = true;
  }
  slot.calls.clear();
  slot.wake.notify_all();
}

void CPhaseEngine::PostToCoordinator(InboxItem item) {
  std::lock_guard<std::mutex> lock(mutex_);
  inbox_.push_back(std::move(item));
  mainNotified_ = true;
  mainWake_.notify_all();
}

}  // namespace TqRunner
