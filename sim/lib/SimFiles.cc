#include "sim/lib/SimFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace TqSim {

std::string SimRandom::Uuid() {
  uint64_t hi = Next(), lo = Next();
  hi = (hi & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;
  lo = (lo & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%04x-%012llx", static_cast<unsigned>(hi >> 32),
                static_cast<unsigned>((hi >> 16) & 0xFFFF), static_cast<unsigned>(hi & 0xFFFF),
                static_cast<unsigned>(lo >> 48),
                static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFull));
  return buf;
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (name.empty()) return dir;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string ParentPath(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool IsDir(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeDirs(const std::string& path, std::string& error) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec && !IsDir(path)) {
    error = "Cannot create directory " + path + ": " + ec.message();
    return false;
  }
  return true;
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "Cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::stringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string& error) {
  if (!MakeDirs(ParentPath(path), error)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out || !(out << text) || !out.flush()) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool WriteSeededFile(const std::string& path, uint64_t size, uint64_t seed, std::string& error) {
  if (!MakeDirs(ParentPath(path), error)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  SimRandom random(seed);
  std::vector<char> block(64 * 1024);
  uint64_t left = size;
  while (left > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    for (size_t i = 0; i < n; i += 8) {
      uint64_t v = random.Next();
      std::memcpy(&block[i], &v, std::min<size_t>(8, n - i));
    }
    if (!out.write(block.data(), static_cast<std::streamsize>(n))) break;
    left -= n;
  }
  if (!out.flush()) {
    error = "Cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool HardLink(const std::string& from, const std::string& to, std::string& error) {
  if (::link(from.c_str(), to.c_str()) != 0) {
    error = "Cannot link " + from + " to " + to + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool CopyFile(const std::string& from, const std::string& to, std::string& error) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    error = "Cannot copy " + from + " to " + to + ": " + ec.message();
    return false;
  }
  return true;
}

bool RemoveTree(const std::string& path, std::string& error) {
  std::error_code ec;
  fs::remove_all(path, ec);
  if (ec) {
    error = "Cannot remove " + path + ": " + ec.message();
    return false;
  }
  return true;
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) {
    size_t b = part.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) continue;
    size_t e = part.find_last_not_of(" \t\r\n");
    parts.push_back(part.substr(b, e - b + 1));
  }
  return parts;
}

}  // namespace TqSim
