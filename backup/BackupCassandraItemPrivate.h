#pragma once

#include <cstdint>
#include <string>

#include "platform/objectops/BackupUnixFilePrivate.h"

namespace OBJECTOPSAPI {

// The working part of a BackupCassandraItem: a local file or directory whose
// metadata list carries its INDEXINGDATA_CASSANDRA_FILE_TYPE, and whose
// object flags mark every item but a data file with 0x4000.
class BackupCassandraItemPrivate : public BackupUnixFilePrivate {
 public:
  BackupCassandraItemPrivate(const std::string& filePath, const std::string& headerPath,
                             uint64_t flags, const ExtentBackupParams& extent);
  ~BackupCassandraItemPrivate() override;

  // The base's list, then the file type of the header path (nothing for a
  // path without one).
  CQiError fillMetaDataList() override;
};

}  // namespace OBJECTOPSAPI
