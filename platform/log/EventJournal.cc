#include "platform/log/EventJournal.h"

#include <ctime>

namespace {
std::function<std::string()>& Provider() {
  static std::function<std::string()> provider;
  return provider;
}
}  // namespace

CEventJournal& CEventJournal::Instance() {
  static CEventJournal journal;
  return journal;
}

void CEventJournal::SetClientProvider(std::function<std::string()> provider) {
  Provider() = std::move(provider);
}

void CEventJournal::Add(Entry entry) {
  if (entry.client.empty() && Provider()) entry.client = Provider()();
  if (entry.time == 0) entry.time = static_cast<int64_t>(std::time(nullptr));
  std::vector<Listener> listeners;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    for (auto& l : listeners_) listeners.push_back(l.second);
  }
  for (auto& l : listeners) l(entry);
}

std::vector<CEventJournal::Entry> CEventJournal::Entries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

std::vector<CEventJournal::Entry> CEventJournal::Find(uint32_t id, Kind kind) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Entry> out;
  for (const auto& e : entries_)
    if (e.id == id && e.kind == kind) out.push_back(e);
  return out;
}

void CEventJournal::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

int CEventJournal::AddListener(Listener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  int id = nextListener_++;
  listeners_.emplace_back(id, std::move(listener));
  return id;
}

void CEventJournal::RemoveListener(int id) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = listeners_.begin(); it != listeners_.end(); ++it) {
    if (it->first == id) {
      listeners_.erase(it);
      return;
    }
  }
}

const char* CEventJournal::SeverityName(Severity severity) {
  switch (severity) {
    case kInfo: return "info";
    case kMinor: return "minor";
    case kMajor: return "major";
    case kCritical: return "critical";
  }
  return "?";
}
