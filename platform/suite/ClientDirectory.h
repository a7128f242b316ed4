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
  // The network addresses of the client machine (several when the client
  // hosts Cassandra nodes in containers).
  std::vector<std::string> addresses;
};

// The process's directory of suite clients: the clients added to it in this
// process (by the job runner and by tests) and, behind them, the clients
// registered with the central server (CSuiteStore::Default(), read afresh on
// every lookup so that other processes' registrations are seen). A client
// added here hides a registered one with the same id or name. TQClient
// answers from it.
class CClientDirectory {
 public:
  static CClientDirectory& Instance();

  // Adds the client to this process's directory, replacing a record with the
  // same id or name.
  void Add(const SClientRecord& record);
  bool FindById(uint64_t id, SClientRecord& record) const;
  bool FindByName(const std::string& name, SClientRecord& record) const;
  // The first client (process clients first, then registered ones in their
  // stored order) that lists the address, or whose host name is the address.
  bool FindByAddress(const std::string& address, SClientRecord& record) const;
  // The process's clients, then the registered clients they do not hide.
  std::vector<SClientRecord> All() const;
  // Forgets the clients added in this process (registered clients stay).
  void Clear();

 private:
  CClientDirectory() = default;
  mutable std::mutex mutex_;
  std::vector<SClientRecord> records_;
};
