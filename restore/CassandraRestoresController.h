#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "common/RestoreRecords.h"
#include "platform/base/QiString.h"
#include "platform/framework/FSRestoreController.h"

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
  // Releases the members in reverse order, Priam utilities included.
  ~CCassandraRestoreController() override;

  // Events of the stage-free load.
  static constexpr uint32_t kEvMountDirDeleteFailed = 0x6000470;
  static constexpr uint32_t kEvUnmountFailed = 0x6000471;
  static constexpr uint32_t kEvTableReloadFailed = 0x6000472;
  static constexpr uint32_t kEvMountFailed = 0x6000474;

 protected:
  // Stage-free load (CassandraRestoresControllerStageFree.cc): mounts the
  // coordinator's network share, loads every table of "ZelkRestoreParameters"
  // from it for each source prefix, unmounts it and removes the mount folder.
  // Fails only when the folder cannot be made or the mount fails.
  CQiError handleStageFreeRestore();
  // Loads one directory into Cassandra with sstableloader through the Priam
  // of `targetKey`; a failed load raises EV_TABLE_RELOAD_FAILED and sets
  // reloadFailed.
  CQiError runSSTableLoader(const std::string& targetKey, CQiString& directory,
                            bool removeAfterLoad);
  // Records a load that could not run: EV_TABLE_RELOAD_FAILED as the job's
  // pending cause and reloadFailed.
  void reportFailedLoad();

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
