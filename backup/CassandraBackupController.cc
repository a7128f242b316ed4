#include "backup/CassandraBackupController.h"

#include "platform/log/LogWriter.h"

namespace TQCassandra {

CassandraBackupController::CassandraBackupController() = default;

CassandraBackupController::~CassandraBackupController() { TQLOG(0, "--------"); }

}  // namespace TQCassandra
