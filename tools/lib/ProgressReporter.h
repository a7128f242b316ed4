#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/runner/RunnerTypes.h"
#include "tools/lib/CollectTotals.h"

namespace TqHarness {

// Progress lines of a running job: phase starts and ends and node states
// from the runner's events, and, once started, a line at every interval (and
// whenever a task of the job ends) with the files stored or restored of the
// files the job moves, the bytes, the rate and the time left:
//
//   [backup] 120/216 files, 3.1 MB of 7.9 MB, 1.2 MB/s, about 4 s left
//   [restore] 40/96 files, 1.0 MB of 2.4 MB, 0.9 MB/s, about 2 s left
//
// A backup's files and bytes come from the streams wrapped by Wrap
// (CountingDataStream.h); a restore's from the runner's progress events, each
// stream's totals so far added up. The summary, `jobs`, `show` and `verify`
// count files the same way.
class CProgressReporter {
 public:
  using TotalsFn = std::function<CCollectTotals::Totals()>;

  // `out` nullptr: nothing is printed, the files and bytes are still counted.
  explicit CProgressReporter(FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}
  ~CProgressReporter() { Stop(); }
  CProgressReporter(const CProgressReporter&) = delete;
  CProgressReporter& operator=(const CProgressReporter&) = delete;

  // The observer to put into a JobSpec; `this` must outlive the job.
  std::function<void(const TqRunner::RunnerEvent&)> Observer();
  // A stream factory whose streams count into this reporter.
  TqRunner::StreamFactory Wrap(TqRunner::StreamFactory inner);

  // Prints a progress line every `interval` from a thread of its own until
  // Stop; `totals` tells what the job stores in all.
  void Start(TotalsFn totals, std::chrono::milliseconds interval);
  void Stop();

  void OnEvent(const TqRunner::RunnerEvent& event);
  uint64_t Bytes() const { return bytes_; }
  uint64_t Files() const { return files_; }

  // The progress line for these figures (no phase prefix).
  static std::string Line(uint64_t files, uint64_t bytes, const CCollectTotals::Totals& totals,
                          double seconds);
  // "512 B", "12.5 KB", "3.2 MB".
  static std::string FormatBytes(double bytes);
  // "45 s", "3 min 20 s", "2 h 5 min".
  static std::string FormatDuration(double seconds);

 private:
  void PrintLineLocked();
  void Tick(std::chrono::milliseconds interval);

  FILE* out_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> files_{0};
  std::mutex mutex_;
  // A restore's streams: client and stream -> files and bytes placed so far.
  std::map<std::pair<std::string, int>, std::pair<uint64_t, uint64_t>> restoreStreams_;
  std::string phase_;
  int lastComplete_ = -1;
  // The figures of the last line printed.
  uint64_t printedFiles_ = UINT64_MAX;
  uint64_t printedBytes_ = UINT64_MAX;
  TotalsFn totals_;
  std::thread ticker_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

}  // namespace TqHarness
