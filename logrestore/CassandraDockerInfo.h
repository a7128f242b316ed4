#pragma once

#include <string>

namespace TQCassandra {

// Where a node that runs in a Docker container keeps its restore: the
// container's name and the node's staging directory as the host sees it.
struct CCassandraDockerInfo {
  std::string containerName;
  std::string stagingLocation;
};

}  // namespace TQCassandra
