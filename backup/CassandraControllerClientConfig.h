#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"

namespace TQCassandra {

// One Cassandra instance of the node.
struct CassandraCtrlNodeProperties {
  // The node record as the coordinator's request carries it.
  App::CassandraNode node;
  // The instance's data directories, in order.
  std::vector<std::string> dataDirectories;
  // Host path of the commit-log backup directory when Cassandra runs in a
  // container.
  std::string commitLogArchiveHostPath;
};

// How the backup controller names an instance: the node record's agent
// instance name when that field is set, else the name of its client.
std::string GetInstanceName(const App::CassandraNode& node);

// The backup controller's configuration: the framework's node configuration
// and what the job's argument line and the coordinator's collect-file request
// add to it.
class CassandraControllerClientConfig
    : public MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfig {
 public:
  CassandraControllerClientConfig();
  ~CassandraControllerClientConfig() override;

  // The framework's arguments (the base's parse, whose error is returned),
  // then the snapshot name from "-j <job id>" and the commit-log flag "log".
  // Called by the controller itself once the agent has started.
  CQiError parseArguments(CProgramArgumentsPtr& arguments);

  std::string clusterName;
  // The node's Cassandra instances by instance name.
  std::map<std::string, CassandraCtrlNodeProperties> nodeProperties;
  // "<subclient id>TQsnapshot<job id>".
  std::string snapshotName;
  // Directory that receives archived commit logs, and the archive command.
  std::string commitLogBackupDir;
  std::string commitLogBackupCmd;
  // The first start-up report has been filled.
  bool startupSent = false;
  // The job backs up commit logs.
  bool commitLogJob = false;
  // Extent backup: on when the request names an extent size or a large-file
  // threshold.
  bool extentBackup = false;
  uint64_t extentSize = 0;
  uint64_t largeFileThreshold = 0;
};
typedef boost::shared_ptr<CassandraControllerClientConfig> CassandraControllerClientConfigPtr;

}  // namespace TQCassandra
