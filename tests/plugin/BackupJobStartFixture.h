#pragma once

// The backup coordinator's job start against a suite of its own (clients,
// instance and subclients registered in a per-test suite home), in-memory
// framework services, and either the Priam stand-in over a generated cluster
// or a scripted Priam.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SuiteFixture.h"
#include "backup/CassandraBackupCoordinator.h"
#include "backup/CassandraNodeInfo.h"
#include "common/CassandraNodeRecords.h"
#include "platform/app/App_ExecuteSP.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/SuiteStore.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"

namespace jobstart {

constexpr uint32_t kEvPriamRequestFailed = 0x60003D3;
constexpr uint32_t kEvPriamStartFailed = 0x60003D4;
constexpr uint32_t kEvNodeSkipped = 0x60003DB;
constexpr uint32_t kEvNoBackupContent = 0x600046E;
constexpr uint32_t kEvCommitLogNotConfigured = 0x600046C;
constexpr uint32_t kClusterInstanceProcedure = 0x1E4FDD52;
constexpr int64_t kJobId = 4242;

// Content rows: only the cluster name (the whole cluster), or a keyspace
// and a data centre ("" leaves the field out).
inline SContentRow WholeCluster() {
  SContentRow row;
  row.clusterName = "TestCluster";
  return row;
}
inline SContentRow Row(const std::string& keyspace, const std::string& dataCenter) {
  SContentRow row;
  if (!keyspace.empty()) row.keyspaceName = keyspace;
  if (!dataCenter.empty()) row.dataCenter = dataCenter;
  return row;
}

// Opens the coordinator's job state to the tests.
class CoordinatorProbe : public TQCassandra::CassandraBackupCoordinator {
 public:
  using CassandraBackupCoordinator::commitLogNotConfigured;
  using CassandraBackupCoordinator::dockerConfig;
  using CassandraBackupCoordinator::fullClusterBackup;
  using CassandraBackupCoordinator::fullNodeKeys;
  using CassandraBackupCoordinator::getStatus;
  using CassandraBackupCoordinator::lastStatusXml;
  using CassandraBackupCoordinator::nextTaskId;
  using CassandraBackupCoordinator::noBackupContent;
  using CassandraBackupCoordinator::nodeKeyspaces;
  using CassandraBackupCoordinator::nodeSkipped;
  using CassandraBackupCoordinator::priam;
  using CassandraBackupCoordinator::priamAdditionalParameters;
  using CassandraBackupCoordinator::tasksPerNode;
  using CassandraBackupCoordinator::taskStatusByClient;
  const TQCassandra::CassandraCoordinatorClientConfigPtr& config() const { return clientConfig; }
};

// One registered node of a framework node record, as the tests look at it.
struct RegisteredNode {
  std::string clientName;
  uint32_t clientId = 0;
  int collectFileStart = 0;
  std::vector<std::string> addresses;  // of the attached node records
};

class JobStartTest : public plugintest::SuiteTest {
 protected:
  void SetUp() override {
    SetUpSuite(true);
    ActAsClient("coordinator1", 1);
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
  }

  void TearDown() override {
    coordinator_.reset();
    TearDownSuite();
  }

  // ---- the outside world ----

  void Generate(const TqSim::FixtureOptions& options) {
    simtest::GenerateCluster(home_.Sub("cluster"), options, cluster_);
  }
  static TqSim::FixtureOptions Options(int nodes, int dataCenters = 1, int keyspaces = 2) {
    return simtest::SmallClusterOptions(nodes, dataCenters, keyspaces);
  }

  // Changes the simulated ring.
  template <typename F>
  void EditCluster(F edit) {
    simtest::EditClusterFile(cluster_.clusterFile, edit);
  }

  // Answers every Priam request from a script instead of the stand-in.
  TqCassandra::ScriptedPriam& Scripted() {
    if (!scripted_) {
      UseScriptedPriam().SetReply("clusterDetails",
                                  R"({"ClusterName":"Scripted","Version":"4.0.1"})");
    }
    return *priamScript_;
  }
  // A Cassandra configuration directory for scripted runs.
  std::string ScriptedConf() {
    std::string dir = home_.Sub("scripted-conf");
    simtest::WriteFile(dir + "/cassandra.yaml", "cluster_name: Scripted\nrpc_address: 10.0.1.1\n");
    return dir;
  }
  // A status reply row.
  static std::string StatusRow(const std::string& address, const std::string& dataCenter,
                               const std::string& status = "Up",
                               const std::string& state = "Normal") {
    return simtest::StatusRowJson(address, dataCenter, status, state);
  }

  // ---- the suite ----

  // A client in the suite and in the framework.
  uint64_t Client(const std::string& name, const std::vector<std::string>& addresses) {
    uint64_t id = 0;
    CQiError e = registration_.registerClient(name, name + ".sim", addresses, id);
    EXPECT_FALSE(e.IsError()) << e.AsString(2);
    services_->registerClient(static_cast<uint32_t>(id), name, name + ".sim");
    clientIds_[name] = id;
    return id;
  }
  // One client per generated node, named after the node.
  void NodeClients() {
    for (const auto& node : cluster_.nodes) Client(node.name, {node.address});
  }

  // The instance over the generated cluster: the instance names the first
  // node's configuration file; the stored nodes their own directories.
  SInstanceSettings ClusterInstance() {
    if (clientIds_.count("cluster1") == 0) Client("cluster1", {});
    SInstanceSettings settings;
    settings.name = "cassandra1";
    settings.clientId = clientIds_["cluster1"];
    settings.cassandraConfigFile = cluster_.nodes.empty()
                                       ? ScriptedConf() + "/cassandra.yaml"
                                       : cluster_.nodes.front().confDir + "/cassandra.yaml";
    settings.javaHome = "/usr/lib/jvm/java-11";
    settings.gatewayHost = cluster_.nodes.empty() ? "10.0.1.1" : cluster_.nodes.front().address;
    for (const auto& node : cluster_.nodes) {
      SNodeSettings stored;
      stored.address = node.address;
      stored.configDirectory = node.confDir;
      stored.dataDirectories = node.dataDirs.empty() ? "" : node.dataDirs.front();
      settings.nodes.push_back(stored);
    }
    return settings;
  }
  uint64_t Instance(const SInstanceSettings& settings) {
    uint64_t id = 0;
    CQiError e = registration_.registerInstance(settings, id);
    EXPECT_FALSE(e.IsError()) << e.AsString(2);
    instanceId_ = id;
    return id;
  }
  uint64_t Subclient(const std::vector<SContentRow>& content, int maxStreams = 8,
                     bool isDefault = false, const std::string& name = "") {
    SSubclientSettings settings;
    settings.name = name.empty() ? "sc" + std::to_string(++subclients_) : name;
    settings.instanceId = instanceId_;
    settings.isDefault = isDefault;
    settings.maxStreams = maxStreams;
    settings.content = content;
    uint64_t id = 0;
    CQiError e = registration_.registerSubclient(settings, id);
    EXPECT_FALSE(e.IsError()) << e.AsString(2);
    return id;
  }
  // ---- the coordinator ----

  // A new coordinator for the subclient's job, configured as the framework
  // does it.
  CoordinatorProbe& Coordinator(uint64_t subclientId, const std::string& flags = "") {
    coordinator_.reset(new CoordinatorProbe());
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(coordinator_->getClientConfigObject(config).IsError());
    CProgramArgumentsPtr arguments;
    std::string line = "-ombrel 2 -appid " + std::to_string(subclientId) + " -j " +
                       std::to_string(kJobId) + " -jr " + JobResults() + " " + flags;
    EXPECT_FALSE(CProgramArguments::Parse(line, arguments).IsError());
    EXPECT_FALSE(config->parseArguments(arguments).IsError());
    EXPECT_FALSE(coordinator_
                     ->initialize(config, arguments, TQJobClientPtr(new TQJobClient(kJobId)),
                                  TQJobCtrlClientPtr(new TQJobCtrlClient(kJobId)))
                     .IsError());
    coordinator_->setFrameworkServices(services_);
    return *coordinator_;
  }
  std::string JobResults() const { return home_.Sub("jr"); }
  std::string MappingFile() const {
    return JobResults() + "/CollectFileMapping_" + std::to_string(kJobId);
  }

  // The framework's nodes in list order with what the coordinator attached.
  std::vector<RegisteredNode> Registered() const {
    std::vector<RegisteredNode> out;
    for (const auto& node : coordinator_->getNodes()) {
      RegisteredNode r;
      r.clientName = node->getClientName();
      r.clientId = node->getClientID();
      auto info = TQCassandra::CassandraNodeInfo::Of(node);
      if (info) {
        r.collectFileStart = info->collectFileStart;
        for (const auto& n : info->cassandraNodes) r.addresses.push_back(n.getAddress());
      }
      out.push_back(r);
    }
    return out;
  }
  std::vector<std::string> RegisteredNames() const {
    std::vector<std::string> names;
    for (const auto& r : Registered()) names.push_back(r.clientName);
    return names;
  }

  // The instance's stored node list as the central server now holds it.
  std::vector<App::CassandraNode> StoredNodes() const {
    TqEntities::InstanceEntity entity;
    entity.setInstanceId(static_cast<int64_t>(instanceId_));
    App::ClusterInstanceInfo info;
    info.setInstance(entity);
    info.setOperation(1);
    info.setClusterType(9);
    App::DistributedClusterInstanceReq request;
    request.setInstanceInfo(info);
    std::string xml, reply;
    EXPECT_EQ(request.serialize(xml), 0);
    App_ExecuteSP executor;
    EXPECT_EQ(executor.executeStoredProcedure(kClusterInstanceProcedure, xml, reply), 0)
        << executor.getErrorString();
    App::DistributedClusterInstanceResp response;
    EXPECT_EQ(response.unserialize(reply), 0);
    auto received = response.getInstanceInfo();
    if (!received || !received->getClusterConfig() ||
        !received->getClusterConfig()->getCassandraConfig()) {
      ADD_FAILURE() << "no node list in " << reply;
      return {};
    }
    return received->getClusterConfig()->getCassandraConfig()->getNodes();
  }

  // Events of one id: their argument lists.
  static std::vector<std::vector<std::string>> Events(uint32_t id) {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : CEventJournal::Instance().Find(id)) out.push_back(e.args);
    return out;
  }

  CSuiteRegistration registration_{CSuiteStore(home_.Sub("central"))};
  boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices> services_;
  std::unique_ptr<CoordinatorProbe> coordinator_;
  TqSim::FixtureResult cluster_;
  std::map<std::string, uint64_t> clientIds_;
  uint64_t instanceId_ = 0;
  int subclients_ = 0;
};

}  // namespace jobstart
