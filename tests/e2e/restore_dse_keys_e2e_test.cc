// The DSE key copy of the restore coordinator for real: the remote-command
// channel starts the node utility stand-in on every node of a generated DSE
// cluster, the keys of another generated DSE cluster land in each node's
// system key folder, and the key rows reach the Priam stand-in.

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/network/TqNetwork.h"
#include "plugin/RestoreCoordinatorFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"

namespace restoretest {
namespace {

class KeysCoordinator : public RestoresProbe {
 public:
  KeysCoordinator() : TQDC_FileSystem::CRestore(false) {}
  using CCassandraRestores::encryptedTableRows;
  using CCassandraRestores::systemKeyFiles;
};

class DseKeyCopyE2e : public RestoreCoordinatorTest {
 protected:
  void SetUp() override {
    RestoreCoordinatorTest::SetUp();
    CRegistry::Instance().Remove("Base", "dBASEHOME");  // the utility finds the same key
    // The backed-up cluster: its system key and encrypted tables.
    TqSim::FixtureOptions source = Options(2);
    source.flavour = "dse";
    source.version = "6.8.25";
    source.encryptedTablesPerKeyspace = 1;
    source.seed = 7;
    simtest::GenerateCluster(home_.Sub("source"), source, source_);
    // The destination: another key, no encrypted tables, and its key files
    // gone, so that what the copy brings is seen.
    TqSim::FixtureOptions target = Options(3);
    target.flavour = "dse";
    target.version = "6.8.25";
    target.seed = 8;
    Generate(target);
    for (const auto& node : cluster_.nodes)
      std::remove((node.systemKeyDir + "/system_key").c_str());
    NodeClients();
    uint64_t id = 0;
    ASSERT_FALSE(registration_.registerInstance(ClusterInstance(), id).IsError());
  }
  void TearDown() override {
    coordinator_.reset();
    RestoreCoordinatorTest::TearDown();
  }

  // A coordinator of job 42 with the destination's nodes, its Priam on the
  // first destination node, and the source's keys as the index gave them.
  KeysCoordinator& Coordinator() {
    coordinator_.reset(new KeysCoordinator());
    KeysCoordinator& c = *coordinator_;
    c.setFrameworkServices(services_);
    c.restoreClientConfig.reset(new TQCassandra::CCassandraRestoreClientConfig());
    c.restoreClientConfig->setJobId(42);
    c.destConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    for (const auto& node : cluster_.nodes) {
      App::CassandraNode record;
      record.setClientName(node.name);
      c.destConfig->clusterNodes.push_back(record);
    }
    const std::string work = home_.Sub("coordinator-priam");
    simtest::WriteFile(work + "/.keep", "");
    c.priamUtil.reset(new TqCassandra::PriamUtil(0, CQiString(""), home_.Sub("base"), work,
                                                 cluster_.nodes[0].confDir, true));
    EXPECT_FALSE(c.priamUtil->startPriam().IsError());

    sourceKeyPath_ = source_.nodes[0].systemKeyDir + "/system_key";
    sourceKey_ = simtest::ReadFile(sourceKeyPath_);
    c.systemKeyFiles[sourceKeyPath_] = sourceKey_;
    TqSim::SimCluster source;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(source_.clusterFile).Load(source, error)) << error;
    for (const auto& ks : source.keyspaces) {
      for (const auto& table : ks.tables) {
        if (!table.encrypted) continue;
        TQCassandra::cassandraDSEEncryptedTableRow row;
        row.keyFileName = table.encryption.keyFile;
        row.key = table.encryption.key;
        row.keyId = table.encryption.keyId;
        row.cipher = table.encryption.cipher;
        row.strength = static_cast<uint32_t>(table.encryption.strength);
        c.encryptedTableRows.push_back(row);
      }
    }
    EXPECT_EQ(c.encryptedTableRows.size(), 2u);
    return c;
  }
  nlohmann::json InsertedRows() {
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(cluster_.clusterFile).Load(cluster, error)) << error;
    return cluster.encryptedEntries;
  }

  TqSim::FixtureResult source_;
  std::unique_ptr<KeysCoordinator> coordinator_;
  std::string sourceKeyPath_;
  std::string sourceKey_;
};

TEST_F(DseKeyCopyE2e, KeysLandOnEveryNodeByteForByteAndTheRowsAreInserted) {
  KeysCoordinator& c = Coordinator();
  CQiError e = c.HandleCassandraTDE();
  ASSERT_FALSE(e.IsError()) << e.AsString();
  for (const auto& node : cluster_.nodes) {
    EXPECT_EQ(simtest::ReadFile(node.systemKeyDir + "/system_key"), sourceKey_) << node.name;
  }
  nlohmann::json rows = InsertedRows();
  ASSERT_EQ(rows.size(), c.encryptedTableRows.size());
  size_t i = 0;
  for (const auto& row : c.encryptedTableRows) {
    EXPECT_EQ(rows[i]["key_file"], row.keyFileName);
    EXPECT_EQ(rows[i]["key"], row.key);
    EXPECT_EQ(rows[i]["cipher"], row.cipher);
    EXPECT_EQ(rows[i]["strength"], std::to_string(row.strength));
    EXPECT_EQ(rows[i]["key_id"], row.keyId);
    ++i;
  }
  coordinator_.reset();  // stops its Priam; no utility or Priam is left
  EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());
}

TEST_F(DseKeyCopyE2e, SecondNodeAnsweringFalseStopsTheCopy) {
  simtest::EditClusterFile(cluster_.clusterFile, [&](TqSim::SimCluster& cluster) {
    TqSim::SimFault fault;
    fault.when = "utility";
    fault.request = "systemKeyCopy";
    fault.node = cluster_.nodes[1].address;
    fault.action = "answer_false";
    cluster.faults.push_back(fault);
  });
  KeysCoordinator& c = Coordinator();
  CQiError e = c.HandleCassandraTDE();
  ASSERT_TRUE(e.IsError());
  EXPECT_EQ(e.GetCode(), CQiError::MakeCode(CQiError::kWin32, 774));
  EXPECT_EQ(e.GetMessage(), "Failed to create system keys.");
  EXPECT_EQ(simtest::ReadFile(cluster_.nodes[0].systemKeyDir + "/system_key"), sourceKey_);
  EXPECT_FALSE(TqSim::IsFile(cluster_.nodes[1].systemKeyDir + "/system_key"));
  EXPECT_FALSE(TqSim::IsFile(cluster_.nodes[2].systemKeyDir + "/system_key"));
  EXPECT_TRUE(InsertedRows().empty());
}

}  // namespace
}  // namespace restoretest
