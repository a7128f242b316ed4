// Restore jobs of the framework's own file-system restore ("ifrestore") over
// backups of a generated cluster: every file back byte for byte into an
// empty folder, the result files, a selection of one keyspace, a worker that
// fails mid-file, and the quit flag.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "E2eFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/datamover/RestoreResultFile.h"
#include "platform/index/ArchiveStore.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace fs = std::filesystem;

namespace {

using e2e::E2eTest;

// Every regular file below `root`, by its path relative to `root` with a
// leading "/" (the source path it was restored from).
std::set<std::string> FilesBelow(const std::string& root) {
  std::set<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) files.insert(it->path().string().substr(root.size()));
  }
  return files;
}

class RestoreJob : public E2eTest {
 protected:
  // The newest stored version of every item of `jobs` (later jobs win), by
  // header path: what a restore of the latest backups puts back.
  std::map<std::string, SStoredItem> Newest(const std::vector<int64_t>& jobs) {
    CArchiveStore store(harness_->SuiteHome());
    EXPECT_FALSE(store.Open().IsError());
    std::map<std::string, SStoredItem> newest;
    for (int64_t job : jobs) {
      std::vector<SStoredItem> items;
      EXPECT_FALSE(store.ListItems(job, items).IsError());
      for (const auto& item : items) newest[item.headerPath] = item;
    }
    return newest;
  }

  // Every stored file of `items` is in `destination` under its source path,
  // byte for byte, and nothing else is.
  void ExpectRestored(const std::map<std::string, SStoredItem>& items,
                      const std::string& destination) {
    CArchiveStore store(harness_->SuiteHome());
    ASSERT_FALSE(store.Open().IsError());
    std::set<std::string> expected;
    for (const auto& entry : items) {
      const SStoredItem& item = entry.second;
      if (item.isDirectory) continue;
      expected.insert(item.sourcePath);
      CQiError error = store.VerifyItem(item, destination + item.sourcePath);
      EXPECT_FALSE(error.IsError()) << item.headerPath << ": " << error.AsString();
    }
    EXPECT_EQ(FilesBelow(destination), expected);
  }

  // The "  DATA  " paths of the restore result files of `jobId` on every
  // node, with how often each is listed; `files` counts the result files.
  std::map<std::string, int> Listed(int64_t jobId, int* files = nullptr) {
    std::map<std::string, int> listed;
    int count = 0;
    for (const auto& node : harness_->State().nodes) {
      const std::string folder = TqDataMover::CRestoreResultFile::FolderOf(
          harness_->JobResultsOf(node.name, jobId), jobId);
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.rfind("restore", 0), 0u) << name;
        ++count;
        std::ifstream in(entry.path());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        EXPECT_GE(lines.size(), 2u) << name;
        if (lines.size() < 2) continue;
        EXPECT_EQ(lines.front(), "BeginDistributedRestore") << name;
        EXPECT_EQ(lines.back(), "EndDistributedRestore") << name;
        for (size_t i = 1; i + 1 < lines.size(); ++i) {
          const size_t data = lines[i].find("  DATA  ");
          EXPECT_NE(data, std::string::npos) << lines[i];
          if (data != std::string::npos) ++listed[lines[i].substr(0, data)];
        }
      }
    }
    if (files) *files = count;
    return listed;
  }

  std::string Destination() { return dir_.Sub("restored"); }
};

TEST_F(RestoreJob, FullAndIncrementalBackupsComeBackIntoAnEmptyFolder) {
  MakeCluster();
  e2e::AfterBackup afterFull, afterIncremental;
  TqRunner::JobResult full = Backup(TQBkpLevel_Full, &afterFull);
  ASSERT_TRUE(full.Completed());
  int added = 0;
  ASSERT_FALSE(harness_->ChangeData(1, 512, added).IsError());
  TqRunner::JobResult incremental = Backup(TQBkpLevel_Incremental, &afterIncremental);
  ASSERT_TRUE(incremental.Completed());

  TqHarness::RestoreRequest request;
  request.destination = Destination();
  // The last progress report of every stream: its files and bytes so far.
  std::map<std::pair<std::string, int>, std::pair<int64_t, int64_t>> progress;
  request.observer = [&progress](const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kProgress) return;
    progress[{event.clientName, event.streamNumber}] = {event.items, event.bytes};
  };
  TqRunner::JobResult restore;
  ASSERT_FALSE(harness_->RunRestore(request, restore).IsError());
  ASSERT_EQ(restore.phases.size(), 1u);
  EXPECT_EQ(restore.phases[0].endReason, "complete") << restore.phases[0].message;
  EXPECT_EQ(restore.status, PHASE_COMPLETE) << restore.phases[0].message;
  // Every item the launcher counted was restored.
  EXPECT_GT(restore.phases[0].itemsToRestore, 0u);
  EXPECT_EQ(static_cast<uint64_t>(restore.phases[0].itemsRestored),
            restore.phases[0].itemsToRestore);
  EXPECT_EQ(restore.phases[0].itemsFailed, 0);
  // One task per archive file the two backups wrote, each complete.
  EXPECT_FALSE(restore.phases[0].tasks.empty());
  for (const auto& task : restore.phases[0].tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
  }

  const std::map<std::string, SStoredItem> newest = Newest({full.jobId, incremental.jobId});
  ExpectRestored(newest, Destination());
  // The restored files hold what the nodes' disks held when they were backed
  // up: the full job's snapshot files, the incremental job's backups files.
  for (const auto* disk : {&afterFull.snapshotFiles, &afterIncremental.backupsFiles}) {
    int compared = 0;
    for (const auto& file : *disk) {
      const std::string restored = Destination() + file.first;
      if (!fs::exists(restored)) continue;
      EXPECT_EQ(simtest::ReadFile(restored), file.second) << file.first;
      ++compared;
    }
    EXPECT_GT(compared, 0);
  }
  // Every restored file is listed once, under the path it was written to.
  std::map<std::string, int> listed = Listed(restore.jobId);
  std::set<std::string> files;
  for (const auto& path : FilesBelow(Destination())) files.insert(Destination() + path);
  std::set<std::string> listedPaths;
  for (const auto& entry : listed) {
    EXPECT_EQ(entry.second, 1) << entry.first;
    listedPaths.insert(entry.first);
  }
  EXPECT_EQ(listedPaths, files);
  // The streams reported every file and byte they restored.
  int64_t reportedFiles = 0, reportedBytes = 0, bytes = 0;
  for (const auto& stream : progress) {
    reportedFiles += stream.second.first;
    reportedBytes += stream.second.second;
  }
  for (const auto& path : files) bytes += static_cast<int64_t>(fs::file_size(path));
  EXPECT_EQ(reportedFiles, static_cast<int64_t>(files.size()));
  EXPECT_EQ(reportedBytes, bytes);

  // The job record, read back, says complete; its kind is "restore".
  TqRunner::JobResult record;
  ASSERT_FALSE(harness_->ReadJob(restore.jobId, record).IsError());
  EXPECT_EQ(record.status, PHASE_COMPLETE);
  EXPECT_EQ(record.jobType, "restore");
}

TEST_F(RestoreJob, SelectionOfOneKeyspaceRestoresOnlyThatKeyspace) {
  MakeCluster();
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  std::map<std::string, SStoredItem> all = Newest({full.jobId});
  // The first keyspace below the first node's item, on every node.
  std::string keyspace;
  for (const auto& entry : all) {
    std::vector<std::string> parts;
    std::stringstream in(entry.first);
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    if (parts.size() == 5 && keyspace.empty()) keyspace = parts[4];
  }
  ASSERT_FALSE(keyspace.empty());
  TqHarness::RestoreRequest request;
  request.destination = Destination();
  std::map<std::string, SStoredItem> selected;
  for (const auto& entry : all) {
    std::vector<std::string> parts;
    std::stringstream in(entry.first);
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    if (parts.size() == 5 && parts[4] == keyspace) request.paths.push_back(entry.first);
    if (parts.size() >= 5 && parts[4] == keyspace) selected.insert(entry);
  }
  ASSERT_EQ(request.paths.size(), harness_->State().nodes.size());
  TqRunner::JobResult restore;
  ASSERT_FALSE(harness_->RunRestore(request, restore).IsError());
  EXPECT_EQ(restore.status, PHASE_COMPLETE) << restore.phases[0].message;
  ExpectRestored(selected, Destination());
}

// One node with one large SSTable, so that a file is written in several
// pieces.
TqSim::FixtureOptions OneLargeTable() {
  TqSim::FixtureOptions options = e2e::SmallCluster(1);
  options.keyspaces = 1;
  options.tablesPerKeyspace = 1;
  options.dataDirsPerNode = 1;
  options.sstablesPerTable = 1;
  options.sstableSize = 3 << 20;
  return options;
}

TEST_F(RestoreJob, WorkerThatFailsMidFileLeavesNoHalfFileAndAnotherStreamFinishes) {
  MakeCluster(OneLargeTable());
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  TqHarness::RestoreRequest request;
  request.destination = Destination();
  request.numberOfStreams = 2;
  TqRunner::JobSpec spec;
  ASSERT_FALSE(harness_->MakeRestoreSpec(request, spec).IsError());
  std::mutex mutex;
  int failures = 0;
  std::set<std::string> leftBehind;
  const std::string destination = Destination();
  spec.restoreWriteHook = [&](const std::string&, int, const std::string& header, uint64_t offset) {
    std::lock_guard<std::mutex> lock(mutex);
    if (header.find("-Data.db") == std::string::npos || offset == 0 || failures > 0) {
      return CQiError::Success();
    }
    ++failures;
    // Half of the file is written: nothing under its real name yet. Other
    // streams may have finished other files meanwhile; only this one counts.
    const std::string name = header.substr(header.find_last_of('/') + 1);
    for (const auto& path : FilesBelow(destination)) {
      if (path.size() >= name.size() + 1 &&
          path.compare(path.size() - name.size() - 1, std::string::npos, "/" + name) == 0)
        leftBehind.insert(path);
    }
    return FXErrorUtil::ErrorWin32(FXLOC, 5, "Injected failure of the disk");
  };
  TqRunner::JobResult restore;
  ASSERT_FALSE(harness_->Run(spec, restore).IsError());
  EXPECT_EQ(failures, 1);
  EXPECT_TRUE(leftBehind.empty());
  EXPECT_EQ(restore.status, PHASE_COMPLETE) << restore.phases[0].message;
  // The task of the file that failed ran twice, on two streams.
  int retried = 0;
  for (const auto& task : restore.phases[0].tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
    if (task.failedStreams == 0) {
      EXPECT_EQ(task.attempts, 1) << task.taskId;
      continue;
    }
    ++retried;
    EXPECT_EQ(task.failedStreams, 1) << task.taskId;
    EXPECT_EQ(task.attempts, 2) << task.taskId;
  }
  EXPECT_EQ(retried, 1);
  // The failed attempt counts its file failed once; every item is restored.
  EXPECT_EQ(restore.phases[0].itemsFailed, 1);
  EXPECT_EQ(static_cast<uint64_t>(restore.phases[0].itemsRestored),
            restore.phases[0].itemsToRestore);
  ExpectRestored(Newest({full.jobId}), Destination());
  for (const auto& path : FilesBelow(Destination())) {
    EXPECT_EQ(path.find(".tqrestore-"), std::string::npos) << path;
  }
  for (const auto& entry : Listed(restore.jobId)) EXPECT_EQ(entry.second, 1) << entry.first;
}

TEST_F(RestoreJob, QuitFlagEndsThePhaseWithNothingLeftRunning) {
  MakeCluster();
  TqRunner::JobResult full = Backup(TQBkpLevel_Full);
  ASSERT_TRUE(full.Completed());
  TqHarness::RestoreRequest request;
  request.destination = Destination();
  TqRunner::JobSpec spec;
  ASSERT_FALSE(harness_->MakeRestoreSpec(request, spec).IsError());
  TQJobCtrlClientPtr quit(new TQJobCtrlClient(spec.jobId));
  spec.jobCtrlClient = quit;
  spec.restoreWriteHook = [quit](const std::string&, int, const std::string&, uint64_t) {
    quit->setQuitFlag(true);
    return CQiError::Success();
  };
  TqRunner::JobResult restore;
  ASSERT_FALSE(harness_->Run(spec, restore).IsError());
  ASSERT_EQ(restore.phases.size(), 1u);
  EXPECT_EQ(restore.phases[0].endReason, "quit");
  EXPECT_EQ(restore.status, PHASE_FAILED);
  for (const auto& node : restore.phases[0].nodes) {
    EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED) << node.clientName;
  }
  // Not every file was restored, and none is half written.
  for (const auto& path : FilesBelow(Destination())) {
    EXPECT_EQ(path.find(".tqrestore-"), std::string::npos) << path;
  }
  EXPECT_LT(Listed(restore.jobId).size(), FilesBelow(dir_.Sub("home/cluster")).size());
}

}  // namespace
