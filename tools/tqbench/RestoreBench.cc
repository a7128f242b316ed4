#include "tools/tqbench/RestoreBench.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "common/RestoreOptionRecords.h"
#include "tools/lib/RestoreJobOptions.h"
#include "tools/tqbench/BenchSupport.h"

namespace TqBench {

namespace fs = std::filesystem;

bool CRestoreBench::RunRestore(Round& round) {
  App::CassandraRestoreOptions options;
  options.setSubclientRestore(1);
  options.setRecover(1);
  options.setUseSSTableLoader(0);
  options.setTruncateTables(1);
  options.setStagingLocation(setup_.work + "/stage");
  TqHarness::RestoreRequest request;
  request.phases = {"restore"};
  request.paths = {"/"};
  request.numberOfStreams = setup_.streams;
  request.jobOptionsXml = TqHarness::RestoreJobOptionsXml(options);

  std::mutex mutex;
  Clock::time_point phaseStart;
  bool started = false, dataDone = false;
  // Each stream's totals so far, by client and stream.
  std::map<std::pair<std::string, int>, std::pair<int64_t, int64_t>> totals;
  request.observer = [&](const TqRunner::RunnerEvent& event) {
    std::lock_guard<std::mutex> lock(mutex);
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "restore" &&
        event.text == "start") {
      phaseStart = Clock::now();
      started = true;
    } else if (event.kind == TqRunner::RunnerEvent::kTask && started && !dataDone &&
               event.tasksTotal > 0 && event.tasksComplete == event.tasksTotal) {
      round.dataSeconds = SecondsSince(phaseStart);
      dataDone = true;
    } else if (event.kind == TqRunner::RunnerEvent::kProgress) {
      totals[{event.clientName, event.streamNumber}] = {event.items, event.bytes};
    }
  };
  TqRunner::JobSpec spec;
  CQiError error = harness_.MakeRestoreSpec(request, spec);
  if (error.IsError()) {
    std::fprintf(stderr, "tqbench: %s\n", error.AsString(2).c_str());
    return false;
  }
  TqRunner::JobResult result;
  const Clock::time_point start = Clock::now();
  error = harness_.Run(spec, result);
  round.jobSeconds = SecondsSince(start);
  if (error.IsError()) {
    std::fprintf(stderr, "tqbench: %s\n", error.AsString(2).c_str());
    return false;
  }
  round.flushSeconds = SyncFileSystem(setup_.work);
  for (const auto& stream : totals) {
    round.files += stream.second.first;
    round.bytes += stream.second.second;
  }
  if (!result.Completed() || !dataDone) {
    std::fprintf(stderr, "tqbench: restore job %lld ended %s\n",
                 static_cast<long long>(result.jobId), TqRunner::PhaseStatusName(result.status));
    for (const auto& phase : result.phases) {
      if (!phase.message.empty()) {
        std::fprintf(stderr, "  %s: %s\n", phase.name.c_str(), phase.message.c_str());
      }
    }
    return false;
  }
  // The restore must have brought back every file the copy copied (the
  // snapshots' manifest.json files name their own snapshots, so the bytes
  // differ by those).
  const double bytesOff = static_cast<double>(round.bytes) - static_cast<double>(setup_.bytes);
  if (static_cast<uint64_t>(round.files) != setup_.files ||
      bytesOff * bytesOff > 1e-6 * static_cast<double>(setup_.bytes) * setup_.bytes) {
    std::fprintf(stderr, "tqbench: the restore placed %lld files of %lld bytes, not %llu of %llu\n",
                 static_cast<long long>(round.files), static_cast<long long>(round.bytes),
                 static_cast<unsigned long long>(setup_.files),
                 static_cast<unsigned long long>(setup_.bytes));
    return false;
  }
  return true;
}

int CRestoreBench::Run() {
  std::printf("\n== In-place restore against cp -r of the same files and a flush ==\n");
  const std::string copyDir = setup_.work + "/copy";
  std::vector<std::string> cp = {"cp", "-r", "--parents"};
  cp.insert(cp.end(), setup_.snapshotDirs.begin(), setup_.snapshotDirs.end());
  cp.push_back(copyDir);
  std::vector<double> copyRates, dataRates, jobRates, ratios, jobRatios;
  for (int r = 1; r <= setup_.runs; ++r) {
    std::error_code ec;
    fs::remove_all(copyDir, ec);
    fs::create_directories(copyDir, ec);
    SyncFileSystem(setup_.work);
    Clock::time_point start = Clock::now();
    if (!RunProgram(cp, "")) {
      std::fprintf(stderr, "tqbench: cp -r failed\n");
      return 1;
    }
    const double copySeconds = SecondsSince(start) + SyncFileSystem(copyDir);
    fs::remove_all(copyDir, ec);
    SyncFileSystem(setup_.work);

    Round round;
    if (!RunRestore(round)) return 1;
    // The data movers flush what they write before their tasks end, so the
    // flush after the job finds little; it counts all the same.
    const double dataSeconds = round.dataSeconds + round.flushSeconds;
    const double copyMBps = MBps(setup_.bytes, copySeconds);
    const double dataMBps = MBps(round.bytes, dataSeconds);
    const double jobMBps = MBps(round.bytes, round.jobSeconds + round.flushSeconds);
    std::printf("\nrestore round %d of %d\n", r, setup_.runs);
    std::printf("copy (cp -r) and its flush: %.2f s, %.1f MB/s\n", copySeconds, copyMBps);
    std::printf(
        "restore: %lld files, %lld bytes; data path (phase start to the last task's end) %.2f s, "
        "%.1f MB/s; whole job %.2f s, %.1f MB/s; flush after it %.2f s\n",
        static_cast<long long>(round.files), static_cast<long long>(round.bytes), round.dataSeconds,
        dataMBps, round.jobSeconds, jobMBps, round.flushSeconds);
    std::printf("ratio restore / (cp -r and its flush): %.2f (whole job: %.2f)\n",
                dataMBps / copyMBps, jobMBps / copyMBps);
    copyRates.push_back(copyMBps);
    dataRates.push_back(dataMBps);
    jobRates.push_back(jobMBps);
    ratios.push_back(dataMBps / copyMBps);
    jobRatios.push_back(jobMBps / copyMBps);
  }
  std::printf("\n%d restore rounds, median (min to max):\n", setup_.runs);
  std::printf("  copy (cp -r) and its flush  %s MB/s\n", Spread(copyRates).c_str());
  std::printf("  restore data path           %s MB/s\n", Spread(dataRates).c_str());
  std::printf("  restore whole job           %s MB/s\n", Spread(jobRates).c_str());
  std::printf("RESULT restore / (cp -r and its flush): %s; whole job: %s\n",
              Spread(ratios, "%.2f").c_str(), Spread(jobRatios, "%.2f").c_str());
  return 0;
}

}  // namespace TqBench
