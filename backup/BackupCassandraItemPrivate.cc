#include "backup/BackupCassandraItemPrivate.h"

#include "backup/BackupCassandraItem.h"
#include "platform/index/IndexMetaDataHelper.h"
#include "platform/log/LogWriter.h"

namespace OBJECTOPSAPI {

BackupCassandraItemPrivate::BackupCassandraItemPrivate(const std::string& filePath,
                                                       const std::string& headerPath,
                                                       uint64_t flags,
                                                       const ExtentBackupParams& extent)
    : BackupUnixFilePrivate(filePath, headerPath, flags, extent) {}

BackupCassandraItemPrivate::~BackupCassandraItemPrivate() = default;

CQiError BackupCassandraItemPrivate::fillMetaDataList() {
  BackupUnixFilePrivate::fillMetaDataList();
  int32_t type = 0;
  if (!GetCassandraFileType(m_headerPath, type)) return CQiError::Success();
  if (type != CASSANDRA_FILE_TYPE_DATA_FILE) setFlags(getFlags() | kCassandraNotDataFileFlag);
  const std::string text = IndexMetaDataHelper::encodeData(INDEXINGDATA_CASSANDRA_FILE_TYPE, &type);
  m_metaDataList.push_back(MetaDataInfo(INDEXINGDATA_CASSANDRA_FILE_TYPE, text));
  TQLOG(3, "Sending Metadata [INDEXINGDATA_CASSANDRA_FILE_TYPE] = %d for file %s, as string: %s",
        type, m_headerPath.c_str(), text.c_str());
  return CQiError::Success();
}

}  // namespace OBJECTOPSAPI
