#pragma once

#include <memory>
#include <string>

#include "platform/base/QiError.h"
#include "tools/lib/HomeLock.h"
#include "tools/lib/JobHarness.h"
#include "tools/tqcass/SignalWatcher.h"
#include "tools/tqcass/TqcassCommand.h"

namespace TqCass {

// What a command runs with: its home, opened as the command uses it, the
// home's lock when it changes the home, and the signal watcher.
class CCommandContext {
 public:
  CCommandContext(std::string home, std::string commandLine, CSignalWatcher& signals);

  // A changing command: creates the home when missing, takes its lock, lets
  // the command prepare the home, opens it, marks jobs killed earlier as
  // interrupted. A reading command: opens the home as it is. Returns kOk or
  // the exit status after a message.
  int Open(CTqcassCommand& command);

  TqHarness::CJobHarness& Harness() { return *harness_; }
  const std::string& Home() const { return home_; }
  CSignalWatcher& Signals() { return signals_; }

  // Prints "tqcass: <the error in words>" for an error; true when none.
  static bool Check(const CQiError& error);
  // Prints "tqcass: <text>" on standard error.
  static void Fail(const std::string& text);
  // What recovery put right after a killed, stopped or failed job besides
  // its store pieces, and the nodes it could not start again (on standard
  // error).
  static void PrintLeftovers(const TqHarness::InterruptedJob& job);

 private:
  std::string home_;
  std::string commandLine_;
  CSignalWatcher& signals_;
  TqHarness::CHomeLock lock_;
  std::unique_ptr<TqHarness::CJobHarness> harness_;
};

}  // namespace TqCass
