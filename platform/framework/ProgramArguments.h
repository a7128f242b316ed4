#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"

// The program arguments the framework hands a coordinator or a controller.
//
// The argument line is a list of tokens separated by blanks or tabs. A token
// in double quotes keeps its blanks; inside quotes \" stands for a quote and
// \\ for a backslash (outside quotes a backslash is an ordinary character).
// An unquoted token of "-" followed by a letter names an option; the token
// after it is the option's value unless that token names an option itself.
// Every other token that is not a value is a bare flag (such as "log"). When
// an option is given twice, the later value counts.
class CProgramArguments {
 public:
  struct Token {
    std::string text;
    bool quoted = false;
  };
  struct Option {
    std::string name;  // without the dash
    std::string value;
    bool hasValue = false;
  };

  CProgramArguments() = default;
  // From a process's argument vector; every element is one token.
  CProgramArguments(int argc, const char* const* argv);
  explicit CProgramArguments(const std::vector<std::string>& tokens);
  virtual ~CProgramArguments() = default;

  // Reads an argument line; error 87 for an unterminated quote.
  static CQiError Parse(const std::string& line, CProgramArgumentsPtr& out);

  // The argument line (as given, or made from the tokens with quoting).
  const std::string& getArgumentLine() const { return line_; }
  std::vector<std::string> getArguments() const;
  const std::vector<Option>& getOptions() const { return options_; }
  const std::vector<std::string>& getFlags() const { return flags_; }

  // The option's value: error 259 when the option is absent, 87 when it is
  // given without a value. `value` is untouched on error.
  CQiError getStringValue(const std::string& name, std::string& value) const;
  // The option's value as a whole decimal number: as getStringValue, and 87
  // when the value is not a number or out of range.
  CQiError getNumberValue(const std::string& name, int64_t& value) const;
  // Whether the flag is given, as a bare word or as an option of that name.
  bool isFlagSet(const std::string& name) const;
  bool hasOption(const std::string& name) const;

  // A token as it must be written on a line so that it reads back unchanged.
  static std::string Quote(const std::string& text);

 private:
  void Build(const std::vector<Token>& tokens);
  const Option* Find(const std::string& name) const;

  std::string line_;
  std::vector<Token> tokens_;
  std::vector<Option> options_;
  std::vector<std::string> flags_;
};
