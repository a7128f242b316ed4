// The restore coordinator while the phase runs: node changes, idle turns
// (truncation of the restored tables, the stop of every node, the hand-over
// of freed worker slots), the controllers' messages and done reports, and
// the framework's questions about tasks.

#include <set>
#include <string>
#include <vector>

#include "common/RestoreRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXMutex.h"
#include "platform/base/FXString.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/json/TqJsonWriter.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

bool IsFinal(int status) {
  return status == DistributedQEL::TASK_COMPLETE || status == DistributedQEL::TASK_FAILED ||
         status == DistributedQEL::TASK_FINAL;
}

// Keyspaces Cassandra and DSE make themselves are never truncated.
bool IsSystemKeyspace(const std::string& keyspace) {
  return keyspace.compare(0, 6, "system") == 0 || keyspace.compare(0, 3, "dse") == 0;
}

// The node a task belongs to: the one it is reserved for, else the one that
// ran it.
const std::string& TaskNode(const DistributedQEL::TaskBase& task) {
  return task.reservedNode.empty() ? task.runningNode : task.reservedNode;
}

// The node a task belongs to: the one running it, else the one it waits
// for.
const std::string& NodeOf(const DistributedQEL::TaskBase& task) {
  return task.runningNode.empty() ? task.reservedNode : task.runningNode;
}

}  // namespace

CQiError CCassandraRestores::OnNodeChange(const DistributedQEL::CNodeInfoPtr& node,
                                          DistributedQEL::TakeAction& action) {
  if (node) {
    auto_lock lock(getCoordinatorLock(), true);
    const std::string& client = node->getClientName();
    if (node->isStartFailed()) {
      for (const DistributedQEL::TaskBasePtr& task : getTaskList()) {
        if (task && TaskNode(*task) == client && !IsFinal(task->status)) {
          task->status = DistributedQEL::TASK_FAILED;
        }
      }
      // A stage-free restore has no task to fail: the node that never
      // started loaded nothing, which the completion must not call a success.
      if (stageFreeRestore && !controllerInitFailed) {
        TQLOG(-1, "Node %s failed to start: nothing is loaded on it", client.c_str());
        controllerInitFailed = true;
      }
    } else if (node->getState() == DistributedQEL::NODE_STOPPED &&
               workersCountedNodes.insert(client).second) {
      // A node reports its stop more than once; its slots are freed once.
      const int limit = node->getNodeWorkersLimit();
      workersToReassign += static_cast<uint32_t>(limit > 0 ? limit : 0);
      TQLOG(0, "Node %s stopped, Workers to reassign: %d, Total workers to reassign: %d",
            client.c_str(), limit, static_cast<int>(workersToReassign));
    }
  }
  return DistributedQEL::ICoordinator::OnNodeChange(node, action);
}

bool CCassandraRestores::hasTablesToTruncate() const {
  if (!recover) return false;
  for (const auto& entry : keyspaceSchemas) {
    if (!IsSystemKeyspace(entry.first) && !entry.second.tableExists.empty()) return true;
  }
  return false;
}

void CCassandraRestores::OnIdle() {
  auto_lock lock(getCoordinatorLock(), true);
  if (!stageFreeRestore && !isReady()) return;

  bool allTerminal = true;
  // The nodes of the unfinished tasks: a pass runs many times a second, so
  // the wait is logged when the nodes it waits for change, repeats only at a
  // detail level.
  std::set<std::string> holding;
  for (const DistributedQEL::TaskBasePtr& task : getTaskList()) {
    if (!task) continue;
    const bool terminal = task->status == DistributedQEL::TASK_FAILED ||
                          task->status == DistributedQEL::TASK_COMPLETE;
    if (!allTerminal) {
      // Past the first unfinished task only the nodes waited for count.
      if (!terminal) holding.insert(NodeOf(*task));
    } else if (task->status == DistributedQEL::TASK_FAILED) {
      if (truncateTables) TQLOG(0, "Not truncating tables as some restore tasks failed");
      truncateTables = false;
    } else if (!terminal) {
      allTerminal = false;
      holding.insert(NodeOf(*task));
    }
  }
  if (!allTerminal) {
    TQLOG(holding != nodesHoldingStop ? 0 : 3,
          "Not sending NodeStop as some nodes are in non terminal state");
  }
  nodesHoldingStop = holding;

  // Nodes that stopped (or were told to) before do not hold the others
  // back: every node not stopped yet gets its NodeStop.
  std::vector<DistributedQEL::CNodeInfoPtr> toStop;
  std::string stoppedEarly;
  for (const DistributedQEL::CNodeInfoPtr& node : getNodeList()) {
    if (!node) continue;
    const int state = node->getState();
    if (state == DistributedQEL::NODE_STOPPING || state == DistributedQEL::NODE_STOPPED) {
      TQLOG(2, "Node already stopped");
      if (stoppedEarly.empty()) stoppedEarly = node->getClientName();
      continue;
    }
    if (truncateTables) TQLOG(2, "Tables to be truncated yet");
    toStop.push_back(node);
  }

  if (allTerminal && !toStop.empty()) {
    if (truncateTables) truncateRestoredTables(stoppedEarly);
    for (const DistributedQEL::CNodeInfoPtr& node : toStop) {
      TQLOG(2, "stopping node %s", node->getClientName().c_str());
      FrameworkMessagePtr stop(new DistributedQEL::NodeStop());
      CQiError error = sendMessageToNode(node->getClientName(), stop);
      if (error.IsError()) TQLOG(-1, "%s", error.AsString().c_str());
      node->setState(DistributedQEL::NODE_STOPPING);
    }
  }

  if (workersToReassign == 0) return;
  TQLOG(0, "Workers to reassign: %d", static_cast<int>(workersToReassign));
  // Only nodes that still restore take workers: not the ones told to stop in
  // this pass.
  std::vector<DistributedQEL::CNodeInfoPtr> running;
  for (const DistributedQEL::CNodeInfoPtr& node : getNodeList()) {
    if (node && node->getState() == DistributedQEL::NODE_RUNNING) running.push_back(node);
  }
  if (running.empty()) return;
  const uint32_t total = workersToReassign;
  const uint32_t each = total / running.size();
  uint32_t extra = total % running.size();
  for (const DistributedQEL::CNodeInfoPtr& node : running) {
    if (each == 0 && extra == 0) break;
    const uint32_t count = each + (extra != 0 ? 1 : 0);
    for (uint32_t i = 0; i < count; ++i) {
      CQiError error = addWorker(node->getClientName(), isBackupJob(), PropertyMap());
      if (error.IsError()) TQLOG(-1, "%s", error.AsString().c_str());
      node->setNodeWorkersLimit(node->getNodeWorkersLimit() + 1);
    }
    if (extra != 0) --extra;
  }
  TQLOG(0, "%d workers from completed nodes are assigned to active nodes", static_cast<int>(total));
  workersToReassign = 0;
}

void CCassandraRestores::truncateRestoredTables(const std::string& stoppedEarly) {
  TQLOG(0, "Truncating tables");
  const bool tablesToTruncate = hasTablesToTruncate();
  if (isLogRestore) return;
  if (!recover) {
    // Staged files reach no table: the live data stays.
    TQLOG(0, "Not truncating tables as the restore does not recover them");
    return;
  }
  if (!stoppedEarly.empty()) {
    // That node may have loaded its data already: a truncation now would
    // remove it cluster-wide.
    if (tablesToTruncate) {
      truncationSkipped = "node " + stoppedEarly + " stopped before the tables were truncated";
      TQLOG(0, "Not truncating tables as %s", truncationSkipped.c_str());
    }
    return;
  }
  DistributedQEL::ReportData totals;
  getTotalData(totals);
  const unsigned long long restored =
      static_cast<unsigned long long>(totals.counters[DistributedQEL::ReportData::kItemsRestored]);
  const unsigned long long skipped = getSkippedItemCount();
  const unsigned long long expected = getItemCount();
  if (!stageFreeRestore && !useSSTableLoader && restored + skipped != expected) {
    if (tablesToTruncate) {
      truncationSkipped = FXString::Format(
          "%llu items restored and %llu skipped do not make the %llu items to restore", restored,
          skipped, expected);
      TQLOG(0, "Not truncating tables as %s", truncationSkipped.c_str());
    }
    return;
  }
  TQLOG(0, "All nodes completed data restore. Truncating the tables");
  for (const auto& entry : keyspaceSchemas) {
    if (IsSystemKeyspace(entry.first)) {
      TQLOG(0, "System created keyspace. Not truncating tables under %s", entry.first.c_str());
      continue;
    }
    for (const auto& table : entry.second.tableExists) {
      TQLOG(0, "Truncating table %s:%s", entry.first.c_str(), table.first.c_str());
      cassTruncateTable(entry.first, table.first);
    }
  }
}

CQiError CCassandraRestores::cassTruncateTable(const std::string& keyspace,
                                               const std::string& table) {
  if (!priamUtil || !priamUtil->getIsConnected()) {
    TQLOG(-1, "Failed to truncate table %s.%s. Error: %s, Response: %s", keyspace.c_str(),
          table.c_str(), "the coordinator's Priam does not run", "");
    truncateFailures.push_back(keyspace + "." + table);
    return CQiError::Success();
  }
  // Written by the JSON library: a name holding quotes (a quoted identifier)
  // stays one value and can never name another keyspace or table.
  std::string body;
  if (!TqJson::ObjectWriter().Add("keyspace", keyspace).Add("table", table).Text(body)) {
    TQLOG(-1, "Failed to truncate table %s.%s. Error: %s, Response: %s", keyspace.c_str(),
          table.c_str(), "the name is not valid text for TruncateTable", "");
    truncateFailures.push_back(keyspace + "." + table);
    return CQiError::Success();
  }
  CQiString reply;
  CQiError error = priamUtil->get(1, CQiString("TruncateTable"), reply, CQiString(body));
  if (!error.IsError()) {
    TQLOG(0, "Successfully truncated table %s.%s", keyspace.c_str(), table.c_str());
  } else if (reply.str().find("does not exist") != std::string::npos) {
    TQLOG(0, "table does not exist");
  } else {
    error = handlePriamError(error);
    TQLOG(-1, "Failed to truncate table %s.%s. Error: %s, Response: %s", keyspace.c_str(),
          table.c_str(), error.AsString().c_str(), reply.str().c_str());
    TQLOG(0, "Will still continue restoring");
    truncateFailures.push_back(keyspace + "." + table);
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::processMessage(const CNMessageBase& message) {
  TQLOG(2, "Message %s", message.getTagName().c_str());
  if (message.getTagID() == DistributedQEL::AgentStoppedStatus().getTagID()) {
    auto_lock lock(getCoordinatorLock(), true);
    if (!reloadFailed) {
      TQLOG(0, "Received OnAgentStopped failure msg");
      reloadFailed = message.getint64(1) != 0;
    }
    return CQiError::Success();
  }
  return TQDC_FileSystem::CRestore::processMessage(message);
}

void CCassandraRestores::ControllerDone(DistributedQEL::CNodeInfoPtr& node,
                                        DistributedQEL::ControllerDone* done) {
  if (node && done && done->getResult() == DistributedQEL::ControllerDone::kResultInitFailed) {
    auto_lock lock(getCoordinatorLock(), true);
    const std::string& client = node->getClientName();
    TQLOG(-1, "Node %s failed to initialize", client.c_str());
    controllerInitFailed = true;
    for (const DistributedQEL::TaskBasePtr& task : getTaskList()) {
      if (task && TaskNode(*task) == client && !IsFinal(task->status)) {
        TQLOG(0, "Controller %s failed. Marking task %d failed", client.c_str(), task->taskId);
        task->status = DistributedQEL::TASK_FAILED;
      }
    }
  }
  DistributedQEL::ICoordinator::ControllerDone(node, done);
}

CQiError CCassandraRestores::ProcessRestartString(
    std::list<TQDC_FileSystem::RestartInfo>& restartInfo) {
  if (stageFreeRestore) return CQiError::Success();
  return TQDC_FileSystem::CRestore::ProcessRestartString(restartInfo);
}

bool CCassandraRestores::ShouldCreateWaitTask() {
  if (TQDC_FileSystem::CRestore::ShouldCreateWaitTask()) return true;
  return !IsAllTaskDone();
}

bool CCassandraRestores::IsAllTaskCompletedForCurrentPhase() {
  const bool extentPhase = IsCurPhaseIsFileExtentPhase();
  for (const DistributedQEL::TaskBasePtr& task : getTasks()) {
    if (!task) continue;
    auto info =
        boost::dynamic_pointer_cast<TQDC_FileSystem::RestoreTaskInfoWrapper>(task->customInfo);
    const bool counted = extentPhase ? IsFileExtentTaskType(info)
                                     : IsRegularFileRestoreTaskType(info) ||
                                           IsDeletedFileProcessingTaskType(info) ||
                                           IsFailedFileRestoreTaskType(info);
    if (counted && !IsFinal(task->status)) return false;
  }
  return true;
}

bool CCassandraRestores::CanChangeTaskState(DistributedQEL::TaskBasePtr& task,
                                            DistributedQEL::RestorePhase phase) {
  if (task && IsFinal(task->status)) return false;
  return TQDC_FileSystem::CRestore::CanChangeTaskState(task, phase);
}

}  // namespace TQCassandra
