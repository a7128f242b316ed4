// Whole backup jobs of a generated cluster through the job runner, the real
// plug-in library, the Priam stand-in and the archive store.

#include <gtest/gtest.h>

#include "E2eFixture.h"

namespace {

using e2e::E2eTest;

TEST_F(E2eTest, FullBackupStoresEverySnapshotFile) {
  MakeCluster();
  TqRunner::JobResult job = Backup(TQBkpLevel_Full);
  EXPECT_TRUE(job.Completed()) << TqRunner::PhaseStatusName(job.status);
  for (const auto& phase : job.phases) {
    std::cerr << phase.name << " " << phase.endReason << " " << phase.message << "\n";
  }
  for (const auto& e : job.events) {
    std::cerr << std::hex << e.id << std::dec;
    for (auto& a : e.args) std::cerr << " " << a;
    std::cerr << "\n";
  }
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
  for (const auto& p : report.problems) std::cerr << p.client << " " << p.path << " " << p.text << "\n";
  EXPECT_TRUE(report.Ok());
  std::cerr << report.collectEntries << " " << report.filesChecked << " " << report.snapshotFiles << " " << report.storedItems << "\n";
}

}  // namespace
