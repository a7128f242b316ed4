// The restore phase of a real backup onto a cluster that lacks the backed-up
// keyspaces: before any data arrives, the restore coordinator creates every
// keyspace and table through Priam, each table with its backed-up id, so the
// restored files find their "<table>-<id>" folders. Only the cluster's
// schema is checked here, not how the phase ends.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "E2eFixture.h"
#include "common/RestoreOptionRecords.h"
#include "platform/log/LogWriter.h"
#include "sim/lib/SimClusterFile.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

class RestoreSchemaCreate : public E2eTest {
 protected:
  TqSim::SimCluster Cluster() {
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(harness_->State().clusterFile).Load(cluster, error)) << error;
    return cluster;
  }

  // A subclient restore of `selection` ("/": everything, "/<keyspace>",
  // "/<keyspace>/<table>") that loads the data into Cassandra.
  void RunRecoverRestore(const std::vector<std::string>& selection) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setSubclientRestore(1);
    options.setStagingLocation(dir_.Sub("stage"));
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    request.paths = selection;
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    ASSERT_FALSE(request.jobOptionsXml.empty());
    TqRunner::JobResult result;
    CQiError error = harness_->RunRestore(request, result);
    // How the phase ends depends on the node controllers; only the schema
    // the coordinator made before them counts here.
    if (error.IsError()) TQLOG(0, "restore: %s", error.AsString(2).c_str());
  }
};

TEST_F(RestoreSchemaCreate, EveryKeyspaceAndTableComesBackWithItsBackedUpId) {
  MakeCluster();
  ASSERT_TRUE(Backup(TQBkpLevel_Full).Completed());
  const TqSim::SimCluster backedUp = Cluster();
  ASSERT_FALSE(backedUp.keyspaces.empty());

  // The destination lacks every keyspace, on disk as in its schema.
  ASSERT_FALSE(harness_->EditCluster([](TqSim::SimCluster& cluster) { cluster.keyspaces.clear(); })
                   .IsError());
  for (const auto& node : harness_->State().nodes) {
    for (const auto& dataDir : node.dataDirs) {
      for (const auto& keyspace : backedUp.keyspaces) {
        std::filesystem::remove_all(dataDir + "/" + keyspace.name);
      }
    }
  }

  CLogCapture log;
  RunRecoverRestore({"/"});

  const TqSim::SimCluster restored = Cluster();
  for (const TqSim::SimKeyspace& keyspace : backedUp.keyspaces) {
    SCOPED_TRACE(keyspace.name);
    EXPECT_TRUE(log.Contains(" Keyspace not found [" + keyspace.name + "] "));
    const TqSim::SimKeyspace* made = nullptr;
    for (const auto& k : restored.keyspaces) {
      if (k.name == keyspace.name) made = &k;
    }
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->replication, keyspace.replication);
    ASSERT_EQ(made->tables.size(), keyspace.tables.size());
    for (const TqSim::SimTable& table : keyspace.tables) {
      SCOPED_TRACE(table.name);
      const TqSim::SimTable* created = nullptr;
      for (const auto& t : made->tables) {
        if (t.name == table.name) created = &t;
      }
      ASSERT_NE(created, nullptr);
      EXPECT_EQ(created->id, table.id);
      for (const auto& node : harness_->State().nodes) {
        EXPECT_TRUE(std::filesystem::is_directory(node.dataDirs.front() + "/" + keyspace.name +
                                                  "/" + TqSim::TableDirName(table)))
            << node.name;
      }
    }
  }
  EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());
}

}  // namespace
}  // namespace e2e
