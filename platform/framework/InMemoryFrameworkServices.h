#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/framework/CommitOffsets.h"
#include "platform/framework/FrameworkServices.h"

namespace DistributedQEL {

// Framework services kept in memory: answers from the clients and streams it
// is given, records every request, and keeps commit offsets. Safe to call
// from several threads.
class CInMemoryFrameworkServices : public IFrameworkServices {
 public:
  struct WorkerRequest {
    std::string clientName;
    bool backupWorker = false;
    PropertyMap properties;
  };
  struct SentMessage {
    std::string clientName;
    FrameworkMessagePtr message;
  };

  // A suite client that addNode can resolve.
  void registerClient(uint32_t clientId, const std::string& clientName,
                      const std::string& hostName = "", int cpuCount = 0);
  // A stream that getStreams reports.
  void addStream(const CStreamInfoPtr& stream);
  // Makes sendMessageToNode to that client fail with the error from now on.
  void failSendsTo(const std::string& clientName, const CQiError& error);
  // Makes every later addWorker answer this (after recording the request).
  void setAddWorkerResult(const CQiError& result);

  CQiError addNode(uint32_t clientId, CNodeInfoPtr& node) override;
  CQiError addNode(const std::string& clientName, CNodeInfoPtr& node) override;
  CQiError addWorker(const std::string& clientName, bool backupWorker,
                     const PropertyMap& properties) override;
  CQiError getStreams(std::vector<CStreamInfoPtr>& streams, const CNodeInfoPtr& node, int status,
                      int kind) override;
  CQiError sendMessageToNode(const std::string& clientName,
                             const FrameworkMessagePtr& message) override;
  int64_t GetTaskCommitOffset(int taskId) override;
  CQiError CommitTaskOffset(int taskId, int64_t offset) override;
  bool SendMsgToServer(const std::string& clientName, const FrameworkMessagePtr& message) override;
  void RequestStartupReport(const std::string& clientName) override;

  // What was asked, in order.
  std::vector<std::string> addedNodes() const;  // client names of the records made
  std::vector<WorkerRequest> workerRequests() const;
  std::vector<SentMessage> nodeMessages() const;    // messages sent to nodes
  std::vector<SentMessage> serverMessages() const;  // messages sent to the coordinator
  std::vector<std::string> startupReportRequests() const;

 private:
  struct Client {
    uint32_t id = 0;
    std::string name;
    std::string hostName;
    int cpuCount = 0;
  };
  CQiError MakeNode(const Client& client, CNodeInfoPtr& node);

  mutable std::mutex mutex_;
  std::vector<Client> clients_;
  std::vector<CStreamInfoPtr> streams_;
  std::map<std::string, CQiError> sendFailures_;
  CQiError addWorkerResult_;
  CCommitOffsets commitOffsets_;
  std::vector<std::string> addedNodes_;
  std::vector<WorkerRequest> workerRequests_;
  std::vector<SentMessage> nodeMessages_;
  std::vector<SentMessage> serverMessages_;
  std::vector<std::string> startupReportRequests_;
};

}  // namespace DistributedQEL
