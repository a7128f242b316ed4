#pragma once

// A coordinator and a controller that behave like the backup ones, for the
// job runner's tests: the coordinator registers the nodes, gives each a range
// of collect-file numbers, answers the first start-up report with a
// collect-file request, makes one task per reported collect file, hands them
// out with the payload "%d|%lld", reassigns a failed task to another stream of
// its node with its committed offset and stops every node once all tasks are
// complete; the controller writes real numbered collect files of real source
// files, reports them, and its workers store every listed file into an
// in-memory data stream, committing offsets as they go. What both do, and
// from which client context, is logged in the World the test reads.

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/framework/Backup.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/msg/NMessageBase.h"
#include "platform/objectops/DataStream.h"
#include "platform/runner/RunnerTypes.h"

namespace runner_test {

// Test records of the fakes (namespace 250, registered in the catalogue).
class CreateRequest : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 250;
  static constexpr uint32_t kClassId = 1;
  CreateRequest() : CNMessageBase(kNamespaceId, kClassId) {}
  std::string getNodeName() const { return getstring(1, 1); }
  void setNodeName(const std::string& v) { setstring(1, 1, v); }
};
// A C++ object of the request whose extra member does not travel in XML.
class CreateRequestObject : public CreateRequest {
 public:
  int onlyInMemory = 42;
};
class Notice : public CNMessageBase {
 public:
  static constexpr uint32_t kNamespaceId = 250;
  static constexpr uint32_t kClassId = 2;
  Notice() : CNMessageBase(kNamespaceId, kClassId) {}
  std::string getText() const { return getstring(1, 1); }
  void setText(const std::string& v) { setstring(1, 1, v); }
};
// A record of a pair that no catalogue knows.
class Unknown : public CNMessageBase {
 public:
  Unknown() : CNMessageBase(250, 999) {}
};

// A record nested deeper than XML text may carry.
void MakeTooDeep(CNMessageBase& record);

// What a controller saw when a task arrived.
struct TaskSeen {
  std::string context;  // the thread's client name
  std::string controller;
  int taskId = 0;
  std::string payload;
};

// What a controller saw when it started.
struct StartSeen {
  std::string context;
  std::string controller;
  std::string jobResultsDirectory;  // TQPI_CommClient for the focus client
  std::string configDirectory;      // its configuration's job results directory
  std::string arguments;
  bool metOthers = false;  // all controllers of the barrier were in at once
};

struct StoredItem {
  std::string client;  // of the data stream the item went to
  int stream = 0;
  std::string path;
  std::string data;
};

// The data stream the runner hands a worker: it names its client and stream
// number, and the fake workers store their items through it into the World.
class FakeStream : public OBJECTOPSAPI::IDataStream {
 public:
  FakeStream(const std::string& client, int number) : client_(client), number_(number) {}
  void Store(const std::string& path, const std::string& data);
  // The fakes store whole items through Store only.
  CQiError BeginItem(const OBJECTOPSAPI::StreamItemHeader&) override;
  CQiError WriteExtent(uint64_t, const void*, size_t) override;
  CQiError CommitItem() override;
  void AbortItem() override {}

 private:
  std::string client_;
  int number_;
};

// Shared by the test and the fakes; reset for every test.
class World {
 public:
  static World& Get();
  void Reset();

  // Settings, made before the job runs.
  std::vector<std::string> nodes;  // clients the coordinator registers
  int streamsPerNode = 2;
  // Per node, its collect files, each a list of source files.
  std::map<std::string, std::vector<std::vector<std::string>>> collectFiles;
  std::set<std::string> failOnce;    // source files whose first store fails
  std::set<std::string> failAlways;  // source files that never store
  std::string quitAt;                // storing this file raises the quit flag and fails it
  TQJobCtrlClientPtr quitClient;
  // The n-th OnIdle that finds every task ended, one of them failed, raises
  // quitClient's flag (0: none does).
  int quitOnIdleAfterFailure = 0;
  int idleAfterFailure = 0;                // such OnIdle calls so far
  std::string blockAt;                     // storing this file waits for Release()
  std::set<std::string> silentNodes;       // their controllers ignore the request
  std::set<std::string> deepAckNodes;      // their acknowledgements cannot be serialised
  std::set<std::string> deepStartupNodes;  // their start-up reports cannot be serialised
  std::set<std::string> failAckNodes;      // getNodeStartAcknowledgeMessage fails
  bool failLoad = false;                   // loadNodeConfiguration fails
  bool reassignAlways = false;             // a failed task goes back even with no other stream
  std::map<int, int> actionFor;            // task -> TakeAction code its failure answers
  std::set<int> throwOnce;                 // tasks whose first OnTask throws
  bool noticeOnStop = false;               // controllers send a Notice when they stop
  std::set<std::string> failPostOpStart;   // their post-operations processNodeInit fails
  int barrier = 0;                         // controllers that must all be in OnAgentStarted at once

  // Logs.
  void Coordinator(const std::string& text);
  void Node(const std::string& text);
  std::vector<std::string> CoordinatorCalls() const;
  std::vector<std::string> NodeCalls() const;
  std::set<std::string> CoordinatorContexts() const;
  void SeeTask(const TaskSeen& seen);
  std::vector<TaskSeen> TasksSeen() const;
  void SeeStart(const StartSeen& seen);
  std::vector<StartSeen> StartsSeen() const;
  void SeeRequest(bool sameObject, const std::string& node);
  int RequestsAsObjects() const;
  int RequestsReceived() const;
  void SeeGetTaskContext(const std::string& client);
  std::set<std::string> GetTaskContexts() const;

  // The data streams and what they stored.
  TqRunner::StreamFactory Streams();
  std::vector<StoredItem> Stored() const;
  int StoredCount(const std::string& path) const;
  void Store(const StoredItem& item);

  // Failure injection for workers.
  bool TakeFailure(const std::string& path);
  bool TakeThrow(int task);
  void Block();  // waits (bounded) until Release
  void Release();
  bool WaitBlocked(int milliseconds);  // a worker is waiting in Block
  void CoordinatorDestroyed();
  bool WaitCoordinatorsDestroyed(int count, int milliseconds);
  bool MeetBarrier();

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> coordinatorCalls_;
  std::vector<std::string> nodeCalls_;
  std::set<std::string> coordinatorContexts_;
  std::vector<TaskSeen> tasksSeen_;
  std::vector<StartSeen> startsSeen_;
  int requestsAsObjects_ = 0;
  int requestsReceived_ = 0;
  std::set<std::string> getTaskContexts_;
  std::map<std::pair<std::string, int>, boost::shared_ptr<FakeStream>> streams_;
  std::vector<StoredItem> stored_;
  bool released_ = false;
  bool blocked_ = false;
  int coordinatorsDestroyed_ = 0;
  int barrierIn_ = 0;
};

// The factories of the fakes: "scan", "backup" and "postop" coordinators,
// "backup" and "postop" controllers; null for other kinds.
DistributedQEL::ICoordinator* CreateCoordinator(const char* kind);
DistributedQEL::CController* CreateController(const char* kind);

}  // namespace runner_test
