#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "backup/CassandraCollectFileContext.h"
#include "common/BackupRecords.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/multinode/ItemConsumer.h"

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
// collect files.
class CassandraBackupController : public MultiNodeBackupOps::MultiNodeBackupOpsController {
 public:
  // Tag of the coordinator's collect-file request.
  static constexpr uint32_t kCreateCollectFilesTag = 0x77AAFA51;
  // Job events.
  static constexpr uint32_t kEvKeyspaceBackupFailed = 0x60003D1;
  static constexpr uint32_t kEvKeyspacesTakenFull = 0x60003D8;
  static constexpr uint32_t kEvConvertedToFull = 0x60003D9;
  static constexpr uint32_t kEvIncrementalDisabled = 0x60003E7;
  // Files in the job results directory.
  static constexpr const char* kCleanupInfoFileName = "CassandraCleanupInfoFile";
  static constexpr const char* kJRStateFileName = "SubclientdirState.tqf";

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
  // Adds one entry (the path and its size) to the flat collect file behind
  // `consumer`; `collectFile` names that file.
  static CQiError writeToCollectFile(std::string path, std::string collectFile,
                                     boost::shared_ptr<CItemConsumer>& consumer);
  // Walk callback: lists a file of a snapshot or backups directory; `context`
  // is the CassandraCollectFileContext. Directories are passed over.
  static CQiError cassandraAddToCollectFile(const char* directory, const char* name,
                                            bool isDirectory, void* context);
  // "SubclientdirState.tqf": the job id.
  CQiError createJRStateFile();

 protected:
  // The framework's configuration as this controller's own; empty when it is
  // of another type.
  boost::shared_ptr<CassandraControllerClientConfig> GetControllerConfig() const;
  // Full or incremental per keyspace from the last backup status text.
  CQiError chooseBackupLevels(const std::string& lastBackupStatus);
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
