#pragma once

#include <functional>
#include <string>
#include <vector>

namespace TQCassandra {

// The lines of a configuration file's text, each with its own line end, so
// that an edit changes the lines it means and leaves every other byte as it
// was: no regular expression, no line end added or dropped, a value taken
// literally.
class ConfigFileLines {
 public:
  // One line: its content and its line end ("\r\n", "\n", or "" for a last
  // line without one).
  struct Line {
    std::string content;
    std::string end;
  };

  // The lines of `text`; an empty text has none.
  static std::vector<Line> Split(const std::string& text);

  // `text` with the content of every line for which `matches` holds replaced
  // by `replacement` (taken literally); each such line keeps its own line
  // end. `found` tells whether any line matched.
  static std::string ReplaceLines(const std::string& text,
                                  const std::function<bool(const std::string&)>& matches,
                                  const std::string& replacement, bool& found);
};

}  // namespace TQCassandra
