// Stage-free restores through the runner: the coordinator exports the backup
// as a share of the media agent's file server, every node mounts it with the
// mount stand-in and loads each table from it through its Priam stand-in,
// then unmounts it; the share is deleted at the end whatever happened.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "E2eFixture.h"
#include "common/RestoreOptionRecords.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/zelk/ZelkShareStore.h"
#include "sim/lib/SimNfsMount.h"
#include "tools/lib/RestoreJobOptions.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kEvMountFailed = 0x6000474;

// Contents of the regular files directly in a table directory of `root`
// ("<data dir>/<keyspace>/<table>-<id>/<file>"), by path: the SSTables the
// simulated Cassandra serves.
std::map<std::string, std::string> LiveFiles(const std::string& root) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    const std::string name = it->path().filename().string();
    const std::string parent = it->path().parent_path().filename().string();
    if (name.find("-Data.db") == std::string::npos && name.find("-Index.db") == std::string::npos &&
        name.find(".db") == std::string::npos && name.find(".txt") == std::string::npos &&
        name.find(".crc32") == std::string::npos) {
      continue;
    }
    if (parent == "backups" || it->path().string().find("/snapshots/") != std::string::npos) {
      continue;
    }
    if (parent.find('-') == std::string::npos) continue;  // not a table directory
    files[it->path().string()] = simtest::ReadFile(it->path().string());
  }
  return files;
}

class StageFreeRestoreE2e : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    nfs_.reset(new TqSim::CSimNfsMount(harness_->SuiteHome()));
  }
  void TearDown() override {
    CRegistry::Instance().Remove("Zelk", "nNoShareId");
    nfs_.reset();
    E2eTest::TearDown();
  }

  TqRunner::JobResult Restore(TQJobCtrlClientPtr control = TQJobCtrlClientPtr(),
                              std::function<void(const TqRunner::RunnerEvent&)> observer = {}) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setSubclientRestore(1);
    options.setStageFreeRestore(1);
    TqHarness::RestoreRequest request;
    request.phases = {"restore"};
    request.paths = {"/"};
    request.observer = observer;
    request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);
    EXPECT_FALSE(request.jobOptionsXml.empty());
    TqRunner::JobSpec spec;
    CQiError error = harness_->MakeRestoreSpec(request, spec);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    if (control) spec.jobCtrlClient = control;
    TqRunner::JobResult result;
    error = harness_->Run(spec, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return result;
  }

  // Nothing is mounted or exported any more, and no mount folder is left.
  void ExpectNothingLeft(int64_t jobId) {
    EXPECT_TRUE(nfs_->Mounted().empty());
    Zelk::CZelkShareStore store(harness_->SuiteHome());
    EXPECT_TRUE(store.List().empty());
    EXPECT_FALSE(fs::exists(store.ExportPath("share" + std::to_string(jobId))));
    for (const std::string& folder : MountFolders()) {
      EXPECT_FALSE(fs::exists(folder)) << folder;
    }
  }

  // The folders the nodes mounted the share at, from the mount lines.
  std::vector<std::string> MountFolders() const {
    std::vector<std::string> folders;
    for (const std::string& line : nfs_->MountCommands()) {
      folders.push_back(line.substr(line.rfind(' ') + 1));
    }
    return folders;
  }

  // The cluster, backed up in full; the coordinator's client, which serves
  // as media agent, runs an operating system that can export shares.
  TqRunner::JobResult BackUpCluster() {
    MakeCluster();
    SClientRecord agent;
    EXPECT_TRUE(
        CClientDirectory::Instance().FindByName(TqHarness::CJobHarness::kCoordinatorClient, agent));
    agent.operatingSystemId = kLinux;
    CClientDirectory::Instance().Add(agent);
    return Backup(TQBkpLevel_Full);
  }

  static constexpr uint32_t kLinux = 2;
  std::unique_ptr<TqSim::CSimNfsMount> nfs_;
};

// All simulated nodes share this machine's file system, and the nodes' mount
// folder, "/TqCassandraMountDir<job id>", is the same absolute folder for
// every node: the second node finds it mounted already. These two runs wait
// for a per-node file-system root in the simulated world.
TEST_F(StageFreeRestoreE2e, DISABLED_EveryBackedUpSSTableIsLoadedLiveAndNothingIsLeft) {
  TqRunner::JobResult backup = BackUpCluster();
  ASSERT_TRUE(backup.Completed());
  const auto before = LiveFiles(harness_->State().clusterRoot);
  const int64_t jobId = harness_->State().nextJobId;
  CLogCapture log;
  TqRunner::JobResult result = Restore();
  EXPECT_TRUE(result.Completed()) << TqRunner::PhaseStatusName(result.status) << " "
                                  << (result.phases.empty() ? "" : result.phases[0].message);

  // Every node mounted the share once.
  EXPECT_EQ(nfs_->MountCommands().size(), 3u);
  EXPECT_EQ(nfs_->UmountTargets().size(), 3u);

  // What the loads added to the cluster: every backed-up SSTable file is
  // among it byte for byte.
  std::multiset<std::string> added;
  for (const auto& file : LiveFiles(harness_->State().clusterRoot)) {
    if (!before.count(file.first)) added.insert(file.second);
  }
  const auto stored = StoredFiles(backup.jobId);
  int sstables = 0;
  for (const auto& item : stored) {
    const std::string name = fs::path(item.first).filename().string();
    if (name.find("-Data.db") == std::string::npos) continue;
    ++sstables;
    EXPECT_TRUE(added.count(StoredContent(item.second))) << item.first;
  }
  EXPECT_GT(sstables, 0);
  ExpectNothingLeft(jobId);

  // The coordinator's truncating pass ran before any node began loading.
  size_t truncated = SIZE_MAX, firstLoad = SIZE_MAX;
  const auto lines = log.Lines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (truncated == SIZE_MAX && lines[i].text.rfind("Truncating table ", 0) == 0) truncated = i;
    if (firstLoad == SIZE_MAX && lines[i].text.rfind("Loading SSTables from path: ", 0) == 0)
      firstLoad = i;
  }
  ASSERT_NE(firstLoad, SIZE_MAX);
  ASSERT_NE(truncated, SIZE_MAX);
  EXPECT_LT(truncated, firstLoad);
}

TEST_F(StageFreeRestoreE2e, AShareWithoutIdFailsThePreparation) {
  ASSERT_TRUE(BackUpCluster().Completed());
  CRegistry::Instance().Set("Zelk", "nNoShareId", "1");
  const int64_t jobId = harness_->State().nextJobId;
  TqRunner::JobResult result = Restore();
  EXPECT_EQ(result.status, PHASE_FAILED) << TqRunner::PhaseStatusName(result.status);
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_EQ(result.phases[0].endReason, "start failed") << result.phases[0].message;
  EXPECT_NE(result.phases[0].message.find("answered without a share id: network share share" +
                                          std::to_string(jobId) + " was not created"),
            std::string::npos)
      << result.phases[0].message;
  EXPECT_TRUE(nfs_->MountCommands().empty());
  ExpectNothingLeft(jobId);
}

TEST_F(StageFreeRestoreE2e, DISABLED_AFailedMountLeavesTheJobPendingWithItsEvent) {
  ASSERT_TRUE(BackUpCluster().Completed());
  nfs_->FailMounts(true);
  const int64_t jobId = harness_->State().nextJobId;
  TqRunner::JobResult result = Restore();
  EXPECT_NE(result.status, PHASE_COMPLETE);
  EXPECT_NE(result.status, PHASE_FAILED) << TqRunner::PhaseStatusName(result.status);
  EXPECT_TRUE(CEventJournal::Instance().Has(kEvMountFailed));
  EXPECT_EQ(nfs_->MountCommands().size(), 3u);
  ExpectNothingLeft(jobId);
}

TEST_F(StageFreeRestoreE2e, TheQuitFlagFailsTheJob) {
  ASSERT_TRUE(BackUpCluster().Completed());
  const int64_t jobId = harness_->State().nextJobId;
  TQJobCtrlClientPtr control(new TQJobCtrlClient(jobId));
  TqRunner::JobResult result = Restore(control, [control](const TqRunner::RunnerEvent& event) {
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.text == "start")
      control->setQuitFlag(true);
  });
  EXPECT_EQ(result.status, PHASE_FAILED) << TqRunner::PhaseStatusName(result.status);
  ExpectNothingLeft(jobId);
}

}  // namespace
}  // namespace e2e
