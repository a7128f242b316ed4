#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// What the suite knows of one client.
struct SClientRecord {
  uint64_t id = 0;
  std::string name;
  std::string hostName;
  // The host name under which the remote-command service reaches the client
  // (empty: the host name).
  std::string mangledHostName;
  uint32_t operatingSystemId = 0;
};

// The process's directory of suite clients, filled by the job runner and by
// tests; TQClient answers from it.
class CClientDirectory {
 public:
  static CClientDirectory& Instance();

  // Adds the client, replacing a record with the same id or name.
  void Add(const SClientRecord& record);
  bool FindById(uint64_t id, SClientRecord& record) const;
  bool FindByName(const std::string& name, SClientRecord& record) const;
  std::vector<SClientRecord> All() const;
  void Clear();

 private:
  CClientDirectory() = default;
  mutable std::mutex mutex_;
  std::vector<SClientRecord> records_;
};
