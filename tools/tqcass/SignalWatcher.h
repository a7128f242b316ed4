#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace TqCass {

// Ctrl-C (SIGINT) and SIGTERM for a process that runs jobs. The handlers
// only pass the signal to a thread of this class through a pipe; the thread
// calls the stop function of the running job, if one is set, which raises
// the job's quit flag so that the job ends the way a quit job ends. Without
// a job, or at the second signal, the process ends at once with a one-line
// message and status 128 + the signal. The programs the process starts get
// the default handlers back.
class CSignalWatcher {
 public:
  CSignalWatcher() = default;
  ~CSignalWatcher();
  CSignalWatcher(const CSignalWatcher&) = delete;
  CSignalWatcher& operator=(const CSignalWatcher&) = delete;

  bool Install();

  // Called on the watcher's thread at the first signal while set.
  void SetStop(std::function<void(int signal)> stop);
  void ClearStop();

  // The signal received, 0 while none.
  int Received() const { return received_.load(); }
  // "SIGINT (Ctrl-C)" or "SIGTERM".
  static std::string Name(int signal);

  // Stops the processes this process started that still run, each with the
  // process group it leads (SIGTERM, then SIGKILL after `graceMs`); returns
  // how many there were.
  static int StopChildren(int graceMs = 2000);

 private:
  void Loop();

  std::thread thread_;
  std::mutex mutex_;
  std::function<void(int)> stop_;
  std::atomic<int> received_{0};
  bool installed_ = false;
};

}  // namespace TqCass
