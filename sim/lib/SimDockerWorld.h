#pragma once

#include <string>
#include <vector>

namespace TqSim {

// One mount of a simulated container: "Source" on the host, "Destination"
// inside the container.
struct SimDockerMount {
  std::string type = "bind";
  std::string source;
  std::string destination;
  bool readWrite = true;
};

struct SimDockerContainer {
  std::string name;
  std::string image;
  bool running = true;
  std::vector<SimDockerMount> mounts;
};

// A docker command that fails on purpose: every command line of `command`
// ("ls" or "inspect"), narrowed by its format text and, for inspect, by the
// container name when these are given.
struct SimDockerFailure {
  std::string command;
  std::string format;     // "" matches every format
  std::string container;  // "" matches every container
  int exitCode = 1;
  std::string standardError;
};

// What the docker stand-in answers from: the containers of the machine, the
// commands that fail, and whether the engine is reachable at all. Kept as a
// JSON file that the stand-in reads on every run:
//   {"engineRunning": true,
//    "containers": [{"name": "...", "image": "...", "running": true,
//                    "mounts": [{"Type": "bind", "Source": "...",
//                                "Destination": "...", "RW": true}]}],
//    "failures": [{"command": "inspect", "format": "...", "container": "...",
//                  "exitCode": 1, "stderr": "..."}]}
class SimDockerWorld {
 public:
  // Environment variable that names the stand-in's world file.
  static constexpr const char* kWorldEnv = "TQSIM_DOCKER_WORLD";
  // Environment variable that names a file to which the stand-in appends
  // every command line it gets, its arguments as one JSON array per line.
  static constexpr const char* kLogEnv = "TQSIM_DOCKER_LOG";

  bool engineRunning = true;
  std::vector<SimDockerContainer> containers;
  std::vector<SimDockerFailure> failures;

  bool Load(const std::string& path, std::string& error);
  bool Save(const std::string& path, std::string& error) const;
  // The mounts of a container as docker inspect prints them: a JSON array.
  static std::string MountsJson(const SimDockerContainer& container);
};

}  // namespace TqSim
