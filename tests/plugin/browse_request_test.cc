// The cluster browser's request handling against a scripted Priam: request
// validation and its reasons, the gateway settings from the stored instance
// and from the request (passwords, Priam properties, JVM options), the
// browse's folder and Priam's stop after success and after failure.

#include <regex>

#include "BrowseFixture.h"
#include "platform/base/FXErrorUtil.h"

namespace browsetest {
namespace {

using Properties = std::map<std::string, std::string>;

const char* const kClientAuth =
    " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
    " -Dcom.sun.management.jmxremote.registry.ssl=true";

App::JMXConnection Jmx(const std::string& host, const std::string& user,
                       const std::string& encryptedPassword) {
  App::JMXConnection jmx;
  jmx.setJmxHost(host);
  if (!user.empty()) {
    UserCredentials credentials;
    credentials.setUserName(user);
    credentials.setPassword(encryptedPassword);
    jmx.setCredentials(credentials);
  }
  return jmx;
}

App::AuthConfig Ssl(bool on, const std::string& keystorePassword,
                    const std::string& truststorePassword) {
  App::CassandraSSLConfig ssl;
  ssl.setSslEnabled(on ? 1 : 0);
  ssl.setKeystorePath("/etc/ks.jks");
  ssl.setKeystorePassword(keystorePassword);
  ssl.setTruststorePath("/etc/ts.jks");
  ssl.setTruststorePassword(truststorePassword);
  App::AuthConfig auth;
  auth.setSsl(ssl);
  return auth;
}

class BrowseRequestTest : public BrowseTest {
 protected:
  GatewaySettings Gateway() {
    GatewaySettings gateway;
    gateway.configFile = ScriptedConf();
    return gateway;
  }
  // The browse succeeded with one item, its Priam was stopped and its folder
  // is gone.
  void ExpectCleanSuccess(const Outcome& outcome) {
    EXPECT_FALSE(outcome.Failed()) << outcome.error.AsString(2);
    EXPECT_EQ(outcome.items.size(), 1u);
    EXPECT_FALSE(outcome.generic.isSet(1));
    EXPECT_FALSE(outcome.generic.isSet(2));
    ExpectStoppedAndRemoved();
  }
  void ExpectStoppedAndRemoved() {
    for (const auto& session : Scripted().Sessions()) {
      EXPECT_FALSE(session.running);
      EXPECT_FALSE(std::filesystem::exists(session.context.workingDir))
          << session.context.workingDir;
    }
    EXPECT_TRUE(TempEntries().empty());
  }
};

// ---- validation ----

struct InvalidRequest {
  const char* name;
  std::function<void(App::MachineBrowseReq&, GatewaySettings&)> change;
  std::string reason;
  uint32_t code;
};

TEST_F(BrowseRequestTest, EachInvalidRequestGivesItsCodeAndReasonAndStartsNothing) {
  Scripted();
  CRegistry::Instance().Set("Cassandra", "sCassandraiConfigFilePath", "/etc/cassandra.yaml");
  const std::vector<InvalidRequest> cases = {
      {"no browse properties",
       [](App::MachineBrowseReq& r, GatewaySettings&) { r = App::MachineBrowseReq(); },
       "Invalid DistributedAppsBrowseProperties", kErrNo22},
      {"no subclient entity",
       [](App::MachineBrowseReq& r, GatewaySettings&) {
         App::DistributedAppsBrowseProperties p;
         r.setBrowseProperties(p);
       },
       "Invalid SubClientEntity", kErrNo22},
      {"no cluster configuration",
       [](App::MachineBrowseReq& r, GatewaySettings&) { r = Request(0, std::nullopt, nullptr); },
       "Invalid DistributedClusterConfig", kErrNo22},
      {"no Cassandra configuration",
       [](App::MachineBrowseReq& r, GatewaySettings&) {
         App::DistributedAppsBrowseProperties p = *r.getBrowseProperties();
         p.setClusterConfig(App::DistributedClusterConfig());
         r.setBrowseProperties(p);
       },
       "Invalid CassandraConfig", kErrNo22},
      {"no gateway node",
       [](App::MachineBrowseReq& r, GatewaySettings&) {
         App::DistributedAppsBrowseProperties p = *r.getBrowseProperties();
         App::DistributedClusterConfig cluster;
         cluster.setCassandraConfig(App::CassandraConfig());
         p.setClusterConfig(cluster);
         r.setBrowseProperties(p);
       },
       "Invalid CassandraGatewayNode", kErrNo22},
      {"no gateway Cassandra node",
       [](App::MachineBrowseReq& r, GatewaySettings&) {
         App::DistributedAppsBrowseProperties p = *r.getBrowseProperties();
         App::CassandraConfig cassandra;
         cassandra.setGatewayNode(App::CassandraGatewayNode());
         App::DistributedClusterConfig cluster;
         cluster.setCassandraConfig(cassandra);
         p.setClusterConfig(cluster);
         r.setBrowseProperties(p);
       },
       "Invalid CassandraNode", kErrNo22},
      {"configuration file field empty (the registry is not asked)",
       [](App::MachineBrowseReq& r, GatewaySettings& g) {
         g.configFile = std::string();
         r = Request(0, std::nullopt, &g);
       },
       "Cassandra config file path not set", kErrNo22},
      {"CQL password not encrypted",
       [](App::MachineBrowseReq& r, GatewaySettings& g) {
         g.cqlUser = "cassandra";
         g.cqlPassword = "plain-text";
         r = Request(0, std::nullopt, &g);
       },
       "Failed to decrypt the CQL password", kWin32_22},
      {"JMX password not encrypted",
       [](App::MachineBrowseReq& r, GatewaySettings& g) {
         g.jmx = Jmx("10.0.1.1", "jmxuser", "plain-text");
         r = Request(0, std::nullopt, &g);
       },
       "Failed to decrypt the JMX password", kWin32_13},
      {"keystore password not encrypted",
       [](App::MachineBrowseReq& r, GatewaySettings& g) {
         g.auth = Ssl(true, "plain", Encrypt("trust"));
         r = Request(0, std::nullopt, &g);
       },
       "Failed to decrypt the keystore password", kWin32_13},
      {"truststore password not encrypted",
       [](App::MachineBrowseReq& r, GatewaySettings& g) {
         g.auth = Ssl(true, Encrypt("key"), "plain");
         r = Request(0, std::nullopt, &g);
       },
       "Failed to decrypt the truststore password", kWin32_13},
      {"existing subclient without a gateway client",
       [](App::MachineBrowseReq& r, GatewaySettings& g) { r = Request(5, std::nullopt, &g); },
       "Invalid Client Entity object", kErrNo22},
      {"existing subclient with gateway client id 0",
       [](App::MachineBrowseReq& r, GatewaySettings& g) {
         r = Request(5, std::nullopt, &g);
         TqEntities::ClientEntity client;
         client.setClientId(0);
         r.setGatewayClient(client);
       },
       "Invalid Client Entity object", kErrNo22},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewaySettings gateway = Gateway();
    App::MachineBrowseReq request = Request(0, std::nullopt, &gateway);
    c.change(request, gateway);
    Outcome outcome = Browse(request);
    EXPECT_EQ(outcome.error.GetCode(), c.code) << outcome.error.AsString(2);
    EXPECT_EQ(outcome.error.GetMessage(), kPrefix + c.reason);
    EXPECT_EQ(outcome.generic.getErrorCode(), 1);
    EXPECT_EQ(outcome.Message(), kPrefix + c.reason);
    EXPECT_TRUE(outcome.items.empty());
  }
  EXPECT_TRUE(Scripted().Sessions().empty());
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(BrowseRequestTest, MissingArgumentsAreInvalidAndOnlyAPresentGenericResponseIsFilled) {
  GatewaySettings gateway = Gateway();
  App::MachineBrowseReq request = Request(0, std::nullopt, &gateway);
  App::MachineBrowseResp response;
  App::GenericResp generic;

  CQiError e = Browser().MachineBrowse("", nullptr, &request, nullptr, &generic);
  EXPECT_EQ(e.GetCode(), kErrNo22);
  EXPECT_EQ(generic.getErrorMessage(),
            std::string(kPrefix) +
                "Invalid argument pass to remoteMachineBrowse (machineBrowseResp==NULL || "
                "genericResp==NULL)");

  e = Browser().MachineBrowse("", nullptr, &request, &response, nullptr);
  EXPECT_EQ(e.GetCode(), kErrNo22);
  EXPECT_TRUE(response.getBrowseItems().empty());

  App::GenericResp second;
  e = Browser().MachineBrowse("", nullptr, nullptr, &response, &second);
  EXPECT_EQ(e.GetCode(), kErrNo22);
  EXPECT_EQ(second.getErrorCode(), 1);
  EXPECT_EQ(second.getErrorMessage(),
            std::string(kPrefix) +
                "Invalid argument pass to remoteMachineBrowse (MachineBrowseReq == NULL)");
}

TEST_F(BrowseRequestTest, WithoutTheBaseDirectoryTheBrowseFailsBeforeAnyFolder) {
  Scripted();
  CRegistry::Instance().Remove("Base", "dBASEHOME");
  GatewaySettings gateway = Gateway();
  Outcome outcome = Browse(Request(0, std::nullopt, &gateway));
  EXPECT_EQ(outcome.error.GetCode(), kWin32_87);
  EXPECT_EQ(outcome.Message(), std::string(kPrefix) + "Failed to get Torvanell Base directory");
  EXPECT_TRUE(Scripted().Sessions().empty());
}

// ---- settings ----

TEST_F(BrowseRequestTest, RequestSettingsGivePriamTheDecryptedPasswordsInBase64) {
  Scripted();
  GatewaySettings gateway = Gateway();
  gateway.cqlUser = "cassandra";
  gateway.cqlPassword = Encrypt("cql secret");
  gateway.jmx = Jmx("jmx.host", "jmxuser", Encrypt("jmx secret"));
  gateway.auth = Ssl(true, Encrypt("key secret"), Encrypt("trust secret"));
  CRegistry::Instance().Set("Cassandra", "nCassandraRemoteJMXEnabled", "1");

  Outcome outcome = Browse(Request(std::nullopt, std::nullopt, &gateway));
  ExpectCleanSuccess(outcome);
  ASSERT_EQ(Scripted().Sessions().size(), 1u);
  const auto session = Scripted().LastSession();
  EXPECT_EQ(session.properties, (Properties{{"priam.cqlhost", "10.0.1.1"},
                                            {"priam.cqlport", "9042"},
                                            {"priam.cqlusername", "cassandra"},
                                            {"priam.cqluserpassword", B64("cql secret")},
                                            {"priam.jmx.port", "7199"},
                                            {"priam.jmx.user", "jmxuser"},
                                            {"priam.jmx.token", B64("jmx secret")},
                                            {"priam.keystore.password", B64("key secret")},
                                            {"priam.truststore.password", B64("trust secret")}}));
  ASSERT_EQ(session.starts.size(), 1u);
  EXPECT_EQ(session.starts[0].jvmOptions,
            std::string(" -Dpriam.jmx.host=jmx.host -Dcql.ssl.enable=true  -Dssl.enable=true "
                        " -Djavax.net.ssl.keyStore=/etc/ks.jks"
                        " -Djavax.net.ssl.trustStore=/etc/ts.jks") +
                kClientAuth);
  EXPECT_EQ(session.starts[0].javaPath, "/opt/java/java");
  EXPECT_EQ(session.context.confLocation, *gateway.configFile);
}

TEST_F(BrowseRequestTest, StoredInstanceSettingsAreReadForAnInstanceIdAboveOne) {
  Scripted();
  SInstanceSettings settings = InstanceSettings();
  settings.gatewayUser = "cassandra";
  settings.gatewayPassword = "stored cql";
  settings.jmx = SJmxSettings{"jmx.stored", 7199, "", "jmxuser", "stored jmx"};
  settings.ssl = SSslSettings{true, "/etc/ks.jks", "stored key", "/etc/ts.jks", "stored trust"};
  Instance(settings);
  CRegistry::Instance().Set("Cassandra", "nCassandraCqlSslDisabled", "1");
  CRegistry::Instance().Set("Cassandra", "nCassandraJmxSslDisabled", "1");

  // The request's own configuration is not read.
  GatewaySettings ignored;
  ignored.address = "192.168.9.9";
  ignored.configFile = "/nowhere/cassandra.yaml";
  Outcome outcome = Browse(Request(std::nullopt, 7, &ignored));
  ExpectCleanSuccess(outcome);
  const auto session = Scripted().LastSession();
  EXPECT_EQ(session.context.confLocation, settings.cassandraConfigFile);
  EXPECT_EQ(session.properties.at("priam.cqlhost"), "10.0.1.1");
  EXPECT_EQ(session.properties.at("priam.cqluserpassword"), B64("stored cql"));
  EXPECT_EQ(session.properties.at("priam.jmx.token"), B64("stored jmx"));
  EXPECT_EQ(session.properties.at("priam.keystore.password"), B64("stored key"));
  EXPECT_EQ(session.properties.at("priam.truststore.password"), B64("stored trust"));
  // Both SSL switches off: no stores, and remote JMX is not enabled.
  EXPECT_EQ(session.starts.at(0).jvmOptions, " -Dcql.ssl.enable=false  -Dssl.enable=false ");
  EXPECT_EQ(session.starts.at(0).javaPath, "/usr/lib/jvm/java-11/java");
}

TEST_F(BrowseRequestTest, InstanceIdOneOrUnsetTakesTheRequestConfiguration) {
  Scripted();
  Instance(InstanceSettings());
  for (std::optional<int64_t> id : {std::optional<int64_t>(1), std::optional<int64_t>()}) {
    GatewaySettings gateway = Gateway();
    gateway.address = "10.9.9.9";
    Outcome outcome = Browse(Request(std::nullopt, id, &gateway));
    ExpectCleanSuccess(outcome);
    EXPECT_EQ(Scripted().LastSession().properties.at("priam.cqlhost"), "10.9.9.9");
  }
}

TEST_F(BrowseRequestTest, ConfigurationFileFallsBackToTheRegistryOnlyWhenNotGiven) {
  Scripted();
  const std::string registryFile = ScriptedConf();
  CRegistry::Instance().Set("Cassandra", "sCassandraiConfigFilePath", registryFile);
  // Request without the field.
  GatewaySettings gateway = Gateway();
  gateway.configFile.reset();
  ExpectCleanSuccess(Browse(Request(std::nullopt, std::nullopt, &gateway)));
  EXPECT_EQ(Scripted().LastSession().context.confLocation, registryFile);
  // Stored instance without a configuration file.
  SInstanceSettings settings = InstanceSettings();
  settings.cassandraConfigFile.clear();
  Instance(settings);
  ExpectCleanSuccess(Browse(InstanceRequest()));
  EXPECT_EQ(Scripted().LastSession().context.confLocation, registryFile);
  // Neither: the reason.
  CRegistry::Instance().Remove("Cassandra", "sCassandraiConfigFilePath");
  Outcome outcome = Browse(InstanceRequest());
  EXPECT_EQ(outcome.error.GetCode(), kErrNo22);
  EXPECT_EQ(outcome.Message(), std::string(kPrefix) + "Cassandra config file path not set");
}

TEST_F(BrowseRequestTest, StoredPasswordsThatDoNotDecryptFailWithTheirReason) {
  Scripted();
  struct Case {
    const char* what;
    std::function<void(SInstanceSettings&)> set;
    std::function<void()> corrupt;  // after registration
    std::string reason;
    uint32_t code;
  };
  // A stored password that no longer decrypts: the suite's key changed
  // (it lives under the base directory).
  int bases = 0;
  const auto newKey = [this, &bases] {
    CRegistry::Instance().Set("Base", "dBASEHOME", home_.Sub("base" + std::to_string(++bases)));
  };
  const std::vector<Case> cases = {
      {"CQL", [](SInstanceSettings& s) { s.gatewayUser = "u", s.gatewayPassword = "p"; }, newKey,
       "Failed to decrypt the CQL password", kWin32_22},
      {"JMX",
       [](SInstanceSettings& s) {
         s.jmx = SJmxSettings{"h", 7199, "", "u", "p"};
       },
       newKey, "Failed to decrypt the JMX password", kWin32_13},
      {"keystore",
       [](SInstanceSettings& s) {
         s.ssl = SSslSettings{true, "/k", "p", "/t", "q"};
       },
       newKey, "Failed to decrypt the keystore password", kWin32_13},
  };
  uint64_t id = 7;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SInstanceSettings settings = InstanceSettings();
    settings.id = ++id;
    c.set(settings);
    Instance(settings);
    c.corrupt();
    Outcome outcome = Browse(Request(std::nullopt, static_cast<int64_t>(id), nullptr));
    EXPECT_EQ(outcome.error.GetCode(), c.code);
    EXPECT_EQ(outcome.Message(), kPrefix + c.reason);
  }
  EXPECT_TRUE(Scripted().Sessions().empty());
}

TEST_F(BrowseRequestTest, EmptyUsersAndSwitchesLeaveTheirPropertiesAndOptionsOut) {
  Scripted();
  CRegistry::Instance().Set("Cassandra", "nCassandraRemoteJMXEnabled", "1");
  GatewaySettings gateway = Gateway();
  gateway.javaHome.reset();
  gateway.jmx = Jmx("", "", "");
  Outcome outcome = Browse(Request(std::nullopt, std::nullopt, &gateway));
  ExpectCleanSuccess(outcome);
  const auto session = Scripted().LastSession();
  EXPECT_EQ(session.properties, (Properties{{"priam.cqlhost", "10.0.1.1"},
                                            {"priam.cqlport", "9042"},
                                            {"priam.jmx.port", "7199"}}));
  // Remote JMX with an empty host still names the option.
  EXPECT_EQ(session.starts.at(0).jvmOptions, " -Dpriam.jmx.host=");
  EXPECT_EQ(session.starts.at(0).javaPath, "");
}

TEST_F(BrowseRequestTest, ABrowseDoesNotInheritTheCredentialsOfTheOneBefore) {
  Scripted();
  GatewaySettings first = Gateway();
  first.cqlUser = "cassandra";
  first.cqlPassword = Encrypt("secret");
  first.jmx = Jmx("h", "jmxuser", Encrypt("jmx"));
  ExpectCleanSuccess(Browse(Request(std::nullopt, std::nullopt, &first)));
  GatewaySettings second = Gateway();
  ExpectCleanSuccess(Browse(Request(std::nullopt, std::nullopt, &second)));
  const Properties properties = Scripted().LastSession().properties;
  EXPECT_EQ(properties.count("priam.cqlusername"), 0u);
  EXPECT_EQ(properties.count("priam.jmx.user"), 0u);
}

// ---- folder and Priam ----

TEST_F(BrowseRequestTest, PriamRunsInANewUuidFolderUnderTempThatGoesAfterTheBrowse) {
  Scripted();
  GatewaySettings gateway = Gateway();
  for (std::optional<int64_t> subclient :
       {std::optional<int64_t>(), std::optional<int64_t>(0), std::optional<int64_t>(-2),
        std::optional<int64_t>(-1)}) {
    ExpectCleanSuccess(Browse(Request(subclient, std::nullopt, &gateway)));
    const std::string dir = Scripted().LastSession().context.workingDir;
    EXPECT_TRUE(std::regex_match(
        dir, std::regex(TempFolder() +
                        "/[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << dir;
  }
  const auto sessions = Scripted().Sessions();
  ASSERT_EQ(sessions.size(), 4u);
  EXPECT_NE(sessions[0].context.workingDir, sessions[1].context.workingDir);
  // Subclient -1 is a content browse, the others node browses.
  EXPECT_EQ(sessions[3].requests.back().resource, "getMeta");
  EXPECT_EQ(sessions[0].requests.back().resource, "status");
  for (const auto& s : sessions) EXPECT_EQ(s.stops, 1);
}

TEST_F(BrowseRequestTest, AnExistingSubclientRunsPriamInTheGatewayJobResultsAndLeavesNothing) {
  Scripted();
  GatewaySettings gateway = Gateway();
  App::MachineBrowseReq request = Request(5, std::nullopt, &gateway);
  WithGatewayClient(request);
  const std::string jobResults = CClientContext::JobResultsDirectory("cluster1");
  Outcome outcome = Browse(request);
  ExpectCleanSuccess(outcome);
  EXPECT_EQ(Scripted().LastSession().context.workingDir, jobResults + "/2/5/cluster1");
  EXPECT_EQ(Scripted().LastSession().requests.back().resource, "getMeta");
  EXPECT_FALSE(std::filesystem::exists(jobResults + "/2"));
  EXPECT_TRUE(std::filesystem::exists(jobResults));
  // No temporary folder was made for it.
  EXPECT_FALSE(std::filesystem::exists(TempFolder()));
}

TEST_F(BrowseRequestTest, AGatewayClientNameThatCannotNameAFolderIsRefused) {
  Scripted();
  GatewaySettings gateway = Gateway();
  for (const std::string& name : {std::string(".."), std::string("a/../../b")}) {
    SCOPED_TRACE(name);
    const uint64_t id = Client(name, {});
    App::MachineBrowseReq request = Request(5, std::nullopt, &gateway);
    TqEntities::ClientEntity client;
    client.setClientId(static_cast<int64_t>(id));
    request.setGatewayClient(client);
    Outcome outcome = Browse(request);
    EXPECT_EQ(outcome.error.GetCode(), kWin32_87);
    EXPECT_EQ(outcome.Message(),
              std::string(kPrefix) + "Gateway client name [" + name + "] cannot name a folder");
  }
  EXPECT_TRUE(Scripted().Sessions().empty());
  EXPECT_FALSE(std::filesystem::exists(TempFolder()));
}

TEST_F(BrowseRequestTest, AFailedBrowseAlsoStopsPriamAndRemovesItsFolder) {
  Scripted().SetError("status", FXErrorUtil::ErrorWin32(FXLOC, 1359, "ring unreadable"), "");
  GatewaySettings gateway = Gateway();
  App::MachineBrowseReq subclientRequest = Request(5, std::nullopt, &gateway);
  WithGatewayClient(subclientRequest);
  Scripted().SetError("getMeta", FXErrorUtil::ErrorWin32(FXLOC, 1359, "no schema"), "");
  for (const App::MachineBrowseReq& request :
       {Request(std::nullopt, std::nullopt, &gateway), subclientRequest}) {
    Outcome outcome = Browse(request);
    EXPECT_TRUE(outcome.Failed());
    EXPECT_EQ(outcome.generic.getErrorCode(), 1);
    EXPECT_EQ(Scripted().LastSession().stops, 1);
  }
  ExpectStoppedAndRemoved();
  EXPECT_FALSE(std::filesystem::exists(CClientContext::JobResultsDirectory("cluster1") + "/2"));
}

TEST_F(BrowseRequestTest, APriamThatDoesNotStartGivesItsReasonAndLeavesNoFolder) {
  struct Case {
    CQiError start;
    std::string reason;
    uint32_t code;
  };
  const std::vector<Case> cases = {
      {FXErrorUtil::ErrorWin32(FXLOC, 5, "denied"), "JMX Authentication Error", kWin32_5},
      {FXErrorUtil::ErrorWin32(FXLOC, 2, "no java"), "Failed to start Priam service", kWin32_1359},
  };
  for (const auto& c : cases) {
    Scripted().SetStartError(c.start);
    GatewaySettings gateway = Gateway();
    Outcome outcome = Browse(Request(std::nullopt, std::nullopt, &gateway));
    EXPECT_EQ(outcome.error.GetCode(), c.code);
    EXPECT_EQ(outcome.Message(), kPrefix + c.reason);
    EXPECT_TRUE(outcome.items.empty());
    EXPECT_EQ(Scripted().LastSession().requests.size(), 0u);
  }
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(BrowseRequestTest, CreateFolderSucceedsAndTouchesNothing) {
  App::GenericResp generic;
  EXPECT_FALSE(Browser().CreateFolder("x", nullptr, nullptr, &generic).IsError());
  EXPECT_FALSE(generic.isSet(1));
}

}  // namespace
}  // namespace browsetest
