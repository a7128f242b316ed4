#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "restore/CassandraRestoresController.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The node controller of the commit-log phase of a point-in-time restore: a
// restore controller that also prepares each target node to replay the
// restored commit logs. From the node start payload it learns the restore
// command, the point in time and the backup reference time; from its tasks
// the tables each target replays; when its agent stops it gives the staged
// logs to Cassandra's user, edits each target's commit-log restore settings
// and replay list (keeping ".bkp" copies of both files) and asks the
// coordinator to restart this machine's nodes.
class CCassandraLogRestoreController : public CCassandraRestoreController {
 public:
  CCassandraLogRestoreController();
  ~CCassandraLogRestoreController() override;

  // Ownership of the staged logs, the settings of every target node, then
  // the restart status (or the do-not-restart status when no target has
  // logs to replay) and the framework's own end. A target that cannot be
  // configured is left as it was and the others are still handled.
  void OnAgentStopped() override;
  // With recover, learns the "<keyspace>.<table>" names each target node
  // replays from the task's source paths (CassandraLogRestoresControllerTasks.cc).
  CQiError OnTask(DistributedQEL::TaskInfo* task, bool& flag) override;
  // The restore controller's set-up, then with recover "CommitLogRestoreCmd",
  // "CommitLogRestoreTime" and "BackupReferenceTime" of the payload.
  CQiError processNodeInit(CNMessageBase* message) override;
  // One new CCassandraLogRestoreWorker per call.
  CQiError GetRestoreWorker(DistributedQEL::IRestoreWorkerPtr& worker) override;

  // The target key of the node that `source` (a source node's name as the
  // backup's paths give it) is restored to on this machine; error 774 when
  // no mapping of this machine names it.
  CQiError getTargetFromSource(const std::string& source, std::string& target);

  // The UTC time of `seconds` as Cassandra reads a restore point in time:
  // year:month:day hour:minute:second, no field padded with zeros; "" when
  // the time cannot be converted.
  static std::string CassandraPointInTime(int64_t seconds);

  // Pending cause of a target whose commit-log restore settings could not
  // be edited.
  static constexpr uint32_t kEvCommitLogConfigFailed = 0x600046A;
  // The file in a target's work folder, written before its settings files
  // are copied and edited, that names the node's configuration folder: a
  // run killed before the replay put the copies back leaves it, and the
  // suite's next run puts the node's settings back from the copies.
  static constexpr const char* kSettingsRecordName = "CommitLogSettingsEdited";

 protected:
  // Edits "commitlog_archiving.properties" and "cassandra-env.sh" of one
  // target node after keeping each as "<name>.bkp" (CCommitLogSettingsCopy)
  // and recording the edit in its work folder. On failure the files
  // are as they were (an edited one is put back) and the error says why.
  // `confDir` receives the node's configuration folder.
  // `sources`: the source nodes whose staged logs it replays.
  CQiError configureTarget(const std::string& targetKey, const TqCassandra::PriamUtil& priam,
                           const std::list<std::string>& tables,
                           const std::vector<std::string>& sources, std::string& confDir);
  // The source nodes restored to `targetKey` whose commit logs were staged
  // in its host staging folder ("<staging>/<source>/#COMMITLOG#"), in name
  // order.
  std::vector<std::string> stagedLogSources(const std::string& targetKey) const;
  // Writes kSettingsRecordName in the target's work folder (none known:
  // nothing is written).
  CQiError recordSettingsEdited(const std::string& targetKey, const std::string& confDir);
  // Puts the ".bkp" copy of `path` back over it; false (logged) on failure.
  static bool putBackFile(const std::string& path);
  // Never: the data phase before this one applied the token rule and
  // restored the data; taking the tokens again would stop Cassandra and
  // empty the data directories that hold the restored data.
  bool tokenRuleApplies(const std::string& sourceName,
                        const std::string& targetName) const override;
  // Sends the agent-stopped status: with `restart` the restart request with
  // this machine's name and `dockerInfo` when not empty, else the
  // do-not-restart status; with `failed` field 1 is 1, so the coordinator
  // ends the job pending. False when it could not be sent.
  bool sendStatus(bool restart, const std::string& dockerInfo, bool failed);

  // Target key -> "<keyspace>.<table>" names whose commit logs it replays; no
  // name twice in one list.
  std::unordered_map<std::string, std::list<std::string>> replayTablesByTarget;
  // The "CommitLogRestoreCmd" value of the node start payload.
  std::string restoreCommand;
  // The point in time in Cassandra's format.
  std::string cassandraPointInTime;
  // The "BackupReferenceTime" value, seconds since 1970.
  int64_t backupRefTime = 0;
};

}  // namespace TQCassandra
