#include "sim/lib/SimClusterFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace TqSim {

std::string SimClusterFile::root() const {
  size_t slash = path_.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path_.substr(0, slash);
}

bool SimClusterFile::Load(SimCluster& cluster, std::string& error) const {
  std::ifstream in(path_);
  if (!in) {
    error = "Cannot read cluster file " + path_ + ": " + std::strerror(errno);
    return false;
  }
  try {
    nlohmann::json doc = nlohmann::json::parse(in);
    cluster = SimCluster::FromJson(doc);
  } catch (const nlohmann::json::exception& e) {
    error = "Cluster file " + path_ + " is not valid: " + e.what();
    return false;
  }
  return true;
}

bool SimClusterFile::Save(const SimCluster& cluster, std::string& error) const {
  std::string tmp = path_ + ".tmp." + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out || !(out << cluster.ToJson().dump(2) << '\n') || !out.flush()) {
      error = "Cannot write cluster file " + tmp + ": " + std::strerror(errno);
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path_.c_str()) != 0) {
    error = "Cannot replace cluster file " + path_ + ": " + std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

SimClusterFile::Lock::Lock(const SimClusterFile& file) {
  std::string lockPath = file.path() + ".lock";
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

SimClusterFile::Lock::~Lock() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
}

}  // namespace TqSim
