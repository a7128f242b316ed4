#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "common/CleanupRecords.h"
#include "platform/framework/Coordinator.h"

class CassandraInstance;

namespace TQCassandra {

class CassandraCoordinatorClientConfig;

// The coordinator of the post-operations phase ("postop") of a backup job: it
// registers the clients that took part in the backup and has every one of
// them clean up its snapshots and backed-up incremental files. It makes no
// tasks and runs no Priam of its own.
class CassandraPostOpCleanup : public DistributedQEL::ICoordinator {
 public:
  // Asks the framework to start a controller on every registered node.
  CassandraPostOpCleanup();
  ~CassandraPostOpCleanup() override;

  bool isBackupJob() const override { return false; }
  bool shouldSkipThisPhase() const override { return false; }
  bool shouldExecCommand() const override { return false; }
  // Makes the phase's configuration on the first call and hands the same
  // object out on every call; the framework base does not hold it.
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;
  // Keeps the two job clients.
  CQiError initialize(DistributedQEL::CClientConfigPtr& config, CProgramArgumentsPtr& arguments,
                      TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) override;
  // Reads the instance (configuration file, Java home, JMX and
  // authentication settings) and its node list, and registers every client
  // of the job's collect file mapping file as a node.
  CQiError loadNodeConfiguration() override;
  std::string getNodeCommandName() override { return ""; }
  // The node start payload: "NodeConfig", "JMXConfig", "AuthConfig",
  // "taskStatus", "JobKill".
  CQiError getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                          FrameworkMessagePtr& message) override;
  CQiError OnTaskComplete(DistributedQEL::TaskBasePtr& task,
                          DistributedQEL::TaskComplete* complete) override;
  // Deletes this job's mapping file; other jobs' mapping files stay, since a
  // restarted job still needs its own.
  CQiError OnComplete() override;

  // The payload's "NodeConfig" entries for one client: one per node of
  // `nodes` on that client, named by the node's agent instance name when the
  // record has one (also an empty one), else by the client name; the Java
  // home and configuration location default to the instance's.
  static std::vector<DistributedQEL::CassandraPostOpParams> NodeParamsFor(
      const std::vector<App::CassandraNode>& nodes, const std::string& clientName,
      const std::string& defaultJavaHome, const std::string& defaultConfigFile);

 protected:
  // The path of this job's mapping file.
  std::string mappingFilePath() const;

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
