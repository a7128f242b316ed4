#include "platform/base/FXMountPoint.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiFile.h"

namespace {

std::string Decode(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// True when `path` equals `dir` or lies below it.
bool LiesUnder(const std::string& path, const std::string& dir) {
  if (dir == "/") return !path.empty() && path[0] == '/';
  if (path.compare(0, dir.size(), dir) != 0) return false;
  return path.size() == dir.size() || path[dir.size()] == '/';
}

// `path` made absolute with its existing part's symbolic links resolved.
std::string Resolve(const std::string& path) {
  std::string absolute = path;
  if (absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) absolute = std::string(cwd) + "/" + absolute;
  }
  std::string head = absolute, tail;
  while (true) {
    char resolved[PATH_MAX];
    if (realpath(head.c_str(), resolved)) {
      std::string out = resolved;
      if (!tail.empty()) out += (out == "/" ? "" : "/") + tail;
      return out;
    }
    size_t slash = head.find_last_of('/');
    if (slash == std::string::npos || head == "/") return absolute;
    std::string last = head.substr(slash + 1);
    tail = tail.empty() ? last : last + "/" + tail;
    head = slash == 0 ? "/" : head.substr(0, slash);
  }
}

}  // namespace

std::vector<SMountEntry> FXMountPoint::ParseMountTable(const std::string& text) {
  std::vector<SMountEntry> table;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    SMountEntry e;
    if (!(fields >> e.device >> e.mountPoint >> e.fileSystemType)) continue;
    fields >> e.options;
    e.device = Decode(e.device);
    e.mountPoint = Decode(e.mountPoint);
    if (e.mountPoint.empty() || e.mountPoint[0] != '/') continue;
    table.push_back(std::move(e));
  }
  return table;
}

CQiError FXMountPoint::ReadMountTable(std::vector<SMountEntry>& table, const char* file) {
  std::string text;
  CQiError error = CQiFile::ReadWholeFile(file, text);
  if (error.IsError()) return error.Push(FXLOC);
  table = ParseMountTable(text);
  return CQiError::Success();
}

bool FXMountPoint::FindMount(const std::vector<SMountEntry>& table, const std::string& path,
                             SMountEntry& mount) {
  const SMountEntry* best = nullptr;
  for (const auto& e : table) {
    if (!LiesUnder(path, e.mountPoint)) continue;
    if (!best || e.mountPoint.size() >= best->mountPoint.size()) best = &e;
  }
  if (best) mount = *best;
  return best != nullptr;
}

CQiError FXMountPoint::GetMountPoint(const char* path, SMountEntry& mount) {
  if (!path || !*path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Empty path");
  std::vector<SMountEntry> table;
  CQiError error = ReadMountTable(table);
  if (error.IsError()) return error.Push(FXLOC);
  std::string resolved = Resolve(path);
  if (!FindMount(table, resolved, mount))
    return FXErrorUtil::ErrorErrNo(FXLOC, ENOENT, "No mount point holds %s", resolved.c_str());
  return CQiError::Success();
}

CQiError FXMountPoint::GetMountPoint(const char* path, CQiString& mountPoint) {
  SMountEntry mount;
  CQiError error = GetMountPoint(path, mount);
  if (error.IsError()) return error.Push(FXLOC);
  mountPoint = mount.mountPoint;
  return error;
}
