#pragma once

// The restore coordinator against a suite of its own: the backup job-start
// fixture's suite home (clients, instances and subclients registered per
// test, in-memory framework services, the scripted Priam or the Priam
// stand-in, no child process left behind), the restore job's description
// and a restore coordinator.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BackupJobStartFixture.h"
#include "common/CassandraRestoreClientConfig.h"
#include "common/RestoreOptionRecords.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/TQPassword.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace restoretest {

constexpr uint32_t kEvPriamStartFailed = 0x60003D4;
constexpr uint32_t kEvPriamAccessDenied = 0x6000485;
constexpr uint32_t kEvPasswordDecryptFailed = 0x6000478;
constexpr uint32_t kEvStageFreeMaUnsupported = 0x6000475;
const char* const kNotEncrypted = "this is not a cipher text";

// Opens the coordinator's members to the tests.
class RestoresProbe : public TQCassandra::CCassandraRestores {
 public:
  RestoresProbe() : TQDC_FileSystem::CRestore(false), CCassandraRestores(false) {}

  using CCassandraRestores::authConfigXml;
  using CCassandraRestores::cassandraConfigFile;
  using CCassandraRestores::cassandraVersion;
  using CCassandraRestores::crossInstance;
  using CCassandraRestores::destConfig;
  using CCassandraRestores::destInstanceId;
  using CCassandraRestores::destInstanceVersion;
  using CCassandraRestores::handlePriamError;
  using CCassandraRestores::isLogRestore;
  using CCassandraRestores::mediaAgentClientId;
  using CCassandraRestores::mediaAgentClientName;
  using CCassandraRestores::mediaAgentHostName;
  using CCassandraRestores::nodeMap;
  using CCassandraRestores::priamAdditionalParameters;
  using CCassandraRestores::priamUtil;
  using CCassandraRestores::recover;
  using CCassandraRestores::replaceDeadNode;
  using CCassandraRestores::restoreClientConfig;
  using CCassandraRestores::restoreTask;
  using CCassandraRestores::runDR;
  using CCassandraRestores::sourceClientNames;
  using CCassandraRestores::sourceConfig;
  using CCassandraRestores::sourceDCmap;
  using CCassandraRestores::sourceInstanceId;
  using CCassandraRestores::stageFreeRestore;
  using CCassandraRestores::stagePath;
  using CCassandraRestores::subclientRestore;
  using CCassandraRestores::truncateTables;
  using CCassandraRestores::useSSTableLoader;
};

class RestoreCoordinatorTest : public jobstart::JobStartTest {
 protected:
  void SetUp() override {
    JobStartTest::SetUp();
    coordinatorClientId_ = Client("coordinator1");
  }

  void TearDown() override {
    restores_.reset();
    for (const char* name : kSwitches) CRegistry::Instance().Remove("Cassandra", name);
    JobStartTest::TearDown();
  }

  static constexpr const char* kSwitches[] = {
      "nCassandraRemoteJMXEnabled", "nCassandraCqlSslDisabled", "nCassandraJmxSslDisabled",
      "nCommitlogBackupInterval"};
  static void SetSwitch(const char* name, const std::string& value) {
    if (value.empty()) {
      CRegistry::Instance().Remove("Cassandra", name);
    } else {
      CRegistry::Instance().Set("Cassandra", name, value);
    }
  }

  // ---- the suite ----

  uint64_t Client(const std::string& name) { return JobStartTest::Client(name, {}); }

  // A stored node run by the client of that name (registered when new).
  SNodeSettings Node(const std::string& clientName, const std::string& address,
                     const std::string& dataCenter, const std::string& configDirectory = "") {
    SNodeSettings node;
    node.address = address;
    node.clientId = clientIds_.count(clientName) ? clientIds_[clientName] : Client(clientName);
    node.dataCenter = dataCenter;
    node.rack = "r1";
    node.configDirectory = configDirectory.empty() ? "/etc/" + clientName : configDirectory;
    return node;
  }

  SInstanceSettings InstanceSettings(const std::string& name,
                                     const std::vector<SNodeSettings>& nodes) {
    if (clientIds_.count("cluster-" + name) == 0) Client("cluster-" + name);
    SInstanceSettings settings;
    settings.name = name;
    settings.clientId = clientIds_["cluster-" + name];
    settings.javaHome = "/usr/lib/jvm/java-11";
    settings.gatewayHost = "10.0.1.1";
    settings.gatewayCqlPort = 9042;
    settings.clusterName = "Cluster-" + name;
    settings.version = "4.0.11";
    settings.nodes = nodes;
    return settings;
  }
  // JMX settings with credentials ("jmx.host", 7299, "jmx-user", "jmx-secret")
  // and SSL settings ("/ks/k.jks" with "k-secret", "/ts/t.jks" with
  // "t-secret"), SSL on or off.
  static void AddJmxAndSsl(SInstanceSettings& settings, bool sslEnabled) {
    SJmxSettings jmx;
    jmx.host = "jmx.host";
    jmx.port = 7299;
    jmx.user = "jmx-user";
    jmx.password = "jmx-secret";
    settings.jmx = jmx;
    SSslSettings ssl;
    ssl.enabled = sslEnabled;
    ssl.keystorePath = "/ks/k.jks";
    ssl.keystorePassword = "k-secret";
    ssl.truststorePath = "/ts/t.jks";
    ssl.truststorePassword = "t-secret";
    settings.ssl = ssl;
  }
  // Changes the stored instance record as it is.
  void EditInstance(uint64_t id, const std::function<void(SInstanceRecord&)>& change) {
    CQiError e = CSuiteStore(home_.Sub("central")).UpdateInstance(id, change);
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
  }
  uint64_t Subclient(uint64_t instanceId, const std::vector<SContentRow>& content, bool isDefault) {
    instanceId_ = instanceId;
    return JobStartTest::Subclient(content, 8, isDefault);
  }

  static std::string Encrypt(const std::string& plain) {
    char buffer[1024];
    unsigned int length = sizeof buffer;
    EXPECT_NE(TQPassword().encrypt(plain.c_str(), buffer, length), 0);
    return std::string(buffer, length);
  }

  // ---- the job ----

  // The job's description as the runner stores it before a restore runs:
  // the restore task and the job's options.
  TqRunner::JobDescription Description(int64_t jobId) const {
    TqRunner::JobDescription d;
    d.jobId = jobId;
    d.jobType = "restore";
    d.ombrelId = 2;
    d.clientName = "coordinator1";
    d.subclientId = -1;
    return d;
  }
  void StoreDescription(const TqRunner::JobDescription& description) {
    CQiError e = TqRunner::CJobRecordStore().WriteDescription(description);
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
  }
  // The XML text of a job option record, with or without the restore options
  // and the distributed-apps restore options.
  static std::string JobOptionXml(bool restoreOptions, bool distributedOptions,
                                  const App::CassandraRestoreOptions* cassandra = nullptr) {
    TMMsg::JobOption job;
    if (restoreOptions) {
      TMMsg::RestoreOptions restore;
      if (distributedOptions) {
        App::DistributedAppsRestoreOptions distributed;
        if (cassandra) distributed.setCassandraRestoreOptions(*cassandra);
        restore.setDistributedAppsRestoreOptions(distributed);
      }
      job.setRestoreOptions(restore);
    }
    std::string xml;
    EXPECT_EQ(job.serialize(xml), 0);
    return xml;
  }
  void StoreJobOptionsXml(int64_t jobId, const std::string& xml) {
    TqRunner::JobDescription d = Description(jobId);
    d.xmlOptions = xml;
    StoreDescription(d);
  }
  void StoreJobOptions(int64_t jobId, const App::CassandraRestoreOptions& options,
                       int64_t subclientId = -1) {
    TqRunner::JobDescription d = Description(jobId);
    d.subclientId = subclientId;
    d.xmlOptions = JobOptionXml(true, true, &options);
    StoreDescription(d);
  }

  // ---- the coordinator ----

  RestoresProbe& NewCoordinator() {
    restores_.reset(new RestoresProbe());
    restores_->setFrameworkServices(services_);
    return *restores_;
  }
  // A coordinator with both cluster configurations, as initialize makes
  // them.
  RestoresProbe& CoordinatorWithConfigs() {
    RestoresProbe& c = NewCoordinator();
    c.destConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    c.sourceConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    return c;
  }

  std::vector<std::string> RegisteredNames() const {
    std::vector<std::string> names;
    for (const auto& node : restores_->getNodes()) names.push_back(node->getClientName());
    return names;
  }

  std::unique_ptr<RestoresProbe> restores_;
  uint64_t coordinatorClientId_ = 0;
};

}  // namespace restoretest
