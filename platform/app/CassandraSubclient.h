#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/Subclient.h"
#include "platform/suite/SuiteRecordTypes.h"
#include "platform/suite/SuiteStore.h"

// A subclient of a Cassandra instance: its content and what its last backup
// left. The object reads the registered subclient (CSuiteStore::Default())
// when it is made; setBackedupContentXML writes through to the stored
// subclient. Every operation on a subclient that is not registered fails with
// Win32 1168 and leaves its output as it was.
class CassandraSubclient : public Subclient {
 public:
  explicit CassandraSubclient(uint64_t subclientId);

  // Whether the subclient is registered.
  bool isValid() const { return found_; }
  uint64_t getInstanceId() const { return record_.instanceId; }
  uint64_t getBackupSetId() const { return record_.backupSetId; }
  // The most streams a backup of the subclient may use, as registered.
  int getMaxStreams() const { return record_.maxStreams; }

  // XML text of the subclient's content (a content record, namespace 30,
  // class 1800); "" for a subclient without content (the default subclient).
  // `context` is not used.
  CQiError getCassandraContent(std::string& xml, void* context = nullptr) const;

  // The backed-up content: the XML text the last completed backup stored (the
  // per-node keyspace status, namespace 30 class 2047); "" before the first
  // backup. `context` is not used.
  CQiError getBackedupContentXML(std::string& xml, void* context = nullptr) const;
  CQiError setBackedupContentXML(const std::string& xml, void* context = nullptr);

 private:
  CQiError NotFound(const FXCodeLocation& location) const;

  CSuiteStore store_;
  uint64_t requestedId_;
  SSubclientRecord record_;
  bool found_ = false;
};
