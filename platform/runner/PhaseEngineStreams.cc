// The stream threads of a phase: each asks the coordinator for tasks of its
// node, hands them to the node's controller and runs the controller's backup
// worker on them, and reports every status change to the coordinator.
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/Controller.h"
#include "platform/framework/Coordinator.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/RestoreController.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/runner/Guarded.h"
#include "platform/runner/MessageCarrier.h"
#include "platform/runner/PhaseEngine.h"
#include "platform/runner/ThreadStart.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TqRunner {

using DistributedQEL::TaskBasePtr;

bool CPhaseEngine::StartStreamLocked(const NodeSlotPtr& slot) {
  auto stream = std::make_shared<StreamSlot>();
  const int number = nextStreamNumber_++;
  stream->info.reset(new DistributedQEL::CStreamInfo(slot->clientName, number, 1));
  stream->info->setState(DistributedQEL::STREAM_STARTING);
  streams_.push_back(stream);
  ++slot->liveStreams;
  ++slot->streamThreads;
  ++slot->streamsRun;
  slot->node->setStreamCount(1, slot->liveStreams);
  progress_.fetch_add(1);
  mainNotified_ = true;
  TQLOG(1, "Starting stream %d of node %s", number, slot->clientName.c_str());
  const std::string what = "stream " + std::to_string(number) + " of node " + slot->clientName;
  try {
    auto self = shared_from_this();
    stream->thread =
        CThreadStart::Start(what, [self, slot, stream] { self->StreamMain(slot, stream); });
  } catch (const std::system_error& error) {
    streams_.pop_back();
    --slot->liveStreams;
    --slot->streamThreads;
    --slot->streamsRun;
    slot->node->setStreamCount(1, slot->liveStreams);
    ThreadStartFailedLocked(what, error);
    return false;
  }
  return true;
}

void CPhaseEngine::ThreadStartFailedLocked(const std::string& what,
                                           const std::system_error& error) {
  const std::string text = "Cannot start the thread of " + what + ": " + error.what();
  TQLOG(-1, "%s", text.c_str());
  if (threadStartError_.empty()) threadStartError_ = text;
  if (setup_.jobCtrlClient) setup_.jobCtrlClient->setQuitFlag(true);
  mainNotified_ = true;
  mainWake_.notify_all();
}

bool CPhaseEngine::StreamMustEndLocked(const NodeSlot& slot) const {
  return ending_ || slot.stopRequested || slot.failed ||
         slot.node->getState() >= DistributedQEL::NODE_STOPPING;
}

void CPhaseEngine::StreamEndsLocked(NodeSlot& slot, StreamSlot& stream) {
  if (stream.phase == StreamSlot::kExited) return;
  stream.phase = StreamSlot::kExited;
  stream.info->setState(DistributedQEL::STREAM_STOPPED);
  --slot.liveStreams;
  slot.node->setStreamCount(1, slot.liveStreams);
  progress_.fetch_add(1);
  mainNotified_ = true;
  mainWake_.notify_all();
}

void CPhaseEngine::StreamMain(NodeSlotPtr slot, std::shared_ptr<StreamSlot> stream) {
  const int number = stream->info->getStreamNumber();
  {
    CClientContextScope context(slot->identity);
    RunnerEvent started;
    started.kind = RunnerEvent::kStream;
    started.clientName = slot->clientName;
    started.streamNumber = number;
    started.text = "start";
    Emit(started);

    bool ended = false;
    while (!ended) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (StreamMustEndLocked(*slot)) {
          StreamEndsLocked(*slot, *stream);
          break;
        }
        if (stream->asked && stream->seenGeneration == wakeGeneration_) {
          // Asked since the last change: wait for the next one.
          if (stream->phase != StreamSlot::kIdle) {
            stream->phase = StreamSlot::kIdle;
            stream->info->setState(DistributedQEL::STREAM_WAITING);
            mainNotified_ = true;
            mainWake_.notify_all();
          }
          streamWake_.wait_for(lock, spec_.limits.pollInterval);
          continue;
        }
        stream->seenGeneration = wakeGeneration_;
        stream->asked = true;
        stream->phase = StreamSlot::kAsking;
      }
      DistributedQEL::TaskInfoPtr info(new DistributedQEL::TaskInfo());
      TaskBasePtr task;
      {
        CoordinatorScope scope(*this);
        // Looked at under the coordinator lock: once anything holding it (a
        // task change, its observer) has raised the flag, no task goes out.
        if (QuitRaised()) {
          std::lock_guard<std::mutex> lock(mutex_);
          StreamEndsLocked(*slot, *stream);
          break;
        }
        DistributedQEL::CNodeInfoPtr node = slot->node;
        DistributedQEL::CStreamInfoPtr streamInfo = stream->info;
        CQiError error;
        std::optional<DistributedQEL::TaskID> id;
        if (IsRestorePhase()) {
          // The framework hands out restore tasks itself.
          task = TakeRestoreTask(*slot, *stream, info);
        } else {
          error = Guarded("getTask", [&] { return coordinator_->getTask(node, streamInfo, info); });
          if (!error.IsError() && info) id = info->getTaskId();
        }
        if (task) {
          task->streamId = number;
          task->runningNode = slot->clientName;
          ++task->attemptCount;
          ChangeTask(task, DistributedQEL::TASK_RUNNING, slot->clientName, number);
        } else if (id) {
          task = FindTask(id->getTaskId());
          if (!task) {
            TQLOG(-1, "getTask handed out task %lld, which is not on the task list",
                  static_cast<long long>(id->getTaskId()));
          } else {
            task->streamId = number;
            task->runningNode = slot->clientName;
            ++task->attemptCount;
            ChangeTask(task, DistributedQEL::TASK_RUNNING, slot->clientName, number);
          }
        } else if (error.IsError() && !FXErrorUtil::IsWin32(error, 259)) {
          TQLOG(1, "No task for stream %d of node %s: %s", number, slot->clientName.c_str(),
                error.AsString().c_str());
        }
        if (!task && !NodeHasWork(slot->clientName)) {
          // Decided under the coordinator lock, so that tasks made after this
          // find the stream gone and get new streams.
          std::lock_guard<std::mutex> lock(mutex_);
          StreamEndsLocked(*slot, *stream);
          ended = true;
        }
      }
      if (!task) continue;

      {
        std::lock_guard<std::mutex> lock(mutex_);
        stream->phase = StreamSlot::kBusy;
        stream->info->setState(DistributedQEL::STREAM_RUNNING);
      }
      CQiError result = Guarded("The task", [&] { return RunTask(*slot, *stream, info); });
      if (result.IsError()) {
        TQLOG(-1, "Task %d failed on stream %d of node %s: %s", task->taskId, number,
              slot->clientName.c_str(), result.AsString().c_str());
      }
      {
        CoordinatorScope scope(*this);
        ChangeTask(task,
                   result.IsError() ? DistributedQEL::TASK_FAILED : DistributedQEL::TASK_COMPLETE,
                   slot->clientName, number);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      stream->phase = StreamSlot::kAsking;
      WakeStreamsLocked();
    }

    FinishRestoreStream(*slot, *stream);
    if (stream->worker) {
      CQiError error = Guarded("Finalize", [&] { return stream->worker->Finalize(); });
      if (error.IsError()) {
        TQLOG(-1, "Worker of stream %d of node %s did not finish cleanly: %s", number,
              slot->clientName.c_str(), error.AsString().c_str());
      }
      stream->worker.reset();
    }
    RunnerEvent ended_event;
    ended_event.kind = RunnerEvent::kStream;
    ended_event.clientName = slot->clientName;
    ended_event.streamNumber = number;
    ended_event.text = "end";
    Emit(ended_event);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  --slot->streamThreads;
  stream->threadDone = true;
  slot->wake.notify_all();
  mainNotified_ = true;
  mainWake_.notify_all();
}

CQiError CPhaseEngine::RunTask(NodeSlot& slot, StreamSlot& stream,
                               const DistributedQEL::TaskInfoPtr& task) {
  // The task travels to the node as XML text, as every message does.
  std::string text;
  CQiError error = CMessageCarrier::Serialize(*task, text);
  if (error.IsError()) return error.Push(FXLOC);
  EmitMessage(kCoordinatorEndpoint, slot.clientName, text);
  DistributedQEL::TaskInfo nodeTask;
  error = CMessageCarrier::ReceiveInto(text, nodeTask);
  if (error.IsError()) return error.Push(FXLOC);

  std::shared_ptr<DistributedQEL::CController> controller;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controller = slot.controller;
  }
  if (!controller) return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The node has no controller");
  error = ControllerOnTask(slot, *controller, nodeTask);
  if (error.IsError()) return error.Push(FXLOC);
  if (IsRestorePhase()) {
    if (dynamic_cast<DistributedQEL::CRestoreController*>(controller.get()) == nullptr) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller of node %s restores nothing",
                                     slot.clientName.c_str());
    }
    error = RunRestoreWorker(slot, stream, nodeTask);
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  }
  // A controller without backup workers has done the task in OnTask.
  if (dynamic_cast<MultiNodeBackupOps::MultiNodeBackupOpsController*>(controller.get()) ==
      nullptr) {
    return CQiError::Success();
  }
  error = RunBackupWorker(slot, stream, nodeTask);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CPhaseEngine::RunBackupWorker(NodeSlot& slot, StreamSlot& stream,
                                       DistributedQEL::TaskInfo& task) {
  std::shared_ptr<DistributedQEL::CController> controller;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    controller = slot.controller;
  }
  auto* backup = dynamic_cast<MultiNodeBackupOps::MultiNodeBackupOpsController*>(controller.get());
  const int number = stream.info->getStreamNumber();
  if (!stream.worker) {
    MultiNodeBackupOps::CBackupWorkerParamsPtr params;
    CQiError error = backup->GetBackupWorkerParams(params);
    if (error.IsError()) return error.Push(FXLOC);
    error = backup->InitializeBackupWorkerParams(params);
    if (error.IsError()) return error.Push(FXLOC);
    DistributedQEL::StreamInfo streamRecord;
    streamRecord.setStreamNumber(number);
    MultiNodeBackupOps::IBackupWorkerPtr worker;
    error = backup->GetBackupWorker(worker, &streamRecord);
    if (error.IsError()) return error.Push(FXLOC);
    if (!worker) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller of node %s made no worker",
                                     slot.clientName.c_str());
    }
    error = worker->Initialize(params);
    if (error.IsError()) return error.Push(FXLOC);
    OBJECTOPSAPI::IDataStreamPtr handler;
    {
      std::lock_guard<std::mutex> lock(observerMutex_);
      if (spec_.streamFactory && !observerClosed_) {
        handler = spec_.streamFactory(slot.clientName, number);
      }
    }
    if (!handler) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359, "No data stream for stream %d of node %s", number,
                                     slot.clientName.c_str());
    }
    error = worker->SetupPipeline(handler);
    if (error.IsError()) return error.Push(FXLOC);
    stream.worker = worker;
  }
  std::optional<DistributedQEL::TaskID> id = task.getTaskId();
  if (!id) return FXErrorUtil::ErrorWin32(FXLOC, 87, "The task carries no task id");
  const int taskNumber = static_cast<int>(id->getTaskId());
  const DistributedQEL::CClientConfigPtr& config = controller->getClientConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The controller has no configuration");
  // The collect file of the task, named by the level the node runs at (the
  // controller may have turned an incremental job into a full one).
  CUnixFileNameFactory names(config->getBackupLevel(), config->getJobResultsDirectory());
  const std::string streamName = "stream " + std::to_string(number) + " of node " + slot.clientName;
  CQiError error = stream.worker->DoBackup(names.GetCollectFilePath(taskNumber), taskNumber,
                                           task.getPayload(), streamName);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

TaskBasePtr CPhaseEngine::FindTask(int64_t taskId) const {
  for (const TaskBasePtr& task : coordinator_->getTaskList()) {
    if (task && task->taskId == taskId) return task;
  }
  return TaskBasePtr();
}

bool CPhaseEngine::NodeHasWork(const std::string& clientName) const {
  for (const TaskBasePtr& task : coordinator_->getTaskList()) {
    if (!task) continue;
    if (!task->reservedNode.empty() && task->reservedNode != clientName) continue;
    switch (task->status) {
      case 0:
      case DistributedQEL::TASK_NEW:
      case DistributedQEL::TASK_ASSIGNED:
      case DistributedQEL::TASK_RUNNING:
      case DistributedQEL::TASK_REASSIGN:
        return true;
      default:
        break;
    }
  }
  return false;
}

void CPhaseEngine::ChangeTask(const TaskBasePtr& task, int status, const std::string& clientName,
                              int streamNumber) {
  task->status = status;
  DistributedQEL::TakeAction action;
  action.action = kTaskActionNone;
  CQiError error =
      Guarded("OnTaskChange", [&] { return coordinator_->OnTaskChange(task, action); });
  if (error.IsError()) {
    TQLOG(-1, "OnTaskChange of task %d failed: %s", task->taskId, error.AsString().c_str());
  }
  if (action.action == kTaskActionReassign && task->status == DistributedQEL::TASK_FAILED) {
    task->status = DistributedQEL::TASK_REASSIGN;
  } else if (action.action == kTaskActionFail && task->status == DistributedQEL::TASK_REASSIGN) {
    task->status = DistributedQEL::TASK_FAILED;
  } else if (IsRestorePhase() && status == DistributedQEL::TASK_FAILED &&
             task->status == DistributedQEL::TASK_FAILED && action.action != kTaskActionFail) {
    RetryRestoreTask(task);
  }
  RunnerEvent event;
  event.kind = RunnerEvent::kTask;
  event.taskId = task->taskId;
  event.clientName = clientName;
  event.streamNumber = streamNumber;
  event.status = task->status;
  for (const TaskBasePtr& each : coordinator_->getTaskList()) {
    if (!each) continue;
    ++event.tasksTotal;
    if (each->status == DistributedQEL::TASK_COMPLETE) ++event.tasksComplete;
  }
  Emit(event);
  Progress();
}

}  // namespace TqRunner
