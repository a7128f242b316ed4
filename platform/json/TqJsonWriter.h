#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace TqJson {

// Builds the text of a flat JSON object whose members keep the order in
// which they are added, written without blanks ({"a":"x","b":1}). Every
// string is escaped by the JSON library, so any text (quotes, backslashes,
// control characters) comes back unchanged when the object is parsed; bytes
// that are not UTF-8 are replaced by U+FFFD rather than making the text
// invalid.
class ObjectWriter {
 public:
  ObjectWriter();
  ~ObjectWriter();
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  ObjectWriter& Add(const std::string& name, const std::string& value);
  ObjectWriter& Add(const std::string& name, const char* value) {
    return Add(name, std::string(value));
  }
  ObjectWriter& Add(const std::string& name, int64_t value);
  ObjectWriter& Add(const std::string& name, int value) {
    return Add(name, static_cast<int64_t>(value));
  }

  std::string Text() const;
  // The same text, strictly: false when a name or value is not valid UTF-8
  // (JSON text cannot carry it), for bodies that must arrive byte for byte.
  bool Text(std::string& out) const;

 private:
  struct Members;
  std::unique_ptr<Members> members_;
};

}  // namespace TqJson
