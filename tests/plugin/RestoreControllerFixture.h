#pragma once

// The restore node controller on a node machine of its own: a client context
// ("host1", its job results folder), the scripted Priam, no Docker engine
// unless a test installs one, sleeps recorded instead of slept, Cassandra
// configuration folders made on demand, and the node start message built
// from mappings and table metadata.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/BackupRecords.h"
#include "common/RestoreRecords.h"
#include "platform/base/SleepRecorder.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/PlatformInfo.h"
#include "restore/CassandraRestoresController.h"
#include "support/DockerTestSupport.h"
#include "support/SimTestSupport.h"

namespace rctest {

namespace fs = std::filesystem;

constexpr int64_t kJob = 77;
const char* const kClient = "host1";

// The controller with its members open to the tests.
class Controller : public TQCassandra::CCassandraRestoreController {
 public:
  using CCassandraRestoreController::authConfigXml;
  using CCassandraRestoreController::cassandraFlavor;
  using CCassandraRestoreController::cassandraSleepTime;
  using CCassandraRestoreController::containerByTarget;
  using CCassandraRestoreController::dataDirBySource;
  using CCassandraRestoreController::dataDirsByTarget;
  using CCassandraRestoreController::destInstanceId;
  using CCassandraRestoreController::hostStagingPath;
  using CCassandraRestoreController::priamByTarget;
  using CCassandraRestoreController::recover;
  using CCassandraRestoreController::replaceDeadNode;
  using CCassandraRestoreController::rstJobClient;
  using CCassandraRestoreController::runDR;
  using CCassandraRestoreController::sourceInstanceId;
  using CCassandraRestoreController::stageFreeFinished;
  using CCassandraRestoreController::stageFreeRestore;
  using CCassandraRestoreController::stagePath;
  using CCassandraRestoreController::stagingBySource;
  using CCassandraRestoreController::tableMetadata;
  using CCassandraRestoreController::tablesByKeyspace;
  using CCassandraRestoreController::useSSTableLoader;
};

// The restore node arguments of a controller's line.
struct Arguments {
  int recover = 1;
  int loader = 0;
  int replaceDeadNode = 0;
  int runDR = 0;
  int stageFree = 0;
  std::string stagePath = "/stage/77";
  std::string sourceInstance = "5";
  std::string destInstance = "6";

  std::string Line() const {
    return "-j " + std::to_string(kJob) + " -CassInst " + sourceInstance + " -DestInstance " +
           destInstance + " -ReplaceDeadNode " + std::to_string(replaceDeadNode) +
           " -CrossInstance 0 -UseSSTableLaoder " + std::to_string(loader) + " -Recover " +
           std::to_string(recover) + " -runDR " + std::to_string(runDR) + " -stagePath " +
           CProgramArguments::Quote(stagePath) + " -StageFreeRestore " + std::to_string(stageFree);
  }
};

// A node record as the coordinator sends it.
inline App::CassandraNode Node(const std::string& clientName, int64_t clientId,
                               const std::string& configField, const std::string& dataField,
                               const std::string& tokens = "",
                               const std::optional<std::string>& agentInstance = std::nullopt) {
  App::CassandraNode node;
  TqEntities::ClientEntity client;
  client.setClientId(clientId);
  client.setClientName(clientName);
  node.setClient(client);
  node.setConfigDirectory(configField);
  node.setDataDirectories(dataField);
  node.setTokens(tokens);
  if (agentInstance) node.setAgentInstanceName(*agentInstance);
  return node;
}

inline DistributedQEL::CassandraSourceTargetMapping Mapping(const App::CassandraNode& source,
                                                            const App::CassandraNode& target) {
  DistributedQEL::CassandraSourceTargetMapping mapping;
  mapping.setSource(source);
  mapping.setTarget(target);
  return mapping;
}

// "TableMetadata": keyspace ks1 with t1 (id 0a1b) and t2 (id 0c2d), ks2
// without tables, and the given connection properties.
inline DistributedQEL::CassandraCreateCollectFiles TableMetadata(
    const std::vector<std::pair<std::string, std::string>>& properties) {
  DistributedQEL::CassandraTable t1, t2;
  t1.setTableName("t1");
  t1.setTableId("0a1b");
  t2.setTableName("t2");
  t2.setTableId("0c2d");
  DistributedQEL::CassandraKeyspace ks1, ks2;
  ks1.setKeyspaceName("ks1");
  ks1.setTables({t1, t2});
  ks2.setKeyspaceName("ks2");
  DistributedQEL::CassandraNodeKeyspace node;
  node.setKeyspaces({ks1, ks2});
  DistributedQEL::CassandraCreateCollectFiles record;
  record.setNodeKeyspaces({node});
  std::vector<DistributedQEL::DINameValue> options;
  for (const auto& p : properties) options.emplace_back(p.first, p.second);
  record.setOptions(options);
  return record;
}

inline std::string Xml(const CNMessageBase& record) {
  std::string xml;
  EXPECT_EQ(record.serialize(xml), 0);
  return xml;
}

class RestoreControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRegistry::Instance().Set("Base", "dBASEHOME", dir_.Sub("base"));
    CRegistry::Instance().Set("Cassandra", "nCassandraSleepTime", "3");
    CEventJournal::Instance().Clear();
    jobResults_ = dir_.Sub("jr");
    fs::create_directories(jobResults_);
    SClientIdentity identity;
    identity.clientName = kClient;
    identity.clientId = 3;
    identity.hostName = "host1.example";
    identity.jobResultsDirectory = jobResults_;
    context_.reset(new CClientContextScope(identity));
    priam_ = std::make_shared<TqCassandra::ScriptedPriam>();
    transport_.reset(new TqCassandra::ScopedPriamTransportFactory(priam_->Factory()));
    docker_.reset(new dockertest::ScopedDockerStandIn(std::nullopt));
  }

  void TearDown() override {
    controller_.reset();
    transport_.reset();
    docker_.reset();
    context_.reset();
    for (const char* name : kRegistryValues) CRegistry::Instance().Remove("Cassandra", name);
    CRegistry::Instance().Remove("Base", "dBASEHOME");
  }

  static constexpr const char* kRegistryValues[] = {
      "nCassandraSleepTime",     "nUseSSTableLoader",       "sCassSystemKeyFilePath",
      "sCassKeystorePassword",   "sCassTrustStorePassword", "nCassandraCqlSslDisabled",
      "nCassandraJmxSslDisabled"};

  // A fresh script for the Priams made from now on (the earlier factory goes
  // first, so that it does not put the real transport back).
  void Rescript() {
    controller_.reset();
    transport_.reset();
    priam_ = std::make_shared<TqCassandra::ScriptedPriam>();
    transport_.reset(new TqCassandra::ScopedPriamTransportFactory(priam_->Factory()));
  }

  // A Cassandra configuration folder: cassandra.yaml (or scylla.yaml) with
  // its data directories and CQL endpoint, cassandra-env.sh with the JMX port.
  std::string ConfDir(const std::string& name, const std::vector<std::string>& dataDirs,
                      const std::string& jmxPort = "7199", const std::string& cqlPort = "9042",
                      const std::string& file = "cassandra.yaml") {
    const std::string dir = dir_.Sub(name);
    fs::create_directories(dir);
    std::ofstream yaml(dir + "/" + file);
    yaml << "cluster_name: 'c1'\n";
    if (!dataDirs.empty()) {
      yaml << "data_file_directories:\n";
      for (const auto& d : dataDirs) yaml << "  - " << d << "\n";
    }
    if (!cqlPort.empty())
      yaml << "rpc_address: 10.0.0.1\nnative_transport_port: " << cqlPort << "\n";
    std::ofstream env(dir + "/cassandra-env.sh");
    if (!jmxPort.empty()) env << "JMX_PORT=\"" << jmxPort << "\"\n";
    return dir;
  }

  // A data directory with a file in it.
  std::string DataDir(const std::string& name) {
    const std::string dir = dir_.Sub(name);
    fs::create_directories(dir + "/ks1/t1-0a1b");
    std::ofstream(dir + "/ks1/t1-0a1b/mc-1-big-Data.db") << "data";
    return dir;
  }

  // The node start message.
  static DistributedQEL::NodeInit Payload(
      const std::vector<DistributedQEL::CassandraSourceTargetMapping>& mappings,
      const std::optional<DistributedQEL::CassandraCreateCollectFiles>& metadata) {
    std::vector<DistributedQEL::DINameValue> values;
    values.emplace_back("MasterNodeName", "cluster1");
    values.emplace_back("DistributedQELStateFile", "/jr/DistributedQELState_77.tqf");
    DistributedQEL::CassandraSourceTargetMappingList list;
    list.setMappings(mappings);
    values.emplace_back("SourceTargetMappingList", Xml(list));
    if (metadata) values.emplace_back("TableMetadata", Xml(*metadata));
    DistributedQEL::NodeInit init;
    init.setValues(values);
    return init;
  }

  // A new controller with the argument line.
  Controller& Make(const Arguments& arguments) {
    controller_.reset(new Controller());
    CProgramArgumentsPtr parsed;
    EXPECT_FALSE(CProgramArguments::Parse(arguments.Line(), parsed).IsError());
    controller_->setProgramArguments(parsed);
    return *controller_;
  }

  CQiError Init(const Arguments& arguments, const DistributedQEL::NodeInit& init) {
    Controller& controller = Make(arguments);
    DistributedQEL::NodeInit copy = init;
    return controller.processNodeInit(&copy);
  }

  // The restore results folder of the job on this machine.
  std::string ResultsDir() const {
    return jobResults_ + "/TQ_JobResults/2/0/" + std::to_string(kJob) + "/";
  }

  // The scripted Priam session whose configuration location is `conf`.
  std::vector<TqCassandra::ScriptedPriam::Session> SessionsOf(const std::string& conf) const {
    std::vector<TqCassandra::ScriptedPriam::Session> found;
    for (const auto& s : priam_->Sessions()) {
      if (s.context.confLocation == conf) found.push_back(s);
    }
    return found;
  }

  simtest::TempDir dir_;
  std::string jobResults_;
  std::unique_ptr<CClientContextScope> context_;
  std::shared_ptr<TqCassandra::ScriptedPriam> priam_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> transport_;
  std::unique_ptr<dockertest::ScopedDockerStandIn> docker_;
  CSleepRecorder sleeps_;
  std::unique_ptr<Controller> controller_;
};

}  // namespace rctest
