#pragma once

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstdint>

// The job control client: tells whether the job was asked to stop.
class TQJobCtrlClient {
 public:
  TQJobCtrlClient() = default;
  explicit TQJobCtrlClient(int64_t jobId) : jobId_(jobId) {}

  // True when the process-wide quit flag or this job's own flag is set.
  bool checkQuitFlag() const;
  // Sets or clears this job's own flag.
  void setQuitFlag(bool quit = true) { quit_ = quit; }
  int64_t getJobId() const { return jobId_; }

  // The process-wide quit flag (every job of the process), set by the runner
  // and by tests.
  static void SetProcessQuitFlag(bool quit);
  static bool GetProcessQuitFlag();

 private:
  int64_t jobId_ = 0;
  std::atomic<bool> quit_{false};
};

typedef boost::shared_ptr<TQJobCtrlClient> TQJobCtrlClientPtr;
