#include "platform/base/FXPath.h"

#include <sys/stat.h>

#include "platform/base/FXErrorUtil.h"

std::string FXPath::Join(const std::string& path, const std::string& component) {
  if (path.empty()) return component;
  size_t end = path.find_last_not_of('/');
  std::string head = end == std::string::npos ? "/" : path.substr(0, end + 1);
  if (component.empty()) return head.back() == '/' ? head : head + "/";
  size_t begin = component.find_first_not_of('/');
  std::string tail = begin == std::string::npos ? std::string() : component.substr(begin);
  if (head.back() != '/') head += '/';
  return head + tail;
}

CQiError FXPath::Append(CQiString& path, const char* component, int) {
  if (!component) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Null path component");
  path = Join(path.str(), component);
  return CQiError::Success();
}

CQiError FXPath::Append(std::string& path, const std::string& component, int) {
  path = Join(path, component);
  return CQiError::Success();
}

CQiError FXPath::SplitParentPath(const char* path, CQiString& parent, CQiString& name) {
  if (!path) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Null path");
  std::string p(path);
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) {
    parent = "";
    name = p;
  } else {
    parent = p.substr(0, slash + 1);
    name = p.substr(slash + 1);
  }
  return CQiError::Success();
}

bool FXPath::DoesPathExist(const char* path) {
  struct stat st;
  return path && *path && lstat(path, &st) == 0;
}
