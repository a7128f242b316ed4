#pragma once

#include <string>
#include <vector>

#include "sim/lib/SimDockerWorld.h"

namespace TqSim {

// The docker stand-in's answer to one command line, from a simulated world:
//   docker container ls [-a] [--format <template>]   (also "docker ps")
//   docker container inspect [--format <template>] <name>...
// A list template may use {{.Names}}, {{.Image}} and {{.ID}}; an inspect
// template {{json .Mounts}}. Anything else fails as docker would, with exit
// status 1 and a message on standard error.
class SimDockerCommand {
 public:
  // `arguments` are the command's arguments without the program name.
  // Returns the exit status.
  static int Run(const std::vector<std::string>& arguments, const SimDockerWorld& world,
                 std::string& out, std::string& err);

  // What docker prints when no engine can be reached.
  static constexpr const char* kEngineDown =
      "Cannot connect to the Docker daemon at unix:///var/run/docker.sock. Is the docker daemon "
      "running?\n";
};

}  // namespace TqSim
