#pragma once

#include <cstdint>
#include <string>

#include "platform/objectops/BackupFile.h"

namespace OBJECTOPSAPI {

// What an item's header path names; the value of its
// INDEXINGDATA_CASSANDRA_FILE_TYPE metadata.
enum CassandraFileType : int32_t {
  CASSANDRA_FILE_TYPE_INSTANCE = 0,    // /<cluster>/<dc>/<instance>
  CASSANDRA_FILE_TYPE_DATACENTER = 1,  // /<cluster>/<dc>
  CASSANDRA_FILE_TYPE_TABLE = 2,       // /<cluster>/<dc>/<instance>/<keyspace>/<table>
  CASSANDRA_FILE_TYPE_KEYSPACE = 3,    // /<cluster>/<dc>/<instance>/<keyspace>
  CASSANDRA_FILE_TYPE_DATA_FILE = 4,   // .../<keyspace>/<table>/<file>
  CASSANDRA_FILE_TYPE_COMMIT_LOG = 5,  // /<cluster>/<dc>/<instance>/#COMMITLOG#[/<file>]
  CASSANDRA_FILE_TYPE_CLUSTER = 6,     // /<cluster>
};

// The header path component under which an instance's commit logs are kept.
constexpr const char* kCassandraCommitLogComponent = "#COMMITLOG#";
// Object flag of every item that is not a data file (directories and commit
// logs).
constexpr uint32_t kCassandraNotDataFileFlag = 0x4000;
// Item flag the backup worker sets on every item of a commit-log job.
constexpr uint64_t kCassandraCommitLogItemFlag = 0x40;

// The file type of a header path: commit log when its fifth "/"-field (the
// first is the empty one before the leading "/") is "#COMMITLOG#", otherwise
// by its number of "/" (1 cluster, 2 data centre, 3 instance, 4 keyspace,
// 5 table, 6 file). False for a path with no "/" or more than six.
bool GetCassandraFileType(const std::string& headerPath, int32_t& type);

// One file or directory of a Cassandra node backed up under its header path
// with its Cassandra file type as index metadata (BackupCassandraItemPrivate
// does the work).
class BackupCassandraItem : public BackupFile {
 public:
  BackupCassandraItem(const std::string& filePath, const std::string& headerPath, uint64_t flags,
                      const ExtentBackupParams& extent);
  ~BackupCassandraItem() override;
};

}  // namespace OBJECTOPSAPI
