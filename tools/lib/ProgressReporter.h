#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/runner/RunnerTypes.h"

namespace TqHarness {

// Progress lines of a running job from the runner's events: phase starts and
// ends, node states, and after each task change "tasks <done>/<total>", the
// bytes and items stored so far and the rate. Streams wrapped by Wrap count
// the bytes.
class CProgressReporter {
 public:
  explicit CProgressReporter(FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}

  // The observer to put into a JobSpec; `this` must outlive the job.
  std::function<void(const TqRunner::RunnerEvent&)> Observer();
  // A stream factory whose streams count into this reporter.
  TqRunner::StreamFactory Wrap(TqRunner::StreamFactory inner);

  void OnEvent(const TqRunner::RunnerEvent& event);
  uint64_t Bytes() const { return bytes_; }
  uint64_t Items() const { return items_; }

  // "512 B", "12.5 KB", "3.2 MB".
  static std::string FormatBytes(double bytes);

 private:
  FILE* out_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> items_{0};
  std::mutex mutex_;
  std::string lastPhase_;
  int lastComplete_ = -1;
  int lastTotal_ = -1;
};

}  // namespace TqHarness
