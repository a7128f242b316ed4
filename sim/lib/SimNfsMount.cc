#include "sim/lib/SimNfsMount.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/base/QiDirectory.h"
#include "platform/suite/ClientContext.h"
#include "platform/zelk/ZelkShareStore.h"

namespace TqSim {

namespace {

const char* const kMountPrefix = " mount -o ";

struct ParsedMount {
  std::string options;
  std::string server;
  std::string share;
  std::string folder;
};

// " mount -o <options> \"<server>:/<share>\" <folder>"; the leading blank may
// be missing.
bool ParseMountLine(const std::string& command, ParsedMount& parsed) {
  std::string rest;
  if (command.compare(0, 10, kMountPrefix) == 0) {
    rest = command.substr(10);
  } else if (command.compare(0, 9, "mount -o ") == 0) {
    rest = command.substr(9);
  } else {
    return false;
  }
  size_t blank = rest.find(' ');
  if (blank == std::string::npos) return false;
  parsed.options = rest.substr(0, blank);
  rest = rest.substr(blank + 1);
  if (rest.empty() || rest[0] != '"') return false;
  size_t close = rest.find('"', 1);
  if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ' ') {
    return false;
  }
  const std::string source = rest.substr(1, close - 1);
  parsed.folder = rest.substr(close + 2);
  size_t colon = source.find(":/");
  if (colon == std::string::npos || colon == 0) return false;
  parsed.server = source.substr(0, colon);
  parsed.share = source.substr(colon + 2);
  return !parsed.folder.empty() && !parsed.share.empty();
}

bool IsEmptyDirectory(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  CQiDirectory listing;
  if (listing.Open(path.c_str()).IsError()) return false;
  SQiDirEntry entry;
  bool done = false;
  return !listing.GetEntry(entry, done).IsError() && done;
}

}  // namespace

CSimNfsMount::CSimNfsMount(const std::string& home) : home_(home) {
  previousProcess_ =
      TqProcess::SetHook([this](const std::string& command, std::string& out, std::string& err,
                                int& status) { return HandleCommand(command, out, err, status); });
  previousUmount_ = TqMount::SetUmountHook(
      [this](const std::string& target, int& error) { return HandleUmount(target, error); });
}

CSimNfsMount::~CSimNfsMount() {
  TqProcess::SetHook(previousProcess_);
  TqMount::SetUmountHook(previousUmount_);
  // Nothing stays mounted past the stand-in.
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& entry : mounted_) {
    for (const std::string& link : entry.second.links) unlink(link.c_str());
  }
}

void CSimNfsMount::FailMounts(bool on, const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  failMounts_ = on;
  mountMessage_ = message;
}

void CSimNfsMount::FailUmounts(bool on, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failUmounts_ = on;
  umountError_ = error;
}

std::vector<CSimNfsMount::Mount> CSimNfsMount::Mounted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Mount> mounts;
  for (const auto& entry : mounted_) mounts.push_back(entry.second);
  return mounts;
}

std::vector<std::string> CSimNfsMount::MountCommands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

std::vector<std::string> CSimNfsMount::UmountTargets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return umounts_;
}

bool CSimNfsMount::HandleCommand(const std::string& command, std::string& out, std::string& err,
                                 int& status) {
  const bool mountLine =
      command.compare(0, 10, kMountPrefix) == 0 || command.compare(0, 9, "mount -o ") == 0;
  if (!mountLine) {
    return previousProcess_ ? previousProcess_(command, out, err, status) : false;
  }
  out.clear();
  err.clear();
  status = 32;
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.push_back(command);
  if (failMounts_) {
    err = mountMessage_ + "\n";
    return true;
  }
  ParsedMount m;
  if (!ParseMountLine(command, m)) {
    err = "mount: bad usage\n";
    return true;
  }
  if (m.options.compare(0, 6, "nolock") != 0) {
    err = "mount.nfs: rpc.statd is not running but is required for remote locking.\n";
    return true;
  }
  Zelk::CZelkShareStore store(home_);
  if (!store.IsServerRunning(m.server)) {
    err = "mount.nfs: Connection refused\n";
    return true;
  }
  Zelk::SZelkShare share;
  if (store.FindByName(m.share, share).IsError() || share.server != m.server) {
    err = "mount.nfs: access denied by server while mounting " + m.server + ":/" + m.share + "\n";
    return true;
  }
  const std::string host = CClientContext::HostName();
  if (!share.hosts.empty() && !host.empty() &&
      std::find(share.hosts.begin(), share.hosts.end(), host) == share.hosts.end()) {
    err = "mount.nfs: access denied by server while mounting " + m.server + ":/" + m.share + "\n";
    return true;
  }
  std::string folder = m.folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (mounted_.count(folder)) {
    err = "mount.nfs: " + folder + " is busy or already mounted\n";
    return true;
  }
  struct stat st;
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    err = "mount.nfs: mount point " + folder + " does not exist\n";
    return true;
  }
  if (!IsEmptyDirectory(folder)) {
    err = "mount.nfs: mount point " + folder + " is not empty\n";
    return true;
  }

  Mount mount;
  mount.server = m.server;
  mount.share = m.share;
  mount.folder = folder;
  mount.options = m.options;
  mount.exportPath = store.ExportPath(share.name);
  CQiDirectory listing;
  if (listing.Open(mount.exportPath.c_str()).IsError()) {
    err = "mount.nfs: access denied by server while mounting " + m.server + ":/" + m.share + "\n";
    return true;
  }
  SQiDirEntry entry;
  bool done = false;
  while (!listing.GetEntry(entry, done).IsError() && !done) {
    const std::string link = folder + "/" + entry.name.str();
    if (symlink((mount.exportPath + "/" + entry.name.str()).c_str(), link.c_str()) != 0) {
      for (const std::string& made : mount.links) unlink(made.c_str());
      err = "mount.nfs: " + std::string(strerror(errno)) + "\n";
      return true;
    }
    mount.links.push_back(link);
  }
  mounted_[folder] = mount;
  status = 0;
  return true;
}

int CSimNfsMount::HandleUmount(const std::string& target, int& error) {
  std::string folder = target;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::unique_lock<std::mutex> lock(mutex_);
  umounts_.push_back(target);
  auto found = mounted_.find(folder);
  if (found == mounted_.end()) {
    lock.unlock();
    if (previousUmount_) return previousUmount_(target, error);
    error = EINVAL;
    return -1;
  }
  if (failUmounts_) {
    error = umountError_;
    return -1;
  }
  for (const std::string& link : found->second.links) unlink(link.c_str());
  mounted_.erase(found);
  return 0;
}

}  // namespace TqSim
