#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace TqCassandra {

// Starts child processes that die with this process. Linux delivers the
// parent-death signal when the thread that forked the child ends, so every
// fork happens on one thread that lives as long as the process: a child
// started from a short-lived worker thread keeps running until the process
// itself ends. Each child leads a process group of its own, so that a
// signal to this process's group (Ctrl-C at a terminal) does not reach it:
// this process decides when its children stop.
class ChildLauncher {
 public:
  struct Spec {
    std::vector<std::string> argv;  // argv[0] is the program path
    std::string workingDir;         // the child's current directory
    std::string stdoutPath;         // created or truncated
    std::string stderrPath;         // created or truncated
    // "NAME=value" entries set in the child's environment on top of this
    // process's (an entry replaces an inherited variable of the same name).
    std::vector<std::string> environment;
  };

  // Starts the child; returns its pid, or -1 with `error` set to the errno of
  // the failed step (including a program that cannot be executed).
  static pid_t Launch(const Spec& spec, int& error);
};

}  // namespace TqCassandra
