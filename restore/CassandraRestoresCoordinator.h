#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/RestoreOptionRecords.h"
#include "common/RestoreSchemaRecords.h"
#include "platform/framework/Restore.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/msg/IndexMetadataRecords.h"

class CTqNetwork;
namespace Zelk {
class ZelkConfigClient;
}
namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

class CCassandraRestoreClientConfig;
class CassandraCoordinatorClientConfig;

// The coordinator of a restore job phase of kind "restore". The framework
// base is a virtual base, so that the point-in-time coordinator shares it.
//
// The framework calls getClientConfigObject, loadNodeConfiguration (restore
// task record, cross-instance option, node map and node registration),
// initialize (every other option, cluster details, the coordinator's own
// Priam), PrepareRestoreParameters (which makes the client restore launcher),
// then per node getCommandArgumentsForNode.
class CCassandraRestores : public virtual TQDC_FileSystem::CRestore {
 public:
  // Job events raised at start-up.
  static constexpr uint32_t kEvPriamStartFailed = 0x60003D4;
  static constexpr uint32_t kEvPriamAccessDenied = 0x6000485;
  static constexpr uint32_t kEvPasswordDecryptFailed = 0x6000478;
  static constexpr uint32_t kEvStageFreeMaUnsupported = 0x6000475;
  // A schema statement failed (pending cause and major event).
  static constexpr uint32_t kEvSchemaCreateFailed = 0x60003F2;
  // The network share of a stage-free restore could not be deleted.
  static constexpr uint32_t kEvShareDeleteFailed = 0x600046D;

  // `cleanupRestore` builds the framework base when this is the most-derived
  // class.
  explicit CCassandraRestores(bool cleanupRestore);
  // Releases the restore task record, the remote session and the file-server
  // client first, then the other members. A coordinator's Priam that still
  // runs is stopped, so that no Priam outlives its job.
  ~CCassandraRestores() override;

  // Start-up (CassandraRestoresCoordinatorStart.cc). Makes the configuration
  // on the first call (and hands it out then only).
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;
  // Job results directory, instance ids, restore options, cluster details,
  // staging path, the media agent of a stage-free restore, the coordinator's
  // Priam (with recover), then the framework's initialize.
  CQiError initialize(DistributedQEL::CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override;
  // The framework's arguments followed by the restore node arguments.
  CQiError getCommandArgumentsForNode(DistributedQEL::CNodeInfoPtr& node,
                                      std::string& arguments) override;
  // Cluster details (CassandraRestoresCoordinatorDetails.cc): the destination
  // (true) or the source instance into destConfig or sourceConfig.
  virtual CQiError getClusterDetails(bool destination);
  // Makes the client restore launcher and stores it in the framework base.
  virtual CQiError initailizeStartClientRestoreObject(TQJobClientPtr jobClient,
                                                      TQJobCtrlClientPtr jobCtrlClient);
  // Node map (CassandraRestoresCoordinatorNodeMap.cc): restore task record,
  // cross-instance option, the map from source to target nodes, and the
  // registration of the target nodes by client name. Nothing but the restore
  // task record once the job has nodes.
  CQiError loadNodeConfiguration() override;
  // A stage-free restore makes and assigns no tasks: the policies come back
  // empty. Otherwise the framework's.
  CQiError CreateTaskCreatePolicy(TQDC_FileSystem::CTaskCreatePolicyPtr& policy) override;
  CQiError CreateTaskAssignPolicy(TQDC_FileSystem::CTaskAssignPolicyPtr& policy) override;

  // Node start payload (CassandraRestoresCoordinatorPayload.cc): the
  // NodeInit of a started node controller; `message` is untouched on failure.
  CQiError getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override;
  // 1 when the destination's sstableloader is the native one, else 0.
  CQiError checkCassVersionForNativeSSTableloader(unsigned int& native);
  // Network share of a stage-free restore (CassandraRestoresCoordinatorShare.cc).
  // Has the media agent's file server export the backup's data as
  // "share<job id>" to the job's nodes; fails unless a share id comes back.
  virtual CQiError createZelkNetworkShare();
  // Deletes the share when one was created; a failure raises
  // EV_SHARE_DELETE_FAILED and still returns success.
  virtual CQiError deleteZelkNetworkShare();
  // The owner of the shared files, from the registry's Cassandra user and
  // group; `uid` and `gid` stay when either is not set.
  virtual CQiError getCustomUidGid(int& uid, int& gid);

  // The restore node arguments appended to every controller's command line;
  // the staging path is quoted only when it holds a blank or a quote.
  std::string restoreNodeArguments() const;

  // Restore preparation (CassandraRestoresCoordinatorPrepare.cc): the client
  // restore launcher and its restore records, node names of the target
  // clients, and with recover the existence checks, the schema and key
  // records of the index, the key copy and the creation of the missing
  // keyspaces and tables; the share of a stage-free restore.
  CQiError PrepareRestoreParameters(DistributedQEL::CClientConfigPtr& config,
                                    CProgramArgumentsPtr& arguments, TQJobClientPtr jobClient,
                                    TQJobCtrlClientPtr jobCtrlClient) override;
  // Schema and key records of the backup's index views
  // (CassandraRestoresCoordinatorSchema.cc): the backup reference time from
  // "NodeMetaData" into "BackupRefTime_<job id>", then with `fetchSchemas`
  // the keyspace and table statements of `paths` from "DBView".
  virtual CQiError QueryCassandraView(bool fetchSchemas, std::vector<std::string> paths);
  // Deferred view statements (CassandraRestoresCoordinatorDeferred.cc):
  // moves the materialized-view statements of `statement` into
  // "DeferredCqlSchemas_<job id>" and leaves the others in it.
  CQiError ignoreMaterializedViews(std::string& statement);
  // Runs the deferred statements one by one and removes the file; the lines
  // that failed (each reported by its event) go to `failedLines` when given.
  virtual CQiError createDeferredSchemas(std::vector<std::string>* failedLines = nullptr);
  // DSE encryption key copy, called only when the index gave key records
  // (CassandraRestoresCoordinatorKeys.cc): sends the system key files (encrypted) to the node
  // utility started on every destination node in order, stopping at the first node that fails or
  // does not answer "complete" = "true", then inserts every encrypted table's
  // key row through the coordinator's Priam ("insertKey").
  virtual CQiError HandleCassandraTDE();

  // Supervision (CassandraRestoresCoordinatorSupervision.cc): the tasks of a
  // node that failed to start or to initialise fail; a stopped node's worker
  // slots are counted once for the nodes still restoring.
  CQiError OnNodeChange(const DistributedQEL::CNodeInfoPtr& node,
                        DistributedQEL::TakeAction& action) override;
  // Once every task has ended: truncates the restored tables (when asked and
  // safe), sends NodeStop to every node not stopped yet, then hands the freed
  // worker slots to the nodes still running.
  void OnIdle() override;
  // Records a node's failed table reload; other messages go to the base.
  CQiError processMessage(const CNMessageBase& message) override;
  // A stage-free restore has no tasks and ignores the restart entries.
  CQiError ProcessRestartString(std::list<TQDC_FileSystem::RestartInfo>& restartInfo) override;
  void ControllerDone(DistributedQEL::CNodeInfoPtr& node,
                      DistributedQEL::ControllerDone* done) override;
  bool ShouldCreateWaitTask() override;
  bool IsAllTaskCompletedForCurrentPhase() override;
  bool CanChangeTaskState(DistributedQEL::TaskBasePtr& task,
                          DistributedQEL::RestorePhase phase) override;

  // Completion (CassandraRestoresCoordinatorComplete.cc): the job status from
  // what the supervision recorded and the quit flag, the deferred view
  // statements, the replaced nodes' removal and the stage-free share.
  CQiError OnComplete() override;
  // Removes the nodes that the restore replaced (a source node mapped to a
  // different target) from the destination instance's stored node list.
  virtual CQiError removeDeadNode();

  // Starts the node utility in its key-copy mode on that suite client through
  // remoteSession (made when there is none).
  CQiError StartTDEUtil(const std::string& clientName, bool flag);

 protected:
  // The client name under which the node of a nodeMap entry is registered:
  // the target's across instances when its client id's low 32 bits are not
  // 0, else the source's.
  std::string registeredNodeName(const App::CassandraDockerClientMap& entry) const;
  // The "TableMetadata" value: the destination's tables from Priam's
  // "getMeta" and the connection properties of the nodes' Priams.
  CQiError buildTableMetadata(std::string& xml);
  // The "ZelkRestoreParameters" value for the node registered as `nodeName`.
  CQiError buildZelkParameters(const std::string& nodeName, std::string& xml);

  // Raises EV_PRIAM_ACCESS_DENIED for an access-denied error (Win32 5) and
  // returns a copy of `error` in every case.
  CQiError handlePriamError(const CQiError& error);

  // Job results directory of the restore (job results store): 0 success, 1
  // failure.
  int CreateJobResultsDirectory();
  // The default subclient of the restore task's backup set; `id` stays when
  // there is none.
  CQiError getDefaultSubclientId(int64_t& id);
  // Source data centre -> client names of its nodes, from sourceConfig.
  void fillSourceDCmap();
  // Nothing to read; succeeds.
  CQiError GetCassandraConfigParams() { return CQiError::Success(); }

  // Sends "TruncateTable" for one table; always succeeds. A failure other
  // than a table the cluster does not have is kept in truncateFailures.
  CQiError cassTruncateTable(const std::string& keyspace, const std::string& table);
  // The truncation of the idle pass that stops the nodes; `stoppedEarly`
  // names a node that stopped before it ("" none).
  void truncateRestoredTables(const std::string& stoppedEarly);
  // Whether the restore has tables to truncate: recover set and a keyspace
  // of its schemas outside the system ones that holds tables.
  bool hasTablesToTruncate() const;

  // The job's Cassandra restore options, read afresh from the job's XML
  // options (the four 1627 errors of a job without them).
  CQiError readRestoreOptions(App::CassandraRestoreOptions& options);
  // Makes (or remakes) the restore task record of the job.
  CQiError makeRestoreTask();
  // The entries of a subclient-level restore, from the cluster node lists.
  CQiError buildSubclientNodeMap();
  // Registers the target nodes of nodeMap by client name.
  void registerNodeMap();
  // The media agent that serves a stage-free restore, and its check.
  CQiError findStageFreeMediaAgent();
  // Makes, configures and starts the coordinator's Priam, then reads the
  // destination's Cassandra version.
  CQiError startCoordinatorPriam();
  // The SSL part of the coordinator's Priam start: keystore and truststore
  // passwords into `properties`, the SSL JVM options into
  // priamAdditionalParameters.
  CQiError addSslSettings(std::map<std::string, std::string>& properties);

  // The coordinator's own Priam (made only with recover).
  boost::shared_ptr<TqCassandra::PriamUtil> priamUtil;
  // The job's restore task record; sole owner.
  boost::shared_ptr<EvRstTask> restoreTask;
  boost::shared_ptr<CCassandraRestoreClientConfig> restoreClientConfig;
  // Without crossInstance the same object as destConfig.
  boost::shared_ptr<CassandraCoordinatorClientConfig> sourceConfig;
  boost::shared_ptr<CassandraCoordinatorClientConfig> destConfig;
  uint64_t destInstanceId = 0;
  // Restore options.
  bool crossInstance = false;
  bool replaceDeadNode = false;
  bool recover = false;
  bool useSSTableLoader = false;
  bool runDR = false;
  bool subclientRestore = false;
  bool truncateTables = true;
  // Staging location option + "/" + job id.
  std::string stagePath;
  // Source-to-target node entries, in order.
  std::vector<App::CassandraDockerClientMap> nodeMap;
  uint64_t sourceInstanceId = 0;
  // Keyspace name -> its schema statements.
  std::map<std::string, cassandraCqlStatements> keyspaceSchemas;
  std::string priamAdditionalParameters;
  // Worker slots freed by stopped nodes.
  uint32_t workersToReassign = 0;
  int64_t backupRefTime = 0;
  std::string destInstanceVersion;
  std::string cassandraConfigFile;
  // App::AuthConfig XML of the destination instance.
  std::string authConfigXml;
  // Set only by the point-in-time coordinator.
  bool isLogRestore = false;
  // A node reported a failed table reload.
  bool reloadFailed = false;
  // Connection to the remote utility of the DSE key copy; sole owner.
  boost::shared_ptr<CTqNetwork> remoteSession;
  // DSE system key file path -> content.
  std::unordered_map<std::string, std::string> systemKeyFiles;
  std::list<cassandraDSEEncryptedTableRow> encryptedTableRows;
  // Serve the data from a network share instead of staging it.
  bool stageFreeRestore = false;
  int32_t mediaAgentClientId = 0;
  std::string mediaAgentClientName;
  // Id of the created share; 0 = none.
  uint32_t zelkShareId = 0;
  std::string zelkShareName;
  // Network host name of the media agent that serves the share.
  std::string mediaAgentHostName;
  // The file-server configuration client; sole owner.
  boost::shared_ptr<Zelk::ZelkConfigClient> zelkConfigClient;
  // A node controller failed to initialise.
  bool controllerInitFailed = false;
  // Source data centre -> client names of its nodes.
  std::map<std::string, std::list<std::string>> sourceDCmap;
  // Path of "DeferredCqlSchemas_%lld".
  std::string deferredSchemaFile;
  // Source client names of the nodeMap entries.
  std::set<std::string> sourceClientNames;
  // "Version" of the coordinator Priam's "clusterDetails".
  std::string cassandraVersion;

  // Restore preparation helpers.
  // Gives each restore record the client that restores it (node map).
  CQiError rewriteRestoreRecordNodeNames();
  // "checkExistance?keyspace=K[&table=T]": `exists` from the reply.
  CQiError checkExistence(const std::string& keyspace, const std::string& table, bool& exists);
  // Creates the missing keyspaces and every queued table statement.
  CQiError createMissingSchemas(bool keepSourceReplication, const std::string* replication);
  // Reports a failed schema statement: event arguments `kind`, the statement
  // and "<error>: <reply>", pending cause EV_SCHEMA_CREATE_FAILED.
  void reportSchemaFailure(const char* kind, const std::string& statement, const CQiError& error,
                           const std::string& reply);
  // One browse of an index view; every BrowseData received goes to `visit`
  // (a failed visit stops the walk and is returned).
  CQiError browseIndexView(const std::string& view, const std::vector<std::string>& paths,
                           const std::function<CQiError(const databrowse::BrowseData&)>& visit);
  // A "DBView" table record of a table to create: its statement and key rows.
  CQiError addTableRecord(cassandraCqlStatements& entry, const std::string& keyspace,
                          const std::string& table,
                          const IdxMetadata::CassandraTableMetadata& meta);
  // The table's CQL with " AND ID = '<id>'" for destinations above version 2.
  std::string withTableIdClause(const std::string& cql, const std::string& id) const;
  // "<job results directory>/<prefix><job id>".
  std::string jobResultsFile(const char* prefix) const;

  // Keyspaces whose existence was asked of Priam in this phase.
  std::set<std::string> keyspacesChecked;
  // Keyspace and table of every table statement queued in keyspaceSchemas.
  std::set<std::pair<std::string, std::string>> tablesQueued;

  // Tables ("<keyspace>.<table>") whose truncation failed.
  std::vector<std::string> truncateFailures;
  // Why tables that were to be truncated were not; "" when none were left.
  std::string truncationSkipped;
  // Client names of the stopped nodes whose worker slots were counted.
  std::set<std::string> workersCountedNodes;
  // Deferred view statements that createDeferredSchemas could not run.
  std::vector<std::string> failedDeferredSchemas;
  // Client names of the nodes whose unfinished tasks held back the NodeStop
  // in the last idle pass: the idle passes say so once per change.
  std::set<std::string> nodesHoldingStop;
};

}  // namespace TQCassandra
