// Restores to a point in time of a generated 3-node cluster in containers
// (two data centres, so two seed nodes) whose commit logs were backed up
// twice after a full backup: the data restore, then the commit-log phase
// that stages the archived segments, edits every node's restore settings
// and restarts the nodes one at a time through the node utility. Judged by
// what each node's tables replayed, the order of the restarts, the settings
// left on the nodes and the job's outcome.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "E2eFixture.h"
#include "JobChecks.h"
#include "common/RestoreOptionRecords.h"
#include "platform/base/SleepRecorder.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimCommitLog.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimLogReplay.h"
#include "tools/lib/ReplayCheck.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

using TqSim::SimMutation;

constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;
constexpr uint32_t kEvCommitLogReplayFailed = 0x600046B;
constexpr uint32_t kEvCommitLogConfigFailed = 0x600046A;

// node -> "ks.table" -> values, sorted.
using Writes = std::map<std::string, std::map<std::string, std::vector<std::string>>>;

class PointInTimeRestore : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    TqSim::FixtureOptions options = SmallCluster();
    options.docker = true;
    options.dataCenters = 2;  // node1, node2 in dc1; node3 in dc2: seeds node1 and node3
    options.commitLogSegments = 1;
    ASSERT_FALSE(harness_->CreateCluster(options).IsError());
    TqHarness::RegisterOptions registration;
    registration.commitLogBackup = true;
    CQiError error = harness_->Register(registration);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    for (const auto& node : harness_->State().nodes) {
      for (const auto& name : TqSim::ListDir(node.commitLogArchiveDir)) {
        std::vector<SimMutation> mutations;
        std::string text;
        ASSERT_TRUE(TqSim::SimCommitLog::ReadSegment(node.commitLogArchiveDir + "/" + name,
                                                     mutations, text))
            << text;
        for (const auto& m : mutations) fixtureWrites_[node.name].push_back(m);
      }
    }
    ASSERT_FALSE(fixtureWrites_.empty());
  }

  std::vector<std::string> Tables() {
    TqSim::SimCluster cluster;
    std::string error;
    EXPECT_TRUE(TqSim::SimClusterFile(harness_->State().clusterFile).Load(cluster, error));
    std::vector<std::string> tables;
    for (const auto& ks : cluster.keyspaces) {
      for (const auto& t : ks.tables) tables.push_back(ks.name + "." + t.name);
    }
    return tables;
  }

  // One write of every table on every node at each of `offsets` (in
  // microseconds from the point in time), named "<node>-<tag><i>".
  std::map<std::string, std::vector<SimMutation>> WritesAround(
      const std::string& tag, const std::vector<int64_t>& offsets) {
    std::map<std::string, std::vector<SimMutation>> byNode;
    for (const auto& node : harness_->State().nodes) {
      for (size_t i = 0; i < offsets.size(); ++i) {
        for (const auto& table : Tables()) {
          SimMutation m;
          m.timestampMicros = pointMicros() + offsets[i];
          m.table = table;
          m.value = node.name + "-" + tag + std::to_string(i);
          byNode[node.name].push_back(m);
        }
      }
    }
    return byNode;
  }
  int64_t pointMicros() const { return point_ * 1000000; }

  void ArchiveAndBackUp(const std::map<std::string, std::vector<SimMutation>>& writes) {
    std::vector<std::string> segments;
    CQiError error = TqHarness::CReplayCheck::ArchiveSegments(harness_->State(), writes, segments);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    ASSERT_EQ(segments.size(), 3u);
    TqHarness::BackupRequest request;
    request.commitLog = true;
    TqRunner::JobResult job;
    error = harness_->RunBackup(request, job);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    ASSERT_TRUE(job.Completed()) << TqRunner::PhaseStatusName(job.status);
  }

  // A full backup, commit logs before the point in time, the point, and
  // commit logs around it: written before it and backed up after it, and
  // written after it.
  void BackUpAroundThePoint() {
    ASSERT_TRUE(Backup(TQBkpLevel_Full).Completed());
    backupJob_ = harness_->State().nextJobId - 1;
    point_ = static_cast<int64_t>(std::time(nullptr)) + 1;
    ArchiveAndBackUp(WritesAround("a", {-5000000}));
    ArchiveAndBackUp(WritesAround("b", {-1, 999, 1000, 60000000}));
  }

  TqRunner::JobResult RestoreToThePoint(const std::vector<std::string>& selection = {"/"}) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setSubclientRestore(1);
    options.setTruncateTables(0);
    options.setStagingLocation("/var/lib/cassandra/stage");
    TqHarness::RestoreRequest request;
    request.phases = {"restore", "CassandraLogRestore"};
    request.paths = selection;
    request.toTime = point_;
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    TqRunner::JobSpec spec;
    CQiError error = harness_->MakeRestoreSpec(request, spec);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    restoreJob_ = spec.jobId;
    for (const auto& node : harness_->State().nodes) {
      settingsBefore_[node.name] = Settings(node);
    }
    TqRunner::JobResult result;
    error = harness_->Run(spec, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  // The restore settings of a node: its two files and any ".bkp" copy.
  static std::string Settings(const TqHarness::HarnessNode& node) {
    std::string text;
    for (const char* name : {"commitlog_archiving.properties", "cassandra-env.sh"}) {
      text += simtest::ReadFile(node.confDir + "/" + name) + "\n--\n";
    }
    for (const auto& name : TqSim::ListDir(node.confDir)) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bkp") == 0) text += name + "\n";
    }
    return text;
  }

  // What each node's tables replayed in the restore job.
  Writes Replayed() {
    std::map<std::string, std::vector<SimMutation>> byNode;
    CQiError error = TqHarness::CReplayCheck::Replayed(harness_->State(), restoreJob_, byNode);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    Writes writes;
    for (const auto& node : byNode) {
      for (const auto& m : node.second) writes[node.first][m.table].push_back(m.value);
    }
    for (auto& node : writes) {
      for (auto& table : node.second) std::sort(table.second.begin(), table.second.end());
    }
    return writes;
  }

  // Every write up to the point of the commit logs backed up after the data
  // backup: the fixture's segment, "a0", and of "b" the write a microsecond
  // before the point and the one in the point's last millisecond.
  // Only tables of `keyspace` when one is named.
  Writes ExpectedOn(const std::set<std::string>& nodes, const std::string& keyspace = "") {
    auto restored = [&keyspace](const std::string& table) {
      return keyspace.empty() || table.rfind(keyspace + ".", 0) == 0;
    };
    Writes writes;
    for (const auto& node : harness_->State().nodes) {
      if (!nodes.count(node.name)) continue;
      for (const auto& m : fixtureWrites_[node.name]) {
        if (restored(m.table)) writes[node.name][m.table].push_back(m.value);
      }
      for (const auto& table : Tables()) {
        if (!restored(table)) continue;
        for (const char* tag : {"-a0", "-b0", "-b1"}) {
          writes[node.name][table].push_back(node.name + tag);
        }
      }
    }
    for (auto& node : writes) {
      for (auto& table : node.second) std::sort(table.second.begin(), table.second.end());
    }
    return writes;
  }

  // "<address> <outcome>" of the utility's runs in the restore job, in order.
  std::vector<std::string> Restarts() {
    std::istringstream in(
        simtest::ReadFile(harness_->State().clusterRoot + "/" + TqSim::SimLogReplay::kRestartsLog));
    std::vector<std::string> restarts;
    std::string job, address, outcome;
    while (in >> job >> address >> outcome) {
      if (job == std::to_string(restoreJob_)) restarts.push_back(address + " " + outcome);
    }
    return restarts;
  }

  void ExpectSettingsPutBack() {
    for (const auto& node : harness_->State().nodes) {
      EXPECT_EQ(Settings(node), settingsBefore_[node.name]) << node.name;
    }
  }

  static int Count(const std::vector<uint32_t>& sleeps, uint32_t milliseconds) {
    return static_cast<int>(std::count(sleeps.begin(), sleeps.end(), milliseconds));
  }

  std::map<std::string, std::vector<SimMutation>> fixtureWrites_;
  std::map<std::string, std::string> settingsBefore_;
  int64_t backupJob_ = 0;
  int64_t restoreJob_ = 0;
  int64_t point_ = 0;
};

TEST_F(PointInTimeRestore, EveryTableReplaysExactlyTheWritesUpToThePointSeedNodesFirst) {
  BackUpAroundThePoint();
  CSleepRecorder sleeps;
  TqRunner::JobResult result = RestoreToThePoint();
  ASSERT_EQ(result.phases.size(), 2u);
  EXPECT_EQ(result.phases[1].name, "CassandraLogRestore");
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[1].message;
  // No commit-log settings failed, no replay failed, every node restarted.
  for (const auto& cause : result.pendingCauses) {
    EXPECT_NE(cause.id, kEvCommitLogReplayFailed);
    EXPECT_NE(cause.id, kEvCommitLogConfigFailed);
  }
  EXPECT_TRUE(EventsWith(result, kEvNodeNotRestarted).empty());

  EXPECT_EQ(Replayed(), ExpectedOn({"node1", "node2", "node3"}));
  // Seeds first (node1, node3), then node2, each once.
  EXPECT_EQ(Restarts(), (std::vector<std::string>{"10.0.1.1 up", "10.0.2.1 up", "10.0.1.2 up"}));
  ExpectSettingsPutBack();
  // One minute after each node's restart, before its report is read; every
  // node was Up at its first check.
  EXPECT_EQ(Count(sleeps.Sleeps(), 60000), 3);
  EXPECT_EQ(Count(sleeps.Sleeps(), TqSim::SimLogReplay::kStatusWaitSeconds * 1000), 0);
  EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());

  // The harness's own check agrees, and a later start of a node replays
  // nothing again.
  TqHarness::ReplayRequest request;
  request.restoreJob = restoreJob_;
  request.backupJob = backupJob_;
  request.toTime = point_;
  TqHarness::ReplayReport report;
  ASSERT_FALSE(
      TqHarness::CReplayCheck::Check(harness_->SuiteHome(), harness_->State(), request, report)
          .IsError());
  EXPECT_TRUE(report.Ok()) << report.problems.front().text;
  EXPECT_EQ(report.segments, 9);
}

TEST_F(PointInTimeRestore, ANodeNeverUpLeavesTheJobPendingWhileTheOthersAreRestarted) {
  BackUpAroundThePoint();
  ASSERT_FALSE(harness_
                   ->EditCluster([](TqSim::SimCluster& cluster) {
                     TqSim::SimFault fault;
                     fault.when = "utility";
                     fault.request = TqSim::SimLogReplay::kMode;
                     fault.node = "10.0.1.2";
                     fault.action = "never_up";
                     cluster.faults.push_back(fault);
                   })
                   .IsError());
  CSleepRecorder sleeps;
  TqRunner::JobResult result = RestoreToThePoint();
  ASSERT_EQ(result.phases.size(), 2u);
  // Pending, never a success.
  EXPECT_EQ(result.status, PHASE_COMPLETE_WITH_WARNINGS) << result.phases[1].message;
  int causes = 0;
  for (const auto& cause : result.pendingCauses) causes += cause.id == kEvCommitLogReplayFailed;
  EXPECT_EQ(causes, 1);
  EXPECT_EQ(EventsWith(result, kEvNodeNotRestarted).size(), 1u);

  // node3 was restarted after node2 failed, and both others replayed.
  EXPECT_EQ(Restarts(),
            (std::vector<std::string>{"10.0.1.1 up", "10.0.2.1 up", "10.0.1.2 never_up"}));
  Writes replayed = Replayed();
  replayed.erase("node2");
  EXPECT_EQ(replayed, ExpectedOn({"node1", "node3"}));
  ExpectSettingsPutBack();
  // Six status checks of node2, five waits of the seconds its utility asked.
  EXPECT_EQ(Count(sleeps.Sleeps(), 60000), 3);
  EXPECT_EQ(Count(sleeps.Sleeps(), TqSim::SimLogReplay::kStatusWaitSeconds * 1000), 5);
  EXPECT_TRUE(simtest::ChildrenOf(::getpid()).empty());
}

// One keyspace restored: only its tables replay, on every node.
TEST_F(PointInTimeRestore, AKeyspaceSelectionReplaysOnlyItsTables) {
  BackUpAroundThePoint();
  CSleepRecorder sleeps;
  TqRunner::JobResult result = RestoreToThePoint({"/ks2"});
  ASSERT_EQ(result.phases.size(), 2u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[1].message;
  EXPECT_EQ(Replayed(), ExpectedOn({"node1", "node2", "node3"}, "ks2"));
  EXPECT_EQ(Restarts(), (std::vector<std::string>{"10.0.1.1 up", "10.0.2.1 up", "10.0.1.2 up"}));
  ExpectSettingsPutBack();
}

// A node that joins the ring only after some status checks is waited for:
// its checks come the seconds its utility asked apart, and the job
// completes.
TEST_F(PointInTimeRestore, ANodeUpAfterSomeChecksIsWaitedFor) {
  BackUpAroundThePoint();
  ASSERT_FALSE(harness_
                   ->EditCluster([](TqSim::SimCluster& cluster) {
                     TqSim::SimFault fault;
                     fault.when = "utility";
                     fault.request = TqSim::SimLogReplay::kMode;
                     fault.node = "10.0.2.1";
                     fault.action = "up_after";
                     fault.status = 3;
                     cluster.faults.push_back(fault);
                   })
                   .IsError());
  CSleepRecorder sleeps;
  TqRunner::JobResult result = RestoreToThePoint();
  ASSERT_EQ(result.phases.size(), 2u);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << result.phases[1].message;
  EXPECT_TRUE(EventsWith(result, kEvNodeNotRestarted).empty());
  EXPECT_EQ(Restarts(),
            (std::vector<std::string>{"10.0.1.1 up", "10.0.2.1 up_after_3", "10.0.1.2 up"}));
  EXPECT_EQ(Count(sleeps.Sleeps(), TqSim::SimLogReplay::kStatusWaitSeconds * 1000), 3);
  EXPECT_EQ(Replayed(), ExpectedOn({"node1", "node2", "node3"}));
  ExpectSettingsPutBack();
}

}  // namespace
}  // namespace e2e
