#include "platform/base/QiDirectory.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"

namespace {

std::mutex& RemoveHookMutex() {
  static std::mutex mutex;
  return mutex;
}

CQiDirectory::RemoveHook& CurrentRemoveHook() {
  static CQiDirectory::RemoveHook hook;
  return hook;
}

// A name in a directory and the file type readdir gave for it (DT_UNKNOWN
// when the file system does not say).
struct DirName {
  std::string name;
  unsigned char type;
  bool operator<(const DirName& other) const { return name < other.name; }
};

// The entries of `path` except "." and "..", sorted by name.
CQiError ListEntries(const std::string& path, std::vector<DirName>& entries) {
  entries.clear();
  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open directory %s", path.c_str());
  }
  errno = 0;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      entries.push_back({e->d_name, e->d_type});
    errno = 0;
  }
  int err = errno;
  ::closedir(dir);
  if (err) return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read directory %s", path.c_str());
  std::sort(entries.begin(), entries.end());
  return CQiError::Success();
}

// The names in `path` except "." and "..", sorted.
CQiError ListNames(const std::string& path, std::vector<std::string>& names) {
  std::vector<DirName> entries;
  CQiError error = ListEntries(path, entries);
  names.clear();
  names.reserve(entries.size());
  for (auto& entry : entries) names.push_back(std::move(entry.name));
  return error;
}

CQiError MakeOne(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return CQiError::Success();
  int err = errno;
  struct stat st;
  if (err == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return CQiError::Success();
  if (err == EEXIST) err = ENOTDIR;
  return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create directory %s", path.c_str());
}

CQiError RemoveTree(const std::string& path) {
  std::vector<std::string> names;
  CQiError error = ListNames(path, names);
  if (error.IsError()) return error.Push(FXLOC);
  for (const auto& name : names) {
    std::string child = FXPath::Join(path, name);
    struct stat st;
    if (::lstat(child.c_str(), &st) != 0) {
      int err = errno;
      if (err == ENOENT) continue;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the status of %s", child.c_str());
    }
    if (S_ISDIR(st.st_mode)) {
      error = RemoveTree(child);
      if (error.IsError()) return error.Push(FXLOC);
    } else if (::unlink(child.c_str()) != 0 && errno != ENOENT) {
      int err = errno;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to remove %s", child.c_str());
    }
  }
  if (::rmdir(path.c_str()) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to remove directory %s", path.c_str());
  }
  return CQiError::Success();
}

CQiError WalkTree(const std::string& directory, void* context, bool recursive,
                  CQiDirectory::WalkCallback callback) {
  std::vector<DirName> entries;
  CQiError error = ListEntries(directory, entries);
  if (error.IsError()) return error.Push(FXLOC);
  for (const auto& entry : entries) {
    const std::string& name = entry.name;
    std::string child = FXPath::Join(directory, name);
    // The type readdir gives spares a stat per entry; a link (followed) or
    // an unknown type is looked at.
    bool isDirectory = entry.type == DT_DIR;
    bool realDirectory = isDirectory;
    if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
      struct stat st;
      isDirectory = ::stat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      struct stat lst;
      realDirectory = isDirectory && ::lstat(child.c_str(), &lst) == 0 && S_ISDIR(lst.st_mode);
    }
    error = callback(directory.c_str(), name.c_str(), isDirectory, context);
    if (error.IsError()) return error;
    if (recursive && realDirectory) {
      error = WalkTree(child, context, recursive, callback);
      if (error.IsError()) return error;
    }
  }
  return CQiError::Success();
}

}  // namespace

CQiError CQiDirectory::Create(const char* path, bool createParents) {
  if (!path || !*path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Empty directory path");
  std::string p(path);
  if (!createParents) {
    CQiError error = MakeOne(p);
    return error.IsError() ? error.Push(FXLOC) : error;
  }
  // Create each prefix that ends before a "/", then the whole path.
  for (size_t at = p.find('/', 1); at != std::string::npos; at = p.find('/', at + 1)) {
    if (p[at - 1] == '/') continue;
    CQiError error = MakeOne(p.substr(0, at));
    if (error.IsError()) return error.Push(FXLOC);
  }
  CQiError error = MakeOne(p);
  return error.IsError() ? error.Push(FXLOC) : error;
}

CQiDirectory::RemoveHook CQiDirectory::SetRemoveHook(RemoveHook hook) {
  std::lock_guard<std::mutex> lock(RemoveHookMutex());
  RemoveHook previous = CurrentRemoveHook();
  CurrentRemoveHook() = std::move(hook);
  return previous;
}

CQiError CQiDirectory::Remove(const char* path, bool recursive, bool ignoreMissing) {
  if (!path || !*path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Empty directory path");
  RemoveHook hook;
  {
    std::lock_guard<std::mutex> lock(RemoveHookMutex());
    hook = CurrentRemoveHook();
  }
  CQiError answered;
  if (hook && hook(path, recursive, ignoreMissing, answered)) return answered;
  struct stat st;
  if (::lstat(path, &st) != 0) {
    int err = errno;
    if (err == ENOENT && ignoreMissing) return CQiError::Success();
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to remove directory %s", path);
  }
  if (!S_ISDIR(st.st_mode))
    return FXErrorUtil::ErrorErrNo(FXLOC, ENOTDIR, "Failed to remove directory %s", path);
  if (recursive) {
    CQiError error = RemoveTree(path);
    return error.IsError() ? error.Push(FXLOC) : error;
  }
  if (::rmdir(path) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to remove directory %s", path);
  }
  return CQiError::Success();
}

CQiError CQiDirectory::Walk(const char* directory, void* context, int, bool recursive,
                            WalkCallback callback) {
  if (!directory || !callback)
    return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null directory or callback");
  return WalkTree(directory, context, recursive, callback);
}

CQiError CQiDirectory::Open(const char* path, const char* pattern, bool includeDirectories) {
  Close();
  if (!path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null directory path");
  std::vector<std::string> names;
  CQiError error = ListNames(path, names);
  if (error.IsError()) return error.Push(FXLOC);
  for (const auto& name : names) {
    if (pattern && ::fnmatch(pattern, name.c_str(), 0) != 0) continue;
    if (!includeDirectories) {
      struct stat st;
      std::string child = FXPath::Join(path, name);
      if (::stat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    }
    entries_.push_back(name);
  }
  open_ = true;
  return CQiError::Success();
}

CQiError CQiDirectory::GetEntry(SQiDirEntry& entry, bool& done) {
  if (!open_) return FXErrorUtil::ErrorErrNo(FXLOC, EBADF, "Directory not open");
  done = next_ >= entries_.size();
  if (!done) entry.name = entries_[next_++];
  return CQiError::Success();
}

void CQiDirectory::Close() {
  entries_.clear();
  next_ = 0;
  open_ = false;
}
