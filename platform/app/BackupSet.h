#pragma once

#include <cstdint>

// A backup set of the suite: the group of subclients of one instance whose
// contents together make up what is protected.
class BackupSet {
 public:
  explicit BackupSet(uint64_t backupSetId) : backupSetId_(backupSetId) {}
  virtual ~BackupSet() = default;

  uint64_t getBackupSetId() const { return backupSetId_; }

 private:
  uint64_t backupSetId_;
};
