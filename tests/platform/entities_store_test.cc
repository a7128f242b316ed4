// The central server's records: files, reload, refusals, concurrent writers
// and the client directory over them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiFile.h"
#include "platform/suite/TQClient.h"
#include "tests/platform/EntitiesFixture.h"

namespace {

std::string ReadText(const std::string& path) {
  std::string text;
  CQiFile::ReadWholeFile(path.c_str(), text);
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::trunc) << text;
}

}  // namespace

using StoreTest = EntitiesTest;

TEST_F(StoreTest, RecordsSurviveAReloadInANewStoreObject) {
  const std::string directory = home_.Sub("central");
  {
    CSuiteStore store(directory);
    SClientRecord client;
    client.name = "node1";
    client.hostName = "node1.sim";
    client.mangledHostName = "node1.remote";
    client.operatingSystemId = 3;
    client.addresses = {"10.0.0.1", "172.17.0.2"};
    ASSERT_FALSE(store.RegisterClient(client).IsError());
    EXPECT_EQ(client.id, 1u);

    SInstanceRecord instance;
    instance.id = 7;
    instance.name = "cassandra1";
    instance.clientId = client.id;
    instance.cassandraConfigFile = "/etc/cassandra/cassandra.yaml";
    instance.javaHome = "/jvm";
    instance.gatewayHost = "10.0.0.1";
    instance.gatewayCqlPort = 9142;
    instance.gatewayUser = "u";
    instance.gatewayPassword = "ENC";
    instance.jmxConfigXml = "<jmx/>";
    instance.authConfigXml = "<auth/>";
    instance.enableCommitLogBackup = true;
    instance.archiveLogPath = "/archive";
    instance.archiveCommand = "/bin/cp %path /archive/%name";
    instance.clusterName = "Test Cluster";
    instance.version = "4.0";
    instance.nodeXmls = {"<n1/>", "<n2/>"};
    ASSERT_FALSE(store.RegisterInstance(instance).IsError());

    SSubclientRecord subclient;
    subclient.name = "default";
    subclient.instanceId = 7;
    subclient.backupSetId = 3;
    subclient.isDefault = true;
    subclient.maxStreams = 8;
    subclient.contentXml = "<content/>";
    subclient.backedUpContentXml = "<status/>";
    ASSERT_FALSE(store.RegisterSubclient(subclient).IsError());
    EXPECT_EQ(subclient.id, 1u);
  }

  // The files of the layout, as JSON.
  for (const char* name : {"clients.json", "instances.json", "subclients.json"}) {
    const std::string path = FXPath::Join(directory, name);
    ASSERT_TRUE(FXPath::DoesPathExist(path.c_str())) << name;
    EXPECT_FALSE(nlohmann::json::parse(ReadText(path), nullptr, false).is_discarded()) << name;
  }
  // Every file was replaced whole: no temporary file is left beside them.
  CQiDirectory listing;
  ASSERT_FALSE(listing.Open(directory.c_str()).IsError());
  SQiDirEntry entry;
  bool done = false;
  while (!listing.GetEntry(entry, done).IsError() && !done) {
    EXPECT_EQ(std::string(entry.name.c_str()).find(".tmp"), std::string::npos)
        << entry.name.c_str();
  }

  CSuiteStore reloaded(directory);
  SClientRecord client;
  ASSERT_FALSE(reloaded.LoadClient(1, client).IsError());
  EXPECT_EQ(client.name, "node1");
  EXPECT_EQ(client.hostName, "node1.sim");
  EXPECT_EQ(client.mangledHostName, "node1.remote");
  EXPECT_EQ(client.operatingSystemId, 3u);
  EXPECT_EQ(client.addresses, (std::vector<std::string>{"10.0.0.1", "172.17.0.2"}));

  SInstanceRecord instance;
  ASSERT_FALSE(reloaded.LoadInstance(7, instance).IsError());
  EXPECT_EQ(instance.name, "cassandra1");
  EXPECT_EQ(instance.clientId, 1u);
  EXPECT_EQ(instance.applicationType, kCassandraApplicationType);
  EXPECT_EQ(instance.cassandraConfigFile, "/etc/cassandra/cassandra.yaml");
  EXPECT_EQ(instance.javaHome, "/jvm");
  EXPECT_EQ(instance.gatewayHost, "10.0.0.1");
  EXPECT_EQ(instance.gatewayCqlPort, 9142);
  EXPECT_EQ(instance.gatewayUser, "u");
  EXPECT_EQ(instance.gatewayPassword, "ENC");
  EXPECT_EQ(instance.jmxConfigXml, "<jmx/>");
  EXPECT_EQ(instance.authConfigXml, "<auth/>");
  EXPECT_TRUE(instance.enableCommitLogBackup);
  EXPECT_EQ(instance.archiveLogPath, "/archive");
  EXPECT_EQ(instance.archiveCommand, "/bin/cp %path /archive/%name");
  EXPECT_EQ(instance.clusterName, "Test Cluster");
  EXPECT_EQ(instance.version, "4.0");
  EXPECT_EQ(instance.nodeXmls, (std::vector<std::string>{"<n1/>", "<n2/>"}));

  SSubclientRecord subclient;
  ASSERT_FALSE(reloaded.LoadSubclient(1, subclient).IsError());
  EXPECT_EQ(subclient.name, "default");
  EXPECT_EQ(subclient.instanceId, 7u);
  EXPECT_EQ(subclient.backupSetId, 3u);
  EXPECT_TRUE(subclient.isDefault);
  EXPECT_EQ(subclient.maxStreams, 8);
  EXPECT_EQ(subclient.contentXml, "<content/>");
  EXPECT_EQ(subclient.backedUpContentXml, "<status/>");
}

TEST_F(StoreTest, NewIdsFollowTheHighestAndAnIdReplacesItsRecord) {
  Client("a", {"10.0.0.1"}, 5);
  EXPECT_EQ(Client("b", {"10.0.0.2"}), 6u);
  Client("a-renamed", {"10.0.0.9"}, 5);
  std::vector<SClientRecord> clients;
  ASSERT_FALSE(CSuiteStore::Default().LoadClients(clients).IsError());
  ASSERT_EQ(clients.size(), 2u);
  EXPECT_EQ(clients[0].name, "a-renamed");
  EXPECT_EQ(clients[0].addresses, std::vector<std::string>{"10.0.0.9"});
}

TEST_F(StoreTest, UnknownRecordsAreNotFound) {
  CSuiteStore store = CSuiteStore::Default();
  SClientRecord client;
  SInstanceRecord instance;
  SSubclientRecord subclient;
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.LoadClient(1, client), 1168));
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.LoadInstance(1, instance), 1168));
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.LoadSubclient(1, subclient), 1168));
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.UpdateInstance(1, [](SInstanceRecord&) {}), 1168));
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.UpdateSubclient(1, [](SSubclientRecord&) {}), 1168));
}

TEST_F(StoreTest, RegistrationsThatWouldMakeTheRecordsAmbiguousAreRefused) {
  CSuiteStore store = CSuiteStore::Default();
  Client("node1", {"10.0.0.1", "10.0.0.11"}, 1);
  Client("cluster", {}, 100);
  SInstanceRecord instance;
  instance.id = 7;
  instance.clientId = 100;
  ASSERT_FALSE(store.RegisterInstance(instance).IsError());
  SSubclientRecord firstDefault;
  firstDefault.instanceId = 7;
  firstDefault.backupSetId = 1;
  firstDefault.isDefault = true;
  ASSERT_FALSE(store.RegisterSubclient(firstDefault).IsError());

  struct Case {
    const char* name;
    std::function<CQiError()> attempt;
  };
  const std::vector<Case> cases = {
      {"client without name",
       [&] {
         SClientRecord c;
         return store.RegisterClient(c);
       }},
      {"client name of another client",
       [&] {
         SClientRecord c;
         c.name = "node1";
         return store.RegisterClient(c);
       }},
      {"address of another client",
       [&] {
         SClientRecord c;
         c.name = "node2";
         c.addresses = {"10.0.0.2", "10.0.0.11"};
         return store.RegisterClient(c);
       }},
      {"instance of an unregistered client",
       [&] {
         SInstanceRecord i;
         i.clientId = 55;
         return store.RegisterInstance(i);
       }},
      {"subclient of an unregistered instance",
       [&] {
         SSubclientRecord s;
         s.instanceId = 8;
         return store.RegisterSubclient(s);
       }},
      {"second default subclient of a backup set",
       [&] {
         SSubclientRecord s;
         s.instanceId = 7;
         s.backupSetId = 1;
         s.isDefault = true;
         return store.RegisterSubclient(s);
       }},
  };
  const std::string before = ReadText(home_.Sub("central/clients.json")) +
                             ReadText(home_.Sub("central/instances.json")) +
                             ReadText(home_.Sub("central/subclients.json"));
  for (const Case& c : cases) {
    CQiError error = c.attempt();
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << c.name << ": " << error.AsString(2);
  }
  EXPECT_EQ(ReadText(home_.Sub("central/clients.json")) +
                ReadText(home_.Sub("central/instances.json")) +
                ReadText(home_.Sub("central/subclients.json")),
            before);

  // The same client keeps its own addresses, and another backup set may have
  // its own default subclient.
  Client("node1", {"10.0.0.1"}, 1);
  SSubclientRecord otherSet;
  otherSet.instanceId = 7;
  otherSet.backupSetId = 2;
  otherSet.isDefault = true;
  EXPECT_FALSE(store.RegisterSubclient(otherSet).IsError());
}

TEST_F(StoreTest, ADamagedFileIsReportedAndNeverOverwritten) {
  Client("cluster", {}, 100);
  const std::string path = home_.Sub("central/instances.json");
  const std::vector<std::string> damaged = {
      "{not json",
      "[]",
      "{\"instances\": 5}",
      "{\"instances\": [{\"id\": \"seven\"}]}",
      "{\"instances\": [{\"id\": -1}]}",
      "{\"instances\": [{\"nodes\": [1, 2]}]}",
  };
  for (const std::string& text : damaged) {
    WriteText(path, text);
    SInstanceRecord instance;
    CQiError error = CSuiteStore::Default().LoadInstance(7, instance);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << text;
    instance.id = 7;
    instance.clientId = 100;
    EXPECT_TRUE(CSuiteStore::Default().RegisterInstance(instance).IsError()) << text;
    EXPECT_EQ(ReadText(path), text);
  }
}

TEST_F(StoreTest, ConcurrentWritersFromThreadsAndAnotherProcessLoseNoRecord) {
  constexpr int kPerWriter = 25;
  const std::string directory = home_.Sub("central");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CSuiteStore store(directory);
    int failures = 0;
    for (int i = 0; i < kPerWriter; ++i) {
      SClientRecord c;
      c.id = 1000 + i;
      c.name = "process-" + std::to_string(i);
      failures += store.RegisterClient(c).IsError() ? 1 : 0;
    }
    _exit(failures == 0 ? 0 : 1);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, directory] {
      CSuiteStore store(directory);
      for (int i = 0; i < kPerWriter; ++i) {
        SClientRecord c;
        c.id = 1 + t * kPerWriter + i;
        c.name = "thread-" + std::to_string(t) + "-" + std::to_string(i);
        EXPECT_FALSE(store.RegisterClient(c).IsError());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  std::vector<SClientRecord> clients;
  ASSERT_FALSE(CSuiteStore(directory).LoadClients(clients).IsError());
  EXPECT_EQ(clients.size(), 5u * kPerWriter);
}

TEST_F(StoreTest, TheClientDirectorySeesRegisteredClientsBehindItsOwn) {
  Client("node1", {"10.0.0.1", "172.17.0.2"}, 11);
  Client("node2", {"10.0.0.2"}, 12);

  SClientRecord found;
  ASSERT_TRUE(CClientDirectory::Instance().FindById(11, found));
  EXPECT_EQ(found.name, "node1");
  ASSERT_TRUE(CClientDirectory::Instance().FindByAddress("172.17.0.2", found));
  EXPECT_EQ(found.id, 11u);
  ASSERT_TRUE(CClientDirectory::Instance().FindByAddress("node2.sim", found));
  EXPECT_EQ(found.id, 12u);
  EXPECT_FALSE(CClientDirectory::Instance().FindByAddress("10.0.0.3", found));
  EXPECT_FALSE(CClientDirectory::Instance().FindByAddress("", found));

  std::string name;
  ASSERT_FALSE(TQClient(12).getName(name).IsError());
  EXPECT_EQ(name, "node2");
  uint64_t id = 0;
  ASSERT_FALSE(TQClient("node1", TQ_NAME_TYPE_CLIENT).getClientId(id).IsError());
  EXPECT_EQ(id, 11u);

  // A client added in the process hides the registered one of the same id.
  SClientRecord own;
  own.id = 12;
  own.name = "node2-local";
  CClientDirectory::Instance().Add(own);
  ASSERT_TRUE(CClientDirectory::Instance().FindById(12, found));
  EXPECT_EQ(found.name, "node2-local");
  EXPECT_FALSE(CClientDirectory::Instance().FindByName("node2", found));
  EXPECT_EQ(CClientDirectory::Instance().All().size(), 2u);
  CClientDirectory::Instance().Clear();
  ASSERT_TRUE(CClientDirectory::Instance().FindByName("node2", found));
}

TEST_F(StoreTest, RegisteredNodesNameTheirClientByIdOrAddress) {
  Client("node1", {"10.0.0.1"}, 11);
  Client("node2", {}, 12);  // host name node2.sim
  Client("cluster1", {}, 100);
  SInstanceSettings settings;
  settings.id = 7;
  settings.clientId = 100;
  auto node = [](const std::string& address, uint64_t clientId) {
    SNodeSettings n;
    n.address = address;
    n.clientId = clientId;
    n.configDirectory = "/conf/" + address;
    return n;
  };
  settings.nodes = {node("10.0.0.1", 0), node("node2.sim", 0), node("10.0.0.9", 0),
                    node("10.0.0.8", 12)};
  uint64_t id = 0;
  ASSERT_FALSE(registration_.registerInstance(settings, id).IsError());

  SInstanceRecord stored;
  ASSERT_FALSE(CSuiteStore::Default().LoadInstance(7, stored).IsError());
  ASSERT_EQ(stored.nodeXmls.size(), 4u);
  struct Expected {
    bool hasClient;
    int64_t clientId;
    std::string clientName;
  };
  const std::vector<Expected> expected = {
      {true, 11, "node1"}, {true, 12, "node2"}, {false, 0, ""}, {true, 12, "node2"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    App::CassandraNode record;
    ASSERT_EQ(record.unserialize(stored.nodeXmls[i]), 0);
    EXPECT_EQ(record.getAddress(), settings.nodes[i].address);
    EXPECT_EQ(record.getConfigDirectory(), settings.nodes[i].configDirectory);
    EXPECT_EQ(record.getClient().has_value(), expected[i].hasClient) << i;
    EXPECT_EQ(record.isSet(3), expected[i].hasClient) << i;
    if (record.getClient()) {
      EXPECT_EQ(record.getClient()->getClientId(), expected[i].clientId) << i;
      EXPECT_EQ(record.getClientName(), expected[i].clientName) << i;
    }
  }

  // A node of an unregistered client, without address, or with a data
  // directory that is not absolute (a ";" inside a directory splits it into
  // a relative one) stores nothing.
  auto withData = [&node](const std::string& directories) {
    SNodeSettings n = node("10.0.0.1", 0);
    n.dataDirectories = directories;
    return n;
  };
  for (const SNodeSettings& bad : {node("10.0.0.5", 55), node("", 11), withData("data"),
                                   withData("/d;1/data"), withData("/d1;;/d2"), withData("/d1;")}) {
    SInstanceSettings refused = settings;
    refused.id = 8;
    refused.nodes = {bad};
    EXPECT_TRUE(FXErrorUtil::IsWin32(registration_.registerInstance(refused, id), 87));
    SInstanceRecord none;
    EXPECT_TRUE(FXErrorUtil::IsWin32(CSuiteStore::Default().LoadInstance(8, none), 1168));
  }
  // Cassandra splits archive_command on blanks: an archive folder or command
  // holding one is refused.
  for (const auto& archive : std::vector<std::pair<std::string, std::string>>{
           {"/arch ive", "/bin/cp"}, {"/archive", "/opt/my tools/cp"}, {"/a\trch", "/bin/cp"}}) {
    SInstanceSettings refused = settings;
    refused.id = 10;
    refused.enableCommitLogBackup = true;
    refused.archiveLogPath = archive.first;
    refused.archiveCommand = archive.second;
    CQiError e = registration_.registerInstance(refused, id);
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << archive.first << " " << archive.second;
    EXPECT_NE(e.AsString().find("holds a blank; Cassandra splits archive_command on blanks"),
              std::string::npos)
        << e.AsString();
  }
  CQiError error = CSuiteRegistration::CheckDataDirectory("/d;1", "node1");
  EXPECT_EQ(error.GetMessage(),
            "Data directory \"/d;1\" of node node1 holds \";\", which separates a node's data "
            "directories");
  error = CSuiteRegistration::CheckDataDirectory("1/data", "node1");
  EXPECT_EQ(error.GetMessage(), "Data directory \"1/data\" of node node1 is not an absolute path");
  EXPECT_FALSE(CSuiteRegistration::CheckDataDirectory("/d1/data", "node1").IsError());
  SInstanceSettings accepted = settings;
  accepted.id = 9;
  accepted.nodes = {withData("/d1;/d2/data")};
  EXPECT_FALSE(registration_.registerInstance(accepted, id).IsError());
}
