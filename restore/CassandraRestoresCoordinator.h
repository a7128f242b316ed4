#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/RestoreOptionRecords.h"
#include "common/RestoreSchemaRecords.h"
#include "platform/framework/Restore.h"

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
class CCassandraRestores : public virtual TQDC_FileSystem::CRestore {
 public:
  // `cleanupRestore` builds the framework base when this is the most-derived
  // class.
  explicit CCassandraRestores(bool cleanupRestore);
  // Releases the restore task record, the remote session and the file-server
  // client first, then the other members. The coordinator's Priam is never
  // stopped here.
  ~CCassandraRestores() override;

 protected:
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
};

}  // namespace TQCassandra
