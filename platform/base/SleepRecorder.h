#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/base/QiSleep.h"

// For tests: while it lives, every QISLEEP_InTeRnAl call returns at once and
// its requested milliseconds are recorded. Restores the previous hook when
// destroyed.
class CSleepRecorder {
 public:
  CSleepRecorder();
  ~CSleepRecorder();
  CSleepRecorder(const CSleepRecorder&) = delete;
  CSleepRecorder& operator=(const CSleepRecorder&) = delete;

  // Requested sleeps in call order.
  std::vector<uint32_t> Sleeps() const;
  uint64_t TotalMilliseconds() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
  CSleepHook::Hook previous_;
};
