// The stand-in's answers to the restore's requests: schema checks and
// creation, keys, truncation, tokens, dead-node replacement, stop and start,
// refresh and the SSTable loader.

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/lib/ClusterFixture.h"
#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimNodeConfig.h"
#include "sim/lib/SimTableDir.h"
#include "support/SimTestSupport.h"

namespace {

using nlohmann::json;
using TqSim::PriamRequestHandler;
using TqSim::SimCluster;
using TqSim::SimReply;

class SimRestoreRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TqSim::FixtureOptions options;
    options.nodes = 3;
    options.sstablesPerTable = 2;
    options.sstableSize = 64;
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("c"), options, cluster_, error)) << error;
  }

  SimReply Get(const std::string& target, int node = 0) {
    return PriamRequestHandler(cluster_.clusterFile, cluster_.nodes[node].address)
        .Handle(0, target, "");
  }
  SimReply Post(const std::string& target, const json& body, int node = 0) {
    return PriamRequestHandler(cluster_.clusterFile, cluster_.nodes[node].address)
        .Handle(1, target, body.dump());
  }
  SimCluster Cluster() {
    SimCluster c;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(c, error)) << error;
    return c;
  }
  void Change(const std::function<void(SimCluster&)>& change) {
    SimCluster c = Cluster();
    change(c);
    std::string error;
    ASSERT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Save(c, error)) << error;
  }
  std::string TableDir(int node, const std::string& ks, const std::string& table) {
    SimCluster c = Cluster();
    return cluster_.nodes[node].dataDirs[0] + "/" + ks + "/" +
           TqSim::TableDirName(*c.FindTable(ks, table));
  }

  // Generation numbers of the table directory's live and placed SSTables.
  static std::vector<int> Generations(const std::vector<TqSim::SimSSTable>& tables) {
    std::vector<int> out;
    for (const auto& t : tables) out.push_back(t.generation);
    return out;
  }
  std::vector<int> Live(int node, const std::string& ks, const std::string& table) {
    return Generations(TqSim::SimTableDir(TableDir(node, ks, table), "mc").LiveSSTables());
  }
  std::vector<int> Placed(int node, const std::string& ks, const std::string& table) {
    return Generations(TqSim::SimTableDir(TableDir(node, ks, table), "mc").PlacedSSTables());
  }
  // Places a copy of SSTable `from` of the folder as generation `to`, as a
  // restore leaves it there.
  static void Place(const std::string& dir, int from, int to) {
    std::string error;
    const std::string prefix = "mc-" + std::to_string(from) + "-big-";
    for (const auto& name : TqSim::ListDir(dir)) {
      if (name.rfind(prefix, 0) != 0) continue;
      ASSERT_TRUE(TqSim::CopyFile(
          dir + "/" + name,
          dir + "/mc-" + std::to_string(to) + "-big-" + name.substr(prefix.size()), error))
          << error;
    }
  }

  simtest::TempDir dir_;
  TqSim::FixtureResult cluster_;
};

TEST_F(SimRestoreRequestsTest, CheckExistanceAnswersZeroForWhatExists) {
  struct Case {
    const char* target;
    const char* reply;
  } cases[] = {
      {"/checkExistance?keyspace=ks1", "0"},
      {"/checkExistance?keyspace=ks1&table=t2", "0"},
      {"/checkExistance?keyspace=ks1&table=t9", "1"},
      {"/checkExistance?keyspace=nope", "1"},
      {"/checkExistance?keyspace=nope&table=t1", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    SimReply r = Get(c.target);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.text, c.reply);
  }
}

TEST_F(SimRestoreRequestsTest, ExecuteCqlCreatesKeyspacesAndTablesOnEveryNode) {
  SimReply r = Post("/ExecuteCQL",
                    {{"Schema",
                      "CREATE KEYSPACE shop WITH replication = {'class': "
                      "'org.apache.cassandra.locator.SimpleStrategy', 'replication_factor': '2'}  "
                      "AND durable_writes = true;"}});
  ASSERT_EQ(r.status, 200) << r.text;
  r = Post("/ExecuteCQL", {{"Schema",
                            "CREATE TABLE shop.\"Orders\" (id uuid PRIMARY KEY, item text) WITH "
                            "comment = 'a;b';;CREATE TYPE shop.address (street text);;"}});
  ASSERT_EQ(r.status, 200) << r.text;

  SimCluster c = Cluster();
  ASSERT_NE(c.FindKeyspace("shop"), nullptr);
  EXPECT_EQ(c.FindKeyspace("shop")->replication["replication_factor"], "2");
  const TqSim::SimTable* orders = c.FindTable("shop", "Orders");
  ASSERT_NE(orders, nullptr);
  for (const auto& n : cluster_.nodes) {
    EXPECT_TRUE(TqSim::IsDir(n.dataDirs[0] + "/shop/" + TqSim::TableDirName(*orders))) << n.name;
  }
  EXPECT_EQ(Get("/checkExistance?keyspace=shop&table=Orders").text, "0");
  json meta = json::parse(Get("/getMeta").text);
  EXPECT_EQ(meta.back()["KEYSPACE"], "shop");
  EXPECT_EQ(meta.back()["Tables"][0]["COLUMNSPACE"], "Orders");
}

TEST_F(SimRestoreRequestsTest, ExecuteCqlReplicationStringReplacesTheStatementsReplication) {
  json body = {{"Schema",
                "CREATE KEYSPACE a WITH replication = {'class': 'SimpleStrategy', "
                "'replication_factor': '3'};"},
               {"ReplicationString", " {'class': 'NetworkTopologyStrategy', 'dc1': '1'}"}};
  ASSERT_EQ(Post("/ExecuteCQL", body).status, 200);
  body["Schema"] =
      "CREATE KEYSPACE b WITH replication = {'class': 'SimpleStrategy', "
      "'replication_factor': '3'};";
  body["Maintainreplication"] = 1;
  ASSERT_EQ(Post("/ExecuteCQL", body).status, 200);
  SimCluster c = Cluster();
  EXPECT_EQ(c.FindKeyspace("a")->replication,
            json({{"class", "NetworkTopologyStrategy"}, {"dc1", "1"}}));
  EXPECT_EQ(c.FindKeyspace("b")->replication,
            json({{"class", "SimpleStrategy"}, {"replication_factor", "3"}}));
}

TEST_F(SimRestoreRequestsTest, ExecuteCqlRejectsWhatCassandraWouldReject) {
  struct Case {
    const char* schema;
    const char* text;
  } cases[] = {
      {"CREATE KEYSPACE ks1 WITH replication = {'class': 'SimpleStrategy', "
       "'replication_factor': '1'}",
       "already exists"},
      {"CREATE TABLE ks1.t1 (id int PRIMARY KEY)", "already exists"},
      {"CREATE TABLE nowhere.t (id int PRIMARY KEY)", "does not exist"},
      {"CREATE TABLE t (id int PRIMARY KEY)", "names no keyspace"},
      {"INSERT INTO ks1.t1 (id) VALUES (1)", "unsupported"},
      {"CREATE KEYSPACE x WITH durable_writes = true", "No replication"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.schema);
    SimReply r = Post("/ExecuteCQL", {{"Schema", c.schema}});
    EXPECT_EQ(r.status, 500);
    EXPECT_NE(r.text.find(c.text), std::string::npos) << r.text;
  }
  EXPECT_EQ(
      Post("/ExecuteCQL", {{"Schema", "CREATE TABLE IF NOT EXISTS ks1.t1 (id int PRIMARY KEY)"}})
          .status,
      200);
  EXPECT_EQ(Post("/ExecuteCQL", {{"NoSchema", "x"}}).status, 400);
  EXPECT_EQ(PriamRequestHandler(cluster_.clusterFile, cluster_.nodes[0].address)
                .Handle(1, "/ExecuteCQL", "not json")
                .status,
            400);
  EXPECT_EQ(Get("/ExecuteCQL").status, 400);  // kind 0 carries no body
  EXPECT_EQ(Cluster().keyspaces.size(), 2u);
}

TEST_F(SimRestoreRequestsTest, InsertKeyRecordsTheRow) {
  json row = {{"key_file", "system_key"},
              {"key", "abc"},
              {"cipher", "AES"},
              {"strength", "128"},
              {"key_id", "k-1"}};
  ASSERT_EQ(Post("/insertKey", row).status, 200);
  ASSERT_EQ(Post("/insertKey", row).status, 200);  // the same key again replaces it
  EXPECT_EQ(Cluster().encryptedEntries, json::array({row}));
  row.erase("key_id");
  EXPECT_EQ(Post("/insertKey", row).status, 400);
}

TEST_F(SimRestoreRequestsTest, TruncateTableEmptiesTheTableOnEveryNodeButKeepsSnapshots) {
  ASSERT_EQ(Get("/snapshot?SnapID=keep").status, 200);
  SimReply r = Post("/TruncateTable", {{"keyspace", "ks1"}, {"table", "t1"}});
  ASSERT_EQ(r.status, 200) << r.text;
  for (int n = 0; n < 3; ++n) {
    std::string dir = TableDir(n, "ks1", "t1");
    EXPECT_FALSE(TqSim::IsFile(dir + "/mc-1-big-Data.db"));
    EXPECT_TRUE(TqSim::IsFile(TableDir(n, "ks1", "t2") + "/mc-1-big-Data.db"));
  }
  EXPECT_TRUE(TqSim::IsFile(TableDir(0, "ks1", "t1") + "/snapshots/keep/mc-1-big-Data.db"));

  SimReply missing = Post("/TruncateTable", {{"keyspace", "ks1"}, {"table", "gone"}});
  EXPECT_EQ(missing.status, 500);
  EXPECT_NE(missing.text.find("does not exist"), std::string::npos);
  Change([](SimCluster& c) { c.nodes[2].running = false; });
  EXPECT_EQ(Post("/TruncateTable", {{"keyspace", "ks1"}, {"table", "t2"}}).status, 500);
  EXPECT_TRUE(TqSim::IsFile(TableDir(0, "ks1", "t2") + "/mc-1-big-Data.db"));
}

TEST_F(SimRestoreRequestsTest, ReplaceTokensTakesEffectAtTheNextStart) {
  SimCluster c = Cluster();
  const std::string own = c.nodes[0].tokens[0];
  json same = {{"ConfPath", cluster_.nodes[0].confDir}, {"Tokens", own}, {"Replace", "0"}};
  SimReply r = Post("/ReplaceTokens", same);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.text, "NotRequired");

  json other = {{"ConfPath", cluster_.nodes[0].confDir + "/cassandra.yaml"},
                {"Tokens", "11,-22"},
                {"Replace", "0"}};
  r = Post("/ReplaceTokens", other);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.text.find("NotRequired"), std::string::npos);
  TqSim::SimNodeSettings settings;
  std::string error;
  ASSERT_TRUE(TqSim::SimNodeConfig(cluster_.nodes[0].confDir).Read(settings, error)) << error;
  EXPECT_EQ(settings.initialTokens, (std::vector<std::string>{"11", "-22"}));
  EXPECT_EQ(Cluster().nodes[0].tokens, std::vector<std::string>{own});

  ASSERT_EQ(Get("/stop").status, 200);
  EXPECT_EQ(Cluster().nodes[0].status, "Down");
  EXPECT_FALSE(Cluster().nodes[0].running);
  EXPECT_EQ(json::parse(Get("/status", 1).text)[0]["nodestatus"], "Down");
  ASSERT_EQ(Get("/start").status, 200);
  EXPECT_EQ(Cluster().nodes[0].tokens, (std::vector<std::string>{"11", "-22"}));
  EXPECT_EQ(Cluster().nodes[0].status, "Up");
}

TEST_F(SimRestoreRequestsTest, ReplaceDeadNodeTakesOverTheDeadNodesTokens) {
  const std::string dead = cluster_.nodes[2].address;
  std::string target =
      "/replaceDeadNode?confpath=" + cluster_.nodes[0].confDir + "&nodename=" + dead;
  EXPECT_EQ(Get(target).status, 500);  // the node is not down
  Change([](SimCluster& c) {
    c.nodes[2].status = "Down";
    c.nodes[2].running = false;
  });
  const std::vector<std::string> deadTokens = Cluster().nodes[2].tokens;
  ASSERT_EQ(Get(target).status, 200);
  std::string env = simtest::ReadFile(cluster_.nodes[0].confDir + "/cassandra-env.sh");
  EXPECT_NE(env.find("-Dcassandra.replace_address=" + dead), std::string::npos);

  ASSERT_EQ(Get("/start").status, 200);
  SimCluster c = Cluster();
  EXPECT_EQ(c.nodes.size(), 2u);
  EXPECT_EQ(c.FindNode(dead), nullptr);
  EXPECT_EQ(c.FindNode(cluster_.nodes[0].address)->tokens, deadTokens);
  env = simtest::ReadFile(cluster_.nodes[0].confDir + "/cassandra-env.sh");
  EXPECT_EQ(env.find("replace_address"), std::string::npos);
  EXPECT_EQ(Get("/replaceDeadNode?nodename=10.9.9.9").status, 500);
}

TEST_F(SimRestoreRequestsTest, RefreshChecksTheKeyspaces) {
  EXPECT_EQ(Get("/refresh").status, 200);
  EXPECT_EQ(Get("/refresh?keyspaces=ks1,ks2").status, 200);
  EXPECT_EQ(Get("/refresh?keyspaces=ks1,nope").status, 500);
}

TEST_F(SimRestoreRequestsTest, PlacedFilesStayApartFromTheLiveOnesUntilARefresh) {
  const std::string dir = TableDir(0, "ks1", "t1");
  Place(dir, 1, 7);
  EXPECT_EQ(Live(0, "ks1", "t1"), (std::vector<int>{1, 2}));
  EXPECT_EQ(Placed(0, "ks1", "t1"), std::vector<int>{7});

  // Truncation removes the live SSTables by name and leaves the placed one.
  ASSERT_EQ(Post("/TruncateTable", {{"keyspace", "ks1"}, {"table", "t1"}}).status, 200);
  EXPECT_FALSE(TqSim::IsFile(dir + "/mc-1-big-Data.db"));
  EXPECT_FALSE(TqSim::IsFile(dir + "/mc-2-big-Index.db"));
  EXPECT_TRUE(TqSim::IsFile(dir + "/mc-7-big-Data.db"));
  EXPECT_TRUE(Live(0, "ks1", "t1").empty());

  // A snapshot now takes nothing; a refresh of another keyspace changes
  // nothing; a refresh of the keyspace makes the file live on this node.
  ASSERT_EQ(Get("/refresh?keyspaces=ks2").status, 200);
  EXPECT_TRUE(Live(0, "ks1", "t1").empty());
  ASSERT_EQ(Get("/refresh?keyspaces=ks1").status, 200);
  EXPECT_EQ(Live(0, "ks1", "t1"), std::vector<int>{7});
  EXPECT_TRUE(Placed(0, "ks1", "t1").empty());
  ASSERT_EQ(Get("/snapshot?SnapID=after").status, 200);
  EXPECT_TRUE(TqSim::IsFile(dir + "/snapshots/after/mc-7-big-Data.db"));

  // A flush writes above every generation the folder holds, live at once.
  Place(dir, 7, 9);
  ASSERT_EQ(Get("/flush").status, 200);
  EXPECT_EQ(Live(0, "ks1", "t1"), (std::vector<int>{7, 10}));
  EXPECT_EQ(Placed(0, "ks1", "t1"), std::vector<int>{9});
}

TEST_F(SimRestoreRequestsTest, ARefreshOrAStartLoadsOnlyItsOwnNode) {
  Place(TableDir(0, "ks2", "t2"), 2, 5);
  Place(TableDir(1, "ks2", "t2"), 2, 5);
  Place(TableDir(2, "ks2", "t2"), 2, 5);
  ASSERT_EQ(Get("/refresh", 0).status, 200);
  EXPECT_EQ(Live(0, "ks2", "t2"), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(Placed(1, "ks2", "t2"), std::vector<int>{5});

  // Cassandra loads every SSTable of its directories when it starts.
  ASSERT_EQ(Get("/stop", 1).status, 200);
  ASSERT_EQ(Get("/start", 1).status, 200);
  EXPECT_EQ(Live(1, "ks2", "t2"), (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(Placed(2, "ks2", "t2"), std::vector<int>{5});
}

TEST_F(SimRestoreRequestsTest, ANewTableServesNothingPlacedInIt) {
  ASSERT_EQ(Post("/ExecuteCQL", {{"Schema", "CREATE TABLE ks2.fresh (id int PRIMARY KEY)"}}).status,
            200);
  const std::string dir = TableDir(1, "ks2", "fresh");
  std::string error;
  for (const char* c : {"Data.db", "Index.db", "TOC.txt"}) {
    ASSERT_TRUE(TqSim::WriteTextFile(dir + "/mc-1-big-" + c, "x", error)) << error;
  }
  EXPECT_TRUE(Live(1, "ks2", "fresh").empty());
  EXPECT_EQ(Placed(1, "ks2", "fresh"), std::vector<int>{1});
  ASSERT_EQ(Get("/refresh?keyspaces=ks2", 1).status, 200);
  EXPECT_EQ(Live(1, "ks2", "fresh"), std::vector<int>{1});
}

TEST_F(SimRestoreRequestsTest, PropertiesAreReadAsPriamWritesThem) {
  const std::string file = dir_.Sub("priam.properties");
  std::string error;
  ASSERT_TRUE(TqSim::WriteTextFile(file,
                                   "# Priam properties\n"
                                   "priam.ignore.nodes=true\n"
                                   "priam.jmx.user=a\\=b\n"
                                   "odd\\ key=x\\ty\n"
                                   "no separator\n",
                                   error));
  std::map<std::string, std::string> properties;
  ASSERT_TRUE(PriamRequestHandler::ReadProperties(file, properties, error)) << error;
  EXPECT_EQ(properties,
            (std::map<std::string, std::string>{
                {"priam.ignore.nodes", "true"}, {"priam.jmx.user", "a=b"}, {"odd key", "x\ty"}}));
  EXPECT_FALSE(PriamRequestHandler::ReadProperties(dir_.Sub("none"), properties, error));
}

TEST_F(SimRestoreRequestsTest, ExecuteBatchLoadsStagedSSTablesIntoRunningNodes) {
  // A staged copy of ks2.t1 as the data movers leave it: <stage>/ks2/t1-<id>/.
  std::string stage = dir_.Sub("stage/ks2/") + TqSim::BaseName(TableDir(0, "ks2", "t1"));
  std::string error;
  ASSERT_TRUE(TqSim::MakeDirs(stage, error));
  for (const auto& name : TqSim::ListDir(TableDir(1, "ks2", "t1"))) {
    if (name.rfind("mc-1-big-", 0) == 0) {
      ASSERT_TRUE(
          TqSim::CopyFile(TableDir(1, "ks2", "t1") + "/" + name, stage + "/" + name, error));
    }
  }
  Change([](SimCluster& c) { c.nodes[2].running = false; });
  SimReply r =
      Post("/ExecuteBatch", {{"directory", stage}, {"Connections", "2"}, {"Progress", "1"}});
  ASSERT_EQ(r.status, 200) << r.text;
  EXPECT_NE(r.text.find("Loaded 2 SSTables"), std::string::npos) << r.text;
  EXPECT_NE(r.text.find("into 2 nodes"), std::string::npos) << r.text;
  for (int n = 0; n < 2; ++n) {
    EXPECT_EQ(simtest::ReadFile(TableDir(n, "ks2", "t1") + "/mc-3-big-Data.db"),
              simtest::ReadFile(stage + "/mc-1-big-Data.db"));
  }
  EXPECT_FALSE(TqSim::IsFile(TableDir(2, "ks2", "t1") + "/mc-3-big-Data.db"));

  EXPECT_EQ(Post("/ExecuteBatch", {{"directory", dir_.Sub("stage/ks2/unknown")}}).status, 500);
  ASSERT_TRUE(TqSim::MakeDirs(dir_.Sub("stage/ks2/unknown"), error));
  EXPECT_EQ(Post("/ExecuteBatch", {{"directory", dir_.Sub("stage/ks2/unknown")}}).status, 500);
}

// Loads into a cluster of two data centres: who holds the keyspace, and
// the local data centre only with "priam.ignore.nodes".
TEST(SimTableLoaderTest, ExecuteBatchLoadsIntoTheNodesThatHoldTheKeyspace) {
  simtest::TempDir dir;
  TqSim::FixtureOptions options;
  options.nodes = 4;
  options.dataCenters = 2;
  options.sstablesPerTable = 1;
  options.sstableSize = 64;
  TqSim::FixtureResult cluster;
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir.Sub("c"), options, cluster, error)) << error;
  // ks1 kept in dc1 only; ks2 (SimpleStrategy) on every node.
  {
    SimCluster c;
    TqSim::SimClusterFile file(cluster.clusterFile);
    ASSERT_TRUE(file.Load(c, error)) << error;
    c.FindKeyspace("ks1")->replication =
        json({{"class", "org.apache.cassandra.locator.NetworkTopologyStrategy"},
              {"dc1", "2"},
              {"dc2", "0"}});
    ASSERT_TRUE(file.Save(c, error)) << error;
  }
  auto tableDir = [&](int node, const std::string& ks) {
    SimCluster c;
    EXPECT_TRUE(TqSim::SimClusterFile(cluster.clusterFile).Load(c, error));
    return cluster.nodes[node].dataDirs[0] + "/" + ks + "/" +
           TqSim::TableDirName(*c.FindTable(ks, "t1"));
  };
  // A staged folder per keyspace, holding one SSTable.
  auto stage = [&](const std::string& ks) {
    std::string staged = dir.Sub("stage/" + ks + "/t1");
    EXPECT_TRUE(TqSim::MakeDirs(staged, error));
    for (const auto& name : TqSim::ListDir(tableDir(0, ks))) {
      if (name.rfind("mc-1-big-", 0) == 0) {
        EXPECT_TRUE(TqSim::CopyFile(tableDir(0, ks) + "/" + name, staged + "/" + name, error));
      }
    }
    return staged;
  };
  auto liveGenerations = [&](int node, const std::string& ks) {
    std::vector<int> out;
    for (const auto& t : TqSim::SimTableDir(tableDir(node, ks), "mc").LiveSSTables()) {
      out.push_back(t.generation);
    }
    return out;
  };
  ASSERT_EQ(cluster.nodes[0].dataCenter, "dc1");
  ASSERT_EQ(cluster.nodes[2].dataCenter, "dc2");

  // From a node of dc2, without ignoring nodes: ks1 goes to dc1's nodes only.
  PriamRequestHandler fromDc2(cluster.clusterFile, cluster.nodes[2].address);
  SimReply r = fromDc2.Handle(1, "/ExecuteBatch", json({{"directory", stage("ks1")}}).dump());
  ASSERT_EQ(r.status, 200) << r.text;
  EXPECT_NE(r.text.find("into 2 nodes"), std::string::npos) << r.text;
  for (int n : {0, 1}) EXPECT_EQ(liveGenerations(n, "ks1"), (std::vector<int>{1, 2})) << n;
  for (int n : {2, 3}) EXPECT_EQ(liveGenerations(n, "ks1"), std::vector<int>{1}) << n;
  EXPECT_EQ(simtest::ReadFile(tableDir(1, "ks1") + "/mc-2-big-Data.db"),
            simtest::ReadFile(dir.Sub("stage/ks1/t1") + "/mc-1-big-Data.db"));

  // ks2 from dc2 with "priam.ignore.nodes": dc2's nodes only.
  fromDc2.SetProperties({{"priam.ignore.nodes", "true"}});
  r = fromDc2.Handle(1, "/ExecuteBatch", json({{"directory", stage("ks2")}}).dump());
  ASSERT_EQ(r.status, 200) << r.text;
  EXPECT_NE(r.text.find("into 2 nodes"), std::string::npos) << r.text;
  for (int n : {2, 3}) EXPECT_EQ(liveGenerations(n, "ks2"), (std::vector<int>{1, 2})) << n;
  for (int n : {0, 1}) EXPECT_EQ(liveGenerations(n, "ks2"), std::vector<int>{1}) << n;

  // The same load again takes the next generation.
  r = fromDc2.Handle(1, "/ExecuteBatch", json({{"directory", dir.Sub("stage/ks2/t1")}}).dump());
  ASSERT_EQ(r.status, 200) << r.text;
  EXPECT_EQ(liveGenerations(3, "ks2"), (std::vector<int>{1, 2, 3}));
}

}  // namespace

namespace {

// DSE creates an encrypted table only once its system key is in place: the
// key file in the serving node's key folder and the key's row inserted.
TEST(SimEncryptedTableTest, AnEncryptedTableNeedsItsKeyFileAndItsKeyRowFirst) {
  simtest::TempDir dir;
  TqSim::FixtureOptions options;
  options.nodes = 2;
  options.flavour = "dse";
  options.version = "6.8.25";
  options.keyspaces = 1;
  options.tablesPerKeyspace = 1;
  TqSim::FixtureResult cluster;
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir.Sub("c"), options, cluster, error)) << error;
  const std::string keyFile = cluster.nodes[0].systemKeyDir + "/system_key";
  const std::string key = simtest::ReadFile(keyFile);
  ASSERT_FALSE(key.empty());
  ASSERT_EQ(std::remove(keyFile.c_str()), 0);
  auto post = [&](const std::string& target, const json& body) {
    return PriamRequestHandler(cluster.clusterFile, cluster.nodes[0].address)
        .Handle(1, target, body.dump());
  };
  auto create = [&](const std::string& table) {
    return post("/ExecuteCQL",
                {{"Schema", "CREATE TABLE ks1." + table +
                                " (id uuid PRIMARY KEY) WITH compression = {'class': "
                                "'com.datastax.bdp.cassandra.crypto.EncryptingLZ4Compressor', "
                                "'system_key_file': 'system_key'};"}});
  };
  const json row = {{"key_file", "system_key"},
                    {"key", "k"},
                    {"cipher", "AES"},
                    {"strength", "128"},
                    {"key_id", "id-1"}};

  // Neither the file nor the row: refused, nothing created.
  SimReply r = create("a");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.text.find("no system key system_key"), std::string::npos) << r.text;
  // The row alone is not enough.
  ASSERT_EQ(post("/insertKey", row).status, 200);
  EXPECT_EQ(create("a").status, 500);
  // The file alone is not enough either.
  SimCluster c;
  TqSim::SimClusterFile file(cluster.clusterFile);
  ASSERT_TRUE(file.Load(c, error)) << error;
  c.encryptedEntries = json::array();
  ASSERT_TRUE(file.Save(c, error)) << error;
  ASSERT_TRUE(TqSim::WriteTextFile(keyFile, key, error)) << error;
  r = create("a");
  EXPECT_EQ(r.status, 500);
  EXPECT_NE(r.text.find("among the encrypted keys"), std::string::npos) << r.text;
  ASSERT_TRUE(file.Load(c, error)) << error;
  EXPECT_EQ(c.FindTable("ks1", "a"), nullptr);
  // Both: created, and kept as encrypted with that key file.
  ASSERT_EQ(post("/insertKey", row).status, 200);
  ASSERT_EQ(create("a").status, 200);
  ASSERT_TRUE(file.Load(c, error)) << error;
  ASSERT_NE(c.FindTable("ks1", "a"), nullptr);
  EXPECT_TRUE(c.FindTable("ks1", "a")->encrypted);
  EXPECT_EQ(c.FindTable("ks1", "a")->encryption.keyFile, "system_key");
  // A table without encryption needs no key.
  EXPECT_EQ(
      post("/ExecuteCQL", {{"Schema", "CREATE TABLE ks1.plain (id uuid PRIMARY KEY);"}}).status,
      200);
}

}  // namespace
