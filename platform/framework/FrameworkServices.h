#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// What coordinators and controllers ask of the framework that runs them: the
// job runner implements it; CInMemoryFrameworkServices serves tests.
//
// Commit offset of a task: the byte position, in the task's collect file, of
// the first entry not yet stored. The worker commits it after each stored
// entry; GetTaskCommitOffset answers the last commit of the task, -1 when
// there is none; a task handed out again resumes from its payload's offset.
class IFrameworkServices {
 public:
  typedef std::map<std::string, std::string> PropertyMap;

  virtual ~IFrameworkServices() = default;

  // Coordinator side.
  // The node record of a suite client, named by client id or client name.
  virtual CQiError addNode(uint32_t clientId, CNodeInfoPtr& node) = 0;
  virtual CQiError addNode(const std::string& clientName, CNodeInfoPtr& node) = 0;
  // One more worker (stream) on the node.
  virtual CQiError addWorker(const std::string& clientName, bool backupWorker,
                             const PropertyMap& properties) = 0;
  // Replaces `streams` with the job's streams that match: `node` empty for
  // every node; `status` a stream state or STREAM_STATUS_ANY; `kind` a stream
  // kind or STREAM_KIND_ANY.
  virtual CQiError getStreams(std::vector<CStreamInfoPtr>& streams, const CNodeInfoPtr& node,
                              int status, int kind) = 0;
  virtual CQiError sendMessageToNode(const std::string& clientName,
                                     const FrameworkMessagePtr& message) = 0;
  virtual int64_t GetTaskCommitOffset(int taskId) = 0;
  // Error 87 for a negative offset.
  virtual CQiError CommitTaskOffset(int taskId, int64_t offset) = 0;

  // Controller side.
  // A message from the controller of `clientName` to its coordinator.
  virtual bool SendMsgToServer(const std::string& clientName,
                               const FrameworkMessagePtr& message) = 0;
  // The controller's start-up step ran: the framework builds a start-up
  // report, lets the controller add its values, and sends it.
  virtual void RequestStartupReport(const std::string& clientName) = 0;
};

}  // namespace DistributedQEL
