// Priam start-up of the backup coordinator and of the backup controller's
// instances, against the scripted Priam transport: property sets, JVM
// options, password handling, start failures and their events, and the stop
// walk.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PriamRecordsTestSupport.h"
#include "common/CassandraNodeRecords.h"
#include "common/CassandraPriamSetup.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiPath.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/Base64.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPassword.h"
#include "support/SimTestSupport.h"

namespace {

using TQCassandra::CassandraPriamSetup;
using TQCassandra::CoordinatorPriamInputs;
using TQCassandra::NodePriamInstance;
using TQCassandra::PriamByInstance;
using TQCassandra::PriamJmxSettings;
using TQCassandra::PriamUtilPtr;
using TqCassandra::ScopedPriamTransportFactory;
using TqCassandra::ScriptedPriam;
using Properties = std::map<std::string, std::string>;

constexpr uint32_t kStartFailed = 0x60003D4;
constexpr uint32_t kAccessDenied = 0x6000485;
constexpr uint32_t kDecryptFailed = 0x6000478;
const char* const kNotEncrypted = "this is not a cipher text";
const char* const kClientAuth =
    " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
    " -Dcom.sun.management.jmxremote.registry.ssl=true";

const char* const kSwitches[] = {"nCassandraRemoteJMXEnabled", "nCassandraCqlSslDisabled",
                                 "nCassandraJmxSslDisabled", "nCaptureCassandraTypes"};

class PriamSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kSwitches) CRegistry::Instance().Remove("Cassandra", name);
    CRegistry::Instance().Set("Base", "dBASEHOME", base_.path());
    CEventJournal::Instance().Clear();
    conf_ = WriteConf("conf", "10.0.0.5", "9042", "7199");
  }
  void TearDown() override {
    for (const char* name : kSwitches) CRegistry::Instance().Remove("Cassandra", name);
    CRegistry::Instance().Remove("Base", "dBASEHOME");
    CEventJournal::Instance().Clear();
  }

  static void SetSwitch(const char* name, const std::string& value) {
    if (value.empty()) {
      CRegistry::Instance().Remove("Cassandra", name);
    } else {
      CRegistry::Instance().Set("Cassandra", name, value);
    }
  }

  // A Cassandra configuration directory; empty values are left out.
  std::string WriteConf(const std::string& name, const std::string& host, const std::string& port,
                        const std::string& jmxPort) {
    std::string dir = work_.Sub(name);
    std::string yaml = "cluster_name: test\n";
    if (!host.empty()) yaml += "rpc_address: " + host + "\n";
    if (!port.empty()) yaml += "native_transport_port: " + port + "\n";
    simtest::WriteFile(dir + "/cassandra.yaml", yaml);
    if (!jmxPort.empty()) {
      simtest::WriteFile(dir + "/cassandra-env.sh", "JMX_PORT=\"" + jmxPort + "\"\n");
    }
    return dir;
  }

  // Records hold passwords encrypted with the suite's cipher.
  static std::string Encrypt(const std::string& plain) { return priamtest::Encrypt(plain); }
  static std::string JmxXml(const std::string& host, int64_t port, bool withCredentials,
                            const std::string& user, const std::string& encryptedPassword,
                            const std::string& service) {
    return priamtest::JmxXml(host, port, withCredentials, user, encryptedPassword, service);
  }
  static std::string AuthXml(int64_t enabled, const std::string& keystorePassword,
                             const std::string& truststorePassword) {
    return priamtest::AuthXml(enabled, keystorePassword, truststorePassword);
  }

  CoordinatorPriamInputs Inputs() const {
    CoordinatorPriamInputs in;
    in.javaHome = "/usr/lib/jvm/java-11";
    in.cassandraConfigFile = conf_ + "/cassandra.yaml";
    in.jobResultsPath = work_.Sub("jr/2/57");
    return in;
  }

  // Runs the coordinator's whole start-up; counts the failures handed back.
  CQiError StartCoordinator(const CoordinatorPriamInputs& in, std::string& parameters,
                            PriamUtilPtr& priam) {
    return CassandraPriamSetup::StartCoordinatorPriam(
        in, parameters, priam, [this](const CQiError& e) { startFailures_.push_back(e); });
  }

  CQiError InitializeNode(const std::map<std::string, NodePriamInstance>& instances,
                          const std::string& jmx, const std::string& auth, bool start,
                          PriamByInstance& map) {
    return CassandraPriamSetup::InitializeNodePriams(instances, work_.Sub("njr"), jmx, auth, start,
                                                     map);
  }

  NodePriamInstance Instance(const std::string& configDirectory) const {
    NodePriamInstance instance;
    instance.javaHome = "/opt/java";
    instance.configDirectory = configDirectory;
    return instance;
  }

  static bool Has(const std::vector<std::string>& texts, const std::string& text) {
    for (const auto& t : texts)
      if (t == text) return true;
    return false;
  }

  simtest::TempDir base_;
  simtest::TempDir work_;
  std::string conf_;
  CClientContextScope client_{SClientIdentity{"client1", 7, "host1", "", ""}};
  std::shared_ptr<ScriptedPriam> priam_ = std::make_shared<ScriptedPriam>();
  ScopedPriamTransportFactory guard_{priam_->Factory()};
  std::vector<CQiError> startFailures_;
};

// ---------------------------------------------------------------- coordinator

TEST_F(PriamSetupTest, CoordinatorWithoutSettingsWritesOnlyEndpointsAndNoJvmOptions) {
  CLogCapture log;
  std::string parameters;
  PriamUtilPtr priam;
  ASSERT_FALSE(StartCoordinator(Inputs(), parameters, priam).IsError());
  ASSERT_TRUE(priam);
  EXPECT_TRUE(priam->getIsConnected());
  EXPECT_TRUE(startFailures_.empty());

  ScriptedPriam::Session s = priam_->LastSession();
  EXPECT_EQ(s.properties, (Properties{{"priam.cqlhost", "10.0.0.5"},
                                      {"priam.cqlport", "9042"},
                                      {"priam.jmx.port", "7199"}}));
  ASSERT_EQ(s.starts.size(), 1u);
  const auto& spec = s.starts[0];
  EXPECT_EQ(spec.jvmOptions, "");
  EXPECT_EQ(priam->priamAdditionalParameters, "");
  EXPECT_EQ(parameters, "");
  EXPECT_EQ(spec.javaPath, "/usr/lib/jvm/java-11/java");
  EXPECT_EQ(spec.baseDir, base_.path());
  EXPECT_EQ(spec.workingDir, work_.Sub("jr/2/57/client1"));
  EXPECT_TRUE(CQiPath::IsDirectory(spec.workingDir.c_str()));
  EXPECT_EQ(spec.confLocation, conf_ + "/cassandra.yaml");
  EXPECT_EQ(spec.mode, 0);
  EXPECT_FALSE(spec.restoreMode);
  EXPECT_TRUE(Has(log.Texts(0), "Custom Priam property set. Writing priam properties"));
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(PriamSetupTest, CoordinatorWithoutJavaHomeHandsOverNoJavaPath) {
  CoordinatorPriamInputs in = Inputs();
  in.javaHome.clear();
  std::string parameters;
  PriamUtilPtr priam;
  ASSERT_FALSE(StartCoordinator(in, parameters, priam).IsError());
  EXPECT_EQ(priam_->LastSession().starts.at(0).javaPath, "");
}

TEST_F(PriamSetupTest, CoordinatorCqlEndpointFallsBackToTheGateway) {
  struct Case {
    const char* name;
    std::string utilityHost, utilityPort, gatewayHost;
    uint32_t gatewayPort;
    std::string host, port;
  } cases[] = {
      {"complete endpoint kept", "10.0.0.5", "9042", "gw", 9142, "10.0.0.5", "9042"},
      {"no port, no gateway port: host replaced", "10.0.0.5", "", "gw", 0, "gw", ""},
      {"no port, no gateway", "10.0.0.5", "", "", 0, "10.0.0.5", ""},
      {"nothing from the utility", "", "", "gw", 9142, "gw", "9142"},
      {"no host, no gateway host: port replaced", "", "9042", "", 9142, "", "9142"},
      {"nothing anywhere", "", "", "", 0, "", ""},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CoordinatorPriamInputs in = Inputs();
    in.cassandraConfigFile =
        WriteConf("c" + std::to_string(n++), c.utilityHost, c.utilityPort, "") + "/cassandra.yaml";
    in.gatewayHost = c.gatewayHost;
    in.gatewayCqlPort = c.gatewayPort;
    PriamUtilPtr priam;
    std::string parameters;
    ASSERT_FALSE(CassandraPriamSetup::MakeCoordinatorPriam(in, priam).IsError());
    ASSERT_FALSE(CassandraPriamSetup::SetCoordinatorPriamValues(in, *priam, parameters).IsError());
    EXPECT_EQ(
        priam_->LastSession().properties,
        (Properties{{"priam.cqlhost", c.host}, {"priam.cqlport", c.port}, {"priam.jmx.port", ""}}));
  }
}

TEST_F(PriamSetupTest, CoordinatorCredentialsAndCaptureTypes) {
  struct Case {
    std::string capture;
    bool captured;
  } cases[] = {{"", false}, {"0", false}, {"1", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE("nCaptureCassandraTypes=" + c.capture);
    SetSwitch("nCaptureCassandraTypes", c.capture);
    CLogCapture log;
    CoordinatorPriamInputs in = Inputs();
    in.gatewayUser = "cqluser";
    in.gatewayPassword = base64Encode(std::string("cql secret"));
    in.jmxUser = "jmxuser";
    in.jmxPassword = base64Encode(std::string("jmx secret"));
    std::string parameters;
    PriamUtilPtr priam;
    ASSERT_FALSE(StartCoordinator(in, parameters, priam).IsError());
    Properties expected{{"priam.cqlhost", "10.0.0.5"},
                        {"priam.cqlport", "9042"},
                        {"priam.jmx.port", "7199"},
                        {"priam.cqlusername", "cqluser"},
                        {"priam.cqluserpassword", "Y3FsIHNlY3JldA=="},
                        {"priam.jmx.user", "jmxuser"},
                        {"priam.jmx.token", "am14IHNlY3JldA=="}};
    if (c.captured) expected["priam.capture.types"] = "true";
    EXPECT_EQ(priam_->LastSession().properties, expected);
    EXPECT_EQ(Has(log.Texts(0), "Enabling capture of Cassandra types"), c.captured);
    EXPECT_EQ(priam_->LastSession().starts.at(0).jvmOptions, "");
  }
}

TEST_F(PriamSetupTest, JmxConfigurationIsReadWithItsToken) {
  const std::string good = Encrypt("jmx secret");
  struct Case {
    const char* name;
    std::string xml;
    std::string remote;  // "" = absent
    PriamJmxSettings expected;
    std::string options;  // appended to "X"
    bool remoteAbsentLogged;
  } cases[] = {
      {"no text: nothing read, remote JMX ignored", "", "1", {}, "X", false},
      {"no credentials",
       JmxXml("h1", 7199, false, "", "", "svc"),
       "",
       {"h1", 7199, "", "", ""},
       "X",
       true},
      {"credentials without user: no decryption, no service",
       JmxXml("h1", 7199, true, "", kNotEncrypted, "svc"),
       "0",
       {"h1", 7199, "", "", ""},
       "X",
       false},
      {"user with password, remote JMX on",
       JmxXml("h1", 7199, true, "jmxuser", good, "svc"),
       "1",
       {"h1", 7199, "jmxuser", "am14IHNlY3JldA==", "svc"},
       "X -Dpriam.jmx.host=h1",
       false},
      {"remote JMX on with an empty host",
       JmxXml("", 0, false, "", "", ""),
       "5",
       {"", 0, "", "", ""},
       "X -Dpriam.jmx.host=",
       false},
  };
  for (auto variant : {CassandraPriamSetup::kCoordinator, CassandraPriamSetup::kNode}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (variant == CassandraPriamSetup::kNode ? " (node)" : ""));
      SetSwitch("nCassandraRemoteJMXEnabled", c.remote);
      CLogCapture log;
      PriamJmxSettings jmx;
      std::string options = "X";
      ASSERT_FALSE(CassandraPriamSetup::ReadJmxConfig(variant, c.xml, jmx, options).IsError());
      EXPECT_EQ(jmx.host, c.expected.host);
      EXPECT_EQ(jmx.port, c.expected.port);
      EXPECT_EQ(jmx.user, c.expected.user);
      EXPECT_EQ(jmx.token, c.expected.token);
      EXPECT_EQ(jmx.service, c.expected.service);
      EXPECT_EQ(options, c.options);
      EXPECT_EQ(Has(log.Texts(-1), "Failed to check if remote JMX is enabled"),
                c.remoteAbsentLogged);
    }
  }
}

TEST_F(PriamSetupTest, UndecryptablePasswordsFailTheCoordinatorWithAnEventError) {
  SetSwitch("nCassandraRemoteJMXEnabled", "1");
  {
    CLogCapture log;
    PriamJmxSettings jmx;
    std::string options;
    CQiError e = CassandraPriamSetup::ReadJmxConfig(
        CassandraPriamSetup::kCoordinator, JmxXml("h1", 7199, true, "u", kNotEncrypted, "s"), jmx,
        options);
    EXPECT_TRUE(FXErrorUtil::IsEvent(e, kDecryptFailed)) << e.AsString();
    EXPECT_EQ(e.GetEventArgs(), std::vector<std::string>{"JMX password"});
    EXPECT_EQ(options, "");
    EXPECT_TRUE(jmx.token.empty());
    EXPECT_TRUE(Has(log.Texts(-1), "Failed to decrypt the JMX password"));
  }
  struct Case {
    std::string keystore, truststore, event, log;
  } cases[] = {
      {kNotEncrypted, Encrypt("ts"), "Keystore password",
       "Failed to decrypt the keystore password"},
      {Encrypt("ks"), kNotEncrypted, "Truststore password",
       "Failed to decrypt the truststore password"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.event);
    CLogCapture log;
    CoordinatorPriamInputs in = Inputs();
    in.authConfigXml = AuthXml(1, c.keystore, c.truststore);
    std::string parameters = " -Dpriam.jmx.host=h1";
    PriamUtilPtr priam;
    CQiError e = StartCoordinator(in, parameters, priam);
    EXPECT_TRUE(FXErrorUtil::IsEvent(e, kDecryptFailed)) << e.AsString();
    EXPECT_EQ(e.GetEventArgs(), std::vector<std::string>{c.event});
    EXPECT_TRUE(Has(log.Texts(-1), c.log));
    EXPECT_EQ(parameters, " -Dpriam.jmx.host=h1");
    EXPECT_EQ(priam_->LastSession().propertiesWrites, 0);
    EXPECT_TRUE(priam_->LastSession().starts.empty());
  }
  EXPECT_TRUE(startFailures_.empty());
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(PriamSetupTest, CoordinatorStartFailureIsHandedBackOnce) {
  struct Case {
    const char* name;
    CQiError error;
  } cases[] = {
      {"access denied", FXErrorUtil::ErrorWin32(FXLOC, 5, "Priam refused authentication")},
      {"no Java", FXErrorUtil::ErrorWin32(FXLOC, 1067, "no Java")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    startFailures_.clear();
    priam_->SetStartError(c.error);
    std::string parameters;
    PriamUtilPtr priam;
    CQiError e = StartCoordinator(Inputs(), parameters, priam);
    EXPECT_EQ(e.GetCode(), c.error.GetCode());
    ASSERT_EQ(startFailures_.size(), 1u);
    EXPECT_EQ(startFailures_[0].GetCode(), c.error.GetCode());
    ASSERT_TRUE(priam);  // kept for OnComplete, not running
    EXPECT_FALSE(priam->getIsConnected());
    // The recipe raises nothing itself: the coordinator's error handler
    // raises the one event.
    EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
  }
}

TEST_F(PriamSetupTest, CoordinatorStopsBeforeAnyUtilityWhenTheSetUpFails) {
  {
    SCOPED_TRACE("dBASEHOME absent");
    CRegistry::Instance().Remove("Base", "dBASEHOME");
    std::string parameters;
    PriamUtilPtr priam;
    CQiError e = StartCoordinator(Inputs(), parameters, priam);
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87));
    EXPECT_EQ(e.GetMessage(), "Failed to get Torvanell Base directory");
    EXPECT_FALSE(priam);
    CRegistry::Instance().Set("Base", "dBASEHOME", base_.path());
  }
  {
    SCOPED_TRACE("working directory not creatable");
    simtest::WriteFile(work_.Sub("file"), "x");
    CoordinatorPriamInputs in = Inputs();
    in.jobResultsPath = work_.Sub("file/jr");
    std::string parameters;
    PriamUtilPtr priam;
    CQiError e = StartCoordinator(in, parameters, priam);
    EXPECT_TRUE(e.IsError());
    EXPECT_FALSE(priam);
  }
  EXPECT_TRUE(priam_->Sessions().empty());
  EXPECT_TRUE(startFailures_.empty());
}

// ------------------------------------------------------------------------ SSL

TEST_F(PriamSetupTest, SslOptionsFollowTheSwitches) {
  const std::string stores =
      std::string(" -Djavax.net.ssl.keyStore=/ks/keystore.jks -Djavax.net.ssl.trustStore=") +
      "/ts/truststore.jks" + kClientAuth;
  const std::string prefix = " -Dpriam.jmx.host=h1";
  struct Case {
    const char* name;
    CassandraPriamSetup::Variant variant;
    std::string cql, jmx;  // "" = absent
    std::string options;   // after the JMX host option
  } cases[] = {
      {"coordinator, switches absent", CassandraPriamSetup::kCoordinator, "", "",
       " -Dcql.ssl.enable=true  -Dssl.enable=true\t" + stores},
      {"node, switches absent", CassandraPriamSetup::kNode, "", "",
       " -Dcql.ssl.enable=true  -Dssl.enable=true " + stores},
      {"coordinator, both 1", CassandraPriamSetup::kCoordinator, "1", "1",
       " -Dcql.ssl.enable=false  -Dssl.enable=false "},
      {"node, both 1", CassandraPriamSetup::kNode, "1", "1",
       " -Dcql.ssl.enable=false  -Dssl.enable=false "},
      {"coordinator, CQL off", CassandraPriamSetup::kCoordinator, "1", "0",
       " -Dcql.ssl.enable=false  -Dssl.enable=true\t" + stores},
      {"node, JMX off", CassandraPriamSetup::kNode, "0", "1",
       " -Dcql.ssl.enable=true  -Dssl.enable=false " + stores},
  };
  SetSwitch("nCassandraRemoteJMXEnabled", "1");
  const std::string auth = AuthXml(1, Encrypt("ks secret"), Encrypt("ts secret"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetSwitch("nCassandraCqlSslDisabled", c.cql);
    SetSwitch("nCassandraJmxSslDisabled", c.jmx);
    CLogCapture log;
    const bool coordinator = c.variant == CassandraPriamSetup::kCoordinator;
    if (coordinator) {
      CoordinatorPriamInputs in = Inputs();
      in.authConfigXml = auth;
      std::string parameters = prefix;
      PriamUtilPtr priam;
      ASSERT_FALSE(StartCoordinator(in, parameters, priam).IsError());
      EXPECT_EQ(parameters, prefix + c.options);
    } else {
      PriamByInstance map;
      ASSERT_FALSE(InitializeNode({{"node1", Instance(conf_)}},
                                  JmxXml("h1", 7199, false, "", "", ""), auth, true, map)
                       .IsError());
    }
    ScriptedPriam::Session s = priam_->LastSession();
    ASSERT_EQ(s.starts.size(), 1u);
    EXPECT_EQ(s.starts[0].jvmOptions, prefix + c.options);
    EXPECT_EQ(s.properties.at("priam.keystore.password"), "a3Mgc2VjcmV0");
    EXPECT_EQ(s.properties.at("priam.truststore.password"), "dHMgc2VjcmV0");
    EXPECT_EQ(Has(log.Texts(-1), "Failed to check if SSL is disabled for CQL"), c.cql.empty());
    EXPECT_EQ(Has(log.Texts(-1), "Failed to check if SSL is disabled for JMX"), c.jmx.empty());
    // The coordinator logs the options before the stores are added, the node
    // after.
    std::string logged =
        coordinator ? prefix + c.options.substr(0, c.options.find(" -Djavax")) : prefix + c.options;
    EXPECT_TRUE(Has(log.Texts(2), "Priam additional parameters: " + logged)) << logged;
    EXPECT_EQ(Has(log.Texts(2), "Appending SSL keystore/truststore parameters"),
              coordinator && c.options.find(" -Djavax") != std::string::npos);
  }
}

TEST_F(PriamSetupTest, SslOffAddsNothing) {
  App::AuthConfig withoutSsl;
  std::string noSslRecord;
  ASSERT_EQ(withoutSsl.serialize(noSslRecord), 0);
  for (const std::string& auth : {AuthXml(0, kNotEncrypted, kNotEncrypted), noSslRecord}) {
    {
      CoordinatorPriamInputs in = Inputs();
      in.authConfigXml = auth;
      std::string parameters;
      PriamUtilPtr priam;
      ASSERT_FALSE(StartCoordinator(in, parameters, priam).IsError());
      EXPECT_EQ(priam_->LastSession().properties.size(), 3u);
      EXPECT_EQ(priam_->LastSession().starts.at(0).jvmOptions, "");
    }
    {
      PriamByInstance map;
      ASSERT_FALSE(InitializeNode({{"node1", Instance(conf_)}}, "", auth, true, map).IsError());
      EXPECT_EQ(priam_->LastSession().properties, (Properties{{"priam.jmx.port", "7199"}}));
      EXPECT_EQ(priam_->LastSession().starts.at(0).jvmOptions, "");
    }
  }
}

// ----------------------------------------------------------------------- node

TEST_F(PriamSetupTest, NodeStartsOnePriamPerInstanceInNameOrder) {
  CLogCapture log;
  const std::string conf2 = WriteConf("conf2", "10.0.0.6", "9042", "7299");
  NodePriamInstance second = Instance(conf2 + ":/host/etc/cassandra");
  second.javaHome.clear();
  PriamByInstance map;
  ASSERT_FALSE(
      InitializeNode({{"node2", second}, {"node1", Instance(conf_)}}, "", "", true, map).IsError());

  auto sessions = priam_->Sessions();
  ASSERT_EQ(sessions.size(), 2u);
  struct Expect {
    std::string name, conf, java, jmxPort;
  } expected[] = {{"node1", conf_, "/opt/java/java", "7199"}, {"node2", conf2, "", "7299"}};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(expected[i].name);
    ASSERT_EQ(sessions[i].starts.size(), 1u);
    const auto& spec = sessions[i].starts[0];
    EXPECT_EQ(spec.confLocation, expected[i].conf);
    EXPECT_EQ(spec.javaPath, expected[i].java);
    EXPECT_EQ(spec.baseDir, base_.path());
    EXPECT_EQ(spec.workingDir, work_.Sub("njr/client1/" + expected[i].name));
    EXPECT_TRUE(CQiPath::IsDirectory(spec.workingDir.c_str()));
    EXPECT_EQ(spec.jvmOptions, "");
    EXPECT_EQ(sessions[i].properties, (Properties{{"priam.jmx.port", expected[i].jmxPort}}));
    ASSERT_TRUE(map.at(expected[i].name));
    EXPECT_TRUE(map.at(expected[i].name)->getIsConnected());
    EXPECT_TRUE(Has(log.Texts(0), "Initializing Priam for instance " + expected[i].name));
  }
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(PriamSetupTest, NodeWithoutJmxPortWritesNoPropertiesButStillHandsOverOptions) {
  const std::string bare = WriteConf("bare", "10.0.0.7", "9042", "");
  PriamByInstance map;
  ASSERT_FALSE(InitializeNode({{"node1", Instance(bare)}}, "", "", true, map).IsError());
  ScriptedPriam::Session s = priam_->LastSession();
  EXPECT_EQ(s.propertiesWrites, 0);
  ASSERT_EQ(s.starts.size(), 1u);
  EXPECT_TRUE(s.starts[0].properties.empty());
  EXPECT_EQ(s.starts[0].jvmOptions, "");
}

TEST_F(PriamSetupTest, NodeJmxCredentialsAndRemoteHost) {
  struct Case {
    std::string remote;
    std::string options;
  } cases[] = {{"", ""}, {"1", " -Dpriam.jmx.host=10.1.1.1"}};
  const std::string jmx = JmxXml("10.1.1.1", 7999, true, "jmxuser", Encrypt("jmx secret"), "svc");
  for (const auto& c : cases) {
    SCOPED_TRACE("remote=" + c.remote);
    SetSwitch("nCassandraRemoteJMXEnabled", c.remote);
    PriamByInstance map;
    ASSERT_FALSE(InitializeNode({{"node1", Instance(conf_)}}, jmx, "", true, map).IsError());
    ScriptedPriam::Session s = priam_->LastSession();
    // The node's JMX port is its own, not the JMX record's.
    EXPECT_EQ(s.properties, (Properties{{"priam.jmx.port", "7199"},
                                        {"priam.jmx.user", "jmxuser"},
                                        {"priam.jmx.token", "am14IHNlY3JldA=="}}));
    EXPECT_EQ(s.starts.at(0).jvmOptions, c.options);
  }
}

TEST_F(PriamSetupTest, NodeStartFailureRaisesItsEventAndTheNextInstanceStillStarts) {
  const CQiError failure = FXErrorUtil::ErrorWin32(FXLOC, 1067, "no Java");
  const std::string conf2 = WriteConf("conf2", "10.0.0.6", "9042", "7199");
  priam_->SetStartError(failure, conf_);
  PriamByInstance map;
  ASSERT_FALSE(
      InitializeNode({{"node1", Instance(conf_)}, {"node2", Instance(conf2)}}, "", "", true, map)
          .IsError());
  ASSERT_EQ(map.size(), 2u);
  ASSERT_TRUE(map["node1"]);
  EXPECT_FALSE(map["node1"]->getIsConnected());
  EXPECT_TRUE(map["node2"]->getIsConnected());
  auto events = CEventJournal::Instance().Entries();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kStartFailed);
  EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
  EXPECT_EQ(events[0].args, std::vector<std::string>{failure.AsString(2)});
  EXPECT_NE(events[0].args[0].find("no Java"), std::string::npos);
}

TEST_F(PriamSetupTest, NodeAccessDeniedRaisesOnlyItsEventAndStopsTheWalk) {
  const std::string conf2 = WriteConf("conf2", "10.0.0.6", "9042", "7199");
  priam_->SetAccessDeniedAtStart(conf_);
  PriamByInstance map;
  CQiError e =
      InitializeNode({{"node1", Instance(conf_)}, {"node2", Instance(conf2)}}, "", "", true, map);
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 5)) << e.AsString();
  ASSERT_EQ(map.size(), 1u);
  EXPECT_FALSE(map["node1"]->getIsConnected());
  EXPECT_EQ(priam_->Sessions().size(), 1u);
  auto events = CEventJournal::Instance().Entries();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].id, kAccessDenied);
  EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
  EXPECT_TRUE(events[0].args.empty());
}

TEST_F(PriamSetupTest, NodeFailuresBeforeTheStartEndTheWalk) {
  const std::string conf2 = WriteConf("conf2", "10.0.0.6", "9042", "7199");
  const std::map<std::string, NodePriamInstance> two{{"node1", Instance(conf_)},
                                                     {"node2", Instance(conf2)}};
  struct Case {
    const char* name;
    std::string jmx, auth;
    std::string message;
  } cases[] = {
      {"JMX password", JmxXml("h", 1, true, "u", kNotEncrypted, ""), "",
       "Failed to decrypt the JMX password"},
      {"keystore password", "", AuthXml(1, kNotEncrypted, Encrypt("ts")),
       "Failed to decrypt the keystore password"},
      {"truststore password", "", AuthXml(1, Encrypt("ks"), kNotEncrypted),
       "Failed to decrypt the truststore password"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    priam_->ClearScript();
    size_t before = priam_->Sessions().size();
    CLogCapture log;
    PriamByInstance map;
    CQiError e = InitializeNode(two, c.jmx, c.auth, true, map);
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 13)) << e.AsString();
    EXPECT_EQ(e.GetMessage(), c.message);
    EXPECT_TRUE(Has(log.Texts(-1), c.message));
    // The first instance keeps its utility, not started; the second is not
    // visited.
    ASSERT_EQ(map.size(), 1u);
    EXPECT_FALSE(map["node1"]->getIsConnected());
    auto sessions = priam_->Sessions();
    ASSERT_EQ(sessions.size(), before + 1);
    EXPECT_TRUE(sessions.back().starts.empty());
    EXPECT_EQ(sessions.back().propertiesWrites, 0);
  }
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(PriamSetupTest, NodeWithoutBaseDirectoryOrWorkingDirectoryMakesNoUtility) {
  const std::map<std::string, NodePriamInstance> one{{"node1", Instance(conf_)}};
  {
    SCOPED_TRACE("dBASEHOME absent");
    CRegistry::Instance().Remove("Base", "dBASEHOME");
    PriamByInstance map;
    CQiError e = InitializeNode(one, "", "", true, map);
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87));
    EXPECT_EQ(e.GetMessage(), "Failed to get Torvanell Base directory");
    EXPECT_TRUE(map.empty());
    CRegistry::Instance().Set("Base", "dBASEHOME", base_.path());
  }
  {
    SCOPED_TRACE("working directory not creatable");
    simtest::WriteFile(work_.Sub("file"), "x");
    PriamByInstance map;
    CQiError e =
        CassandraPriamSetup::InitializeNodePriams(one, work_.Sub("file"), "", "", true, map);
    EXPECT_TRUE(e.IsError());
    EXPECT_TRUE(map.empty());
  }
  EXPECT_TRUE(priam_->Sessions().empty());
}

TEST_F(PriamSetupTest, NodeWithoutStartOnlyMakesTheUtilities) {
  SetSwitch("nCassandraRemoteJMXEnabled", "1");
  PriamByInstance map;
  ASSERT_FALSE(InitializeNode({{"node1", Instance(conf_)}, {"node2", Instance(conf_)}},
                              JmxXml("h", 1, true, "u", kNotEncrypted, ""),
                              AuthXml(1, kNotEncrypted, kNotEncrypted), false, map)
                   .IsError());
  ASSERT_EQ(map.size(), 2u);
  for (const auto& s : priam_->Sessions()) {
    EXPECT_TRUE(s.starts.empty());
    EXPECT_EQ(s.propertiesWrites, 0);
  }
  EXPECT_EQ(map["node1"]->priamAdditionalParameters, "");
}

TEST_F(PriamSetupTest, NodeFromRecordTakesJavaHomeAndConfigurationField) {
  App::CassandraNode node;
  node.setJavaHome("/usr/lib/jvm/java-8");
  node.setConfigDirectory("/etc/cassandra:/host/etc/cassandra");
  NodePriamInstance instance = NodePriamInstance::FromNode(node);
  EXPECT_EQ(instance.javaHome, "/usr/lib/jvm/java-8");
  EXPECT_EQ(instance.configDirectory, "/etc/cassandra:/host/etc/cassandra");
}

TEST_F(PriamSetupTest, NodeConfigurationLocationTakesTheFirstOfExactlyTwoParts) {
  struct Case {
    std::string field, location;
  } cases[] = {
      {"/etc/cassandra:/host/etc", "/etc/cassandra"},
      {"/etc/cassandra", "/etc/cassandra"},
      {"/a:/b:/c", "/a:/b:/c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    PriamByInstance map;
    ASSERT_FALSE(InitializeNode({{"n", Instance(c.field)}}, "", "", false, map).IsError());
    EXPECT_EQ(priam_->LastSession().context.confLocation, c.location);
  }
}

// ----------------------------------------------------------------- node stop

TEST_F(PriamSetupTest, UninitializeStopsRunningPriamsAndLeavesTheRestAlone) {
  const std::string conf2 = WriteConf("conf2", "10.0.0.6", "9042", "7199");
  const std::string conf3 = WriteConf("conf3", "10.0.0.7", "9042", "7199");
  priam_->SetStartError(FXErrorUtil::ErrorWin32(FXLOC, 1067, "no Java"), conf2);
  PriamByInstance map;
  ASSERT_FALSE(
      InitializeNode({{"a", Instance(conf_)}, {"b", Instance(conf2)}, {"c", Instance(conf3)}}, "",
                     "", true, map)
          .IsError());
  EXPECT_FALSE(CassandraPriamSetup::UninitializeNodePriams(map).IsError());
  auto sessions = priam_->Sessions();
  ASSERT_EQ(sessions.size(), 3u);
  EXPECT_EQ(sessions[0].stops, 1);
  EXPECT_EQ(sessions[1].stops, 0);  // never running: left alone
  EXPECT_EQ(sessions[2].stops, 1);
  ASSERT_EQ(map.size(), 3u);  // the utilities stay
  for (const auto& entry : map) EXPECT_FALSE(entry.second->getIsConnected()) << entry.first;
}

TEST_F(PriamSetupTest, UninitializeEndsAtAnEntryWithoutUtility) {
  const std::string conf3 = WriteConf("conf3", "10.0.0.7", "9042", "7199");
  PriamByInstance map;
  ASSERT_FALSE(InitializeNode({{"a", Instance(conf_)}, {"c", Instance(conf3)}}, "", "", true, map)
                   .IsError());
  map["b"] = PriamUtilPtr();
  CQiError e = CassandraPriamSetup::UninitializeNodePriams(map);
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87));
  EXPECT_EQ(e.GetMessage(), "NULL CassandraControllerClientConfig while stopping Priam");
  EXPECT_FALSE(map["a"]->getIsConnected());
  EXPECT_EQ(priam_->Sessions()[0].stops, 1);
  EXPECT_TRUE(map["c"]->getIsConnected());  // not visited
  EXPECT_EQ(priam_->Sessions()[1].stops, 0);
}

}  // namespace
