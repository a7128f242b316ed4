// Restore jobs of a backup of a generated 3-node cluster through the runner's
// restore phase, as far as the node controllers: every controller reads its
// arguments and start payload, prepares its target (work folder, Priam,
// staging path, also for nodes in containers) and hands the data movers
// restore workers whose extended options say exactly where each node's files
// go.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "E2eFixture.h"
#include "common/RestoreOptionRecords.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/datamover/RestorePlacement.h"
#include "platform/log/LogWriter.h"
#include "sim/lib/SimClusterFile.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using Options = std::vector<std::pair<std::string, std::string>>;

class RestoreNodeSetup : public E2eTest {
 protected:
  // A "restore" job of every node onto itself; `stagingLocation` "" for the
  // default.
  TqRunner::JobResult Restore(bool recover, const std::string& stagingLocation) {
    App::CassandraRestoreOptions options;
    options.setRecover(recover ? 1 : 0);
    options.setSubclientRestore(1);
    options.setStagingLocation(stagingLocation);
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    // A subclient restore selects below the subclient: "/" is all of it.
    request.paths = {"/"};
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    EXPECT_FALSE(request.jobOptionsXml.empty());
    TqRunner::JobResult result;
    CQiError error = harness_->RunRestore(request, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  // The extended options every data mover received, by the client whose
  // stream it ran on.
  static std::map<std::string, std::set<Options>> ReceivedOptions(const CLogCapture& log) {
    std::map<std::string, std::set<Options>> received;
    const std::string marker = " restores with the extended options [";
    for (const auto& line : log.Lines()) {
      const size_t at = line.text.find(marker);
      if (at == std::string::npos || line.text.back() != ']') continue;
      const size_t stream = line.text.find(" stream ");
      if (line.text.rfind("Node ", 0) != 0 || stream == std::string::npos) continue;
      const std::string name = line.text.substr(5, stream - 5);
      const std::string text =
          line.text.substr(at + marker.size(), line.text.size() - at - marker.size() - 1);
      received[name].insert(CExtendedOptions(text).items());
    }
    return received;
  }

  // The "~KEYSPACE~..." text of the cluster's schema in the order the Priam
  // stand-in lists it.
  std::string TableMetaText() {
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(
        TqSim::SimClusterFile(harness_->State().clusterRoot + "/cluster.json").Load(cluster, error))
        << error;
    std::string text;
    for (const auto& ks : cluster.keyspaces) {
      text += "~KEYSPACE~" + ks.name + "~BEGIN~";
      for (const auto& t : ks.tables) {
        std::string id;
        for (char c : t.id) {
          if (c != '-') id += c;
        }
        text += "~TABLEMETA~" + t.name + "~TABLEID~" + id;
      }
    }
    return text;
  }

  // The options each node's data movers received must be `expected` (by
  // node). The data movers run only for restore tasks, which the
  // coordinator's restore preparation makes.
  void ExpectReceivedOptions(
      const TqRunner::JobResult& result, const CLogCapture& log,
      const std::function<Options(const TqHarness::HarnessNode&)>& expected) {
    ASSERT_EQ(result.phases.size(), 1u);
    ASSERT_FALSE(result.phases.front().tasks.empty()) << "no restore task: no data mover ran";
    const auto received = ReceivedOptions(log);
    ASSERT_EQ(received.size(), 3u);
    for (const auto& node : harness_->State().nodes) {
      SCOPED_TRACE(node.name);
      ASSERT_EQ(received.count(node.name), 1u);
      EXPECT_EQ(received.at(node.name), std::set<Options>{expected(node)});
    }
  }

  // Every node controller started and set its target up.
  void ExpectEveryNodePrepared(const TqRunner::JobResult& result, const CLogCapture& log) {
    ASSERT_EQ(result.phases.size(), 1u);
    const TqRunner::PhaseResult& phase = result.phases.front();
    EXPECT_NE(phase.endReason, "start failed") << phase.message;
    std::vector<std::string> names;
    for (const auto& node : phase.nodes) names.push_back(node.clientName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"node1", "node2", "node3"}));
    int optionLines = 0;
    for (const auto& line : log.Lines()) {
      if (line.text.rfind("Options: Recover [", 0) == 0) ++optionLines;
    }
    EXPECT_EQ(optionLines, 3);
    for (const auto& node : harness_->State().nodes) {
      // The target's Priam works in its folder of the restore results.
      const std::string work = harness_->JobResultsOf(node.name, result.jobId) +
                               "/TQ_JobResults/2/0/" + std::to_string(result.jobId) + "/" +
                               node.name;
      EXPECT_TRUE(fs::is_directory(work)) << work;
    }
    EXPECT_FALSE(log.Contains("Failed to create access node map for cassandra"));
  }
};

TEST_F(RestoreNodeSetup, InPlaceRestoreTellsEveryDataMoverItsDataDirectoryAndTables) {
  MakeCluster();
  TqRunner::JobResult backup = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(backup.Completed());
  CLogCapture log;
  TqRunner::JobResult result = Restore(true, dir_.Sub("stage"));
  ExpectEveryNodePrepared(result, log);
  // Every target's Priam started with its first data directory as storage
  // folder; none outlives the job (checked at the end of every test).
  for (const auto& node : harness_->State().nodes) {
    EXPECT_TRUE(log.Contains("  -Dcassandra.storagedir=" + node.dataDirs.front() +
                             " -Dcassandra-rackdc.properties=file://" + node.confDir +
                             "/cassandra-rackdc.properties -Dcassandra.config=file://" +
                             node.confDir + "/cassandra.yaml "))
        << node.name;
  }
  const std::string meta = TableMetaText();
  ExpectReceivedOptions(result, log, [&meta](const TqHarness::HarnessNode& node) {
    return Options{
        {"CassandraRestore", "1"},
        {"CassandraRestoreDataDirectory", node.name + ":" + node.dataDirs.front() + "##"},
        {"CassandraMeta", meta}};
  });
}

TEST_F(RestoreNodeSetup, StagedRestoreTellsEveryDataMoverItsStagingFolder) {
  MakeCluster();
  TqRunner::JobResult backup = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(backup.Completed());
  const int64_t jobId = harness_->State().nextJobId;
  const std::string stagePath = dir_.Sub("stage area") + "/" + std::to_string(jobId);
  CLogCapture log;
  TqRunner::JobResult result = Restore(false, dir_.Sub("stage area"));
  ASSERT_EQ(result.jobId, jobId);
  ExpectEveryNodePrepared(result, log);
  // Without recover no Priam starts.
  EXPECT_FALSE(log.Contains("  -Dcassandra.storagedir="));
  ExpectReceivedOptions(result, log, [&stagePath](const TqHarness::HarnessNode& node) {
    return Options{{"CassandraStagedRestore", "1"},
                   {"CassandraStagedRestoreStagingLoc", node.name + ":" + stagePath + "##"}};
  });
}

TEST_F(RestoreNodeSetup, NodesInContainersStageWhereTheHostSeesTheirStagingFolder) {
  TqSim::FixtureOptions options = SmallCluster();
  options.docker = true;
  MakeCluster(options);
  TqRunner::JobResult backup = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(backup.Completed());
  const int64_t jobId = harness_->State().nextJobId;
  CLogCapture log;
  TqRunner::JobResult result = Restore(false, "/var/lib/cassandra/restage");
  ExpectEveryNodePrepared(result, log);
  // The container mounts the node's folder at /var/lib/cassandra.
  auto hostStaging = [jobId](const TqHarness::HarnessNode& node) {
    return fs::path(node.confDir).parent_path().string() + "/restage/" + std::to_string(jobId);
  };
  for (const auto& node : harness_->State().nodes) {
    EXPECT_TRUE(log.Contains("Commit log restore location /var/lib/cassandra/restage/" +
                             std::to_string(jobId) + " on container maps to " + hostStaging(node) +
                             " on host"))
        << node.name;
  }
  ExpectReceivedOptions(result, log, [&hostStaging](const TqHarness::HarnessNode& node) {
    return Options{
        {"CassandraStagedRestore", "1"},
        {"CassandraStagedRestoreStagingLoc", node.name + ":" + hostStaging(node) + "##"}};
  });
}

}  // namespace
}  // namespace e2e
