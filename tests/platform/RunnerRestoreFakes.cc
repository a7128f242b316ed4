#include "RunnerRestoreFakes.h"

#include <chrono>
#include <thread>

#include "common/RestoreRecords.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/framework/FSRestoreController.h"
#include "platform/framework/FSRestoreWorker.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/framework/Restore.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/TaskBase.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/ClientContext.h"

namespace runner_test {

using namespace DistributedQEL;

RestoreWorld& RestoreWorld::Get() {
  static RestoreWorld* world = new RestoreWorld();
  return *world;
}

void RestoreWorld::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  nodes.clear();
  nodesLate = false;
  stageFree = false;
  records.clear();
  sourcePaths.clear();
  staging.clear();
  jobStatus = 1;
  reloadFailed.clear();
  startMillis = 0;
  taskMillis = 0;
  threads_.clear();
  coordinatorCalls_.clear();
  nodeCalls_.clear();
  allCalls_.clear();
}

void RestoreWorld::Coordinator(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  coordinatorCalls_.push_back(text);
  allCalls_.push_back(text);
}

void RestoreWorld::Node(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  nodeCalls_.push_back(CClientContext::ClientName() + ": " + text);
  allCalls_.push_back(CClientContext::ClientName() + ": " + text);
}

std::vector<std::string> RestoreWorld::CoordinatorCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return coordinatorCalls_;
}

std::vector<std::string> RestoreWorld::NodeCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return nodeCalls_;
}

std::vector<std::string> RestoreWorld::AllCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return allCalls_;
}

void RestoreWorld::Thread(const std::string& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.push_back({CClientContext::ClientName(), call, std::this_thread::get_id()});
}

std::vector<RestoreWorld::ThreadSeen> RestoreWorld::ThreadsSeen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return threads_;
}

namespace {

class FakeRestoreConfig : public TQDC_FileSystem::CRestoreClientConfig {
 public:
  FakeRestoreConfig() : CRestoreClientConfig(2) {}
  CQiError parseArguments(CProgramArgumentsPtr arguments) override {
    RestoreWorld::Get().Coordinator("parseArguments " + arguments->getArgumentLine());
    return CRestoreClientConfig::parseArguments(arguments);
  }
  CQiError CalculateStreams(size_t nodes) override {
    RestoreWorld::Get().Coordinator("CalculateStreams " + std::to_string(nodes));
    return CQiError::Success();
  }
};

class FakeRestoreCoordinator : public TQDC_FileSystem::CRestore {
 public:
  FakeRestoreCoordinator() : CRestore(false) {}

  CQiError getClientConfigObject(CClientConfigPtr& config) override {
    RestoreWorld::Get().Coordinator("getClientConfigObject");
    if (!getClientConfig()) setClientConfig(CClientConfigPtr(new FakeRestoreConfig()));
    config = getClientConfig();
    return CQiError::Success();
  }
  CQiError loadNodeConfiguration() override {
    RestoreWorld& world = RestoreWorld::Get();
    world.Coordinator("loadNodeConfiguration");
    if (world.nodesLate && !initialized_) return CQiError::Success();
    if (!getNodes().empty()) return CQiError::Success();
    for (const std::string& node : world.nodes) {
      CQiError error = addNode(node);
      if (error.IsError()) return error;
    }
    return CQiError::Success();
  }
  CQiError initialize(CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override {
    RestoreWorld::Get().Coordinator("initialize");
    initialized_ = true;
    return CRestore::initialize(config, arguments, jobClient, jobCtrlClient);
  }
  CQiError PrepareRestoreParameters(CClientConfigPtr&, CProgramArgumentsPtr&, TQJobClientPtr,
                                    TQJobCtrlClientPtr) override {
    RestoreWorld& world = RestoreWorld::Get();
    world.Coordinator("PrepareRestoreParameters");
    for (const std::string& path : world.sourcePaths) {
      FSRSrcPath source;
      source.path = path;
      getSourcePaths().push_back(source);
    }
    for (const RestoreRecordSpec& spec : world.records) {
      RestoreRecord record;
      record.archiveFileId = spec.archiveFileId;
      record.strNodeName = spec.node;
      getRestoreRecords().push_back(record);
    }
    return CQiError::Success();
  }
  CQiError CreateTaskCreatePolicy(TQDC_FileSystem::CTaskCreatePolicyPtr& policy) override {
    RestoreWorld::Get().Coordinator("CreateTaskCreatePolicy");
    if (RestoreWorld::Get().stageFree) {
      policy.reset();
      return CQiError::Success();
    }
    return CRestore::CreateTaskCreatePolicy(policy);
  }
  CQiError CreateTaskAssignPolicy(TQDC_FileSystem::CTaskAssignPolicyPtr& policy) override {
    RestoreWorld::Get().Coordinator("CreateTaskAssignPolicy");
    if (RestoreWorld::Get().stageFree) {
      policy.reset();
      return CQiError::Success();
    }
    return CRestore::CreateTaskAssignPolicy(policy);
  }
  CQiError ProcessRestartString(std::list<TQDC_FileSystem::RestartInfo>& restart) override {
    std::string text;
    for (const auto& entry : restart) {
      text += " " + std::to_string(entry.taskId) + "|" + std::to_string(entry.offset);
    }
    RestoreWorld::Get().Coordinator("ProcessRestartString" + text);
    return CRestore::ProcessRestartString(restart);
  }
  CQiError getCommandArgumentsForNode(CNodeInfoPtr& node, std::string& arguments) override {
    RestoreWorld::Get().Coordinator("arguments " + node->getClientName());
    arguments = "-StageFreeRestore " + std::to_string(RestoreWorld::Get().stageFree ? 1 : 0);
    return CQiError::Success();
  }
  CQiError getNodeStartAcknowledgeMessage(CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override {
    RestoreWorld::Get().Coordinator("ack " + node->getClientName());
    message.reset(new NodeInit());
    return CQiError::Success();
  }
  void OnIdle() override {
    if (!RestoreWorld::Get().stageFree && !isReady()) return;
    for (const TaskBasePtr& task : getTaskList()) {
      if (task->status != TASK_COMPLETE && task->status != TASK_FAILED) return;
    }
    for (const CNodeInfoPtr& node : getNodeList()) {
      if (node->getState() == NODE_STOPPING || node->getState() == NODE_STOPPED) return;
    }
    RestoreWorld::Get().Coordinator("truncate");
    for (const CNodeInfoPtr& node : getNodeList()) {
      RestoreWorld::Get().Coordinator("NodeStop " + node->getClientName());
      FrameworkMessagePtr stop(new NodeStop());
      sendMessageToNode(node->getClientName(), stop);
      node->setState(NODE_STOPPING);
    }
  }
  CQiError OnNodeChange(const CNodeInfoPtr& node, TakeAction& action) override {
    if (node->getState() == NODE_STOPPED) {
      RestoreWorld::Get().Coordinator("stopped " + node->getClientName() + " workers " +
                                      std::to_string(node->getNodeWorkersLimit()));
    }
    return CRestore::OnNodeChange(node, action);
  }
  CQiError processMessage(const CNMessageBase& message) override {
    RestoreWorld::Get().Coordinator("processMessage " + message.getTagName() + " " +
                                    std::to_string(message.getint64(1)));
    return CQiError::Success();
  }
  void ControllerDone(CNodeInfoPtr& node, DistributedQEL::ControllerDone* done) override {
    RestoreWorld::Get().Coordinator("ControllerDone " + node->getClientName() + " " +
                                    std::to_string(done->getResult()));
  }
  CQiError OnComplete() override {
    RestoreWorld& world = RestoreWorld::Get();
    world.Coordinator("OnComplete");
    DistributedQEL::ReportData totals;
    getTotalData(totals);
    world.Coordinator("restored " +
                      std::to_string(totals.counters[DistributedQEL::ReportData::kItemsRestored]) +
                      " of " + std::to_string(getItemCount()));
    if (world.jobStatus != 0) {
      setJobStatus(world.jobStatus);
      setStatusSetFlag(1);
    }
    return CQiError::Success();
  }

 private:
  bool initialized_ = false;
};

class StagingWorker : public TQDC_FileSystem::CFSRestoreWorker {
 public:
  explicit StagingWorker(CRestoreController* controller) : CFSRestoreWorker(controller) {}
  CQiError GetExtendedOptions(std::string& options) override {
    CExtendedOptions codec(options);
    codec.setOption("CassandraStagedRestore", 1);
    std::string list;
    for (const std::string& node : RestoreWorld::Get().nodes) {
      list += node + ":" + RestoreWorld::Get().staging + "/" + node + "##";
    }
    codec.setOption("CassandraStagedRestoreStagingLoc", list);
    codec.getOptions(options);
    return CQiError::Success();
  }
};

class FakeRestoreController : public TQDC_FileSystem::CFSRestoreController {
 public:
  CQiError processNodeInit(CNMessageBase* message) override {
    RestoreWorld::Get().Node("processNodeInit");
    RestoreWorld::Get().Thread("processNodeInit");
    return CFSRestoreController::processNodeInit(message);
  }
  CQiError OnControllerStarted() override {
    RestoreWorld& world = RestoreWorld::Get();
    world.Node("OnControllerStarted");
    world.Thread("OnControllerStarted");
    if (world.startMillis)
      std::this_thread::sleep_for(std::chrono::milliseconds(world.startMillis));
    world.Node("OnControllerStarted returns");
    if (world.stageFree) done_ = true;
    return CFSRestoreController::OnControllerStarted();
  }
  CQiError GetRestoreWorker(IRestoreWorkerPtr& worker) override {
    RestoreWorld::Get().Node("GetRestoreWorker");
    RestoreWorld::Get().Thread("GetRestoreWorker");
    worker.reset(new StagingWorker(this));
    return CQiError::Success();
  }
  CQiError OnTask(TaskInfo* task, bool& flag) override {
    RestoreWorld& world = RestoreWorld::Get();
    world.Node("OnTask " + std::to_string(task->getTaskId()->getTaskId()));
    world.Thread("OnTask");
    if (world.taskMillis) std::this_thread::sleep_for(std::chrono::milliseconds(world.taskMillis));
    return CFSRestoreController::OnTask(task, flag);
  }
  bool isControllerDone() override {
    return RestoreWorld::Get().stageFree ? done_ && getStopRequested()
                                         : CFSRestoreController::isControllerDone();
  }
  void OnAgentStopped() override {
    RestoreWorld& world = RestoreWorld::Get();
    world.Node("OnAgentStopped");
    world.Thread("OnAgentStopped");
    if (world.reloadFailed.count(getClientName())) {
      boost::shared_ptr<AgentStoppedStatus> status(new AgentStoppedStatus());
      status->setFailed(1);
      SendMsgToServer(status);
    }
    CFSRestoreController::OnAgentStopped();
  }

 private:
  bool done_ = false;
};

}  // namespace

namespace {
bool IsRestoreKind(const char* kind) {
  const std::string k = kind ? kind : "";
  return k == "restore" || k == "CassandraLogRestore";
}
}  // namespace

ICoordinator* CreateRestoreCoordinator(const char* kind) {
  return IsRestoreKind(kind) ? new FakeRestoreCoordinator() : nullptr;
}

CController* CreateRestoreController(const char* kind) {
  return IsRestoreKind(kind) ? new FakeRestoreController() : nullptr;
}

}  // namespace runner_test
