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
#include "common/RestoreOptionRecords.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimTableDir.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// One SSTable by what it holds: component ("big-Data.db") -> bytes. Two
// SSTables of different generations with the same content compare equal.
using SSTableContent = std::map<std::string, std::string>;
// The SSTables of one table on one node: node -> "ks.table" -> contents.
using TableContents = std::map<std::string, std::map<std::string, std::multiset<SSTableContent>>>;

// "mc-3-big-Data.db" -> "big-Data.db"; "" for a file that is no SSTable
// component (manifest.json, schema.cql).
std::string ComponentOf(const std::string& name) {
  const size_t first = name.find('-');
  if (first == std::string::npos) return "";
  const size_t second = name.find('-', first + 1);
  if (second == std::string::npos) return "";
  const std::string generation = name.substr(first + 1, second - first - 1);
  if (generation.empty() || generation.find_first_not_of("0123456789") != std::string::npos) {
    return "";
  }
  return name.substr(second + 1);
}

std::string PrefixOf(const std::string& name) {
  const size_t second = name.find('-', name.find('-') + 1);
  return name.substr(0, second);
}

// Every regular file below `root` (records of the simulation aside) with its
// content.
std::map<std::string, std::string> FilesWithContent(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) files[it->path().string()] = simtest::ReadFile(it->path().string());
  }
  return files;
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
    App::DistributedAppsRestoreOptions distributed;
    distributed.setCassandraRestoreOptions(options);
    TMMsg::RestoreOptions restore;
    restore.setDistributedAppsRestoreOptions(distributed);
    TMMsg::JobOption job;
    job.setRestoreOptions(restore);
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    request.paths = selection;
    EXPECT_EQ(job.serialize(request.jobOptionsXml), 0);
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
          StoredContent(item);
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
                content[ComponentOf(file)] = simtest::ReadFile(dir.path() + "/" + file);
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
  int64_t BackedUpCluster(std::string& keyspace, std::string& table) {
    MakeCluster();
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
}

}  // namespace
}  // namespace e2e
