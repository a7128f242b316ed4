#include "platform/base/QiPath.h"

#include <sys/stat.h>

#include <string>

#include "platform/base/FXPath.h"

namespace {

// The path without trailing "/", the root staying "/".
std::string StripTrailing(const char* path) {
  std::string p(path ? path : "");
  size_t end = p.find_last_not_of('/');
  if (end == std::string::npos) return p.empty() ? p : "/";
  return p.substr(0, end + 1);
}

}  // namespace

CQiString CQiPath::Append(const char* directory, const char* name) {
  return CQiString(FXPath::Join(directory ? directory : "", name ? name : ""));
}

bool CQiPath::IsFile(const char* path) {
  struct stat st;
  return path && *path && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool CQiPath::IsDirectory(const char* path) {
  struct stat st;
  return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

CQiString CQiPath::GetParent(const char* path) {
  std::string p = StripTrailing(path);
  if (p == "/") return CQiString("/");
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return CQiString();
  if (slash == 0) return CQiString("/");
  return CQiString(StripTrailing(p.substr(0, slash).c_str()));
}

CQiString CQiPath::GetBaseName(const char* path) {
  std::string p = StripTrailing(path);
  if (p == "/") return CQiString();
  size_t slash = p.rfind('/');
  return CQiString(slash == std::string::npos ? p : p.substr(slash + 1));
}
