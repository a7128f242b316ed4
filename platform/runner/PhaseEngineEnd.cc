// The end of a phase: the remaining streams and controllers are stopped and
// waited for, OnComplete is called, and the phase's status and records are
// gathered.
#include <sstream>

#include "platform/base/FXMutex.h"
#include "platform/datamover/RestoreGenerations.h"
#include "platform/framework/Backup.h"
#include "platform/framework/Coordinator.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/LogWriter.h"
#include "platform/runner/Guarded.h"
#include "platform/runner/PhaseEngine.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TqRunner {

using DistributedQEL::CNodeInfoPtr;
using DistributedQEL::TaskBasePtr;

namespace {

bool IsFinalTaskStatus(int status) {
  return status == DistributedQEL::TASK_COMPLETE || status == DistributedQEL::TASK_FAILED ||
         status == DistributedQEL::TASK_FINAL;
}

}  // namespace

void CPhaseEngine::EndPhase(const std::string& reason) {
  TQLOG(0, "Phase %s ends: %s", setup_.phase.c_str(), reason.c_str());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
    streamWake_.notify_all();
  }
  if (reason == "timeout" && setup_.jobCtrlClient) setup_.jobCtrlClient->setQuitFlag(true);
  const auto grace = spec_.limits.stopGrace;
  WaitUntil(
      [this] {
        for (const auto& stream : streams_) {
          if (!stream->threadDone) return false;
        }
        return true;
      },
      grace);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& slot : slots_) {
      if (slot->threadDone) continue;
      slot->stopRequested = true;
      slot->wake.notify_all();
    }
  }
  WaitUntil(
      [this] {
        if (!AllNodesFinishedLocked()) return false;
        for (const auto& slot : slots_) {
          if (slot->launched && !slot->threadDone) return false;
        }
        return true;
      },
      grace);
  ProcessInbox();
}

bool CPhaseEngine::WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    ProcessInbox();
    std::unique_lock<std::mutex> lock(mutex_);
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    mainWake_.wait_for(lock, spec_.limits.pollInterval,
                       [&] { return mainNotified_ || !inbox_.empty(); });
    mainNotified_ = false;
  }
}

bool CPhaseEngine::ReleaseThreads() {
  std::vector<std::thread*> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& stream : streams_) {
      if (stream->thread.joinable() && stream->threadDone) done.push_back(&stream->thread);
    }
    for (const auto& slot : slots_) {
      if (slot->thread.joinable() && slot->threadDone) done.push_back(&slot->thread);
    }
  }
  // A thread marks itself done as its last step; joining it waits for little.
  for (std::thread* thread : done) thread->join();
  bool all = true;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& stream : streams_) {
    if (!stream->thread.joinable()) continue;
    TQLOG(-1, "Stream %d did not return; it is left running", stream->info->getStreamNumber());
    stream->thread.detach();
    all = false;
  }
  for (const auto& slot : slots_) {
    if (!slot->thread.joinable()) continue;
    TQLOG(-1, "The controller of node %s did not return; it is left running",
          slot->clientName.c_str());
    slot->thread.detach();
    all = false;
  }
  return all;
}

bool CPhaseEngine::Complete(PhaseResult& result, bool coordinatorFree) {
  FXMutex& lock = coordinator_->getCoordinatorLock();
  bool locked = false;
  if (coordinatorFree) {
    locked = lock.Lock();
  } else {
    // A thread left running may hold the coordinator; do not wait for it
    // longer than the grace period.
    const auto deadline = std::chrono::steady_clock::now() + spec_.limits.stopGrace;
    while (!(locked = lock.TryLock()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(spec_.limits.pollInterval);
    }
  }
  if (locked) {
    CClientContextScope context(coordinatorIdentity_);
    CQiError error = Guarded("OnComplete", [this] { return coordinator_->OnComplete(); });
    if (error.IsError()) {
      TQLOG(-1, "OnComplete failed: %s", error.AsString().c_str());
      if (!result.message.empty()) result.message += "; ";
      result.message += "OnComplete failed: " + error.AsString();
    }
    lock.Unlock();
  } else {
    if (!result.message.empty()) result.message += "; ";
    result.message +=
        "OnComplete was not called: the coordinator is held by a thread that did "
        "not return";
  }

  auto* backup = dynamic_cast<TQDC_FileSystem::CBackup*>(coordinator_.get());
  if (backup != nullptr) {
    result.status = backup->getPhaseStatus();
    result.statusWord = backup->getStatusWord();
    result.completionCode = backup->getCompletionCode();
  }
  if (IsRestorePhase() && locked) RestoreStatus(result);
  if (result.status == 0) {
    // The coordinator left no status: decide from the tasks.
    std::vector<TaskBasePtr> tasks;
    if (locked) tasks = coordinator_->getTasks();
    size_t complete = 0;
    for (const auto& task : tasks) {
      if (task && task->status == DistributedQEL::TASK_COMPLETE) ++complete;
    }
    if (result.endReason == "start failed" || !locked) {
      result.status = PHASE_FAILED;
    } else if (complete == tasks.size()) {
      result.status = PHASE_COMPLETE;
    } else if (complete > 0) {
      result.status = PHASE_COMPLETE_WITH_WARNINGS;
    } else {
      result.status = PHASE_FAILED;
    }
  }
  // A phase that was stopped never counts as a success, and one that ended
  // with work left over never as a clean one.
  if (result.endReason == "quit" || result.endReason == "timeout" || !locked) {
    result.status = PHASE_FAILED;
  } else if (result.endReason == "no progress" && result.status == PHASE_COMPLETE) {
    result.status = PHASE_COMPLETE_WITH_WARNINGS;
  } else if (IsRestorePhase() && result.status == PHASE_COMPLETE &&
             TqDataMover::CRestoreGenerations::Instance().LeftOut(spec_.jobId) > 0) {
    // An SSTable left out of the restore (its event says which and why).
    result.status = PHASE_COMPLETE_WITH_WARNINGS;
  }
  return locked;
}

void CPhaseEngine::Collect(PhaseResult& result) {
  std::map<std::string, NodeSlotPtr> byName;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& slot : slots_) byName[slot->clientName] = slot;
  }
  for (const CNodeInfoPtr& node : coordinator_->getNodes()) {
    if (!node) continue;
    NodeRecord record;
    record.clientName = node->getClientName();
    record.clientId = node->getClientID();
    record.state = node->getState();
    record.startFailed = node->isStartFailed();
    record.aborted = node->isAborted();
    auto it = byName.find(record.clientName);
    if (it != byName.end()) {
      std::lock_guard<std::mutex> lock(mutex_);
      record.arguments = it->second->arguments;
      record.streams = it->second->streamsRun;
      record.failure = it->second->failure;
    }
    result.nodes.push_back(record);
  }
  for (const TaskBasePtr& task : coordinator_->getTasks()) {
    if (!task) continue;
    TaskRecord record;
    record.taskId = task->taskId;
    record.status = task->status;
    record.reservedNode = task->reservedNode;
    record.runningNode = task->runningNode;
    record.streamId = task->streamId;
    record.attempts = task->attemptCount;
    record.failedStreams = static_cast<int>(task->failedStreamCount());
    record.commitOffset = GetTaskCommitOffset(task->taskId);
    result.tasks.push_back(record);
  }
}

std::string CPhaseEngine::DescribeStall() {
  std::ostringstream text;
  text << "No progress:";
  bool any = false;
  {
    CoordinatorScope scope(*this);
    for (const TaskBasePtr& task : coordinator_->getTaskList()) {
      if (!task || task->status == DistributedQEL::TASK_COMPLETE) continue;
      text << (any ? ";" : "") << " task " << task->taskId
           << (IsFinalTaskStatus(task->status) ? " failed" : " waiting") << " (status "
           << task->status << ", node " << task->reservedNode << ")";
      any = true;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& slot : slots_) {
    if (slot->finished) continue;
    text << (any ? ";" : "") << " node " << slot->clientName
         << (slot->started ? " still running" : " never reported its start");
    any = true;
  }
  if (!any) text << " nothing left to run";
  return text.str();
}

}  // namespace TqRunner
