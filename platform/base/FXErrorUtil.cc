#include "platform/base/FXErrorUtil.h"

#include <cstdarg>

#include "platform/base/FXString.h"

namespace {

CQiError Make(const FXCodeLocation& location, uint32_t code, std::string message) {
  auto detail = std::make_shared<CQiError::Detail>();
  detail->message = std::move(message);
  CQiError error(code, detail);
  error.Push(location);
  return error;
}

}  // namespace

CQiError FXErrorUtil::ErrorWin32(const FXCodeLocation& location, uint32_t code, const char* format,
                                 ...) {
  va_list args;
  va_start(args, format);
  std::string message = FXString::FormatV(format, args);
  va_end(args);
  return Make(location, CQiError::MakeCode(CQiError::kWin32, code), std::move(message));
}

CQiError FXErrorUtil::ErrorErrNo(const FXCodeLocation& location, int err, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = FXString::FormatV(format, args);
  va_end(args);
  return Make(location, CQiError::MakeCode(CQiError::kErrNo, static_cast<uint32_t>(err)),
              std::move(message));
}

CQiError FXErrorUtil::MakeEvent(const FXCodeLocation& location, uint32_t eventId,
                                std::vector<std::string> args) {
  CQiError error = Make(location, CQiError::MakeCode(CQiError::kEvent, eventId), std::string());
  error.detail()->eventArgs = std::move(args);
  return error;
}

CQiError FXErrorUtil::Restate(const FXCodeLocation& location, const CQiError& cause,
                              const std::string& message) {
  if (cause.GetFacility() == CQiError::kErrNo) {
    return ErrorErrNo(location, static_cast<int>(cause.GetValue()), "%s", message.c_str());
  }
  return ErrorWin32(location, cause.GetValue(), "%s", message.c_str());
}

bool FXErrorUtil::IsWin32(const CQiError& error, uint32_t code) {
  return error.IsError() && error.GetFacility() == CQiError::kWin32 && error.GetValue() == code;
}

bool FXErrorUtil::IsErrNo(const CQiError& error, int err) {
  return error.IsError() && error.GetFacility() == CQiError::kErrNo &&
         error.GetValue() == static_cast<uint32_t>(err);
}

bool FXErrorUtil::IsEvent(const CQiError& error, uint32_t eventId) {
  return error.IsError() && error.GetFacility() == CQiError::kEvent && error.GetValue() == eventId;
}
