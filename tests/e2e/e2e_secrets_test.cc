// Whole jobs and what they leave on disk: Priam's properties files, which
// hold passwords, are readable by their owner only while a Priam runs and
// gone after the job; a node configuration with a very long line backs up.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "E2eFixture.h"
#include "platform/framework/FrameworkTypes.h"

namespace {

using e2e::E2eTest;
namespace fs = std::filesystem;

// Every "priam.properties" below `root` with whether only its owner may read
// and write it.
std::map<std::string, bool> PropertiesFiles(const std::string& root) {
  std::map<std::string, bool> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename() != "priam.properties") continue;
    const fs::perms perms = fs::status(it->path(), ec).permissions() & fs::perms::all;
    files[it->path().string()] = perms == (fs::perms::owner_read | fs::perms::owner_write);
  }
  return files;
}

class SecretsTest : public E2eTest {};

TEST_F(SecretsTest, PriamPropertiesAreOwnerOnlyWhileNeededAndGoneAfterTheJob) {
  MakeCluster(e2e::SmallCluster(3));
  TqHarness::BackupRequest request;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const std::string home = dir_.Sub("home");
  std::map<std::string, bool> seen;
  spec.observer = [&seen, &home](const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kTask) return;
    for (const auto& file : PropertiesFiles(home)) seen[file.first] = file.second;
  };
  TqRunner::JobResult result;
  ASSERT_FALSE(harness_->Run(spec, result).IsError());
  EXPECT_EQ(result.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(result.status);
  // The node Priams ran while the tasks did: their files were owner-only.
  EXPECT_FALSE(seen.empty());
  for (const auto& file : seen) EXPECT_TRUE(file.second) << file.first;
  EXPECT_TRUE(PropertiesFiles(home).empty());
}

// A line of 30,000 blanks in cassandra-env.sh is passed over: the job backs
// up as any other.
TEST_F(SecretsTest, AVeryLongLineInTheNodeConfigurationDoesNotStopTheJob) {
  MakeCluster(e2e::SmallCluster(2));
  for (const auto& node : harness_->State().nodes) {
    const std::string env = node.confDir + "/cassandra-env.sh";
    std::string text = simtest::ReadFile(env);
    std::ofstream(env, std::ios::trunc) << std::string(30000, ' ') << "\n" << text;
  }
  TqRunner::JobResult result = Backup(TQBkpLevel_Full);
  EXPECT_EQ(result.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(result.status);
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(result.jobId, report).IsError());
  EXPECT_TRUE(report.Ok());
}

}  // namespace
