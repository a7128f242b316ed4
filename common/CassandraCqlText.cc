#include "common/CassandraCqlText.h"

#include <algorithm>

namespace TQCassandra {

std::vector<std::string> CassandraCqlText::SplitStatements(const std::string& text) {
  std::vector<std::string> parts;
  std::string current;
  size_t i = 0;
  const size_t n = text.size();
  // Copies text[i, end) into the current part and moves past it.
  auto take = [&](size_t end) {
    current.append(text, i, end - i);
    i = end;
  };
  while (i < n) {
    const char c = text[i];
    if (c == ';') {
      parts.push_back(current);
      current.clear();
      ++i;
    } else if (c == '\'' || c == '"') {
      // A doubled quote inside the literal escapes itself, which the search
      // for the next quote handles as two adjacent literals.
      const size_t close = text.find(c, i + 1);
      take(close == std::string::npos ? n : close + 1);
    } else if (c == '$' && i + 1 < n && text[i + 1] == '$') {
      const size_t close = text.find("$$", i + 2);
      take(close == std::string::npos ? n : close + 2);
    } else if ((c == '-' || c == '/') && i + 1 < n && text[i + 1] == c) {
      const size_t end = text.find('\n', i + 2);
      take(end == std::string::npos ? n : end);
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      const size_t close = text.find("*/", i + 2);
      take(close == std::string::npos ? n : close + 2);
    } else {
      current += c;
      ++i;
    }
  }
  parts.push_back(current);
  return parts;
}

std::string CassandraCqlText::FlattenLineFeeds(const std::string& text) {
  std::string flat = text;
  std::replace(flat.begin(), flat.end(), '\n', ' ');
  return flat;
}

}  // namespace TQCassandra
