// Whole backup jobs of a generated cluster through the job runner, the real
// plug-in library, the Priam stand-in and the archive store.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "E2eFixture.h"
#include "JobChecks.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkTypes.h"
#include "sim/lib/SimClusterFile.h"

namespace {

using e2e::AfterBackup;
using e2e::E2eTest;
namespace fs = std::filesystem;

template <typename T>
std::set<std::string> Keys(const std::map<std::string, T>& files) {
  std::set<std::string> keys;
  for (const auto& f : files) keys.insert(f.first);
  return keys;
}

// No event worse than a minor one, no pending cause.
void ExpectCleanEvents(const TqRunner::JobResult& job) {
  for (const auto& event : job.events) {
    EXPECT_LT(event.severity, CEventJournal::kMajor) << std::hex << "event 0x" << event.id;
  }
  EXPECT_TRUE(job.pendingCauses.empty());
}

TEST_F(E2eTest, FullBackupStoresExactlyTheSnapshotOfEveryNode) {
  MakeCluster();
  AfterBackup after;
  TqRunner::JobResult job = Backup(TQBkpLevel_Full, &after);
  ASSERT_TRUE(job.Completed()) << TqRunner::PhaseStatusName(job.status);
  EXPECT_EQ(job.jobId, 1);
  EXPECT_TRUE(job.error.empty());
  ExpectCleanEvents(job);

  // The phases of a backup job: scan (skipped), backup, post-operations.
  ASSERT_EQ(job.phases.size(), 3u);
  EXPECT_TRUE(job.phases[0].skipped);
  const TqRunner::PhaseResult* backup = Phase(job, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->status, PHASE_COMPLETE);
  EXPECT_EQ(backup->endReason, "complete");
  std::vector<std::string> nodes;
  for (const auto& node : backup->nodes) {
    nodes.push_back(node.clientName);
    EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED) << node.clientName;
    EXPECT_FALSE(node.startFailed) << node.clientName;
    EXPECT_GT(node.streams, 0) << node.clientName;
  }
  EXPECT_EQ(nodes, (std::vector<std::string>{"node1", "node2", "node3"}));
  ASSERT_FALSE(backup->tasks.empty());
  for (const auto& task : backup->tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
  }
  // The rerun entries name every task complete.
  EXPECT_NE(job.restartString.find("-o 1|-1"), std::string::npos) << job.restartString;
  EXPECT_GE(job.referenceTime, job.startTime);
  EXPECT_LE(job.referenceTime, job.endTime);

  // The mapping file: one line per node, every task of it marked done.
  ASSERT_TRUE(after.seen);
  std::istringstream mapping(after.mappingFile);
  std::string line;
  size_t lines = 0, entries = 0;
  while (std::getline(mapping, line)) {
    if (line.empty()) continue;
    ++lines;
    std::istringstream fields(line.substr(line.find(' ') + 1));
    std::string entry;
    while (std::getline(fields, entry, '|')) {
      ++entries;
      EXPECT_EQ(entry.substr(entry.find(':')), ":-1") << line;
    }
  }
  EXPECT_EQ(lines, 3u) << after.mappingFile;
  EXPECT_EQ(entries, backup->tasks.size()) << after.mappingFile;

  // The index views: one entry per node, keyspace and table.
  CArchiveStore store(harness_->SuiteHome());
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SMetadataRecord> views;
  ASSERT_FALSE(store.Catalog().ListMetadata(job.jobId, views).IsError());
  std::vector<std::string> viewPaths;
  for (const auto& view : views) viewPaths.push_back(view.viewName + " " + view.path);
  EXPECT_EQ(viewPaths, (std::vector<std::string>{"NodeMetaData /node1", "NodeMetaData /node2",
                                                 "NodeMetaData /node3", "DBView /ks1",
                                                 "DBView /ks1/t1", "DBView /ks1/t2", "DBView /ks2",
                                                 "DBView /ks2/t1", "DBView /ks2/t2"}));
  SJobRecord record;
  bool found = false;
  ASSERT_FALSE(store.Catalog().GetJob(job.jobId, record, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_EQ(record.level, TQBkpLevel_Full);
  EXPECT_EQ(record.subclientId, harness_->State().subclientId);
  EXPECT_EQ(record.backupsetId, 1u);
  EXPECT_EQ(record.appType, TqHarness::CJobHarness::kAppType);
  EXPECT_EQ(record.status, "Completed");

  // The store holds exactly the snapshot files, byte for byte, each under
  // its node's path.
  ASSERT_FALSE(after.snapshotFiles.empty());
  std::map<std::string, SStoredItem> stored = StoredFiles(job.jobId);
  EXPECT_EQ(Keys(stored), Keys(after.snapshotFiles));
  for (const auto& file : after.snapshotFiles) {
    auto it = stored.find(file.first);
    if (it == stored.end()) continue;
    EXPECT_TRUE(it->second.complete) << file.first;
    EXPECT_EQ(StoredContent(it->second), file.second) << file.first;
    EXPECT_EQ(fs::path(it->second.headerPath).filename(), fs::path(file.first).filename());
    EXPECT_EQ(it->second.headerPath.rfind("/TestCluster/dc1/", 0), 0u) << it->second.headerPath;
  }

  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
  for (const auto& p : report.problems)
    ADD_FAILURE() << p.client << " " << p.path << ": " << p.text;
  EXPECT_EQ(report.filesChecked, static_cast<int>(after.snapshotFiles.size()));
}

TEST_F(E2eTest, IncrementalAfterNewSstablesStoresTheBackedUpFiles) {
  MakeCluster();
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  const std::vector<std::string> before = e2e::BackupsFiles(harness_->State().clusterRoot);

  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(1, 512, added).IsError());
  EXPECT_EQ(added, 3 * 4);  // one per table of each node
  const std::vector<std::string> changed = e2e::BackupsFiles(harness_->State().clusterRoot);
  ASSERT_GT(changed.size(), before.size());

  AfterBackup after;
  TqRunner::JobResult incremental = Backup(TQBkpLevel_Incremental, &after);
  ASSERT_TRUE(incremental.Completed()) << TqRunner::PhaseStatusName(incremental.status);
  EXPECT_EQ(incremental.jobId, full.jobId + 1);
  ExpectCleanEvents(incremental);

  // Every file of the backups folders, the new SSTables included, and
  // nothing else; byte for byte.
  std::map<std::string, SStoredItem> stored = StoredFiles(incremental.jobId);
  EXPECT_EQ(Keys(stored), Keys(after.backupsFiles));
  for (const std::string& path : changed) EXPECT_EQ(stored.count(path), 1u) << path;
  for (const auto& file : after.backupsFiles) {
    auto it = stored.find(file.first);
    if (it != stored.end()) {
      EXPECT_EQ(StoredContent(it->second), file.second) << file.first;
    }
  }
  // The full job holds none of the new SSTables.
  std::map<std::string, SStoredItem> fullFiles = StoredFiles(full.jobId);
  for (const auto& file : fullFiles) {
    EXPECT_NE(fs::path(file.first).parent_path().filename(), "backups") << file.first;
  }

  for (int64_t id : {full.jobId, incremental.jobId}) {
    TqHarness::VerifyReport report;
    ASSERT_FALSE(harness_->Verify(id, report).IsError());
    EXPECT_TRUE(report.Ok()) << id << ": " << report.problems.front().path << " "
                             << report.problems.front().text;
    EXPECT_GT(report.filesChecked, 0);
  }
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(incremental.jobId, report).IsError());
  EXPECT_EQ(report.level, TQBkpLevel_Incremental);
}

// A keyspace whose name cannot be a folder name ("..", here reported by
// the cluster beside its real keyspaces) is refused: the job reports that
// keyspace as not backed up, by name, stores nothing of it and nothing from
// outside the data directories, and backs every other keyspace up whole.
TEST_F(E2eTest, AKeyspaceNamedDotDotIsRefusedAndTheOthersBackUp) {
  MakeCluster(e2e::SmallCluster(1));
  {
    TqSim::SimClusterFile file(harness_->State().clusterFile);
    TqSim::SimCluster cluster;
    std::string error;
    ASSERT_TRUE(file.Load(cluster, error)) << error;
    TqSim::SimKeyspace bad = cluster.keyspaces.at(0);
    bad.name = "..";
    cluster.keyspaces.push_back(bad);
    ASSERT_TRUE(file.Save(cluster, error)) << error;
  }
  AfterBackup after;
  TqRunner::JobResult job = Backup(TQBkpLevel_Full, &after);
  ASSERT_TRUE(after.seen);
  ASSERT_FALSE(after.snapshotFiles.empty());

  const uint32_t kKeyspaceBackupFailed = 0x60003D1;
  EXPECT_EQ(e2e::EventIds(job), std::set<uint32_t>{kKeyspaceBackupFailed});
  const std::vector<CEventJournal::Entry> failed = e2e::EventsWith(job, kKeyspaceBackupFailed);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].args.at(0).find(" .. on node "), std::string::npos) << failed[0].args.at(0);

  // Every snapshot file of the real keyspaces is stored; nothing below a
  // ".." component is.
  const std::map<std::string, SStoredItem> stored = StoredFiles(job.jobId);
  for (const auto& file : after.snapshotFiles)
    EXPECT_EQ(stored.count(file.first), 1u) << file.first;
  for (const auto& file : stored) {
    EXPECT_EQ(file.first.find("/.."), std::string::npos) << file.first;
  }
  EXPECT_EQ(Keys(stored), Keys(after.snapshotFiles));
}

TEST_F(E2eTest, JobsAndTheirNumbersOutliveTheHarness) {
  MakeCluster(e2e::SmallCluster(1));
  TqRunner::JobResult first = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(first.Completed());
  const std::string home = harness_->Home();
  harness_.reset();

  harness_.reset(new TqHarness::CJobHarness(home, e2e::Paths()));
  ASSERT_FALSE(harness_->Open().IsError());
  EXPECT_TRUE(harness_->State().Registered());
  EXPECT_EQ(harness_->Jobs(), std::vector<int64_t>{first.jobId});
  TqRunner::JobResult read;
  ASSERT_FALSE(harness_->ReadJob(first.jobId, read).IsError());
  EXPECT_EQ(read.status, PHASE_COMPLETE);
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(first.jobId, report).IsError());
  EXPECT_TRUE(report.Ok());

  TqRunner::JobResult second = Backup(TQBkpLevel_Full);
  EXPECT_TRUE(second.Completed());
  EXPECT_EQ(second.jobId, first.jobId + 1);
  EXPECT_EQ(harness_->Jobs(), (std::vector<int64_t>{first.jobId, second.jobId}));
}

// The verifier is only worth something if it notices damage.
class VerifierDamage : public E2eTest {
 protected:
  std::string AnyStoredFile(int64_t job, SStoredItem& item) {
    std::map<std::string, SStoredItem> files = StoredFiles(job);
    for (const auto& f : files) {
      if (f.second.size > 0) {
        item = f.second;
        return f.first;
      }
    }
    ADD_FAILURE() << "no stored file";
    return "";
  }
};

TEST_F(VerifierDamage, StoredBytesChanged) {
  MakeCluster(e2e::SmallCluster(1));
  TqRunner::JobResult job = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(job.Completed());
  SStoredItem item;
  const std::string source = AnyStoredFile(job.jobId, item);
  ASSERT_FALSE(item.pieces.empty());
  const std::string content =
      CArchiveStore::RootUnder(harness_->SuiteHome()) + "/" + item.pieces.front().content;
  std::string bytes = simtest::ReadFile(content);
  ASSERT_FALSE(bytes.empty());
  bytes[0] = static_cast<char>(bytes[0] ^ 0x55);
  simtest::WriteFile(content, bytes);

  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].path, source);
}

TEST_F(VerifierDamage, SourceChangedOnDisk) {
  MakeCluster(e2e::SmallCluster(1));
  TqRunner::JobResult job = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(job.Completed());
  SStoredItem item;
  const std::string source = AnyStoredFile(job.jobId, item);
  std::string bytes = simtest::ReadFile(source);
  bytes.back() = static_cast<char>(bytes.back() ^ 0x01);
  fs::remove(source);  // a hard link: give the snapshot its own changed copy
  simtest::WriteFile(source, bytes);

  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].path, source);
}

TEST_F(VerifierDamage, SnapshotFileNeverStored) {
  MakeCluster(e2e::SmallCluster(1));
  // Without its post-operations phase the job's snapshot stays on disk.
  TqRunner::JobSpec spec = harness_->MakeSpec(TqHarness::BackupRequest());
  spec.phases = {"scan", "backup"};
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());
  ASSERT_TRUE(job.Completed());
  std::vector<std::string> snapshot =
      TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), job.jobId);
  ASSERT_FALSE(snapshot.empty());
  const std::string extra = fs::path(snapshot.front()).parent_path().string() + "/extra-Data.db";
  simtest::WriteFile(extra, "not backed up");

  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].path, extra);
  EXPECT_EQ(report.problems[0].text, "snapshot file not stored");
}

}  // namespace

namespace {

TEST_F(E2eTest, CommitLogJobStoresEveryArchivedSegmentOfEveryNode) {
  TqSim::FixtureOptions options = e2e::SmallCluster();
  options.docker = true;  // one shared archive path inside every node's container
  options.commitLogSegments = 2;
  ASSERT_FALSE(harness_->CreateCluster(options).IsError());
  TqHarness::RegisterOptions registration;
  registration.commitLogBackup = true;
  CQiError error = harness_->Register(registration);
  ASSERT_FALSE(error.IsError()) << error.AsString(2);

  TqHarness::BackupRequest request;
  request.commitLog = true;
  // The archived segments as the backup phase left them: the
  // post-operations phase deletes those the job stored.
  auto archived = [this] {
    std::map<std::string, std::string> found;
    for (const auto& node : harness_->State().nodes) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(node.commitLogArchiveDir, ec)) {
        if (entry.path().filename().string().rfind("CommitLog", 0) == 0) {
          found[entry.path().string()] = simtest::ReadFile(entry.path().string());
        }
      }
    }
    return found;
  };
  std::map<std::string, std::string> segments;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  spec.observer = [&](const TqRunner::RunnerEvent& event) {
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "postop" &&
        event.text == "start") {
      segments = archived();
    }
  };
  TqRunner::JobResult job;
  error = harness_->Run(spec, job);
  ASSERT_FALSE(error.IsError()) << error.AsString(2);
  ASSERT_TRUE(job.Completed()) << TqRunner::PhaseStatusName(job.status);
  EXPECT_TRUE(job.pendingCauses.empty());
  EXPECT_TRUE(archived().empty());

  ASSERT_EQ(segments.size(), 3u * 2u);
  std::map<std::string, SStoredItem> stored = StoredFiles(job.jobId);
  EXPECT_EQ(Keys(stored), Keys(segments));
  for (const auto& segment : segments) {
    auto it = stored.find(segment.first);
    if (it == stored.end()) continue;
    EXPECT_NE(it->second.headerPath.find("/#COMMITLOG#/"), std::string::npos)
        << it->second.headerPath;
    EXPECT_EQ(StoredContent(it->second), segment.second) << segment.first;
  }
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.kind, "log");
  EXPECT_EQ(report.filesChecked, 6);
}

TEST_F(E2eTest, CommitLogRegistrationOfSeveralNodesWithoutContainersNeedsAFolder) {
  ASSERT_FALSE(harness_->CreateCluster(e2e::SmallCluster(2)).IsError());
  TqHarness::RegisterOptions registration;
  registration.commitLogBackup = true;
  CQiError error = harness_->Register(registration);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString(2);
  EXPECT_FALSE(harness_->State().Registered());
  registration.archiveDirectory = harness_->Home() + "/archive";
  error = harness_->Register(registration);
  EXPECT_FALSE(error.IsError()) << error.AsString(2);
}

}  // namespace
