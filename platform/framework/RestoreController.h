#pragma once

#include "platform/framework/Controller.h"

namespace DistributedQEL {

// Base of a restore node controller.
class CRestoreController : public CController {
 public:
  CRestoreController() = default;

  // One new restore worker per call; the base has none to give (error 1359).
  virtual CQiError GetRestoreWorker(IRestoreWorkerPtr& worker);
  // The job control client of the job; error 87 when there is none.
  virtual CQiError GetJobControllerObj(TQJobCtrlClientPtr& jobCtrlClient);
  // Whether the restore runs on several nodes.
  virtual bool IsMultiNode() { return multiNode_; }

  void setMultiNode(bool multiNode) { multiNode_ = multiNode; }
  void setJobCtrlClient(const TQJobCtrlClientPtr& client) { jobCtrlClient_ = client; }

 private:
  bool multiNode_ = false;
  TQJobCtrlClientPtr jobCtrlClient_;
};

}  // namespace DistributedQEL
