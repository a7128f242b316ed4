// The docker stand-in: answers the docker client's container listing and
// inspection from the simulated world named by TQSIM_DOCKER_WORLD (see
// SimDockerWorld). Without a world no engine is running. With
// TQSIM_DOCKER_LOG set, every command line is appended to that file as a JSON
// array of its arguments.

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/lib/SimDockerCommand.h"
#include "sim/lib/SimDockerWorld.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const char* log = std::getenv(TqSim::SimDockerWorld::kLogEnv)) {
    std::ofstream(log, std::ios::app) << nlohmann::json(arguments).dump() << "\n";
  }
  TqSim::SimDockerWorld world;
  const char* path = std::getenv(TqSim::SimDockerWorld::kWorldEnv);
  std::string error;
  if (!path || !*path) {
    world.engineRunning = false;
  } else if (!world.Load(path, error)) {
    std::cerr << "docker stand-in: " << error << "\n";
    return 1;
  }
  std::string out;
  std::string err;
  int status = TqSim::SimDockerCommand::Run(arguments, world, out, err);
  std::cout << out;
  std::cerr << err;
  return status;
}
