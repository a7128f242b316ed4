#pragma once

#include <cstdint>

// A count of 100-nanosecond intervals since 1601-01-01.
class CTimeStamp {
 public:
  static constexpr int64_t kUnixEpoch = 116444736000000000LL;
  static constexpr int64_t kFilled = 0x7FFFFFFFFFFFFFFFLL;

  CTimeStamp() = default;
  explicit CTimeStamp(int64_t value) : value_(value) {}
  static CTimeStamp FromUnixTime(int64_t seconds) { return CTimeStamp(seconds * 10000000 + kUnixEpoch); }
  static CTimeStamp Now();

  bool IsClear() const { return value_ == 0; }
  bool IsFilled() const { return value_ == kFilled; }
  int64_t Value() const { return value_; }
  int64_t AsUnixTime() const {
    if (IsClear()) return 0;
    if (IsFilled()) return kFilled;
    return (value_ - kUnixEpoch) / 10000000;
  }

 private:
  int64_t value_ = 0;
};
