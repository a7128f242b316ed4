#include "platform/framework/RestartString.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace TQDC_FileSystem {

namespace {

bool ReadDecimal(const std::string& text, long long low, long long high, long long& value) {
  if (text.empty()) return false;
  size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size()) return false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < low || v > high) return false;
  value = v;
  return true;
}

}  // namespace

std::string CRestartString::Format(const std::list<RestartInfo>& entries) {
  std::string text;
  for (const auto& e : entries) {
    if (!text.empty()) text += ' ';
    text += "-o " + std::to_string(e.taskId) + "|" + std::to_string(e.offset);
  }
  return text;
}

std::list<RestartInfo> CRestartString::Parse(const std::string& text) {
  std::string cleaned;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 3, "-o ") == 0) {
      cleaned += '@';
      i += 3;
    } else {
      if (text[i] != ' ') cleaned += text[i];
      ++i;
    }
  }
  std::list<RestartInfo> entries;
  size_t start = 0;
  while (start <= cleaned.size()) {
    size_t end = cleaned.find('@', start);
    if (end == std::string::npos) end = cleaned.size();
    std::string piece = cleaned.substr(start, end - start);
    size_t bar = piece.find('|');
    long long id = 0, offset = 0;
    if (bar != std::string::npos && piece.find('|', bar + 1) == std::string::npos &&
        ReadDecimal(piece.substr(0, bar), INT_MIN, INT_MAX, id) &&
        ReadDecimal(piece.substr(bar + 1), LLONG_MIN, LLONG_MAX, offset)) {
      RestartInfo info;
      info.taskId = static_cast<int>(id);
      info.offset = offset;
      entries.push_back(info);
    }
    start = end + 1;
  }
  return entries;
}

}  // namespace TQDC_FileSystem
