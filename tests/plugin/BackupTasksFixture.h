#pragma once

// A backup coordinator driven directly through its node start-up and task
// operations: in-memory framework services, a job results directory of its
// own, and the members that job start would set opened to the tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "backup/CassandraNodeInfo.h"
#include "platform/TempDir.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/log/EventJournal.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace backuptest {

class CoordinatorProbe : public TQCassandra::CassandraBackupCoordinator {
 public:
  using CassandraBackupCoordinator::createTasksForNode;
  using CassandraBackupCoordinator::findInstanceObjByInstance;
  using CassandraBackupCoordinator::mappingFilePath;
  using CassandraBackupCoordinator::markTaskCompleteInMappingFile;

  using CassandraBackupCoordinator::authConfigXml;
  using CassandraBackupCoordinator::clientConfig;
  using CassandraBackupCoordinator::dockerConfig;
  using CassandraBackupCoordinator::fullClusterBackup;
  using CassandraBackupCoordinator::fullNodeKeys;
  using CassandraBackupCoordinator::jmxConfigXml;
  using CassandraBackupCoordinator::keyspaceStatusXmls;
  using CassandraBackupCoordinator::lastStatusXml;
  using CassandraBackupCoordinator::metadataAvailable;
  using CassandraBackupCoordinator::metaJson;
  using CassandraBackupCoordinator::nextTaskId;
  using CassandraBackupCoordinator::nodeBackupTime;
  using CassandraBackupCoordinator::nodeKeyspaces;
  using CassandraBackupCoordinator::nodeSkipped;
  using CassandraBackupCoordinator::priam;
  using CassandraBackupCoordinator::tasksPerNode;
  using CassandraBackupCoordinator::taskStatusByClient;
};

// A Cassandra node record of suite client `clientName`; `agentName`, when
// given, is its agent instance name (several nodes on one client).
inline App::CassandraNode CassandraNode(const std::string& clientName, const std::string& address,
                                        const std::string& agentName = "") {
  App::CassandraNode node;
  TqEntities::ClientEntity client;
  client.setClientName(clientName);
  node.setClient(client);
  node.setAddress(address);
  if (!agentName.empty()) node.setAgentInstanceName(agentName);
  return node;
}

inline DistributedQEL::ControllerStartup Startup(
    const std::vector<std::pair<std::string, std::string>>& values) {
  DistributedQEL::ControllerStartup report;
  std::vector<DistributedQEL::DINameValue> list;
  for (const auto& v : values) list.emplace_back(v.first, v.second);
  report.setValues(list);
  return report;
}

inline TQDC_FileSystem::CollectFileInfoPtr FileInfo(const DistributedQEL::TaskBasePtr& task) {
  return boost::dynamic_pointer_cast<TQDC_FileSystem::CollectFileInfo>(task->customInfo);
}

class BackupTasksFixture : public ::testing::Test {
 protected:
  static constexpr int64_t kJobId = 4711;

  void SetUp() override {
    ASSERT_FALSE(jobResults.path().empty());
    CEventJournal::Instance().Clear();
    TQJobCtrlClient::SetProcessQuitFlag(false);
    services.reset(new DistributedQEL::CInMemoryFrameworkServices());
    coordinator.setFrameworkServices(services);
    DistributedQEL::CClientConfigPtr config;
    ASSERT_FALSE(coordinator.getClientConfigObject(config).IsError());
    config->setJobId(kJobId);
    config->setJobResultsDirectory(jobResults.path());
    config->setNumberOfStreams(8);
    config->setBackupLevel(TQBkpLevel_Full);
    config->setMediaAgentName("ma1");
    jobClient.reset(new TQJobClient(kJobId));
    jobCtrlClient.reset(new TQJobCtrlClient(kJobId));
    CProgramArgumentsPtr arguments;
    ASSERT_FALSE(coordinator.initialize(config, arguments, jobClient, jobCtrlClient).IsError());
  }

  void TearDown() override { TQJobCtrlClient::SetProcessQuitFlag(false); }

  // Registers suite client `id`/`name` as a node of the job with its
  // Cassandra nodes (one on the client itself when none are given).
  DistributedQEL::CNodeInfoPtr AddNode(uint32_t id, const std::string& name,
                                       int collectFileStart = 0, int cpus = 0,
                                       std::vector<App::CassandraNode> nodes = {}) {
    services->registerClient(id, name, name + ".host", cpus);
    EXPECT_FALSE(coordinator.addNode(id).IsError());
    DistributedQEL::CNodeInfoPtr node = coordinator.findNodeInfoByNodeName(name);
    EXPECT_TRUE(node);
    if (!node) return node;
    TQCassandra::CassandraNodeInfoPtr info(new TQCassandra::CassandraNodeInfo());
    info->collectFileStart = collectFileStart;
    info->cassandraNodes =
        nodes.empty() ? std::vector<App::CassandraNode>{CassandraNode(name, "10.0.0.1")} : nodes;
    node->setCustomInfo(info);
    node->setState(DistributedQEL::NODE_RUNNING);
    return node;
  }

  static TQCassandra::CassandraNodeInfoPtr Info(const DistributedQEL::CNodeInfoPtr& node) {
    return TQCassandra::CassandraNodeInfo::Of(node);
  }

  // A stream of the node, known to the framework services.
  DistributedQEL::CStreamInfoPtr Stream(const std::string& nodeName, int number,
                                        int state = DistributedQEL::STREAM_RUNNING, int kind = 1) {
    DistributedQEL::CStreamInfoPtr stream(new DistributedQEL::CStreamInfo(nodeName, number, kind));
    stream->setState(state);
    services->addStream(stream);
    return stream;
  }

  // The node's second start-up report with its collect files.
  void ReportCollectFiles(DistributedQEL::CNodeInfoPtr& node, int count, int start) {
    DistributedQEL::ControllerStartup report = Startup(
        {{"CollectFileCount", std::to_string(count)}, {"CollectFileStart", std::to_string(start)}});
    coordinator.ControllerStarted(node, &report);
  }

  std::vector<int> TaskIds() const {
    std::vector<int> ids;
    for (const auto& t : coordinator.getTasks()) ids.push_back(t->taskId);
    return ids;
  }

  DistributedQEL::TaskBasePtr Task(int id) const {
    for (const auto& t : coordinator.getTasks()) {
      if (t->taskId == id) return t;
    }
    return DistributedQEL::TaskBasePtr();
  }

  std::string MappingPath() const {
    return jobResults.Sub("CollectFileMapping_" + std::to_string(kJobId));
  }

  TempDir jobResults;
  boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices> services;
  CoordinatorProbe coordinator;
  TQJobClientPtr jobClient;
  TQJobCtrlClientPtr jobCtrlClient;
};

}  // namespace backuptest
