#pragma once

#include <functional>
#include <string>

#include "platform/base/QiString.h"

// Runs command lines.
class TqProcess {
 public:
  // Answers a command instead of running it: returns true when it answered
  // (with `out`, `err` and `status` filled), false to let it run for real.
  using Hook = std::function<bool(const std::string& command, std::string& out, std::string& err,
                                  int& status)>;

  // Runs `command` through /bin/sh -c with standard input from /dev/null,
  // waits for it and captures its standard output and standard error.
  // Returns the exit status: 0 for success, the command's non-zero exit code,
  // 128 + the signal number when a signal ended it, or -1 when it could not
  // be started (the reason is logged and put into `err`). `flags` and
  // `reserved` are accepted for the suite's callers (pass 0 and false).
  static int system(const char* command, std::string& out, std::string& err, int flags = 0,
                    bool reserved = false);
  static int system(const char* command, CQiString& out, CQiString& err, int flags = 0,
                    bool reserved = false);

  // Installs a process-wide hook (an empty one removes it) and returns the
  // hook it replaces.
  static Hook SetHook(Hook hook);
};
