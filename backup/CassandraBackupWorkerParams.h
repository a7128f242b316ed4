#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/multinode/MultiNodeBackupOpsWorkerParams.h"

// One Cassandra instance of the node, as the backup workers see it.
struct CassandraNodeInstanceParams {
  CassandraNodeInstanceParams() = default;
  CassandraNodeInstanceParams(const std::string& dataCenter, const std::string& rack,
                              const std::string& instanceName,
                              const std::vector<std::string>& dataDirectories,
                              const std::string& commitLogDirectory)
      : dataCenter(dataCenter),
        rack(rack),
        instanceName(instanceName),
        dataDirectories(dataDirectories),
        commitLogDirectory(commitLogDirectory) {}

  std::string dataCenter;
  std::string rack;
  std::string instanceName;
  std::vector<std::string> dataDirectories;
  // The directory that holds the instance's archived commit logs (the host
  // path when Cassandra runs in a container).
  std::string commitLogDirectory;
};

// The parameters of the backup workers of a Cassandra node: the framework's
// part, and the cluster and the node's instances.
class CassandraBackupWorkerParams : public MultiNodeBackupOps::MultiNodeBackupOpsWorkerParams {
 public:
  CassandraBackupWorkerParams() = default;
  ~CassandraBackupWorkerParams() override = default;

  // 1 when the job backs up commit logs.
  int32_t commitLogJob = 0;
  std::string clusterName;
  // One entry per Cassandra instance of the node.
  std::vector<CassandraNodeInstanceParams> instanceParams;
};
typedef boost::shared_ptr<CassandraBackupWorkerParams> CassandraBackupWorkerParamsPtr;
