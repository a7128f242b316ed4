#pragma once

#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/framework/Coordinator.h"

class CassandraInstance;

namespace TQCassandra {

class CassandraCoordinatorClientConfig;

// The coordinator of the post-operations phase ("postop") of a backup job: it
// registers the clients that took part in the backup and has every one of
// them clean up its snapshots and backed-up incremental files.
class CassandraPostOpCleanup : public DistributedQEL::ICoordinator {
 public:
  // Asks the framework to start a controller on every registered node.
  CassandraPostOpCleanup();
  ~CassandraPostOpCleanup() override;

 protected:
  // Kept from initialize.
  TQJobClientPtr jobClient;
  // Its quit flag decides "JobKill".
  TQJobCtrlClientPtr jobCtrlClient;
  // The phase's own configuration; not stored in the framework base.
  boost::shared_ptr<CassandraCoordinatorClientConfig> clientConfig;
  boost::shared_ptr<CassandraInstance> instance;
  // The instance's Cassandra nodes, in the central server's order.
  std::vector<App::CassandraNode> nodes;
  // The instance's App::JMXConnection and App::AuthConfig as XML text.
  std::string jmxConfig;
  std::string authConfig;
};

}  // namespace TQCassandra
