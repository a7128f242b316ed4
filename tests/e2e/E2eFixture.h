#pragma once

// A harness home per test around the real plug-in, the Priam stand-in and
// the archive store; no child process may outlive a test.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/index/ArchiveStore.h"
#include "platform/log/EventJournal.h"
#include "platform/suite/ClientDirectory.h"
#include "support/SimTestSupport.h"
#include "tools/lib/JobHarness.h"
#include "tools/lib/JobVerifier.h"

namespace e2e {

inline TqHarness::HarnessPaths Paths() {
  return {TQ_PLUGIN_PATH, std::string(TQ_BINARY_DIR) + "/sim/priam-standin",
          std::string(TQ_BINARY_DIR) + "/sim/docker"};
}

// A small cluster: 3 nodes with two data directories each, 2 keyspaces of 2
// tables, two SSTables per table and node (one in each directory),
// incremental backups on.
inline TqSim::FixtureOptions SmallCluster(int nodes = 3) {
  TqSim::FixtureOptions options;
  options.nodes = nodes;
  options.keyspaces = 2;
  options.tablesPerKeyspace = 2;
  options.dataDirsPerNode = 2;
  options.sstablesPerTable = 2;
  options.sstableSize = 256;
  options.incrementalBackups = true;
  return options;
}

// What the node disks held when the backup phase had ended (before the
// post-operations phase may clean up).
struct AfterBackup {
  bool seen = false;
  std::map<std::string, std::string> snapshotFiles;  // path -> content
  std::string mappingFile;                           // its text
  std::map<std::string, std::string> backupsFiles;   // files in backups/ folders
};

// Files directly in a "backups" folder of a table below `root`.
inline std::vector<std::string> BackupsFiles(const std::string& root) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().parent_path().filename() == "backups") {
      files.push_back(it->path().string());
    }
  }
  return files;
}

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CEventJournal::Instance().Clear();
    CClientDirectory::Instance().Clear();
    harness_.reset(new TqHarness::CJobHarness(dir_.Sub("home"), Paths()));
    CQiError error = harness_->Open();
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
  }

  void TearDown() override {
    harness_.reset();
    CClientDirectory::Instance().Clear();
    for (pid_t pid : simtest::ChildrenOf(::getpid())) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      ADD_FAILURE() << "process " << pid << " was left running";
    }
  }

  void MakeCluster(const TqSim::FixtureOptions& options = SmallCluster()) {
    CQiError error = harness_->CreateCluster(options);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    error = harness_->Register();
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
  }

  // Runs a backup job; `after` gets the disks' state between its backup and
  // post-operations phases.
  TqRunner::JobResult Backup(int level, AfterBackup* after = nullptr) {
    TqHarness::BackupRequest request;
    request.level = level;
    TqRunner::JobSpec spec = harness_->MakeSpec(request);
    const int64_t jobId = spec.jobId;
    if (after) {
      spec.observer = [this, after, jobId](const TqRunner::RunnerEvent& event) {
        if (event.kind != TqRunner::RunnerEvent::kPhase || event.phase != "postop" ||
            event.text != "start") {
          return;
        }
        after->seen = true;
        for (const auto& path : TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId)) {
          after->snapshotFiles[path] = simtest::ReadFile(path);
        }
        after->mappingFile = simtest::ReadFile(MappingFile(jobId));
        for (const auto& path : BackupsFiles(harness_->State().clusterRoot)) {
          after->backupsFiles[path] = simtest::ReadFile(path);
        }
      };
    }
    TqRunner::JobResult result;
    CQiError error = harness_->Run(spec, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  std::string MappingFile(int64_t jobId) const {
    return harness_->JobResultsOf(TqHarness::CJobHarness::kCoordinatorClient, jobId) +
           "/CollectFileMapping_" + std::to_string(jobId);
  }

  // The job's stored regular files by the path they were read from.
  std::map<std::string, SStoredItem> StoredFiles(int64_t jobId) {
    CArchiveStore store(harness_->SuiteHome());
    EXPECT_FALSE(store.Open().IsError());
    std::vector<SStoredItem> items;
    EXPECT_FALSE(store.ListItems(jobId, items).IsError());
    std::map<std::string, SStoredItem> files;
    for (const auto& item : items) {
      if (!item.isDirectory) files[item.sourcePath] = item;
    }
    return files;
  }

  std::string StoredContent(const SStoredItem& item) {
    CArchiveStore store(harness_->SuiteHome());
    EXPECT_FALSE(store.Open().IsError());
    std::string content;
    CQiError error = store.ReadItem(item.jobId, item.headerPath, content);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return content;
  }

  static const TqRunner::PhaseResult* Phase(const TqRunner::JobResult& job,
                                            const std::string& name) {
    for (const auto& phase : job.phases) {
      if (phase.name == name) return &phase;
    }
    return nullptr;
  }

  simtest::TempDir dir_;
  std::unique_ptr<TqHarness::CJobHarness> harness_;
};

}  // namespace e2e
