#include "platform/datamover/NoFollowPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"

namespace TqDataMover {

namespace {

std::vector<std::string> Components(const std::string& relative) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    if (slash > start) parts.push_back(relative.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

// Enters `name` of the open folder `parent`, making it when missing; a link
// or another kind of file there is refused.
CQiError EnterFolder(int parent, const std::string& name, const std::string& path, int& fd) {
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) {
    const int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create the folder %s", path.c_str());
  }
  fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return CQiError::Success();
  const int err = errno;
  struct stat st;
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    return FXErrorUtil::ErrorErrNo(
        FXLOC, ELOOP, "%s is a symbolic link: the restore does not write through it", path.c_str());
  }
  if (err == ENOTDIR) {
    return FXErrorUtil::ErrorErrNo(FXLOC, ENOTDIR, "%s is not a folder", path.c_str());
  }
  return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open the folder %s", path.c_str());
}

}  // namespace

CQiError CNoFollowPath::OpenFolder(const std::string& root, bool rootIsOwn, const std::string& path,
                                   uint32_t mode, int& fd) {
  fd = -1;
  std::string base = root;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base.empty() || base[0] != '/') {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The restore's folder [%s] is not absolute",
                                   root.c_str());
  }
  std::string below;
  if (path == base) {
    below.clear();
  } else if (base == "/" && path.size() > 1 && path[0] == '/') {
    below = path.substr(1);
  } else if (path.compare(0, base.size() + 1, base + "/") == 0) {
    below = path.substr(base.size() + 1);
  } else {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s lies outside the restore's folder %s",
                                   path.c_str(), base.c_str());
  }
  // The folder above the restore's own is the user's, and so is the
  // restore's folder when the user named it; the rest is entered one name
  // at a time.
  std::string at;
  std::vector<std::string> names;
  if (base == "/") {
    at = "/";
  } else if (!rootIsOwn) {
    at = base;
    CQiError error = CQiDirectory::Create(at.c_str(), true);
    if (error.IsError()) return error.Push(FXLOC);
  } else {
    const size_t slash = base.rfind('/');
    at = slash == 0 ? "/" : base.substr(0, slash);
    names.push_back(base.substr(slash + 1));
    CQiError error = CQiDirectory::Create(at.c_str(), true);
    if (error.IsError()) return error.Push(FXLOC);
  }
  for (const std::string& name : Components(below)) {
    if (name == "." || name == "..") {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s holds a relative component", path.c_str());
    }
    names.push_back(name);
  }
  int current = ::open(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (current < 0) {
    const int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open the folder %s", at.c_str());
  }
  for (const std::string& name : names) {
    at = at == "/" ? "/" + name : at + "/" + name;
    int next = -1;
    CQiError error = EnterFolder(current, name, at, next);
    ::close(current);
    if (error.IsError()) return error.Push(FXLOC);
    current = next;
  }
  if (mode != 0 && ::fchmod(current, mode & 07777) != 0) {
    const int err = errno;
    ::close(current);
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to set the mode of %s", path.c_str());
  }
  fd = current;
  return CQiError::Success();
}

CQiError CNoFollowPath::CreateUniqueFile(int folderFd, const std::string& folder,
                                         const std::string& prefix, std::string& name, int& fd) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  fd = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = prefix;
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    // O_EXCL with O_CREAT never opens an existing name, a link included.
    fd = ::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0600);
    if (fd >= 0) return CQiError::Success();
    if (errno != EEXIST) break;
  }
  const int err = errno;
  return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create a file in %s", folder.c_str());
}

}  // namespace TqDataMover
