#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "common/RestoreRecords.h"
#include "platform/base/QiString.h"
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

  // Events raised while a node finishes its restore.
  static constexpr uint32_t kEvChownFailed = 0x600048D;
  static constexpr uint32_t kEvTableReloadFailed = 0x6000472;
  static constexpr uint32_t kEvPriamAccessDenied = 0x6000485;
  // A node this restore stopped could not be started again (argument: the
  // target nodes, comma separated).
  static constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;
  // The file in a target's work folder that says this restore stopped the
  // node's Cassandra (it holds the node's configuration directory); gone
  // once Cassandra runs again.
  static constexpr const char* kStoppedRecordName = "CassandraStopped";
  // Events of the stage-free load.
  static constexpr uint32_t kEvMountDirDeleteFailed = 0x6000470;
  static constexpr uint32_t kEvUnmountFailed = 0x6000471;
  static constexpr uint32_t kEvMountFailed = 0x6000474;

  // Learns, with Recover, the keyspaces of the task's source paths (kept
  // under the target node they are restored to), then hands the task to the
  // framework; a task the framework accepts marks the node as having
  // received one.
  CQiError OnTask(DistributedQEL::TaskInfo* task, bool& flag) override;
  // Finishes the restore of every target node of this machine: ownership of
  // the restored files, then in place the bring-up and keyspace refresh, or
  // the sstableloader load of the staged directories; reports a failed
  // reload to the coordinator once, stops every Priam still running and
  // ends with the framework's own hook.
  void OnAgentStopped() override;

  // The " chown -R " command line giving `directory` to user:group, every
  // part quoted for the shell. Error 87 (and `command` left empty) for a
  // user or group that is empty, begins with "-", holds ":" or a control
  // character, and for a directory that is not absolute or holds a control
  // character.
  static CQiError MakeChownCommand(const std::string& user, const std::string& group,
                                   const std::string& directory, std::string& command);

 protected:
  // In-place bring-up of one target node: dead-node replacement or plain
  // start, by the node's source mapping.
  CQiError doCassandraLogic(const std::string& targetKey);

  // The restore result folder of this job on this machine (ends in "/").
  std::string restoreResultsDirectory();
  // Reads the restore result files of this job into target key -> parent
  // folders of the restored files (each once, in the order first seen).
  // False when the folder or one of its files could not be read (each
  // failure is logged and raised as a failed reload).
  bool collectStagedDirectories(std::map<std::string, std::list<std::string>>& loadSet);
  // The staged load: loads every folder the result files name through the
  // sstableloader of its node; sets reloadFailed on any failure.
  void loadStagedDirectories();
  // The target key owning the restored path of a result line, and the line
  // cut down to the path; "" (line unchanged) when no staging folder holds
  // the path.
  std::string getInstanceFromPath(std::string& line);
  // Loads one folder into the cluster through the node's Priam
  // ("ExecuteBatch"); removes it afterwards when asked.
  CQiError runSSTableLoader(const std::string& targetKey, CQiString& directory,
                            bool removeAfterLoad);

  // Ownership, then in place the bring-up, refresh and Priam stop, of one
  // target node (a step of OnAgentStopped).
  void finishTargetNode(const std::string& targetKey, const TQJobCtrlClientPtr& jobCtrl);
  // Sets a pending cause of the job through the restore job client, with
  // `argument` as its text when not empty.
  void raisePendingCause(uint32_t eventId, const std::string& argument = std::string());
  // Marks a reload that failed or could not run: raises the table reload
  // failure and sets reloadFailed.
  void markReloadFailed();
  // The target key of the node that a source node (as named in the backup's
  // paths) is restored to; the source name itself when no mapping names it.
  std::string targetKeyOfSource(const std::string& sourceName) const;
  // One JSON object of string members, in the order given, written by the
  // JSON library.
  static std::string JsonStringObject(
      const std::vector<std::pair<std::string, std::string>>& members);

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
  // The token rule applies to a mapping of these names (an in-place restore
  // of one node onto another: the target takes the source's tokens, and its
  // Cassandra is stopped and its data directories emptied unless the tokens
  // already match).
  virtual bool tokenRuleApplies(const std::string& sourceName, const std::string& targetName) const;
  // Stops every Priam of priamByTarget that still runs.
  void stopPriams();

  // Nodes stopped by this restore (CassandraRestoresControllerRestart.cc).
  // The record of a target's stop, in its work folder ("" without one).
  std::string stoppedRecordOf(const std::string& targetKey) const;
  // Notes, in memory and on disk, that the target's Cassandra is about to
  // be stopped.
  CQiError recordStopped(const std::string& targetKey, const std::string& configDirectory);
  // The target's Cassandra runs again.
  void forgetStopped(const std::string& targetKey);
  // Starts Cassandra again on every target still stopped by this restore
  // (its Priam first when that no longer runs); the nodes that cannot be
  // started are logged and named in one EV_NODE_NOT_RESTARTED event.
  void startStoppedTargets();
  // Notes in the job's result folder, before anything loads them, that what
  // the restore placed in the target's data directories is being loaded
  // (the next run after a kill then keeps those files); false when it could
  // not be noted.
  bool noteLoading(const std::string& targetKey);
  // Notes that the load noted last for the target was refused before it
  // loaded anything (the next run may then remove what was placed there).
  void noteNotLoaded(const std::string& targetKey);

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
  // Target key -> the target's work folder.
  std::unordered_map<std::string, std::string> workDirByTarget;
  // Target keys whose Cassandra this controller stopped and has not
  // started again.
  std::set<std::string> stoppedTargets;
  // Cassandra starts asked by this controller (a start loads every SSTable
  // in the node's folders).
  int startsAsked = 0;
};

}  // namespace TQCassandra
