#include "platform/suite/ClientDirectory.h"

#include <algorithm>

#include "platform/log/LogWriter.h"
#include "platform/suite/SuiteStore.h"

namespace {

// The clients registered with the central server; none when the records
// cannot be read (logged).
std::vector<SClientRecord> RegisteredClients() {
  std::vector<SClientRecord> clients;
  CQiError error = CSuiteStore::Default().LoadClients(clients);
  if (error.IsError()) {
    TQLOG(-1, "Failed to read the registered clients: %s", error.AsString(2).c_str());
    clients.clear();
  }
  return clients;
}

}  // namespace

CClientDirectory& CClientDirectory::Instance() {
  static CClientDirectory directory;
  return directory;
}

void CClientDirectory::Add(const SClientRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = records_.begin(); it != records_.end();) {
    if (it->id == record.id || it->name == record.name) {
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
  records_.push_back(record);
}

bool CClientDirectory::FindById(uint64_t id, SClientRecord& record) const {
  for (const auto& r : All()) {
    if (r.id == id) {
      record = r;
      return true;
    }
  }
  return false;
}

bool CClientDirectory::FindByName(const std::string& name, SClientRecord& record) const {
  for (const auto& r : All()) {
    if (r.name == name) {
      record = r;
      return true;
    }
  }
  return false;
}

bool CClientDirectory::FindByAddress(const std::string& address, SClientRecord& record) const {
  if (address.empty()) return false;
  for (const auto& r : All()) {
    if (r.hostName == address ||
        std::find(r.addresses.begin(), r.addresses.end(), address) != r.addresses.end()) {
      record = r;
      return true;
    }
  }
  return false;
}

std::vector<SClientRecord> CClientDirectory::All() const {
  std::vector<SClientRecord> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all = records_;
  }
  const size_t own = all.size();
  for (auto& registered : RegisteredClients()) {
    bool hidden = false;
    for (size_t i = 0; i < own && !hidden; ++i) {
      hidden = all[i].id == registered.id || all[i].name == registered.name;
    }
    if (!hidden) all.push_back(std::move(registered));
  }
  return all;
}

void CClientDirectory::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}
