#include "RunnerFakes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/FrameworkServices.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/framework/RestartString.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/framework/UnixFSClientConfig.h"
#include "platform/log/EvEvent.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/msg/MessageCatalog.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/MultiNodeBackupOpsWorker.h"
#include "platform/multinode/MultiNodeBackupOpsWorkerParams.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/TQBkpJobClient.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_CommClient.h"
#include "platform/suite/TQPI_Focus.h"

namespace runner_test {

using namespace DistributedQEL;

namespace {

const CMessageCatalogRegistration kTestRecords{
    CMessageCatalog::EntryOf<CreateRequest>("RunnerTestCreateRequest"),
    CMessageCatalog::EntryOf<Notice>("RunnerTestNotice"),
};

constexpr int kBoundMs = 20000;  // no fake waits longer than this

std::string Join(const std::vector<DINameValue>& values) {
  std::string text;
  for (const auto& v : values) text += (text.empty() ? "" : ",") + v.getName() + "=" + v.getValue();
  return text;
}

}  // namespace

void MakeTooDeep(CNMessageBase& record) {
  CNMessageBase inner(CreateRequest::kNamespaceId, CreateRequest::kClassId);
  for (int depth = 0; depth < CNMessageBase::kMaxNesting + 2; ++depth) {
    CNMessageBase outer(CreateRequest::kNamespaceId, CreateRequest::kClassId);
    outer.setObjectAccessor(3, 3, inner);
    inner = outer;
  }
  record.setObjectAccessor(3, 3, inner);
}

// World.

World& World::Get() {
  static World* world = new World();
  return *world;
}

void World::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes.clear();
  streamsPerNode = 2;
  collectFiles.clear();
  failOnce.clear();
  failAlways.clear();
  quitAt.clear();
  quitClient.reset();
  quitOnIdleAfterFailure = 0;
  idleAfterFailure = 0;
  blockAt.clear();
  silentNodes.clear();
  deepAckNodes.clear();
  deepStartupNodes.clear();
  failAckNodes.clear();
  throwOnce.clear();
  failLoad = false;
  reassignAlways = false;
  actionFor.clear();
  noticeOnStop = false;
  failPostOpStart.clear();
  barrier = 0;
  coordinatorCalls_.clear();
  nodeCalls_.clear();
  coordinatorContexts_.clear();
  tasksSeen_.clear();
  startsSeen_.clear();
  requestsAsObjects_ = 0;
  requestsReceived_ = 0;
  getTaskContexts_.clear();
  streams_.clear();
  stored_.clear();
  released_ = false;
  blocked_ = false;
  coordinatorsDestroyed_ = 0;
  barrierIn_ = 0;
}

void World::Coordinator(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  coordinatorCalls_.push_back(text);
  coordinatorContexts_.insert(CClientContext::ClientName());
}

void World::Node(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodeCalls_.push_back(CClientContext::ClientName() + ": " + text);
}

std::vector<std::string> World::CoordinatorCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return coordinatorCalls_;
}

std::vector<std::string> World::NodeCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodeCalls_;
}

std::set<std::string> World::CoordinatorContexts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return coordinatorContexts_;
}

void World::SeeTask(const TaskSeen& seen) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasksSeen_.push_back(seen);
}

std::vector<TaskSeen> World::TasksSeen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tasksSeen_;
}

void World::SeeStart(const StartSeen& seen) {
  std::lock_guard<std::mutex> lock(mutex_);
  startsSeen_.push_back(seen);
}

std::vector<StartSeen> World::StartsSeen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return startsSeen_;
}

void World::SeeRequest(bool sameObject, const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++requestsReceived_;
  if (sameObject) ++requestsAsObjects_;
}

int World::RequestsAsObjects() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestsAsObjects_;
}

int World::RequestsReceived() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestsReceived_;
}

void World::SeeGetTaskContext(const std::string& client) {
  std::lock_guard<std::mutex> lock(mutex_);
  getTaskContexts_.insert(client);
}

std::set<std::string> World::GetTaskContexts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return getTaskContexts_;
}

TqRunner::StreamFactory World::Streams() {
  return [this](const std::string& client, int stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& handler = streams_[{client, stream}];
    if (!handler) handler.reset(new FakeStream(client, stream));
    return boost::static_pointer_cast<OBJECTOPSAPI::IDataStream>(handler);
  };
}

void FakeStream::Store(const std::string& path, const std::string& data) {
  World::Get().Store(StoredItem{client_, number_, path, data});
}

CQiError FakeStream::BeginItem(const OBJECTOPSAPI::StreamItemHeader&) {
  return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not used by the fakes");
}

CQiError FakeStream::WriteExtent(uint64_t, const void*, size_t) {
  return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not used by the fakes");
}

CQiError FakeStream::CommitItem() {
  return FXErrorUtil::ErrorWin32(FXLOC, 50, "Not used by the fakes");
}

void World::Store(const StoredItem& item) {
  std::lock_guard<std::mutex> lock(mutex_);
  stored_.push_back(item);
}

std::vector<StoredItem> World::Stored() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stored_;
}

int World::StoredCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(stored_.begin(), stored_.end(),
                                        [&](const StoredItem& i) { return i.path == path; }));
}

bool World::TakeFailure(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failAlways.count(path)) return true;
  return failOnce.erase(path) > 0;
}

bool World::TakeThrow(int task) {
  std::lock_guard<std::mutex> lock(mutex_);
  return throwOnce.erase(task) > 0;
}

void World::Block() {
  std::unique_lock<std::mutex> lock(mutex_);
  blocked_ = true;
  cv_.notify_all();
  cv_.wait_for(lock, std::chrono::milliseconds(kBoundMs), [this] { return released_; });
}

void World::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  cv_.notify_all();
}

bool World::WaitBlocked(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return blocked_; });
}

void World::CoordinatorDestroyed() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++coordinatorsDestroyed_;
  cv_.notify_all();
}

bool World::WaitCoordinatorsDestroyed(int count, int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                      [&] { return coordinatorsDestroyed_ >= count; });
}

bool World::MeetBarrier() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (barrier <= 0) return true;
  ++barrierIn_;
  cv_.notify_all();
  return cv_.wait_for(lock, std::chrono::milliseconds(kBoundMs),
                      [this] { return barrierIn_ >= barrier; });
}

namespace {

// The fake coordinator's node record.
class FakeNodeInfo : public FVBase {
 public:
  int collectFileStart = 0;
  bool collectReported = false;
  bool tasksSettled = false;
};

class FakeCoordinatorConfig : public TQDC_FileSystem::CUnixFSClientConfig {
 public:
  CQiError parseArguments(CProgramArgumentsPtr arguments) override {
    World::Get().Coordinator("parseArguments " + arguments->getArgumentLine());
    return CUnixFSClientConfig::parseArguments(arguments);
  }
};

class FakeScan : public ICoordinator {
 public:
  bool isBackupJob() const override { return true; }
  bool shouldSkipThisPhase() const override { return true; }
  CQiError OnSkipPhase(TQJobClientPtr) override {
    World::Get().Coordinator("scan OnSkipPhase");
    return CQiError::Success();
  }
  CQiError getClientConfigObject(CClientConfigPtr& config) override {
    World::Get().Coordinator("scan getClientConfigObject");
    return ICoordinator::getClientConfigObject(config);
  }
};

class FakeBackupCoordinator : public TQDC_FileSystem::CBackup {
 public:
  FakeBackupCoordinator() { setStartAllNodesAtOnce(true); }
  ~FakeBackupCoordinator() override { World::Get().CoordinatorDestroyed(); }

  using TQDC_FileSystem::CBackup::getTask;

  CQiError getClientConfigObject(CClientConfigPtr& out) override {
    World::Get().Coordinator("getClientConfigObject");
    if (!config_) config_.reset(new FakeCoordinatorConfig());
    setClientConfig(config_);
    out = config_;
    return CQiError::Success();
  }

  CQiError initialize(CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override {
    World::Get().Coordinator("initialize");
    return ICoordinator::initialize(config, arguments, jobClient, jobCtrlClient);
  }

  CQiError loadNodeConfiguration() override {
    World& world = World::Get();
    world.Coordinator("loadNodeConfiguration");
    if (world.failLoad) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Injected load failure");
    int next = 1;
    for (const std::string& name : world.nodes) {
      CQiError error = addNode(name);
      if (error.IsError()) return error.Push(FXLOC);
      CNodeInfoPtr node = findNodeInfoByNodeName(name);
      boost::shared_ptr<FakeNodeInfo> info(new FakeNodeInfo());
      info->collectFileStart = next;
      node->setCustomInfo(info);
      next += 2 * world.streamsPerNode;
    }
    tasksPerNode_ = 2 * world.streamsPerNode;
    nextTaskId_ = next;
    return CQiError::Success();
  }

  CQiError getStreamReservationInfoForNode(CNodeInfoPtr& node) override {
    World& world = World::Get();
    world.Coordinator("reserve " + node->getClientName());
    node->setStreamLimit(1, node->getCPUCount() > 0 ? node->getCPUCount() : world.streamsPerNode);
    node->setMaxStreamsNeeded(1, world.streamsPerNode);
    node->setNodeWorkersLimit(world.streamsPerNode);
    return CQiError::Success();
  }

  CQiError getCommandArgumentsForNode(CNodeInfoPtr& node, std::string& arguments) override {
    World::Get().Coordinator("arguments " + node->getClientName());
    arguments = CFrameworkArguments::FormatNodeLine(
        node->getMaxStreamsNeeded(1), getClientConfig()->getBackupLevel(),
        getClientConfig()->getMediaAgentName(), Info(node)->collectFileStart);
    return CQiError::Success();
  }

  void ControllerStarted(CNodeInfoPtr& node, ControllerStartup* report) override {
    World& world = World::Get();
    int count = -1, start = -1;
    bool first = false;
    for (const DINameValue& value : report->getValues()) {
      if (value.getName() == "CassandraStartup") first = true;
      if (value.getName() == "CollectFileCount") count = std::stoi(value.getValue());
      if (value.getName() == "CollectFileStart") start = std::stoi(value.getValue());
    }
    world.Coordinator("ControllerStarted " + node->getClientName() + " " +
                      Join(report->getValues()));
    if (first) return;
    boost::shared_ptr<FakeNodeInfo> info = Info(node);
    info->collectReported = true;
    if (count < 1 || start < 1) {
      info->tasksSettled = true;
      world.Coordinator("NodeStop " + node->getClientName());
      FrameworkMessagePtr stop(new NodeStop());
      if (!sendMessageToNode(node->getClientName(), stop).IsError()) node->setState(NODE_STOPPING);
      return;
    }
    auto_lock lock(getCoordinatorLock());
    for (int i = 1; i <= count; ++i) {
      TaskBasePtr task(new TaskBase());
      TQDC_FileSystem::CollectFileInfoPtr file(new TQDC_FileSystem::CollectFileInfo());
      if (i <= tasksPerNode_) {
        task->taskId = start + i - 1;
        file->collectFileNumber = task->taskId;
      } else {
        task->taskId = nextTaskId_++;
        file->collectFileNumber = i;
      }
      file->resumeOffset = -1;
      task->status = TASK_NEW;
      task->reservedNode = node->getClientName();
      task->customInfo = file;
      addTask(task);
    }
    info->tasksSettled = true;
    boost::dynamic_pointer_cast<TQDC_FileSystem::CUnixFSClientConfig>(getClientConfig())
        ->setTasksCreated(true);
    CQiString restart;
    if (getJobClient()) getJobClient()->getRestartString(restart);
    if (!restart.str().empty()) {
      world.Coordinator("restart " + restart.str());
      for (const auto& entry : TQDC_FileSystem::CRestartString::Parse(restart.str())) {
        for (const TaskBasePtr& task : getTaskList()) {
          if (task->taskId != entry.taskId) continue;
          File(task)->resumeOffset = entry.offset;
          if (entry.offset == -1) task->status = TASK_COMPLETE;
        }
      }
    }
  }

  CQiError getNodeStartAcknowledgeMessage(CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override {
    World& world = World::Get();
    const std::string name = node->getClientName();
    world.Coordinator("ack " + name);
    if (world.failAckNodes.count(name)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                     "Failed to get metaData from Priam. Not continuing.");
    }
    if (Info(node)->collectReported) {
      message.reset(new NodeInit());
      return CQiError::Success();
    }
    boost::shared_ptr<CreateRequestObject> request(new CreateRequestObject());
    request->setNodeName(name);
    if (world.deepAckNodes.count(name)) MakeTooDeep(*request);
    message = request;
    return CQiError::Success();
  }

  CQiError getTask(CNodeInfoPtr& node, CStreamInfoPtr& stream, TaskInfoPtr& out) override {
    auto_lock lock(getCoordinatorLock());
    World::Get().SeeGetTaskContext(CClientContext::ClientName());
    std::vector<TaskBasePtr> candidates;
    for (const TaskBasePtr& task : getTaskList()) {
      if (task->reservedNode != node->getClientName()) continue;
      if (task->status == TASK_NEW) {
        candidates.push_back(task);
      } else if (task->status == TASK_REASSIGN) {
        const std::set<int>& failed = task->failedStreams[node->getClientName()];
        if (!failed.count(stream->getStreamNumber())) {
          candidates.push_back(task);
        } else if (static_cast<int>(failed.size()) >=
                   node->getStreamCount(stream->getStreamKind())) {
          CQiError error = addWorker(node->getClientName(), true, PropertyMap());
          if (error.IsError()) return error.Push(FXLOC);
          out.reset();
          return CQiError::Success();
        }
      }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TaskBasePtr& a, const TaskBasePtr& b) {
                       return a->failedStreamCount() < b->failedStreamCount();
                     });
    if (candidates.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 259, "no more tasks found");
    const TaskBasePtr& task = candidates.front();
    if (!out) out.reset(new TaskInfo());
    TaskID id;
    id.setTaskId(task->taskId);
    out->setTaskId(id);
    out->setPayload(std::to_string(File(task)->collectFileNumber) + "|" +
                    std::to_string(File(task)->resumeOffset));
    return CQiError::Success();
  }

  CQiError OnTaskChange(const TaskBasePtr& task, TakeAction& action) override {
    World& world = World::Get();
    world.Coordinator("OnTaskChange " + std::to_string(task->taskId) + " " +
                      std::to_string(task->status));
    if (task->status == TASK_COMPLETE) return CQiError::Success();
    if (getJobCtrlClient() && getJobCtrlClient()->checkQuitFlag()) return CQiError::Success();
    if (task->status != TASK_FAILED) return CQiError::Success();
    std::set<int>& failed = task->failedStreams[task->runningNode];
    failed.insert(task->streamId);
    std::vector<CStreamInfoPtr> streams;
    getStreams(streams, CNodeInfoPtr(), STREAM_STATUS_ANY, STREAM_KIND_ANY);
    bool other = false;
    for (const auto& s : streams) {
      if (s->getNodeName() == task->runningNode && s->isActive() &&
          !failed.count(s->getStreamNumber())) {
        other = true;
      }
    }
    ++File(task)->failureCount;
    if (other || world.reassignAlways) {
      task->status = TASK_REASSIGN;
      task->runningNode.clear();
      int64_t offset = GetTaskCommitOffset(task);
      File(task)->resumeOffset = offset < 0 ? 0 : offset;
    } else {
      action.action = 0;
    }
    auto forced = world.actionFor.find(task->taskId);
    if (forced != world.actionFor.end()) action.action = forced->second;
    return CQiError::Success();
  }

  void OnIdle() override {
    auto config =
        boost::dynamic_pointer_cast<TQDC_FileSystem::CUnixFSClientConfig>(getClientConfig());
    if (!config || !config->getTasksCreated()) return;
    World& world = World::Get();
    if (world.quitOnIdleAfterFailure && world.quitClient && !world.quitClient->checkQuitFlag()) {
      bool ended = true, failed = false;
      for (const TaskBasePtr& task : getTaskList()) {
        ended = ended && (task->status == TASK_COMPLETE || task->status == TASK_FAILED);
        failed = failed || task->status == TASK_FAILED;
      }
      if (ended && failed && ++world.idleAfterFailure >= world.quitOnIdleAfterFailure) {
        world.Coordinator("quit");
        world.quitClient->setQuitFlag(true);
      }
    }
    for (const TaskBasePtr& task : getTaskList()) {
      if (task->status != TASK_COMPLETE) return;
    }
    for (const CNodeInfoPtr& node : getNodeList()) {
      if (node->getState() != NODE_RUNNING || !Info(node)->tasksSettled) continue;
      int running = 0;
      for (int kind : node->getStreamTypes()) running += node->getStreamCount(kind);
      if (running != 0) continue;
      World::Get().Coordinator("NodeStop " + node->getClientName());
      FrameworkMessagePtr stop(new NodeStop());
      sendMessageToNode(node->getClientName(), stop);
      node->setState(NODE_STOPPING);
    }
  }

  void ControllerDone(CNodeInfoPtr& node, DistributedQEL::ControllerDone* done) override {
    World::Get().Coordinator("ControllerDone " + node->getClientName() + " " +
                             std::to_string(done->getResult()) + " " + Join(done->getValues()));
  }

  CQiError OnNodeChange(const CNodeInfoPtr& node, TakeAction& action) override {
    World::Get().Coordinator("OnNodeChange " + node->getClientName() + " " +
                             std::to_string(node->getState()) +
                             (node->isStartFailed() ? " failed" : ""));
    CQiError error = ICoordinator::OnNodeChange(node, action);
    if (node->isStartFailed() || node->isAborted()) nodeSkipped_ = true;
    return error;
  }

  CQiError processMessage(const CNMessageBase& message) override {
    std::string text = message.getstring(1, 1);
    World::Get().Coordinator("processMessage " + message.getTagName() + " " + text);
    return CQiError::Success();
  }

  CQiError OnComplete() override {
    World::Get().Coordinator("OnComplete");
    size_t complete = 0, all = 0;
    for (const TaskBasePtr& task : getTasks()) {
      ++all;
      if (task->status == TASK_COMPLETE) ++complete;
    }
    const size_t percent = all ? complete * 100 / all : 0;
    EvEvent event;
    event << std::to_string(complete) + " of " + std::to_string(all);
    event.InfoEvent(0x7001);
    if (percent == 0) {
      setPhaseStatus(PHASE_FAILED);
    } else if (percent == 100 && !nodeSkipped_) {
      setPhaseStatus(PHASE_COMPLETE);
    } else {
      setPhaseStatus(PHASE_COMPLETE_WITH_WARNINGS);
    }
    setStatusWord(1);
    if (getJobCtrlClient() && getJobCtrlClient()->checkQuitFlag()) setPhaseStatus(PHASE_FAILED);
    auto jobClient = boost::dynamic_pointer_cast<TQBkpJobClient>(getJobClient());
    if (getPhaseStatus() == PHASE_FAILED) {
      setCompletionCode(4);
      if (getJobClient()) getJobClient()->setPendingCauseAndEvent(0x6000469);
    } else if (jobClient) {
      jobClient->setReferenceTime(1700000000);
      jobClient->concatPhaseParams(" -r 1700000000 ", TQBkpJobClient::kPhaseParamsAppend);
      jobClient->updateInfo(false, nullptr);
    }
    if (jobClient) {
      jobClient->concatPhaseParams(" -bypass -cassandra", TQBkpJobClient::kPhaseParamsAppend);
      jobClient->updateInfo(false, nullptr);
    }
    return CQiError::Success();
  }

 private:
  static boost::shared_ptr<FakeNodeInfo> Info(const CNodeInfoPtr& node) {
    return boost::dynamic_pointer_cast<FakeNodeInfo>(node->getCustomInfo());
  }
  static TQDC_FileSystem::CollectFileInfoPtr File(const TaskBasePtr& task) {
    return boost::dynamic_pointer_cast<TQDC_FileSystem::CollectFileInfo>(task->customInfo);
  }

  CClientConfigPtr config_;
  int tasksPerNode_ = 0;
  int nextTaskId_ = 0;
  bool nodeSkipped_ = false;
};

class FakeWorker : public MultiNodeBackupOps::MultiNodeBackupOpsWorker {
 public:
  explicit FakeWorker(int stream) : MultiNodeBackupOpsWorker(stream) {}

  CQiError BackupFile() override {
    World& world = World::Get();
    const std::string path = GetCurrentFilePath();
    if (path == world.quitAt && world.quitClient) {
      world.quitClient->setQuitFlag(true);
      return FXErrorUtil::ErrorWin32(FXLOC, 5, "Injected failure with quit at %s", path.c_str());
    }
    if (path == world.blockAt) world.Block();
    if (world.TakeFailure(path)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 5, "Injected failure of %s", path.c_str());
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return FXErrorUtil::ErrorWin32(FXLOC, 2, "Cannot read %s", path.c_str());
    std::stringstream content;
    content << in.rdbuf();
    auto* stream = dynamic_cast<FakeStream*>(GetStreamHandler().get());
    if (stream == nullptr) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a fake stream");
    stream->Store(path, content.str());
    return CQiError::Success();
  }
};

class FakeController : public MultiNodeBackupOps::MultiNodeBackupOpsController {
 public:
  void OnAgentStarted() override {
    World& world = World::Get();
    world.Node("OnAgentStarted");
    StartSeen seen;
    seen.context = CClientContext::ClientName();
    seen.controller = getClientName();
    seen.jobResultsDirectory =
        TQPI_CommClient::getJobResultsDirectory(TQPI_Focus::getFocusClientName().c_str()).str();
    seen.configDirectory = getClientConfig()->getJobResultsDirectory();
    seen.arguments = getProgramArguments()->getArgumentLine();
    seen.metOthers = world.MeetBarrier();
    world.SeeStart(seen);
    MultiNodeBackupOpsController::OnAgentStarted();
  }

  CQiError SetAdditionalStartupValues(ControllerStartup& startup) override {
    World& world = World::Get();
    auto config = Config();
    std::vector<DINameValue> values;
    if (!startupSent_) {
      startupSent_ = true;
      values.emplace_back("CassandraStartup", "y");
    } else if (config->getCollectFileStart() != 0 && config->getCollectFileCount() != 0) {
      values.emplace_back("CollectFileCount", std::to_string(config->getCollectFileCount()));
      values.emplace_back("CollectFileStart", std::to_string(config->getCollectFileStart()));
    }
    startup.setValues(values);
    if (world.deepStartupNodes.count(getClientName())) MakeTooDeep(startup);
    return CQiError::Success();
  }

  CQiError OnMessage(const CNMessageBase& message) override {
    World& world = World::Get();
    if (message.getNamespaceId() != CreateRequest::kNamespaceId ||
        message.getClassId() != CreateRequest::kClassId) {
      return FXErrorUtil::ErrorWin32(FXLOC, 6, "Unhandled message %s",
                                     message.getTagName().c_str());
    }
    world.SeeRequest(dynamic_cast<const CreateRequestObject*>(&message) != nullptr,
                     message.getstring(1, 1));
    world.Node("request " + message.getstring(1, 1));
    if (world.silentNodes.count(getClientName())) return CQiError::Success();
    auto config = Config();
    const std::vector<std::vector<std::string>> files = world.collectFiles[getClientName()];
    CUnixFileNameFactory names(config->getBackupLevel(), config->getJobResultsDirectory());
    for (size_t i = 0; i < files.size(); ++i) {
      std::ofstream out(names.GetCollectFilePath(config->getCollectFileStart() + i),
                        std::ios::binary | std::ios::trunc);
      for (const std::string& path : files[i]) {
        out << MultiNodeBackupOps::CCollectFileEntry(path, 0).FormatNumberedLine() << "\n";
      }
    }
    config->setCollectFileCount(static_cast<uint32_t>(files.size()));
    CController::OnAgentStarted();
    return CQiError::Success();
  }

  CQiError OnTask(TaskInfo* task, bool& flag) override {
    TaskSeen seen;
    seen.context = CClientContext::ClientName();
    seen.controller = getClientName();
    seen.taskId = task->getTaskId() ? static_cast<int>(task->getTaskId()->getTaskId()) : -1;
    seen.payload = task->getPayload();
    World& world = World::Get();
    world.SeeTask(seen);
    if (world.TakeThrow(seen.taskId)) throw std::runtime_error("Value is not a string");
    return MultiNodeBackupOpsController::OnTask(task, flag);
  }

  CQiError GetBackupWorkerParams(MultiNodeBackupOps::CBackupWorkerParamsPtr& params) override {
    params.reset(new MultiNodeBackupOps::MultiNodeBackupOpsWorkerParams());
    return CQiError::Success();
  }

  CQiError GetBackupWorker(MultiNodeBackupOps::IBackupWorkerPtr& worker,
                           StreamInfo* stream) override {
    worker.reset(new FakeWorker(static_cast<int>(stream->getStreamNumber())));
    return CQiError::Success();
  }

  CQiError SetAdditionalCtrlDoneValues(DistributedQEL::ControllerDone& done) override {
    done.setValues({DINameValue("CassandraNodeBackupTime", "1700000000")});
    return CQiError::Success();
  }

  CQiError processNodeInit(CNMessageBase* message) override {
    World::Get().Node("processNodeInit");
    return MultiNodeBackupOpsController::processNodeInit(message);
  }

  CQiError OnControllerStarted() override {
    World::Get().Node("OnControllerStarted");
    return MultiNodeBackupOpsController::OnControllerStarted();
  }

  void OnAgentStopped() override {
    World& world = World::Get();
    world.Node("OnAgentStopped");
    if (world.noticeOnStop) {
      boost::shared_ptr<Notice> notice(new Notice());
      notice->setText("stopped " + getClientName());
      SendMsgToServer(notice);
    }
  }

 private:
  MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfigPtr Config() {
    return boost::dynamic_pointer_cast<
        MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfig>(getClientConfig());
  }

  bool startupSent_ = false;
};

// The post-operations phase: the coordinator registers the world's nodes and
// answers each start-up with a NodeInit; the controller does its work in
// OnControllerStarted and is done from then on, as the cleanup controller is.
class FakePostOpCoordinator : public ICoordinator {
 public:
  CQiError loadNodeConfiguration() override {
    World& world = World::Get();
    world.Coordinator("postop loadNodeConfiguration");
    for (const std::string& name : world.nodes) {
      CQiError error = addNode(name);
      if (error.IsError()) return error.Push(FXLOC);
    }
    return CQiError::Success();
  }

  CQiError getNodeStartAcknowledgeMessage(CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override {
    World::Get().Coordinator("postop ack " + node->getClientName());
    message.reset(new NodeInit());
    return CQiError::Success();
  }

  void ControllerDone(CNodeInfoPtr& node, DistributedQEL::ControllerDone* done) override {
    World::Get().Coordinator("postop ControllerDone " + node->getClientName() + " " +
                             std::to_string(done->getResult()));
  }
};

class FakePostOpController : public CController {
 public:
  void OnAgentStarted() override {
    StartSeen seen;
    seen.context = CClientContext::ClientName();
    seen.controller = getClientName();
    seen.arguments = getProgramArguments()->getArgumentLine();
    World::Get().SeeStart(seen);
    CController::OnAgentStarted();
  }

  CQiError processNodeInit(CNMessageBase* message) override {
    World& world = World::Get();
    world.Node("postop processNodeInit");
    std::string level;
    CQiError error = getProgramArguments()->getStringValue("t", level);
    if (error.IsError()) return error.Push(FXLOC);
    level_ = level;
    if (world.failPostOpStart.count(getClientName())) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Injected processNodeInit failure");
    }
    return CController::processNodeInit(message);
  }

  CQiError OnControllerStarted() override {
    World::Get().Node("postop OnControllerStarted level " + level_);
    done_ = true;
    return CQiError::Success();
  }

  bool isControllerDone() override { return done_; }

  void OnAgentStopped() override { World::Get().Node("postop OnAgentStopped"); }

 private:
  std::string level_;
  bool done_ = false;
};

}  // namespace

ICoordinator* CreateCoordinator(const char* kind) {
  std::string k = kind ? kind : "";
  if (k == "scan") return new FakeScan();
  if (k == "backup") return new FakeBackupCoordinator();
  if (k == "postop") return new FakePostOpCoordinator();
  return nullptr;
}

CController* CreateController(const char* kind) {
  std::string k = kind ? kind : "";
  if (k == "backup") return new FakeController();
  if (k == "postop") return new FakePostOpController();
  return nullptr;
}

}  // namespace runner_test
