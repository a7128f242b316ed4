// The restore preparation: which selections are checked on the destination
// and which index paths are read, node names of the restoring clients, the
// replication choice, the creation of keyspaces and tables and its failures,
// and the steps that run only when their work exists.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "RestorePrepareFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/StartClientRestoreDistributed.h"
#include "platform/log/LogWriter.h"

namespace {

using restoreprep::kEvSchemaCreateFailed;
using restoreprep::PrepareTest;

// ---- the selection walk ----

TEST_F(PrepareTest, SelectionsDecideTheExistenceChecksAndTheIndexPaths) {
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    uint64_t count;  // ~0: all of them
    bool logRestore;
    std::map<std::string, bool> keyspaces;  // scripted existence
    std::map<std::string, bool> tables;     // "ks/t" -> exists
    std::vector<std::string> checks;
    bool fetch;
    std::vector<std::string> schemaPaths;
  } cases[] = {
      {"a node selection reads every backed-up schema",
       {"/c/dc1/node1"},
       ~0ull,
       false,
       {},
       {},
       {},
       true,
       {"/**"}},
      {"a cluster and a data centre selection too",
       {"/c", "/c/dc1"},
       ~0ull,
       false,
       {},
       {},
       {},
       true,
       {"/**", "/**"}},
      {"a table of a missing keyspace: the keyspace path brings all its tables",
       {"/c/dc1/node1/ks1/t1", "/c/dc1/node2/ks1/t2"},
       ~0ull,
       false,
       {{"ks1", false}},
       {},
       {"checkExistance?keyspace=ks1"},
       true,
       {"/ks1"}},
      {"a missing table of a present keyspace, selected on two nodes",
       {"/c/dc1/node1/ks2/t1", "/c/dc1/node2/ks2/t1"},
       ~0ull,
       false,
       {{"ks2", true}},
       {{"ks2/t1", false}},
       {"checkExistance?keyspace=ks2", "checkExistance?keyspace=ks2&table=t1"},
       true,
       {"/ks2/t1"}},
      {"a present table adds no path",
       {"/c/dc1/node1/ks2/t1"},
       ~0ull,
       false,
       {{"ks2", true}},
       {{"ks2/t1", true}},
       {"checkExistance?keyspace=ks2", "checkExistance?keyspace=ks2&table=t1"},
       true,
       {}},
      {"a present keyspace without tables adds its path for every such selection",
       {"/c/dc1/node1/ks2", "/c/dc1/node2/ks2"},
       ~0ull,
       false,
       {{"ks2", true}},
       {},
       {"checkExistance?keyspace=ks2"},
       true,
       {"/ks2", "/ks2"}},
      {"commit-log paths are skipped",
       {"/c/dc1/node1/#COMMITLOG#"},
       ~0ull,
       false,
       {},
       {},
       {},
       true,
       {}},
      {"the walk stops at the init data's count",
       {"/c/dc1/node1/ks1", "/c/dc1/node1"},
       1,
       false,
       {{"ks1", false}},
       {},
       {"checkExistance?keyspace=ks1"},
       true,
       {"/ks1"}},
      {"a count of 0 walks nothing", {"/c/dc1/node1"}, 0, false, {}, {}, {}, true, {}},
      {"point in time: keyspace paths skipped, no schema read",
       {"/c/dc1/node1/ks1/t1"},
       ~0ull,
       true,
       {},
       {},
       {},
       false,
       {}},
      {"point in time: a node selection still reads the schemas",
       {"/c/dc1/node1/ks1", "/c/dc1/node1"},
       ~0ull,
       true,
       {},
       {},
       {},
       true,
       {"/**"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    restoreprep::PrepareProbe& c = Coordinator();
    Scripted().ClearScript();
    c.viewStandIn = true;
    c.isLogRestore = k.logRestore;
    for (const auto& ks : k.keyspaces) Keyspace(ks.first, ks.second);
    for (const auto& t : k.tables) {
      const size_t slash = t.first.find('/');
      Table(t.first.substr(0, slash), t.first.substr(slash + 1), t.second);
    }
    const size_t before = Scripted().AllRequests().size();
    Select(k.paths, k.count);
    CQiError e = Prepare();
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    std::vector<std::string> checks;
    const auto all = Scripted().AllRequests();
    for (size_t i = before; i < all.size(); ++i) {
      EXPECT_EQ(all[i].kind, 0) << all[i].resource;
      EXPECT_EQ(all[i].body, "") << all[i].resource;
      checks.push_back(all[i].resource);
    }
    EXPECT_EQ(checks, k.checks);
    ASSERT_EQ(c.viewCalls.size(), 1u);
    EXPECT_EQ(c.viewCalls[0].first, k.fetch);
    EXPECT_EQ(c.viewCalls[0].second, k.schemaPaths);
  }
}

TEST_F(PrepareTest, MissingKeyspacesAndTablesAreMarkedForThePayload) {
  restoreprep::PrepareProbe& c = Coordinator();
  c.viewStandIn = true;
  Keyspace("ks1", false);
  Keyspace("ks2", true);
  Table("ks2", "t1", false);
  Table("ks2", "t2", true);
  Select({"/c/dc1/node1/ks1/t1", "/c/dc1/node1/ks2/t1", "/c/dc1/node1/ks2/t2"});
  ASSERT_FALSE(Prepare().IsError());
  ASSERT_EQ(c.keyspaceSchemas.size(), 2u);
  EXPECT_FALSE(c.keyspaceSchemas["ks1"].keyspaceExists);
  EXPECT_EQ(c.keyspaceSchemas["ks1"].tableExists, (std::map<std::string, bool>{{"t1", false}}));
  EXPECT_TRUE(c.keyspaceSchemas["ks2"].keyspaceExists);
  EXPECT_EQ(c.keyspaceSchemas["ks2"].tableExists,
            (std::map<std::string, bool>{{"t1", false}, {"t2", true}}));
}

TEST_F(PrepareTest, AFailedExistenceCheckStopsThePreparation) {
  restoreprep::PrepareProbe& c = Coordinator();
  c.viewStandIn = true;
  Scripted().SetAccessDenied("checkExistance?keyspace=ks1");
  Select({"/c/dc1/node1/ks1"});
  CQiError e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetCode(), CQiError::MakeCode(CQiError::kWin32, 5));
  EXPECT_EQ(CEventJournal::Instance().Find(restoretest::kEvPriamAccessDenied).size(), 1u);
  EXPECT_TRUE(c.viewCalls.empty());
}

// ---- node names ----

App::CassandraDockerClientMap MapEntry(const std::string& sourceName, const std::string& container,
                                       int64_t targetId, const std::string& targetName) {
  TqEntities::ClientEntity source;
  source.setClientId(3);
  source.setClientName(sourceName);
  App::CassandraClientMapEntity from;
  from.setClient(source);
  if (!container.empty()) from.setContainerName(container);
  TqEntities::ClientEntity target;
  target.setClientId(targetId);
  target.setClientName(targetName);
  App::CassandraClientMapEntity to;
  to.setClient(target);
  App::CassandraDockerClientMap entry;
  entry.setSource(from);
  entry.setTarget(to);
  return entry;
}

TEST_F(PrepareTest, RestoreRecordsAreRenamedToTheClientsThatRestoreThem) {
  struct Case {
    const char* name;
    bool crossInstance;
    std::vector<App::CassandraDockerClientMap> map;
    std::string record;
    std::string expected;
  } cases[] = {
      {"in place, a container node gets its source client's name",
       false,
       {MapEntry("host1", "cass1", 9, "other")},
       "cass1",
       "host1"},
      {"in place, a plain node keeps its name",
       false,
       {MapEntry("node1", "", 9, "other")},
       "node1",
       "node1"},
      {"cross instance, by client name",
       true,
       {MapEntry("nodeX", "", 9, "x"), MapEntry("node1", "", 7, "target1")},
       "node1",
       "target1"},
      {"cross instance, by container",
       true,
       {MapEntry("host1", "cass1", 7, "target1")},
       "cass1",
       "target1"},
      {"cross instance, a target of id 0 changes nothing",
       true,
       {MapEntry("node1", "", 0, "target1")},
       "node1",
       "node1"},
      {"the low 32 bits of the target id count",
       true,
       {MapEntry("node1", "", 0x100000000LL, "target1")},
       "node1",
       "node1"},
      {"a container entry does not match by client name",
       true,
       {MapEntry("node1", "cass1", 7, "target1")},
       "node1",
       "node1"},
      {"no entry matches", true, {MapEntry("node2", "", 7, "target2")}, "node1", "node1"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    restoreprep::PrepareProbe& c = Coordinator(false);
    c.recover = false;
    c.crossInstance = k.crossInstance;
    c.nodeMap = k.map;
    RestoreRecord record;
    record.strNodeName = k.record;
    c.getRestoreRecords().push_back(record);
    CQiError e = Prepare();
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    EXPECT_EQ(c.getRestoreRecords().front().strNodeName, k.expected);
  }
}

TEST_F(PrepareTest, ARecordWithoutNodeNameFailsOnlyWithANodeMap) {
  restoreprep::PrepareProbe& c = Coordinator(false);
  c.recover = false;
  RestoreRecord unnamed;
  unnamed.archiveFileId = 31;
  c.getRestoreRecords().push_back(unnamed);
  EXPECT_FALSE(Prepare().IsError());

  c.nodeMap = {MapEntry("node1", "", 7, "target1")};
  CQiError e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetCode(), CQiError::MakeCode(CQiError::kErrNo, 22));
  EXPECT_EQ(e.GetMessage(),
            "NodeName is not populated in RestoreRecord(" + unnamed.AsString() + ")");
}

TEST_F(PrepareTest, ALauncherOfAnotherKindIsRefused) {
  restoreprep::PrepareProbe& c = Coordinator(false);
  c.launcher.reset(
      new TQDC_FileSystem::CStartClientRestoreDistributed(nullptr, nullptr, false, false));
  CQiError e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetCode(), CQiError::MakeCode(CQiError::kWin32, 1359));
  EXPECT_EQ(e.GetMessage(), "Unable to get Cassandra StartClientRestore object");

  c.launcher.reset();
  c.launcherError = FXErrorUtil::ErrorWin32(FXLOC, 8, "no memory");
  e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetCode(), CQiError::MakeCode(CQiError::kWin32, 8));
}

// ---- creation ----

class CreateTest : public PrepareTest {
 protected:
  // A coordinator whose schema records are already read: ks1 missing with
  // one table, ks2 present with one missing table.
  restoreprep::PrepareProbe& WithSchemas() {
    restoreprep::PrepareProbe& c = Coordinator();
    c.viewStandIn = true;
    TQCassandra::cassandraCqlStatements ks1;
    ks1.keyspaceName = "ks1";
    ks1.keyspaceCql = kKeyspaceCql;
    ks1.tableCqls = {"CREATE TABLE ks1.t1 (id int PRIMARY KEY) WITH ID = 'a';"};
    c.keyspaceSchemas["ks1"] = ks1;
    TQCassandra::cassandraCqlStatements ks2;
    ks2.keyspaceName = "ks2";
    ks2.keyspaceExists = true;
    ks2.keyspaceCql = "CREATE KEYSPACE ks2 WITH replication = {'class': 'SimpleStrategy'};";
    ks2.tableCqls = {"CREATE TABLE ks2.t1 (id int PRIMARY KEY);"};
    c.keyspaceSchemas["ks2"] = ks2;
    return c;
  }
  static constexpr const char* kKeyspaceCql =
      "CREATE KEYSPACE ks1 WITH replication = {'class': 'NetworkTopologyStrategy', 'dc1': '3'};";
};

TEST_F(CreateTest, TheReplicationChoiceShapesTheKeyspaceBody) {
  const std::string schema = nlohmann::json(kKeyspaceCql).dump();
  struct Case {
    const char* name;
    const char* keep;    // "" absent
    const char* change;  // "" absent
    std::string body;
  } cases[] = {
      {"neither value: the backed-up replication", "", "", "{\"Schema\":" + schema + "}"},
      {"keep source replication", "1", "{'class': 'SimpleStrategy'}",
       "{\"Schema\":" + schema + ",\"Maintainreplication\":1}"},
      {"keep set to another value: no replication key at all", "0", "{'class': 'SimpleStrategy'}",
       "{\"Schema\":" + schema + "}"},
      {"changed replication", "", "{'class': 'SimpleStrategy', 'replication_factor': '1'}",
       "{\"Schema\":" + schema +
           ",\"ReplicationString\":\" {'class': 'SimpleStrategy', 'replication_factor': '1'}\"}"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    SetSwitch("nKeepSourceReplicationFactor", k.keep);
    SetSwitch("sChangeReplicationFactor", k.change);
    WithSchemas();
    Scripted().ClearScript();
    Scripted().SetReply("ExecuteCQL", "Success");
    const size_t before = CqlBodies().size();
    CQiError e = Prepare();
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    const std::vector<std::string> bodies = CqlBodies();
    ASSERT_EQ(bodies.size() - before, 3u);
    // Keyspaces in name order; ks2 exists, so only its table is sent.
    EXPECT_EQ(bodies[before], k.body);
    EXPECT_EQ(bodies[before + 1],
              R"({"Schema":"CREATE TABLE ks1.t1 (id int PRIMARY KEY) WITH ID = 'a';"})");
    EXPECT_EQ(bodies[before + 2], R"({"Schema":"CREATE TABLE ks2.t1 (id int PRIMARY KEY);"})");
  }
}

TEST_F(CreateTest, AFailedStatementRaisesItsEventAndStopsThePreparation) {
  struct Case {
    const char* name;
    bool keyspaceMissing;
    const char* kind;
    std::string statement;
  } cases[] = {
      {"keyspace", true, "keyspace", kKeyspaceCql},
      {"table", false, "table", "CREATE TABLE ks1.t1 (id int PRIMARY KEY) WITH ID = 'a';"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CEventJournal::Instance().Clear();
    restoreprep::PrepareProbe& c = WithSchemas();
    c.keyspaceSchemas["ks1"].keyspaceExists = !k.keyspaceMissing;
    const CQiError failure = FXErrorUtil::ErrorWin32(FXLOC, 1627, "CQL failed");
    Scripted().SetError("ExecuteCQL", failure, "InvalidRequest: bad schema");
    const size_t before = CqlBodies().size();
    CQiError e = Prepare();
    ASSERT_TRUE(e.IsError());
    EXPECT_EQ(e.GetCode(), failure.GetCode());
    // Nothing after the failed statement is tried.
    EXPECT_EQ(CqlBodies().size() - before, 1u);
    const auto failures = SchemaFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0],
              (std::vector<std::string>{k.kind, k.statement,
                                        failure.AsString(2) + ": InvalidRequest: bad schema"}));
  }
}

TEST_F(CreateTest, AKeyspaceWithoutBackedUpCqlIsNotCreatedButItsTablesAre) {
  restoreprep::PrepareProbe& c = WithSchemas();
  c.keyspaceSchemas["ks1"].keyspaceCql.clear();
  Scripted().SetReply("ExecuteCQL", "Success");
  ASSERT_FALSE(Prepare().IsError());
  const std::vector<std::string> bodies = CqlBodies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_NE(bodies[0].find("CREATE TABLE ks1.t1"), std::string::npos);
}

TEST_F(CreateTest, DeferredViewsLeaveTheTableBodyAndWaitInTheJobFile) {
  restoreprep::PrepareProbe& c = WithSchemas();
  c.keyspaceSchemas["ks2"].tableCqls = {
      "CREATE TABLE ks2.t1 (id int PRIMARY KEY); CREATE MATERIALIZED VIEW ks2.v1 AS SELECT * FROM "
      "ks2.t1 WHERE id IS NOT NULL PRIMARY KEY (id);"};
  SetSwitch("nDeferMateriazliedViewCreation", "1");
  Scripted().SetReply("ExecuteCQL", "Success");
  ASSERT_FALSE(Prepare().IsError());
  const std::vector<std::string> bodies = CqlBodies();
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[2], R"({"Schema":"CREATE TABLE ks2.t1 (id int PRIMARY KEY);;"})");
  EXPECT_EQ(simtest::ReadFile(JobFile("DeferredCqlSchemas_")),
            " CREATE MATERIALIZED VIEW ks2.v1 AS SELECT * FROM ks2.t1 WHERE id IS NOT NULL "
            "PRIMARY KEY (id)\n");
}

TEST_F(CreateTest, ViewsThatCannotBeDeferredStopThePreparationBeforeTheirTable) {
  restoreprep::PrepareProbe& c = WithSchemas();
  c.keyspaceSchemas.erase("ks1");
  c.keyspaceSchemas["ks2"].tableCqls = {
      "CREATE TABLE ks2.t1 (id int PRIMARY KEY); CREATE MATERIALIZED VIEW ks2.v1 AS SELECT 1;"};
  SetSwitch("nDeferMateriazliedViewCreation", "1");
  Scripted().SetReply("ExecuteCQL", "Success");
  // The file's place is taken by a directory.
  std::filesystem::create_directories(JobFile("DeferredCqlSchemas_"));
  CQiError e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("Failed to create file to store deferred schemas"),
            std::string::npos);
  EXPECT_TRUE(CqlBodies().empty());
}

// ---- steps that run only when their work exists ----

TEST_F(CreateTest, TheKeyCopyRunsOnlyForEncryptedTablesAndBeforeAnySchema) {
  restoreprep::PrepareProbe& c = WithSchemas();
  c.keyCopyStandIn = true;
  Scripted().SetReply("ExecuteCQL", "Success");
  ASSERT_FALSE(Prepare().IsError());
  EXPECT_EQ(c.keyCopies, 0);

  // A failed key copy stops the preparation before any schema statement.
  restoreprep::PrepareProbe& encrypted = WithSchemas();
  encrypted.keyCopyStandIn = true;
  encrypted.keyCopyResult = FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to create system keys.");
  encrypted.encryptedTableRows.push_back(TQCassandra::cassandraDSEEncryptedTableRow());
  Scripted().SetReply("ExecuteCQL", "Success");
  const size_t before = CqlBodies().size();
  CLogCapture log;
  CQiError e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(encrypted.keyCopies, 1);
  EXPECT_NE(e.GetMessage().find("Failed to create system keys."), std::string::npos)
      << e.GetMessage();
  EXPECT_TRUE(log.Contains("Failed to restore Cassandra TDE options to atleast one node : "));
  EXPECT_EQ(CqlBodies().size(), before);

  // A key copy that succeeds lets the schemas follow.
  restoreprep::PrepareProbe& copied = WithSchemas();
  copied.keyCopyStandIn = true;
  copied.encryptedTableRows.push_back(TQCassandra::cassandraDSEEncryptedTableRow());
  Scripted().SetReply("ExecuteCQL", "Success");
  const size_t beforeCopied = CqlBodies().size();
  ASSERT_FALSE(Prepare().IsError());
  EXPECT_EQ(copied.keyCopies, 1);
  EXPECT_GT(CqlBodies().size(), beforeCopied);
}

TEST_F(PrepareTest, AStageFreeRestoreCreatesItsShareAndFailsWithoutIt) {
  restoreprep::PrepareProbe& c = Coordinator(false);
  c.recover = false;
  c.shareStandIn = true;
  EXPECT_FALSE(Prepare().IsError());
  EXPECT_EQ(c.shareCalls, 0);
  c.stageFreeRestore = true;
  EXPECT_FALSE(Prepare().IsError());
  EXPECT_EQ(c.shareCalls, 1);
  c.shareResult = FXErrorUtil::ErrorWin32(FXLOC, 1359, "No share id came back");
  CQiError e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("No share id came back"), std::string::npos) << e.GetMessage();
  // Without a restore task the real share creation is a clear error.
  c.shareStandIn = false;
  e = Prepare();
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("needs the restore's configuration and task"), std::string::npos)
      << e.GetMessage();
}

}  // namespace
