#pragma once

#include <cstdint>
#include <functional>

// The base library's sleep: pauses the calling thread for `milliseconds`,
// unless a sleep hook is installed, in which case the hook is called instead
// (tests install one so that they never really wait).
void QISLEEP_InTeRnAl(uint32_t milliseconds);

#define QISLEEP(milliseconds) QISLEEP_InTeRnAl(static_cast<uint32_t>(milliseconds))

// The process-wide replacement of the sleep.
class CSleepHook {
 public:
  using Hook = std::function<void(uint32_t milliseconds)>;

  // Installs `hook` (an empty one restores real sleeping) and returns the
  // hook it replaces.
  static Hook Set(Hook hook);
  static bool IsSet();
};
