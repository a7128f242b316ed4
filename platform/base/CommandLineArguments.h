#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"

// Parses an argument line of options ("-name value"), flags ("-name") and
// plain arguments.
//
// The line is split at blanks and tabs; double quotes group a token (and are
// removed) and a backslash inside quotes escapes the next character. A token
// that starts with "-" or "--" followed by a character that is not a digit is
// an option name (without the dashes); the next token is its value unless it
// is itself an option name, otherwise the option is a flag. Quoted tokens and
// negative numbers ("-1") are always values. Any other token is a plain
// argument. A name given twice keeps its last value.
class CCommandLineArguments {
 public:
  CCommandLineArguments() = default;
  explicit CCommandLineArguments(const char* line) { Parse(line); }

  // Replaces what was parsed before. An unterminated quote is error 87
  // (the tokens before it are kept).
  CQiError Parse(const char* line);
  // Parses argv[1..argc-1] as already split tokens.
  CQiError Parse(int argc, const char* const* argv);

  // The value of option `name`: error 1168 (not found) when the name is
  // absent; a flag gives the empty value.
  CQiError GetOption(const char* name, std::string& value) const;
  CQiError GetOption(const char* name, CQiString& value) const;
  // Sets `present` when `name` was given, as a flag or with a value.
  CQiError GetFlag(const char* name, bool& present) const;
  bool HasOption(const char* name) const;

  const std::vector<std::string>& GetPlainArguments() const { return plain_; }

 private:
  struct Token {
    std::string text;
    bool quoted;
  };
  static bool IsName(const Token& token);
  void Build(const std::vector<Token>& tokens);
  const std::pair<std::string, std::string>* Find(const char* name) const;

  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<std::string> plain_;
};
