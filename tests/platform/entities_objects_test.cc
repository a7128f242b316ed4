// The application entities over the registered records: instance, subclient,
// application id, subclient list and stream handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "common/BackupRecords.h"
#include "common/CassandraNodeRecords.h"
#include "platform/app/ApplicationId.h"
#include "platform/app/AutoStreamHandler.h"
#include "platform/app/CassandraInstance.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/app/ClientApplicationList.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/suite/TQPassword.h"
#include "tests/platform/EntitiesFixture.h"

namespace {

std::string Decrypt(const std::string& encrypted) {
  char buffer[1024];
  unsigned long length = sizeof buffer;
  if (TQPassword().decrypt(encrypted.c_str(), buffer, length) == 0) return "<undecryptable>";
  return std::string(buffer, length);
}

}  // namespace

using InstanceEntityTest = EntitiesTest;

TEST_F(InstanceEntityTest, GettersAnswerTheRegisteredProperties) {
  SInstanceSettings settings = ThreeNodeInstance();
  settings.enableCommitLogBackup = true;
  settings.archiveLogPath = "/var/lib/cassandra/archive";
  settings.archiveCommand = "/bin/ln";
  settings.jmx = SJmxSettings{"10.0.0.1", 7199, "jmxrmi", "jmxuser", "jmx-secret"};
  settings.ssl = SSslSettings{true, "/etc/ks.jks", "ks-secret", "/etc/ts.jks", "ts-secret"};
  RegisterInstance(settings);

  CassandraInstance instance(7);
  ASSERT_TRUE(instance.isValid());
  EXPECT_EQ(instance.getInstanceId(), 7u);
  std::string text;
  ASSERT_FALSE(instance.getInstanceName(text).IsError());
  EXPECT_EQ(text, "cassandra1");

  struct TextCase {
    const char* name;
    CQiError (CassandraInstance::*get)(std::string&) const;
    std::string expected;
  };
  const std::vector<TextCase> texts = {
      {"config file", &CassandraInstance::getCassandraConfigFile, "/etc/cassandra/cassandra.yaml"},
      {"java home", &CassandraInstance::getJavaHome, "/usr/lib/jvm/java-11"},
      {"gateway host", &CassandraInstance::getGatewayHost, "10.0.0.1"},
      {"gateway user", &CassandraInstance::getGatewayUser, "cassandra"},
      {"archive path", &CassandraInstance::getCassArchiveLogPath, "/var/lib/cassandra/archive"},
      {"archive command", &CassandraInstance::getCassArchiveCommand, "/bin/ln"},
      {"cluster name", &CassandraInstance::getClusterName, "Test Cluster"},
      {"version", &CassandraInstance::getVersion, "4.0.11"},
  };
  for (const TextCase& c : texts) {
    std::string value = "unset";
    EXPECT_FALSE((instance.*c.get)(value).IsError()) << c.name;
    EXPECT_EQ(value, c.expected) << c.name;
  }
  int port = 0;
  ASSERT_FALSE(instance.getGatewayCQLPort(port).IsError());
  EXPECT_EQ(port, 9142);
  bool enabled = false;
  ASSERT_FALSE(instance.getEnableCommitLogBackup(enabled).IsError());
  EXPECT_TRUE(enabled);

  // The password is kept encrypted.
  std::string password;
  ASSERT_FALSE(instance.getGatewayPassword(password).IsError());
  EXPECT_NE(password, "cql-secret");
  EXPECT_EQ(Decrypt(password), "cql-secret");

  // JMX and authentication settings as record XML the agents read.
  std::string xml;
  ASSERT_FALSE(instance.getJMXConfig(xml).IsError());
  App::JMXConnection jmx;
  ASSERT_EQ(jmx.unserialize(xml), 0) << xml;
  EXPECT_EQ(jmx.getJmxHost(), "10.0.0.1");
  EXPECT_EQ(jmx.getJmxPort(), 7199);
  EXPECT_EQ(jmx.getJmxService(), "jmxrmi");
  ASSERT_TRUE(jmx.getCredentials());
  EXPECT_EQ(jmx.getCredentials()->getUserName(), "jmxuser");
  EXPECT_EQ(Decrypt(jmx.getCredentials()->getPassword().getPlainPassword()), "jmx-secret");

  ASSERT_FALSE(instance.getAuthConfig(xml).IsError());
  App::AuthConfig auth;
  ASSERT_EQ(auth.unserialize(xml), 0) << xml;
  ASSERT_TRUE(auth.getSsl());
  EXPECT_EQ(auth.getSsl()->getSslEnabled(), 1);
  EXPECT_EQ(auth.getSsl()->getKeystorePath(), "/etc/ks.jks");
  EXPECT_EQ(Decrypt(auth.getSsl()->getKeystorePassword().getPlainPassword()), "ks-secret");
  EXPECT_EQ(auth.getSsl()->getTruststorePath(), "/etc/ts.jks");
  EXPECT_EQ(Decrypt(auth.getSsl()->getTruststorePassword().getPlainPassword()), "ts-secret");
}

TEST_F(InstanceEntityTest, AnInstanceWithoutOptionalSettingsAnswersEmptyTexts) {
  SInstanceSettings settings = ThreeNodeInstance();
  settings.gatewayUser.clear();
  settings.gatewayPassword = "ignored";
  RegisterInstance(settings);
  CassandraInstance instance(7);
  std::string text = "unset";
  ASSERT_FALSE(instance.getGatewayPassword(text).IsError());
  EXPECT_EQ(text, "");
  ASSERT_FALSE(instance.getJMXConfig(text).IsError());
  EXPECT_EQ(text, "");
  ASSERT_FALSE(instance.getAuthConfig(text).IsError());
  EXPECT_EQ(text, "");
  bool enabled = true;
  ASSERT_FALSE(instance.getEnableCommitLogBackup(enabled).IsError());
  EXPECT_FALSE(enabled);
}

TEST_F(InstanceEntityTest, ClusterNameAndVersionAreStoredForLaterReaders) {
  RegisterInstance(ThreeNodeInstance());
  {
    CassandraInstance instance(7);
    ASSERT_FALSE(instance.setClusterName("Ring A").IsError());
    ASSERT_FALSE(instance.setVersion("4.1.3").IsError());
    std::string value;
    instance.getClusterName(value);
    EXPECT_EQ(value, "Ring A");
  }
  CassandraInstance later(7);
  std::string name;
  std::string version;
  ASSERT_FALSE(later.getClusterName(name).IsError());
  ASSERT_FALSE(later.getVersion(version).IsError());
  EXPECT_EQ(name, "Ring A");
  EXPECT_EQ(version, "4.1.3");
  // Nothing else of the instance changed.
  SInstanceRecord stored;
  ASSERT_FALSE(CSuiteStore::Default().LoadInstance(7, stored).IsError());
  EXPECT_EQ(stored.nodeXmls.size(), 3u);
  EXPECT_EQ(stored.gatewayHost, "10.0.0.1");
}

TEST_F(InstanceEntityTest, AnUnregisteredInstanceFailsEveryCallAndLeavesOutputs) {
  CassandraInstance instance(42);
  EXPECT_FALSE(instance.isValid());
  EXPECT_EQ(instance.getInstanceId(), 0u);
  std::string text = "kept";
  EXPECT_TRUE(FXErrorUtil::IsWin32(instance.getCassandraConfigFile(text), 1168));
  EXPECT_TRUE(FXErrorUtil::IsWin32(instance.getInstanceName(text), 1168));
  EXPECT_EQ(text, "kept");
  int port = 5;
  EXPECT_TRUE(instance.getGatewayCQLPort(port).IsError());
  EXPECT_EQ(port, 5);
  bool enabled = true;
  EXPECT_TRUE(instance.getEnableCommitLogBackup(enabled).IsError());
  EXPECT_TRUE(enabled);
  EXPECT_TRUE(FXErrorUtil::IsWin32(instance.setClusterName("x"), 1168));
}

using SubclientEntityTest = EntitiesTest;

TEST_F(SubclientEntityTest, ContentRowsKeepWhichFieldsArePresent) {
  RegisterInstance(ThreeNodeInstance());
  SSubclientSettings settings;
  settings.id = 12;
  settings.name = "rows";
  settings.instanceId = 7;
  settings.content = {
      SContentRow{std::string("Test Cluster"), std::nullopt, std::nullopt},
      SContentRow{std::nullopt, std::string(""), std::nullopt},
      SContentRow{std::nullopt, std::string("ks1"), std::string("dc2")},
  };
  RegisterSubclient(settings);

  CassandraSubclient subclient(12);
  ASSERT_TRUE(subclient.isValid());
  EXPECT_EQ(subclient.getSubclientId(), 12u);
  EXPECT_EQ(subclient.getSubclientName(), "rows");
  EXPECT_EQ(subclient.getInstanceId(), 7u);
  std::string xml;
  ASSERT_FALSE(subclient.getCassandraContent(xml).IsError());
  App::CassandraSubclientProps props;
  ASSERT_EQ(props.unserialize(xml), 0) << xml;
  std::vector<App::CassandraContent> rows = props.getContents();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0].hasClusterName());
  EXPECT_EQ(rows[0].getClusterName(), "Test Cluster");
  EXPECT_FALSE(rows[0].hasKeyspaceName());
  EXPECT_FALSE(rows[0].hasDataCenter());
  EXPECT_FALSE(rows[1].hasClusterName());
  EXPECT_TRUE(rows[1].hasKeyspaceName());
  EXPECT_EQ(rows[1].getKeyspaceName(), "");
  EXPECT_FALSE(rows[1].hasDataCenter());
  EXPECT_EQ(rows[2].getKeyspaceName(), "ks1");
  EXPECT_EQ(rows[2].getDataCenter(), "dc2");
}

TEST_F(SubclientEntityTest, TheDefaultSubclientHasNoContent) {
  RegisterInstance(ThreeNodeInstance());
  SSubclientSettings settings;
  settings.instanceId = 7;
  settings.isDefault = true;
  const uint64_t id = RegisterSubclient(settings);
  CassandraSubclient subclient(id);
  std::string xml = "unset";
  ASSERT_FALSE(subclient.getCassandraContent(xml, nullptr).IsError());
  EXPECT_EQ(xml, "");
  bool isDefault = false;
  ASSERT_FALSE(Subclient::isDefaultSubclient(id, isDefault).IsError());
  EXPECT_TRUE(isDefault);
}

TEST_F(SubclientEntityTest, TheLastBackupStatusRoundTripsThroughTheRecords) {
  RegisterInstance(ThreeNodeInstance());
  SSubclientSettings settings;
  settings.instanceId = 7;
  settings.content = {SContentRow{std::string("Test Cluster"), std::nullopt, std::nullopt}};
  const uint64_t id = RegisterSubclient(settings);

  std::string before = "unset";
  ASSERT_FALSE(CassandraSubclient(id).getBackedupContentXML(before).IsError());
  EXPECT_EQ(before, "");

  App::CassandraKeyspaceStatus keyspace;
  keyspace.setKeyspaceName("ks1");
  keyspace.setStatus(1);
  App::CassandraNodeStatus node;
  node.setInstanceName("node1");
  node.setKeyspaceStatuses({keyspace});
  App::CassandraLastBackupStatus status;
  status.setNodeStatuses({node});
  std::string xml;
  ASSERT_EQ(status.serialize(xml), 0);
  {
    CassandraSubclient subclient(id);
    ASSERT_FALSE(subclient.setBackedupContentXML(xml, nullptr).IsError());
  }

  // A later job (a new object, as another process would make) reads it back;
  // the content is untouched.
  CassandraSubclient later(id);
  std::string read;
  ASSERT_FALSE(later.getBackedupContentXML(read).IsError());
  App::CassandraLastBackupStatus back;
  ASSERT_EQ(back.unserialize(read), 0);
  EXPECT_TRUE(back == status);
  std::string content;
  later.getCassandraContent(content);
  EXPECT_EQ(content, CSuiteRegistration::ContentXml(settings.content));
}

TEST_F(SubclientEntityTest, AnUnregisteredSubclientFailsAndLeavesOutputs) {
  CassandraSubclient subclient(99);
  EXPECT_FALSE(subclient.isValid());
  std::string xml = "kept";
  EXPECT_TRUE(FXErrorUtil::IsWin32(subclient.getCassandraContent(xml), 1168));
  EXPECT_TRUE(FXErrorUtil::IsWin32(subclient.getBackedupContentXML(xml), 1168));
  EXPECT_EQ(xml, "kept");
  EXPECT_TRUE(FXErrorUtil::IsWin32(subclient.setBackedupContentXML("<x/>"), 1168));
  bool isDefault = true;
  EXPECT_TRUE(FXErrorUtil::IsWin32(Subclient::isDefaultSubclient(99, isDefault), 1168));
  EXPECT_TRUE(isDefault);
}

using ApplicationTest = EntitiesTest;

TEST_F(ApplicationTest, AnApplicationGivesItsSubclientInstanceBackupSetAndClient) {
  RegisterInstance(ThreeNodeInstance());
  SSubclientSettings settings;
  settings.id = 12;
  settings.instanceId = 7;
  settings.backupSetId = 4;
  RegisterSubclient(settings);

  ApplicationId application(2, 12);
  ASSERT_TRUE(application.isValid());
  auto* subclient = dynamic_cast<CassandraSubclient*>(application.getSubclient());
  ASSERT_NE(subclient, nullptr);
  EXPECT_EQ(subclient->getSubclientId(), 12u);
  ASSERT_NE(application.getInstance(), nullptr);
  EXPECT_EQ(application.getInstance()->getInstanceId(), 7u);
  EXPECT_NE(dynamic_cast<CassandraInstance*>(application.getInstance()), nullptr);
  ASSERT_NE(application.getBackupSet(), nullptr);
  EXPECT_EQ(application.getBackupSet()->getBackupSetId(), 4u);
  ASSERT_NE(application.getClient(), nullptr);
  uint64_t clientId = 0;
  ASSERT_FALSE(application.getClient()->getClientId(clientId).IsError());
  EXPECT_EQ(clientId, 100u);
}

TEST_F(ApplicationTest, MissingIdsOrRecordsGiveNoObjects) {
  RegisterInstance(ThreeNodeInstance());
  SSubclientSettings settings;
  settings.id = 12;
  settings.instanceId = 7;
  RegisterSubclient(settings);
  struct Case {
    uint64_t ombrel;
    uint64_t application;
  };
  for (const Case& c : std::vector<Case>{{0, 12}, {2, 0}, {2, 13}}) {
    ApplicationId application(c.ombrel, c.application);
    EXPECT_FALSE(application.isValid()) << c.ombrel << "/" << c.application;
    EXPECT_EQ(application.getSubclient(), nullptr);
    EXPECT_EQ(application.getInstance(), nullptr);
    EXPECT_EQ(application.getBackupSet(), nullptr);
    EXPECT_EQ(application.getClient(), nullptr);
  }
}

TEST_F(ApplicationTest, ASubclientOfAnotherApplicationTypeIsNotACassandraSubclient) {
  Client("files", {}, 100);
  SInstanceRecord instance;
  instance.id = 3;
  instance.name = "fs";
  instance.clientId = 100;
  instance.applicationType = 29;
  ASSERT_FALSE(CSuiteStore::Default().RegisterInstance(instance).IsError());
  SSubclientRecord subclient;
  subclient.id = 5;
  subclient.instanceId = 3;
  ASSERT_FALSE(CSuiteStore::Default().RegisterSubclient(subclient).IsError());

  ApplicationId application(2, 5);
  ASSERT_TRUE(application.isValid());
  ASSERT_NE(application.getSubclient(), nullptr);
  EXPECT_EQ(application.getSubclient()->getSubclientId(), 5u);
  EXPECT_EQ(dynamic_cast<CassandraSubclient*>(application.getSubclient()), nullptr);
  EXPECT_EQ(dynamic_cast<CassandraInstance*>(application.getInstance()), nullptr);
  EXPECT_EQ(application.getInstance()->getInstanceId(), 3u);
}

TEST_F(ApplicationTest, TheSubclientListOfABackupSetIsInIdOrderAndOfTheType) {
  RegisterInstance(ThreeNodeInstance());
  Client("files", {}, 101);
  SInstanceRecord other;
  other.id = 3;
  other.clientId = 101;
  other.applicationType = 29;
  ASSERT_FALSE(CSuiteStore::Default().RegisterInstance(other).IsError());
  struct Sub {
    uint64_t id;
    const char* name;
    uint64_t instance;
    uint64_t backupSet;
  };
  for (const Sub& s : std::vector<Sub>{
           {30, "c", 7, 1}, {10, "a", 7, 1}, {20, "b", 7, 2}, {15, "fs", 3, 1}, {25, "d", 7, 1}}) {
    SSubclientSettings settings;
    settings.id = s.id;
    settings.name = s.name;
    settings.instanceId = s.instance;
    settings.backupSetId = s.backupSet;
    RegisterSubclient(settings);
  }

  std::vector<uint64_t> ids;
  std::vector<std::string> names;
  ASSERT_EQ(
      ClientApplicationList::getSubclientList(ids, names, kCassandraApplicationType, 1, nullptr, 5),
      0);
  EXPECT_EQ(ids, (std::vector<uint64_t>{10, 25, 30}));
  EXPECT_EQ(names, (std::vector<std::string>{"a", "d", "c"}));

  ASSERT_EQ(ClientApplicationList::getSubclientList(ids, names, 0, 1, nullptr, 1), 0);
  EXPECT_EQ(ids, (std::vector<uint64_t>{10, 15, 25, 30}));

  ASSERT_EQ(
      ClientApplicationList::getSubclientList(ids, names, kCassandraApplicationType, 9, nullptr, 5),
      0);
  EXPECT_TRUE(ids.empty());
  EXPECT_TRUE(names.empty());
}

TEST_F(ApplicationTest, UnreadableRecordsFailTheSubclientList) {
  RegisterInstance(ThreeNodeInstance());
  std::ofstream(home_.Sub("central/subclients.json"), std::ios::trunc) << "{";
  std::vector<uint64_t> ids{1};
  std::vector<std::string> names{"x"};
  EXPECT_NE(
      ClientApplicationList::getSubclientList(ids, names, kCassandraApplicationType, 1, nullptr, 5),
      0);
  EXPECT_TRUE(ids.empty());
  EXPECT_TRUE(names.empty());
}

TEST_F(ApplicationTest, TheMaximumNumberOfStreamsIsTheSubclients) {
  RegisterInstance(ThreeNodeInstance());
  // Without a job: the subclient's maximum, at least 1. While a job runs for
  // the subclient: the job's streams, never more than that maximum.
  struct Case {
    int registered;
    int job;  // 0: no job runs
    int expected;
  };
  for (const Case& c : std::vector<Case>{{8, 0, 8},
                                         {1, 0, 1},
                                         {0, 0, 1},
                                         {-3, 0, 1},
                                         {16, 3, 3},
                                         {16, 16, 16},
                                         {4, 9, 4},
                                         {0, 5, 1}}) {
    SSubclientSettings settings;
    settings.id = 12;
    settings.instanceId = 7;
    settings.maxStreams = c.registered;
    RegisterSubclient(settings);
    CassandraSubclient subclient(12);
    AutoStreamHandler::SetJobStreams(12, c.job);
    int streams = 0;
    ASSERT_FALSE(AutoStreamHandler::GetMaxNumberOfStreams(&subclient, streams, true, 3, 0, nullptr)
                     .IsError());
    EXPECT_EQ(streams, c.expected) << c.registered << " " << c.job;
    if (c.job > 0) {
      EXPECT_EQ(AutoStreamHandler::CapToSubclient(12, c.job), c.expected);
    }
    AutoStreamHandler::SetJobStreams(12, 0);
  }
  EXPECT_EQ(AutoStreamHandler::CapToSubclient(77, 9), 9);  // not registered

  int streams = 4;
  EXPECT_TRUE(FXErrorUtil::IsWin32(
      AutoStreamHandler::GetMaxNumberOfStreams(nullptr, streams, true, 3, 0, nullptr), 87));
  CassandraSubclient unknown(77);
  EXPECT_TRUE(FXErrorUtil::IsWin32(
      AutoStreamHandler::GetMaxNumberOfStreams(&unknown, streams, true, 3, 0, nullptr), 1168));
  EXPECT_EQ(streams, 4);
}
