#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "platform/base/QiError.h"
#include "platform/base/QiString.h"
#include "platform/framework/Backup.h"
#include "platform/framework/TaskBase.h"
#include "platform/framework/UnixFSClientConfig.h"
#include "platform/msg/EntityRecords.h"

namespace TqCassandra {
class PriamUtil;
}
class App_ExecuteSP;
class ApplicationId;
class CassandraInstance;
class CassandraSubclient;

namespace TQCassandra {

struct ClusterDiscovery;

// Order in which getTask offers a node's tasks: unreserved before reserved,
// then lower priority value, then fewer failed streams (over every node).
bool CassandraTaskByPriorityAndReservation(const DistributedQEL::TaskBasePtr& a,
                                           const DistributedQEL::TaskBasePtr& b);

// The coordinator client configuration of a Cassandra job: the backup
// coordinator's framework configuration, and the object in which the restore
// and cleanup coordinators keep the details of an instance. The coordinators
// fill the fields themselves.
class CassandraCoordinatorClientConfig : public TQDC_FileSystem::CUnixFSClientConfig {
 public:
  CassandraCoordinatorClientConfig() = default;
  ~CassandraCoordinatorClientConfig() override = default;

  // The framework's arguments, then: the job-results path becomes this
  // client's job results directory / Ombrel id / application id; the flag
  // "log" marks a commit-log job; the extent settings come from the registry.
  CQiError parseArguments(CProgramArgumentsPtr arguments) override;

  // Copied from the instance record by the restore coordinators.
  std::string instanceAttribute;
  // The instance's CQL gateway.
  std::string gatewayHost;
  uint32_t gatewayCqlPort = 0;
  std::string gatewayUser;
  // Base64 of the decrypted gateway password; empty without a gateway user.
  std::string gatewayPassword;
  // The instance's JMX connection.
  std::string jmxHost;
  uint32_t jmxPort = 0;
  std::string jmxUser;
  // Base64 of the decrypted JMX password; set only with a JMX user.
  std::string jmxPassword;
  std::string jmxService;
  // The Java home as the restore coordinators store it.
  std::string restoreJavaHome;
  // From Priam's "clusterDetails".
  std::string clusterName;
  std::string javaHome;
  // The instance's stored node list (restore coordinators only).
  std::vector<App::CassandraNode> clusterNodes;
  // The job backs up commit logs, not data files.
  bool commitLogJob = false;
  std::string archiveDirectory;
  std::string archiveCommand;
  std::string cassandraConfigFile;
  // Id of the subclient's client.
  int64_t clientId = 0;
  bool extentBackup = false;
  uint64_t extentSize = 0;
  uint64_t largeFileThreshold = 0;
};
typedef boost::shared_ptr<CassandraCoordinatorClientConfig> CassandraCoordinatorClientConfigPtr;

// The job-wide coordinator of the "backup" phase of a Cassandra backup job.
class CassandraBackupCoordinator : public TQDC_FileSystem::CBackup {
 public:
  // Job event of a Priam request that failed or answered what cannot be read.
  static constexpr uint32_t kEvPriamRequestFailed = 0x60003D3;

  CassandraBackupCoordinator();
  ~CassandraBackupCoordinator() override;

  bool shouldDistributeSubclientDirectory() const override { return false; }
  // Makes the configuration on the first call; every call hands out that same
  // object and makes it the framework base's configuration.
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;
  // Keeps the job client and the job control client; the configuration and
  // the arguments are not used (the work starts in loadNodeConfiguration).
  CQiError initialize(DistributedQEL::CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override;
  // True only when the registry value nEnableGeoMediaAgentSupport is 1.
  bool supportsGeoMediaAgent() override;
  // Completion (CassandraBackupCoordinatorComplete.cc): decides the phase
  // status from the tasks, the flags and the quit flag; while the coordinator
  // holds its Priam writes the index views and stops that Priam; for a
  // completed phase stores the merged keyspace status on the subclient and
  // sets the reference time; asks the job manager for the post-operations
  // phase; marks a failed phase with its pending cause; then runs the
  // framework's end of the phase.
  CQiError OnComplete() override;
  // Nothing to do for Cassandra; both succeed.
  CQiError RenameDirchangeFiles() override;
  CQiError PreProcessFailedFiles(bool& flag) override;
  // Unfinished tasks alone do not fail the phase.
  bool shouldFailOnIncompleteTask() override { return false; }

  // Job start (CassandraBackupCoordinatorStart.cc): opens the job's
  // application objects, reads the last backup status and the instance's
  // settings, starts the coordinator's Priam, reads the cluster name,
  // discovers the cluster and registers the nodes to back up, reads the
  // mapping file of a restarted job and gives every node its range of
  // collect-file numbers.
  CQiError loadNodeConfiguration() override;

  // Node start-up (CassandraBackupCoordinatorTasks.cc).
  // Streams needed and worker limit: half of `tasksPerNode` once the job
  // start has set it (the share the node's collect-file range was sized by),
  // else the configured streams over the node count, rounded up; stream
  // limit: the node's CPU count (the share when 0).
  CQiError getStreamReservationInfoForNode(DistributedQEL::CNodeInfoPtr& node) override;
  // "-numstreams %d -t %d -d %s -collectFileStart %d" replaces `arguments`.
  CQiError getCommandArgumentsForNode(DistributedQEL::CNodeInfoPtr& node,
                                      std::string& arguments) override;
  // The collect-file request (CassandraCreateCollectFiles) until the node has
  // reported its collect files, an empty NodeInit afterwards.
  CQiError getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override;

  // Tasks. ControllerStarted makes the node's tasks from its collect-file
  // report; getTask hands them to the node's streams; OnTaskChange records
  // completions in the mapping file and moves failed tasks to another stream
  // of the node; OnIdle stops nodes whose work is done. Everything that reads
  // or changes tasks, or reads or writes the mapping file, holds the
  // coordinator lock.
  void ControllerStarted(DistributedQEL::CNodeInfoPtr& node,
                         DistributedQEL::ControllerStartup* report) override;
  void ControllerDone(DistributedQEL::CNodeInfoPtr& node,
                      DistributedQEL::ControllerDone* report) override;
  using DistributedQEL::ICoordinator::getTask;
  CQiError getTask(DistributedQEL::CNodeInfoPtr& node, DistributedQEL::CStreamInfoPtr& stream,
                   DistributedQEL::TaskInfoPtr& task) override;
  CQiError OnTaskChange(const DistributedQEL::TaskBasePtr& task,
                        DistributedQEL::TakeAction& action) override;
  CQiError OnNodeChange(const DistributedQEL::CNodeInfoPtr& node,
                        DistributedQEL::TakeAction& action) override;
  void OnIdle() override;

 protected:
  // One task per collect file of the node: the first `tasksPerNode` numbered
  // from `start`, the rest from nextTaskId. Notes them in the mapping file and
  // applies the restart entries and the mapping file of a restarted job.
  void createTasksForNode(DistributedQEL::CNodeInfoPtr& node, int count, int start);
  // Marks the task complete in the node's line of the mapping file.
  CQiError markTaskCompleteInMappingFile(std::string nodeName, int taskNumber);
  // The entry of `list` whose node has this node key; null when none.
  DistributedQEL::CassandraNodeKeyspace* findInstanceObjByInstance(
      std::vector<DistributedQEL::CassandraNodeKeyspace>* list, const std::string& nodeKey);
  // "CollectFileMapping_<job id>" in the job results directory.
  std::string mappingFilePath() const;

  // Raises the one major event of a failed Priam step and returns a copy of
  // `error`: 0x6000485 for access denied (Win32 5), else `eventId` with
  // `detail` as its argument (none when empty). A success raises nothing.
  CQiError handlePriamError(const CQiError& error, uint32_t eventId, const std::string& detail);

  // The coordinator's Priam start-up (CassandraBackupCoordinatorStart.cc),
  // both on the `priam` utility, which must exist: the property set is
  // written and the SSL options are appended to priamAdditionalParameters;
  // then the JVM options are handed to the utility when there are any.
  CQiError setAdditionalPriamValues();
  CQiError setAdditionalPriamParameters();

  // Cluster discovery, content choice and node registration
  // (CassandraBackupCoordinatorDiscovery.cc): asks Priam for the ring, maps
  // the node addresses to suite clients, rewrites the instance's stored node
  // list, chooses what the subclient protects and registers the selected
  // nodes with the framework. The error of an empty content carries event
  // 0x600046E and sets noBackupContent.
  CQiError loadBackupContent(unsigned long instanceId, unsigned long backupSetId);
  // The suite clients of the addresses (stored procedure 0x1E122479).
  CQiError getTQclientsForIPs(std::list<std::string> addresses,
                              std::vector<TqEntities::ClientEntity>& clients);
  // 0 and `out` set to the first client whose host name is the address; -1
  // when none is (`out` untouched).
  int getClientObj(const std::vector<TqEntities::ClientEntity>& clients, const std::string& address,
                   TqEntities::ClientEntity& out);
  // Whether a node of the list has a client of that name.
  bool isClientAdded(const std::vector<App::CassandraNode>* nodes, const std::string& clientName);
  // Whether a node of the list has that address.
  bool nodeInNodeInfo(const std::vector<App::CassandraNode>& nodes, const std::string& address);
  // The ring state of Priam's state text; an unknown text is logged as an
  // error and reads as Normal.
  App::CassandraNodeState getStatus(const std::string& state);

  // False once a Priam "getMeta" request has failed.
  bool metadataAvailable = true;
  // A node was skipped, failed to start or reported failed instances.
  bool nodeSkipped = false;
  bool noBackupContent = false;
  bool fullClusterBackup = false;
  // A commit-log job on an instance without commit-log backup.
  bool commitLogNotConfigured = false;
  // Several node addresses map to one client.
  bool dockerConfig = false;

  // Index metadata (CassandraBackupCoordinatorIndex.cc).
  // Writes the views "NodeMetaData" (each node's backup time) and "DBView"
  // (every backed-up keyspace and its tables, with the encrypted system key of
  // DSE-encrypted tables) for the job, then closes the job's index writing.
  // Nodes without a reported backup time first get theirs from the index.
  CQiError createCassandraMetadataInIndex();
  // Reads the backup times of the job's nodes that have none in
  // nodeBackupTime from the "NodeMetaData" view; a reported time is never
  // replaced.
  CQiError fetchLastBackupTimeFromIndex();
  // "system_key_directory" of dse.yaml (registry sCassandraDSEyamlFile,
  // default /etc/dse/dse.yaml); `directory` is cleared first and stays empty
  // when no line sets it.
  CQiError getCassandraSystemKeyDirectory(std::string& directory);
  // Whether some node key of nodeKeyspaces lists the keyspace.
  bool isKeyspaceBackedUp(const std::string& keyspace);
  // Next free task id after the per-node ranges.
  uint32_t nextTaskId = 0;
  uint32_t tasksPerNode = 0;
  // The instance's App::JMXConnection and App::AuthConfig as XML text.
  std::string jmxConfigXml;
  std::string authConfigXml;
  // JVM options of the coordinator's Priam.
  std::string priamAdditionalParameters;
  // Cached reply of Priam's "getMeta".
  CQiString metaJson;
  // Shared with the framework base.
  CassandraCoordinatorClientConfigPtr clientConfig;
  boost::shared_ptr<TqCassandra::PriamUtil> priam;
  boost::shared_ptr<CassandraInstance> instance;
  // Belongs to the application identifier that yields it.
  CassandraSubclient* subclient = nullptr;
  // Node keys backed up whole.
  std::list<std::string> fullNodeKeys;
  // Keyspace status XML texts received from the controllers.
  std::list<std::string> keyspaceStatusXmls;
  // Client id -> task status string from the mapping file of a restarted job.
  std::unordered_map<uint32_t, std::string> taskStatusByClient;
  // Node key -> keyspaces to back up; an empty list means the whole node.
  std::unordered_map<std::string, std::list<std::string>> nodeKeyspaces;
  // Node (instance) name -> its last backup status XML of the previous job.
  std::unordered_map<std::string, std::string> lastStatusXml;
  // Node name -> last backup time.
  std::unordered_map<std::string, int64_t> nodeBackupTime;
  // The job's application; it owns `subclient`.
  boost::shared_ptr<ApplicationId> application;

 private:
  // Steps of loadBackupContent over the working collections of one run.
  CQiError readRingStatus(ClusterDiscovery& run);
  CQiError readStoredNodes(unsigned long instanceId, App_ExecuteSP& executor,
                           ClusterDiscovery& run);
  void buildNodeRecords(ClusterDiscovery& run);
  CQiError writeStoredNodes(App_ExecuteSP& executor, ClusterDiscovery& run);
  CQiError defaultSubclientContent(unsigned long backupSetId, const ClusterDiscovery& run,
                                   std::vector<App::CassandraContent>& content);
  CQiError registerContentNodes(const std::vector<App::CassandraContent>& content,
                                ClusterDiscovery& run);
  // Skips (with its event) a node that no client hosts or whose services are
  // down; true when the node may be registered.
  bool acceptNode(const std::string& address, const ClusterDiscovery& run);
  // Registers the node's client with the framework and attaches the node
  // record to it; with `onceOnly` a record whose address is attached already
  // is not attached again.
  CQiError registerNode(const App::CassandraNode& record, bool onceOnly);
  // The agent instance name in docker mode, else the client's name.
  std::string nodeKey(const App::CassandraNode& record) const;
  // Priam request "getMeta" for the default subclient's content.
  CQiError readKeyspaceReplication(std::vector<std::pair<std::string, std::string>>& keyspaces);
};

}  // namespace TQCassandra
