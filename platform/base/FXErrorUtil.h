#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/FXCodeLocation.h"
#include "platform/base/QiError.h"

// Builders and tests of error values.
class FXErrorUtil {
 public:
  // A Win32-numbered error with a printf-style message.
  static CQiError ErrorWin32(const FXCodeLocation& location, uint32_t code, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  // An errno error with a printf-style message.
  static CQiError ErrorErrNo(const FXCodeLocation& location, int err, const char* format, ...)
      __attribute__((format(printf, 3, 4)));
  // An error that carries a job event id and its text arguments.
  template <typename... Args>
  static CQiError ErrorEventMessage(const FXCodeLocation& location, uint32_t eventId,
                                    const Args&... args) {
    std::vector<std::string> texts;
    (texts.push_back(ToText(args)), ...);
    return MakeEvent(location, eventId, std::move(texts));
  }

  // A new error of the same kind and number as `cause`, with `message`
  // instead of its text (a caller's own words for a lower-level failure).
  static CQiError Restate(const FXCodeLocation& location, const CQiError& cause,
                          const std::string& message);

  static bool IsWin32(const CQiError& error, uint32_t code);
  static bool IsErrNo(const CQiError& error, int err);
  static bool IsEvent(const CQiError& error, uint32_t eventId);

  static CQiError MakeEvent(const FXCodeLocation& location, uint32_t eventId,
                            std::vector<std::string> args);

 private:
  static std::string ToText(const char* s) { return s ? s : ""; }
  static std::string ToText(const std::string& s) { return s; }
  template <typename T>
  static std::string ToText(const T& v) {
    if constexpr (std::is_arithmetic_v<T>) {
      return std::to_string(v);
    } else {
      return std::string(v.c_str());
    }
  }
};
