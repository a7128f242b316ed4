#pragma once

// Running tqcass as a program from a test: its exit status and output, and a
// fixture that gives every test its own home and fails a test that leaves a
// process of that home running.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace tqcasstest {

struct Outcome {
  int status = -1;
  std::string output;  // standard output and error
};

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs `command` with /bin/sh: its exit status (-1 when a signal ended it)
// and what it printed on standard output.
inline Outcome RunShell(const std::string& command) {
  Outcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
  const int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

class TqcassTest : public ::testing::Test {
 protected:
  // tqcass run in the test's folder with `arguments` on `home` (the test's
  // own home by default).
  Outcome Run(const std::string& arguments, const std::string& home = "") {
    return RunShell("cd '" + dir_.path() + "' && '" + TQ_TQCASS_PATH + "' --home '" +
                    (home.empty() ? Home() : home) + "' " + arguments + " 2>&1");
  }

  std::string Home() const { return dir_.Sub("home"); }

  // Edits a cluster of the home ("" the first, else a further one by name)
  // under the cluster file's lock.
  void EditCluster(const std::string& name, const std::function<void(TqSim::SimCluster&)>& edit) {
    TqSim::SimClusterFile file(name.empty() ? dir_.Sub("home/cluster/cluster.json")
                                            : dir_.Sub("home/clusters/" + name + "/cluster.json"));
    TqSim::SimClusterFile::Lock lock(file);
    ASSERT_TRUE(lock.ok());
    TqSim::SimCluster cluster;
    std::string error;
    ASSERT_TRUE(file.Load(cluster, error)) << error;
    edit(cluster);
    ASSERT_TRUE(file.Save(cluster, error)) << error;
  }

  // A fault at a Priam request of a cluster's node (`address` "" every
  // node): `action` with `status` (an HTTP status, or a signal).
  void AddFault(const std::string& cluster, const std::string& request, const std::string& action,
                int status, const std::string& address = "") {
    EditCluster(cluster, [&](TqSim::SimCluster& c) {
      TqSim::SimFault fault;
      fault.when = "request";
      fault.request = request;
      fault.node = address;
      fault.action = action;
      fault.status = status;
      c.faults.push_back(fault);
    });
  }

  void TearDown() override {
    // A program started for this home names the home on its command line.
    for (pid_t pid : simtest::ProcessesNaming(dir_.path())) {
      ADD_FAILURE() << "process " << pid << " was left running";
      ::kill(pid, SIGKILL);
    }
  }

  simtest::TempDir dir_;
};

}  // namespace tqcasstest
