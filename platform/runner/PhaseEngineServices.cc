// The framework services of a phase, as its coordinator and controllers see
// them, and the helpers the engine's threads share.
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/MessageCatalog.h"
#include "platform/runner/MessageCarrier.h"
#include "platform/runner/PhaseEngine.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TqRunner {

using DistributedQEL::CNodeInfo;
using DistributedQEL::CNodeInfoPtr;

// Framework services.

CQiError CPhaseEngine::AddNode(const uint32_t* clientId, const std::string* clientName,
                               CNodeInfoPtr& node) {
  std::vector<NodeClient> clients = spec_.nodeClients;
  clients.push_back(spec_.coordinatorClient);
  for (const NodeClient& client : clients) {
    if (client.clientName.empty()) continue;
    if (clientId != nullptr && client.clientId != *clientId) continue;
    if (clientName != nullptr && client.clientName != *clientName) continue;
    node.reset(new CNodeInfo(client.clientName, client.clientId, client.hostName));
    node->setCPUCount(client.cpuCount);
    return CQiError::Success();
  }
  // Then the clients the suite knows (registered, or added in this process).
  SClientRecord known;
  bool found = clientId != nullptr ? CClientDirectory::Instance().FindById(*clientId, known)
                                   : CClientDirectory::Instance().FindByName(*clientName, known);
  if (found && !known.name.empty()) {
    node.reset(new CNodeInfo(known.name, static_cast<uint32_t>(known.id), known.hostName));
    return CQiError::Success();
  }
  if (clientId != nullptr) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unknown client id %u", *clientId);
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unknown client %s",
                                 clientName ? clientName->c_str() : "");
}

CQiError CPhaseEngine::AddWorker(const std::string& clientName, bool) {
  std::lock_guard<std::mutex> lock(mutex_);
  NodeSlotPtr slot = FindSlotLocked(clientName);
  if (!slot || !slot->started || slot->failed || slot->stopRequested || slot->threadDone) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Node %s is not running", clientName.c_str());
  }
  if (slot->addedWorkers >= spec_.limits.maxAddedWorkersPerNode) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "No more workers can be added to node %s",
                                   clientName.c_str());
  }
  ++slot->addedWorkers;
  TQLOG(0, "Adding a worker to node %s", clientName.c_str());
  progress_.fetch_add(1);
  mainNotified_ = true;
  mainWake_.notify_all();
  return CQiError::Success();
}

CQiError CPhaseEngine::GetStreams(std::vector<DistributedQEL::CStreamInfoPtr>& streams,
                                  const CNodeInfoPtr& node, int status, int kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams.clear();
  for (const auto& stream : streams_) {
    const auto& info = stream->info;
    if (node && info->getNodeName() != node->getClientName()) continue;
    if (status != DistributedQEL::STREAM_STATUS_ANY && info->getState() != status) continue;
    if (kind != DistributedQEL::STREAM_KIND_ANY && info->getStreamKind() != kind) continue;
    streams.push_back(info);
  }
  return CQiError::Success();
}

CQiError CPhaseEngine::SendMessageToNode(const std::string& clientName,
                                         const FrameworkMessagePtr& message) {
  if (!message) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No message to send to node %s", clientName.c_str());
  }
  std::string text;
  CQiError error = CMessageCarrier::Serialize(*message, text);
  if (error.IsError()) return error.Push(FXLOC);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    NodeSlotPtr slot = FindSlotLocked(clientName);
    // A restore's node may be asked to stop before its controller runs.
    if (!slot || (!slot->launched && !IsRestorePhase()) || slot->threadDone) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Node %s has no running controller",
                                     clientName.c_str());
    }
    if (!HoldNodeStopLocked(*slot, text, message->getNamespaceId(), message->getClassId())) {
      slot->inbox.push_back(text);
      slot->wake.notify_all();
    }
  }
  EmitMessage(kCoordinatorEndpoint, clientName, text);
  Progress();
  return CQiError::Success();
}

int64_t CPhaseEngine::GetTaskCommitOffset(int taskId) { return commitOffsets_.Get(taskId); }

CQiError CPhaseEngine::CommitTaskOffset(int taskId, int64_t offset) {
  return commitOffsets_.Commit(taskId, offset);
}

bool CPhaseEngine::SendMsgToServer(const std::string& clientName,
                                   const FrameworkMessagePtr& message) {
  if (!message) return false;
  std::string text;
  CQiError error = CMessageCarrier::Serialize(*message, text);
  if (error.IsError()) {
    TQLOG(-1, "Message of node %s not sent: %s", clientName.c_str(), error.AsString().c_str());
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    NodeSlotPtr slot = FindSlotLocked(clientName);
    if (!slot) return false;
    InboxItem item;
    item.kind = InboxItem::kMessage;
    item.slot = slot;
    item.text = text;
    inbox_.push_back(std::move(item));
    mainWake_.notify_all();
  }
  EmitMessage(clientName, kCoordinatorEndpoint, text);
  return true;
}

void CPhaseEngine::RequestStartupReport(const std::string& clientName) {
  std::lock_guard<std::mutex> lock(mutex_);
  NodeSlotPtr slot = FindSlotLocked(clientName);
  if (!slot) return;
  ++slot->startupRequests;
  slot->wake.notify_all();
}

// Shared helpers.

bool CPhaseEngine::QuitRaised() const {
  return !quitAtStart_ && setup_.jobCtrlClient && setup_.jobCtrlClient->checkQuitFlag();
}

void CPhaseEngine::Progress() {
  progress_.fetch_add(1);
  std::lock_guard<std::mutex> lock(mutex_);
  mainNotified_ = true;
  mainWake_.notify_all();
}

void CPhaseEngine::WakeStreamsLocked() {
  ++wakeGeneration_;
  streamWake_.notify_all();
}

void CPhaseEngine::Emit(const RunnerEvent& event) {
  if (!spec_.observer) return;
  RunnerEvent copy = event;
  copy.phase = setup_.phase;
  std::lock_guard<std::mutex> lock(observerMutex_);
  if (!observerClosed_) spec_.observer(copy);
}

void CPhaseEngine::EmitMessage(const std::string& from, const std::string& to,
                               const std::string& xml) {
  if (!spec_.observer) return;
  RunnerEvent event;
  event.kind = RunnerEvent::kMessage;
  event.from = from;
  event.to = to;
  event.xml = xml;
  uint32_t ns = 0, cls = 0;
  if (CMessageCarrier::PeekClass(xml, ns, cls)) event.recordName = CMessageCatalog::NameOf(ns, cls);
  Emit(event);
}

}  // namespace TqRunner
