// The post-operations phase of backup jobs of a generated cluster: the
// subclient's snapshots and the backed-up incremental files are removed from
// every node, everything else stays, and the store still proves every byte.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "E2eFixture.h"
#include "FaultyStreams.h"
#include "JobChecks.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "sim/lib/SimClusterFile.h"

namespace {

using e2e::E2eTest;
namespace fs = std::filesystem;

// A node's disks as the backup phase left them.
struct NodeDisks {
  std::map<std::string, long> backupsFiles;  // path -> modification time
  long snapshotTime = 0;                     // from its cleanup information file
  std::set<std::string> snapshotTables;      // "<keyspace>/<table folder>" of its snapshot
};

class CleanupTest : public E2eTest {
 protected:
  static long MTime(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_mtime) : -1;
  }

  std::string InfoFile(const std::string& node, int64_t jobId) const {
    return harness_->JobResultsOf(node, jobId) + "/CassandraCleanupInfoFile";
  }

  // Records the disks when the post-operations phase starts, then runs
  // `atPostop` (may be empty).
  void WatchPostop(TqRunner::JobSpec& spec, std::map<std::string, NodeDisks>& disks,
                   std::function<void()> atPostop = nullptr) {
    const int64_t jobId = spec.jobId;
    auto inner = spec.observer;
    spec.observer = [this, jobId, &disks, inner, atPostop](const TqRunner::RunnerEvent& event) {
      if (inner) inner(event);
      if (event.kind != TqRunner::RunnerEvent::kPhase || event.phase != "postop" ||
          event.text != "start") {
        return;
      }
      for (const auto& node : harness_->State().nodes) {
        NodeDisks& d = disks[node.name];
        for (const auto& dir : node.dataDirs) {
          for (const auto& path : e2e::BackupsFiles(dir)) d.backupsFiles[path] = MTime(path);
        }
        d.snapshotTime = std::atol(simtest::ReadFile(InfoFile(node.name, jobId)).c_str());
      }
      // A snapshot line sweeps its table's backups folder in every data
      // directory of the node: tables by "<keyspace>/<table folder>".
      for (const auto& file : TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId)) {
        const fs::path table = fs::path(file).parent_path().parent_path().parent_path();
        const std::string key =
            table.parent_path().filename().string() + "/" + table.filename().string();
        for (const auto& node : harness_->State().nodes) {
          for (const auto& dir : node.dataDirs) {
            if (table.string().rfind(dir + "/", 0) == 0)
              disks[node.name].snapshotTables.insert(key);
          }
        }
      }
      if (atPostop) atPostop();
    };
  }

  // A table folder of a node's first data directory.
  std::string SomeTable(size_t node) const {
    const std::string dir = harness_->State().nodes.at(node).dataDirs.at(0);
    for (const auto& ks : fs::directory_iterator(dir)) {
      if (!ks.is_directory()) continue;
      for (const auto& table : fs::directory_iterator(ks.path())) {
        if (table.is_directory()) return table.path().string();
      }
    }
    ADD_FAILURE() << "no table in " << dir;
    return dir;
  }

  void ExpectVerified(int64_t jobId) {
    TqHarness::VerifyReport report;
    ASSERT_FALSE(harness_->Verify(jobId, report).IsError());
    for (const auto& p : report.problems) ADD_FAILURE() << jobId << " " << p.path << ": " << p.text;
    EXPECT_GT(report.filesGone, 0) << jobId;
    // The SSTables that are gone were compared byte for byte with their
    // tables' files; the snapshots' own schema files were read back.
    EXPECT_GT(report.filesMatchedLive, 0) << jobId;
    EXPECT_LE(report.filesMatchedLive, report.filesGone) << jobId;
  }
};

TEST_F(CleanupTest, FullThenIncrementalLeaveNoSnapshotAndNoBackedUpFile) {
  MakeCluster();
  const std::string sub = std::to_string(harness_->State().subclientId);
  // An older snapshot of the subclient, and one of another subclient.
  const std::string table = SomeTable(0);
  const std::string ownOld = table + "/snapshots/" + sub + "TQsnapshot1/nb-1-big-Data.db";
  const std::string otherSub = table + "/snapshots/9" + sub + "TQsnapshot1/nb-1-big-Data.db";
  simtest::WriteFile(ownOld, "old");
  simtest::WriteFile(otherSub, "other");

  // Full backup; another job's mapping file beside this job's.
  TqHarness::BackupRequest request;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t full = spec.jobId;
  const std::string otherMapping =
      harness_->JobResultsOf(TqHarness::CJobHarness::kCoordinatorClient, full) +
      "/CollectFileMapping_" + std::to_string(full + 100);
  simtest::WriteFile(otherMapping, "5 1:0|\n");
  std::map<std::string, NodeDisks> fullDisks;
  WatchPostop(spec, fullDisks);
  TqRunner::JobResult fullJob;
  ASSERT_FALSE(harness_->Run(spec, fullJob).IsError());
  ASSERT_EQ(fullJob.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(fullJob.status);
  const TqRunner::PhaseResult* postop = Phase(fullJob, "postop");
  ASSERT_TRUE(postop);
  EXPECT_EQ(postop->status, PHASE_COMPLETE);
  EXPECT_EQ(postop->nodes.size(), 3u);
  EXPECT_TRUE(fullJob.events.empty());

  TqHarness::CJobVerifier verifier(harness_->SuiteHome(), harness_->State());
  for (const auto& node : verifier.CleanupStateOf(full)) {
    EXPECT_EQ(node.snapshotsLeft, 0) << node.client;
    EXPECT_GT(node.listedFiles, 0) << node.client;
    EXPECT_EQ(node.listedGone, node.listedFiles) << node.client;
    EXPECT_TRUE(node.notDeleted.empty()) << node.client;
    EXPECT_FALSE(node.infoFileLeft) << node.client;
  }
  EXPECT_FALSE(fs::exists(ownOld));
  EXPECT_TRUE(fs::exists(otherSub));
  EXPECT_FALSE(fs::exists(MappingFile(full)));
  EXPECT_TRUE(fs::exists(otherMapping));
  // The backups folders of the snapshotted tables lost exactly their files
  // from before the snapshot.
  for (const auto& node : fullDisks) {
    ASSERT_GT(node.second.snapshotTime, 0) << node.first;
    for (const auto& file : node.second.backupsFiles) {
      const fs::path tableDir = fs::path(file.first).parent_path().parent_path();
      const std::string key =
          tableDir.parent_path().filename().string() + "/" + tableDir.filename().string();
      const bool swept =
          node.second.snapshotTables.count(key) != 0 && file.second < node.second.snapshotTime;
      EXPECT_EQ(fs::exists(file.first), !swept) << file.first;
    }
  }
  ExpectVerified(full);

  // New data, then an incremental; a file reaches a backups folder after
  // the backup phase.
  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(1, 512, added).IsError());
  ASSERT_GT(added, 0);
  TqHarness::BackupRequest incrementalRequest;
  incrementalRequest.level = TQBkpLevel_Incremental;
  TqRunner::JobSpec incrementalSpec = harness_->MakeSpec(incrementalRequest);
  const int64_t incremental = incrementalSpec.jobId;
  const std::string late = SomeTable(1) + "/backups/nb-999-big-Data.db";
  std::map<std::string, NodeDisks> disks;
  WatchPostop(incrementalSpec, disks, [&] { simtest::WriteFile(late, "late"); });
  TqRunner::JobResult incrementalJob;
  ASSERT_FALSE(harness_->Run(incrementalSpec, incrementalJob).IsError());
  ASSERT_EQ(incrementalJob.status, PHASE_COMPLETE)
      << TqRunner::PhaseStatusName(incrementalJob.status);

  std::map<std::string, SStoredItem> stored = StoredFiles(incremental);
  ASSERT_FALSE(stored.empty());
  size_t checked = 0;
  for (const auto& node : disks) {
    for (const auto& file : node.second.backupsFiles) {
      EXPECT_EQ(fs::exists(file.first), stored.count(file.first) == 0) << file.first;
      ++checked;
    }
  }
  EXPECT_EQ(checked, stored.size());
  EXPECT_TRUE(fs::exists(late));
  for (const auto& node : verifier.CleanupStateOf(incremental)) {
    EXPECT_EQ(node.snapshotsLeft, 0) << node.client;
    EXPECT_EQ(node.listedGone, node.listedFiles) << node.client;
  }
  EXPECT_FALSE(fs::exists(MappingFile(incremental)));
  ExpectVerified(incremental);
  ExpectVerified(full);
}

// A table dropped between the backup and its cleanup: the table folder that
// the collect files list is gone, and the cleanup leaves its keyspace alone.
// The other tables' live SSTables and another subclient's snapshot stay,
// however old.
TEST_F(CleanupTest, ATableDroppedBeforeTheCleanupLeavesItsKeyspaceAlone) {
  MakeCluster(e2e::SmallCluster(1));
  const auto& state = harness_->State();
  const std::string node = state.nodes.at(0).name;
  const std::vector<std::string> dataDirs = state.nodes.at(0).dataDirs;
  const fs::path dropped = SomeTable(0);
  const std::string keyspace = dropped.parent_path().filename().string();
  const std::string other = "9" + std::to_string(state.subclientId) + "TQsnapshot1";

  TqRunner::JobSpec spec = harness_->MakeSpec(TqHarness::BackupRequest());
  std::map<std::string, NodeDisks> disks;
  std::vector<std::string> kept;
  WatchPostop(spec, disks, [&] {
    const long old = disks[node].snapshotTime - 100;
    for (const std::string& dir : dataDirs) {
      fs::remove_all(fs::path(dir) / keyspace / dropped.filename());
      for (const auto& table : fs::directory_iterator(fs::path(dir) / keyspace)) {
        if (!table.is_directory()) continue;
        const std::string snapshotFile = (table.path() / "snapshots" / other / "nb-1-big-Data.db");
        simtest::WriteFile(snapshotFile, "other");
        std::vector<std::string> files = {snapshotFile};
        for (const auto& file : fs::directory_iterator(table.path())) {
          if (file.is_regular_file()) files.push_back(file.path().string());
        }
        for (const std::string& file : files) {
          struct timeval times[2] = {{old, 0}, {old, 0}};
          ASSERT_EQ(::utimes(file.c_str(), times), 0) << file;
          kept.push_back(file);
        }
      }
    }
  });
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());
  EXPECT_EQ(job.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(job.status);
  ASSERT_GT(disks[node].snapshotTime, 0);
  ASSERT_FALSE(kept.empty());
  size_t live = 0;
  for (const std::string& path : kept) {
    EXPECT_TRUE(fs::exists(path)) << path;
    if (path.find("/snapshots/") == std::string::npos) ++live;
  }
  EXPECT_GT(live, 0u);
  TqHarness::CJobVerifier verifier(harness_->SuiteHome(), harness_->State());
  for (const auto& cleanup : verifier.CleanupStateOf(job.jobId)) {
    EXPECT_EQ(cleanup.snapshotsLeft, 0) << cleanup.client;
  }
}

TEST_F(CleanupTest, AFailedTaskKeepsItsFilesAndTheQuitFlagKeepsAll) {
  MakeCluster(e2e::SmallCluster(1));
  TqRunner::JobResult fullJob = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(fullJob.Completed());
  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(4, 512, added).IsError());

  // An incremental whose one task keeps failing at a file in its middle.
  TqHarness::BackupRequest request;
  request.level = TQBkpLevel_Incremental;
  request.numberOfStreams = 2;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t jobId = spec.jobId;
  auto collectFileOf = [this, jobId](const std::string& client, int task) {
    return harness_->JobResultsOf(client, jobId) + "/CollectInc" + std::to_string(task) + ".tqf";
  };
  auto faults = std::make_shared<e2e::StreamFaults>();
  auto fault = std::make_shared<e2e::MidFileFault>(faults, collectFileOf, -1);
  spec.streamFactory = e2e::FaultyStreams(harness_->StoreStreams(spec), faults);
  spec.observer = [fault](const TqRunner::RunnerEvent& event) { fault->See(event); };
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());
  ASSERT_GE(fault->Task(), 0);
  EXPECT_EQ(job.status, PHASE_COMPLETE_WITH_WARNINGS) << TqRunner::PhaseStatusName(job.status);
  const TqRunner::PhaseResult* backup = Phase(job, "backup");
  ASSERT_TRUE(backup);
  int failedTasks = 0, completeTasks = 0;
  for (const auto& task : backup->tasks) {
    const bool complete = task.status == DistributedQEL::TASK_COMPLETE;
    (complete ? completeTasks : failedTasks)++;
    for (const auto& line : e2e::ReadCollectFile(collectFileOf("node1", task.taskId))) {
      EXPECT_EQ(fs::exists(line.path), !complete) << task.taskId << " " << line.path;
    }
  }
  EXPECT_EQ(failedTasks, 1);
  EXPECT_GT(completeTasks, 0);

  // An incremental stopped as its backup phase ends: its post-operations
  // phase runs, but deletes no incremental file.
  ASSERT_FALSE(harness_->ChangeData(1, 512, added).IsError());
  TqRunner::JobSpec stopped = harness_->MakeSpec(request);
  stopped.jobCtrlClient.reset(new TQJobCtrlClient(stopped.jobId));
  TQJobCtrlClientPtr control = stopped.jobCtrlClient;
  stopped.observer = [control](const TqRunner::RunnerEvent& event) {
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "backup" &&
        event.text != "start") {
      control->setQuitFlag(true);
    }
  };
  TqRunner::JobResult stoppedJob;
  ASSERT_FALSE(harness_->Run(stopped, stoppedJob).IsError());
  const TqRunner::PhaseResult* stoppedPostop = Phase(stoppedJob, "postop");
  ASSERT_TRUE(stoppedPostop);
  EXPECT_EQ(stoppedPostop->nodes.size(), 1u);
  std::map<std::string, SStoredItem> stored = StoredFiles(stopped.jobId);
  ASSERT_FALSE(stored.empty());
  // (The failed task's keyspace was taken full again: its snapshot files,
  // cleared with the snapshot, are stored too.)
  int incrementalFiles = 0;
  for (const auto& file : stored) {
    if (fs::path(file.first).parent_path().filename() != "backups") continue;
    ++incrementalFiles;
    EXPECT_TRUE(fs::exists(file.first)) << file.first;
  }
  EXPECT_GT(incrementalFiles, 0);
  // The controller ran: it removed its cleanup information file.
  EXPECT_FALSE(fs::exists(InfoFile("node1", stopped.jobId)));
}

TEST_F(CleanupTest, ANodeWhosePriamDoesNotStartCompletesThePhaseWithWarnings) {
  MakeCluster(e2e::SmallCluster(2));
  TqRunner::JobSpec spec = harness_->MakeSpec(TqHarness::BackupRequest());
  // Once the backup phase has ended, node2's Priam exits at start.
  const std::string clusterFile = harness_->State().clusterFile;
  const std::string address = harness_->State().nodes.at(1).address;
  spec.observer = [clusterFile, address](const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kPhase || event.phase != "backup" ||
        event.text == "start") {
      return;
    }
    TqSim::SimClusterFile file(clusterFile);
    TqSim::SimCluster cluster;
    std::string error;
    ASSERT_TRUE(file.Load(cluster, error)) << error;
    TqSim::SimFault fault;
    fault.when = "start";
    fault.node = address;
    fault.action = "exit";
    fault.status = 3;
    fault.text = "port in use";
    cluster.faults.push_back(fault);
    ASSERT_TRUE(file.Save(cluster, error)) << error;
  };
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());
  const TqRunner::PhaseResult* postop = Phase(job, "postop");
  ASSERT_TRUE(postop);
  EXPECT_EQ(postop->status, PHASE_COMPLETE_WITH_WARNINGS);
  EXPECT_EQ(job.status, PHASE_COMPLETE_WITH_WARNINGS);
  EXPECT_EQ(e2e::EventIds(job), std::set<uint32_t>{0x60003D4});
  TqHarness::CJobVerifier verifier(harness_->SuiteHome(), harness_->State());
  for (const auto& node : verifier.CleanupStateOf(job.jobId)) {
    // node2's snapshot was not cleared; node1's was.
    EXPECT_EQ(node.snapshotsLeft > 0, node.client == "node2") << node.client;
  }
}

}  // namespace
