// Restores of a real backup onto another cluster of the same home through
// the plug-in's restore phase: a second generated cluster registered as
// another instance, reached through a node map or a data-centre selection;
// a dead node replaced by another machine of its own cluster; and a DSE
// cluster with encrypted tables restored onto a DSE cluster without them.
// Judged by what the simulated clusters serve afterwards.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "E2eFixture.h"
#include "SSTableContents.h"
#include "common/CassandraNodeRecords.h"
#include "common/RestoreOptionRecords.h"
#include "platform/base/SleepRecorder.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/SuiteStore.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimTableDir.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

TqSim::SimCluster LoadCluster(const std::string& clusterFile) {
  TqSim::SimCluster cluster;
  std::string error;
  EXPECT_TRUE(TqSim::SimClusterFile(clusterFile).Load(cluster, error)) << error;
  return cluster;
}

// What a cluster serves: the live SSTables of every table of every node
// (of `keyspaces` only when given).
TableContents Live(const TqHarness::HarnessCluster& harnessCluster,
                   const std::set<std::string>& keyspaces = {}) {
  const TqSim::SimCluster cluster = LoadCluster(harnessCluster.clusterFile);
  const std::string format = TqSim::SimTableDir::FormatForVersion(cluster.version);
  TableContents contents;
  for (const auto& node : harnessCluster.nodes) {
    for (const auto& ks : cluster.keyspaces) {
      if (!keyspaces.empty() && !keyspaces.count(ks.name)) continue;
      for (const auto& table : ks.tables) {
        std::multiset<SSTableContent> set;
        for (const auto& dataDir : node.dataDirs) {
          TqSim::SimTableDir dir(dataDir + "/" + ks.name + "/" + TqSim::TableDirName(table),
                                 format);
          for (const auto& sstable : dir.LiveSSTables()) {
            SSTableContent content;
            for (const auto& file : sstable.components) {
              content[ComponentOf(file)] = Digest(simtest::ReadFile(dir.path() + "/" + file));
            }
            set.insert(content);
          }
        }
        if (!set.empty()) contents[node.name][ks.name + "." + table.name] = set;
      }
    }
  }
  return contents;
}

class CrossClusterRestore : public E2eTest {
 protected:
  static constexpr const char* kTarget = "target";

  TqHarness::HarnessCluster Cluster(const std::string& name) {
    TqHarness::HarnessCluster cluster;
    EXPECT_TRUE(harness_->State().FindCluster(name, cluster)) << name;
    return cluster;
  }
  TqHarness::HarnessCluster Source() { return harness_->State().Primary(); }
  const TqHarness::HarnessNode& Node(const TqHarness::HarnessCluster& cluster,
                                     const std::string& name) {
    for (const auto& node : cluster.nodes) {
      if (node.name == name) return node;
    }
    ADD_FAILURE() << "no node " << name;
    return cluster.nodes.front();
  }

  // The backed-up cluster and a full backup of it; returns the job id.
  int64_t BackedUpSource(const TqSim::FixtureOptions& options) {
    MakeCluster(options);
    TqRunner::JobResult full = Backup(TQBkpLevel_Full);
    EXPECT_TRUE(full.Completed());
    return full.jobId;
  }

  void MakeTarget(const TqSim::FixtureOptions& options) {
    CQiError error = harness_->CreateCluster(options, kTarget);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    error = harness_->Register(TqHarness::RegisterOptions(), kTarget);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
  }

  // The SSTables the store holds of `jobId`, by source node and table.
  TableContents BackedUp(int64_t jobId, const std::set<std::string>& keyspaces = {}) {
    std::map<std::string, std::map<std::string, std::map<std::string, SSTableContent>>> byPrefix;
    for (const auto& entry : StoredFiles(jobId)) {
      const SStoredItem& item = entry.second;
      // /<cluster>/<dc>/<node>/<ks>/<table>/<file>
      std::vector<std::string> parts;
      for (const auto& part : fs::path(item.headerPath)) parts.push_back(part.string());
      if (parts.size() != 7 || parts[4] == "system") continue;
      if (!keyspaces.empty() && !keyspaces.count(parts[4])) continue;
      const std::string component = ComponentOf(parts[6]);
      if (component.empty()) continue;
      byPrefix[parts[3]][parts[4] + "." + parts[5]][PrefixOf(parts[6])][component] =
          Digest(StoredContent(item));
    }
    TableContents contents;
    for (const auto& node : byPrefix) {
      for (const auto& table : node.second) {
        for (const auto& sstable : table.second) {
          contents[node.first][table.first].insert(sstable.second);
        }
      }
    }
    return contents;
  }

  // A restore of `paths` (index paths) with `options`, onto `target` ("" the
  // backed-up cluster's instance).
  TqRunner::JobResult Restore(const std::vector<std::string>& paths,
                              const App::CassandraRestoreOptions& options,
                              const std::string& target) {
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    request.paths = paths;
    request.targetCluster = target;
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    EXPECT_FALSE(request.jobOptionsXml.empty());
    TqRunner::JobResult result;
    CQiError error = harness_->RunRestore(request, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  // In place across instances with `map`. Each target node takes its source
  // node's tokens and starts from empty data folders, with its Cassandra
  // stopped until the data is in: there is nothing to truncate, and no
  // running node to truncate with.
  App::CassandraRestoreOptions InPlaceOptions(
      const std::vector<std::pair<std::string, std::string>>& map, const std::string& target) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setStagingLocation(dir_.Sub("stage"));
    std::vector<std::pair<TqHarness::HarnessNode, TqHarness::HarnessNode>> nodes;
    const TqHarness::HarnessCluster source = Source();
    const TqHarness::HarnessCluster to = Cluster(target);
    for (const auto& pair : map) nodes.push_back({Node(source, pair.first), Node(to, pair.second)});
    TqHarness::SetCrossInstanceMap(options, nodes);
    return options;
  }

  // The data folders of a cluster's nodes, with every file's content.
  std::map<std::string, std::string> NodeFiles(const TqHarness::HarnessCluster& cluster) {
    std::map<std::string, std::string> files;
    for (const auto& node : cluster.nodes) {
      for (const auto& dataDir : node.dataDirs) {
        auto below = FilesWithContent(dataDir);
        files.insert(below.begin(), below.end());
      }
    }
    return files;
  }

  // The client names of the stored node list of an instance.
  std::vector<std::string> StoredNodes(uint64_t instanceId) {
    SInstanceRecord instance;
    CQiError error = CSuiteStore::Default().LoadInstance(instanceId, instance);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    std::vector<std::string> names;
    for (const auto& xml : instance.nodeXmls) {
      App::CassandraNode node;
      EXPECT_EQ(node.unserialize(xml), 0) << xml;
      names.push_back(node.getClientName());
    }
    return names;
  }

  // The nodes' pauses around the ownership change and Cassandra's start
  // return at once.
  CSleepRecorder sleeps_;

  // The job's events, pending causes and node failures, for a failed check.
  static std::string Why(const TqRunner::JobResult& result) {
    std::string text;
    for (const auto& phase : result.phases) {
      text += "phase " + phase.name + ": " + phase.message + "\n";
      for (const auto& node : phase.nodes) {
        if (!node.failure.empty()) text += "  node " + node.clientName + ": " + node.failure + "\n";
      }
    }
    for (const auto& event : result.events) {
      text += "  event " + std::to_string(event.id) + " " + event.client + ":";
      for (const auto& arg : event.args) text += " " + arg;
      text += "\n";
    }
    for (const auto& cause : result.pendingCauses) {
      text += "  pending " + std::to_string(cause.id) + " " + cause.client + "\n";
    }
    return text;
  }

  static void ExpectComplete(const TqRunner::JobResult& result) {
    ASSERT_EQ(result.phases.size(), 1u);
    EXPECT_EQ(result.phases[0].endReason, "complete") << Why(result);
    EXPECT_EQ(result.status, PHASE_COMPLETE) << Why(result);
    EXPECT_FALSE(result.phases[0].tasks.empty());
  }
};

// Renames the nodes of `contents` through `map` (source -> target).
TableContents Mapped(const TableContents& contents,
                     const std::vector<std::pair<std::string, std::string>>& map) {
  TableContents out;
  for (const auto& pair : map) {
    if (contents.count(pair.first)) out[pair.second] = contents.at(pair.first);
  }
  return out;
}

TEST_F(CrossClusterRestore, NodeMapPutsEachSourceNodesKeyspaceOnItsTargetNode) {
  const int64_t backupJob = BackedUpSource(SmallCluster());
  MakeTarget(SmallCluster());
  const TableContents backedUp = BackedUp(backupJob, {"ks1"});
  ASSERT_EQ(backedUp.size(), 3u);
  const auto sourceBefore = NodeFiles(Source());
  // Not in order, so that a restore pairing nodes by position shows.
  const std::vector<std::pair<std::string, std::string>> map = {
      {"node1", "target-node3"}, {"node2", "target-node1"}, {"node3", "target-node2"}};
  // The target serves other data of its own under the same names.
  ASSERT_NE(Live(Cluster(kTarget), {"ks1"}), Mapped(backedUp, map));

  std::vector<std::string> paths;
  for (const auto& node : Source().nodes) {
    paths.push_back("/TestCluster/" + node.dataCenter + "/" + node.name + "/ks1");
  }
  TqRunner::JobResult result = Restore(paths, InPlaceOptions(map, kTarget), kTarget);
  ExpectComplete(result);
  // The target clients restored, the source clients took no part.
  std::set<std::string> nodes;
  for (const auto& node : result.phases[0].nodes) nodes.insert(node.clientName);
  EXPECT_EQ(nodes, (std::set<std::string>{"target-node1", "target-node2", "target-node3"}));
  // Every target node serves exactly what its source node had backed up.
  EXPECT_EQ(Live(Cluster(kTarget), {"ks1"}), Mapped(backedUp, map));
  // The backed-up cluster is untouched.
  EXPECT_EQ(NodeFiles(Source()), sourceBefore);
  // The source instance keeps its nodes.
  EXPECT_EQ(StoredNodes(harness_->State().instanceId),
            (std::vector<std::string>{"node1", "node2", "node3"}));
}

// A data-centre selection: the coordinator's source data-centre map expands
// it to that data centre's nodes, and only their data reaches the target.
TEST_F(CrossClusterRestore, DataCentreSelectionRestoresOnlyThatDataCentresNodes) {
  TqSim::FixtureOptions twoCentres = SmallCluster();
  twoCentres.dataCenters = 2;  // dc1: node1, node2; dc2: node3
  const int64_t backupJob = BackedUpSource(twoCentres);
  MakeTarget(SmallCluster(2));
  const TableContents backedUp = BackedUp(backupJob);
  ASSERT_EQ(backedUp.size(), 3u);
  ASSERT_EQ(Node(Source(), "node3").dataCenter, "dc2");
  const auto sourceBefore = NodeFiles(Source());
  const std::vector<std::pair<std::string, std::string>> map = {{"node1", "target-node2"},
                                                                {"node2", "target-node1"}};
  TqRunner::JobResult result = Restore({"/TestCluster/dc1"}, InPlaceOptions(map, kTarget), kTarget);
  ExpectComplete(result);
  // Both keyspaces of dc1's nodes, and nothing of node3's.
  EXPECT_EQ(Live(Cluster(kTarget)), Mapped(backedUp, map));
  EXPECT_EQ(NodeFiles(Source()), sourceBefore);
}

TEST_F(CrossClusterRestore, DeadNodeIsReplacedAndOnlyItLeavesTheInstance) {
  // node4 is the machine that takes the place of node3 once node3 died.
  const int64_t backupJob = BackedUpSource(SmallCluster(4));
  const TableContents backedUp = BackedUp(backupJob);
  const TqHarness::HarnessCluster source = Source();
  const TqHarness::HarnessNode dead = Node(source, "node3");
  std::vector<std::string> deadTokens;
  ASSERT_FALSE(harness_
                   ->EditCluster([&](TqSim::SimCluster& cluster) {
                     TqSim::SimNode* node = cluster.FindNode(dead.address);
                     ASSERT_NE(node, nullptr);
                     node->running = false;
                     node->status = "Down";
                     deadTokens = node->tokens;
                   })
                   .IsError());
  // The new machine starts empty.
  for (const auto& dataDir : Node(source, "node4").dataDirs) {
    std::error_code ec;
    fs::remove_all(dataDir, ec);
    fs::create_directories(dataDir, ec);
  }
  const TableContents othersBefore = [&] {
    TableContents live = Live(source);
    live.erase("node3");
    live.erase("node4");
    return live;
  }();

  App::CassandraRestoreOptions options;
  options.setRecover(1);
  options.setReplaceDeadNode(1);
  options.setStagingLocation(dir_.Sub("stage"));
  TqHarness::SetCrossInstanceMap(options, {{dead, Node(source, "node4")}});
  TqRunner::JobResult result = Restore({"/TestCluster/dc1/node3"}, options, "TestCluster");
  ExpectComplete(result);

  // node4 took over node3's identity: its tokens, and node3 left the ring.
  const TqSim::SimCluster cluster = LoadCluster(source.clusterFile);
  EXPECT_EQ(cluster.nodes.size(), 3u);
  TqSim::SimCluster copy = cluster;
  EXPECT_EQ(copy.FindNode(dead.address), nullptr);
  const TqSim::SimNode* replacement = copy.FindNode(Node(source, "node4").address);
  ASSERT_NE(replacement, nullptr);
  EXPECT_EQ(replacement->tokens, deadTokens);
  EXPECT_TRUE(replacement->running);
  EXPECT_EQ(replacement->status, "Up");
  // It serves node3's backed-up data; the other nodes kept theirs.
  TableContents live = Live(source);
  EXPECT_EQ(live["node4"], backedUp.at("node3"));
  live.erase("node3");
  live.erase("node4");
  EXPECT_EQ(live, othersBefore);
  // Only the replaced node left the instance's node list.
  EXPECT_EQ(StoredNodes(harness_->State().instanceId),
            (std::vector<std::string>{"node1", "node2", "node4"}));
}

// A map entry whose source node is alive cannot replace it: that node stays
// in the instance, and only the dead one leaves.
TEST_F(CrossClusterRestore, ALiveSourceNodeIsNeverRemovedFromTheInstance) {
  BackedUpSource(SmallCluster(4));
  const TqHarness::HarnessCluster source = Source();
  ASSERT_FALSE(harness_
                   ->EditCluster([&](TqSim::SimCluster& cluster) {
                     TqSim::SimNode* node = cluster.FindNode(Node(source, "node3").address);
                     ASSERT_NE(node, nullptr);
                     node->running = false;
                     node->status = "Down";
                   })
                   .IsError());
  App::CassandraRestoreOptions options;
  options.setRecover(1);
  options.setReplaceDeadNode(1);
  options.setStagingLocation(dir_.Sub("stage"));
  // node1 is up: node2 cannot take its place.
  TqHarness::SetCrossInstanceMap(options, {{Node(source, "node3"), Node(source, "node4")},
                                           {Node(source, "node1"), Node(source, "node2")}});
  TqRunner::JobResult result =
      Restore({"/TestCluster/dc1/node3", "/TestCluster/dc1/node1"}, options, "TestCluster");
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_NE(result.status, PHASE_FAILED) << Why(result);
  TqSim::SimCluster cluster = LoadCluster(source.clusterFile);
  EXPECT_EQ(cluster.FindNode(Node(source, "node3").address), nullptr);
  ASSERT_NE(cluster.FindNode(Node(source, "node1").address), nullptr);
  EXPECT_EQ(StoredNodes(harness_->State().instanceId),
            (std::vector<std::string>{"node1", "node2", "node4"}));
}

// Without the ring nothing tells which nodes were replaced: none leaves the
// instance, and the job ends pending.
TEST_F(CrossClusterRestore, AnUnreadableRingRemovesNoNodeAndLeavesTheJobPending) {
  BackedUpSource(SmallCluster(4));
  const TqHarness::HarnessCluster source = Source();
  ASSERT_FALSE(harness_
                   ->EditCluster([&](TqSim::SimCluster& cluster) {
                     TqSim::SimNode* node = cluster.FindNode(Node(source, "node3").address);
                     ASSERT_NE(node, nullptr);
                     node->running = false;
                     node->status = "Down";
                     TqSim::SimFault fault;
                     fault.when = "request";
                     fault.request = "status";
                     fault.action = "fail";
                     cluster.faults.push_back(fault);
                   })
                   .IsError());
  App::CassandraRestoreOptions options;
  options.setRecover(1);
  options.setReplaceDeadNode(1);
  options.setStagingLocation(dir_.Sub("stage"));
  TqHarness::SetCrossInstanceMap(options, {{Node(source, "node3"), Node(source, "node4")}});
  CLogCapture log;
  TqRunner::JobResult result = Restore({"/TestCluster/dc1/node3"}, options, "TestCluster");
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.status, PHASE_COMPLETE_WITH_WARNINGS) << Why(result);
  EXPECT_TRUE(log.Contains("Marking job pending as the replaced nodes could not be removed"));
  EXPECT_EQ(StoredNodes(harness_->State().instanceId),
            (std::vector<std::string>{"node1", "node2", "node3", "node4"}));
}

TqSim::FixtureOptions Dse(int nodes) {
  TqSim::FixtureOptions options = SmallCluster(nodes);
  options.flavour = "dse";
  options.version = "6.8.25";
  return options;
}

// The encrypted tables of a DSE cluster come back on another DSE cluster
// that lacks them: the system key reaches every target node before the
// tables are created (the stand-in, as DSE, refuses an encrypted table whose
// key file or key row is missing), and the data follows.
TEST_F(CrossClusterRestore, DseEncryptedTablesComeBackWithTheirKeysOnAnotherDseCluster) {
  TqSim::FixtureOptions source = Dse(3);
  source.encryptedTablesPerKeyspace = 1;
  const int64_t backupJob = BackedUpSource(source);
  TqSim::FixtureOptions target = Dse(3);
  target.keyspaces = 0;  // none of the backed-up keyspaces and tables
  MakeTarget(target);
  const TableContents backedUp = BackedUp(backupJob);
  ASSERT_EQ(backedUp.size(), 3u);
  const TqSim::SimCluster sourceCluster = LoadCluster(Source().clusterFile);
  const std::string sourceKey = simtest::ReadFile(
      fs::path(Source().nodes.front().confDir).parent_path().string() + "/systemkeys/system_key");
  ASSERT_FALSE(sourceKey.empty());
  std::vector<std::string> targetKeys;
  for (const auto& node : Cluster(kTarget).nodes) {
    targetKeys.push_back(fs::path(node.confDir).parent_path().string() + "/systemkeys/system_key");
    ASSERT_NE(simtest::ReadFile(targetKeys.back()), sourceKey);  // a key of its own
  }
  const auto sourceBefore = NodeFiles(Source());

  const std::vector<std::pair<std::string, std::string>> map = {
      {"node1", "target-node1"}, {"node2", "target-node2"}, {"node3", "target-node3"}};
  TqRunner::JobResult result = Restore({"/TestCluster"}, InPlaceOptions(map, kTarget), kTarget);
  ExpectComplete(result);

  // Every target node holds the backed-up system key, byte for byte.
  for (const auto& path : targetKeys) EXPECT_EQ(simtest::ReadFile(path), sourceKey) << path;
  // One key row per encrypted table, as the source cluster had them, and
  // the encrypted tables exist again, encrypted.
  TqSim::SimCluster restored = LoadCluster(Cluster(kTarget).clusterFile);
  std::set<std::string> expectedRows, rows;
  for (const auto& ks : sourceCluster.keyspaces) {
    for (const auto& table : ks.tables) {
      if (!table.encrypted) continue;
      expectedRows.insert(table.encryption.keyFile + " " + table.encryption.key + " " +
                          table.encryption.cipher + " " +
                          std::to_string(table.encryption.strength) + " " + table.encryption.keyId);
      const TqSim::SimTable* created = restored.FindTable(ks.name, table.name);
      ASSERT_NE(created, nullptr) << ks.name << "." << table.name;
      EXPECT_TRUE(created->encrypted) << ks.name << "." << table.name;
    }
  }
  ASSERT_EQ(expectedRows.size(), 2u);
  for (const auto& row : restored.encryptedEntries) {
    rows.insert(row.value("key_file", "") + " " + row.value("key", "") + " " +
                row.value("cipher", "") + " " + row.value("strength", "") + " " +
                row.value("key_id", ""));
  }
  EXPECT_EQ(rows, expectedRows);
  // The data of every table, encrypted ones included, is served again.
  EXPECT_EQ(Live(Cluster(kTarget)), Mapped(backedUp, map));
  EXPECT_EQ(NodeFiles(Source()), sourceBefore);
}

}  // namespace
}  // namespace e2e
