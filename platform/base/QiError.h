#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/FXCodeLocation.h"

// The error value of almost every operation: a 32-bit code (0 = success, top
// bit set = error) and a shared chain of texts and code locations.
//
// Code layout for errors: bit 31 set, bits 28-30 the facility, bits 0-27 the
// number within it. Win32 error 5 is 0x80000005, errno 2 is 0x90000002 and
// job event 0x6000485 is 0xA6000485.
class CQiError {
 public:
  enum Facility : uint32_t { kWin32 = 0, kErrNo = 1, kEvent = 2 };

  struct Step {
    std::string file;
    std::string function;
    int line = 0;
  };
  struct Detail {
    std::string message;               // formatted message of the builder
    std::vector<std::string> eventArgs;  // text arguments of an event error
    std::vector<Step> chain;           // where it was made, then every Push
  };

  CQiError() = default;
  explicit CQiError(uint32_t code) : code_(code) {}
  CQiError(uint32_t code, std::shared_ptr<Detail> detail) : code_(code), detail_(std::move(detail)) {}

  static CQiError Success() { return CQiError(); }

  int IsError() const { return (code_ & 0x80000000u) ? 1 : 0; }
  uint32_t GetCode() const { return code_; }
  Facility GetFacility() const { return static_cast<Facility>((code_ >> 28) & 0x7u); }
  // The number within the facility: the Win32 code, errno or event id.
  uint32_t GetValue() const { return code_ & 0x0FFFFFFFu; }

  // Adds the caller's location to the chain and returns the same error.
  CQiError& Push(const FXCodeLocation& location);

  // The text for logs and events. Format 2 gives the message and the code
  // only; any other format adds the chain of locations.
  std::string AsString(int format = 0) const;

  // The builder's formatted message ("" when none).
  std::string GetMessage() const;
  const std::vector<std::string>& GetEventArgs() const;
  const std::shared_ptr<Detail>& detail() const { return detail_; }

  static uint32_t MakeCode(Facility facility, uint32_t value) {
    return 0x80000000u | (static_cast<uint32_t>(facility) << 28) | (value & 0x0FFFFFFFu);
  }

 private:
  uint32_t code_ = 0;
  std::shared_ptr<Detail> detail_;
};
