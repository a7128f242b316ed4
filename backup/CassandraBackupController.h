#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backup/CassandraCollectFileContext.h"
#include "common/BackupRecords.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/multinode/ItemConsumer.h"
#include "platform/multinode/UnixFlatCollectFile.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

class CassandraControllerClientConfig;

// The node side of the "backup" phase: one controller serves every Cassandra
// instance on its machine. Maps keyed by instance name (the node record's
// agent instance name when set, else its client name) and walked in ascending
// name order.
//
// The coordinator's collect-file request (CassandraCreateCollectFiles) drives
// the work: one Priam per instance, the subclient's earlier snapshots
// cleared, full or incremental chosen per keyspace, then flush, snapshot and
// collect files; for a commit-log job instead commit-log archiving set up,
// the archive directory mapped onto the host for Cassandra in Docker
// containers, and the archived commit logs listed.
class CassandraBackupController : public MultiNodeBackupOps::MultiNodeBackupOpsController {
 public:
  // Tag of the coordinator's collect-file request.
  static constexpr uint32_t kCreateCollectFilesTag = 0x77AAFA51;
  // Job events.
  static constexpr uint32_t kEvKeyspaceBackupFailed = 0x60003D1;
  static constexpr uint32_t kEvKeyspacesTakenFull = 0x60003D8;
  static constexpr uint32_t kEvConvertedToFull = 0x60003D9;
  static constexpr uint32_t kEvIncrementalDisabled = 0x60003E7;
  static constexpr uint32_t kEvCommitLogArchivingConfigured = 0x60003EC;
  // Files in the job results directory.
  static constexpr const char* kCleanupInfoFileName = "CassandraCleanupInfoFile";
  static constexpr const char* kJRStateFileName = "SubclientdirState.tqf";
  // The backup time of the node's data job (taken before the flush), in
  // decimal seconds; a rerun of the job reports it again.
  static constexpr const char* kBackupTimeFileName = "CassandraBackupTime";

  CassandraBackupController();
  // Releases the members; the Priams are stopped by OnAgentStopped, not here.
  ~CassandraBackupController() override;

  using MultiNodeBackupOpsController::getClientConfigObject;
  // Makes the CassandraControllerClientConfig on the first call; every call
  // hands it out and keeps it as the framework's configuration.
  CQiError getClientConfigObject(TQDC_FileSystem::CFSClientConfigPtr& config) override;
  // The framework's start-up, then the job's arguments.
  void OnAgentStarted() override;
  // The collect-file request; any other message is error 6.
  CQiError OnMessage(const CNMessageBase& message) override;

  // The coordinator's collect-file request, in order: instances, options,
  // Priams, snapshot clean-up, full or incremental per keyspace, then flush,
  // snapshot and collect files unless the request says "CreateCollectFiles"
  // = "n". A failure sets collectFileCreationFailed.
  CQiError handleCassandraCreateCollectFilesMsg(CNMessageBase* message);

  // Reports, tasks and workers (CassandraBackupControllerReports.cc).
  // The first start-up report carries "CassandraStartup" = "y"; every later
  // one "FailedInstances" (the instances whose Priam is not running, each
  // followed by ","), and "CollectFileCount" and "CollectFileStart" once both
  // are known.
  CQiError SetAdditionalStartupValues(DistributedQEL::ControllerStartup& startup) override;
  // "CassandraNodeBackupTime" and "CassandraKeyspaceStatus" (status 0 for the
  // keyspaces the failures list names, with the event 0x60003D1); nothing
  // when the collect files failed or the job backs up commit logs.
  CQiError SetAdditionalCtrlDoneValues(DistributedQEL::ControllerDone& done) override;
  // A task of collect file "%d|%lld" (number, resume offset): a surplus
  // collect file "Collect%s%dtmp.tqf" takes the task's number and the
  // payload is rewritten with it. The node's own numbered collect files are
  // never moved or replaced.
  CQiError OnTask(DistributedQEL::TaskInfo* task, bool& flag) override;
  // A CassandraBackupWorker for the stream, with the extent size when extent
  // backup is on.
  CQiError GetBackupWorker(MultiNodeBackupOps::IBackupWorkerPtr& worker,
                           DistributedQEL::StreamInfo* stream) override;
  // A CassandraBackupWorkerParams.
  CQiError GetBackupWorkerParams(MultiNodeBackupOps::CBackupWorkerParamsPtr& params) override;
  // The framework's part, then the cluster, the commit-log flag and one
  // entry per instance.
  CQiError InitializeBackupWorkerParams(
      MultiNodeBackupOps::CBackupWorkerParamsPtr& params) override;
  // Stops the Priams, then the framework's stop.
  void OnAgentStopped() override;

  // One Priam per instance of the configuration, started when `start`.
  CQiError initializePriam(const std::string& jmxConfig, const std::string& authConfig, bool start);
  // Stops the running Priams; they stay in priamByInstance.
  CQiError uninitializePriam();

  // "flush" on every running instance; stops at the first failure.
  CQiError flushCassandraTables();
  // The job's snapshot on every running instance, recorded in
  // "CassandraCleanupInfoFile".
  CQiError takeSnapshot();
  // Clears the subclient's snapshots of earlier jobs (with
  // `postBackupCleanup` the current job's too). Failures are logged only.
  void deleteSnapshots(bool postBackupCleanup);

  // The flat collect file of a data job, the job-results state file, the
  // extent pass and the split into numbered collect files.
  CQiError generateCollectFiles(int splitCount, int collectFileStart, TQBkpLevel level);
  // Splits the flat collect file into `splitCount` numbered files and gives
  // them the node's numbers from `collectFileStart`; `count` gets how many the
  // split made.
  CQiError splitCollectFile(int splitCount, int collectFileStart,
                            CassandraCollectFileContext* context, int& count);
  // Opens the job's flat collect file of `level` for writing and readies
  // `context` to fill it; `flat` and `flatPath` get the file and its path.
  CQiError openFlatCollectFile(TQBkpLevel level, CassandraCollectFileContext& context,
                               CUnixFlatCollectFilePtr& flat, std::string& flatPath);
  // Splits the filled flat collect file into the node's numbered files and
  // records their first number and count in the configuration.
  CQiError finishCollectFiles(int splitCount, int collectFileStart,
                              CassandraCollectFileContext& context);
  // Adds one entry (the path and its size) to the flat collect file behind
  // `consumer`; `collectFile` names that file.
  static CQiError writeToCollectFile(const std::string& path, const std::string& collectFile,
                                     boost::shared_ptr<CItemConsumer>& consumer);
  // Walk callback: lists a file of a snapshot or backups directory; `context`
  // is the CassandraCollectFileContext. Directories are passed over.
  static CQiError cassandraAddToCollectFile(const char* directory, const char* name,
                                            bool isDirectory, void* context);
  // "SubclientdirState.tqf": the job id.
  CQiError createJRStateFile();

  // Commit-log jobs (CassandraBackupControllerCommitLog.cc).
  // Makes every instance archive its commit logs into the job's commit-log
  // backup directory: "archive_command" of the instance's
  // "commitlog_archiving.properties" becomes the backup command, " %path ",
  // the directory and "/%name", with the event 0x60003EC for each file
  // rewritten. An instance already configured so is left as it is. A file
  // that cannot be read or rewritten stops the set-up with an error.
  CQiError configureCommitLogBackup();
  // When Cassandra runs in Docker containers on this machine: for every
  // instance whose Priam runs, the host path of the commit-log backup
  // directory through the mounts of the instance's container, kept as the
  // instance's commitLogArchiveHostPath.
  CQiError checkIfCassandraInDocker();
  // The flat collect file of a commit-log job: for every instance whose
  // Priam runs, its archive directory (the host path when mapped, else the
  // job's commit-log backup directory) and the files in it whose names begin
  // with "CommitLog"; then the split into the node's numbered collect files.
  CQiError generateCollectFilesForCommitLogs(int splitCount, int collectFileStart);

 protected:
  // The framework's configuration as this controller's own; empty when it is
  // of another type.
  boost::shared_ptr<CassandraControllerClientConfig> GetControllerConfig() const;
  // True when the instance has a Priam in priamByInstance and it runs.
  bool isPriamRunning(const std::string& instance) const;
  // True when `number` lies in the node's own range of numbered collect
  // files: from the first collect-file number, two per stream.
  bool IsOwnCollectFileNumber(int number) const;
  // Full or incremental per keyspace from the last backup status text.
  CQiError chooseBackupLevels(const std::string& lastBackupStatus);
  // Whether a keyspace or table name can be a folder name, and so a path
  // component of the data directories and of the header paths: not empty,
  // not "." or "..", without "/".
  static bool IsFolderName(const std::string& name);
  // Appends "<instance> <keyspace>" to the failures list.
  CQiError addToFailuresList(const std::string& instance, const std::string& keyspace);
  // A restarted node that made its collect files in an earlier run takes the
  // backup time of that run from "CassandraCleanupInfoFile".
  void recoverBackupStartTime();

  // The controller's configuration, made on first request.
  boost::shared_ptr<CassandraControllerClientConfig> clientConfig;
  // One Priam per instance.
  std::map<std::string, boost::shared_ptr<TqCassandra::PriamUtil>> priamByInstance;
  // The keyspaces (with their tables) to back up, in request order.
  std::map<std::string, std::vector<DistributedQEL::CassandraKeyspace>> keyspacesByInstance;
  // Keyspaces an incremental job backs up full; each name once, request order.
  std::map<std::string, std::vector<std::string>> fullKeyspaces;
  // Handling of the collect-file creation request failed.
  bool collectFileCreationFailed = false;
  // Seconds since 1970, taken just before the flush.
  int64_t backupStartTime = 0;
  // The request said "CreateCollectFiles" = "n".
  bool collectFilesSkipped = false;
  // A keyspace directory holds an entry without "-" in its name.
  bool legacyTableDirs = false;
};

}  // namespace TQCassandra
