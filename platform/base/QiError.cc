#include "platform/base/QiError.h"

#include <cstdio>

CQiError& CQiError::Push(const FXCodeLocation& location) {
  if (!detail_) detail_ = std::make_shared<Detail>();
  detail_->chain.push_back(Step{location.file() ? location.file() : "",
                                location.function() ? location.function() : "", location.line()});
  return *this;
}

std::string CQiError::GetMessage() const { return detail_ ? detail_->message : std::string(); }

const std::vector<std::string>& CQiError::GetEventArgs() const {
  static const std::vector<std::string> kNone;
  return detail_ ? detail_->eventArgs : kNone;
}

std::string CQiError::AsString(int format) const {
  if (!IsError()) return "Success";
  char head[64];
  static const char* const kFacility[] = {"Win32", "errno", "event", "?", "?", "?", "?", "?"};
  std::snprintf(head, sizeof head, "[%s 0x%X]", kFacility[GetFacility()], GetValue());
  std::string text = head;
  if (detail_) {
    if (!detail_->message.empty()) text += " " + detail_->message;
    for (const auto& a : detail_->eventArgs) text += " [" + a + "]";
    if (format != 2) {
      for (const auto& s : detail_->chain) {
        text += "\n  at " + s.function + " (" + s.file + ":" + std::to_string(s.line) + ")";
      }
    }
  }
  return text;
}
