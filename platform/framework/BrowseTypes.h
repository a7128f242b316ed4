#pragma once

#include <string>

namespace App {

// The kind of distributed cluster a browse is about.
enum class DistributedClusterType : int {
  Unknown = 0,
  Cassandra = 9,
};

// A request to create a folder on a cluster's client.
struct CreateFolderRequest {
  std::string path;
};

}  // namespace App
