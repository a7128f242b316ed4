// The end of a backup of a generated 3-node DSE cluster in two data centres
// with encrypted tables, against the Priam stand-in: what the index, the
// subclient and the job manager hold afterwards, and that no Priam is left.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "BackupCompleteFixture.h"
#include "platform/msg/FrameworkRecords.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace {

using backup_complete::CompletionTest;
using backup_complete::Decrypt;
using backup_complete::StatusReport;

class CompletionAgainstStandIn : public CompletionTest {
 protected:
  void SetUp() override {
    CompletionTest::SetUp();
    TqSim::FixtureOptions options;
    options.flavour = "dse";
    options.nodes = 3;
    options.dataCenters = 2;
    options.keyspaces = 2;  // ks1 NetworkTopologyStrategy, ks2 SimpleStrategy
    options.tablesPerKeyspace = 2;
    options.encryptedTablesPerKeyspace = 1;
    options.sstablesPerTable = 1;
    options.sstableSize = 64;
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("cluster"), options, fixture_, error))
        << error;
    ASSERT_TRUE(TqSim::SimClusterFile(fixture_.clusterFile).Load(cluster_, error)) << error;
    registry_.Set("Cassandra", "sCassandraDSEyamlFile", fixture_.nodes[0].confDir + "/dse.yaml");
  }

  void TearDown() override {
    CompletionTest::TearDown();
    for (pid_t pid : simtest::ChildrenOf(::getpid())) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      ADD_FAILURE() << "process " << pid << " was left running";
    }
  }

  simtest::TempDir dir_;
  TqSim::FixtureResult fixture_;
  TqSim::SimCluster cluster_;
};

TEST_F(CompletionAgainstStandIn, CompletedJobLeavesIndexStatusAndJobManagerUpdates) {
  // What job start, node start-up and the tasks left behind.
  StoreJobItem();
  AddNodes({"node1", "node2", "node3"});
  AddTasks(10, 10);
  coordinator_->nodeKeyspaces = {
      {"node1", {"ks1", "ks2"}}, {"node2", {"ks1", "ks2"}}, {"node3", {"ks1", "ks2"}}};
  // The controllers' done reports, in the order they arrive.
  for (int i : {1, 3, 2}) {
    const std::string name = "node" + std::to_string(i);
    DistributedQEL::ControllerDone done;
    done.setValues(
        {DistributedQEL::DINameValue("CassandraNodeBackupTime", std::to_string(1700000000 + i)),
         DistributedQEL::DINameValue("CassandraKeyspaceStatus",
                                     StatusReport({{name, {"ks1", "ks2"}}}))});
    DistributedQEL::CNodeInfoPtr node = coordinator_->findNodeInfoByNodeName(name);
    ASSERT_TRUE(node);
    coordinator_->ControllerDone(node, &done);
  }
  coordinator_->priam.reset(new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base", data_.path(),
                                                       fixture_.nodes[0].confDir, false));
  ASSERT_FALSE(coordinator_->priam->startPriam().IsError());
  ASSERT_EQ(simtest::ChildrenOf(::getpid()).size(), 1u);

  const time_t before = time(nullptr);
  CQiError error = coordinator_->OnComplete();
  const time_t after = time(nullptr);
  ASSERT_FALSE(error.IsError()) << error.AsString();
  EXPECT_EQ(coordinator_->getPhaseStatus(), PHASE_COMPLETE);
  EXPECT_FALSE(coordinator_->priam);
  EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty()) << "the coordinator's Priam still runs";

  // The index: nodes with their times, then each keyspace and its tables.
  std::vector<std::string> paths;
  std::map<std::string, IdxMetadata::IdxMetaData> entries;
  for (const auto& record : Metadata()) {
    paths.push_back(record.path);
    entries[record.path] = Parse(record);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"/node1", "/node2", "/node3", "/ks1", "/ks1/t1",
                                             "/ks1/t2", "/ks2", "/ks2/t1", "/ks2/t2"}));
  std::vector<SEntryRecord> files = FileRecords();
  ASSERT_EQ(files.size(), paths.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].sequence, static_cast<int64_t>(i + 1));
    EXPECT_EQ(files[i].flags, (paths[i] == "/ks1" || paths[i] == "/ks2") ? 0x4000u : 0u);
  }
  EXPECT_TRUE(IndexWritingClosed());
  for (int i = 1; i <= 3; ++i) {
    auto node = entries["/node" + std::to_string(i)].getNodeMetadata();
    ASSERT_TRUE(node);
    EXPECT_EQ(node->getBackupTime(), 1700000000 + i);
  }

  // ks1: NetworkTopologyStrategy, one row per data centre key; ks2:
  // SimpleStrategy, one row per data centre of the ring, sorted.
  auto ks1 = entries["/ks1"].getKeyspaceMetadata();
  ASSERT_TRUE(ks1);
  EXPECT_EQ(ks1->getCql(), cluster_.keyspaces[0].cql);
  EXPECT_EQ(ks1->getReplicationClass(), "org.apache.cassandra.locator.NetworkTopologyStrategy");
  auto rows1 = ks1->getReplication();
  ASSERT_EQ(rows1.size(), 2u);
  EXPECT_EQ(rows1[0].getDataCenter(), "dc1");
  EXPECT_EQ(rows1[0].getReplicationFactor(), 2);
  EXPECT_EQ(rows1[1].getDataCenter(), "dc2");
  EXPECT_EQ(rows1[1].getReplicationFactor(), 1);
  auto ks2 = entries["/ks2"].getKeyspaceMetadata();
  ASSERT_TRUE(ks2);
  EXPECT_EQ(ks2->getReplicationClass(), "org.apache.cassandra.locator.SimpleStrategy");
  auto rows2 = ks2->getReplication();
  ASSERT_EQ(rows2.size(), 2u);
  EXPECT_EQ(rows2[0].getDataCenter(), "dc1");
  EXPECT_EQ(rows2[1].getDataCenter(), "dc2");
  EXPECT_EQ(rows2[0].getReplicationFactor(), 3);
  EXPECT_EQ(rows2[1].getReplicationFactor(), 3);

  // Tables: ids with their dashes; the first table of each keyspace is
  // encrypted and carries the system key, encrypted.
  const std::string keyContent = simtest::ReadFile(fixture_.nodes[0].systemKeyDir + "/system_key");
  ASSERT_FALSE(keyContent.empty());
  for (size_t k = 0; k < 2; ++k) {
    for (size_t t = 0; t < 2; ++t) {
      const TqSim::SimTable& simTable = cluster_.keyspaces[k].tables[t];
      const std::string path = "/" + cluster_.keyspaces[k].name + "/" + simTable.name;
      SCOPED_TRACE(path);
      auto table = entries[path].getTableMetadata();
      ASSERT_TRUE(table);
      EXPECT_EQ(table->getTableId(), simTable.id);
      EXPECT_NE(table->getTableId().find('-'), std::string::npos);
      EXPECT_EQ(table->getCql(), simTable.cql);
      EXPECT_EQ(table->getEncrypted(), simTable.encrypted ? 1 : 0);
      auto encryption = table->getEncryption();
      ASSERT_EQ(static_cast<bool>(encryption), simTable.encrypted);
      if (!encryption) continue;
      EXPECT_EQ(encryption->getKeyFile(), fixture_.nodes[0].systemKeyDir + "/system_key");
      EXPECT_EQ(encryption->getStrength(), simTable.encryption.strength);
      EXPECT_EQ(Decrypt(encryption->getKeyFileContent()), keyContent);
      EXPECT_EQ(Decrypt(encryption->getCipher()), simTable.encryption.cipher);
      EXPECT_EQ(Decrypt(encryption->getKey()), simTable.encryption.key);
      EXPECT_EQ(Decrypt(encryption->getKeyId()), simTable.encryption.keyId);
      EXPECT_NE(encryption->getKey(), simTable.encryption.key);
    }
  }

  // The subclient keeps this job's statuses, merged in report order.
  App::CassandraLastBackupStatus stored;
  ASSERT_EQ(stored.unserialize(StoredStatus()), 0);
  std::vector<std::string> names;
  for (const auto& node : stored.getNodeStatuses()) names.push_back(node.getInstanceName());
  EXPECT_EQ(names, (std::vector<std::string>{"node1", "node3", "node2"}));

  // The job manager has the reference time and the post-operations phase.
  TQBkpJobClient::JobManagerState state = jobClient_->getJobManagerState();
  ASSERT_TRUE(state.hasReferenceTime);
  EXPECT_GE(state.referenceTime, before);
  EXPECT_LE(state.referenceTime, after);
  EXPECT_EQ(state.phaseParams,
            " -r " + std::to_string(state.referenceTime) + "  -bypass -cassandra");
  EXPECT_EQ(state.requests, std::vector<int>{2});
  EXPECT_FALSE(CEventJournal::Instance().Has(0x6000469, CEventJournal::kPendingCause));
}

}  // namespace
