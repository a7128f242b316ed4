#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Every job event raised and every pending cause set in this process, in
// order. Tests read it; the job runner prints and stores it.
class CEventJournal {
 public:
  enum Kind { kEvent, kPendingCause };
  enum Severity { kInfo = 0, kMinor = 1, kMajor = 2, kCritical = 3 };

  struct Entry {
    Kind kind;
    Severity severity;
    uint32_t id;
    std::vector<std::string> args;
    std::string client;  // the client context of the raising thread ("" when none)
    int64_t time;        // Unix time
  };
  using Listener = std::function<void(const Entry&)>;

  static CEventJournal& Instance();

  void Add(Entry entry);
  std::vector<Entry> Entries() const;
  // Entries of one kind carrying this id.
  std::vector<Entry> Find(uint32_t id, Kind kind = kEvent) const;
  bool Has(uint32_t id, Kind kind = kEvent) const { return !Find(id, kind).empty(); }
  void Clear();

  int AddListener(Listener listener);
  void RemoveListener(int id);

  // Gives the client name of the calling thread; set by the suite layer.
  static void SetClientProvider(std::function<std::string()> provider);

  static const char* SeverityName(Severity severity);

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<std::pair<int, Listener>> listeners_;
  int nextListener_ = 1;
};
