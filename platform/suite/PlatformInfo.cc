#include "platform/suite/PlatformInfo.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/base/QiFile.h"
#include "platform/suite/ClientContext.h"

CRegistry& CRegistry::Instance() {
  static CRegistry registry;
  return registry;
}

CRegistry::CRegistry() {
  if (const char* path = std::getenv("TQ_REGISTRY")) {
    path_ = path;
    LoadLocked();
  }
}

bool CRegistry::SetFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  path_ = path;
  values_.clear();
  return LoadLocked();
}

std::string CRegistry::GetFile() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

bool CRegistry::LoadLocked() {
  if (path_.empty()) return true;
  std::ifstream in(path_);
  if (!in) return errno == ENOENT;
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    values_[section][line.substr(0, eq)] = line.substr(eq + 1);
  }
  return true;
}

bool CRegistry::SaveLocked() const {
  if (path_.empty()) return true;
  std::ostringstream out;
  for (const auto& s : values_) {
    out << '[' << s.first << "]\n";
    for (const auto& v : s.second) out << v.first << '=' << v.second << '\n';
  }
  // Replaced whole, so that a reader never sees half a file.
  return !CQiFile::ReplaceWholeFile(path_.c_str(), out.str()).IsError();
}

bool CRegistry::Get(const std::string& section, const std::string& name, std::string& value) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto s = values_.find(section);
  if (s == values_.end()) return false;
  auto v = s->second.find(name);
  if (v == s->second.end()) return false;
  value = v->second;
  return true;
}

bool CRegistry::Set(const std::string& section, const std::string& name, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[section][name] = value;
  return SaveLocked();
}

bool CRegistry::Remove(const std::string& section, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto s = values_.find(section);
  if (s == values_.end() || s->second.erase(name) == 0) return true;
  return SaveLocked();
}

void CRegistry::ClearMemory() {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.clear();
}

int TQPlatformInfo::getNumber(const char* section, const char* name, int64_t& out) const {
  std::string text;
  if (!CRegistry::Instance().Get(section ? section : "", name ? name : "", text)) return 0;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(begin, &end, 0);
  if (end == begin || errno == ERANGE) return 0;
  out = static_cast<int64_t>(v);
  return 1;
}

int TQPlatformInfo::getNumber(const char* section, const char* name, uint32_t& out) const {
  int64_t value = 0;
  int found = getNumber(section, name, value);
  if (found) out = static_cast<uint32_t>(value & 0xFFFFFFFF);
  return found;
}

int TQPlatformInfo::getString(const char* section, const char* name, CQiString& out) const {
  std::string text;
  if (!CRegistry::Instance().Get(section ? section : "", name ? name : "", text)) return 0;
  out = text;
  return 1;
}

int TQPlatformInfo::getString(const char* section, const char* name, std::string& out) const {
  return CRegistry::Instance().Get(section ? section : "", name ? name : "", out) ? 1 : 0;
}

int TQPlatformInfo::getTQPlatformType() {
  int64_t type = 1;
  TQPlatformInfo().getNumber("Base", "nPlatformType", type);
  return static_cast<int>(type);
}

int TQPlatformInfo::getZentorerClientName(char* buffer, size_t size) {
  const std::string name = CClientContext::ClientName();
  if (!buffer || name.empty() || name.size() + 1 > size) return 0;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return 1;
}

std::string TQPlatformInfo::getPhysicalMachine() { return CClientContext::HostName(); }
