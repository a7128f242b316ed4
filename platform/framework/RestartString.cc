#include "platform/framework/RestartString.h"

#include <climits>

#include "platform/base/FXString.h"

namespace TQDC_FileSystem {

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
        FXString::ParseDecimal(piece.substr(0, bar), INT_MIN, INT_MAX, id) &&
        FXString::ParseDecimal(piece.substr(bar + 1), LLONG_MIN, LLONG_MAX, offset)) {
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
