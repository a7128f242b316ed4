#include "platform/framework/InMemoryFrameworkServices.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"

namespace DistributedQEL {

void CInMemoryFrameworkServices::registerClient(uint32_t clientId, const std::string& clientName,
                                                const std::string& hostName, int cpuCount) {
  std::lock_guard<std::mutex> lock(mutex_);
  clients_.push_back(Client{clientId, clientName, hostName, cpuCount});
}

void CInMemoryFrameworkServices::addStream(const CStreamInfoPtr& stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams_.push_back(stream);
}

void CInMemoryFrameworkServices::failSendsTo(const std::string& clientName, const CQiError& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  sendFailures_[clientName] = error;
}

void CInMemoryFrameworkServices::setAddWorkerResult(const CQiError& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  addWorkerResult_ = result;
}

CQiError CInMemoryFrameworkServices::MakeNode(const Client& client, CNodeInfoPtr& node) {
  node.reset(new CNodeInfo(client.name, client.id, client.hostName));
  node->setCPUCount(client.cpuCount);
  addedNodes_.push_back(client.name);
  return CQiError::Success();
}

CQiError CInMemoryFrameworkServices::addNode(uint32_t clientId, CNodeInfoPtr& node) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& c : clients_) {
    if (c.id == clientId) return MakeNode(c, node);
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unknown client id %u", clientId);
}

CQiError CInMemoryFrameworkServices::addNode(const std::string& clientName, CNodeInfoPtr& node) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& c : clients_) {
    if (c.name == clientName) return MakeNode(c, node);
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unknown client %s", clientName.c_str());
}

CQiError CInMemoryFrameworkServices::addWorker(const std::string& clientName, bool backupWorker,
                                               const PropertyMap& properties) {
  std::lock_guard<std::mutex> lock(mutex_);
  workerRequests_.push_back(WorkerRequest{clientName, backupWorker, properties});
  return addWorkerResult_;
}

CQiError CInMemoryFrameworkServices::getStreams(std::vector<CStreamInfoPtr>& streams,
                                                const CNodeInfoPtr& node, int status, int kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  streams.clear();
  for (const auto& s : streams_) {
    if (node && s->getNodeName() != node->getClientName()) continue;
    if (status != STREAM_STATUS_ANY && s->getState() != status) continue;
    if (kind != STREAM_KIND_ANY && s->getStreamKind() != kind) continue;
    streams.push_back(s);
  }
  return CQiError::Success();
}

CQiError CInMemoryFrameworkServices::sendMessageToNode(const std::string& clientName,
                                                       const FrameworkMessagePtr& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto failure = sendFailures_.find(clientName);
  if (failure != sendFailures_.end()) return failure->second;
  nodeMessages_.push_back(SentMessage{clientName, message});
  return CQiError::Success();
}

int64_t CInMemoryFrameworkServices::GetTaskCommitOffset(int taskId) {
  return commitOffsets_.Get(taskId);
}

CQiError CInMemoryFrameworkServices::CommitTaskOffset(int taskId, int64_t offset) {
  return commitOffsets_.Commit(taskId, offset);
}

bool CInMemoryFrameworkServices::SendMsgToServer(const std::string& clientName,
                                                 const FrameworkMessagePtr& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  serverMessages_.push_back(SentMessage{clientName, message});
  return true;
}

void CInMemoryFrameworkServices::RequestStartupReport(const std::string& clientName) {
  std::lock_guard<std::mutex> lock(mutex_);
  startupReportRequests_.push_back(clientName);
}

std::vector<std::string> CInMemoryFrameworkServices::addedNodes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return addedNodes_;
}

std::vector<CInMemoryFrameworkServices::WorkerRequest> CInMemoryFrameworkServices::workerRequests()
    const {
  std::lock_guard<std::mutex> lock(mutex_);
  return workerRequests_;
}

std::vector<CInMemoryFrameworkServices::SentMessage> CInMemoryFrameworkServices::nodeMessages()
    const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodeMessages_;
}

std::vector<CInMemoryFrameworkServices::SentMessage> CInMemoryFrameworkServices::serverMessages()
    const {
  std::lock_guard<std::mutex> lock(mutex_);
  return serverMessages_;
}

std::vector<std::string> CInMemoryFrameworkServices::startupReportRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return startupReportRequests_;
}

}  // namespace DistributedQEL
