#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "common/RestoreRecords.h"
#include "platform/framework/FSRestoreController.h"
#include "platform/msg/NMessageBase.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The node controller of a restore job phase: one serves every target node on
// its machine. Per-target members are keyed by the target key (the target
// node's agent instance name when set, else this machine's client name);
// the maps handed to the restore worker by the source node's name.
class CCassandraRestoreController : public TQDC_FileSystem::CFSRestoreController {
 public:
  CCassandraRestoreController();
  // Stops every Priam this controller started that still runs, then
  // releases the members in reverse order.
  ~CCassandraRestoreController() override;

  // Set-up (CassandraRestoresController.cc): the restore node arguments of
  // the argument line, every option required.
  CQiError ParseArgs();
  // The base's start, the restore job client, and in a stage-free restore
  // the load from the network share.
  CQiError OnControllerStarted() override;
  // One new CCassandraRestoreWorker per call.
  CQiError GetRestoreWorker(DistributedQEL::IRestoreWorkerPtr& worker) override;
  // 0 in a stage-free restore, else the base's.
  int getNumberOfWorkers() override;
  // In a stage-free restore: only once asked to stop and the load ended.
  bool isControllerDone() override;
  // The stage-free load from the network share.
  virtual CQiError handleStageFreeRestore();

  // Target preparation (CassandraRestoresControllerSetup.cc,
  // ...ControllerTargets.cc): the node start payload, then every mapping.
  CQiError processNodeInit(CNMessageBase* message) override;
  // Whether the node of `configDirectory` runs in a Docker container; if so
  // its container and the host path of the staging path are kept under
  // `targetKey`.
  CQiError checkIfCassandraInDocker(const std::string& targetKey,
                                    const std::string& configDirectory, bool& inDocker);

  // Tokens and Cassandra restart (CassandraRestoresControllerTokens.cc).
  CQiError CompareAndReplaceTokens(const std::string& targetKey, const std::string& configDirectory,
                                   const std::string& tokens);
  CQiError StopCassandra(const std::string& targetKey);
  CQiError StartCassandra(const std::string& targetKey);
  CQiError CleanUpDataDir(const std::string& targetKey);

 protected:
  // What the node start payload sets for every target's Priam.
  struct TargetPriamSettings {
    std::map<std::string, std::string> properties;
    std::string cqlHostFallback;
    std::string cqlPortFallback;
    std::string jvmOptions;
    bool cqlSslDisabled = false;
    bool jmxSslDisabled = false;
  };
  // "TableMetadata": tables, connection properties, registry overrides, SSL.
  CQiError applyTableMetadata(TargetPriamSettings& settings);
  // Refuses a target that the token rule would give the tokens of more than
  // one source node.
  CQiError checkTokenTargets(
      const std::vector<DistributedQEL::CassandraSourceTargetMapping>& mappings) const;
  // Sets up the target of one mapping (work folder, Priam, data directories,
  // Docker staging) and applies the token rule.
  CQiError setUpMapping(const DistributedQEL::CassandraSourceTargetMapping& mapping,
                        const std::string& resultsDirectory, const std::string& baseDirectory,
                        TargetPriamSettings& settings);
  // The target key of a target node: its agent instance name when set and
  // not empty, else this machine's client name.
  static std::string TargetKeyOf(const App::CassandraNode& target);
  // A source node's name (and a target's for the token rule): its agent
  // instance name when set, else its client name.
  static std::string NodeNameOf(const App::CassandraNode& node);
  // The token rule applies to a mapping of these names.
  bool tokenRuleApplies(const std::string& sourceName, const std::string& targetName) const;
  // Stops every Priam of priamByTarget that still runs.
  void stopPriams();

  // Restore node arguments.
  bool replaceDeadNode = false;
  bool recover = false;
  bool useSSTableLoader = false;
  uint64_t destInstanceId = 0;
  uint64_t sourceInstanceId = 0;
  std::string stagePath;
  // Target key -> staging directory as seen from the host.
  std::unordered_map<std::string, std::string> hostStagingPath;
  boost::shared_ptr<App::CassandraNode> sourceNode;
  boost::shared_ptr<App::CassandraNode> targetNode;
  std::unordered_map<std::string, boost::shared_ptr<TqCassandra::PriamUtil>> priamByTarget;
  // Instance name -> keyspaces seen in restore tasks.
  std::unordered_map<std::string, std::list<std::string>> keyspacesByInstance;
  boost::shared_ptr<TQRstJobClient> rstJobClient;
  // The "TableMetadata" entry of the node start payload.
  boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles> tableMetadata;
  bool runDR = false;
  // Seconds to pause after a Priam stop or start (nCassandraSleepTime).
  uint64_t cassandraSleepTime = 10;
  // Keyspace name -> its table names, from "TableMetadata".
  std::map<std::string, std::set<std::string>> tablesByKeyspace;
  // A restore task was accepted.
  bool taskReceived = false;
  // Target key -> Cassandra data directories, in order.
  std::unordered_map<std::string, std::list<std::string>> dataDirsByTarget;
  // A keyspace refresh or sstableloader load failed.
  bool reloadFailed = false;
  bool stageFreeRestore = false;
  bool stageFreeFinished = false;
  // The "ZelkRestoreParameters" entry.
  boost::shared_ptr<DistributedQEL::CassandraZelkRestoreOptions> zelkOptions;
  // Cassandra flavour reported by the Priam utility; default owner of restored
  // files.
  std::string cassandraFlavor;
  // App::AuthConfig XML of the "authConfig" connection property.
  std::string authConfigXml;
  // The "SourceTargetMappingList" entry.
  boost::shared_ptr<DistributedQEL::CassandraSourceTargetMappingList> sourceTargetMappings;
  // Source name -> first data directory of its target (for the worker).
  std::unordered_map<std::string, std::string> dataDirBySource;
  // Source name -> host staging path of its target (for the worker).
  std::unordered_map<std::string, std::string> stagingBySource;
  // Target key -> Docker container that runs the node.
  std::unordered_map<std::string, std::string> containerByTarget;
};

}  // namespace TQCassandra
