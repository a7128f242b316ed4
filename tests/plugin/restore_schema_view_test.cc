// Schema and key records read back from a backup's index views: the backup
// reference time, the statements of the tables to create with their table
// id, the DSE key rows, the browse request, and the texts sent to Priam.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "RestorePrepareFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace {

using restoreprep::PrepareTest;

class SchemaViewTest : public PrepareTest {
 protected:
  restoreprep::PrepareProbe& ViewCoordinator() {
    restoreprep::PrepareProbe& c = Coordinator();
    c.sourceClientNames = {"node1", "node2", "node3"};
    c.destInstanceVersion = "3.11.4";
    return c;
  }
  std::string RefTimeFile() { return simtest::ReadFile(JobFile("BackupRefTime_")); }
};

TEST_F(SchemaViewTest, TheReferenceTimeIsTheEarliestNodeBackupTime) {
  struct Case {
    const char* name;
    std::vector<restoreprep::ViewEntry> entries;
    std::set<std::string> sources;
    int64_t expected;
    const char* file;
  } cases[] = {
      {"three nodes",
       {NodeEntry("node1", 300), NodeEntry("node2", 100), NodeEntry("node3", 200)},
       {"node1", "node2", "node3"},
       100,
       "100"},
      {"no node record of the source nodes", {NodeEntry("other", 50)}, {"node7", "node8"}, 0, "0"},
  };
  int64_t job = 900;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    BackupIndex(++job, k.entries);
    restoreprep::PrepareProbe& c = ViewCoordinator();
    c.sourceClientNames = k.sources;
    CQiError e = c.QueryCassandraView(false, {"/**"});
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    EXPECT_EQ(c.backupRefTime, k.expected);
    // Digits only: no line end, no blank.
    EXPECT_EQ(RefTimeFile(), k.file);
    // Without fetchSchemas nothing else is read.
    EXPECT_TRUE(c.keyspaceSchemas.empty());
    EXPECT_TRUE(CheckRequests().empty());
  }
}

TEST_F(SchemaViewTest, AReferenceTimeThatCannotBeWrittenIsAnError) {
  BackupIndex(901, {NodeEntry("node1", 300)});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  std::filesystem::create_directories(JobFile("BackupRefTime_"));
  CQiError e = c.QueryCassandraView(true, {"/**"});
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("BackupRefTime_47"), std::string::npos) << e.GetMessage();
  EXPECT_TRUE(CheckRequests().empty());
}

TEST_F(SchemaViewTest, TheBrowseRequestCarriesTheRestoresScope) {
  BackupIndex(901, {NodeEntry("node1", 300)});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  c.sourceInstanceId = 0x100000005ULL;  // narrowed to 5
  c.getRestoreInitData().clientId = 0;
  c.getRestoreInitData().fromTime = 0;
  c.getRestoreInitData().toTime = 0;
  c.getRestoreInitData().copyPrecedence = 2;
  c.restoreClientConfig->setApplicationType(64);
  CLogCapture log;
  ASSERT_FALSE(c.QueryCassandraView(false, {}).IsError());
  std::string xml;
  for (const auto& line : log.Lines()) {
    if (line.text.rfind("input:\n", 0) == 0) xml = line.text.substr(7);
  }
  ASSERT_FALSE(xml.empty());
  databrowse::BrowseRequest request;
  ASSERT_EQ(request.unserialize(xml), 0) << xml;
  EXPECT_EQ(request.getRequestType(), 1);
  ASSERT_TRUE(request.getAppId());
  EXPECT_EQ(request.getAppId()->getOmbrelId(), 2);
  EXPECT_EQ(request.getAppId()->getSubclientId(), -1);
  EXPECT_EQ(request.getAppId()->getInstanceId(), 5);
  EXPECT_EQ(request.getAppId()->getAppType(), 64);
  std::vector<std::string> paths;
  for (const auto& p : request.getPaths()) paths.push_back(p.getPath());
  EXPECT_EQ(paths, (std::vector<std::string>{"/node1", "/node2", "/node3"}));
  ASSERT_TRUE(request.getViewSpec());
  EXPECT_EQ(request.getViewSpec()->getViewName(), "NodeMetaData");
  EXPECT_EQ(request.getViewSpec()->getCopyPrecedence(), 2);
  ASSERT_TRUE(request.getOptions());
  EXPECT_EQ(request.getOptions()->getField2(), 1);
  EXPECT_EQ(request.getOptions()->getIncludeMetadata(), 1);
  EXPECT_EQ(request.getOptions()->getField18(), 2);
  ASSERT_EQ(request.getQueries().size(), 1u);
  ASSERT_TRUE(request.getQueries()[0].getFilter());
  ASSERT_TRUE(request.getQueries()[0].getFilter()->getRange());
  EXPECT_EQ(request.getQueries()[0].getFilter()->getRange()->getField3(), 4294967295LL);
}

TEST_F(SchemaViewTest, TheTableIdClauseFollowsTheDestinationVersion) {
  const std::string one = "CREATE TABLE ks.t (id int PRIMARY KEY) WITH comment = 'a;b';";
  const std::string two = "CREATE TABLE ks.t (id int PRIMARY KEY);CREATE INDEX i ON ks.t (id);";
  struct Case {
    const char* version;
    std::string cql;
    std::string id;
    std::string expected;
  } cases[] = {
      {"3.11.4", one, "5a1c-01",
       "CREATE TABLE ks.t (id int PRIMARY KEY) WITH comment = 'a;b' AND ID = '5a1c-01';"},
      {"2.2.19", one, "5a1c-01", one},
      {"4", one, "5a1c-01", one},
      {"4.0", two, "5a1c-01",
       "CREATE TABLE ks.t (id int PRIMARY KEY) AND ID = '5a1c-01';;CREATE INDEX i ON ks.t (id);"},
      {"4.0", one, "", one},
      {"4.0", "CREATE TABLE ks.t (id int PRIMARY KEY)", "x",
       "CREATE TABLE ks.t (id int PRIMARY KEY) AND ID = 'x';;"},
  };
  restoreprep::PrepareProbe& c = ViewCoordinator();
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.version) + " " + k.cql);
    c.destInstanceVersion = k.version;
    EXPECT_EQ(c.withTableIdClause(k.cql, k.id), k.expected);
  }
}

TEST_F(SchemaViewTest, MissingTablesGetTheirStatementsAndPresentOnesNothing) {
  IdxMetadata::CassandraEncryptionInfo keys =
      Keys("/etc/dse/keys/system_key", "KEYFILE", "k1", 128);
  BackupIndex(901,
              {NodeEntry("node1", 300), KeyspaceEntry("ks1", "CREATE KEYSPACE ks1\nWITH x;"),
               TableEntry("ks1", "t1", "CREATE TABLE ks1.t1 (\n id int PRIMARY KEY\n);",
                          "0a0b0c0d-0000-1111-2222-333344445555"),
               TableEntry("ks1", "t2", "CREATE TABLE ks1.t2 (id int PRIMARY KEY);", "id2", keys),
               TableEntry("ks2", "t1", "CREATE TABLE ks2.t1 (id int PRIMARY KEY);", "id3")});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  Keyspace("ks1", false);
  Table("ks1", "t1", false);
  Table("ks1", "t2", true);
  Table("ks2", "t1", false);
  ASSERT_FALSE(c.QueryCassandraView(true, {"/**"}).IsError());

  ASSERT_EQ(c.keyspaceSchemas.size(), 2u);
  const TQCassandra::cassandraCqlStatements& ks1 = c.keyspaceSchemas["ks1"];
  EXPECT_EQ(ks1.keyspaceCql, "CREATE KEYSPACE ks1 WITH x;");
  // t2 is present: the keyspace exists after all, and an encrypted table
  // that exists brings no key row.
  EXPECT_TRUE(ks1.keyspaceExists);
  EXPECT_EQ(ks1.tableCqls,
            (std::vector<std::string>{"CREATE TABLE ks1.t1 (  id int PRIMARY KEY ) AND ID = "
                                      "'0a0b0c0d-0000-1111-2222-333344445555';"}));
  EXPECT_TRUE(c.encryptedTableRows.empty());
  EXPECT_TRUE(c.systemKeyFiles.empty());
  // A table record of a keyspace without keyspace record makes its entry.
  const TQCassandra::cassandraCqlStatements& ks2 = c.keyspaceSchemas["ks2"];
  EXPECT_EQ(ks2.keyspaceName, "ks2");
  EXPECT_EQ(ks2.keyspaceCql, "");
  EXPECT_EQ(ks2.tableCqls.size(), 1u);

  // Read again (a second selection of the same node): nothing is checked or
  // queued a second time.
  const size_t checks = CheckRequests().size();
  ASSERT_FALSE(c.QueryCassandraView(true, {"/**"}).IsError());
  EXPECT_EQ(CheckRequests().size(), checks);
  EXPECT_EQ(c.keyspaceSchemas["ks1"].tableCqls.size(), 1u);
  EXPECT_EQ(c.keyspaceSchemas["ks2"].tableCqls.size(), 1u);
}

TEST_F(SchemaViewTest, TheSchemaPriamDecodesIsTheBackedUpCql) {
  const std::string cql =
      "CREATE TABLE ks1.\"T\\\"q\" (\n\tid int PRIMARY KEY,\r\n v text\n) WITH comment = "
      "'it''s a \\\\ \"quoted\"; comment' AND caching = {'keys': 'ALL'};";
  BackupIndex(901, {KeyspaceEntry("ks1", "CREATE KEYSPACE ks1 WITH c = '\\\"';"),
                    TableEntry("ks1", "t1", cql, "")});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  Keyspace("ks1", false);
  Table("ks1", "t1", false);
  Scripted().SetReply("ExecuteCQL", "Success");
  ASSERT_FALSE(c.QueryCassandraView(true, {"/ks1"}).IsError());
  c.viewStandIn = true;
  ASSERT_FALSE(Prepare().IsError());

  std::string flat = cql;
  std::replace(flat.begin(), flat.end(), '\n', ' ');
  const std::vector<std::string> bodies = CqlBodies();
  ASSERT_EQ(bodies.size(), 2u);
  std::vector<std::string> decoded;
  for (const auto& body : bodies) {
    nlohmann::json parsed = nlohmann::json::parse(body);  // valid JSON, or the test fails
    decoded.push_back(parsed.at("Schema").get<std::string>());
  }
  EXPECT_EQ(decoded[0], "CREATE KEYSPACE ks1 WITH c = '\\\"';");
  EXPECT_EQ(decoded[1], flat);
}

TEST_F(SchemaViewTest, EncryptedTablesGiveKeyRowsAndSharedKeyFilesOnce) {
  BackupIndex(901, {TableEntry("ks1", "t1", "CREATE TABLE ks1.t1 (id int PRIMARY KEY);", "",
                               Keys("/etc/dse/keys/system_key", "FIRST", "k1", 128)),
                    TableEntry("ks1", "t2", "CREATE TABLE ks1.t2 (id int PRIMARY KEY);", "",
                               Keys("/etc/dse/keys/system_key", "SECOND", "k2", 256))});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  Table("ks1", "t1", false);
  Table("ks1", "t2", false);
  ASSERT_FALSE(c.QueryCassandraView(true, {"/ks1"}).IsError());
  ASSERT_EQ(c.encryptedTableRows.size(), 2u);
  const auto& first = c.encryptedTableRows.front();
  EXPECT_EQ(first.keyFileName, "system_key");
  EXPECT_EQ(first.key, "k1");
  EXPECT_EQ(first.keyId, "id-k1");
  EXPECT_EQ(first.cipher, "AES");
  EXPECT_EQ(first.strength, 128u);
  EXPECT_EQ(c.encryptedTableRows.back().strength, 256u);
  EXPECT_EQ(c.systemKeyFiles,
            (std::unordered_map<std::string, std::string>{{"/etc/dse/keys/system_key", "FIRST"}}));
}

TEST_F(SchemaViewTest, AKeyThatCannotBeDecryptedFailsNamingItsTable) {
  IdxMetadata::CassandraEncryptionInfo keys = Keys("/etc/dse/keys/system_key", "C", "k1", 128);
  keys.setKey(restoretest::kNotEncrypted);
  BackupIndex(901,
              {TableEntry("ks1", "t9", "CREATE TABLE ks1.t9 (id int PRIMARY KEY);", "", keys)});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  Table("ks1", "t9", false);
  CLogCapture log;
  CQiError e = c.QueryCassandraView(true, {"/ks1"});
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("ks1.t9"), std::string::npos) << e.GetMessage();
  EXPECT_TRUE(log.Contains("Failed to decrypt the key for the key file /etc/dse/keys/system_key"));
  EXPECT_TRUE(c.encryptedTableRows.empty());
  EXPECT_TRUE(c.systemKeyFiles.empty());
  EXPECT_TRUE(c.keyspaceSchemas["ks1"].tableCqls.empty());
}

TEST_F(SchemaViewTest, AFailedExistenceCheckEndsTheRead) {
  BackupIndex(901, {KeyspaceEntry("ks1", "CREATE KEYSPACE ks1;"),
                    TableEntry("ks1", "t1", "CREATE TABLE ks1.t1 (id int PRIMARY KEY);", "")});
  restoreprep::PrepareProbe& c = ViewCoordinator();
  Scripted().SetAccessDenied("checkExistance?keyspace=ks1");
  CQiError e = c.QueryCassandraView(true, {"/ks1"});
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(CEventJournal::Instance().Find(restoretest::kEvPriamAccessDenied).size(), 1u);
  EXPECT_TRUE(c.keyspaceSchemas["ks1"].tableCqls.empty());
}

}  // namespace
