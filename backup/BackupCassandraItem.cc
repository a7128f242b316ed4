#include "backup/BackupCassandraItem.h"

#include <algorithm>
#include <vector>

#include "backup/BackupCassandraItemPrivate.h"
#include "platform/base/FXString.h"

namespace OBJECTOPSAPI {

bool GetCassandraFileType(const std::string& headerPath, int32_t& type) {
  std::vector<std::string> fields;
  FXString::Split(headerPath, "/", fields, FXString::kKeepEmpty);
  if (fields.size() >= 5 && fields[4] == kCassandraCommitLogComponent) {
    type = CASSANDRA_FILE_TYPE_COMMIT_LOG;
    return true;
  }
  switch (std::count(headerPath.begin(), headerPath.end(), '/')) {
    case 1:
      type = CASSANDRA_FILE_TYPE_CLUSTER;
      return true;
    case 2:
      type = CASSANDRA_FILE_TYPE_DATACENTER;
      return true;
    case 3:
      type = CASSANDRA_FILE_TYPE_INSTANCE;
      return true;
    case 4:
      type = CASSANDRA_FILE_TYPE_KEYSPACE;
      return true;
    case 5:
      type = CASSANDRA_FILE_TYPE_TABLE;
      return true;
    case 6:
      type = CASSANDRA_FILE_TYPE_DATA_FILE;
      return true;
    default:
      return false;
  }
}

BackupCassandraItem::BackupCassandraItem(const std::string& filePath, const std::string& headerPath,
                                         uint64_t flags, const ExtentBackupParams& extent)
    : BackupFile(filePath, headerPath, flags, extent) {
  SetPrivate(new BackupCassandraItemPrivate(filePath, headerPath, flags, extent));
}

BackupCassandraItem::~BackupCassandraItem() {
  delete m_pPrivate;
  m_pPrivate = nullptr;
}

}  // namespace OBJECTOPSAPI
