#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/json/TqJson.h"

namespace TQCassandra {

// Finds the Docker container that runs a Cassandra node, by the docker
// command-line client, and maps paths between that container and the host
// through the container's mounts ("Source" on the host, "Destination" in the
// container). A path lies under a directory when it equals the directory or
// continues it after a "/".
class CassandraDockerHelper {
 public:
  // `nodePath`: a host path of the node (its configuration directory) by
  // which its container is found.
  explicit CassandraDockerHelper(std::string nodePath);
  ~CassandraDockerHelper();

  // True when the image of a running container names DataStax or Cassandra.
  // A docker client that fails or is missing means no Docker.
  static bool checkIfCassandraInDocker();

  // Takes the first running container one of whose mounts has a "Source"
  // that `nodePath` lies under, and keeps its name and mounts. No such
  // container is no error (nothing is kept). A docker command that fails is
  // error 774 naming the command and its standard error.
  CQiError initialize();

  // The container taken by initialize; error 13 "Not a docker
  // configuration" when there is none.
  CQiError getContainerName(std::string& name);

  // The host path of a path inside the container, by the first mount whose
  // "Destination" the path lies under; error 13 "No mapping found for
  // destination path %s" when none does.
  CQiError getSourcePath(const std::string& containerPath, std::string& hostPath);

  // The container path of a host path, by the first mount whose "Source" the
  // path lies under; error 13 "No mapping found for source path %s" when none
  // does.
  CQiError getDestPath(const std::string& hostPath, std::string& containerPath);

  // The command line that lists the mounts of `container` (its name quoted
  // for the shell where needed).
  static std::string InspectMountsCommand(const std::string& container);

 private:
  // Maps `path` from the `from` side of a mount to its `to` side.
  bool MapPath(const std::string& path, const char* from, const char* to,
               std::string& mapped) const;

  TqJson::Array mounts;
  std::string containerName;
  std::string nodePath;
};

}  // namespace TQCassandra
