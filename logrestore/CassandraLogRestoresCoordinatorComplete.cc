// The point-in-time coordinator at the end of the phase: after the restore
// coordinator's completion the reported nodes are restarted one at a time so
// that Cassandra replays the restored commit logs.

#include <cstdio>
#include <optional>
#include <set>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraNodeRecords.h"
#include "common/CassandraRestoreClientConfig.h"
#include "logrestore/CassandraDockerInfo.h"
#include "logrestore/CassandraLogReplay.h"
#include "logrestore/CassandraLogRestoresCoordinator.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TQCassandra {

namespace {

std::string ClientNameOf(const App::CassandraNode& node) {
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  const std::string name = client ? client->getClientName() : std::string();
  return name.empty() ? node.getClientName() : name;
}

}  // namespace

void CCassandraLogRestores::markReplayFailed(const CQiError& error) {
  setJobStatus(3);
  setStatusSetFlag(1);
  TQLOG(-1, "Failed to replay the Commit logs on atleast node: Error [%s]",
        error.AsString(2).c_str());
  if (getJobClient()) {
    getJobClient()->setPendingCauseAndEvent(kEvCommitLogReplayFailed, 6, 0, false, 300, 0, 0, 0, 0,
                                            0);
  }
}

CassandraNodeInfoList CCassandraLogRestores::buildRestartList(uint32_t& unrestartable) {
  unrestartable = 0;
  const std::set<std::string> asked(nodesToRestart.begin(), nodesToRestart.end());
  std::set<std::string> found;
  CassandraNodeInfoList list;
  const std::vector<App::CassandraNode> nodes =
      destConfig ? destConfig->clusterNodes : std::vector<App::CassandraNode>();
  for (const App::CassandraNode& node : nodes) {
    const std::string client = ClientNameOf(node);
    const std::string agentName = node.getAgentInstanceName();
    const std::string key = agentName.empty() ? client : agentName;
    TQLOG(3, " Client [%s] ", client.c_str());
    if (client.empty() || asked.count(client) == 0) continue;
    found.insert(client);
    DistributedQEL::CNodeInfoPtr record = findNodeInfoByNodeName(client);
    if (!record) {
      // The utility is started through the framework's record of the
      // client; without one the node cannot be restarted.
      TQLOG(-1, "No node record for client %s: node %s is not restarted", client.c_str(),
            node.getAddress().c_str());
      EvEvent event;
      event << (node.getAddress().empty() ? client : node.getAddress());
      event.MajorEvent(kEvNodeNotRestarted);
      ++unrestartable;
      continue;
    }
    boost::shared_ptr<CCassandraNodeInfo> info(new CCassandraNodeInfo());
    info->nodeInfo = record;
    info->confDir = node.getConfigDirectory();
    info->ip = node.getAddress();
    info->hostId = node.getHostId();
    if (!key.empty()) {
      auto docker = dockerInfoByNode.find(key);
      if (docker != dockerInfoByNode.end()) info->dockerInfo = docker->second;
    }
    TQLOG(0, "Adding node %s ip %s to restart list", client.c_str(), info->ip.c_str());
    list.push_back(info);
  }
  for (const std::string& client : asked) {
    if (found.count(client)) continue;
    TQLOG(-1, "Client %s asked for a restart but runs no node of the destination", client.c_str());
    EvEvent event;
    event << client;
    event.MajorEvent(kEvNodeNotRestarted);
    ++unrestartable;
  }
  return list;
}

CQiError CCassandraLogRestores::OnComplete() {
  TQ_DEBUG_FUNCTION();
  CQiError e = CCassandraRestores::OnComplete();
  if (e.IsError()) return e.Push(FXLOC);

  const TQJobCtrlClientPtr& jobCtrl = getJobCtrlClient();
  if (!jobCtrl || jobCtrl->checkQuitFlag()) return CQiError::Success();

  const std::string refTimeFile = backupRefTimeFile();
  if (std::remove(refTimeFile.c_str()) != 0) {
    TQLOG(-1, "Failed to delete the backupRefTime file %s", refTimeFile.c_str());
  }

  if (!recover && !useSSTableLoader) return CQiError::Success();

  TQLOG(0, "Restarting Cassandra nodes");
  uint32_t unrestartable = 0;
  const CassandraNodeInfoList restartList = buildRestartList(unrestartable);

  if (restartList.empty() && unrestartable == 0) {
    // Nothing to restart changes only a status that nothing decided yet,
    // and not one the tasks decide as failed.
    const int status = getJobStatus();
    bool taskFailed = false;
    if (getStatusSetFlag() == 0) {
      auto_lock lock(getCoordinatorLock(), true);
      for (const DistributedQEL::TaskBasePtr& task : getTaskList()) {
        if (task && task->status == DistributedQEL::TASK_FAILED) taskFailed = true;
      }
    }
    if ((getStatusSetFlag() != 0 && status != 1) || taskFailed) {
      TQLOG(0, "No nodes to be restarted. The job status %d of the restore stays.",
            taskFailed ? 2 : status);
      return CQiError::Success();
    }
    TQLOG(0, "No nodes to be restarted. Marking job success.");
    setJobStatus(1);
    setStatusSetFlag(1);
    return CQiError::Success();
  }

  CQiError replayError;
  if (!restartList.empty()) {
    if (!priamUtil) {
      // Only a restore with recover starts the coordinator's Priam, which
      // gives the seed list and the nodes' status.
      replayError = FXErrorUtil::ErrorWin32(
          FXLOC, 87,
          "The nodes cannot be restarted to replay the commit logs: the coordinator's Priam runs "
          "only in a restore with the recover option");
    } else {
      const int64_t jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
      CassandraLogReplay replay(restartList, priamUtil, stagePath, jobId, jobCtrl.get());
      replayError = replay.Run();
    }
  }
  if (!replayError.IsError() && unrestartable == 0) return CQiError::Success();
  if (!replayError.IsError()) {
    replayError = FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to restart some Cassandra nodes.");
  }
  if (jobCtrl->checkQuitFlag()) {
    TQLOG(0, "Phase will be marked Failed since QuitFlag detected");
    setJobStatus(2);
    setStatusSetFlag(1);
    return replayError.Push(FXLOC);
  }
  markReplayFailed(replayError);
  return replayError.Push(FXLOC);
}

}  // namespace TQCassandra
