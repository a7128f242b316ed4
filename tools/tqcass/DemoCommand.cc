// "tqcass demo": a 3-node cluster, its registration, a full backup, a change,
// an incremental backup, the jobs and both verified, in a home of its own.

#include <cstdio>
#include <filesystem>

#include "platform/base/QiFile.h"
#include "tools/lib/HomeLock.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace fs = std::filesystem;

namespace {

class CDemoCommand : public CTqcassCommand {
 public:
  // Marks a home the demo made: only such a home is replaced by a new demo.
  static constexpr const char* kMarker = ".tqcass-demo";
  // The keyspace the demo loses and restores.
  static constexpr const char* kDamaged = "ks1";

  const char* Name() const override { return "demo"; }
  const char* Summary() const override {
    return "A 3-node cluster, a full backup, a change, an incremental backup, both verified, "
           "a keyspace damaged, restored in place and verified "
           "(home ./tqcass-demo; a new demo replaces a home an earlier demo made)";
  }
  std::string DefaultHome() const override { return "tqcass-demo"; }
  void Define(CLI::App&) override {}

  int CheckHome(const std::string& home) override {
    std::error_code ec;
    if (!fs::exists(home, ec) || fs::exists(fs::path(home) / kMarker, ec)) return kOk;
    if (fs::is_directory(home, ec) && fs::is_empty(home, ec)) return kOk;
    CCommandContext::Fail(home +
                          " is not a home an earlier demo made; its files stay as they are. "
                          "Name a new folder with --home");
    return kFailed;
  }

  int PrepareHome(CCommandContext& context) override {
    // Everything of the earlier demo goes but the lock this run holds.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(context.Home(), ec)) {
      if (entry.path().filename() == TqHarness::CHomeLock::kFileName) continue;
      std::error_code e;
      fs::remove_all(entry.path(), e);
      if (e) {
        CCommandContext::Fail("cannot remove " + entry.path().string() + ": " + e.message());
        return kFailed;
      }
    }
    const std::string marker = (fs::path(context.Home()) / kMarker).string();
    if (!CCommandContext::Check(CQiFile::ReplaceWholeFile(marker.c_str(), "tqcass demo\n"))) {
      return kFailed;
    }
    return kOk;
  }

  int Run(CCommandContext& context) override {
    TqHarness::CJobHarness& harness = context.Harness();
    std::printf("== a simulated 3-node cluster\n");
    TqSim::FixtureOptions cluster;
    cluster.nodes = 3;
    cluster.sstablesPerTable = 1;
    cluster.incrementalBackups = true;
    if (!CCommandContext::Check(harness.CreateCluster(cluster))) return kFailed;
    std::printf("cluster %s: %zu nodes under %s\n", harness.State().clusterName.c_str(),
                harness.State().nodes.size(), harness.State().clusterRoot.c_str());
    std::printf("\n== its registration\n");
    if (!CCommandContext::Check(harness.Register())) return kFailed;
    std::printf("registered client %s, %zu node clients\n",
                harness.State().coordinatorClient.c_str(), harness.State().nodes.size());
    std::printf("\n== a full backup\n");
    int64_t full = 0, incremental = 0;
    TqHarness::BackupRequest request;
    request.level = TQBkpLevel_Full;
    int status = RunBackupJob(context, request, false, full);
    if (status != kOk) return status;
    std::printf("\n== new data on every table\n");
    int added = 0;
    if (!CCommandContext::Check(harness.ChangeData(1, 2048, added))) return kFailed;
    std::printf("wrote %d new SSTables\n", added);
    std::printf("\n== an incremental backup\n");
    request.level = TQBkpLevel_Incremental;
    if ((status = RunBackupJob(context, request, false, incremental)) != kOk) return status;
    std::printf("\n== verification\n");
    const int first = VerifyJob(harness, full);
    const int second = VerifyJob(harness, incremental);
    if (first != kOk || second != kOk) return kFailed;
    std::printf("\n== lost data: every SSTable of keyspace %s removed\n", kDamaged);
    status = DamageData(harness, kDamaged, "");
    if (status != kOk) return status;
    std::printf("\n== restored in place from the incremental backup\n");
    RestorePlan plan;
    plan.backupJob = incremental;
    plan.keyspaces = {kDamaged};
    int64_t restore = 0;
    if ((status = RunRestoreJob(context, plan, false, restore)) != kOk) return status;
    std::printf("\n== its verification\n");
    if (VerifyRestoreJob(harness, restore, plan) != kOk) return kFailed;
    std::printf("\nboth backups and the restore verified; state kept in %s\n",
                harness.Home().c_str());
    return kOk;
  }
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeDemoCommand() {
  return std::unique_ptr<CTqcassCommand>(new CDemoCommand());
}

}  // namespace TqCass
