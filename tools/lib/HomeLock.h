#pragma once

#include <string>

#include "platform/base/QiError.h"

namespace TqHarness {

// The lock of a harness home: one process at a time changes a home. The lock
// is a write lock on "<home>/tqcass.lock", held while the process lives (the
// system drops it when the process ends, however it ends) and never inherited
// by the programs the process starts. The file names its holder ("<command>
// (process <pid>, since <time>)") so that a refused run can say who holds the
// home.
class CHomeLock {
 public:
  static constexpr const char* kFileName = "tqcass.lock";

  CHomeLock() = default;
  ~CHomeLock();
  CHomeLock(const CHomeLock&) = delete;
  CHomeLock& operator=(const CHomeLock&) = delete;

  // Takes the lock of `home` (which must exist) for `holder`, a short text
  // naming the run ("tqcass backup --level full"). Error 32 (in use) naming
  // the holder when another process has it.
  CQiError Acquire(const std::string& home, const std::string& holder);
  void Release();
  bool Held() const { return fd_ >= 0; }

  // Whether another process holds the home's lock, and its holder text; a
  // home without a lock file is held by no one. Reads only.
  static bool HeldByOther(const std::string& home, std::string& holder);

 private:
  int fd_ = -1;
};

}  // namespace TqHarness
