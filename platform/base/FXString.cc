#include "platform/base/FXString.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/base/FXErrorUtil.h"

CQiError FXString::Split(const std::string& text, const std::string& separator,
                         std::vector<std::string>& parts, int flags) {
  parts.clear();
  if (separator.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Empty separator");
  size_t begin = 0;
  while (true) {
    size_t at = text.find(separator, begin);
    std::string token =
        text.substr(begin, at == std::string::npos ? std::string::npos : at - begin);
    if (!(token.empty() && (flags & kSkipEmpty))) parts.push_back(std::move(token));
    if (at == std::string::npos) break;
    begin = at + separator.size();
  }
  return CQiError::Success();
}

CQiError FXString::Split(const char* text, const char* separator, std::vector<std::string>& parts,
                         int flags) {
  if (!separator) {
    parts.clear();
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Null separator");
  }
  return Split(std::string(text ? text : ""), std::string(separator), parts, flags);
}

CQiError FXString::Split(const char* text, const char* separator, std::vector<CQiString>& parts,
                         int flags) {
  std::vector<std::string> pieces;
  CQiError error = Split(text, separator, pieces, flags);
  parts.clear();
  for (const auto& p : pieces) parts.emplace_back(p);
  return error;
}

void FXString::TrimLeft(std::string& text, const char* characters) {
  size_t first = text.find_first_not_of(characters ? characters : "");
  text.erase(0, first == std::string::npos ? text.size() : first);
}

void FXString::TrimRight(std::string& text, const char* characters) {
  size_t last = text.find_last_not_of(characters ? characters : "");
  text.erase(last == std::string::npos ? 0 : last + 1);
}

void FXString::TrimRight(CQiString& text, const char* characters) {
  std::string s = text.str();
  TrimRight(s, characters);
  text = s;
}

void FXString::TrimWhiteSpace(std::string& text) {
  TrimRight(text, " \t");
  TrimLeft(text, " \t");
}

void FXString::TrimWhiteSpace(CQiString& text) {
  std::string s = text.str();
  TrimWhiteSpace(s);
  text = s;
}

const char* FXString::FindString(const char* text, const char* word, bool ignoreCase) {
  if (!text || !word) return nullptr;
  if (!ignoreCase) return std::strstr(text, word);
  size_t n = std::strlen(word);
  for (const char* p = text;; ++p) {
    size_t i = 0;
    while (i < n && p[i] &&
           std::tolower(static_cast<unsigned char>(p[i])) ==
               std::tolower(static_cast<unsigned char>(word[i])))
      ++i;
    if (i == n) return p;
    if (!*p) return nullptr;
  }
}

size_t FXString::ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return 0;
  size_t count = 0;
  std::string out;
  size_t begin = 0;
  for (size_t at; (at = text.find(from, begin)) != std::string::npos; begin = at + from.size()) {
    out.append(text, begin, at - begin);
    out += to;
    ++count;
  }
  if (count) {
    out.append(text, begin, std::string::npos);
    text.swap(out);
  }
  return count;
}

size_t FXString::ReplaceAll(CQiString& text, const char* from, const char* to) {
  std::string s = text.str();
  size_t count = ReplaceAll(s, std::string(from ? from : ""), std::string(to ? to : ""));
  if (count) text = s;
  return count;
}

std::string FXString::Format(const char* format, ...) {
  if (!format) return std::string();
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

std::string FXString::FormatV(const char* format, va_list args) {
  if (!format) return std::string();
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&out[0], out.size() + 1, format, args);
  return out;
}

bool FXString::ParseDecimal(const std::string& text, long long low, long long high,
                            long long& value) {
  if (text.empty()) return false;
  size_t first = text[0] == '-' ? 1 : 0;
  if (first == text.size()) return false;
  for (size_t i = first; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || v < low || v > high) return false;
  value = v;
  return true;
}

std::string FXString::QuoteForShell(const std::string& text) {
  bool plain = !text.empty();
  for (unsigned char c : text) {
    if (!(std::isalnum(c) || (c != 0 && std::strchr("@%+=:,./_-", c)))) {
      plain = false;
      break;
    }
  }
  if (plain) return text;
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}
