#pragma once

#include <functional>
#include <string>
#include <thread>

namespace TqRunner {

// Starts the runner's controller and stream threads. A thread the system
// cannot start throws std::system_error, which the phase turns into a
// failure of the job. Tests refuse chosen threads with a hook, as a system
// out of threads would: it gets what the thread is for ("stream 3 of node
// node1") and returns false to refuse it.
class CThreadStart {
 public:
  using Hook = std::function<bool(const std::string& what)>;

  static std::thread Start(const std::string& what, std::function<void()> body);
  // "" clears.
  static void SetHook(Hook hook);
};

}  // namespace TqRunner
