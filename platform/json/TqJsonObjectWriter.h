#pragma once

#include <string>
#include <utility>
#include <vector>

namespace TqJson {

// Writes the text of one JSON object whose members are strings, in the order
// they were added and without spaces; every name and value is escaped as
// JSON requires, so quotes, backslashes and control characters arrive intact.
class ObjectWriter {
 public:
  ObjectWriter& Add(const std::string& name, const std::string& value);
  // False when a name or value is not valid UTF-8 (JSON text cannot carry it).
  bool Text(std::string& out) const;

 private:
  std::vector<std::pair<std::string, std::string>> members_;
};

}  // namespace TqJson
