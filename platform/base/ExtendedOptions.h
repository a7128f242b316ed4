#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// The extended-option string of a restore: named values in one text.
//
// Encoding: "name=value;" for every option in the order first set, where
// "%", "=", ";" and control characters of names and values are written as
// "%XX" (two upper-case hex digits); an integer value is its decimal text.
// Decoding is lenient: empty segments are skipped, a segment without "=" is
// a name with an empty value, and a "%" that does not start a valid escape
// stands for itself.
class CExtendedOptions {
 public:
  CExtendedOptions() = default;
  explicit CExtendedOptions(const std::string& options) { setOptions(options); }

  // Replaces every option by those of the encoded text.
  void setOptions(const std::string& options);
  // Sets an option, replacing its value in place when the name exists.
  void setOption(const std::string& name, const std::string& value);
  void setOption(const std::string& name, const char* value) {
    setOption(name, std::string(value ? value : ""));
  }
  // An integer option: its decimal text.
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
  void setOption(const std::string& name, T value) {
    setOption(name, std::to_string(value));
  }

  // True and the value when the option exists.
  bool getOption(const std::string& name, std::string& value) const;
  // Writes the encoded text of every option into `options`.
  void getOptions(std::string& options) const;

  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};
