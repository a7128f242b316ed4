#include "sim/lib/SimNfsMount.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/base/FXErrorUtil.h"
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

// A folder as the mounts know it: without trailing slashes.
std::string FolderOf(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// Takes `host` out of the machines kept for `folder`.
void Forget(std::map<std::string, std::set<std::string>>& kept, const std::string& folder,
            const std::string& host) {
  auto found = kept.find(folder);
  if (found == kept.end()) return;
  found->second.erase(host);
  if (found->second.empty()) kept.erase(found);
}

}  // namespace

CSimNfsMount::CSimNfsMount(const std::string& home) : home_(home) {
  previousProcess_ =
      TqProcess::SetHook([this](const std::string& command, std::string& out, std::string& err,
                                int& status) { return HandleCommand(command, out, err, status); });
  previousUmount_ = TqMount::SetUmountHook(
      [this](const std::string& target, int& error) { return HandleUmount(target, error); });
  previousRemove_ = CQiDirectory::SetRemoveHook(
      [this](const std::string& path, bool recursive, bool ignoreMissing, CQiError& result) {
        return HandleRemove(path, recursive, ignoreMissing, result);
      });
}

CSimNfsMount::~CSimNfsMount() {
  TqProcess::SetHook(previousProcess_);
  TqMount::SetUmountHook(previousUmount_);
  CQiDirectory::SetRemoveHook(previousRemove_);
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
  const std::string folder = FolderOf(m.folder);
  auto found = mounted_.find(folder);
  if (found != mounted_.end()) {
    // Another machine mounts the folder: this one may mount the same share
    // there too (the machines share one file system here).
    Mount& mount = found->second;
    const bool mine = std::find(mount.hosts.begin(), mount.hosts.end(), host) != mount.hosts.end();
    if (mine || mount.server != m.server || mount.share != share.name) {
      err = "mount.nfs: " + folder + " is busy or already mounted\n";
      return true;
    }
    mount.hosts.push_back(host);
    Forget(unmounted_, folder, host);
    status = 0;
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
  mount.share = share.name;
  mount.hosts.push_back(host);
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
  Forget(unmounted_, folder, host);
  status = 0;
  return true;
}

int CSimNfsMount::HandleUmount(const std::string& target, int& error) {
  const std::string folder = FolderOf(target);
  const std::string host = CClientContext::HostName();
  std::unique_lock<std::mutex> lock(mutex_);
  umounts_.push_back(target);
  auto found = mounted_.find(folder);
  auto mine = found == mounted_.end()
                  ? std::vector<std::string>::iterator()
                  : std::find(found->second.hosts.begin(), found->second.hosts.end(), host);
  if (found == mounted_.end() || mine == found->second.hosts.end()) {
    lock.unlock();
    if (previousUmount_) return previousUmount_(target, error);
    error = EINVAL;
    return -1;
  }
  if (failUmounts_) {
    error = umountError_;
    return -1;
  }
  found->second.hosts.erase(mine);
  unmounted_[folder].insert(host);
  // The tree goes with the last machine that mounts it.
  if (found->second.hosts.empty()) {
    for (const std::string& link : found->second.links) unlink(link.c_str());
    mounted_.erase(found);
  }
  return 0;
}

bool CSimNfsMount::HandleRemove(const std::string& path, bool recursive, bool ignoreMissing,
                                CQiError& result) {
  const std::string folder = FolderOf(path);
  const std::string host = CClientContext::HostName();
  std::unique_lock<std::mutex> lock(mutex_);
  auto mounted = mounted_.find(folder);
  if (mounted != mounted_.end() &&
      std::find(mounted->second.hosts.begin(), mounted->second.hosts.end(), host) !=
          mounted->second.hosts.end()) {
    // This machine still mounts it: a mount point cannot be removed.
    result = FXErrorUtil::ErrorErrNo(FXLOC, EBUSY, "Failed to remove directory %s", path.c_str());
    return true;
  }
  auto held = unmounted_.find(folder);
  if (held != unmounted_.end() && held->second.erase(host) != 0) {
    const bool othersKeepIt = mounted != mounted_.end() || !held->second.empty();
    if (held->second.empty()) unmounted_.erase(held);
    if (othersKeepIt) {
      // This machine's folder is gone; the one the others see stays.
      result = CQiError::Success();
      return true;
    }
  }
  lock.unlock();
  return previousRemove_ ? previousRemove_(path, recursive, ignoreMissing, result) : false;
}

}  // namespace TqSim
