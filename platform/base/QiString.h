#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/base/AutoMemory.h"

// The suite's string: a character buffer and a length.
class CQiString {
 public:
  CQiString() = default;
  CQiString(const char* text) { Assign(text, text ? std::strlen(text) : 0); }  // NOLINT
  CQiString(const std::string& text) { Assign(text.data(), text.size()); }     // NOLINT
  CQiString(const char* text, size_t length) { Assign(text, length); }

  // The text; a static empty text when the length is 0 (never null).
  const char* c_str() const {
    return length_ ? buffer_.Ptr_const() : "";
  }
  operator const char*() const { return c_str(); }  // NOLINT
  std::string str() const { return std::string(c_str(), length_); }

  // Writable buffer of at least `capacity` characters plus the terminator;
  // call ReleaseBuffer() after writing to fix the length at the NUL.
  char* GetBuffer(size_t capacity = 0);
  void ReleaseBuffer();

  size_t length() const { return length_; }
  size_t GetLength() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  void Empty() { length_ = 0; if (buffer_.Ptr()) buffer_.Ptr()[0] = '\0'; }

  CQiString& operator=(const char* text) {
    Assign(text, text ? std::strlen(text) : 0);
    return *this;
  }
  CQiString& operator=(const std::string& text) {
    Assign(text.data(), text.size());
    return *this;
  }
  // Appends the text up to its NUL; a null text changes nothing.
  CQiString& operator+=(const char* text);
  CQiString& operator+=(const std::string& text) { return *this += text.c_str(); }
  CQiString& operator+=(const CQiString& text) { return *this += text.c_str(); }
  CQiString operator+(const char* text) const {
    CQiString copy(*this);
    copy += text;
    return copy;
  }
  CQiString operator+(const std::string& text) const { return *this + text.c_str(); }

  // printf-style assignment and appending.
  CQiString& Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  CQiString& AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

  bool operator==(const CQiString& o) const { return Safe_strcmp(c_str(), o.c_str()) == 0; }
  bool operator==(const char* o) const { return Safe_strcmp(c_str(), o) == 0; }
  bool operator!=(const CQiString& o) const { return !(*this == o); }
  bool operator<(const CQiString& o) const { return Safe_strcmp(c_str(), o.c_str()) < 0; }

  // strcmp that takes null as the empty text.
  static int Safe_strcmp(const char* a, const char* b);

 private:
  void Assign(const char* text, size_t length);
  CAutoMemory<char> buffer_;
  size_t length_ = 0;
};
