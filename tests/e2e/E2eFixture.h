#pragma once

// A harness home per test around the real plug-in, the Priam stand-in and
// the archive store; no child process may outlive a test.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/log/EventJournal.h"
#include "platform/suite/ClientDirectory.h"
#include "support/SimTestSupport.h"
#include "tools/lib/JobHarness.h"

namespace e2e {

inline TqHarness::HarnessPaths Paths() {
  return {TQ_PLUGIN_PATH, std::string(TQ_BINARY_DIR) + "/sim/priam-standin"};
}

// A small cluster: 3 nodes, 2 keyspaces of 2 tables, incremental backups on.
inline TqSim::FixtureOptions SmallCluster(int nodes = 3) {
  TqSim::FixtureOptions options;
  options.nodes = nodes;
  options.keyspaces = 2;
  options.tablesPerKeyspace = 2;
  options.sstablesPerTable = 1;
  options.sstableSize = 256;
  options.incrementalBackups = true;
  return options;
}

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CEventJournal::Instance().Clear();
    CClientDirectory::Instance().Clear();
    harness_.reset(new TqHarness::CJobHarness(dir_.Sub("home"), Paths()));
    ASSERT_FALSE(harness_->Open().IsError());
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

  TqRunner::JobResult Backup(int level, bool commitLog = false) {
    TqHarness::BackupRequest request;
    request.level = level;
    request.commitLog = commitLog;
    TqRunner::JobResult result;
    CQiError error = harness_->RunBackup(request, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  simtest::TempDir dir_;
  std::unique_ptr<TqHarness::CJobHarness> harness_;
};

}  // namespace e2e
