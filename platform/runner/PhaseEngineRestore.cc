// The restore phase: the restore coordinator's start in the framework's
// order, the tasks the runner makes from its restore records, the restore
// workers and data movers of the streams, and the phase status of the
// restore coordinator base.
#include <algorithm>
#include <set>

#include "platform/base/FXErrorUtil.h"
#include "platform/datamover/RestoreTargets.h"
#include "platform/framework/Controller.h"
#include "platform/framework/FSRestoreWorker.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/framework/RestartString.h"
#include "platform/framework/Restore.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/RestoreController.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/runner/Guarded.h"
#include "platform/runner/PhaseEngine.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TqRunner {

using DistributedQEL::TaskBasePtr;

namespace {

// Restore tasks hand out the XML of their RestoreTaskInfo as payload.
TQDC_FileSystem::RestoreTaskInfoWrapperPtr WrapperOf(const TaskBasePtr& task) {
  return boost::dynamic_pointer_cast<TQDC_FileSystem::RestoreTaskInfoWrapper>(task->customInfo);
}

// A task may be handed out again after a failure at most this many times.
constexpr int kMaxRestoreAttempts = 4;

}  // namespace

CQiError CPhaseEngine::StartRestoreCoordinator() {
  DistributedQEL::CClientConfigPtr config;
  CProgramArgumentsPtr arguments;
  CoordinatorScope scope(*this);
  CQiError error = ConfigureCoordinator(config, arguments);
  if (error.IsError()) return error.Push(FXLOC);
  // A restore reads its node maps before initialize; a subclient restore
  // registers its nodes only once initialize has run.
  error = coordinator_->loadNodeConfiguration();
  if (error.IsError()) return error.Push(FXLOC);
  error = coordinator_->initialize(config, arguments, setup_.jobClient, setup_.jobCtrlClient);
  if (error.IsError()) return error.Push(FXLOC);
  if (coordinator_->getNodes().empty()) {
    error = coordinator_->loadNodeConfiguration();
    if (error.IsError()) return error.Push(FXLOC);
  }
  error =
      restore_->PrepareRestoreParameters(config, arguments, setup_.jobClient, setup_.jobCtrlClient);
  if (error.IsError()) return error.Push(FXLOC);
  const std::vector<DistributedQEL::CNodeInfoPtr> nodes = coordinator_->getNodes();
  auto restoreConfig = boost::dynamic_pointer_cast<TQDC_FileSystem::CRestoreClientConfig>(config);
  int streams = config->getNumberOfStreams();
  if (restoreConfig) {
    error = restoreConfig->CalculateStreams(nodes.size());
    if (error.IsError()) return error.Push(FXLOC);
    streams = restoreConfig->getNumberOfRestoreStreams();
  }
  // Each node gets its share of the restore streams, unless the coordinator
  // reserved streams itself.
  const int share =
      nodes.empty() ? 1
                    : std::max<int>(1, (std::max(streams, 1) + nodes.size() - 1) / nodes.size());
  for (const auto& node : nodes) {
    if (!node) continue;
    if (node->getMaxStreamsNeeded(1) <= 0) node->setMaxStreamsNeeded(1, share);
    // The workers a node hands on when it stops.
    if (node->getNodeWorkersLimit() <= 0) node->setNodeWorkersLimit(node->getMaxStreamsNeeded(1));
  }
  TQDC_FileSystem::CTaskCreatePolicyPtr createPolicy;
  TQDC_FileSystem::CTaskAssignPolicyPtr assignPolicy;
  error = restore_->CreateTaskCreatePolicy(createPolicy);
  if (error.IsError()) return error.Push(FXLOC);
  error = restore_->CreateTaskAssignPolicy(assignPolicy);
  if (error.IsError()) return error.Push(FXLOC);
  if (!spec_.restartString.empty()) {
    std::list<TQDC_FileSystem::RestartInfo> restart =
        TQDC_FileSystem::CRestartString::Parse(spec_.restartString);
    error = restore_->ProcessRestartString(restart);
    if (error.IsError()) return error.Push(FXLOC);
  }
  // Without policies (a stage-free restore) there are no tasks.
  if (createPolicy && assignPolicy) {
    error = MakeRestoreTasks();
    if (error.IsError()) return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CPhaseEngine::RestoreSources(std::vector<SRestoreSource>& sources) {
  sources.clear();
  // The selection's filter paths are the restore task's second path list.
  EvRstTask restoreTask(spec_.jobId, 0, nullptr, false, false);
  const std::vector<std::string> filters = restoreTask.getPaths(EvRstTask::kFilterPaths);
  auto_lock lock(coordinator_->getCoordinatorLock());
  const FSRFIRInitData& init = restore_->getRestoreInitData();
  std::vector<std::string> paths;
  for (const FSRSrcPath& path : restore_->getSourcePaths()) {
    if (!path.path.empty()) paths.push_back(path.path);
  }
  for (const RestoreRecord& record : restore_->getRestoreRecords()) {
    SRestoreSource source;
    source.nodeName = record.strNodeName;
    source.archiveFileId = record.archiveFileId;
    source.archiveGroup = record.archiveGroupId;
    source.fromTime = record.fromTime ? record.fromTime : init.fromTime;
    source.toTime = record.toTime ? record.toTime : init.toTime;
    source.sourcePaths = paths;
    source.filterPaths = filters;
    source.destination = spec_.restoreDestination;
    sources.push_back(source);
  }
  return CQiError::Success();
}

CQiError CPhaseEngine::MakeRestoreTasks() {
  std::vector<SRestoreSource> sources;
  CQiError error = RestoreSources(sources);
  if (error.IsError()) return error.Push(FXLOC);
  std::map<int, int64_t> complete;
  for (const auto& entry : restore_->getRestartInfo()) {
    if (entry.offset == -1) complete[entry.taskId] = entry.offset;
  }
  auto_lock lock(coordinator_->getCoordinatorLock());
  int id = setup_.firstTaskId;
  for (const SRestoreSource& source : sources) {
    DistributedQEL::RestoreTaskInfoPtr info(new DistributedQEL::RestoreTaskInfo());
    info->setSourcePaths(source.sourcePaths);
    if (!source.filterPaths.empty()) info->setFilterPaths(source.filterPaths);
    info->setArchiveFileId(source.archiveFileId);
    info->setArchiveGroup(source.archiveGroup);
    info->setFromTime(source.fromTime);
    info->setToTime(source.toTime);
    info->setDestinationPath(source.destination);
    DistributedQEL::RestoreTaskStats stats;
    stats.setSourcePathCount(static_cast<int64_t>(source.sourcePaths.size()));
    info->setStats(stats);
    TQDC_FileSystem::RestoreTaskInfoWrapperPtr wrapper(
        new TQDC_FileSystem::RestoreTaskInfoWrapper());
    wrapper->restoreTaskInfo = info;
    TaskBasePtr task(new DistributedQEL::TaskBase());
    task->taskId = id++;
    task->status =
        complete.count(task->taskId) ? DistributedQEL::TASK_COMPLETE : DistributedQEL::TASK_NEW;
    task->reservedNode = source.nodeName;
    task->customInfo = wrapper;
    task->description = "restore of archive file " + std::to_string(source.archiveFileId) +
                        " for node " + source.nodeName;
    coordinator_->addTask(task);
    TQLOG(1, "Task %d: %s", task->taskId, task->description.c_str());
  }
  if (!sources.empty()) restore_->setReady(true);
  return CQiError::Success();
}

TaskBasePtr CPhaseEngine::TakeRestoreTask(NodeSlot& slot, StreamSlot& stream,
                                          DistributedQEL::TaskInfoPtr& info) {
  const int number = stream.info->getStreamNumber();
  for (const TaskBasePtr& task : coordinator_->getTaskList()) {
    if (!task) continue;
    if (task->status != DistributedQEL::TASK_NEW && task->status != DistributedQEL::TASK_REASSIGN)
      continue;
    if (!task->reservedNode.empty() && task->reservedNode != slot.clientName) continue;
    auto failed = task->failedStreams.find(slot.clientName);
    if (failed != task->failedStreams.end() && failed->second.count(number)) continue;
    TQDC_FileSystem::RestoreTaskInfoWrapperPtr wrapper = WrapperOf(task);
    if (!wrapper || !wrapper->restoreTaskInfo) continue;
    TaskBasePtr candidate = task;
    if (!restore_->CanChangeTaskState(candidate, DistributedQEL::RESTORE_PHASE_REGULAR)) continue;
    std::string payload;
    if (wrapper->restoreTaskInfo->serialize(payload) != 0) {
      TQLOG(-1, "Task %d carries a restore task that cannot be written", task->taskId);
      continue;
    }
    DistributedQEL::TaskID id;
    id.setTaskId(task->taskId);
    info->setTaskId(id);
    info->setPayload(payload);
    return task;
  }
  return TaskBasePtr();
}

void CPhaseEngine::RetryRestoreTask(const TaskBasePtr& task) {
  task->failedStreams[task->runningNode].insert(task->streamId);
  if (QuitRaised() || task->attemptCount >= kMaxRestoreAttempts) return;
  // Another stream of the node that has not failed it yet takes it; a node
  // with no such stream gets one more.
  std::lock_guard<std::mutex> lock(mutex_);
  NodeSlotPtr slot = FindSlotLocked(task->runningNode);
  if (!slot || slot->stopRequested || slot->failed) return;
  const std::set<int>& failed = task->failedStreams[task->runningNode];
  bool other = false;
  for (const auto& stream : streams_) {
    if (stream->info->getNodeName() != slot->clientName || stream->phase == StreamSlot::kExited)
      continue;
    if (!failed.count(stream->info->getStreamNumber())) other = true;
  }
  if (!other) {
    if (slot->addedWorkers >= spec_.limits.maxAddedWorkersPerNode) return;
    ++slot->addedWorkers;
  }
  TQLOG(0, "Task %d goes to another stream of node %s", task->taskId, slot->clientName.c_str());
  task->status = DistributedQEL::TASK_REASSIGN;
}

CQiError CPhaseEngine::RunRestoreWorker(NodeSlot& slot, StreamSlot& stream,
                                        DistributedQEL::TaskInfo& task) {
  std::shared_ptr<DistributedQEL::CController> controller;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controller = slot.controller;
  }
  auto* restoreController = dynamic_cast<DistributedQEL::CRestoreController*>(controller.get());
  const int number = stream.info->getStreamNumber();
  if (!stream.mover) {
    DistributedQEL::IRestoreWorkerPtr worker;
    CQiError error = restoreController->GetRestoreWorker(worker);
    if (error.IsError()) return error.Push(FXLOC);
    auto fsWorker = boost::dynamic_pointer_cast<TQDC_FileSystem::CFSRestoreWorker>(worker);
    if (!fsWorker) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359,
                                     "The controller of node %s made no file-system restore worker",
                                     slot.clientName.c_str());
    }
    TqDataMover::SDataMoverSetup setup;
    setup.jobId = spec_.jobId;
    setup.streamNumber = number;
    setup.jobResultsDirectory = slot.identity->jobResultsDirectory;
    setup.jobCtrlClient = setup_.jobCtrlClient;
    const std::string client = slot.clientName;
    if (spec_.restoreWriteHook) {
      auto hook = spec_.restoreWriteHook;
      setup.beforeWrite = [hook, client, number](const std::string& header, uint64_t offset) {
        return hook(client, number, header, offset);
      };
    }
    std::weak_ptr<CPhaseEngine> weak = shared_from_this();
    setup.progress = [weak, client, number](const TqDataMover::SRestoreProgress& progress) {
      std::shared_ptr<CPhaseEngine> self = weak.lock();
      if (!self) return;
      RunnerEvent event;
      event.kind = RunnerEvent::kProgress;
      event.clientName = client;
      event.streamNumber = number;
      event.items = progress.files;
      event.bytes = progress.bytes;
      event.skipped = progress.skipped;
      self->Emit(event);
      self->Progress();
    };
    stream.mover.reset(new TqDataMover::CRestoreDataMover(setup, fsWorker));
  }
  CQiError error = stream.mover->RunTask(task);
  // The task's figures, as its worker reported them, reach the coordinator
  // base before the task is reported ended, so that an idle pass never
  // compares counters a finished task has not added to yet.
  restore_->AddRestoreStatistics(stream.mover->TaskStatistics());
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

void CPhaseEngine::FinishRestoreStream(NodeSlot& slot, StreamSlot& stream) {
  if (!stream.mover) return;
  CQiError error = stream.mover->Finish();
  if (error.IsError()) {
    TQLOG(-1, "The result file of stream %d of node %s was not ended: %s",
          stream.info->getStreamNumber(), slot.clientName.c_str(), error.AsString().c_str());
  }
  stream.mover.reset();
}

bool CPhaseEngine::HoldNodeStopLocked(NodeSlot& slot, const std::string& xml, uint32_t ns,
                                      uint32_t cls) {
  if (!IsRestorePhase() || slot.controllerStartReturned) return false;
  if (ns != DistributedQEL::NodeStop::kNamespaceId || cls != DistributedQEL::NodeStop::kClassId) {
    return false;
  }
  TQLOG(1, "Node %s is asked to stop once its controller has started", slot.clientName.c_str());
  slot.heldMessages.push_back(xml);
  return true;
}

void CPhaseEngine::ControllerStartReturned(NodeSlot& slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  slot.controllerStartReturned = true;
  while (!slot.heldMessages.empty()) {
    slot.inbox.push_back(std::move(slot.heldMessages.front()));
    slot.heldMessages.pop_front();
  }
  slot.wake.notify_all();
  // Its streams may start now.
  mainNotified_ = true;
  mainWake_.notify_all();
}

void CPhaseEngine::RestoreStatus(PhaseResult& result) const {
  // With the coordinator lock held (Complete).
  DistributedQEL::ReportData totals;
  restore_->getTotalData(totals);
  result.itemsToRestore = restore_->getItemCount();
  result.itemsRestored = totals.counters[DistributedQEL::ReportData::kItemsRestored];
  result.itemsSkipped = restore_->getSkippedItemCount();
  result.itemsFailed = totals.counters[DistributedQEL::ReportData::kItemsFailed];
  TQLOG(0, "Restore phase %s: %lld items restored, %llu skipped, %lld failed of %llu",
        setup_.phase.c_str(), static_cast<long long>(result.itemsRestored),
        static_cast<unsigned long long>(result.itemsSkipped),
        static_cast<long long>(result.itemsFailed),
        static_cast<unsigned long long>(result.itemsToRestore));
  if (restore_->getStatusSetFlag() == 0) return;
  switch (restore_->getJobStatus()) {
    case 1:
      result.status = PHASE_COMPLETE;
      break;
    case 3:
      result.status = PHASE_COMPLETE_WITH_WARNINGS;
      break;
    case 2:
      result.status = PHASE_FAILED;
      break;
    default:
      break;
  }
}

}  // namespace TqRunner
