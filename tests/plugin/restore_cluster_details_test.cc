// The restore coordinator's cluster details: destination and source fields
// from the central server and the instance, the configuration location rule,
// password decryption and its events, and the Priam error filter.

#include <gtest/gtest.h>

#include "RestoreCoordinatorFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/suite/Base64.h"

namespace restoretest {
namespace {

class ClusterDetailsTest : public RestoreCoordinatorTest {
 protected:
  static std::string Base64(const std::string& plain) {
    std::string out;
    base64Encode(plain.data(), static_cast<unsigned>(plain.size()), out);
    return out;
  }
  static std::string JmxXml(const std::string& user, const std::string& encryptedPassword) {
    App::JMXConnection jmx;
    jmx.setJmxHost("jmx.host");
    jmx.setJmxPort(7199);
    if (!user.empty() || !encryptedPassword.empty()) {
      UserCredentials credentials;
      credentials.setUserName(user);
      credentials.setPassword(encryptedPassword);
      jmx.setCredentials(credentials);
    }
    std::string xml;
    EXPECT_EQ(jmx.serialize(xml), 0);
    return xml;
  }
};

TEST_F(ClusterDetailsTest, DestinationFieldsComeFromTheInstanceAndTheProcedure) {
  SInstanceSettings settings =
      InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1"), Node("n2", "10.0.0.2", "dc2")});
  settings.cassandraConfigFile = "/etc/cassandra/cassandra.yaml";
  settings.gatewayUser = "cql-user";
  settings.gatewayPassword = "cql-secret";
  settings.gatewayCqlPort = 9142;
  AddJmxAndSsl(settings, true);
  RestoresProbe& c = CoordinatorWithConfigs();
  c.destInstanceId = Instance(settings);

  CQiError e = c.getClusterDetails(true);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  const TQCassandra::CassandraCoordinatorClientConfig& d = *c.destConfig;
  EXPECT_EQ(d.clusterName, "Cluster-dest");
  EXPECT_EQ(d.instanceAttribute, "dest");
  EXPECT_EQ(d.restoreJavaHome, "/usr/lib/jvm/java-11");
  EXPECT_EQ(d.gatewayHost, "10.0.1.1");
  EXPECT_EQ(d.gatewayCqlPort, 9142u);
  EXPECT_EQ(d.gatewayUser, "cql-user");
  EXPECT_EQ(d.gatewayPassword, Base64("cql-secret"));
  EXPECT_EQ(d.jmxHost, "jmx.host");
  EXPECT_EQ(d.jmxPort, 7299u);
  EXPECT_EQ(d.jmxUser, "jmx-user");
  EXPECT_EQ(d.jmxPassword, Base64("jmx-secret"));
  ASSERT_EQ(d.clusterNodes.size(), 2u);
  EXPECT_EQ(d.clusterNodes[0].getClient()->getClientName(), "n1");
  EXPECT_EQ(d.clusterNodes[1].getDataCenter(), "dc2");
  EXPECT_EQ(c.destInstanceVersion, "4.0.11");
  EXPECT_EQ(c.cassandraConfigFile, "/etc/cassandra/cassandra.yaml");
  App::AuthConfig auth;
  ASSERT_EQ(auth.unserialize(c.authConfigXml), 0) << c.authConfigXml;
  EXPECT_EQ(auth.getSsl()->getKeystorePath(), "/ks/k.jks");
  // The source configuration is untouched by the destination call.
  EXPECT_TRUE(c.sourceConfig->clusterNodes.empty());
}

TEST_F(ClusterDetailsTest, WithoutGatewayUserThePasswordStaysAsStored) {
  SInstanceSettings settings = InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1")});
  settings.gatewayPassword = "cql-secret";
  RestoresProbe& c = CoordinatorWithConfigs();
  c.destInstanceId = Instance(settings);
  EditInstance(c.destInstanceId, [](SInstanceRecord& r) { r.gatewayPassword = kNotEncrypted; });

  CQiError e = c.getClusterDetails(true);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_EQ(c.destConfig->gatewayPassword, kNotEncrypted);
  EXPECT_TRUE(c.destConfig->jmxHost.empty());
  EXPECT_EQ(c.destConfig->jmxPort, 0u);
  EXPECT_TRUE(c.authConfigXml.empty());
}

TEST_F(ClusterDetailsTest, SourceReadsNeitherUserNorJmxNorVersionNorConfiguration) {
  SInstanceSettings settings = InstanceSettings("src", {Node("s1", "10.0.2.1", "dc1")});
  settings.gatewayUser = "cql-user";
  settings.gatewayPassword = "cql-secret";
  settings.cassandraConfigFile = "/etc/src/cassandra.yaml";
  SJmxSettings jmx;
  jmx.host = "jmx.src";
  jmx.port = 7199;
  settings.jmx = jmx;
  RestoresProbe& c = CoordinatorWithConfigs();
  c.sourceInstanceId = Instance(settings);
  c.destInstanceVersion = "kept";
  c.cassandraConfigFile = "kept.yaml";
  c.authConfigXml = "kept-xml";
  std::string stored;
  EditInstance(c.sourceInstanceId, [&](SInstanceRecord& r) { stored = r.gatewayPassword; });

  CQiError e = c.getClusterDetails(false);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  const TQCassandra::CassandraCoordinatorClientConfig& s = *c.sourceConfig;
  EXPECT_EQ(s.clusterName, "Cluster-src");
  EXPECT_EQ(s.instanceAttribute, "src");
  EXPECT_EQ(s.gatewayHost, "10.0.1.1");
  EXPECT_EQ(s.gatewayPassword, stored);  // as stored: not decrypted
  EXPECT_TRUE(s.gatewayUser.empty());
  EXPECT_TRUE(s.jmxHost.empty());
  ASSERT_EQ(s.clusterNodes.size(), 1u);
  EXPECT_EQ(c.destInstanceVersion, "kept");
  EXPECT_EQ(c.cassandraConfigFile, "kept.yaml");
  EXPECT_EQ(c.authConfigXml, "kept-xml");
  EXPECT_TRUE(c.destConfig->clusterNodes.empty());
}

// Without a configuration file the node of this machine names it: the part
// before ":" only when the value splits at ":" into exactly two parts.
TEST_F(ClusterDetailsTest, ConfigurationLocationOfThisMachinesNode) {
  struct Case {
    const char* stored;
    const char* expected;
  } cases[] = {
      {"/etc/a:/host/etc/a", "/etc/a"},
      {"/etc/a:/b:/c", "/etc/a:/b:/c"},
      {"/etc/cassandra", "/etc/cassandra"},
      {"/etc/a:", "/etc/a"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.stored);
    SInstanceSettings settings =
        InstanceSettings("dest", {Node("other", "10.0.0.9", "dc1", "/etc/other"),
                                  Node("coordinator1", "10.0.0.1", "dc1", k.stored)});
    RestoresProbe& c = CoordinatorWithConfigs();
    c.destInstanceId = Instance(settings);
    CQiError e = c.getClusterDetails(true);
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(c.cassandraConfigFile, k.expected);
  }
}

TEST_F(ClusterDetailsTest, UndecryptablePasswordsFailWithTheirEvent) {
  struct Case {
    const char* name;
    std::function<void(SInstanceRecord&)> edit;
    const char* what;
    const char* log;
  } cases[] = {
      {"cql",
       [](SInstanceRecord& r) {
         r.gatewayUser = "u";
         r.gatewayPassword = kNotEncrypted;
       },
       "CQL password", "Failed to decrypt the password"},
      {"jmx", [](SInstanceRecord& r) { r.jmxConfigXml = JmxXml("u", kNotEncrypted); },
       "JMX password", "Failed to decrypt the JMX password"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    RestoresProbe& c = CoordinatorWithConfigs();
    c.destInstanceId = Instance(InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1")}));
    EditInstance(c.destInstanceId, k.edit);
    CLogCapture log;
    CQiError e = c.getClusterDetails(true);
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsEvent(e, kEvPasswordDecryptFailed)) << e.AsString();
    EXPECT_EQ(e.GetEventArgs(), std::vector<std::string>{k.what});
    EXPECT_TRUE(log.Contains(k.log));
  }
}

TEST_F(ClusterDetailsTest, JmxWithoutUserKeepsThePasswordEmpty) {
  RestoresProbe& c = CoordinatorWithConfigs();
  c.destInstanceId = Instance(InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1")}));
  EditInstance(c.destInstanceId, [](SInstanceRecord& r) { r.jmxConfigXml = JmxXml("", "x"); });
  CQiError e = c.getClusterDetails(true);
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_EQ(c.destConfig->jmxHost, "jmx.host");
  EXPECT_EQ(c.destConfig->jmxPort, 7199u);
  EXPECT_TRUE(c.destConfig->jmxUser.empty());
  EXPECT_TRUE(c.destConfig->jmxPassword.empty());
}

TEST_F(ClusterDetailsTest, ProcedureFailuresAreReportedWithTheirTexts) {
  RestoresProbe& c = CoordinatorWithConfigs();
  c.destInstanceId = Instance(InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1")}));

  App_ExecuteSP::FailNextCall(7, "central server down");
  CLogCapture log;
  CQiError e = c.getClusterDetails(true);
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetFacility(), CQiError::kErrNo) << e.AsString();
  EXPECT_EQ(e.GetMessage(),
            "Stored procedure to save instance properties failed with an error [7], response Str "
            "[central server down]");
  EXPECT_TRUE(
      log.Contains(" Executing stored procedure failed with an error retCode [7] "
                   "response Str [central server down]"));

  // A reply without a Cassandra configuration.
  App::DistributedClusterInstanceResp empty;
  App::ClusterInstanceInfo info;
  info.setOperation(1);
  empty.setInstanceInfo(info);
  std::string xml;
  ASSERT_EQ(empty.serialize(xml), 0);
  App_ExecuteSP::ReplyProcedure(0x1E4FDD52, xml);
  e = c.getClusterDetails(true);
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetMessage(), "Null Cassandra config");
  EXPECT_TRUE(c.destConfig->clusterNodes.empty());

  // A reply that does not parse.
  App_ExecuteSP::ClearFailures();
  App_ExecuteSP::ReplyProcedure(0x1E4FDD52, "<not a reply");
  e = c.getClusterDetails(true);
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetMessage().rfind("Stored procedure to save instance properties failed with an "
                                 "error [",
                                 0),
            0u)
      << e.GetMessage();

  // An unknown instance.
  App_ExecuteSP::ClearFailures();
  c.destInstanceId = 999;
  e = c.getClusterDetails(true);
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("Stored procedure to save instance properties failed"),
            std::string::npos);
}

TEST_F(ClusterDetailsTest, OnlyAccessDeniedRaisesTheAccessEvent) {
  RestoresProbe& c = NewCoordinator();
  struct Case {
    CQiError error;
    size_t events;
  } cases[] = {
      {FXErrorUtil::ErrorWin32(FXLOC, 5, "refused"), 1},
      {FXErrorUtil::ErrorWin32(FXLOC, 774, "failed"), 0},
      {FXErrorUtil::ErrorErrNo(FXLOC, 5, "errno five"), 0},
      {CQiError::Success(), 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.error.AsString(2));
    CEventJournal::Instance().Clear();
    CQiError back = c.handlePriamError(k.error);
    EXPECT_EQ(back.GetCode(), k.error.GetCode());
    EXPECT_EQ(back.GetMessage(), k.error.GetMessage());
    EXPECT_EQ(Events(kEvPriamAccessDenied).size(), k.events);
  }
}

}  // namespace
}  // namespace restoretest
