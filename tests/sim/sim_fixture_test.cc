// The cluster fixture generator: determinism, the layout it writes, and its
// command-line front end.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/priam/CassandraConfig.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimTableDir.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using TqSim::ClusterFixture;
using TqSim::FixtureOptions;
using TqSim::FixtureResult;

// Relative path -> content of every file under `root`, with the root's own
// path replaced so that two roots compare.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    std::string content = simtest::ReadFile(e.path().string());
    for (size_t p = content.find(root); p != std::string::npos; p = content.find(root, p)) {
      content.replace(p, root.size(), "<root>");
    }
    files[fs::relative(e.path(), root).string()] = content;
  }
  return files;
}

class SimFixtureTest : public ::testing::Test {
 protected:
  FixtureResult Generate(const std::string& name, const FixtureOptions& options) {
    FixtureResult result;
    std::string error;
    EXPECT_TRUE(ClusterFixture::Generate(dir_.Sub(name), options, result, error)) << error;
    return result;
  }
  simtest::TempDir dir_;
};

TEST_F(SimFixtureTest, SameSeedGivesTheSameClusterAndAnotherSeedAnother) {
  FixtureOptions options;
  options.nodes = 4;
  options.dataCenters = 2;
  options.tokensPerNode = 3;
  options.flavour = "dse";
  options.encryptedTablesPerKeyspace = 1;
  options.incrementalBackups = true;
  options.seed = 42;
  auto a = Snapshot(Generate("a", options).root);
  auto b = Snapshot(Generate("b", options).root);
  EXPECT_GT(a.size(), 100u);
  EXPECT_TRUE(a == b);

  options.seed = 43;
  auto c = Snapshot(Generate("c", options).root);
  ASSERT_EQ(a.size(), c.size());                          // the same layout...
  EXPECT_NE(a.at("cluster.json"), c.at("cluster.json"));  // ...other ids and tokens
  auto firstData = [&](const std::map<std::string, std::string>& files) {
    for (const auto& f : files) {
      if (f.first.find("-big-Data.db") != std::string::npos) return f.second;
    }
    return std::string();
  };
  EXPECT_NE(firstData(a), firstData(c));
}

TEST_F(SimFixtureTest, LayoutFollowsTheOptions) {
  FixtureOptions options;
  options.nodes = 4;
  options.dataCenters = 2;
  options.keyspaces = 3;
  options.tablesPerKeyspace = 2;
  options.sstablesPerTable = 3;
  options.sstableSize = 5000;
  options.dataDirsPerNode = 2;
  options.replicationFactor = 3;
  options.commitLogSegments = 4;
  FixtureResult r = Generate("c", options);

  TqSim::SimCluster cluster;
  std::string error;
  ASSERT_TRUE(TqSim::SimClusterFile(r.clusterFile).Load(cluster, error)) << error;
  ASSERT_EQ(cluster.nodes.size(), 4u);
  const char* addresses[] = {"10.0.1.1", "10.0.1.2", "10.0.2.1", "10.0.2.2"};
  const char* dcs[] = {"dc1", "dc1", "dc2", "dc2"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(cluster.nodes[i].address, addresses[i]);
    EXPECT_EQ(cluster.nodes[i].dataCenter, dcs[i]);
    EXPECT_EQ(cluster.nodes[i].hostId.size(), 36u);
    EXPECT_EQ(r.nodes[i].confDir, r.root + "/nodes/node" + std::to_string(i + 1) + "/conf");
  }
  ASSERT_EQ(cluster.keyspaces.size(), 3u);
  EXPECT_EQ(cluster.keyspaces[0].replication["dc1"], "2");  // capped by the data centre
  EXPECT_EQ(cluster.keyspaces[1].replication["replication_factor"], "3");

  const TqSim::FixtureNode& node = r.nodes[2];
  for (const auto& ks : cluster.keyspaces) {
    for (const auto& t : ks.tables) {
      std::string id = t.id;
      id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
      std::string name = t.name + "-" + id;
      // Generations 1 and 3 in the first data directory, 2 in the second.
      std::string d1 = node.dataDirs[0] + "/" + ks.name + "/" + name;
      std::string d2 = node.dataDirs[1] + "/" + ks.name + "/" + name;
      EXPECT_EQ(fs::file_size(d1 + "/mc-1-big-Data.db"), 5000u);
      EXPECT_TRUE(TqSim::IsFile(d1 + "/mc-3-big-Data.db"));
      EXPECT_TRUE(TqSim::IsFile(d2 + "/mc-2-big-Data.db"));
      EXPECT_FALSE(TqSim::IsFile(d2 + "/mc-1-big-Data.db"));
      // Two SSTables of 8 components, both live, and the live record.
      EXPECT_EQ(TqSim::ListDir(d1).size(), 17u);
      EXPECT_TRUE(TqSim::IsFile(d1 + "/" + TqSim::SimTableDir::kLiveRecord));
      EXPECT_EQ(TqSim::SimTableDir(d1, "mc").LiveSSTables().size(), 2u);
    }
  }
  EXPECT_TRUE(TqSim::IsDir(node.dataDirs[0] + "/system/local-7ad54392bcdd35a684174e047860b377"));

  std::vector<std::string> archived = TqSim::ListDir(node.commitLogArchiveDir);
  ASSERT_EQ(archived.size(), 4u);
  for (const auto& name : archived) {
    EXPECT_EQ(name.rfind("CommitLog-6-", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".log");
  }
  EXPECT_EQ(TqSim::ListDir(node.commitLogDir).size(), 1u);
  std::string archiving = simtest::ReadFile(node.confDir + "/commitlog_archiving.properties");
  EXPECT_NE(archiving.find("\narchive_command=\n"), std::string::npos) << archiving;
  EXPECT_FALSE(TqSim::IsFile(node.confDir + "/dse.yaml"));
}

TEST_F(SimFixtureTest, NodeConfigurationReadsBackThroughThePriamUtility) {
  FixtureOptions options;
  options.nodes = 3;
  options.dataCenters = 2;
  options.dataDirsPerNode = 2;
  FixtureResult r = Generate("c", options);
  TqCassandra::CassandraConfig config;
  ASSERT_FALSE(config.Load(r.nodes[1].confDir).IsError());
  EXPECT_EQ(config.dataDirs, r.nodes[1].dataDirs);
  EXPECT_EQ(config.seeds, (std::vector<std::string>{"10.0.1.1", "10.0.2.1"}));
  EXPECT_EQ(config.cqlHost, "10.0.1.2");
  EXPECT_EQ(config.cqlPort, "9042");
  EXPECT_EQ(config.jmxPort, "7199");
}

TEST_F(SimFixtureTest, DseNodesGetTheirSystemKeys) {
  FixtureOptions options;
  options.nodes = 2;
  options.flavour = "dse";
  options.encryptedTablesPerKeyspace = 1;
  options.version = "4.0.1";
  options.archivingConfigured = true;
  FixtureResult r = Generate("c", options);
  for (const auto& node : r.nodes) {
    std::string dse = simtest::ReadFile(node.confDir + "/dse.yaml");
    EXPECT_NE(dse.find("system_key_directory: " + node.systemKeyDir), std::string::npos) << dse;
    EXPECT_TRUE(TqSim::IsFile(node.systemKeyDir + "/system_key"));
    EXPECT_EQ(TqSim::ListDir(node.commitLogArchiveDir)[0].rfind("CommitLog-7-", 0), 0u);
    std::string archiving = simtest::ReadFile(node.confDir + "/commitlog_archiving.properties");
    EXPECT_NE(
        archiving.find("archive_command=/bin/ln %path " + node.commitLogArchiveDir + "/%name"),
        std::string::npos);
  }
  EXPECT_EQ(simtest::ReadFile(r.nodes[0].systemKeyDir + "/system_key"),
            simtest::ReadFile(r.nodes[1].systemKeyDir + "/system_key"));
  TqSim::SimCluster cluster;
  std::string error;
  ASSERT_TRUE(TqSim::SimClusterFile(r.clusterFile).Load(cluster, error));
  EXPECT_TRUE(cluster.keyspaces[0].tables[0].encrypted);
  EXPECT_FALSE(cluster.keyspaces[0].tables[1].encrypted);
  bool nbFormat = false;
  for (const auto& e : fs::recursive_directory_iterator(r.nodes[0].dataDirs[0])) {
    nbFormat = nbFormat || e.path().filename().string().rfind("nb-1-big-", 0) == 0;
  }
  EXPECT_TRUE(nbFormat);
}

// A second cluster of a home takes its own node names and addresses.
TEST_F(SimFixtureTest, NodePrefixAndAddressNetworkNameTheNodes) {
  FixtureOptions options;
  options.nodes = 3;
  options.dataCenters = 2;
  options.nodePrefix = "target-node";
  options.addressNetwork = 1;
  FixtureResult r = Generate("target", options);
  ASSERT_EQ(r.nodes.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"target-node1", "10.1.1.1"}, {"target-node2", "10.1.1.2"}, {"target-node3", "10.1.2.1"}};
  TqSim::SimCluster cluster;
  std::string error;
  ASSERT_TRUE(TqSim::SimClusterFile(r.clusterFile).Load(cluster, error)) << error;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(r.nodes[i].name, expected[i].first);
    EXPECT_EQ(r.nodes[i].address, expected[i].second);
    EXPECT_EQ(fs::path(r.nodes[i].confDir).parent_path().filename(), expected[i].first);
    EXPECT_EQ(cluster.nodes[i].address, expected[i].second);
  }
}

// A table of a quoted name is one more table of the first keyspace: its
// folder, inside the keyspace's, is named by it, and its CQL quotes it.
TEST_F(SimFixtureTest, QuotedTableNamesAreTablesOfTheFirstKeyspace) {
  FixtureOptions options;
  options.nodes = 1;
  const std::string name = "t1\",\"keyspace\":\"ks2";
  options.quotedTables = {name};
  FixtureResult r = Generate("c", options);
  TqSim::SimCluster cluster;
  std::string error;
  ASSERT_TRUE(TqSim::SimClusterFile(r.clusterFile).Load(cluster, error)) << error;
  ASSERT_EQ(cluster.keyspaces.size(), 2u);
  ASSERT_EQ(cluster.keyspaces[0].tables.size(), 3u);
  ASSERT_EQ(cluster.keyspaces[1].tables.size(), 2u);
  const TqSim::SimTable& table = cluster.keyspaces[0].tables[2];
  EXPECT_EQ(table.name, name);
  EXPECT_EQ(table.cql.rfind("CREATE TABLE ks1.\"t1\"\",\"\"keyspace\"\":\"\"ks2\" (", 0), 0u)
      << table.cql;
  const fs::path folder =
      fs::path(r.nodes[0].dataDirs.front()) / "ks1" / TqSim::TableDirName(table);
  EXPECT_EQ(folder.parent_path(), fs::path(r.nodes[0].dataDirs.front()) / "ks1");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(
      TqSim::SimTableDir(folder.string(), TqSim::SimTableDir::FormatForVersion(cluster.version))
          .LiveSSTables()
          .empty());
}

TEST_F(SimFixtureTest, InvalidOptionsAndAnOccupiedRootAreRefused) {
  struct Case {
    const char* name;
    void (*change)(FixtureOptions&);
  } cases[] = {
      {"no nodes", [](FixtureOptions& o) { o.nodes = 0; }},
      {"more data centres than nodes", [](FixtureOptions& o) { o.dataCenters = 4; }},
      {"no data directory", [](FixtureOptions& o) { o.dataDirsPerNode = 0; }},
      {"unknown flavour", [](FixtureOptions& o) { o.flavour = "mongo"; }},
      {"empty node prefix", [](FixtureOptions& o) { o.nodePrefix = ""; }},
      {"node prefix with a slash", [](FixtureOptions& o) { o.nodePrefix = "a/b"; }},
      {"address network out of range", [](FixtureOptions& o) { o.addressNetwork = 256; }},
      {"table name with a slash", [](FixtureOptions& o) { o.quotedTables = {"a/b"}; }},
      {"empty table name", [](FixtureOptions& o) { o.quotedTables = {""}; }},
      {"table name ..", [](FixtureOptions& o) { o.quotedTables = {".."}; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FixtureOptions options;
    c.change(options);
    FixtureResult r;
    std::string error;
    EXPECT_FALSE(ClusterFixture::Generate(dir_.Sub(c.name), options, r, error));
    EXPECT_FALSE(error.empty());
  }
  FixtureOptions options;
  Generate("taken", options);
  FixtureResult r;
  std::string error;
  EXPECT_FALSE(ClusterFixture::Generate(dir_.Sub("taken"), options, r, error));
  EXPECT_NE(error.find("already holds a cluster"), std::string::npos);
}

TEST_F(SimFixtureTest, CommandLineFrontEnd) {
  std::string program = std::string(TQ_BINARY_DIR) + "/sim/cluster-fixture";
  std::string out = dir_.Sub("out.txt");
  std::string command = program + " --root " + dir_.Sub("cli") +
                        " --nodes 3 --dcs 3 --keyspaces 1 --tables 1 --sstables 1 "
                        "--sstable-size 10 --seed 7 > " +
                        out + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << simtest::ReadFile(out);
  std::string text = simtest::ReadFile(out);
  EXPECT_EQ(text, dir_.Sub("cli") + "/cluster.json\n" + "10.0.1.1 " + dir_.Sub("cli") +
                      "/nodes/node1/conf\n" + "10.0.2.1 " + dir_.Sub("cli") +
                      "/nodes/node2/conf\n" + "10.0.3.1 " + dir_.Sub("cli") +
                      "/nodes/node3/conf\n");

  FixtureOptions same;
  same.nodes = 3;
  same.dataCenters = 3;
  same.keyspaces = 1;
  same.tablesPerKeyspace = 1;
  same.sstablesPerTable = 1;
  same.sstableSize = 10;
  same.seed = 7;
  auto fromApi = Snapshot(Generate("api", same).root);
  EXPECT_TRUE(fromApi == Snapshot(dir_.Sub("cli")));

  for (const char* bad : {" --nodes x --root /tmp/never", " --bogus 1", ""}) {
    SCOPED_TRACE(bad);
    std::string c = program + bad + " > /dev/null 2>&1";
    int status = std::system(c.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  }
}

}  // namespace
