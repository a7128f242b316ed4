#include "platform/base/QiString.h"

#include <cstdarg>
#include <cstring>

#include "platform/base/FXString.h"

void CQiString::Assign(const char* text, size_t length) {
  if (!text || length == 0) {
    Empty();
    return;
  }
  if (!buffer_.Reserve(length + 1)) return;
  std::memmove(buffer_.Ptr(), text, length);
  buffer_.Ptr()[length] = '\0';
  length_ = length;
}

char* CQiString::GetBuffer(size_t capacity) {
  size_t need = (capacity > length_ ? capacity : length_) + 1;
  if (!buffer_.Reserve(need)) return nullptr;
  return buffer_.Ptr();
}

void CQiString::ReleaseBuffer() {
  char* p = buffer_.Ptr();
  length_ = p ? strnlen(p, buffer_.Size()) : 0;
}

CQiString& CQiString::operator+=(const char* text) {
  if (!text) return *this;
  size_t add = std::strlen(text);
  if (add == 0) return *this;
  if (!buffer_.Reserve(length_ + add + 1)) return *this;
  std::memmove(buffer_.Ptr() + length_, text, add);
  length_ += add;
  buffer_.Ptr()[length_] = '\0';
  return *this;
}

CQiString& CQiString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = FXString::FormatV(format, args);
  va_end(args);
  Assign(s.data(), s.size());
  return *this;
}

CQiString& CQiString::AppendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = FXString::FormatV(format, args);
  va_end(args);
  return *this += s.c_str();
}

int CQiString::Safe_strcmp(const char* a, const char* b) {
  return std::strcmp(a ? a : "", b ? b : "");
}
