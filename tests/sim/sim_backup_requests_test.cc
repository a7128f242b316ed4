// The stand-in's answers to the backup's requests, driven in-process through
// PriamRequestHandler over a generated cluster.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "sim/lib/ClusterFixture.h"
#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "support/SimTestSupport.h"

namespace {

using nlohmann::json;
using TqSim::PriamRequestHandler;
using TqSim::SimReply;

ino_t Inode(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class SimBackupRequestsTest : public ::testing::Test {
 protected:
  void Generate(TqSim::FixtureOptions options) {
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("c"), options, cluster_, error)) << error;
  }
  void SetUp() override {
    TqSim::FixtureOptions options;
    options.nodes = 3;
    options.dataCenters = 2;
    options.sstablesPerTable = 2;
    options.sstableSize = 128;
    options.dataDirsPerNode = 2;
    Generate(options);
  }

  SimReply Send(const std::string& target, int node = 0, int kind = 0,
                const std::string& body = "") {
    PriamRequestHandler handler(cluster_.clusterFile, cluster_.nodes[node].address);
    return handler.Handle(kind, target, body);
  }
  json SendJson(const std::string& target, int node = 0) {
    SimReply r = Send(target, node);
    EXPECT_EQ(r.status, 200) << target << ": " << r.text;
    return json::parse(r.text, nullptr, false);
  }

  void ChangeCluster(const std::function<void(TqSim::SimCluster&)>& change) {
    TqSim::SimClusterFile file(cluster_.clusterFile);
    TqSim::SimCluster c;
    std::string error;
    ASSERT_TRUE(file.Load(c, error)) << error;
    change(c);
    ASSERT_TRUE(file.Save(c, error)) << error;
  }

  // The directory of table t<t> of keyspace ks<k> in data directory d of a node.
  std::string TableDir(int node, int k, int t, int d = 0) {
    TqSim::SimClusterFile file(cluster_.clusterFile);
    TqSim::SimCluster c;
    std::string error;
    EXPECT_TRUE(file.Load(c, error)) << error;
    const TqSim::SimTable* table = c.FindTable("ks" + std::to_string(k), "t" + std::to_string(t));
    return cluster_.nodes[node].dataDirs[d] + "/ks" + std::to_string(k) + "/" +
           TqSim::TableDirName(*table);
  }

  simtest::TempDir dir_;
  TqSim::FixtureResult cluster_;
};

TEST_F(SimBackupRequestsTest, ClusterDetailsAndStatusDescribeTheRing) {
  json details = SendJson("/clusterDetails");
  EXPECT_EQ(details, json({{"ClusterName", "TestCluster"}, {"Version", "3.11.4"}}));

  ChangeCluster([](TqSim::SimCluster& c) {
    c.nodes[2].status = "Down";
    c.nodes[1].state = "Leaving";
  });
  json status = SendJson("/status");
  ASSERT_EQ(status.size(), 3u);
  const char* members[] = {"node", "state", "nodestatus", "data_center", "rack", "token", "hostid"};
  for (const auto& row : status) {
    for (const char* m : members) EXPECT_TRUE(row[m].is_string()) << m;
  }
  EXPECT_EQ(status[0]["node"], "10.0.1.1");
  EXPECT_EQ(status[0]["data_center"], "dc1");
  EXPECT_EQ(status[0]["token"], "-9223372036854775808");
  EXPECT_EQ(status[1]["state"], "Leaving");
  EXPECT_EQ(status[2]["node"], "10.0.2.1");
  EXPECT_EQ(status[2]["data_center"], "dc2");
  EXPECT_EQ(status[2]["nodestatus"], "Down");
}

TEST_F(SimBackupRequestsTest, GetMetaGivesReplicationAsAnObject) {
  json meta = SendJson("/getMeta");
  ASSERT_EQ(meta.size(), 2u);
  EXPECT_EQ(meta[0]["KEYSPACE"], "ks1");
  EXPECT_EQ(meta[0]["REPLICATION"],
            json({{"class", "org.apache.cassandra.locator.NetworkTopologyStrategy"},
                  {"dc1", "2"},
                  {"dc2", "1"}}));
  EXPECT_EQ(meta[1]["REPLICATION"], json({{"class", "org.apache.cassandra.locator.SimpleStrategy"},
                                          {"replication_factor", "3"}}));
  EXPECT_EQ(meta[0]["SCHEMA"].get<std::string>().rfind("CREATE KEYSPACE ks1 WITH replication", 0),
            0u);
  ASSERT_EQ(meta[0]["Tables"].size(), 2u);
  const json& table = meta[0]["Tables"][0];
  EXPECT_EQ(table["COLUMNSPACE"], "t1");
  EXPECT_EQ(table["ID"].get<std::string>().size(), 36u);
  EXPECT_EQ(table["ENCRYPTED"], false);
  EXPECT_FALSE(table.contains("EncyptionOptions"));
  EXPECT_EQ(table["SCHEMA"].get<std::string>().rfind("CREATE TABLE ks1.t1 (", 0), 0u);
}

TEST_F(SimBackupRequestsTest, DseEncryptedTablesCarryTheirOptions) {
  simtest::TempDir other;
  TqSim::FixtureOptions options;
  options.flavour = "dse";
  options.nodes = 1;
  options.encryptedTablesPerKeyspace = 1;
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(other.Sub("dse"), options, cluster_, error)) << error;
  json meta = SendJson("/getMeta");
  const json& encrypted = meta[0]["Tables"][0];
  EXPECT_EQ(encrypted["ENCRYPTED"], true);
  ASSERT_TRUE(encrypted.contains("EncyptionOptions")) << encrypted.dump();
  EXPECT_FALSE(encrypted.contains("EncryptionOptions"));
  const json& o = encrypted["EncyptionOptions"];
  EXPECT_EQ(o["key_file"], "system_key");
  EXPECT_EQ(o["cipher"], "AES");
  EXPECT_EQ(o["strength"], 128);
  EXPECT_TRUE(o["key"].is_string());
  EXPECT_TRUE(o["key_id"].is_string());
  EXPECT_EQ(meta[0]["Tables"][1]["ENCRYPTED"], false);
  // The key file the table names is in the node's system key directory.
  EXPECT_TRUE(TqSim::IsFile(cluster_.nodes[0].systemKeyDir + "/system_key"));
}

TEST_F(SimBackupRequestsTest, InfoReportsIncrementalBackups) {
  EXPECT_EQ(SendJson("/info")["incrementalEnabled"], false);
  simtest::TempDir other;
  TqSim::FixtureOptions options;
  options.nodes = 1;
  options.incrementalBackups = true;
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(other.Sub("inc"), options, cluster_, error));
  EXPECT_EQ(SendJson("/info")["incrementalEnabled"], true);
}

TEST_F(SimBackupRequestsTest, FlushWritesANewGenerationOnce) {
  std::string dir1 = TableDir(0, 1, 1, 0);  // generations 1 (and 3 after the flush)
  EXPECT_FALSE(TqSim::IsFile(dir1 + "/mc-3-big-Data.db"));
  EXPECT_EQ(SendJson("/flush")["flushed"], 4);
  EXPECT_TRUE(TqSim::IsFile(dir1 + "/mc-3-big-Data.db"));
  EXPECT_TRUE(TqSim::IsFile(dir1 + "/mc-3-big-TOC.txt"));
  EXPECT_TRUE(TqSim::ListDir(dir1 + "/backups").empty());  // incremental_backups is off
  EXPECT_EQ(SendJson("/flush")["flushed"], 0);
  // Only the node asked was flushed.
  EXPECT_FALSE(TqSim::IsFile(TableDir(1, 1, 1, 0) + "/mc-3-big-Data.db"));
}

TEST_F(SimBackupRequestsTest, FlushWithIncrementalBackupsLinksIntoBackups) {
  simtest::TempDir other;
  TqSim::FixtureOptions options;
  options.nodes = 1;
  options.sstablesPerTable = 1;
  options.incrementalBackups = true;
  std::string error;
  ASSERT_TRUE(TqSim::ClusterFixture::Generate(other.Sub("inc"), options, cluster_, error));
  std::string dir = TableDir(0, 2, 1);
  EXPECT_EQ(TqSim::ListDir(dir + "/backups").size(), 8u);  // generation 1's components
  ASSERT_EQ(SendJson("/flush")["flushed"], 4);
  EXPECT_EQ(TqSim::ListDir(dir + "/backups").size(), 16u);
  for (const char* c : {"Data.db", "Index.db", "TOC.txt"}) {
    std::string name = std::string("mc-2-big-") + c;
    EXPECT_NE(Inode(dir + "/" + name), 0u);
    EXPECT_EQ(Inode(dir + "/" + name), Inode(dir + "/backups/" + name)) << name;
  }
}

TEST_F(SimBackupRequestsTest, SnapshotHardLinksTheLiveSSTablesOfTheNamedKeyspaces) {
  SimReply r = Send("/snapshot?SnapID=12TQsnapshot205&?keyspace=ks2");
  ASSERT_EQ(r.status, 200) << r.text;
  for (int d = 0; d < 2; ++d) {
    std::string dir = TableDir(0, 2, 1, d);
    std::string snap = dir + "/snapshots/12TQsnapshot205";
    std::string live = "mc-" + std::to_string(d + 1) + "-big-Data.db";
    EXPECT_EQ(Inode(dir + "/" + live), Inode(snap + "/" + live));
  }
  // One manifest and one schema for the table, in its first data directory,
  // listing the files of both.
  std::string first = TableDir(0, 2, 1, 0) + "/snapshots/12TQsnapshot205";
  json manifest = json::parse(simtest::ReadFile(first + "/manifest.json"));
  EXPECT_EQ(manifest["files"], json::array({"mc-1-big-Data.db", "mc-2-big-Data.db"}));
  EXPECT_TRUE(TqSim::IsFile(first + "/schema.cql"));
  std::string second = TableDir(0, 2, 1, 1) + "/snapshots/12TQsnapshot205";
  EXPECT_FALSE(TqSim::IsFile(second + "/manifest.json"));
  EXPECT_FALSE(TqSim::IsFile(second + "/schema.cql"));
  EXPECT_FALSE(TqSim::IsDir(TableDir(0, 1, 1) + "/snapshots/12TQsnapshot205"));

  SimReply again = Send("/snapshot?SnapID=12TQsnapshot205&?keyspace=ks2");
  EXPECT_EQ(again.status, 500);
  EXPECT_NE(again.text.find("already exists"), std::string::npos) << again.text;

  // The "?" of further parameters may arrive encoded.
  EXPECT_EQ(Send("/snapshot?SnapID=all&%3Fkeyspace=ks1").status, 200);
  EXPECT_TRUE(TqSim::IsDir(TableDir(0, 1, 2) + "/snapshots/all"));
}

TEST_F(SimBackupRequestsTest, SnapshotWithoutKeyspacesTakesThemAll) {
  ASSERT_EQ(Send("/snapshot?SnapID=whole").status, 200);
  for (int k = 1; k <= 2; ++k) {
    for (int t = 1; t <= 2; ++t) EXPECT_TRUE(TqSim::IsDir(TableDir(0, k, t) + "/snapshots/whole"));
  }
}

TEST_F(SimBackupRequestsTest, BadSnapshotRequestsFail) {
  struct Case {
    const char* target;
    int status;
  } cases[] = {
      {"/snapshot?SnapID=x&?keyspace=nope", 500},
      {"/snapshot", 400},
      {"/snapshot?SnapID=../escape", 400},
      {"/clearsnapshot", 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(Send(c.target).status, c.status);
  }
  EXPECT_TRUE(TqSim::ListDir(TableDir(0, 1, 1) + "/snapshots").empty());
}

TEST_F(SimBackupRequestsTest, ListSnapsNamesAndClearSnapshotRemovesOne) {
  ASSERT_EQ(Send("/snapshot?SnapID=12TQsnapshot100&?keyspace=ks1").status, 200);
  ASSERT_EQ(Send("/snapshot?SnapID=12TQsnapshot205").status, 200);
  ASSERT_EQ(Send("/snapshot?SnapID=other", 1).status, 200);  // another node's

  json snaps = SendJson("/ListSnaps");
  ASSERT_TRUE(snaps.is_object());
  std::set<std::string> names;
  for (auto it = snaps.begin(); it != snaps.end(); ++it) names.insert(it.key());
  EXPECT_EQ(names, (std::set<std::string>{"12TQsnapshot100", "12TQsnapshot205"}));

  ASSERT_EQ(Send("/clearsnapshot?SnapID=12TQsnapshot100").status, 200);
  snaps = SendJson("/ListSnaps");
  EXPECT_FALSE(snaps.contains("12TQsnapshot100"));
  EXPECT_TRUE(snaps.contains("12TQsnapshot205"));
  // Clearing keeps the live files the snapshot linked to.
  EXPECT_TRUE(TqSim::IsFile(TableDir(0, 1, 1) + "/mc-1-big-Data.db"));
  EXPECT_EQ(Send("/clearsnapshot?SnapID=never-taken").status, 200);
  EXPECT_TRUE(SendJson("/ListSnaps", 1).contains("other"));
}

TEST_F(SimBackupRequestsTest, FaultSwitchesShapeTheAnswers) {
  ChangeCluster([&](TqSim::SimCluster& c) {
    c.faults.push_back({"request", "flush", "", "fail", 507, "No space left on device"});
    c.faults.push_back({"request", "getMeta", "", "access_denied", 0, ""});
    c.faults.push_back({"request", "status", "", "invalid_json", 0, ""});
    c.faults.push_back({"request", "info", cluster_.nodes[1].address, "fail", 0, ""});
  });
  SimReply flush = Send("/flush");
  EXPECT_EQ(flush.status, 507);
  EXPECT_EQ(flush.text, "No space left on device");
  EXPECT_FALSE(TqSim::IsFile(TableDir(0, 1, 1) + "/mc-3-big-Data.db"));
  EXPECT_EQ(Send("/getMeta").status, 401);
  SimReply status = Send("/status");
  EXPECT_EQ(status.status, 200);
  EXPECT_TRUE(json::parse(status.text, nullptr, false).is_discarded()) << status.text;
  EXPECT_EQ(Send("/info", 0).status, 200);
  SimReply info = Send("/info", 1);
  EXPECT_EQ(info.status, 500);
  EXPECT_EQ(info.text, "Simulated failure of info");
}

TEST_F(SimBackupRequestsTest, StoppedCassandraAnswersOnlyStartAndStop) {
  ChangeCluster([](TqSim::SimCluster& c) { c.nodes[0].running = false; });
  EXPECT_EQ(Send("/flush").status, 503);
  EXPECT_EQ(Send("/status").status, 503);
  EXPECT_EQ(Send("/status", 1).status, 200);
  EXPECT_EQ(Send("/start").status, 200);
  EXPECT_EQ(Send("/status").status, 200);
  EXPECT_EQ(Send("/nonsense").status, 404);
}

}  // namespace
