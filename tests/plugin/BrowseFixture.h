#pragma once

// The cluster browser against a suite of its own (clients and instances
// registered in a per-test suite home), run in the gateway client's context,
// with either a scripted Priam or the Priam stand-in over a generated
// cluster.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SuiteFixture.h"
#include "browse/ClientBrowse.h"
#include "common/ClusterBrowseRecords.h"
#include "platform/app/App_ExecuteSP.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/log/EventJournal.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/Base64.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPassword.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"

namespace browsetest {

constexpr const char* kPrefix = "Failed to fetch nodes/schemas from the Cassandra cluster: ";
constexpr uint32_t kEvPriamRequestFailed = 0x60003D3;
constexpr uint32_t kClientsProcedure = 0x1E122479;
constexpr uint32_t kErrNo22 = 0x90000016;
constexpr uint32_t kWin32_5 = 0x80000005;
constexpr uint32_t kWin32_13 = 0x8000000D;
constexpr uint32_t kWin32_22 = 0x80000016;
constexpr uint32_t kWin32_87 = 0x80000057;
constexpr uint32_t kWin32_1359 = 0x8000054F;

const char* const kSwitches[] = {"nCassandraRemoteJMXEnabled", "nCassandraCqlSslDisabled",
                                 "nCassandraJmxSslDisabled", "sCassandraiConfigFilePath"};

// Opens the browser's members to the tests.
class BrowserProbe : public TQCassandra::CClientBrowse {
 public:
  BrowserProbe() : CClientBrowse(0) {}
  using CClientBrowse::dockerConfig;
  using CClientBrowse::getStatus;
  using CClientBrowse::getTQclientsForIPs;
  using CClientBrowse::priamAdditionalParameters;
  using CClientBrowse::priamUtil;
};

// What one browse gave back.
struct Outcome {
  CQiError error;
  std::vector<App::MachineBrowseItem> items;
  App::GenericResp generic;

  bool Failed() const { return error.IsError(); }
  std::string Message() const { return generic.getErrorMessage(); }
  App::CassandraBrowseItem Item() const {
    if (items.size() != 1 || !items[0].getCassandraItem()) {
      ADD_FAILURE() << "expected exactly one Cassandra browse item, got " << items.size();
      return App::CassandraBrowseItem();
    }
    return *items[0].getCassandraItem();
  }
};

// The gateway node of a request's cluster configuration.
struct GatewaySettings {
  std::string address = "10.0.1.1";
  std::optional<std::string> javaHome = std::string("/opt/java");
  std::optional<std::string> configFile;  // nullopt: the field is left out
  std::string cqlUser;
  std::string cqlPassword;  // as the request carries it (encrypted)
  std::optional<App::JMXConnection> jmx;
  std::optional<App::AuthConfig> auth;
};

class BrowseTest : public plugintest::SuiteTest {
 protected:
  void SetUp() override {
    SetUpSuite(true);
    for (const char* name : kSwitches) CRegistry::Instance().Remove("Cassandra", name);
    gatewayId_ = Client("cluster1", {});
    ActAsClient("cluster1", gatewayId_);
  }

  void TearDown() override {
    browser_.reset();
    for (const char* name : kSwitches) CRegistry::Instance().Remove("Cassandra", name);
    TearDownSuite();
  }

  // ---- the outside world ----

  std::string TempFolder() const { return Base() + "/Temp"; }
  // The entries of base/Temp (none when it does not exist).
  std::vector<std::string> TempEntries() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(TempFolder(), ec)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  void Generate(const TqSim::FixtureOptions& options) {
    simtest::GenerateCluster(home_.Sub("cluster"), options, cluster_);
  }
  static TqSim::FixtureOptions Options(int nodes, int dataCenters = 1, int keyspaces = 2) {
    TqSim::FixtureOptions options = simtest::SmallClusterOptions(nodes, dataCenters, keyspaces);
    options.commitLogSegments = 0;
    return options;
  }
  template <typename F>
  void EditCluster(F edit) {
    simtest::EditClusterFile(cluster_.clusterFile, edit);
  }

  // Answers every Priam request from a script instead of the stand-in.
  TqCassandra::ScriptedPriam& Scripted() {
    if (!scripted_) {
      UseScriptedPriam();
      priamScript_->SetReply("clusterDetails", R"({"ClusterName":"Scripted","Version":"4.0.1"})");
      priamScript_->SetReply("status", "[]");
      priamScript_->SetReply("getMeta", "[]");
    }
    return *priamScript_;
  }
  // A Cassandra configuration for scripted runs: CQL at 10.0.1.1:9042, JMX
  // port 7199.
  std::string ScriptedConf() {
    std::string dir = home_.Sub("scripted-conf");
    simtest::WriteFile(dir + "/cassandra.yaml",
                       "cluster_name: Scripted\nrpc_address: 10.0.1.1\n"
                       "native_transport_port: 9042\n");
    simtest::WriteFile(dir + "/cassandra-env.sh", "JMX_PORT=\"7199\"\n");
    return dir + "/cassandra.yaml";
  }
  static std::string StatusRow(const std::string& address, const std::string& dataCenter,
                               const std::string& status = "Up",
                               const std::string& state = "Normal") {
    return simtest::StatusRowJson(address, dataCenter, status, state);
  }

  // ---- the suite ----

  uint64_t Client(const std::string& name, const std::vector<std::string>& addresses) {
    uint64_t id = 0;
    CQiError e = registration_.registerClient(name, name + ".sim", addresses, id);
    EXPECT_FALSE(e.IsError()) << e.AsString(2);
    return id;
  }
  // One client per generated node, named after the node.
  void NodeClients() {
    for (const auto& node : cluster_.nodes) Client(node.name, {node.address});
  }
  // An instance of id 7 on the gateway client over the generated cluster (or
  // the scripted configuration).
  SInstanceSettings InstanceSettings() {
    SInstanceSettings settings;
    settings.id = 7;
    settings.name = "cassandra1";
    settings.clientId = gatewayId_;
    settings.cassandraConfigFile = cluster_.nodes.empty()
                                       ? ScriptedConf()
                                       : cluster_.nodes.front().confDir + "/cassandra.yaml";
    settings.javaHome = "/usr/lib/jvm/java-11";
    settings.gatewayHost = cluster_.nodes.empty() ? "10.0.1.1" : cluster_.nodes.front().address;
    return settings;
  }
  uint64_t Instance(const SInstanceSettings& settings) {
    uint64_t id = 0;
    CQiError e = registration_.registerInstance(settings, id);
    EXPECT_FALSE(e.IsError()) << e.AsString(2);
    return id;
  }

  static std::string Encrypt(const std::string& plain) {
    char buffer[1024];
    unsigned int length = sizeof buffer;
    EXPECT_NE(TQPassword().encrypt(plain.c_str(), buffer, length), 0);
    return std::string(buffer, length);
  }
  static std::string B64(const std::string& plain) { return base64Encode(plain); }

  // ---- requests ----

  // A request whose subclient entity carries the given ids (nullopt: left
  // out) and, unless `gateway` is null, a cluster configuration.
  static App::MachineBrowseReq Request(std::optional<int64_t> subclientId,
                                       std::optional<int64_t> instanceId,
                                       const GatewaySettings* gateway) {
    TqEntities::SubClientEntity subclient;
    if (subclientId) subclient.setSubclientId(*subclientId);
    if (instanceId) subclient.setInstanceId(*instanceId);
    App::DistributedAppsBrowseProperties properties;
    properties.setSubclient(subclient);
    if (gateway) {
      App::CassandraNode node;
      node.setAddress(gateway->address);
      if (gateway->javaHome) node.setJavaHome(*gateway->javaHome);
      if (gateway->jmx) node.setJmx(*gateway->jmx);
      if (gateway->auth) node.setAuth(*gateway->auth);
      App::CassandraGatewayNode gatewayNode;
      gatewayNode.setNode(node);
      if (!gateway->cqlUser.empty() || !gateway->cqlPassword.empty()) {
        UserCredentials credentials;
        credentials.setUserName(gateway->cqlUser);
        credentials.setPassword(gateway->cqlPassword);
        gatewayNode.setCqlCredentials(credentials);
      }
      App::CassandraConfig cassandra;
      cassandra.setGatewayNode(gatewayNode);
      if (gateway->configFile) cassandra.setConfigFilePath(*gateway->configFile);
      App::DistributedClusterConfig cluster;
      cluster.setCassandraConfig(cassandra);
      properties.setClusterConfig(cluster);
    }
    App::MachineBrowseReq request;
    request.setBrowseProperties(properties);
    return request;
  }
  // A node browse of the registered instance 7.
  static App::MachineBrowseReq InstanceRequest(std::optional<int64_t> subclientId = std::nullopt) {
    return Request(subclientId, 7, nullptr);
  }
  void WithGatewayClient(App::MachineBrowseReq& request) const {
    TqEntities::ClientEntity client;
    client.setClientId(static_cast<int64_t>(gatewayId_));
    client.setClientName("cluster1");
    request.setGatewayClient(client);
  }

  BrowserProbe& Browser() {
    if (!browser_) browser_.reset(new BrowserProbe());
    return *browser_;
  }
  Outcome Browse(App::MachineBrowseReq request) {
    Outcome outcome;
    App::MachineBrowseResp response;
    outcome.error = Browser().MachineBrowse("", nullptr, &request, &response, &outcome.generic);
    outcome.items = response.getBrowseItems();
    return outcome;
  }

  // Events of one id: their argument lists.
  static std::vector<std::vector<std::string>> Events(uint32_t id) {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : CEventJournal::Instance().Find(id)) out.push_back(e.args);
    return out;
  }

  TqSim::FixtureResult cluster_;
  CSuiteRegistration registration_{CSuiteStore(home_.Sub("central"))};
  uint64_t gatewayId_ = 0;
  std::unique_ptr<BrowserProbe> browser_;
};

}  // namespace browsetest
