#include "common/ConfigFileLines.h"

namespace TQCassandra {

std::vector<ConfigFileLines::Line> ConfigFileLines::Split(const std::string& text) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t feed = text.find('\n', start);
    Line line;
    if (feed == std::string::npos) {
      line.content = text.substr(start);
      start = text.size();
    } else {
      line.content = text.substr(start, feed - start);
      line.end = "\n";
      start = feed + 1;
    }
    if (!line.content.empty() && line.content.back() == '\r') {
      line.content.pop_back();
      line.end = "\r" + line.end;
    }
    lines.push_back(line);
  }
  return lines;
}

std::string ConfigFileLines::ReplaceLines(const std::string& text,
                                          const std::function<bool(const std::string&)>& matches,
                                          const std::string& replacement, bool& found) {
  found = false;
  std::string updated;
  updated.reserve(text.size() + replacement.size());
  for (const Line& line : Split(text)) {
    if (matches(line.content)) {
      updated += replacement + line.end;
      found = true;
    } else {
      updated += line.content + line.end;
    }
  }
  return updated;
}

}  // namespace TQCassandra
