#pragma once

// The docker stand-in for tests: its program directory first on PATH and its
// world (and call log) named in the environment while a scope lives; the
// previous values come back when it ends.

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/lib/SimDockerWorld.h"

namespace dockertest {

// The directory of the built docker stand-in.
inline std::string StandInDirectory() {
  const char* binary = std::getenv("TQ_BINARY_DIR");
  std::string root = binary && *binary ? binary : TQ_BINARY_DIR;
  return root + "/sim/docker";
}

// Sets an environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The stand-in first on PATH, answering from the world file `world` (none:
// no engine runs) and logging its command lines to `log` when given.
class ScopedDockerStandIn {
 public:
  ScopedDockerStandIn(const std::optional<std::string>& world,
                      const std::optional<std::string>& log = std::nullopt)
      : path_("PATH", StandInDirectory() + ":" + OldPath()),
        world_(TqSim::SimDockerWorld::kWorldEnv, world),
        log_(TqSim::SimDockerWorld::kLogEnv, log) {}

 private:
  static std::string OldPath() {
    const char* old = std::getenv("PATH");
    return old ? old : "/usr/bin:/bin";
  }
  ScopedEnv path_;
  ScopedEnv world_;
  ScopedEnv log_;
};

// The argument lists the stand-in logged, in order.
inline std::vector<std::vector<std::string>> LoggedCalls(const std::string& log) {
  std::vector<std::vector<std::string>> calls;
  std::ifstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    calls.push_back(nlohmann::json::parse(line).get<std::vector<std::string>>());
  }
  return calls;
}

// A container with bind mounts of (source, destination).
inline TqSim::SimDockerContainer Container(
    const std::string& name, const std::string& image,
    const std::vector<std::pair<std::string, std::string>>& mounts) {
  TqSim::SimDockerContainer container;
  container.name = name;
  container.image = image;
  for (const auto& m : mounts) container.mounts.push_back({"bind", m.first, m.second, true});
  return container;
}

}  // namespace dockertest
