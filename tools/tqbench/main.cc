// tqbench: measures the backup's data path on this machine. It generates a
// simulated cluster, runs a full backup job through the job harness into the
// archive store and, in the same run, copies the same snapshot files with
// `cp -r`, then prints both throughputs and their ratio; then restores the
// cluster in place from that backup against `cp -r` of the same files and a
// flush (RestoreBench). It also times the
// backup controller's collect-file generation over a large tree against
// `find` on the same tree. Everything is made in a scratch folder that is
// removed at the end.

#include <fcntl.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/FXString.h"
#include "platform/index/Sha256.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/PlatformInfo.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimTableDir.h"
#include "tools/lib/JobHarness.h"
#include "tools/tqbench/BenchSupport.h"
#include "tools/tqbench/CollectTimer.h"
#include "tools/tqbench/ProcessPairs.h"
#include "tools/tqbench/RestoreBench.h"
#include "tools/tqbench/ScaleSeries.h"
#include "tools/tqbench/TimingDataStream.h"

namespace {

namespace fs = std::filesystem;
using TqBench::Clock;
using TqBench::CountFiles;
using TqBench::MBps;
using TqBench::Median;
using TqBench::RunProgram;
using TqBench::SecondsSince;
using TqBench::Snapshot;
using TqBench::Spread;
using TqBench::SyncFileSystem;
using TqBench::TableDirs;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
// Files of one generated SSTable: Data.db, six small components, TOC.txt.
constexpr int kFilesPerSSTable = 8;
constexpr uint64_t kReserveBytes = 10ull << 30;  // free space left on the scratch disk
const char* const kCopySnapshot = "tqbench-copy";
const char* const kCollectSnapshot = "tqbench-collect";

const char* const kUsageText =
    "usage: tqbench [options]\n"
    "\n"
    "  --small              a quick run: 64 MB in 400 files, 4,000 collect-file entries\n"
    "  --bytes N            bytes of SSTable data to back up (default 2 GiB)\n"
    "  --files N            SSTable files to back up, at least (default 10,400)\n"
    "  --collect-files N    files of the collect-file tree (default 100,000)\n"
    "  --nodes N            nodes of the backed-up cluster (default 3)\n"
    "  --streams N          data streams of the backup jobs (default 16)\n"
    "  --runs N             rounds of copy and backup, timed runs of each\n"
    "                       collect-file generation, and pairs of each kind of\n"
    "                       --process-pairs (default 5; the copy's time swings\n"
    "                       most, so fewer than 5 rounds say little)\n"
    "  --scratch DIR        where to work (default /tmp); a folder tqbench-<pid> is\n"
    "                       made there and removed at the end\n"
    "  --keep               keep that folder\n"
    "  --no-sync-run        also run a second backup with the store's flushes off\n"
    "                       (ArchiveStore/nSyncWrites 0), timed with a flush of\n"
    "                       the file system at its end\n"
    "  --skip-backup        only the collect-file timing\n"
    "  --skip-collect       only the backup and copy timing\n"
    "  --skip-restore       no in-place restore rounds after the backup rounds\n"
    "  --scale              the scale series alone (or after --process-pairs):\n"
    "                       clusters of 5,000, 10,000, 20,000 and 80,000 small\n"
    "                       files backed up and restored in place\n"
    "                       by tqcass as whole processes, each job's time and peak\n"
    "                       memory with the load, then the largest run's time per\n"
    "                       file and peak memory against the 10,000-file run's\n"
    "  --scale-files N,...  the series' numbers of files (implies --scale)\n"
    "  --process-pairs      the whole-process pairs alone: tqcass restore of the\n"
    "                       --bytes/--files/--nodes cluster in each mode of\n"
    "                       --restore-modes against cp -r of the same files and a\n"
    "                       flush, then tqcass backup of a cluster of small files\n"
    "                       against cp -r of them and a flush; --runs pairs each,\n"
    "                       the copy first in the first pair, the job first in the\n"
    "                       next, and so on; each pair's times, ratio, load and the\n"
    "                       job's peak memory, then the ratios' median and range\n"
    "                       (with --scale, the scale series follows)\n"
    "  --restore-modes LIST the restore pairs' modes, of in-place, staged and\n"
    "                       loader, comma-separated, or none (implies\n"
    "                       --process-pairs; default all three)\n"
    "  --small-files N      SSTable files of about 2 KB of the backup pairs (default\n"
    "                       20,000; 0: no backup pairs; implies --process-pairs)\n"
    "\n"
    "MB is 10^6 bytes. The log of the backup jobs is <work>/home/tqbench.log.\n";

struct Options {
  uint64_t bytes = 2ull << 30;
  long files = 10400;
  long collectFiles = 100000;
  int nodes = 3;
  int streams = 16;
  int runs = 5;
  std::string scratch = "/tmp";
  bool keep = false;
  bool noSyncRun = false;
  bool skipBackup = false;
  bool skipCollect = false;
  bool skipRestore = false;
  std::vector<long> scaleFiles;  // the scale series alone, when not empty
  bool processPairs = false;     // the whole-process pairs alone
  std::vector<std::string> restoreModes = {"in-place", "staged", "loader"};
  long smallFiles = 20000;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // Counts fit an int; sizes and file numbers may be larger.
    auto value = [&](long long minimum, long long& out, long long maximum = INT_MAX) {
      if (i + 1 >= argc || !FXString::ParseDecimal(argv[i + 1], minimum, maximum, out)) {
        std::fprintf(stderr, "tqbench: %s needs a whole number of at least %lld\n", arg.c_str(),
                     minimum);
        return false;
      }
      ++i;
      return true;
    };
    long long n = 0;
    if (arg == "--small") {
      o.bytes = 64ull << 20;
      o.files = 400;
      o.collectFiles = 4000;
      o.nodes = 1;
    } else if (arg == "--bytes") {
      if (!value(1, n, LLONG_MAX)) return false;
      o.bytes = static_cast<uint64_t>(n);
    } else if (arg == "--files") {
      if (!value(1, n, LLONG_MAX)) return false;
      o.files = static_cast<long>(n);
    } else if (arg == "--collect-files") {
      if (!value(1, n, LLONG_MAX)) return false;
      o.collectFiles = static_cast<long>(n);
    } else if (arg == "--nodes") {
      if (!value(1, n)) return false;
      o.nodes = static_cast<int>(n);
    } else if (arg == "--streams") {
      if (!value(1, n)) return false;
      o.streams = static_cast<int>(n);
    } else if (arg == "--runs") {
      if (!value(1, n)) return false;
      o.runs = static_cast<int>(n);
    } else if (arg == "--scratch") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tqbench: --scratch needs a folder\n");
        return false;
      }
      o.scratch = argv[++i];
    } else if (arg == "--keep") {
      o.keep = true;
    } else if (arg == "--no-sync-run") {
      o.noSyncRun = true;
    } else if (arg == "--skip-backup") {
      o.skipBackup = true;
    } else if (arg == "--skip-collect") {
      o.skipCollect = true;
    } else if (arg == "--skip-restore") {
      o.skipRestore = true;
    } else if (arg == "--scale") {
      if (o.scaleFiles.empty()) o.scaleFiles = {5000, 10000, 20000, 80000};
    } else if (arg == "--scale-files") {
      std::vector<std::string> parts;
      if (i + 1 < argc) FXString::Split(argv[i + 1], ",", parts);
      o.scaleFiles.clear();
      for (const std::string& part : parts) {
        long long count = 0;
        if (!FXString::ParseDecimal(part.c_str(), 1, INT_MAX, count)) {
          std::fprintf(stderr, "tqbench: --scale-files needs whole numbers of at least 1\n");
          return false;
        }
        o.scaleFiles.push_back(static_cast<long>(count));
      }
      if (o.scaleFiles.empty()) {
        std::fprintf(stderr, "tqbench: --scale-files needs whole numbers of at least 1\n");
        return false;
      }
      ++i;
    } else if (arg == "--process-pairs") {
      o.processPairs = true;
    } else if (arg == "--restore-modes") {
      std::vector<std::string> modes;
      if (i + 1 < argc) FXString::Split(argv[i + 1], ",", modes);
      if (modes.size() == 1 && modes.front() == "none") {
        modes.clear();
      } else if (modes.empty()) {
        modes.push_back("");  // refused below
      }
      for (const std::string& mode : modes) {
        if (mode != "in-place" && mode != "staged" && mode != "loader") {
          std::fprintf(stderr,
                       "tqbench: --restore-modes needs in-place, staged or loader, "
                       "comma-separated, or none\n");
          return false;
        }
      }
      o.restoreModes = modes;
      o.processPairs = true;
      ++i;
    } else if (arg == "--small-files") {
      if (!value(0, n, LLONG_MAX)) return false;
      o.smallFiles = static_cast<long>(n);
      o.processPairs = true;
    } else {
      std::fprintf(stderr, "tqbench: unknown option %s\n%s", arg.c_str(), kUsageText);
      return false;
    }
  }
  return true;
}

bool Check(const CQiError& error) {
  if (!error.IsError()) return true;
  std::fprintf(stderr, "tqbench: %s\n", error.AsString(2).c_str());
  return false;
}

// The fixture options that give at least `files` SSTable files holding
// about `bytes` bytes over `nodes` nodes.
TqSim::FixtureOptions ClusterFor(uint64_t bytes, long files, int nodes, int keyspaces, int tables) {
  TqSim::FixtureOptions o;
  o.clusterName = "BenchCluster";
  o.nodes = nodes;
  o.keyspaces = keyspaces;
  o.tablesPerKeyspace = tables;
  o.replicationFactor = std::min(3, nodes);
  const long tablesTotal = static_cast<long>(nodes) * keyspaces * tables;
  const long sstables = (files + kFilesPerSSTable - 1) / kFilesPerSSTable;
  o.sstablesPerTable = static_cast<int>((sstables + tablesTotal - 1) / tablesTotal);
  const uint64_t count = static_cast<uint64_t>(tablesTotal) * o.sstablesPerTable;
  o.sstableSize = std::max<uint64_t>(1, bytes / count);
  o.commitLogSegments = 1;
  o.unflushedData = false;
  return o;
}

bool EnoughSpace(const std::string& scratch, uint64_t need) {
  struct statvfs st;
  if (statvfs(scratch.c_str(), &st) != 0) {
    std::fprintf(stderr, "tqbench: cannot read the free space of %s: %s\n", scratch.c_str(),
                 std::strerror(errno));
    return false;
  }
  const uint64_t free = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  std::printf("scratch: %s, %.1f GB free, this run needs about %.1f GB and keeps %.1f GB free\n",
              scratch.c_str(), free / 1e9, need / 1e9, kReserveBytes / 1e9);
  if (free < need + kReserveBytes) {
    std::fprintf(stderr, "tqbench: not enough free space in %s\n", scratch.c_str());
    return false;
  }
  return true;
}

// The disk's sustained write rate: one large file written and flushed, in
// MB/s. No data path that makes its writes durable can beat it.
double DiskWriteRate(const std::string& folder, uint64_t bytes) {
  const std::string path = folder + "/tqbench-disk-rate";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 0.0;
  std::vector<char> block(8 << 20, 'd');
  auto start = Clock::now();
  uint64_t written = 0;
  bool ok = true;
  while (ok && written < bytes) {
    ssize_t n = write(fd, block.data(), block.size());
    ok = n > 0;
    if (ok) written += static_cast<uint64_t>(n);
  }
  ok = ok && fdatasync(fd) == 0;
  const double seconds = SecondsSince(start);
  close(fd);
  unlink(path.c_str());
  return ok ? MBps(written, seconds) : 0.0;
}

// What one timed backup job did.
struct BackupRun {
  bool ok = false;
  double seconds = 0;
  std::vector<std::pair<std::string, double>> phaseSeconds;  // in order of their ends
  TqBench::StreamTimes times;
};

bool RunBackup(TqHarness::CJobHarness& harness, int streams, BackupRun& run) {
  TqHarness::BackupRequest request;
  request.numberOfStreams = streams;
  std::map<std::string, Clock::time_point> phaseStart;
  std::mutex mutex;
  request.observer = [&](const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kPhase) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (event.text == "start") {
      phaseStart[event.phase] = Clock::now();
    } else if (phaseStart.count(event.phase)) {
      run.phaseSeconds.emplace_back(event.phase, SecondsSince(phaseStart[event.phase]));
    }
  };
  TqRunner::JobSpec spec = harness.MakeSpec(request);
  spec.jobId = harness.State().nextJobId;
  TqRunner::StreamFactory store = harness.StoreStreams(spec);
  TqBench::StreamTimes& times = run.times;
  spec.streamFactory = [store, &times](const std::string& client, int stream) {
    return OBJECTOPSAPI::IDataStreamPtr(
        new TqBench::CTimingDataStream(store(client, stream), times));
  };
  TqRunner::JobResult result;
  auto start = Clock::now();
  CQiError error = harness.Run(spec, result);
  run.seconds = SecondsSince(start);
  if (!Check(error)) return false;
  run.ok = result.status == PHASE_COMPLETE;
  if (!run.ok) {
    std::fprintf(stderr, "tqbench: backup job %lld ended with status %d\n",
                 static_cast<long long>(result.jobId), result.status);
    for (const auto& phase : result.phases) {
      if (!phase.message.empty()) {
        std::fprintf(stderr, "  %s: %s\n", phase.name.c_str(), phase.message.c_str());
      }
    }
  }
  return run.ok;
}

void PrintBackup(const char* title, const BackupRun& run, uint64_t bytes) {
  std::printf("%s: %.2f s, %.1f MB/s", title, run.seconds, MBps(bytes, run.seconds));
  for (const auto& phase : run.phaseSeconds) {
    std::printf(", %s %.2f s", phase.first.c_str(), phase.second);
  }
  std::printf("\n");
  for (const auto& phase : run.phaseSeconds) {
    if (phase.first == "backup") {
      std::printf("  backup phase alone: %.1f MB/s\n", MBps(bytes, phase.second));
    }
  }
  const double items = static_cast<double>(std::max<uint64_t>(1, run.times.items.load()));
  std::printf(
      "  streams %d, items %llu, bytes %llu; time inside the store summed over streams: "
      "begin %.2f s, write+hash %.2f s, commit %.2f s (%.2f ms per item)\n",
      run.times.streams.load(), static_cast<unsigned long long>(run.times.items.load()),
      static_cast<unsigned long long>(run.times.bytes.load()), run.times.beginNs / 1e9,
      run.times.writeNs / 1e9, run.times.commitNs / 1e9, run.times.commitNs / 1e6 / items);
}

int BenchBackup(const Options& o, const std::string& work) {
  std::printf("\n== Full backup against cp -r of the same snapshot files ==\n");
  TqHarness::CJobHarness harness(work + "/home", {TQ_PLUGIN_PATH, TQ_PRIAM_COMMAND, TQ_DOCKER_DIR});
  if (!Check(harness.Open())) return kFailed;
  if (g_ptrLogWriter && g_ptrLogWriter->GetLogFile().empty()) {
    g_ptrLogWriter->SetLogFile(harness.Home() + "/tqbench.log");
  }
  TqSim::FixtureOptions fixture = ClusterFor(o.bytes, o.files, o.nodes, 4, 4);
  auto start = Clock::now();
  if (!Check(harness.CreateCluster(fixture))) return kFailed;
  SyncFileSystem(work);
  std::printf(
      "cluster: %d nodes x 4 keyspaces x 4 tables x %d SSTables of %llu bytes, made in "
      "%.1f s\n",
      fixture.nodes, fixture.sstablesPerTable, static_cast<unsigned long long>(fixture.sstableSize),
      SecondsSince(start));
  TqHarness::RegisterOptions registration;
  registration.maxStreams = std::max(4, o.streams);
  if (!Check(harness.Register(registration))) return kFailed;

  std::vector<std::string> dataDirs;
  for (const auto& node : harness.State().nodes) {
    dataDirs.insert(dataDirs.end(), node.dataDirs.begin(), node.dataDirs.end());
  }
  const std::vector<std::string> tableDirs = TableDirs(dataDirs);
  if (!Snapshot(tableDirs, kCopySnapshot)) return kFailed;
  std::vector<std::string> snapshotDirs;
  for (const auto& dir : tableDirs) {
    snapshotDirs.push_back(dir + "/snapshots/" + kCopySnapshot);
  }
  uint64_t files = 0, bytes = 0;
  CountFiles(snapshotDirs, files, bytes);
  std::printf("snapshot files: %llu files, %llu bytes (%.2f GB) in %zu table folders\n",
              static_cast<unsigned long long>(files), static_cast<unsigned long long>(bytes),
              bytes / 1e9, snapshotDirs.size());

  // Rounds of: cp -r of every snapshot folder, each under its own path below
  // the copy folder, and a flush of the file system; then the backup job and
  // a flush. The copy and the stored content of a round are removed before
  // the next one.
  const std::string copyDir = work + "/copy";
  std::vector<std::string> cp = {"cp", "-r", "--parents"};
  cp.insert(cp.end(), snapshotDirs.begin(), snapshotDirs.end());
  cp.push_back(copyDir);
  std::vector<double> copyRates, copySyncRates, backupRates, backupPhaseRates, ratios, syncRatios;
  std::vector<double> verifyRates, verifyRatios;
  for (int round = 1; round <= o.runs; ++round) {
    std::error_code ec;
    fs::remove_all(copyDir, ec);
    fs::create_directories(copyDir, ec);
    SyncFileSystem(work);
    start = Clock::now();
    if (!RunProgram(cp, "")) {
      std::fprintf(stderr, "tqbench: cp -r failed\n");
      return kFailed;
    }
    const double copySeconds = SecondsSince(start);
    const double copySyncSeconds = SyncFileSystem(copyDir);
    uint64_t copiedFiles = 0, copiedBytes = 0;
    {
      std::vector<std::string> copied;
      for (const auto& dir : snapshotDirs) copied.push_back(copyDir + dir);
      CountFiles(copied, copiedFiles, copiedBytes);
    }
    if (copiedFiles != files || copiedBytes != bytes) {
      std::fprintf(stderr, "tqbench: the copy holds %llu files of %llu bytes\n",
                   static_cast<unsigned long long>(copiedFiles),
                   static_cast<unsigned long long>(copiedBytes));
      return kFailed;
    }

    BackupRun backup;
    if (!RunBackup(harness, o.streams, backup)) return kFailed;
    const double backupSyncSeconds = SyncFileSystem(harness.SuiteHome());

    const double copyMBps = MBps(bytes, copySeconds);
    const double copySyncMBps = MBps(bytes, copySeconds + copySyncSeconds);
    const double backupMBps = MBps(bytes, backup.seconds);
    std::printf("\nround %d of %d\n", round, o.runs);
    std::printf("copy (cp -r): %.2f s, %.1f MB/s; with the flush after it (%.2f s): %.1f MB/s\n",
                copySeconds, copyMBps, copySyncSeconds, copySyncMBps);
    PrintBackup("backup (whole job)", backup, bytes);
    std::printf("  flush after the backup: %.2f s\n", backupSyncSeconds);
    std::printf("ratio backup / copy: %.2f (against cp -r and its flush: %.2f)\n",
                backupMBps / copyMBps, backupMBps / copySyncMBps);
    copyRates.push_back(copyMBps);
    copySyncRates.push_back(copySyncMBps);
    backupRates.push_back(backupMBps);
    for (const auto& phase : backup.phaseSeconds) {
      if (phase.first == "backup") backupPhaseRates.push_back(MBps(bytes, phase.second));
    }
    ratios.push_back(backupMBps / copyMBps);
    syncRatios.push_back(backupMBps / copySyncMBps);
    // Verifying the job reads back every stored byte and the files they
    // came from: against the backup of the same data.
    {
      TqHarness::VerifyReport report;
      auto verifyStart = Clock::now();
      CQiError error = harness.Verify(harness.State().nextJobId - 1, report);
      const double verifySeconds = SecondsSince(verifyStart);
      if (!Check(error)) return kFailed;
      if (!report.Ok()) {
        std::fprintf(stderr, "tqbench: the job did not verify: %zu problems\n",
                     report.problems.size());
        return kFailed;
      }
      const double verifyMBps = MBps(bytes, verifySeconds);
      std::printf("verify: %.2f s, %.1f MB/s, %d files; verify / backup: %.2f\n", verifySeconds,
                  verifyMBps, report.filesChecked, verifyMBps / backupMBps);
      verifyRates.push_back(verifyMBps);
      verifyRatios.push_back(verifyMBps / backupMBps);
    }
    // The last round's backup stays for the restore rounds.
    if (round < o.runs || o.skipRestore) {
      fs::remove_all(
          harness.SuiteHome() + "/store/" + std::to_string(harness.State().nextJobId - 1), ec);
    }
  }
  const double diskRate = DiskWriteRate(work, std::min<uint64_t>(bytes, 2ull << 30));
  std::printf("\n%d rounds, median (min to max):\n", o.runs);
  std::printf("  copy (cp -r)             %s MB/s\n", Spread(copyRates).c_str());
  std::printf("  copy and its flush       %s MB/s\n", Spread(copySyncRates).c_str());
  std::printf("  backup (whole job)       %s MB/s\n", Spread(backupRates).c_str());
  std::printf("  backup phase alone       %s MB/s\n", Spread(backupPhaseRates).c_str());
  std::printf("  verify of the job        %s MB/s (verify / backup %s)\n",
              Spread(verifyRates).c_str(), Spread(verifyRatios, "%.2f").c_str());
  std::printf("  disk write rate (one large file written and flushed): %.1f MB/s\n", diskRate);
  std::printf(
      "RESULT backup / (cp -r and its flush): %s; share of the disk's write rate: %.2f; "
      "backup / cp -r: %s\n",
      Spread(syncRatios, "%.2f").c_str(), diskRate > 0 ? Median(backupRates) / diskRate : 0.0,
      Spread(ratios, "%.2f").c_str());

  if (o.noSyncRun) {
    // The same job with the per-item flush off, on the same files.
    CRegistry::Instance().Set("ArchiveStore", "nSyncWrites", "0");
    BackupRun unsynced;
    bool ok = RunBackup(harness, o.streams, unsynced);
    CRegistry::Instance().Set("ArchiveStore", "nSyncWrites", "1");
    if (!ok) return kFailed;
    // Its own final flush belongs to it: only then is it as durable as the
    // other figures.
    unsynced.seconds += SyncFileSystem(harness.SuiteHome());
    PrintBackup("\nbackup without the store's flushes (nSyncWrites 0), with a flush at its end",
                unsynced, bytes);
    std::printf("  against the median copy and its flush: %.2f\n",
                MBps(bytes, unsynced.seconds) / Median(copySyncRates));
  }

  if (!o.skipRestore) {
    TqBench::RestoreBenchSetup restore;
    restore.runs = o.runs;
    restore.streams = o.streams;
    restore.work = work;
    restore.snapshotDirs = snapshotDirs;
    restore.files = files;
    restore.bytes = bytes;
    if (TqBench::CRestoreBench(harness, restore).Run() != kOk) return kFailed;
  }

  // SHA-256 of one thread over a buffer in memory, for the cost per byte.
  {
    std::vector<char> buffer(64 << 20, 'x');
    CSha256 digest;
    start = Clock::now();
    for (int i = 0; i < 4; ++i) digest.Update(buffer.data(), buffer.size());
    digest.FinishHex();
    std::printf("SHA-256, one thread: %.1f MB/s\n", MBps(4 * buffer.size(), SecondsSince(start)));
  }
  harness.Close();
  return kOk;
}

int BenchCollect(const Options& o, const std::string& work) {
  std::printf("\n== Collect-file generation against find ==\n");
  // One node: 5 keyspaces x 10 tables, small SSTables.
  TqSim::FixtureOptions fixture = ClusterFor(0, o.collectFiles, 1, 5, 10);
  fixture.sstableSize = 64;
  TqSim::FixtureResult result;
  std::string error;
  auto start = Clock::now();
  if (!TqSim::ClusterFixture::Generate(work + "/collect-cluster", fixture, result, error)) {
    std::fprintf(stderr, "tqbench: %s\n", error.c_str());
    return kFailed;
  }
  const std::vector<std::string> tableDirs = TableDirs(result.nodes.front().dataDirs);
  if (!Snapshot(tableDirs, kCollectSnapshot)) return kFailed;
  std::vector<std::string> snapshotDirs;
  for (const auto& dir : tableDirs) {
    snapshotDirs.push_back(dir + "/snapshots/" + kCollectSnapshot);
  }
  uint64_t files = 0, bytes = 0;
  CountFiles(snapshotDirs, files, bytes);
  SyncFileSystem(work);
  std::printf("tree: %llu files in %zu snapshot folders, made in %.1f s\n",
              static_cast<unsigned long long>(files), snapshotDirs.size(), SecondsSince(start));

  std::vector<std::string> find = {"find"};
  find.insert(find.end(), snapshotDirs.begin(), snapshotDirs.end());
  for (const char* a : {"-type", "f", "-printf", "%p|%s\\n"}) find.push_back(a);
  const std::string findOutput = work + "/find.out";

  std::vector<double> findSeconds, walkSeconds, splitSeconds, totalSeconds;
  TqBench::CollectTiming timing;
  for (int r = 0; r < o.runs; ++r) {
    start = Clock::now();
    if (!RunProgram(find, findOutput)) {
      std::fprintf(stderr, "tqbench: find failed\n");
      return kFailed;
    }
    findSeconds.push_back(SecondsSince(start));

    const std::string jobResults = work + "/JobResults/" + std::to_string(r + 1);
    TqBench::CCollectTimer timer(tableDirs, kCollectSnapshot, jobResults, 2 * o.streams);
    if (!Check(timer.Run(timing))) return kFailed;
    walkSeconds.push_back(timing.walkSeconds);
    splitSeconds.push_back(timing.splitSeconds);
    totalSeconds.push_back(timing.walkSeconds + timing.splitSeconds);
    fs::remove_all(jobResults);
  }
  uint64_t lines = 0;
  if (FILE* f = std::fopen(findOutput.c_str(), "r")) {
    for (int c; (c = std::fgetc(f)) != EOF;) lines += c == '\n';
    std::fclose(f);
  }
  std::printf("entries: collect file %lld (%zu table folders + files), find %llu\n", timing.entries,
              tableDirs.size(), static_cast<unsigned long long>(lines));
  std::printf("find -printf '%%p|%%s': best %.3f s, median %.3f s\n",
              *std::min_element(findSeconds.begin(), findSeconds.end()), Median(findSeconds));
  std::printf(
      "collect files (walk + split into %d files): best %.3f s, median %.3f s "
      "(walk %.3f s, split %.3f s)\n",
      timing.collectFiles, *std::min_element(totalSeconds.begin(), totalSeconds.end()),
      Median(totalSeconds), Median(walkSeconds), Median(splitSeconds));
  const double best = *std::min_element(totalSeconds.begin(), totalSeconds.end());
  std::printf("ratio collect files / find (best): %.2f\n",
              best / std::max(1e-9, *std::min_element(findSeconds.begin(), findSeconds.end())));
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kUsageText, stdout);
      return kOk;
    }
  }
  if (!ParseOptions(argc, argv, o)) return kUsage;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  // Cluster, store and copy of the backup test, plus the collect-file tree.
  uint64_t need = 0;
  for (long files : o.scaleFiles) need += files * 8192ull * 4;
  if (o.processPairs) {
    // The cluster, its backup, a restore's files beside the snapshot, the
    // staged files and the loader's copies (or the copy's); the small files.
    if (!o.restoreModes.empty()) need += 8 * o.bytes + o.files * 8192ull * 8;
    need += o.smallFiles * 8192ull * 4;
  } else if (o.scaleFiles.empty()) {
    if (!o.skipBackup) need += (o.noSyncRun ? 4 : 3) * o.bytes + o.files * 8192ull * 3;
    // Restored files beside the snapshot that keeps the copy's source.
    if (!o.skipBackup && !o.skipRestore) need += 2 * o.bytes + o.files * 8192ull * 2;
    if (!o.skipCollect) need += o.collectFiles * 4096ull * 2;
  }
  std::error_code ec;
  fs::create_directories(o.scratch, ec);
  if (!EnoughSpace(o.scratch, need)) return kFailed;
  const std::string work =
      fs::absolute(o.scratch).lexically_normal().string() + "/tqbench-" + std::to_string(getpid());
  if (!fs::create_directories(work, ec)) {
    std::fprintf(stderr, "tqbench: cannot make %s\n", work.c_str());
    return kFailed;
  }
  std::printf("work folder: %s\n", work.c_str());

  int rc = kOk;
  if (o.processPairs) {
    TqBench::ProcessPairsSetup setup;
    setup.tqcass = TQ_TQCASS_PATH;
    setup.work = work;
    setup.pairs = o.runs;
    setup.streams = o.streams;
    const TqSim::FixtureOptions cluster = ClusterFor(o.bytes, o.files, o.nodes, 4, 4);
    setup.nodes = cluster.nodes;
    setup.sstablesPerTable = cluster.sstablesPerTable;
    setup.sstableSize = cluster.sstableSize;
    setup.restoreModes = o.restoreModes;
    setup.smallFiles = o.smallFiles;
    rc = TqBench::CProcessPairs(setup).Run() == 0 ? kOk : kFailed;
  }
  if (rc == kOk && !o.scaleFiles.empty()) {
    rc = TqBench::CScaleSeries(TQ_TQCASS_PATH, work, o.scaleFiles).Run() == 0 ? kOk : kFailed;
  }
  if (!o.processPairs && o.scaleFiles.empty()) {
    if (!o.skipBackup) rc = BenchBackup(o, work);
    if (rc == kOk && !o.skipCollect) rc = BenchCollect(o, work);
  }
  if (o.keep) {
    std::printf("\nkept %s\n", work.c_str());
  } else {
    fs::remove_all(work, ec);
  }
  return rc;
}
