#pragma once

#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// Interface of a restore worker that the framework runs on a stream.
class IRestoreWorker {
 public:
  IRestoreWorker() = default;
  virtual ~IRestoreWorker() = default;
  IRestoreWorker(const IRestoreWorker&) = delete;
  IRestoreWorker& operator=(const IRestoreWorker&) = delete;

  // Keeps the task message the worker works on; the worker does not own it.
  virtual void SetTaskInfo(DistributedQEL::TaskInfo* task) { taskInfo_ = task; }
  DistributedQEL::TaskInfo* getTaskInfo() const { return taskInfo_; }

 private:
  DistributedQEL::TaskInfo* taskInfo_ = nullptr;
};

}  // namespace DistributedQEL
