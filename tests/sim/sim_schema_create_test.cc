// Keyspaces and tables the restore creates through the stand-in's
// "ExecuteCQL": a table keeps the id its statement names (and with it the
// folder its restored files go to), statements are cut only at real
// separators, and what exists cannot be created again.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "sim/lib/ClusterFixture.h"
#include "sim/lib/CqlStatement.h"
#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "support/SimTestSupport.h"

namespace {

using nlohmann::json;
using TqSim::PriamRequestHandler;
using TqSim::SimReply;

class SimSchemaCreateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TqSim::FixtureOptions options;
    options.nodes = 2;
    options.sstableSize = 64;
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("c"), options, cluster_, error)) << error;
  }
  SimReply Cql(const std::string& schema) {
    return PriamRequestHandler(cluster_.clusterFile, cluster_.nodes[0].address)
        .Handle(1, "/ExecuteCQL", json({{"Schema", schema}}).dump());
  }
  std::string Exists(const std::string& keyspace, const std::string& table) {
    return PriamRequestHandler(cluster_.clusterFile, cluster_.nodes[1].address)
        .Handle(0, "/checkExistance?keyspace=" + keyspace + "&table=" + table, "")
        .text;
  }
  TqSim::SimCluster Cluster() {
    TqSim::SimCluster c;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(c, error)) << error;
    return c;
  }

  simtest::TempDir dir_;
  TqSim::FixtureResult cluster_;
};

TEST_F(SimSchemaCreateTest, ACreatedTableKeepsTheIdOfItsStatement) {
  struct Case {
    const char* table;
    std::string statement;
    std::string id;  // "" : the stand-in makes one
  } cases[] = {
      {"quoted",
       "CREATE TABLE ks1.quoted (id int PRIMARY KEY) WITH comment = 'a;b' AND ID = "
       "'0A0B0C0D-0000-1111-2222-333344445555';",
       "0a0b0c0d-0000-1111-2222-333344445555"},
      {"bare",
       "CREATE TABLE ks1.bare (id int PRIMARY KEY) WITH ID = "
       "9a0b0c0d-0000-1111-2222-333344445555;;",
       "9a0b0c0d-0000-1111-2222-333344445555"},
      {"noid", "CREATE TABLE ks1.noid (id int PRIMARY KEY);", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.table);
    SimReply r = Cql(k.statement);
    ASSERT_EQ(r.status, 200) << r.text;
    EXPECT_EQ(Exists("ks1", k.table), "0");
    TqSim::SimCluster c = Cluster();
    const TqSim::SimTable* table = c.FindTable("ks1", k.table);
    ASSERT_NE(table, nullptr);
    if (!k.id.empty()) {
      EXPECT_EQ(table->id, k.id);
      std::string folder = k.id;
      folder.erase(std::remove(folder.begin(), folder.end(), '-'), folder.end());
      EXPECT_EQ(TqSim::TableDirName(*table), std::string(k.table) + "-" + folder);
    }
    for (const auto& n : cluster_.nodes) {
      EXPECT_TRUE(TqSim::IsDir(n.dataDirs[0] + "/ks1/" + TqSim::TableDirName(*table))) << n.name;
    }
    // A table created twice is an error, as in Cassandra.
    r = Cql(k.statement);
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(r.text.find("already exists"), std::string::npos) << r.text;
  }
}

TEST_F(SimSchemaCreateTest, StatementsAreCutOnlyAtSeparators) {
  struct Case {
    const char* text;
    std::vector<std::string> parts;
  } cases[] = {
      {"A 'x;y';;B", {"A 'x;y'", "B"}},
      {"A \"q;\" ; B", {"A \"q;\"", "B"}},
      {"A 'it''s;' ;B", {"A 'it''s;'", "B"}},
      {"A -- c;d\n;B", {"A -- c;d", "B"}},
      {"A /* c;d */;B // e;f", {"A /* c;d */", "B // e;f"}},
      {"A $$x;y$$;", {"A $$x;y$$"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    EXPECT_EQ(TqSim::CqlStatement::Split(k.text), k.parts);
  }
}

}  // namespace
