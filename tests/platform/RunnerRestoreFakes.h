#pragma once

// A restore coordinator and controller that log every framework call, for
// the job runner's restore phase tests. The coordinator registers its nodes
// (on the first loadNodeConfiguration or, like a subclient restore, on the
// second), makes one restore record per archive file the test stored,
// answers each start-up with a NodeInit, and in OnIdle, once every task has
// ended, "truncates" (logged) and stops every node; the controller's workers
// stage every item under the test's staging folder. What both did is logged
// in the RestoreWorld the test reads.

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/framework/Controller.h"
#include "platform/framework/Coordinator.h"

namespace runner_test {

struct RestoreRecordSpec {
  std::string node;
  int64_t archiveFileId = 0;
};

class RestoreWorld {
 public:
  static RestoreWorld& Get();
  void Reset();

  // Settings.
  std::vector<std::string> nodes;
  bool nodesLate = false;  // nodes are registered by the second loadNodeConfiguration
  bool stageFree = false;  // no task policies: no tasks
  std::vector<RestoreRecordSpec> records;
  std::vector<std::string> sourcePaths;
  std::string staging;                 // where the workers stage items
  int jobStatus = 1;                   // what OnComplete sets (0: nothing)
  std::set<std::string> reloadFailed;  // their controllers report a failed reload
  int startMillis = 0;                 // OnControllerStarted takes this long
  int taskMillis = 0;                  // OnTask takes this long

  // A controller call and the thread it ran on.
  struct ThreadSeen {
    std::string node;
    std::string call;
    std::thread::id thread;
  };

  void Coordinator(const std::string& text);
  void Node(const std::string& text);
  std::vector<std::string> CoordinatorCalls() const;
  std::vector<std::string> NodeCalls() const;
  // Both logs in one, in the order the calls happened.
  std::vector<std::string> AllCalls() const;
  // The threads of processNodeInit, OnControllerStarted, OnTask,
  // GetRestoreWorker and OnAgentStopped, in call order.
  void Thread(const std::string& call);
  std::vector<ThreadSeen> ThreadsSeen() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> coordinatorCalls_;
  std::vector<std::string> nodeCalls_;
  std::vector<std::string> allCalls_;
  std::vector<ThreadSeen> threads_;
};

// Both for "restore" and "CassandraLogRestore"; null for other kinds.
DistributedQEL::ICoordinator* CreateRestoreCoordinator(const char* kind);
DistributedQEL::CController* CreateRestoreController(const char* kind);

}  // namespace runner_test
