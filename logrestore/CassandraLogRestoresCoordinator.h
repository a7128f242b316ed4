#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "logrestore/CassandraNodeInfo.h"
#include "platform/base/FXMutex.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace DistributedQEL {
class AgentStoppedStatus;
}

namespace TQCassandra {

class CCassandraDockerInfo;

// The coordinator of the commit-log phase ("CassandraLogRestore") of a
// point-in-time restore: a restore coordinator that also replays the restored
// commit logs by restarting the reported nodes one at a time.
//
// Start-up fixes the point in time (the restore's to-time, else the job's
// start time) and reads the destination's commit-log archive command; each
// node's start payload adds "BackupReferenceTime" and, with recover,
// "CommitLogRestoreCmd" and "CommitLogRestoreTime"; the controllers'
// agent-stopped reports name the nodes to restart and where containers keep
// their staging folders; the end of the phase restarts those nodes
// (CassandraLogReplay). Never stage-free; restart entries are ignored.
class CCassandraLogRestores : public virtual CCassandraRestores {
 public:
  // A commit-log replay failed: the job is left pending.
  static constexpr uint32_t kEvCommitLogReplayFailed = 0x600046B;
  static constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;

  // The framework base is always built with false; `cleanupRestore` goes to
  // the restore coordinator base.
  explicit CCassandraLogRestores(bool cleanupRestore);
  ~CCassandraLogRestores() override;

  // The restore coordinator's start-up, then stage-free off and the point in
  // time.
  CQiError initialize(DistributedQEL::CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override;
  // The restore coordinator's cluster details, then for the destination its
  // commit-log archive command.
  CQiError getClusterDetails(bool destination) override;
  // The commit-log launcher.
  CQiError initailizeStartClientRestoreObject(TQJobClientPtr jobClient,
                                              TQJobCtrlClientPtr jobCtrlClient) override;
  // The restore payload followed by the commit-log entries.
  CQiError getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override;
  // A rerun keeps no restart entries.
  CQiError ProcessRestartString(std::list<TQDC_FileSystem::RestartInfo>& restartInfo) override;
  // The restore coordinator's completion, then the restart of the reported
  // nodes (CassandraLogRestoresCoordinatorComplete.cc).
  CQiError OnComplete() override;
  // Agent-stopped reports are handled here, all else by the restore
  // coordinator.
  CQiError processMessage(const CNMessageBase& message) override;
  // Records a failed reload, the node to restart and the Docker details of
  // its targets.
  CQiError handleAgentStoppedStatus(const DistributedQEL::AgentStoppedStatus& status);

 protected:
  // "<job results directory>/BackupRefTime_<job id>".
  std::string backupRefTimeFile() const;
  // The destination nodes of the clients that asked for a restart, in the
  // destination's order. A client that asked but has no node record, or no
  // destination node, is reported and counted in `unrestartable`.
  CassandraNodeInfoList buildRestartList(uint32_t& unrestartable);
  // The phase ends pending: status 3, the reason logged, the pending cause
  // EV_COMMIT_LOG_REPLAY_FAILED raised.
  void markReplayFailed(const CQiError& error);

  // Seconds since 1970 (UTC) up to which commit logs are replayed.
  int64_t pointInTime = 0;
  // Client names of the controllers that asked for a Cassandra restart;
  // appended under restartLock.
  std::list<std::string> nodesToRestart;
  FXMutex restartLock;
  // Node key -> container and host staging path of a node in a container.
  std::map<std::string, boost::shared_ptr<CCassandraDockerInfo>> dockerInfoByNode;
};

}  // namespace TQCassandra
