// The views "NodeMetaData" and "DBView" that a backup job leaves in the index:
// order and numbering of the entries, flags, GUIDs, replication rows, table
// ids, the encrypted system key of DSE-encrypted tables, the dse.yaml lookup,
// and the failures of each step.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "BackupCompleteFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ObjectGuid.h"
#include "platform/log/LogWriter.h"

namespace {

using backup_complete::CompletionTest;
using backup_complete::Decrypt;
using nlohmann::json;

constexpr uint32_t kPriamRequestFailed = 0x60003D3;
constexpr uint32_t kPriamAccessDenied = 0x6000485;
constexpr uint32_t kSystemKeyUnreadable = 0x600046F;
constexpr uint32_t kDseYamlUnreadable = 0x600001E;

const char* const kSimple = "org.apache.cassandra.locator.SimpleStrategy";
const char* const kTopology = "org.apache.cassandra.locator.NetworkTopologyStrategy";

std::string Guid(const std::string& path) {
  std::string guid;
  GetObjectGuid(path.c_str(), 0, '/', guid);
  return guid;
}

json Table(const std::string& name, const std::string& id, bool encrypted = false,
           const json& options = json()) {
  json table = {{"COLUMNSPACE", name},
                {"ID", id},
                {"SCHEMA", "CREATE TABLE x." + name + " (id int PRIMARY KEY);"},
                {"ENCRYPTED", encrypted}};
  if (!options.is_null()) table["EncyptionOptions"] = options;
  return table;
}

// `tables` is a list, so that a single table is not taken for the array itself.
json Keyspace(const std::string& name, const json& replication, const std::vector<json>& tables) {
  json list = json::array();
  for (const auto& t : tables) list.push_back(t);
  return {{"KEYSPACE", name},
          {"SCHEMA", "CREATE KEYSPACE " + name + " WITH replication = {};"},
          {"REPLICATION", replication},
          {"Tables", list}};
}

json Status(const std::vector<std::string>& dataCenters) {
  json status = json::array();
  for (const auto& dc : dataCenters) status.push_back({{"node", "10.0.0.1"}, {"data_center", dc}});
  return status;
}

struct Row {
  std::string dataCenter;
  int64_t factor;
  bool operator==(const Row& o) const { return dataCenter == o.dataCenter && factor == o.factor; }
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "(" << row.dataCenter << ", " << row.factor << ")";
}

std::vector<Row> Rows(const IdxMetadata::CassandraKeyspaceMetadata& keyspace) {
  std::vector<Row> rows;
  for (const auto& r : keyspace.getReplication())
    rows.push_back({r.getDataCenter(), r.getReplicationFactor()});
  return rows;
}

class IndexViews : public CompletionTest {
 protected:
  void SetUp() override {
    CompletionTest::SetUp();
    StoreJobItem();
    UseScriptedPriam();
    AddNodes({"node1", "node2", "node3"});
    coordinator_->nodeBackupTime = {{"node1", 1000}, {"node2", 2000}, {"node3", 3000}};
  }

  void Script(const json& meta, const std::vector<std::string>& dataCenters = {"dc1"}) {
    script_->SetReply("getMeta", meta.dump());
    script_->SetReply("status", Status(dataCenters).dump());
  }

  // A dse.yaml naming `keyDirectory`, registered as the one to read.
  void DseYaml(const std::string& keyDirectory) {
    std::string path = data_.Sub("dse.yaml");
    std::ofstream(path) << "config_encryption_active: false\nsystem_key_directory: " << keyDirectory
                        << "\n";
    registry_.Set("Cassandra", "sCassandraDSEyamlFile", path);
  }

  std::string KeyFile(const std::string& name, const std::string& content) {
    std::filesystem::create_directories(data_.Sub("keys"));
    std::string path = data_.Sub("keys/" + name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // The job's view entries by path.
  std::map<std::string, IdxMetadata::IdxMetaData> EntriesByPath() {
    std::map<std::string, IdxMetadata::IdxMetaData> out;
    for (const auto& r : Metadata()) out[r.path] = Parse(r);
    return out;
  }

  std::vector<std::string> Paths() {
    std::vector<std::string> paths;
    for (const auto& r : Metadata()) paths.push_back(r.path);
    return paths;
  }

  // Every byte the index keeps on disk.
  std::string IndexBytes() {
    std::string all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home_->Sub("index"))) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      all += s.str();
    }
    return all;
  }
};

TEST_F(IndexViews, NodesThenEachKeyspaceWithItsTablesNumberedInOrder) {
  coordinator_->nodeKeyspaces = {{"node1", {"ks1", "ks2"}}, {"node2", {"ks1"}}};
  json meta =
      json::array({Keyspace("ks1", {{"class", kTopology}, {"dc1", "3"}, {"dc2", "2"}},
                            {Table("t1", "5bc52802-de25-35ed-aeab-188eecebb090"),
                             Table("t2", "0a0b0c0d-0000-1111-2222-333344445555")}),
                   42,
                   Keyspace("ks2", {{"class", kSimple}, {"replication_factor", "3"}},
                            {"not a table", Table("t1", "11111111-2222-3333-4444-555555555555")}),
                   Keyspace("ks3", {{"class", kSimple}, {"replication_factor", "1"}},
                            {Table("t1", "99999999-2222-3333-4444-555555555555")})});
  Script(meta, {"dc2", "dc1", "dc1"});

  CLogCapture log;
  const int64_t before = time(nullptr);
  CQiError error = coordinator_->createCassandraMetadataInIndex();
  const int64_t after = time(nullptr);
  ASSERT_FALSE(error.IsError()) << error.AsString();
  EXPECT_TRUE(log.Contains("Idx Backup done"));
  EXPECT_TRUE(IndexWritingClosed());

  const std::vector<std::string> expected = {"/node1",  "/node2",  "/node3", "/ks1",
                                             "/ks1/t1", "/ks1/t2", "/ks2",   "/ks2/t1"};
  EXPECT_EQ(Paths(), expected);

  // One file record per entry, numbered from 1 over all three kinds.
  std::vector<SEntryRecord> files = FileRecords();
  ASSERT_EQ(files.size(), expected.size());
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].path);
    EXPECT_EQ(files[i].path, expected[i]);
    EXPECT_EQ(files[i].sequence, static_cast<int64_t>(i + 1));
    EXPECT_EQ(files[i].headerType, 0x50C0u);
    EXPECT_EQ(files[i].headerVersion, 0x404u);
    const bool keyspace = expected[i] == "/ks1" || expected[i] == "/ks2";
    EXPECT_EQ(files[i].flags, keyspace ? 0x4000u : 0u);
    EXPECT_GE(files[i].headerTime, before);
    EXPECT_LE(files[i].headerTime, after);
  }

  // Headers: view, component id, object and parent GUIDs, a version GUID.
  for (const auto& record : Metadata()) {
    SCOPED_TRACE(record.path);
    IdxMetadata::IdxMetaData entry = Parse(record);
    auto header = entry.getHeader();
    ASSERT_TRUE(header);
    const bool node = record.path.rfind("/node", 0) == 0;
    EXPECT_EQ(header->getView()->getViewName(), node ? "NodeMetaData" : "DBView");
    EXPECT_EQ(header->getView()->getComponentId(), Guid("/"));
    EXPECT_EQ(header->getObjectGuid(), Guid(record.path));
    const std::string parent = record.path.find('/', 1) == std::string::npos
                                   ? "/"
                                   : record.path.substr(0, record.path.find('/', 1));
    EXPECT_EQ(header->getParentGuid(), Guid(parent));
    ASSERT_TRUE(entry.getRecordId());
    const std::string version = entry.getRecordId()->getRecordGuid();
    EXPECT_TRUE(version == Guid(record.path + "." + std::to_string(before)) ||
                version == Guid(record.path + "." + std::to_string(after)))
        << version;
  }

  auto entries = EntriesByPath();
  for (auto [name, time] :
       {std::pair<std::string, int64_t>{"node1", 1000}, {"node2", 2000}, {"node3", 3000}}) {
    auto payload = entries["/" + name].getNodeMetadata();
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->getClientName(), name);
    EXPECT_EQ(payload->getBackupTime(), time);
  }
  auto ks1 = entries["/ks1"].getKeyspaceMetadata();
  ASSERT_TRUE(ks1);
  EXPECT_EQ(ks1->getKeyspaceName(), "ks1");
  EXPECT_EQ(ks1->getCql(), "CREATE KEYSPACE ks1 WITH replication = {};");
  EXPECT_EQ(ks1->getReplicationClass(), kTopology);
  EXPECT_EQ(Rows(*ks1), (std::vector<Row>{{"dc1", 3}, {"dc2", 2}}));
  auto ks2 = entries["/ks2"].getKeyspaceMetadata();
  ASSERT_TRUE(ks2);
  EXPECT_EQ(Rows(*ks2), (std::vector<Row>{{"dc1", 3}, {"dc2", 3}}));

  auto t1 = entries["/ks1/t1"].getTableMetadata();
  ASSERT_TRUE(t1);
  EXPECT_EQ(t1->getTableName(), "t1");
  EXPECT_EQ(t1->getTableId(), "5bc52802-de25-35ed-aeab-188eecebb090");
  EXPECT_EQ(t1->getCql(), "CREATE TABLE x.t1 (id int PRIMARY KEY);");
  EXPECT_EQ(t1->getEncrypted(), 0);
  EXPECT_FALSE(t1->getEncryption());
  EXPECT_FALSE(entries["/ks1/t1"].getKeyspaceMetadata());
  EXPECT_EQ(entries["/ks2/t1"].getTableMetadata()->getTableId(),
            "11111111-2222-3333-4444-555555555555");
}

TEST_F(IndexViews, ReplicationRowsPerStrategy) {
  struct Case {
    const char* keyspace;
    json replication;
    const char* replicationClass;
    std::vector<Row> rows;
  };
  const std::vector<Case> cases = {
      // One row per data centre of the ring, sorted, whatever the order Priam gives.
      {"simple",
       {{"class", kSimple}, {"replication_factor", "3"}},
       kSimple,
       {{"dc1", 3}, {"dc2", 3}}},
      {"topology",
       {{"class", kTopology}, {"dc1", "3"}, {"dc2", "2"}},
       kTopology,
       {{"dc1", 3}, {"dc2", 2}}},
      // Factors given as numbers; rows in data-centre order.
      {"numbers",
       {{"class", kTopology}, {"dc2", 1}, {"dc1", 2}},
       kTopology,
       {{"dc1", 2}, {"dc2", 1}}},
      // A text holding the object is read as the object.
      {"text",
       json({{"class", kSimple}, {"replication_factor", "2"}}).dump(),
       kSimple,
       {{"dc1", 2}, {"dc2", 2}}},
      {"local",
       {{"class", "org.apache.cassandra.locator.LocalStrategy"}},
       "org.apache.cassandra.locator.LocalStrategy",
       {}},
  };
  json meta = json::array();
  for (const auto& c : cases) {
    meta.push_back(Keyspace(c.keyspace, c.replication, {}));
    coordinator_->nodeKeyspaces["node1"].push_back(c.keyspace);
  }
  Script(meta, {"dc2", "dc1", "dc2"});
  ASSERT_FALSE(coordinator_->createCassandraMetadataInIndex().IsError());

  auto entries = EntriesByPath();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyspace);
    auto keyspace = entries["/" + std::string(c.keyspace)].getKeyspaceMetadata();
    ASSERT_TRUE(keyspace);
    EXPECT_EQ(keyspace->getReplicationClass(), c.replicationClass);
    EXPECT_EQ(Rows(*keyspace), c.rows);
  }
}

// A keyspace the index cannot read as the node start-up read it fails the
// write with the request's event instead of writing it without replication.
TEST_F(IndexViews, AReplicationOfAnotherShapeFailsTheWrite) {
  for (const json& replication : {json("not json"), json(3), json({{"class", 7}})}) {
    SCOPED_TRACE(replication.dump());
    TearDown();
    SetUp();
    coordinator_->nodeKeyspaces["node1"] = {"ks1"};
    Script(json::array({Keyspace("ks1", replication, {})}));
    CQiError error = coordinator_->createCassandraMetadataInIndex();
    ASSERT_TRUE(error.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString(2);
    auto events = CEventJournal::Instance().Find(kPriamRequestFailed);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].args, std::vector<std::string>{"getMeta"});
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3"}));
  }
}

TEST_F(IndexViews, KeyspaceFilterFollowsTheNodeKeys) {
  coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}, {"node2", {}}, {"node3", {"ks3", "ks2"}}};
  EXPECT_TRUE(coordinator_->isKeyspaceBackedUp("ks1"));
  EXPECT_TRUE(coordinator_->isKeyspaceBackedUp("ks2"));
  EXPECT_FALSE(coordinator_->isKeyspaceBackedUp("ks4"));
  EXPECT_FALSE(coordinator_->isKeyspaceBackedUp(""));
  coordinator_->nodeKeyspaces.clear();
  EXPECT_FALSE(coordinator_->isKeyspaceBackedUp("ks1"));
}

TEST_F(IndexViews, EncryptedTableCarriesTheKeyFileAndEncryptedValues) {
  const std::string keyContent = "AES/ECB/PKCS5Padding:128:c2VjcmV0a2V5MTIzNDU2Nzg=\n";
  KeyFile("system_key", keyContent);
  DseYaml(data_.Sub("keys"));
  // The second table's key is far longer than the first values: each value
  // gets the whole buffer.
  const std::string longKey(600, 'k');
  coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
  Script(json::array({Keyspace("ks1", {{"class", kSimple}, {"replication_factor", "1"}},
                               {Table("t1", "aaaaaaaa-0000-0000-0000-000000000001", true,
                                      {{"key_file", "system_key"},
                                       {"cipher", "AES/ECB/PKCS5Padding"},
                                       {"strength", 128},
                                       {"key", "k3y-material"},
                                       {"key_id", "6a1c2f3e-1111-2222-3333-444455556666"}}),
                                Table("t2", "aaaaaaaa-0000-0000-0000-000000000002", true,
                                      {{"key_file", "system_key"},
                                       {"cipher", "AES"},
                                       {"strength", 256},
                                       {"key", longKey},
                                       {"key_id", "id2"}})})}));

  ASSERT_FALSE(coordinator_->createCassandraMetadataInIndex().IsError());
  auto entries = EntriesByPath();
  auto t1 = entries["/ks1/t1"].getTableMetadata();
  ASSERT_TRUE(t1);
  EXPECT_EQ(t1->getEncrypted(), 1);
  auto e1 = t1->getEncryption();
  ASSERT_TRUE(e1);
  EXPECT_EQ(e1->getKeyFile(), data_.Sub("keys/system_key"));
  EXPECT_EQ(e1->getStrength(), 128);
  EXPECT_EQ(Decrypt(e1->getKeyFileContent()), keyContent);
  EXPECT_EQ(Decrypt(e1->getCipher()), "AES/ECB/PKCS5Padding");
  EXPECT_EQ(Decrypt(e1->getKey()), "k3y-material");
  EXPECT_EQ(Decrypt(e1->getKeyId()), "6a1c2f3e-1111-2222-3333-444455556666");
  EXPECT_NE(e1->getKey(), "k3y-material");

  auto e2 = entries["/ks1/t2"].getTableMetadata()->getEncryption();
  ASSERT_TRUE(e2);
  EXPECT_EQ(e2->getStrength(), 256);
  EXPECT_EQ(Decrypt(e2->getKey()), longKey);
  EXPECT_EQ(Decrypt(e2->getKeyId()), "id2");

  // No plain key material anywhere in the index.
  const std::string bytes = IndexBytes();
  EXPECT_EQ(bytes.find("c2VjcmV0a2V5MTIzNDU2Nzg="), std::string::npos);
  EXPECT_EQ(bytes.find("k3y-material"), std::string::npos);
  EXPECT_EQ(bytes.find(longKey), std::string::npos);
}

TEST_F(IndexViews, KeyFileTooLargeForItsBufferIsAnErrorForThatTable) {
  KeyFile("system_key", std::string(2000, 'x'));
  DseYaml(data_.Sub("keys"));
  coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
  Script(json::array({Keyspace("ks1", {{"class", kSimple}, {"replication_factor", "1"}},
                               {Table("t0", "aaaaaaaa-0000-0000-0000-000000000000"),
                                Table("t1", "aaaaaaaa-0000-0000-0000-000000000001", true,
                                      {{"key_file", "system_key"},
                                       {"cipher", "AES"},
                                       {"strength", 128},
                                       {"key", "k"},
                                       {"key_id", "i"}})})}));
  CQiError error = coordinator_->createCassandraMetadataInIndex();
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_NE(error.AsString().find("ks1.t1 is too large"), std::string::npos) << error.AsString();
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3", "/ks1", "/ks1/t0"}));
  EXPECT_FALSE(IndexWritingClosed());
}

// Only a file inside the system key folder is read: a name that leads out of
// it, directly, through "..", or through a link, ends the write with an
// error naming the table, and nothing of the file reaches the index.
TEST_F(IndexViews, KeyFileOutsideTheSystemKeyFolderIsRefused) {
  const std::string secret = data_.Sub("secret");
  std::ofstream(secret) << "not a key: private\n";
  KeyFile("system_key", "AES:128:a2V5\n");
  std::filesystem::create_directories(data_.Sub("keys/sub"));
  std::ofstream(data_.Sub("keys/sub/nested_key")) << "AES:128:bmVzdGVk\n";
  std::filesystem::create_symlink(secret, data_.Sub("keys/link"));
  const struct {
    std::string named;
    bool refused;
  } cases[] = {
      {"../secret", true},
      {secret, true},
      {"sub/../../secret", true},
      {"link", true},
      {"", true},
      {"system_key", false},
      {"sub/nested_key", false},
      {data_.Sub("keys/system_key"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    TearDown();
    SetUp();
    DseYaml(data_.Sub("keys"));
    coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
    Script(json::array({Keyspace("ks1", {{"class", kSimple}, {"replication_factor", "1"}},
                                 {Table("t1", "aaaaaaaa-0000-0000-0000-000000000001", true,
                                        {{"key_file", c.named},
                                         {"cipher", "AES"},
                                         {"strength", 128},
                                         {"key", "k"},
                                         {"key_id", "i"}})})}));
    CQiError error = coordinator_->createCassandraMetadataInIndex();
    EXPECT_EQ(error.IsError(), c.refused) << error.AsString();
    if (c.refused) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
      EXPECT_NE(error.AsString().find("of table ks1.t1 is not inside the system key folder"),
                std::string::npos)
          << error.AsString();
      EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3", "/ks1"}));
    }
    EXPECT_EQ(IndexBytes().find("private"), std::string::npos);
  }
}

TEST_F(IndexViews, EncryptedTableWithoutOptionsIsLeftOut) {
  DseYaml(data_.Sub("keys"));
  coordinator_->nodeKeyspaces = {{"node1", {"ks1", "ks2"}}};
  Script(json::array({Keyspace("ks1", {{"class", kSimple}, {"replication_factor", "1"}},
                               {Table("t1", "aaaaaaaa-0000-0000-0000-000000000001", true),
                                Table("t2", "aaaaaaaa-0000-0000-0000-000000000002")}),
                      Keyspace("ks2", {{"class", kSimple}, {"replication_factor", "1"}},
                               {Table("t1", "aaaaaaaa-0000-0000-0000-000000000003")})}));
  CLogCapture log;
  ASSERT_FALSE(coordinator_->createCassandraMetadataInIndex().IsError());
  EXPECT_TRUE(log.Contains("Failed to fetch Encryption options for table ks1.t1"));
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3", "/ks1", "/ks1/t2",
                                               "/ks2", "/ks2/t1"}));
  EXPECT_TRUE(IndexWritingClosed());
}

TEST_F(IndexViews, UnreadableKeyFileSetsThePendingCauseAndEndsTheWrite) {
  DseYaml(data_.Sub("keys"));
  coordinator_->nodeKeyspaces = {{"node1", {"ks1", "ks2"}}};
  Script(json::array({Keyspace("ks1", {{"class", kSimple}, {"replication_factor", "1"}},
                               {Table("t1", "aaaaaaaa-0000-0000-0000-000000000001", true,
                                      {{"key_file", "missing_key"},
                                       {"cipher", "AES"},
                                       {"strength", 128},
                                       {"key", "k"},
                                       {"key_id", "i"}})}),
                      Keyspace("ks2", {{"class", kSimple}, {"replication_factor", "1"}}, {})}));
  CLogCapture log;
  CQiError error = coordinator_->createCassandraMetadataInIndex();
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(log.Contains("Failed to read system key file: "));
  auto causes = CEventJournal::Instance().Find(kSystemKeyUnreadable, CEventJournal::kPendingCause);
  ASSERT_EQ(causes.size(), 1u);
  EXPECT_EQ(causes[0].args, std::vector<std::string>{data_.Sub("keys/missing_key")});
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3", "/ks1"}));
  EXPECT_FALSE(IndexWritingClosed());
}

TEST_F(IndexViews, UnreadableDseYamlEndsTheWriteWithItsEvent) {
  registry_.Set("Cassandra", "sCassandraDSEyamlFile", data_.Sub("no/dse.yaml"));
  coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
  Script(json::array({Keyspace(
      "ks1", {{"class", kSimple}, {"replication_factor", "1"}},
      {Table("t1", "aaaaaaaa-0000-0000-0000-000000000001", true, {{"key_file", "system_key"}})})}));
  CLogCapture log;
  CQiError error = coordinator_->createCassandraMetadataInIndex();
  ASSERT_TRUE(FXErrorUtil::IsEvent(error, kDseYamlUnreadable)) << error.AsString();
  EXPECT_TRUE(log.Contains("Failed to open the DSE Yaml file " + data_.Sub("no/dse.yaml")));
  EXPECT_FALSE(IndexWritingClosed());
}

TEST_F(IndexViews, SystemKeyDirectoryFromDseYaml) {
  struct Case {
    const char* name;
    const char* yaml;
    const char* directory;
  };
  const Case cases[] = {
      {"plain", "system_key_directory: /etc/dse/conf\n", "/etc/dse/conf"},
      {"commented, then set", "# system_key_directory: /old\n\tsystem_key_directory:   /new  \n",
       "/new"},
      {"a later line wins", "system_key_directory: /one\nsystem_key_directory: /two\n", "/two"},
      {"value with a colon is ignored", "system_key_directory: /one\nsystem_key_directory: c:/x\n",
       "/one"},
      {"no such line", "config_encryption_active: false\n", ""},
      {"windows line ends", "system_key_directory: /crlf\r\n", "/crlf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = data_.Sub("dse-case.yaml");
    std::ofstream(path, std::ios::trunc) << c.yaml;
    registry_.Set("Cassandra", "sCassandraDSEyamlFile", path);
    std::string directory = "stale";
    ASSERT_FALSE(coordinator_->getCassandraSystemKeyDirectory(directory).IsError());
    EXPECT_EQ(directory, c.directory);
  }
}

TEST_F(IndexViews, FailedGetMetaRaisesOneEventAfterTheNodeEntries) {
  struct Case {
    const char* name;
    bool accessDenied;
    uint32_t event;
  };
  for (const auto& c : {Case{"request failed", false, kPriamRequestFailed},
                        Case{"access denied", true, kPriamAccessDenied}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
    if (c.accessDenied) {
      script_->SetAccessDenied("getMeta");
    } else {
      script_->SetError("getMeta", FXErrorUtil::ErrorWin32(FXLOC, 774, "meta broke"), "reply text");
    }
    script_->SetReply("status", Status({"dc1"}).dump());
    CLogCapture log;
    CQiError error = coordinator_->createCassandraMetadataInIndex();
    ASSERT_TRUE(error.IsError());
    EXPECT_TRUE(log.Contains("Error while getting metadata from the Cassandra cluster. Error: "));
    std::vector<CEventJournal::Entry> events = CEventJournal::Instance().Entries();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, c.event);
    EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
    EXPECT_EQ(events[0].args,
              c.accessDenied ? std::vector<std::string>{} : std::vector<std::string>{"getMeta"});
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3"}));
    EXPECT_EQ(RequestsFor("status"), 0);
    EXPECT_FALSE(IndexWritingClosed());
    EXPECT_TRUE(coordinator_->metaJson.IsEmpty());
  }
}

TEST_F(IndexViews, ReplyCachedAtNodeStartIsUsedUnchanged) {
  coordinator_->nodeKeyspaces = {{"node1", {"cached"}}};
  coordinator_->metaJson =
      json::array({Keyspace("cached", {{"class", kSimple}, {"replication_factor", "2"}}, {})})
          .dump();
  script_->SetReply("getMeta", "[]");
  script_->SetReply("status", Status({"dc1"}).dump());
  ASSERT_FALSE(coordinator_->createCassandraMetadataInIndex().IsError());
  EXPECT_EQ(RequestsFor("getMeta"), 0);
  EXPECT_EQ(Paths(), (std::vector<std::string>{"/node1", "/node2", "/node3", "/cached"}));
}

TEST_F(IndexViews, FailedStatusRaisesAMinorEventWithTheReply) {
  coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
  script_->SetReply("getMeta", "[]");
  script_->SetError("status", FXErrorUtil::ErrorWin32(FXLOC, 774, "status broke"), "ring reply");
  CLogCapture log;
  CQiError error = coordinator_->createCassandraMetadataInIndex();
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(log.Contains("Failed to fetch Cassandra status to get the list of datacenters"));
  auto events = CEventJournal::Instance().Find(kPriamRequestFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kMinor);
  ASSERT_EQ(events[0].args.size(), 2u);
  EXPECT_EQ(events[0].args[0], "status");
  EXPECT_NE(events[0].args[1].find("status broke"), std::string::npos) << events[0].args[1];
  EXPECT_EQ(events[0].args[1].substr(events[0].args[1].size() - 12), ": ring reply");
  EXPECT_FALSE(IndexWritingClosed());
}

TEST_F(IndexViews, JobWithoutArchiveFileIsAClearErrorAndSendsNothing) {
  config_->setJobId(2002);  // nothing was stored for this job
  coordinator_->nodeKeyspaces = {{"node1", {"ks1"}}};
  Script(json::array());
  CQiError error = coordinator_->createCassandraMetadataInIndex();
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_NE(error.AsString().find("Archive file retrieval failed: job 2002 has no archive file"),
            std::string::npos)
      << error.AsString();
  EXPECT_TRUE(Metadata(2002).empty());
  EXPECT_TRUE(Metadata().empty());
  EXPECT_TRUE(script_->AllRequests().empty());
}

}  // namespace
