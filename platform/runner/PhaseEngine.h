#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/base/FXMutex.h"
#include "platform/base/QiError.h"
#include "platform/datamover/RestoreDataMover.h"
#include "platform/framework/CommitOffsets.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/multinode/BackupWorker.h"
#include "platform/runner/RunnerTypes.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"

namespace TQDC_FileSystem {
class CRestore;
}

namespace TqRunner {

// Runs one phase of a job as the distributed agent framework would, all in
// this process:
//
// 1. the coordinator from the factory; a phase it asks to skip ends here
//    (OnSkipPhase);
// 2. getClientConfigObject, the configuration's parseArguments with the
//    coordinator's argument line, initialize, loadNodeConfiguration;
// 3. per registered node getStreamReservationInfoForNode, then
//    getCommandArgumentsForNode;
// 4. one controller per node, each on its own thread in its client's context
//    (client name, the job's results directory of that client): the factory,
//    getClientConfigObject, the configuration's parseArguments with the
//    controller's argument line, OnAgentStarted, then its messages one at a
//    time;
// 5. start-up reports (ControllerStarted, then getNodeStartAcknowledgeMessage
//    and its answer back to the node), node messages (NodeInit to
//    processNodeInit, NodeStop to the framework's stop, others to
//    OnMsgReceived) and messages to the coordinator (processMessage);
// 6. a node's streams on threads, as many as it reserved, while it has tasks:
//    getTask, the task to the controller's OnTask, then the controller's
//    backup worker on the task's collect file (a restore stream hands OnTask
//    to its node's controller thread and waits for it, then runs its data
//    mover); every status change goes to
//    OnTaskChange, whose TakeAction the runner follows; OnIdle whenever the
//    runner looks round;
// 7. a node's stop, on its controller thread: its streams end, its done
//    report (SetAdditionalCtrlDoneValues, then ControllerDone on the
//    coordinator), OnAgentStopped;
// 8. OnComplete, and the phase status.
//
// Every message between the coordinator and a controller travels as XML text
// (CMessageCarrier). Every call into the coordinator is made in the
// coordinating client's context and under the coordinator lock, so the
// coordinator sees one call at a time.
//
// The phase ends when every node has stopped; when nothing can move any more
// (no message, no running task, every stream has asked for a task since the
// last change, for RunnerLimits::stallRounds rounds: "no progress"); when the
// quit flag is raised while it runs ("quit": no task is handed out any more,
// running ones finish); or after RunnerLimits::phaseTimeout ("timeout", which
// raises the job's quit flag). The runner then stops the remaining streams
// and controllers, waits at most RunnerLimits::stopGrace for them, and calls
// OnComplete. A phase that starts with the quit flag already raised (the
// post-operations phase of a killed job) is not cut short for it: its
// coordinator and workers read the flag themselves.
class CPhaseEngine : public std::enable_shared_from_this<CPhaseEngine> {
 public:
  struct Setup {
    // Shared, so that a thread left running past the phase still finds it.
    std::shared_ptr<const JobSpec> spec;
    std::string phase;
    CoordinatorFactory coordinatorFactory = nullptr;
    ControllerFactory controllerFactory = nullptr;
    TQJobClientPtr jobClient;
    TQJobCtrlClientPtr jobCtrlClient;
    // Commit offsets to start from (restart entries of an earlier run).
    std::map<int, int64_t> commitOffsets;
    // Phase parameters the earlier phases gave the job manager; they end the
    // coordinator's argument line.
    std::string phaseParams;
    // The number of the phase's first task when the runner makes the tasks
    // (a restore), so that the task numbers of a job's phases differ.
    int firstTaskId = 1;
  };

  static PhaseResult Run(const Setup& setup);
  ~CPhaseEngine();

  // The framework services of the phase (CRunnerServices).
  CQiError AddNode(const uint32_t* clientId, const std::string* clientName,
                   DistributedQEL::CNodeInfoPtr& node);
  CQiError AddWorker(const std::string& clientName, bool backupWorker);
  CQiError GetStreams(std::vector<DistributedQEL::CStreamInfoPtr>& streams,
                      const DistributedQEL::CNodeInfoPtr& node, int status, int kind);
  CQiError SendMessageToNode(const std::string& clientName, const FrameworkMessagePtr& message);
  int64_t GetTaskCommitOffset(int taskId);
  CQiError CommitTaskOffset(int taskId, int64_t offset);
  bool SendMsgToServer(const std::string& clientName, const FrameworkMessagePtr& message);
  void RequestStartupReport(const std::string& clientName);

 private:
  struct StreamSlot {
    enum Phase { kStarting, kAsking, kBusy, kIdle, kExited };
    DistributedQEL::CStreamInfoPtr info;
    std::thread thread;
    bool threadDone = false;
    Phase phase = kStarting;
    bool asked = false;
    uint64_t seenGeneration = 0;
    // Used by the stream's own thread only.
    MultiNodeBackupOps::IBackupWorkerPtr worker;
    std::unique_ptr<TqDataMover::CRestoreDataMover> mover;  // a restore stream's
  };

  // A call a stream hands to its node's controller thread; the stream waits
  // until `done`. Guarded by the engine mutex.
  struct ControllerCall {
    std::function<CQiError()> run;
    CQiError result;
    bool done = false;
  };
  typedef std::shared_ptr<ControllerCall> ControllerCallPtr;

  // One node of the phase and its controller. Fields below `inbox` are
  // guarded by the engine mutex.
  struct NodeSlot {
    DistributedQEL::CNodeInfoPtr node;
    std::string clientName;
    CClientContext::Ptr identity;
    std::string arguments;  // the controller's program arguments
    std::thread thread;

    std::deque<std::string> inbox;  // messages from the coordinator, as XML
    // Calls its streams hand to the controller thread, in arrival order; once
    // `callsClosed` (the controller is stopping) they fail at once.
    std::deque<ControllerCallPtr> calls;
    bool callsClosed = false;
    std::shared_ptr<DistributedQEL::CController> controller;
    std::string failure;
    int startupRequests = 0;
    bool launched = false;                 // its controller thread was started
    bool busy = true;                      // its controller thread is working
    bool stopRequested = false;            // NodeStop arrived, or the phase ends
    bool started = false;                  // a start-up report reached the coordinator
    bool failed = false;                   // the node failed to start (the coordinator knows)
    bool startAborted = false;             // its controller thread gave up starting
    bool initFailed = false;               // processNodeInit or OnControllerStarted failed
    bool controllerStarted = false;        // OnControllerStarted was called
    bool controllerStartReturned = false;  // ... and has returned
    // A restore's NodeStop that came before OnControllerStarted returned; it
    // is delivered once it has.
    std::deque<std::string> heldMessages;
    bool threadDone = false;  // its controller thread has ended
    bool finished = false;    // ... and the coordinator was told
    int addedWorkers = 0;
    int liveStreams = 0;    // streams that have not decided to end
    int streamThreads = 0;  // stream threads that have not returned
    int streamsRun = 0;
    std::condition_variable wake;
  };
  typedef std::shared_ptr<NodeSlot> NodeSlotPtr;

  // What the coordinator thread has to handle, in arrival order.
  struct InboxItem {
    enum Kind { kMessage, kStartFailed, kFinished };
    Kind kind = kMessage;
    NodeSlotPtr slot;
    std::string text;  // the XML of a message, or why a start failed
  };

  // Held around every call into the coordinator: the coordinating client's
  // context and the coordinator lock.
  class CoordinatorScope {
   public:
    explicit CoordinatorScope(CPhaseEngine& engine);

   private:
    CClientContextScope context_;
    auto_lock lock_;
  };

  explicit CPhaseEngine(const Setup& setup);

  // The coordinator thread (PhaseEngine.cc).
  PhaseResult Execute();
  CQiError StartCoordinator();
  // The coordinator's argument line, its configuration and the
  // configuration's parseArguments (with the coordinator lock held).
  CQiError ConfigureCoordinator(DistributedQEL::CClientConfigPtr& config,
                                CProgramArgumentsPtr& arguments);
  void PlanNodes();
  void LaunchControllers();
  std::string MainLoop();
  // One OnIdle call of the coordinator.
  void Idle();
  void EndPhase(const std::string& reason);
  bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
  void ProcessInbox();
  void HandleItem(const InboxItem& item);
  void HandleStartup(const NodeSlotPtr& slot, const std::string& xml);
  void NodeStartFailed(const NodeSlotPtr& slot, const std::string& reason);
  void NodeChanged(const NodeSlotPtr& slot);
  void MaintainStreams();
  bool QuietLocked() const;
  bool AllNodesFinishedLocked() const;
  // False when a thread left running holds the coordinator.
  bool Complete(PhaseResult& result, bool coordinatorFree);
  void Collect(PhaseResult& result);
  bool ReleaseThreads();
  std::string DescribeStall();
  // The job's number of streams, never more than the subclient's maximum.
  int JobStreams() const;
  std::string CoordinatorArguments() const;
  std::string ControllerArguments(const std::string& jobResultsDirectory) const;
  std::string JobResultsDirectoryOf(const std::string& clientName) const;
  NodeSlotPtr FindSlotLocked(const std::string& clientName) const;

  // The controller threads (PhaseEngineNodes.cc).
  void ControllerMain(NodeSlotPtr slot);
  CQiError StartController(NodeSlot& slot);
  void ControllerLoop(const NodeSlotPtr& slot);
  void SendStartupReport(const NodeSlotPtr& slot);
  void DeliverToController(NodeSlot& slot, const std::string& xml);
  void StopController(const NodeSlotPtr& slot);
  void AgentStopped(NodeSlot& slot, DistributedQEL::CController& controller);
  // The controller's OnTask for a task a stream took. A restore controller
  // gets it on its controller thread, as every other call of it: the stream
  // waits for the call to return. Other controllers get it on the stream's
  // thread.
  CQiError ControllerOnTask(NodeSlot& slot, DistributedQEL::CController& controller,
                            DistributedQEL::TaskInfo& task);
  // Runs `call` on the node's controller thread and waits for its result.
  CQiError CallOnControllerThread(NodeSlot& slot, std::function<CQiError()> call);
  // On the controller thread, with the engine mutex held through `lock`: runs
  // the oldest call a stream handed over; false when there was none.
  bool RunControllerCallLocked(std::unique_lock<std::mutex>& lock, NodeSlot& slot);
  // The controller takes no more calls: pending ones fail.
  void CloseControllerCallsLocked(NodeSlot& slot);
  void PostToCoordinator(InboxItem item);

  // What one restore task restores: the items of one archive file, for one
  // node.
  struct SRestoreSource {
    std::string nodeName;
    int64_t archiveFileId = 0;
    int64_t archiveGroup = 0;
    int64_t fromTime = 0;
    int64_t toTime = 0;
    std::vector<std::string> sourcePaths;
    std::vector<std::string> filterPaths;
    std::string destination;
  };

  // The restore phase (PhaseEngineRestore.cc).
  bool IsRestorePhase() const { return restore_ != nullptr; }
  // One source per restore record of the coordinator base.
  CQiError RestoreSources(std::vector<SRestoreSource>& sources);
  CQiError StartRestoreCoordinator();
  CQiError MakeRestoreTasks();
  // With the coordinator lock held: the next task for the stream, or none.
  DistributedQEL::TaskBasePtr TakeRestoreTask(NodeSlot& slot, StreamSlot& stream,
                                              DistributedQEL::TaskInfoPtr& info);
  CQiError RunRestoreWorker(NodeSlot& slot, StreamSlot& stream, DistributedQEL::TaskInfo& task);
  // With the coordinator lock held: a failed restore task goes back to the
  // other streams of its node unless they all failed it.
  void RetryRestoreTask(const DistributedQEL::TaskBasePtr& task);
  void FinishRestoreStream(NodeSlot& slot, StreamSlot& stream);
  // Holds a restore's NodeStop until the controller's OnControllerStarted has
  // returned; true when the message was held.
  bool HoldNodeStopLocked(NodeSlot& slot, const std::string& xml, uint32_t ns, uint32_t cls);
  void ControllerStartReturned(NodeSlot& slot);
  void RestoreStatus(PhaseResult& result) const;

  // The stream threads (PhaseEngineStreams.cc).
  // False when the system gave no thread for the stream.
  bool StartStreamLocked(const NodeSlotPtr& slot);
  // A thread could not be started: remembers why and asks the job to stop.
  void ThreadStartFailedLocked(const std::string& what, const std::system_error& error);
  void StreamMain(NodeSlotPtr slot, std::shared_ptr<StreamSlot> stream);
  bool StreamMustEndLocked(const NodeSlot& slot) const;
  // The stream has decided to end: it no longer counts for its node.
  void StreamEndsLocked(NodeSlot& slot, StreamSlot& stream);
  CQiError RunTask(NodeSlot& slot, StreamSlot& stream, const DistributedQEL::TaskInfoPtr& task);
  CQiError RunBackupWorker(NodeSlot& slot, StreamSlot& stream, DistributedQEL::TaskInfo& task);
  // With the coordinator lock held.
  DistributedQEL::TaskBasePtr FindTask(int64_t taskId) const;
  bool NodeHasWork(const std::string& clientName) const;
  void ChangeTask(const DistributedQEL::TaskBasePtr& task, int status,
                  const std::string& clientName, int streamNumber);

  // Shared helpers.
  // The quit flag was raised after the phase started.
  bool QuitRaised() const;
  void Progress();
  void WakeStreamsLocked();
  void Emit(const RunnerEvent& event);
  void EmitMessage(const std::string& from, const std::string& to, const std::string& xml);

  const Setup setup_;
  const JobSpec& spec_;
  DistributedQEL::IFrameworkServicesPtr services_;
  CClientContext::Ptr coordinatorIdentity_;
  std::shared_ptr<DistributedQEL::ICoordinator> coordinator_;
  // The coordinator as a restore coordinator; null in other phases.
  TQDC_FileSystem::CRestore* restore_ = nullptr;
  std::string restoreDestination_;  // of the job's options
  std::chrono::steady_clock::time_point started_;
  bool quitAtStart_ = false;
  // Why a controller or stream thread could not be started ("" while every
  // one could); the job is then asked to stop and the phase fails with it.
  std::string threadStartError_;

  mutable std::mutex mutex_;
  std::condition_variable mainWake_;
  std::condition_variable streamWake_;
  bool mainNotified_ = false;
  std::deque<InboxItem> inbox_;
  std::vector<NodeSlotPtr> slots_;
  std::vector<std::shared_ptr<StreamSlot>> streams_;
  DistributedQEL::CCommitOffsets commitOffsets_;
  uint64_t wakeGeneration_ = 1;
  int nextStreamNumber_ = 1;
  bool ending_ = false;
  std::atomic<uint64_t> progress_{0};

  std::mutex observerMutex_;
  bool observerClosed_ = false;  // the phase has ended: no more events
};

}  // namespace TqRunner
