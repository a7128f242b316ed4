// The post-operations coordinator: the instance and its nodes, the access
// nodes of the mapping file, the node start payload and the end of the
// phase.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "cleanup/CassandraPostOpCleanup.h"
#include "common/CleanupRecords.h"
#include "platform/app/App_ExecuteSP.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using TQCassandra::CassandraPostOpCleanup;
using Payload = std::vector<std::pair<std::string, std::string>>;

constexpr uint32_t kClusterInstanceProcedure = 0x1E4FDD52;
constexpr int64_t kJobId = 345;

class Probe : public CassandraPostOpCleanup {
 public:
  using CassandraPostOpCleanup::authConfig;
  using CassandraPostOpCleanup::clientConfig;
  using CassandraPostOpCleanup::jmxConfig;
  using CassandraPostOpCleanup::nodes;
};

// A node record as the central server keeps it.
App::CassandraNode Node(const std::string& client, const std::string& address,
                        const char* agentName = nullptr, const std::string& javaHome = "",
                        const std::string& configDirectory = "") {
  App::CassandraNode node;
  TqEntities::ClientEntity entity;
  entity.setClientName(client);
  node.setClient(entity);
  node.setAddress(address);
  if (agentName != nullptr) node.setAgentInstanceName(agentName);
  if (!javaHome.empty()) node.setJavaHome(javaHome);
  if (!configDirectory.empty()) node.setConfigDirectory(configDirectory);
  return node;
}

std::string ReplyWith(const std::vector<App::CassandraNode>& nodes) {
  App::CassandraConfig cassandra;
  cassandra.setNodes(nodes);
  App::DistributedClusterConfig cluster;
  cluster.setCassandraConfig(cassandra);
  App::ClusterInstanceInfo info;
  info.setClusterConfig(cluster);
  App::DistributedClusterInstanceResp response;
  response.setInstanceInfo(info);
  std::string xml;
  EXPECT_EQ(response.serialize(xml), 0);
  return xml;
}

class CleanupCoordinatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    App_ExecuteSP::ClearFailures();
    App_ExecuteSP::ClearCalls();
    SClientIdentity identity;
    identity.clientName = "coordinator1";
    identity.clientId = 1;
    identity.jobResultsDirectory = home_.Sub("coordinator1/JobResults");
    scope_.reset(new CClientContextScope(identity));
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    fs::create_directories(JobResults());
    for (const char* name : {"host1", "host2", "host3", "cluster1"}) Client(name);
  }
  void TearDown() override {
    coordinator_.reset();
    scope_.reset();
    App_ExecuteSP::ClearFailures();
    App_ExecuteSP::ClearCalls();
    CRegistry::Instance().Remove("Cassandra", "sCassandraiConfigFilePath");
    CClientDirectory::Instance().Clear();
    CClientContext::SetSuiteHome("");
  }

  void Client(const std::string& name) {
    uint64_t id = 0;
    ASSERT_FALSE(registration_.registerClient(name, name + ".sim", {}, id).IsError());
    services_->registerClient(static_cast<uint32_t>(id), name, name + ".sim");
    ids_[name] = static_cast<uint32_t>(id);
  }

  // An instance with its configuration file, Java home and, when asked, JMX
  // and SSL settings, and subclient 12 of it.
  void Register(const std::string& configFile = "/etc/cassandra/cassandra.yaml",
                bool withSecurity = true) {
    SInstanceSettings instance;
    instance.name = "cassandra1";
    instance.clientId = ids_["cluster1"];
    instance.cassandraConfigFile = configFile;
    instance.javaHome = "/usr/lib/jvm/java-11";
    if (withSecurity) {
      SJmxSettings jmx;
      jmx.host = "jmx.example";
      jmx.port = 7199;
      instance.jmx = jmx;
      SSslSettings ssl;
      ssl.enabled = true;
      ssl.keystorePath = "/ks";
      ssl.truststorePath = "/ts";
      instance.ssl = ssl;
    }
    uint64_t instanceId = 0;
    ASSERT_FALSE(registration_.registerInstance(instance, instanceId).IsError());
    SSubclientSettings subclient;
    subclient.id = 12;
    subclient.name = "sc12";
    subclient.instanceId = instanceId;
    uint64_t subclientId = 0;
    ASSERT_FALSE(registration_.registerSubclient(subclient, subclientId).IsError());
  }

  Probe& Coordinator(TQJobCtrlClientPtr control = TQJobCtrlClientPtr(new TQJobCtrlClient(kJobId))) {
    coordinator_.reset(new Probe());
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(coordinator_->getClientConfigObject(config).IsError());
    CProgramArgumentsPtr arguments;
    const std::string line =
        "-ombrel 2 -appid 12 -j " + std::to_string(kJobId) + " -jr " + JobResults();
    EXPECT_FALSE(CProgramArguments::Parse(line, arguments).IsError());
    EXPECT_FALSE(config->parseArguments(arguments).IsError());
    EXPECT_FALSE(
        coordinator_
            ->initialize(config, arguments, TQJobClientPtr(new TQJobClient(kJobId)), control)
            .IsError());
    coordinator_->setFrameworkServices(services_);
    return *coordinator_;
  }

  std::string JobResults() const { return home_.Sub("jr"); }
  std::string MappingFile(int64_t job = kJobId) const {
    return JobResults() + "/CollectFileMapping_" + std::to_string(job);
  }

  Payload PayloadFor(const std::string& client) {
    DistributedQEL::CNodeInfoPtr node = coordinator_->findNodeInfoByNodeName(client);
    if (!node) {
      node.reset(new DistributedQEL::CNodeInfo(client, ids_[client]));
    }
    FrameworkMessagePtr message;
    EXPECT_FALSE(coordinator_->getNodeStartAcknowledgeMessage(node, message).IsError());
    Payload payload;
    if (!message) return payload;
    std::optional<DistributedQEL::NodeInit> init = RecordAs<DistributedQEL::NodeInit>(*message);
    EXPECT_TRUE(init.has_value());
    if (!init) return payload;
    for (const auto& v : init->getValues()) payload.emplace_back(v.getName(), v.getValue());
    return payload;
  }

  static std::vector<DistributedQEL::CassandraPostOpParams> NodeConfigOf(const Payload& payload) {
    for (const auto& entry : payload) {
      if (entry.first != "NodeConfig") continue;
      DistributedQEL::CassandraPostOpParamsList list;
      EXPECT_EQ(list.unserialize(entry.second), 0);
      return list.getParams();
    }
    ADD_FAILURE() << "no NodeConfig";
    return {};
  }
  static std::vector<std::string> Names(const Payload& payload) {
    std::vector<std::string> names;
    for (const auto& entry : payload) names.push_back(entry.first);
    return names;
  }
  static std::string ValueOf(const Payload& payload, const std::string& name) {
    for (const auto& entry : payload) {
      if (entry.first == name) return entry.second;
    }
    return "<absent>";
  }

  simtest::TempDir home_;
  std::unique_ptr<CClientContextScope> scope_;
  boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices> services_;
  CSuiteRegistration registration_{CSuiteStore(home_.Sub("central"))};
  std::map<std::string, uint32_t> ids_;
  std::unique_ptr<Probe> coordinator_;
};

TEST_F(CleanupCoordinatorTest, AnswersAndConfigurationObject) {
  Probe& c = Coordinator();
  EXPECT_FALSE(c.isBackupJob());
  EXPECT_FALSE(c.shouldSkipThisPhase());
  EXPECT_FALSE(c.shouldExecCommand());
  EXPECT_EQ(c.getNodeCommandName(), "");
  DistributedQEL::CClientConfigPtr first, second;
  ASSERT_FALSE(c.getClientConfigObject(first).IsError());
  ASSERT_FALSE(c.getClientConfigObject(second).IsError());
  EXPECT_EQ(first.get(), second.get());
  EXPECT_EQ(first.get(), static_cast<DistributedQEL::CClientConfig*>(c.clientConfig.get()));
  // The framework base does not hold it.
  EXPECT_EQ(c.getClientConfig().get(), nullptr);
}

TEST_F(CleanupCoordinatorTest, MappingFileLinesGiveTheAccessNodesAndTheirTaskStatus) {
  Register();
  App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure,
                                ReplyWith({Node("host1", "10.0.0.1"), Node("host2", "10.0.0.2")}));
  const std::string h1 = std::to_string(ids_["host1"]);
  const std::string h2 = std::to_string(ids_["host2"]);
  const std::string h3 = std::to_string(ids_["host3"]);
  simtest::WriteFile(MappingFile(),
                     " \t" + h1 +
                         " 1:-1|2:0|3:-1| \t\n"  // padded
                         "\n" +                  // empty
                         h3 +
                         "\n" +                   // short: a client id alone
                         h2 + " 4:-1|\n" +        //
                         h1 + " 9:-1|\n" +        // duplicate: the first counts
                         "x 5:-1|\n" +            // not a client id
                         h3 + " 6:-1| extra\n");  // three parts
  CLogCapture log;
  Probe& c = Coordinator();
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());

  std::vector<std::string> added;
  for (const auto& text : log.Texts(2)) {
    if (text.rfind("adding access node with client id ", 0) == 0) added.push_back(text.substr(34));
  }
  EXPECT_EQ(added, (std::vector<std::string>{h1, h2, h1}));
  std::vector<std::string> nodes;
  for (const auto& node : c.getNodes()) nodes.push_back(node->getClientName());
  EXPECT_EQ(nodes, (std::vector<std::string>{"host1", "host2"}));

  EXPECT_EQ(ValueOf(PayloadFor("host1"), "taskStatus"), "1:-1|2:0|3:-1|");
  EXPECT_EQ(ValueOf(PayloadFor("host2"), "taskStatus"), "4:-1|");
  EXPECT_EQ(ValueOf(PayloadFor("host3"), "taskStatus"), "<absent>");
}

TEST_F(CleanupCoordinatorTest, PayloadCarriesEveryValueInOrder) {
  Register();
  App_ExecuteSP::ReplyProcedure(
      kClusterInstanceProcedure,
      ReplyWith({Node("host1", "10.0.0.1"), Node("host2", "10.0.0.2"),
                 Node("host1", "10.0.0.3", "dock1", "/jh", "/conf/a:/host/conf")}));
  simtest::WriteFile(MappingFile(), std::to_string(ids_["host1"]) + " 1:-1|\n");
  TQJobCtrlClientPtr control(new TQJobCtrlClient(kJobId));
  Probe& c = Coordinator(control);
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  EXPECT_NE(c.jmxConfig, "");
  EXPECT_NE(c.authConfig, "");

  Payload before = PayloadFor("host1");
  EXPECT_EQ(Names(before),
            (std::vector<std::string>{"NodeConfig", "JMXConfig", "AuthConfig", "taskStatus"}));
  EXPECT_EQ(ValueOf(before, "JMXConfig"), c.jmxConfig);
  EXPECT_EQ(ValueOf(before, "AuthConfig"), c.authConfig);
  std::vector<DistributedQEL::CassandraPostOpParams> params = NodeConfigOf(before);
  ASSERT_EQ(params.size(), 2u);
  // Without an agent instance name the client name; the instance's Java home
  // and configuration file stand in for the node's.
  EXPECT_EQ(params[0].getNodeName(), "host1");
  EXPECT_EQ(params[0].getJavaHome(), "/usr/lib/jvm/java-11");
  EXPECT_EQ(params[0].getConfigDirectory(), "/etc/cassandra/cassandra.yaml");
  EXPECT_EQ(params[1].getNodeName(), "dock1");
  EXPECT_EQ(params[1].getJavaHome(), "/jh");
  EXPECT_EQ(params[1].getConfigDirectory(), "/conf/a");

  // The quit flag is read for each payload: nodes answered after it is set
  // get "JobKill".
  control->setQuitFlag(true);
  Payload after = PayloadFor("host2");
  EXPECT_EQ(Names(after),
            (std::vector<std::string>{"NodeConfig", "JMXConfig", "AuthConfig", "JobKill"}));
  EXPECT_EQ(ValueOf(after, "JobKill"), "1");
  // A client without nodes of the instance still gets an (empty) list.
  EXPECT_TRUE(NodeConfigOf(PayloadFor("host3")).empty());
}

TEST_F(CleanupCoordinatorTest, NodeNamesAndLocations) {
  std::vector<App::CassandraNode> nodes = {
      Node("host1", "a", ""),                  // agent name present, empty
      Node("host1", "b", "", "", "/x:/y:/z"),  // two colons: unchanged
      Node("host1", "c", "n3", "", "/one:/two"),
      Node("host2", "d", "other"),
  };
  auto params = CassandraPostOpCleanup::NodeParamsFor(nodes, "host1", "/java", "/conf.yaml");
  ASSERT_EQ(params.size(), 3u);
  EXPECT_EQ(params[0].getNodeName(), "");
  EXPECT_EQ(params[1].getNodeName(), "");
  EXPECT_EQ(params[1].getConfigDirectory(), "/x:/y:/z");
  EXPECT_EQ(params[2].getNodeName(), "n3");
  EXPECT_EQ(params[2].getConfigDirectory(), "/one");
  EXPECT_EQ(params[2].getJavaHome(), "/java");
}

TEST_F(CleanupCoordinatorTest, WithoutSecuritySettingsThePayloadHasNoJmxOrAuth) {
  Register("/etc/c.yaml", false);
  App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, ReplyWith({Node("host1", "1")}));
  simtest::WriteFile(MappingFile(), std::to_string(ids_["host1"]) + " 1:0|\n");
  Probe& c = Coordinator();
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  EXPECT_EQ(Names(PayloadFor("host1")), (std::vector<std::string>{"NodeConfig", "taskStatus"}));
}

TEST_F(CleanupCoordinatorTest, LoadFailures) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string text;
  };
  std::vector<Case> cases = {
      {"no configuration file anywhere", [this] { Register(""); }, "Cassandra config file path"},
      {"procedure fails",
       [this] {
         Register();
         App_ExecuteSP::FailProcedure(kClusterInstanceProcedure, 7, "down");
       },
       "Stored procedure to save instance properties failed with an error [7], response Str "
       "[down]"},
      {"reply without Cassandra configuration",
       [this] {
         Register();
         App::DistributedClusterInstanceResp empty;
         std::string xml;
         empty.serialize(xml);
         App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, xml);
       },
       "Null Cassandra config"},
      {"reply not readable",
       [this] {
         Register();
         App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, "<not a reply");
       },
       "Stored procedure to save instance properties failed with an error [-1]"},
      {"no mapping file",
       [this] {
         Register();
         App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, ReplyWith({}));
         fs::remove(MappingFile());
       },
       "Not able to determine the access nodes"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh central store per case.
    const std::string suite = home_.Sub("suite" + std::to_string(n++));
    CClientContext::SetSuiteHome(suite);
    registration_ = CSuiteRegistration(CSuiteStore(suite + "/central"));
    ids_.clear();
    for (const char* name : {"host1", "cluster1"}) Client(name);
    App_ExecuteSP::ClearFailures();
    simtest::WriteFile(MappingFile(), std::to_string(ids_["host1"]) + " 1:-1|\n");
    c.arrange();
    Probe& coordinator = Coordinator();
    CQiError e = coordinator.loadNodeConfiguration();
    ASSERT_TRUE(e.IsError());
    EXPECT_NE(e.AsString(2).find(c.text), std::string::npos) << e.AsString(2);
    EXPECT_TRUE(coordinator.getNodes().empty());
  }
}

TEST_F(CleanupCoordinatorTest, ConfigurationFileFallsBackToTheRegistry) {
  Register("");
  CRegistry::Instance().Set("Cassandra", "sCassandraiConfigFilePath", "/reg/cassandra.yaml");
  App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, ReplyWith({Node("host1", "1")}));
  simtest::WriteFile(MappingFile(), std::to_string(ids_["host1"]) + " 1:0|\n");
  Probe& c = Coordinator();
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  EXPECT_EQ(NodeConfigOf(PayloadFor("host1")).at(0).getConfigDirectory(), "/reg/cassandra.yaml");
}

TEST_F(CleanupCoordinatorTest, CompletionDeletesOnlyThisJobsMappingFile) {
  Register();
  App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, ReplyWith({}));
  simtest::WriteFile(MappingFile(), std::to_string(ids_["host1"]) + " 1:-1|\n");
  simtest::WriteFile(MappingFile() + ".tmp", "partial");
  simtest::WriteFile(MappingFile(344), "5 1:0|\n");  // a job that may still be restarted
  simtest::WriteFile(JobResults() + "/OldCollectFileMapping_345", "kept");
  Probe& c = Coordinator();
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  CLogCapture log;
  ASSERT_FALSE(c.OnComplete().IsError());
  EXPECT_FALSE(fs::exists(MappingFile()));
  EXPECT_FALSE(fs::exists(MappingFile() + ".tmp"));
  EXPECT_TRUE(fs::exists(MappingFile(344)));
  EXPECT_TRUE(fs::exists(JobResults() + "/OldCollectFileMapping_345"));
  int deleted = 0;
  for (const auto& text : log.Texts(2)) deleted += text.rfind("Deleting mapping file ", 0) == 0;
  EXPECT_EQ(deleted, 2);

  fs::remove_all(JobResults());
  CQiError e = c.OnComplete();
  ASSERT_TRUE(FXErrorUtil::IsWin32(e, 13));
  EXPECT_NE(e.AsString(2).find("Failed to open Job results directory: " + JobResults()),
            std::string::npos);
}

}  // namespace
