#include "tools/tqbench/ProcessPairs.h"

#include <cstdio>
#include <filesystem>

#include "tools/lib/JobHarness.h"
#include "tools/tqbench/BenchSupport.h"
#include "tools/tqbench/RestorePauses.h"

namespace TqBench {

namespace fs = std::filesystem;

namespace {

constexpr int kKeyspaces = 4;
constexpr int kTables = 4;
constexpr int kFilesPerSSTable = 8;
constexpr long kSmallFileBytes = 2000;  // data of each small SSTable
const char* const kSnapshot = "tqbench-pairs";
// The backup job every restore restores: the first job of its home.
const char* const kBackupJob = "1";

void RemoveAndFlush(const std::string& path, const std::string& work) {
  std::error_code ec;
  fs::remove_all(path, ec);
  SyncFileSystem(work);
}

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

ProcessRun CProcessPairs::TqcassRun(const Home& home, const std::vector<std::string>& args,
                                    const std::vector<std::string>& env) const {
  std::vector<std::string> all = {setup_.tqcass, "--home", home.path};
  all.insert(all.end(), args.begin(), args.end());
  return RunMeasured(all, home.log, env);
}

bool CProcessPairs::MakeHome(const std::vector<std::string>& clusterArgs, Home& home) const {
  home.log = home.path + ".out";
  std::vector<std::string> cluster = {"cluster"};
  cluster.insert(cluster.end(), clusterArgs.begin(), clusterArgs.end());
  const auto start = Clock::now();
  if (!Tqcass(home, cluster) ||
      !Tqcass(home, {"register", "--streams", std::to_string(setup_.streams)})) {
    std::fprintf(stderr, "tqbench: cannot make the cluster of %s (see %s)\n", home.path.c_str(),
                 home.log.c_str());
    return false;
  }
  TqHarness::CJobHarness harness(home.path, {TQ_PLUGIN_PATH, TQ_PRIAM_COMMAND, TQ_DOCKER_DIR});
  CQiError error = harness.OpenForReading();
  if (error.IsError()) {
    std::fprintf(stderr, "tqbench: %s\n", error.AsString(2).c_str());
    return false;
  }
  std::vector<std::string> dataDirs;
  for (const auto& node : harness.State().nodes) {
    dataDirs.insert(dataDirs.end(), node.dataDirs.begin(), node.dataDirs.end());
  }
  harness.Close();
  const std::vector<std::string> tableDirs = TableDirs(dataDirs);
  if (!Snapshot(tableDirs, kSnapshot)) return false;
  for (const auto& dir : tableDirs) {
    home.snapshotDirs.push_back(dir + "/snapshots/" + kSnapshot);
  }
  CountFiles(home.snapshotDirs, home.files, home.bytes);
  SyncFileSystem(setup_.work);
  std::printf(
      "cluster (tqcass cluster %s): %llu snapshot files, %llu bytes (%.2f GB) in %zu table "
      "folders, made in %.1f s\n",
      [&] {
        std::string text;
        for (const auto& a : clusterArgs) text += (text.empty() ? "" : " ") + a;
        return text;
      }()
          .c_str(),
      static_cast<unsigned long long>(home.files), static_cast<unsigned long long>(home.bytes),
      home.bytes / 1e9, home.snapshotDirs.size(), SecondsSince(start));
  return true;
}

SideRun CProcessPairs::Copy(const Home& home, const std::string& into, int extra) const {
  SideRun side;
  std::error_code ec;
  fs::create_directories(into, ec);
  std::vector<std::string> cp = {"/bin/cp", "-r", "--parents"};
  cp.insert(cp.end(), home.snapshotDirs.begin(), home.snapshotDirs.end());
  cp.push_back(into);
  const auto start = Clock::now();
  bool ok = RunMeasured(cp, "/dev/null").ok;
  for (int i = 1; ok && i <= extra; ++i) {
    ok = RunMeasured({"/bin/cp", "-r", into, into + "-" + std::to_string(i)}, "/dev/null").ok;
  }
  SyncFileSystem(into);
  side.seconds = SecondsSince(start);
  side.ok = ok;
  // The copies go before the other side runs; their removal is not timed.
  RemoveAndFlush(into, setup_.work);
  for (int i = 1; i <= extra; ++i) RemoveAndFlush(into + "-" + std::to_string(i), setup_.work);
  return side;
}

bool CProcessPairs::RestorePairs(const Home& home, const std::string& mode) const {
  std::printf("\n== Restore (%s) against cp -r of the same files and a flush, %d pairs ==\n",
              mode.c_str(), setup_.pairs);
  const std::string stage = home.path + "/stage";
  const std::string copyInto = setup_.work + "/copy-" + mode;
  // The loader writes the files into the staging folder, then into every
  // node holding the table (all nodes: each keyspace is replicated to each).
  const int extraCopies = mode == "loader" ? setup_.nodes : 0;
  if (mode == "loader") {
    std::printf(
        "the copy: cp -r of the snapshot files into a staging folder, then %d cp -r of that "
        "folder (one per node the loader writes to), then a flush\n",
        extraCopies);
  } else if (mode == "staged") {
    std::printf("the copy: cp -r of the snapshot files into a staging folder, then a flush\n");
  } else {
    std::printf("the copy: cp -r of the snapshot files, then a flush\n");
  }
  const std::string logFile = home.path + "/tqcass.log";
  CPairSeries::Side job = [&]() {
    SideRun side;
    const uint64_t logStart = FileSize(logFile);
    // The level that logs where each fixed pause starts: one line per node.
    const ProcessRun run = TqcassRun(home, {"restore", "--quiet", "--mode", mode, kBackupJob},
                                     {"TQ_LOG_LEVEL=" + std::to_string(RestorePauses::kLogLevel)});
    side.ok = run.ok;
    side.seconds = run.seconds + SyncFileSystem(home.path);
    side.maxRssKiB = run.maxRssKiB;
    const PauseFigures pauses = RestorePauses::InLog(logFile, logStart);
    side.pauseSeconds = pauses.seconds;
    std::printf(
        "  restore's log: %d pauses after the ownership change in %d wave%s of %d s (%d to %d s "
        "from a pause's start to its thread's next line)\n",
        pauses.pauses, pauses.waves, pauses.waves == 1 ? "" : "s",
        RestorePauses::kOwnershipPauseSeconds, pauses.minGap, pauses.maxGap);
    if (mode != "in-place") {
      // The staged files go, and the loaded rows with an in-place restore
      // (untimed) that truncates the tables: every pair starts alike.
      RemoveAndFlush(stage, setup_.work);
      if (mode == "loader" && side.ok) {
        side.ok = Tqcass(home, {"restore", "--quiet", kBackupJob});
        SyncFileSystem(setup_.work);
      }
    }
    return side;
  };
  CPairSeries::Side copy = [&]() { return Copy(home, copyInto, extraCopies); };
  std::vector<PairFigures> pairs;
  return CPairSeries("restore " + mode, setup_.pairs, copy, job).Run(pairs);
}

bool CProcessPairs::BackupPairs() const {
  const long tables = static_cast<long>(3) * kKeyspaces * kTables;
  const long sstables =
      (setup_.smallFiles + tables * kFilesPerSSTable - 1) / (tables * kFilesPerSSTable);
  std::printf(
      "\n== Backup of small files against cp -r of the same files and a flush, %d pairs ==\n",
      setup_.pairs);
  Home home;
  home.path = setup_.work + "/pairs-small";
  if (!MakeHome({"--nodes", "3", "--keyspaces", std::to_string(kKeyspaces), "--tables",
                 std::to_string(kTables), "--sstables", std::to_string(sstables), "--size",
                 std::to_string(kSmallFileBytes)},
                home)) {
    return false;
  }
  std::printf("backup: tqcass backup --streams %d (full)\n", setup_.streams);
  CPairSeries::Side job = [&]() {
    SideRun side;
    const ProcessRun run =
        TqcassRun(home, {"backup", "--quiet", "--streams", std::to_string(setup_.streams)});
    side.ok = run.ok;
    side.seconds = run.seconds + SyncFileSystem(home.path);
    side.maxRssKiB = run.maxRssKiB;
    return side;
  };
  CPairSeries::Side copy = [&]() { return Copy(home, setup_.work + "/copy-small", 0); };
  std::vector<PairFigures> pairs;
  return CPairSeries("backup", setup_.pairs, copy, job).Run(pairs);
}

int CProcessPairs::Run() const {
  bool ok = true;
  if (!setup_.restoreModes.empty()) {
    std::printf("\n== Whole-process restore pairs ==\n");
    Home home;
    home.path = setup_.work + "/pairs-restore";
    ok = MakeHome({"--nodes", std::to_string(setup_.nodes), "--keyspaces",
                   std::to_string(kKeyspaces), "--tables", std::to_string(kTables), "--sstables",
                   std::to_string(setup_.sstablesPerTable), "--size",
                   std::to_string(setup_.sstableSize)},
                  home) &&
         Tqcass(home, {"backup", "--quiet", "--streams", std::to_string(setup_.streams)});
    if (ok) {
      SyncFileSystem(setup_.work);
      std::printf(
          "restored: backup job 1 (full, %d streams), by tqcass restore --mode <mode> (6 "
          "streams, in place: tables truncated); its time ends with a flush after it\n",
          setup_.streams);
      std::printf(
          "fixed pauses taken out: the %d s each node's restore controller pauses after the "
          "ownership change of its restored files (in place and loader), counted from the "
          "restore's log; nodes pausing together count once\n",
          RestorePauses::kOwnershipPauseSeconds);
    }
    for (size_t i = 0; ok && i < setup_.restoreModes.size(); ++i) {
      ok = RestorePairs(home, setup_.restoreModes[i]);
    }
  }
  if (ok && setup_.smallFiles > 0) ok = BackupPairs();
  std::printf(
      "\ntqbench's own peak RSS: %.1f MiB (a job's peak below it would show as this figure)\n",
      static_cast<double>(OwnMaxRssKiB()) / 1024.0);
  return ok ? 0 : 1;
}

}  // namespace TqBench
