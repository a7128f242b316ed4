#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"

// Text helpers of the base library. Every operation takes std::string or a C
// text (a CQiString converts to the latter).
class FXString {
 public:
  // Flags of Split.
  enum SplitFlags : int {
    kKeepEmpty = 0,  // empty tokens are kept ("/a" split on "/" gives "", "a")
    kSkipEmpty = 1,  // empty tokens are dropped
  };

  // Replaces the contents of `parts` with the pieces of `text` between the
  // occurrences of `separator`. An empty text gives one empty token (none
  // with kSkipEmpty). An empty or null separator is error 87.
  static CQiError Split(const std::string& text, const std::string& separator,
                        std::vector<std::string>& parts, int flags = kKeepEmpty);
  static CQiError Split(const char* text, const char* separator, std::vector<std::string>& parts,
                        int flags = kKeepEmpty);
  static CQiError Split(const char* text, const char* separator, std::vector<CQiString>& parts,
                        int flags = kKeepEmpty);

  // Trims blanks and tabs from both ends, in place.
  static void TrimWhiteSpace(std::string& text);
  static void TrimWhiteSpace(CQiString& text);
  // Trims every trailing (leading) character that occurs in `characters`.
  static void TrimRight(std::string& text, const char* characters = " \t");
  static void TrimRight(CQiString& text, const char* characters = " \t");
  static void TrimLeft(std::string& text, const char* characters = " \t");

  // The first occurrence of `word` in `text`, or null when there is none (or
  // either is null). With `ignoreCase` ASCII letters match regardless of case.
  static const char* FindString(const char* text, const char* word, bool ignoreCase);

  // Replaces every occurrence of `from` by `to`, scanning left to right and
  // never rescanning replaced text. Returns the number of replacements; an
  // empty `from` replaces nothing.
  static size_t ReplaceAll(std::string& text, const std::string& from, const std::string& to);
  static size_t ReplaceAll(CQiString& text, const char* from, const char* to);

  // `text` as one word of a /bin/sh command line: unchanged when it is not
  // empty and holds only letters, digits and "@%+=:,./_-"; otherwise in
  // single quotes, each "'" written as '\''. Nothing in the result is
  // expanded by the shell.
  static std::string QuoteForShell(const std::string& text);

  // printf-style formatting into a new string.
  static std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // A strict decimal: an optional "-" and digits only, nothing around them,
  // within [low, high]. `value` is left alone when the text is not one.
  static bool ParseDecimal(const std::string& text, long long low, long long high,
                           long long& value);
  // printf-style formatting of a va_list into a string.
  static std::string FormatV(const char* format, va_list args);
};
