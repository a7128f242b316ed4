#pragma once

#include <string>

#include "sim/lib/SimCluster.h"

namespace TqSim {

// cluster.json on disk. Several stand-ins (one per simulated node) share one
// file, so every request holds the file's lock for its whole run and writes
// go to a temporary file that is renamed over the old one.
class SimClusterFile {
 public:
  explicit SimClusterFile(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  // The directory that holds cluster.json.
  std::string root() const;

  bool Load(SimCluster& cluster, std::string& error) const;
  bool Save(const SimCluster& cluster, std::string& error) const;

  // Holds the exclusive lock of the file while it lives.
  class Lock {
   public:
    explicit Lock(const SimClusterFile& file);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool ok() const { return fd_ >= 0; }

   private:
    int fd_ = -1;
  };

 private:
  std::string path_;
};

}  // namespace TqSim
