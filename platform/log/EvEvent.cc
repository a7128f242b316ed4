#include "platform/log/EvEvent.h"

#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"

EvEvent& EvEvent::operator<<(const char* text) {
  args_.push_back(text ? text : "");
  types_.push_back(kTextArgType);
  return *this;
}

EvEvent& EvEvent::operator<<(const std::string& text) { return *this << text.c_str(); }

void EvEvent::Raise(int severity, uint32_t eventId) {
  CEventJournal::Entry entry{CEventJournal::kEvent, static_cast<CEventJournal::Severity>(severity),
                             eventId, args_, std::string(), 0};
  std::string joined;
  for (const auto& a : args_) joined += " [" + a + "]";
  TQLOG(1, "Raising %s event 0x%X%s",
        CEventJournal::SeverityName(static_cast<CEventJournal::Severity>(severity)), eventId,
        joined.c_str());
  CEventJournal::Instance().Add(std::move(entry));
}

void EvEvent::MajorEvent(uint32_t eventId, int, int) { Raise(CEventJournal::kMajor, eventId); }
void EvEvent::MinorEvent(uint32_t eventId, int, int) { Raise(CEventJournal::kMinor, eventId); }
void EvEvent::CriticalEvent(uint32_t eventId, int, int) { Raise(CEventJournal::kCritical, eventId); }
void EvEvent::InfoEvent(uint32_t eventId, int, int) { Raise(CEventJournal::kInfo, eventId); }
