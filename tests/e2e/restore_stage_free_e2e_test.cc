// Stage-free restores through the runner: the coordinator exports the backup
// as a share of the media agent's file server, every node mounts it with the
// mount stand-in and loads each table from it through its Priam stand-in,
// then unmounts it; the share is deleted at the end whatever happened.

#include <gtest/gtest.h>
#include <unistd.h>

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

constexpr uint32_t kEvMountDirDeleteFailed = 0x6000470;
constexpr uint32_t kEvUnmountFailed = 0x6000471;
constexpr uint32_t kEvTableReloadFailed = 0x6000472;
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
    const std::vector<std::string> folders = MountFolders();
    nfs_.reset();
    // A failed mount leaves its (empty) folder; it is not left on the machine.
    for (const std::string& folder : folders) ::rmdir(folder.c_str());
    E2eTest::TearDown();
  }

  TqRunner::JobResult Restore(TQJobCtrlClientPtr control = TQJobCtrlClientPtr(),
                              std::function<void(const TqRunner::RunnerEvent&)> observer = {}) {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setSubclientRestore(1);
    options.setStageFreeRestore(1);
    options.setTruncateTables(1);
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

  // Nothing is mounted or exported any more.
  void ExpectNothingMountedOrExported(int64_t jobId) {
    EXPECT_TRUE(nfs_->Mounted().empty());
    Zelk::CZelkShareStore store(harness_->SuiteHome());
    EXPECT_TRUE(store.List().empty());
    EXPECT_FALSE(fs::exists(store.ExportPath("share" + std::to_string(jobId))));
  }
  // ... and no mount folder is left.
  void ExpectNothingLeft(int64_t jobId) {
    ExpectNothingMountedOrExported(jobId);
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
  //
  // The nodes mount the share at "/TqCassandraMountDir<job id>", a folder
  // of the machine's root that test programs running at the same time
  // share: the jobs here take ids of this process's own.
  TqRunner::JobResult BackUpCluster(const TqSim::FixtureOptions& options = SmallCluster()) {
    MakeCluster(options);
    SClientRecord agent;
    EXPECT_TRUE(
        CClientDirectory::Instance().FindByName(TqHarness::CJobHarness::kCoordinatorClient, agent));
    agent.operatingSystemId = kLinux;
    CClientDirectory::Instance().Add(agent);
    TqHarness::BackupRequest request;
    request.level = TQBkpLevel_Full;
    TqRunner::JobSpec spec = harness_->MakeSpec(request);
    spec.jobId = static_cast<int64_t>(::getpid()) * 100;
    TqRunner::JobResult result;
    CQiError error = harness_->Run(spec, result);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    EXPECT_EQ(harness_->State().nextJobId, spec.jobId + 1);
    return result;
  }

  static constexpr uint32_t kLinux = 2;
  std::unique_ptr<TqSim::CSimNfsMount> nfs_;
};

TEST_F(StageFreeRestoreE2e, EveryBackedUpSSTableIsLoadedLiveAndNothingIsLeft) {
  TqRunner::JobResult backup = BackUpCluster();
  ASSERT_TRUE(backup.Completed());
  const auto before = LiveFiles(harness_->State().clusterRoot);
  const int64_t jobId = harness_->State().nextJobId;
  CLogCapture log;
  TqRunner::JobResult result = Restore();
  EXPECT_TRUE(result.Completed()) << TqRunner::PhaseStatusName(result.status) << " "
                                  << (result.phases.empty() ? "" : result.phases[0].message);

  // Every node mounted the share once, at the job's folder, and unmounted it.
  const std::string folder = "/TqCassandraMountDir" + std::to_string(jobId);
  EXPECT_EQ(MountFolders(), std::vector<std::string>(3, folder));
  EXPECT_EQ(nfs_->UmountTargets(), std::vector<std::string>(3, folder));
  // No node failed to unmount or to remove its folder.
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvUnmountFailed));
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvMountDirDeleteFailed));
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvTableReloadFailed));

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

  // A table is never truncated after a node began loading it: every
  // truncation of a table has ended before the first load of that table.
  std::map<std::string, size_t> truncated, firstLoad;  // "<ks>.<table>" -> line
  const auto lines = log.Lines();
  const std::string truncatedText = "Successfully truncated table ";
  const std::string loadText = "Loading SSTables from path: " + folder + "/";
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& text = lines[i].text;
    if (text.rfind(truncatedText, 0) == 0) {
      truncated[text.substr(truncatedText.size())] = i;
    } else if (text.rfind(loadText, 0) == 0) {
      // "<cluster>/<dc>/<node>/<ks>/<table>" below the folder
      const fs::path below(text.substr(loadText.size()));
      const std::string table =
          below.parent_path().filename().string() + "." + below.filename().string();
      firstLoad.emplace(table, i);
    }
  }
  // 2 keyspaces of 2 tables, each truncated and loaded from each node.
  EXPECT_EQ(truncated.size(), 4u);
  EXPECT_EQ(firstLoad.size(), 4u);
  for (const auto& load : firstLoad) {
    auto truncation = truncated.find(load.first);
    ASSERT_NE(truncation, truncated.end()) << load.first << " was loaded but not truncated";
    EXPECT_LT(truncation->second, load.second) << load.first;
  }
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

TEST_F(StageFreeRestoreE2e, AFailedMountLeavesTheJobPendingWithItsEvent) {
  ASSERT_TRUE(BackUpCluster().Completed());
  nfs_->FailMounts(true);
  const int64_t jobId = harness_->State().nextJobId;
  TqRunner::JobResult result = Restore();
  // Pending (status 3), never a success nor a failure.
  EXPECT_EQ(result.status, PHASE_COMPLETE_WITH_WARNINGS)
      << TqRunner::PhaseStatusName(result.status);
  const std::string folder = "/TqCassandraMountDir" + std::to_string(jobId);
  ASSERT_FALSE(nfs_->MountCommands().empty());
  const std::string line = nfs_->MountCommands()[0];
  const size_t open = line.find('"');
  const std::string share = line.substr(open + 1, line.find('"', open + 1) - open - 1);
  EXPECT_EQ(share.substr(share.find(':')), ":/share" + std::to_string(jobId));
  auto events = CEventJournal::Instance().Find(kEvMountFailed);
  ASSERT_EQ(events.size(), 3u);
  for (const auto& event : events) {
    EXPECT_EQ(event.args, (std::vector<std::string>{share, folder, "nolock"}));
  }
  EXPECT_EQ(nfs_->MountCommands().size(), 3u);
  EXPECT_TRUE(nfs_->UmountTargets().empty());
  ExpectNothingMountedOrExported(jobId);
}

// Nodes in containers cannot take a stage-free restore (their controllers
// find no folder of theirs for the job, and no load could be addressed to a
// Priam under the machine's name): a restore that loaded nothing is never a
// success, and nothing is left mounted or exported.
TEST_F(StageFreeRestoreE2e, ARestoreOntoNodesInContainersThatLoadedNothingIsNoSuccess) {
  TqSim::FixtureOptions options = SmallCluster();
  options.docker = true;
  ASSERT_TRUE(BackUpCluster(options).Completed());
  const int64_t jobId = harness_->State().nextJobId;
  CLogCapture log;
  TqRunner::JobResult result = Restore();
  // Pending (status 3), never a success.
  EXPECT_EQ(result.status, PHASE_COMPLETE_WITH_WARNINGS)
      << TqRunner::PhaseStatusName(result.status)
      << (result.phases.empty() ? "" : " " + result.phases[0].message);
  EXPECT_FALSE(log.Contains("Loading SSTables from path: "));
  EXPECT_TRUE(log.Contains("Marking job pending as reload of tables failed on atleast one node"));
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

// A Priam request that fails on every node: a failed load, or a node start
// message that cannot be made (no node starts, so nothing is loaded). Either
// way the restore is pending, never a success, and the share is gone.
struct FailedRequestCase {
  const char* name;
  const char* request;
  bool loads;  // a load was tried (and failed)
};

class StageFreeFailedRequest : public StageFreeRestoreE2e,
                               public ::testing::WithParamInterface<FailedRequestCase> {};

TEST_P(StageFreeFailedRequest, LeavesTheRestorePendingAndNothingExported) {
  const FailedRequestCase& k = GetParam();
  ASSERT_TRUE(BackUpCluster().Completed());
  ASSERT_FALSE(harness_
                   ->EditCluster([&k](TqSim::SimCluster& cluster) {
                     TqSim::SimFault fault;
                     fault.when = "request";
                     fault.request = k.request;
                     fault.action = "fail";
                     fault.text = "injected";
                     cluster.faults.push_back(fault);
                   })
                   .IsError());
  const int64_t jobId = harness_->State().nextJobId;
  CLogCapture log;
  TqRunner::JobResult result = Restore();
  EXPECT_EQ(result.status, PHASE_COMPLETE_WITH_WARNINGS)
      << TqRunner::PhaseStatusName(result.status)
      << (result.phases.empty() ? "" : " " + result.phases[0].message);
  EXPECT_EQ(log.Contains("Loading SSTables from path: "), k.loads);
  int reloadCauses = 0;
  for (const auto& cause : result.pendingCauses) reloadCauses += cause.id == kEvTableReloadFailed;
  EXPECT_EQ(reloadCauses > 0, k.loads);
  ExpectNothingLeft(jobId);
}

INSTANTIATE_TEST_SUITE_P(Requests, StageFreeFailedRequest,
                         ::testing::Values(FailedRequestCase{"Load", "ExecuteBatch", true},
                                           FailedRequestCase{"NodeStart", "getMeta", false}),
                         [](const ::testing::TestParamInfo<FailedRequestCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace e2e
