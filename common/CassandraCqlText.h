#pragma once

#include <string>
#include <vector>

namespace TQCassandra {

// Text handling of backed-up CQL statements before they are sent to Priam.
class CassandraCqlText {
 public:
  // Cuts `text` at every ";" that separates statements, that is every ";"
  // outside a quoted literal ('...', "...", $$...$$) and outside a comment
  // (-- or // to the line end, /* ... */). The parts keep their text as it
  // is, blanks included; empty parts are kept, so a text ending in ";" gives
  // an empty last part and a text without separator one part.
  static std::vector<std::string> SplitStatements(const std::string& text);
  // The text with every line feed turned into a blank.
  static std::string FlattenLineFeeds(const std::string& text);
};

}  // namespace TQCassandra
