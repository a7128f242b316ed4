#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/framework/FVBase.h"
#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// A task of a job phase. Coordinators make tasks and put them on the task list
// of their coordinator base; the framework hands them to streams and moves
// them through their statuses. A task is shared between the coordinator and
// the framework and is changed only under the coordinator base's lock.
class TaskBase {
 public:
  TaskBase() = default;
  virtual ~TaskBase() = default;

  // Total number of streams that failed the task, over every node.
  size_t failedStreamCount() const;

  int taskId = -1;           // unique within the job
  int status = 0;            // TASK_* (FrameworkTypes.h)
  int priority = 50;         // lower runs first
  int taskKind = 1;          // compared with the kind a stream asks for
  int streamId = 0;          // the stream that last ran the task
  int phase = 0;             // the phase that made the task
  std::string reservedNode;  // client name of the node the task is reserved for; "" = any
  std::string runningNode;   // client name of the node that runs or ran the task
  std::map<std::string, std::set<int>> failedStreams;  // node name -> streams that failed it
  int attemptCount = 0;     // how often the framework handed the task out
  std::string description;  // free text for logs
  FVBasePtr customInfo;     // the coordinator's payload (CollectFileInfo in a backup)
};

}  // namespace DistributedQEL
