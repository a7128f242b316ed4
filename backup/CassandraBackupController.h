#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/BackupRecords.h"
#include "platform/framework/MultiNodeBackupOpsController.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

class CassandraControllerClientConfig;

// The node side of the "backup" phase: one controller serves every Cassandra
// instance on its machine. Maps keyed by instance name (the node record's
// agent instance name when set, else its client name).
class CassandraBackupController : public MultiNodeBackupOps::MultiNodeBackupOpsController {
 public:
  CassandraBackupController();
  // Releases the members; the Priams are stopped by OnAgentStopped, not here.
  ~CassandraBackupController() override;

 protected:
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
  bool legacyTableDirs = false;
};

}  // namespace TQCassandra
