// Whole restore jobs of a real backup of a generated 3-node cluster through
// the plug-in's restore phase, judged by what the simulated Cassandra serves
// afterwards: in place with truncation after new writes and lost data,
// staged into a folder, and loaded with sstableloader; and the runs that must
// not end as a success (a failed refresh, a failed load, the quit flag).

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "E2eFixture.h"
#include "SSTableContents.h"
#include "common/RestoreOptionRecords.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimTableDir.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// The pending causes of a job, for a failure message.
std::string CausesOf(const TqRunner::JobResult& result) {
  std::string text;
  for (const auto& cause : result.pendingCauses) {
    char id[16];
    snprintf(id, sizeof id, "0x%X", cause.id);
    text += std::string(id) + " " + cause.client + ";";
  }
  return text;
}

class RestoreEndToEnd : public E2eTest {
 protected:
  struct Mode {
    bool recover = true;
    bool loader = false;
    bool truncate = true;
    std::string staging;
  };

  TqSim::SimCluster Cluster() {
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(harness_->State().clusterFile).Load(cluster, error)) << error;
    return cluster;
  }

  // The spec of a subclient restore of `selection` ("/<keyspace>", ...).
  TqRunner::JobSpec RestoreSpec(const Mode& mode, const std::vector<std::string>& selection) {
    App::CassandraRestoreOptions options;
    options.setRecover(mode.recover ? 1 : 0);
    options.setUseSSTableLoader(mode.loader ? 1 : 0);
    options.setTruncateTables(mode.truncate ? 1 : 0);
    options.setSubclientRestore(1);
    options.setStagingLocation(mode.staging.empty() ? dir_.Sub("stage") : mode.staging);
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    request.paths = selection;
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    EXPECT_FALSE(request.jobOptionsXml.empty());
    TqRunner::JobSpec spec;
    CQiError error = harness_->MakeRestoreSpec(request, spec);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return spec;
  }

  TqRunner::JobResult Run(TqRunner::JobSpec spec) {
    TqRunner::JobResult result;
    CQiError error = harness_->Run(spec, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  // The SSTables of `jobId`'s store by node and table: what a restore of
  // that backup brings back.
  TableContents BackedUp(int64_t jobId, const std::string& keyspace) {
    std::map<std::string, std::map<std::string, std::map<std::string, SSTableContent>>> byPrefix;
    for (const auto& entry : StoredFiles(jobId)) {
      const SStoredItem& item = entry.second;
      // /<cluster>/<dc>/<node>/<ks>/<table>/<file>
      std::vector<std::string> parts;
      for (const auto& part : fs::path(item.headerPath)) parts.push_back(part.string());
      if (parts.size() != 7 || parts[4] != keyspace) continue;
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

  // What the cluster serves of `keyspace`: the live SSTables of every node.
  TableContents Live(const std::string& keyspace) {
    const TqSim::SimCluster cluster = Cluster();
    const std::string format = TqSim::SimTableDir::FormatForVersion(cluster.version);
    TableContents contents;
    for (const auto& node : harness_->State().nodes) {
      for (const auto& ks : cluster.keyspaces) {
        if (ks.name != keyspace) continue;
        for (const auto& table : ks.tables) {
          auto& set = contents[node.name][ks.name + "." + table.name];
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
          if (set.empty()) contents[node.name].erase(ks.name + "." + table.name);
        }
      }
    }
    return contents;
  }

  // Removes the live SSTables of `keyspace`.`table` on `nodes`: data lost.
  void Damage(const std::string& keyspace, const std::string& table,
              const std::set<std::string>& nodes) {
    const TqSim::SimCluster cluster = Cluster();
    const TqSim::SimTable* found = nullptr;
    for (const auto& ks : cluster.keyspaces) {
      for (const auto& t : ks.tables) {
        if (ks.name == keyspace && t.name == table) found = &t;
      }
    }
    ASSERT_NE(found, nullptr);
    for (const auto& node : harness_->State().nodes) {
      if (!nodes.count(node.name)) continue;
      for (const auto& dataDir : node.dataDirs) {
        TqSim::SimTableDir dir(dataDir + "/" + keyspace + "/" + TqSim::TableDirName(*found),
                               TqSim::SimTableDir::FormatForVersion(cluster.version));
        std::string error;
        ASSERT_TRUE(dir.RemoveLive(error)) << error;
      }
    }
  }

  // Every file of the cluster's data directories below keyspaces other than
  // `keyspace`.
  std::map<std::string, std::string> OtherKeyspaces(const std::string& keyspace) {
    std::map<std::string, std::string> files;
    for (const auto& node : harness_->State().nodes) {
      for (const auto& dataDir : node.dataDirs) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dataDir, ec)) {
          if (entry.path().filename() == keyspace) continue;
          auto below = FilesWithContent(entry.path().string());
          files.insert(below.begin(), below.end());
        }
      }
    }
    return files;
  }

  // A full backup of a fresh cluster; `keyspace` gets the first keyspace.
  int64_t BackedUpCluster(std::string& keyspace, std::string& table,
                          const TqSim::FixtureOptions& options = SmallCluster()) {
    MakeCluster(options);
    TqRunner::JobResult full = Backup(TQBkpLevel_Full);
    EXPECT_TRUE(full.Completed());
    const TqSim::SimCluster cluster = Cluster();
    keyspace = cluster.keyspaces.front().name;
    table = cluster.keyspaces.front().tables.front().name;
    return full.jobId;
  }
};

TEST_F(RestoreEndToEnd, InPlaceWithTruncationServesExactlyTheBackupAfterNewWritesAndLostData) {
  std::string keyspace, table;
  const int64_t backupJob = BackedUpCluster(keyspace, table);
  const TableContents backedUp = BackedUp(backupJob, keyspace);
  ASSERT_EQ(backedUp.size(), 3u);

  // New writes flushed everywhere, then one table lost on two nodes.
  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(1, 512, added).IsError());
  ASSERT_GT(added, 0);
  Damage(keyspace, table, {"node1", "node3"});
  ASSERT_NE(Live(keyspace), backedUp);
  const auto others = OtherKeyspaces(keyspace);
  ASSERT_FALSE(others.empty());

  CLogCapture log;
  TqRunner::JobResult result = Run(RestoreSpec(Mode(), {"/" + keyspace}));
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[0].message;
  EXPECT_EQ(result.phases[0].endReason, "complete") << result.phases[0].message;
  EXPECT_FALSE(result.phases[0].tasks.empty());
  // Cassandra serves exactly the backed-up SSTables of every restored table
  // on every node, whatever generations they were given.
  EXPECT_EQ(Live(keyspace), backedUp);
  // The keyspace that was not selected is untouched, new SSTables included.
  EXPECT_EQ(OtherKeyspaces(keyspace), others);
  // Nothing is left pending: the restored files were given to the user the
  // nodes run as, on a machine that may have no "cassandra" user.
  EXPECT_TRUE(result.pendingCauses.empty()) << CausesOf(result);
}

// Cassandra takes quoted identifiers: a table of the restored keyspace whose
// name holds quotes and another keyspace's name is truncated and restored as
// itself, and every table of the other keyspace keeps its files.
TEST_F(RestoreEndToEnd, ATableNamedLikeAnotherKeyspacesTableTruncatesOnlyItself) {
  const std::string hostile = "t1\",\"keyspace\":\"ks2";
  TqSim::FixtureOptions options = SmallCluster();
  options.quotedTables = {hostile};
  std::string keyspace, table;
  const int64_t backupJob = BackedUpCluster(keyspace, table, options);
  ASSERT_EQ(keyspace, "ks1");
  const TableContents backedUp = BackedUp(backupJob, keyspace);
  for (const auto& node : backedUp) {
    EXPECT_EQ(node.second.count("ks1." + hostile), 1u) << node.first;
  }

  // New SSTables in every table of both keyspaces.
  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(1, 256, added).IsError());
  ASSERT_GT(added, 0);
  ASSERT_NE(Live(keyspace), backedUp);
  const auto others = OtherKeyspaces(keyspace);
  ASSERT_FALSE(others.empty());

  TqRunner::JobResult result = Run(RestoreSpec(Mode(), {"/" + keyspace}));
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[0].message;
  // The quoted table was truncated too: it serves exactly the backup.
  EXPECT_EQ(Live(keyspace), backedUp);
  EXPECT_EQ(OtherKeyspaces(keyspace), others);
}

// A user restores the same tables twice: the second restore finds the first
// one's files in the live table folders (SSTables and the snapshot's
// manifest.json and schema.cql) and still ends with exactly the backup.
TEST_F(RestoreEndToEnd, InPlaceRestoredTwiceServesExactlyTheBackup) {
  std::string keyspace, table;
  const int64_t backupJob = BackedUpCluster(keyspace, table);
  const TableContents backedUp = BackedUp(backupJob, keyspace);
  Damage(keyspace, table, {"node2"});
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("restore " + std::to_string(run));
    if (run == 2) {
      int added = 0;
      ASSERT_FALSE(harness_->ChangeData(1, 256, added).IsError());
    }
    TqRunner::JobResult result = Run(RestoreSpec(Mode(), {"/" + keyspace}));
    ASSERT_EQ(result.phases.size(), 1u);
    EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[0].message;
    EXPECT_TRUE(result.pendingCauses.empty()) << CausesOf(result);
    EXPECT_EQ(Live(keyspace), backedUp);
  }
}

// The SSTable components below `root` as a multiset of (component, bytes),
// whatever folders and generations they were given.
std::multiset<std::pair<std::string, std::string>> ComponentsBelow(const std::string& root) {
  std::multiset<std::pair<std::string, std::string>> out;
  for (const auto& file : FilesWithContent(root)) {
    const std::string component = ComponentOf(fs::path(file.first).filename().string());
    if (!component.empty()) out.insert({component, file.second});
  }
  return out;
}

std::multiset<std::pair<std::string, std::string>> Flatten(const TableContents& contents) {
  std::multiset<std::pair<std::string, std::string>> out;
  for (const auto& node : contents) {
    for (const auto& table : node.second) {
      for (const auto& sstable : table.second) {
        for (const auto& component : sstable) out.insert(component);
      }
    }
  }
  return out;
}

// Nodes in containers: each stages into its own folder on the host (the
// container's /var/lib/cassandra), as separate machines would, instead of
// sharing one staging folder on this machine.
TqSim::FixtureOptions InContainers() {
  TqSim::FixtureOptions options = SmallCluster();
  options.docker = true;
  return options;
}

constexpr const char* kContainerStaging = "/var/lib/cassandra/restage";

std::string HostStaging(const TqHarness::HarnessNode& node, int64_t jobId) {
  return fs::path(node.confDir).parent_path().string() + "/restage/" + std::to_string(jobId);
}

TableContents OfNode(const TableContents& contents, const std::string& node) {
  TableContents one;
  if (contents.count(node)) one[node] = contents.at(node);
  return one;
}

TEST_F(RestoreEndToEnd, StagedRestoreLeavesExactlyTheBackedUpFilesInEachStagingFolder) {
  std::string keyspace, table;
  const int64_t backupJob = BackedUpCluster(keyspace, table, InContainers());
  const TableContents backedUp = BackedUp(backupJob, keyspace);
  const TableContents liveBefore = Live(keyspace);
  Mode staged;
  staged.recover = false;
  staged.staging = kContainerStaging;
  TqRunner::JobSpec spec = RestoreSpec(staged, {"/" + keyspace});
  TqRunner::JobResult result = Run(spec);
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[0].message;
  for (const auto& node : harness_->State().nodes) {
    SCOPED_TRACE(node.name);
    EXPECT_FALSE(OfNode(backedUp, node.name).empty());
    EXPECT_EQ(ComponentsBelow(HostStaging(node, spec.jobId)), Flatten(OfNode(backedUp, node.name)));
  }
  // Nothing was loaded into the cluster.
  EXPECT_EQ(Live(keyspace), liveBefore);
}

// Nodes on one machine stage into one folder: SSTables of the same
// generation from different nodes must all be kept, under distinct names.
TEST_F(RestoreEndToEnd, NodesSharingOneStagingFolderKeepEveryNodesFiles) {
  std::string keyspace, table;
  const int64_t backupJob = BackedUpCluster(keyspace, table);
  const TableContents backedUp = BackedUp(backupJob, keyspace);
  Mode staged;
  staged.recover = false;
  TqRunner::JobSpec spec = RestoreSpec(staged, {"/" + keyspace});
  TqRunner::JobResult result = Run(spec);
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[0].message;
  const std::string staging = dir_.Sub("stage") + "/" + std::to_string(spec.jobId);
  EXPECT_EQ(ComponentsBelow(staging), Flatten(backedUp));
  // Each node's files stay apart, the snapshot's records (manifest.json,
  // schema.cql) of every node and table included.
  for (const auto& node : harness_->State().nodes) {
    SCOPED_TRACE(node.name);
    EXPECT_EQ(ComponentsBelow(staging + "/" + node.name), Flatten(OfNode(backedUp, node.name)));
    std::set<std::string> records, expected;
    for (const auto& file : FilesWithContent(staging + "/" + node.name)) {
      const std::string name = fs::path(file.first).filename().string();
      if (ComponentOf(name).empty()) records.insert(file.first);
    }
    for (const auto& entry : StoredFiles(backupJob)) {
      std::vector<std::string> parts;  // "/", cluster, dc, node, ks, table, file
      for (const auto& part : fs::path(entry.second.headerPath)) parts.push_back(part.string());
      if (parts.size() != 7 || parts[3] != node.name || parts[4] != keyspace) continue;
      if (!ComponentOf(parts[6]).empty()) continue;
      expected.insert(staging + "/" + node.name + "/" + parts[4] + "/" + parts[5] + "/" + parts[6]);
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(records, expected);
  }
}

struct LoaderCase {
  const char* name;
  const char* keep;  // "Cassandra"/"nKeepCassandraStagingPath", "" unset
  bool stagingKept;
  // Nodes on this machine sharing one staging folder, instead of nodes in
  // containers each staging on its own.
  bool oneMachine;
};

class RestoreWithLoader : public RestoreEndToEnd,
                          public ::testing::WithParamInterface<LoaderCase> {};

TEST_P(RestoreWithLoader, EveryBackedUpSSTableIsLiveOnEveryNodeAndStagingGoesUnlessKept) {
  const LoaderCase& c = GetParam();
  if (*c.keep) CRegistry::Instance().Set("Cassandra", "nKeepCassandraStagingPath", c.keep);
  std::string keyspace, table;
  const int64_t backupJob =
      BackedUpCluster(keyspace, table, c.oneMachine ? SmallCluster() : InContainers());
  const TableContents backedUp = BackedUp(backupJob, keyspace);
  Damage(keyspace, table, {"node1", "node2", "node3"});
  Mode loader;
  loader.loader = true;
  loader.truncate = false;
  loader.staging = c.oneMachine ? dir_.Sub("stage") : kContainerStaging;
  TqRunner::JobSpec spec = RestoreSpec(loader, {"/" + keyspace});
  TqRunner::JobResult result = Run(spec);
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[0].message;
  EXPECT_TRUE(result.pendingCauses.empty()) << CausesOf(result);
  // The loader streams every SSTable to every node holding the keyspace:
  // each node serves every backed-up SSTable of every node.
  std::map<std::string, std::multiset<SSTableContent>> everyNode;
  for (const auto& node : backedUp) {
    for (const auto& t : node.second) everyNode[t.first].insert(t.second.begin(), t.second.end());
  }
  const TableContents live = Live(keyspace);
  for (const auto& node : harness_->State().nodes) {
    SCOPED_TRACE(node.name);
    ASSERT_EQ(live.count(node.name), 1u);
    for (const auto& t : everyNode) {
      ASSERT_EQ(live.at(node.name).count(t.first), 1u) << t.first;
      const auto& served = live.at(node.name).at(t.first);
      for (const auto& sstable : t.second) {
        EXPECT_GE(served.count(sstable), t.second.count(sstable)) << t.first;
      }
    }
    // The lost table holds what was loaded, each SSTable once: no node loaded
    // another node's files as well.
    const std::string lost = keyspace + "." + table;
    EXPECT_EQ(live.at(node.name).at(lost), everyNode.at(lost));
  }
  for (const auto& node : harness_->State().nodes) {
    SCOPED_TRACE(node.name);
    const auto staged = ComponentsBelow(
        c.oneMachine ? dir_.Sub("stage") + "/" + std::to_string(spec.jobId) + "/" + node.name
                     : HostStaging(node, spec.jobId));
    if (c.stagingKept) {
      EXPECT_EQ(staged, Flatten(OfNode(backedUp, node.name)));
    } else {
      EXPECT_TRUE(staged.empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Staging, RestoreWithLoader,
                         ::testing::Values(LoaderCase{"Removed", "", false, false},
                                           LoaderCase{"Kept", "1", true, false},
                                           LoaderCase{"OneMachineRemoved", "", false, true},
                                           LoaderCase{"OneMachineKept", "1", true, true}),
                         [](const ::testing::TestParamInfo<LoaderCase>& info) {
                           return std::string(info.param.name);
                         });

struct FailedReloadCase {
  const char* name;
  const char* request;  // the Priam request that fails
  bool loader;
};

class FailedReload : public RestoreEndToEnd,
                     public ::testing::WithParamInterface<FailedReloadCase> {};

TEST_P(FailedReload, LeavesTheJobPendingWithTheReloadCause) {
  const FailedReloadCase& c = GetParam();
  std::string keyspace, table;
  BackedUpCluster(keyspace, table);
  ASSERT_FALSE(harness_
                   ->EditCluster([&c](TqSim::SimCluster& cluster) {
                     TqSim::SimFault fault;
                     fault.when = "request";
                     fault.request = c.request;
                     fault.action = "fail";
                     fault.text = "injected";
                     cluster.faults.push_back(fault);
                   })
                   .IsError());
  Mode mode;
  mode.loader = c.loader;
  mode.truncate = false;
  TqRunner::JobResult result = Run(RestoreSpec(mode, {"/" + keyspace}));
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.phases[0].endReason, "complete") << result.phases[0].message;
  // Pending, never a success.
  EXPECT_EQ(result.status, PHASE_COMPLETE_WITH_WARNINGS) << result.phases[0].message;
  int reloadCauses = 0;
  for (const auto& cause : result.pendingCauses) reloadCauses += cause.id == 0x6000472;
  EXPECT_GT(reloadCauses, 0);
}

INSTANTIATE_TEST_SUITE_P(Reload, FailedReload,
                         ::testing::Values(FailedReloadCase{"Refresh", "refresh", false},
                                           FailedReloadCase{"Loader", "ExecuteBatch", true}),
                         [](const ::testing::TestParamInfo<FailedReloadCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(RestoreEndToEnd, QuitFlagFailsThePhaseWithItsText) {
  std::string keyspace, table;
  BackedUpCluster(keyspace, table);
  TqRunner::JobSpec spec = RestoreSpec(Mode(), {"/" + keyspace});
  TQJobCtrlClientPtr quit(new TQJobCtrlClient(spec.jobId));
  spec.jobCtrlClient = quit;
  spec.restoreWriteHook = [quit](const std::string&, int, const std::string&, uint64_t) {
    quit->setQuitFlag(true);
    return CQiError::Success();
  };
  TqRunner::JobResult result = Run(spec);
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.phases[0].endReason, "quit");
  EXPECT_EQ(result.phases[0].message, "The job was asked to stop");
  EXPECT_EQ(result.status, PHASE_FAILED);
  // Every node stopped; no Priam outlives the job (checked after each test).
  for (const auto& node : result.phases[0].nodes) {
    EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED) << node.clientName;
  }
}

}  // namespace
}  // namespace e2e
