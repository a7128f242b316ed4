#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A job event being built: text arguments are added with operator<<, then the
// event is raised with a severity and an id of the suite's event catalogue.
// Raised events go into the process's CEventJournal.
class EvEvent {
 public:
  static constexpr int kTextArgType = 11;

  EvEvent() = default;
  virtual ~EvEvent() = default;

  EvEvent& operator<<(const char* text);
  EvEvent& operator<<(const std::string& text);
  template <typename S, typename = decltype(std::declval<const S&>().c_str())>
  EvEvent& operator<<(const S& text) {
    return *this << static_cast<const char*>(text.c_str());
  }

  void MajorEvent(uint32_t eventId, int = 0, int = 0);
  void MinorEvent(uint32_t eventId, int = 0, int = 0);
  void CriticalEvent(uint32_t eventId, int = 0, int = 0);
  void InfoEvent(uint32_t eventId, int = 0, int = 0);

  const std::vector<std::string>& args() const { return args_; }
  const std::vector<int>& argTypes() const { return types_; }

 protected:
  void Raise(int severity, uint32_t eventId);

  std::vector<std::string> args_;
  std::vector<int> types_;
};
