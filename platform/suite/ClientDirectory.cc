#include "platform/suite/ClientDirectory.h"

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
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& r : records_) {
    if (r.id == id) {
      record = r;
      return true;
    }
  }
  return false;
}

bool CClientDirectory::FindByName(const std::string& name, SClientRecord& record) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& r : records_) {
    if (r.name == name) {
      record = r;
      return true;
    }
  }
  return false;
}

std::vector<SClientRecord> CClientDirectory::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

void CClientDirectory::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.clear();
}
