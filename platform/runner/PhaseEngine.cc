#include "platform/runner/PhaseEngine.h"

#include <ctime>
#include <filesystem>
#include <set>
#include <sstream>

#include "platform/app/AutoStreamHandler.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXMutex.h"
#include "platform/framework/Backup.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/Controller.h"
#include "platform/framework/Coordinator.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/framework/Restore.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/MessageCatalog.h"
#include "platform/runner/Guarded.h"
#include "platform/runner/MessageCarrier.h"
#include "platform/runner/RunnerServices.h"
#include "platform/runner/ThreadStart.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TqRunner {

using DistributedQEL::CNodeInfo;
using DistributedQEL::CNodeInfoPtr;
using DistributedQEL::TaskBasePtr;

CPhaseEngine::CoordinatorScope::CoordinatorScope(CPhaseEngine& engine)
    : context_(engine.coordinatorIdentity_), lock_(engine.coordinator_->getCoordinatorLock()) {}

CPhaseEngine::CPhaseEngine(const Setup& setup)
    : setup_(setup), spec_(*setup.spec), commitOffsets_(setup.commitOffsets) {}

CPhaseEngine::~CPhaseEngine() = default;

PhaseResult CPhaseEngine::Run(const Setup& setup) {
  std::shared_ptr<CPhaseEngine> engine(new CPhaseEngine(setup));
  return engine->Execute();
}

namespace {

// The job's stream count is what the stream handler answers for the
// subclient while the phase runs, so the coordinator's share of the
// subclient's streams and its share of "-numstreams" are one figure.
class JobStreamsScope {
 public:
  JobStreamsScope(uint64_t subclientId, int streams) : subclientId_(subclientId) {
    AutoStreamHandler::SetJobStreams(subclientId_, streams);
  }
  ~JobStreamsScope() { AutoStreamHandler::SetJobStreams(subclientId_, 0); }
  JobStreamsScope(const JobStreamsScope&) = delete;
  JobStreamsScope& operator=(const JobStreamsScope&) = delete;

 private:
  uint64_t subclientId_;
};

}  // namespace

int CPhaseEngine::JobStreams() const {
  if (spec_.numberOfStreams <= 0) return spec_.numberOfStreams;
  return AutoStreamHandler::CapToSubclient(spec_.applicationId, spec_.numberOfStreams);
}

PhaseResult CPhaseEngine::Execute() {
  JobStreamsScope jobStreams(spec_.applicationId, JobStreams());
  PhaseResult result;
  result.name = setup_.phase;
  result.startTime = std::time(nullptr);
  started_ = std::chrono::steady_clock::now();
  quitAtStart_ = setup_.jobCtrlClient && setup_.jobCtrlClient->checkQuitFlag();
  services_.reset(new CRunnerServices(shared_from_this()));

  SClientIdentity coordinatorClient;
  coordinatorClient.clientName = spec_.coordinatorClient.clientName.empty()
                                     ? CClientContext::ClientName()
                                     : spec_.coordinatorClient.clientName;
  coordinatorClient.clientId = spec_.coordinatorClient.clientId;
  coordinatorClient.hostName = spec_.coordinatorClient.hostName;
  coordinatorClient.jobResultsDirectory = JobResultsDirectoryOf(coordinatorClient.clientName);
  coordinatorIdentity_ = std::make_shared<const SClientIdentity>(coordinatorClient);
  CClientContextScope context(coordinatorIdentity_);

  RunnerEvent start;
  start.kind = RunnerEvent::kPhase;
  start.text = "start";
  Emit(start);

  bool threadsReturned = true;
  DistributedQEL::ICoordinator* made = nullptr;
  CQiError madeError = Guarded("The coordinator factory", [&] {
    if (setup_.coordinatorFactory) made = setup_.coordinatorFactory(setup_.phase.c_str());
    return CQiError::Success();
  });
  if (madeError.IsError()) TQLOG(-1, "%s", madeError.AsString().c_str());
  if (made == nullptr) {
    result.endReason = "no coordinator";
    result.message = "The plug-in has no coordinator for job kind " + setup_.phase;
    result.status = PHASE_FAILED;
    TQLOG(-1, "%s", result.message.c_str());
  } else {
    coordinator_.reset(made);
    bool skip = false;
    CQiError skipError = Guarded("shouldSkipThisPhase", [&] {
      skip = coordinator_->shouldSkipThisPhase();
      if (skip) return coordinator_->OnSkipPhase(setup_.jobClient);
      return CQiError::Success();
    });
    if (skip) {
      TQLOG(0, "Phase %s is skipped", setup_.phase.c_str());
      if (skipError.IsError()) TQLOG(-1, "OnSkipPhase failed: %s", skipError.AsString().c_str());
      result.skipped = true;
      result.endReason = "skipped";
    } else {
      coordinator_->setFrameworkServices(services_);
      restore_ = dynamic_cast<TQDC_FileSystem::CRestore*>(coordinator_.get());
      CQiError error = skipError;
      if (!error.IsError()) {
        error = Guarded("The coordinator", [this] {
          return IsRestorePhase() ? StartRestoreCoordinator() : StartCoordinator();
        });
      }
      std::string reason;
      if (error.IsError()) {
        reason = "start failed";
        result.message = "The coordinator did not start: " + error.AsString();
        TQLOG(-1, "%s", result.message.c_str());
      } else {
        PlanNodes();
        // A restore's first idle pass (where a restore without tasks
        // truncates its tables) comes before any controller starts loading.
        if (IsRestorePhase()) Idle();
        LaunchControllers();
        reason = MainLoop();
        if (reason == "no progress") result.message = DescribeStall();
        if (reason == "timeout") {
          result.message = "The phase did not end within its time limit";
        }
        if (reason == "quit") result.message = "The job was asked to stop";
        std::lock_guard<std::mutex> lock(mutex_);
        if (!threadStartError_.empty()) result.message = threadStartError_;
      }
      result.endReason = reason;
      EndPhase(reason);
      threadsReturned = ReleaseThreads();
      if (!threadsReturned) {
        if (!result.message.empty()) result.message += "; ";
        result.message += "some workers or controllers did not return and were left running";
      }
      if (Complete(result, threadsReturned)) Collect(result);
    }
  }
  result.endTime = std::time(nullptr);

  RunnerEvent end;
  end.kind = RunnerEvent::kPhase;
  end.status = result.status;
  end.text = result.endReason;
  Emit(end);
  {
    // A thread left running tells the caller nothing more.
    std::lock_guard<std::mutex> lock(observerMutex_);
    observerClosed_ = true;
  }

  // The objects go in their own clients' contexts, unless a thread that did
  // not return may still use them.
  if (threadsReturned) {
    std::vector<NodeSlotPtr> slots;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots = slots_;
    }
    for (const auto& slot : slots) {
      CClientContextScope nodeContext(slot->identity);
      std::shared_ptr<DistributedQEL::CController> controller;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        controller.swap(slot->controller);
      }
      controller.reset();
    }
    coordinator_.reset();
  }
  return result;
}

std::string CPhaseEngine::JobResultsDirectoryOf(const std::string& clientName) const {
  // Without a context, the client's own folder under the suite home.
  CClientContextScope none{CClientContext::Ptr()};
  std::string directory =
      CClientContext::JobResultsDirectory(clientName) + "/" + std::to_string(spec_.jobId);
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);
  return directory;
}

std::string CPhaseEngine::CoordinatorArguments() const {
  CFrameworkArguments arguments;
  arguments.ombrelId = spec_.ombrelId;
  arguments.applicationId = spec_.applicationId;
  arguments.instanceId = spec_.instanceId;
  arguments.jobId = spec_.jobId;
  arguments.jobToken = spec_.jobToken;
  // A restore has no backup level.
  if (!IsRestorePhase()) arguments.backupLevel = spec_.backupLevel;
  arguments.numberOfStreams = JobStreams();
  arguments.mediaAgent = spec_.mediaAgent;
  arguments.jobResultsDirectory = coordinatorIdentity_->jobResultsDirectory;
  if (spec_.commitLogJob) arguments.flags.push_back(CFrameworkArguments::kCommitLogFlag);
  return arguments.Format() + setup_.phaseParams;
}

std::string CPhaseEngine::ControllerArguments(const std::string& jobResultsDirectory) const {
  CFrameworkArguments arguments;
  arguments.ombrelId = spec_.ombrelId;
  arguments.applicationId = spec_.applicationId;
  arguments.instanceId = spec_.instanceId;
  arguments.jobId = spec_.jobId;
  arguments.jobToken = spec_.jobToken;
  arguments.jobResultsDirectory = jobResultsDirectory;
  if (setup_.phase == kPostOperationsPhase) arguments.backupLevel = spec_.backupLevel;
  if (spec_.commitLogJob) arguments.flags.push_back(CFrameworkArguments::kCommitLogFlag);
  return arguments.Format();
}

CQiError CPhaseEngine::ConfigureCoordinator(DistributedQEL::CClientConfigPtr& config,
                                            CProgramArgumentsPtr& arguments) {
  CQiError error = CProgramArguments::Parse(CoordinatorArguments(), arguments);
  if (error.IsError()) return error.Push(FXLOC);
  error = coordinator_->getClientConfigObject(config);
  if (error.IsError()) return error.Push(FXLOC);
  // A coordinator may hand its configuration out only once; the base has it.
  if (!config) config = coordinator_->getClientConfig();
  if (!config) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The coordinator made no client configuration");
  }
  error = config->parseArguments(arguments);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CPhaseEngine::StartCoordinator() {
  DistributedQEL::CClientConfigPtr config;
  CProgramArgumentsPtr arguments;
  CoordinatorScope scope(*this);
  CQiError error = ConfigureCoordinator(config, arguments);
  if (error.IsError()) return error.Push(FXLOC);
  error = coordinator_->initialize(config, arguments, setup_.jobClient, setup_.jobCtrlClient);
  if (error.IsError()) return error.Push(FXLOC);
  error = coordinator_->loadNodeConfiguration();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

void CPhaseEngine::PlanNodes() {
  std::vector<CNodeInfoPtr> nodes = coordinator_->getNodes();
  for (CNodeInfoPtr node : nodes) {
    if (!node) continue;
    auto slot = std::make_shared<NodeSlot>();
    slot->node = node;
    slot->clientName = node->getClientName();
    SClientIdentity identity;
    identity.clientName = node->getClientName();
    identity.clientId = node->getClientID();
    identity.hostName = node->getHostName();
    identity.jobResultsDirectory = JobResultsDirectoryOf(identity.clientName);
    slot->identity = std::make_shared<const SClientIdentity>(identity);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_.push_back(slot);
    }
    std::string nodeArguments;
    CQiError error;
    {
      CoordinatorScope scope(*this);
      error = Guarded("The coordinator", [&] {
        CQiError result = coordinator_->getStreamReservationInfoForNode(node);
        if (result.IsError()) return result;
        return coordinator_->getCommandArgumentsForNode(node, nodeArguments);
      });
    }
    slot->arguments = ControllerArguments(identity.jobResultsDirectory);
    if (!nodeArguments.empty()) slot->arguments += " " + nodeArguments;
    if (error.IsError()) {
      NodeStartFailed(slot,
                      "No start-up values for node " + slot->clientName + ": " + error.AsString());
      std::lock_guard<std::mutex> lock(mutex_);
      slot->busy = false;
      slot->threadDone = true;
      slot->finished = true;
      continue;
    }
    TQLOG(1, "Node %s arguments: %s", slot->clientName.c_str(), slot->arguments.c_str());
  }
}

void CPhaseEngine::LaunchControllers() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot->finished) continue;
    slot->launched = true;
    // A node the coordinator has already asked to stop keeps that state.
    if (slot->node->getState() < DistributedQEL::NODE_STOPPING) {
      slot->node->setState(DistributedQEL::NODE_STARTING);
    }
    const std::string what = "the controller of node " + slot->clientName;
    try {
      auto self = shared_from_this();
      slot->thread = CThreadStart::Start(what, [self, slot] { self->ControllerMain(slot); });
    } catch (const std::system_error& error) {
      slot->launched = false;
      slot->threadDone = true;
      slot->finished = true;
      slot->failure = "its controller could not be started";
      slot->node->setState(DistributedQEL::NODE_STOPPED);
      ThreadStartFailedLocked(what, error);
    }
  }
}

std::string CPhaseEngine::MainLoop() {
  const auto deadline = started_ + spec_.limits.phaseTimeout;
  uint64_t lastProgress = progress_.load() + 1;
  int quietRounds = 0;
  while (true) {
    ProcessInbox();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (AllNodesFinishedLocked()) return "complete";
    }
    if (QuitRaised()) return "quit";
    if (std::chrono::steady_clock::now() >= deadline) return "timeout";
    MaintainStreams();
    Idle();
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t now = progress_.load();
    if (now != lastProgress) {
      lastProgress = now;
      quietRounds = 0;
      WakeStreamsLocked();
    } else if (QuietLocked()) {
      if (++quietRounds >= spec_.limits.stallRounds) {
        // The flag may have been raised since the top of this round (while
        // the coordinator was idle, say): a job asked to stop ends as such.
        return QuitRaised() ? "quit" : "no progress";
      }
      // Every stream asks once more before the next round counts.
      WakeStreamsLocked();
    } else {
      quietRounds = 0;
    }
    mainWake_.wait_for(lock, spec_.limits.pollInterval, [&] {
      return mainNotified_ || !inbox_.empty() || progress_.load() != lastProgress;
    });
    mainNotified_ = false;
  }
}

void CPhaseEngine::Idle() {
  CoordinatorScope scope(*this);
  CQiError error = Guarded("OnIdle", [this] {
    coordinator_->OnIdle();
    return CQiError::Success();
  });
  if (error.IsError()) TQLOG(-1, "%s", error.AsString().c_str());
}

bool CPhaseEngine::QuietLocked() const {
  if (!inbox_.empty()) return false;
  for (const auto& slot : slots_) {
    if (!slot->launched || slot->threadDone) continue;
    if (slot->busy || !slot->inbox.empty() || slot->startupRequests > 0) return false;
  }
  for (const auto& stream : streams_) {
    if (stream->phase == StreamSlot::kExited) continue;
    if (stream->phase != StreamSlot::kIdle || stream->seenGeneration != wakeGeneration_) {
      return false;
    }
  }
  return true;
}

bool CPhaseEngine::AllNodesFinishedLocked() const {
  for (const auto& slot : slots_) {
    if (!slot->finished) return false;
  }
  return true;
}

void CPhaseEngine::ProcessInbox() {
  while (true) {
    InboxItem item;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (inbox_.empty()) return;
      item = std::move(inbox_.front());
      inbox_.pop_front();
    }
    CQiError error = Guarded("The coordinator", [&] {
      HandleItem(item);
      return CQiError::Success();
    });
    if (error.IsError()) TQLOG(-1, "%s", error.AsString().c_str());
    Progress();
  }
}

void CPhaseEngine::HandleItem(const InboxItem& item) {
  const NodeSlotPtr& slot = item.slot;
  switch (item.kind) {
    case InboxItem::kStartFailed:
      NodeStartFailed(slot, item.text);
      return;
    case InboxItem::kFinished: {
      slot->node->setState(DistributedQEL::NODE_STOPPED);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot->finished = true;
      }
      NodeChanged(slot);
      return;
    }
    case InboxItem::kMessage:
      break;
  }
  uint32_t ns = 0, cls = 0;
  CMessageCarrier::PeekClass(item.text, ns, cls);
  if (ns == DistributedQEL::ControllerStartup::kNamespaceId &&
      cls == DistributedQEL::ControllerStartup::kClassId) {
    HandleStartup(slot, item.text);
    return;
  }
  if (ns == DistributedQEL::ControllerDone::kNamespaceId &&
      cls == DistributedQEL::ControllerDone::kClassId) {
    DistributedQEL::ControllerDone done;
    CQiError error = CMessageCarrier::ReceiveInto(item.text, done);
    if (error.IsError()) {
      TQLOG(-1, "Done report of node %s not read: %s", slot->clientName.c_str(),
            error.AsString().c_str());
      return;
    }
    CoordinatorScope scope(*this);
    CNodeInfoPtr node = slot->node;
    coordinator_->ControllerDone(node, &done);
    return;
  }
  FrameworkMessagePtr message;
  CQiError error = CMessageCarrier::Receive(item.text, message);
  if (error.IsError()) {
    TQLOG(-1, "Message from node %s not read: %s", slot->clientName.c_str(),
          error.AsString().c_str());
    return;
  }
  CoordinatorScope scope(*this);
  error = coordinator_->processMessage(*message);
  if (error.IsError()) {
    TQLOG(-1, "The coordinator failed on a message from node %s: %s", slot->clientName.c_str(),
          error.AsString().c_str());
  }
}

void CPhaseEngine::HandleStartup(const NodeSlotPtr& slot, const std::string& xml) {
  DistributedQEL::ControllerStartup startup;
  CQiError error = CMessageCarrier::ReceiveInto(xml, startup);
  if (error.IsError()) {
    NodeStartFailed(
        slot, "Start-up report of node " + slot->clientName + " not read: " + error.AsString());
    return;
  }
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot->failed || slot->stopRequested) return;
    first = !slot->started;
    slot->started = true;
  }
  CNodeInfoPtr node = slot->node;
  if (first && node->getState() < DistributedQEL::NODE_STOPPING) {
    node->setState(DistributedQEL::NODE_RUNNING);
    NodeChanged(slot);
  }
  FrameworkMessagePtr answer;
  {
    CoordinatorScope scope(*this);
    error = Guarded("The coordinator", [&] {
      coordinator_->ControllerStarted(node, &startup);
      return coordinator_->getNodeStartAcknowledgeMessage(node, answer);
    });
  }
  if (error.IsError()) {
    NodeStartFailed(
        slot, "No start acknowledgement for node " + slot->clientName + ": " + error.AsString());
    return;
  }
  // A restore controller is always handed its node start message, empty
  // when the coordinator has nothing to say (the framework's own restore).
  if (!answer && IsRestorePhase()) answer.reset(new DistributedQEL::NodeInit());
  if (!answer) return;
  std::string text;
  error = CMessageCarrier::Serialize(*answer, text);
  if (error.IsError()) {
    NodeStartFailed(slot, "Start acknowledgement for node " + slot->clientName +
                              " not sent: " + error.AsString());
    return;
  }
  EmitMessage(kCoordinatorEndpoint, slot->clientName, text);
  std::lock_guard<std::mutex> lock(mutex_);
  slot->inbox.push_back(std::move(text));
  slot->wake.notify_all();
}

void CPhaseEngine::NodeStartFailed(const NodeSlotPtr& slot, const std::string& reason) {
  TQLOG(-1, "%s", reason.c_str());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (slot->failed) return;
    slot->failed = true;
    slot->failure = reason;
    slot->stopRequested = true;
    slot->wake.notify_all();
  }
  slot->node->setStartFailed(true);
  NodeChanged(slot);
}

void CPhaseEngine::NodeChanged(const NodeSlotPtr& slot) {
  CNodeInfoPtr node = slot->node;
  DistributedQEL::TakeAction action;
  CQiError error;
  {
    CoordinatorScope scope(*this);
    error = Guarded("OnNodeChange", [&] { return coordinator_->OnNodeChange(node, action); });
  }
  if (error.IsError()) {
    TQLOG(-1, "OnNodeChange of node %s failed: %s", slot->clientName.c_str(),
          error.AsString().c_str());
  }
  RunnerEvent event;
  event.kind = RunnerEvent::kNode;
  event.clientName = slot->clientName;
  event.status = node->getState();
  event.text = node->isStartFailed() ? "start failed" : "";
  Emit(event);
}

void CPhaseEngine::MaintainStreams() {
  // Which nodes have tasks waiting for a stream (TASK_NEW or TASK_REASSIGN,
  // reserved for the node or for none).
  // The coordinator lock is held throughout: a stream decides to end under
  // it, so the tasks seen here and the streams counted below agree.
  std::set<std::string> waiting;
  bool unreserved = false;
  CoordinatorScope scope(*this);
  {
    for (const TaskBasePtr& task : coordinator_->getTaskList()) {
      if (!task) continue;
      int status = task->status;
      if (status != 0 && status != DistributedQEL::TASK_NEW &&
          status != DistributedQEL::TASK_REASSIGN) {
        continue;
      }
      if (task->reservedNode.empty()) {
        unreserved = true;
      } else {
        waiting.insert(task->reservedNode);
      }
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (ending_) return;
  for (const auto& slot : slots_) {
    if (!slot->started || slot->failed || slot->stopRequested || slot->threadDone) continue;
    if (slot->node->getState() != DistributedQEL::NODE_RUNNING) continue;
    // A restore controller hands out workers only once processNodeInit and
    // OnControllerStarted have set it up.
    if (IsRestorePhase() && !slot->controllerStartReturned) continue;
    if (!unreserved && waiting.count(slot->clientName) == 0) continue;
    int target = slot->node->getMaxStreamsNeeded(1);
    if (target <= 0) target = 1;
    int limit = slot->node->getStreamLimit(1);
    if (limit > 0 && limit < target) target = limit;
    int workers = slot->node->getNodeWorkersLimit();
    if (workers > 0 && workers < target) target = workers;
    target += slot->addedWorkers;
    while (slot->liveStreams < target && StartStreamLocked(slot)) {
    }
  }
}

CPhaseEngine::NodeSlotPtr CPhaseEngine::FindSlotLocked(const std::string& clientName) const {
  for (const auto& slot : slots_) {
    if (slot->clientName == clientName) return slot;
  }
  return NodeSlotPtr();
}

}  // namespace TqRunner
