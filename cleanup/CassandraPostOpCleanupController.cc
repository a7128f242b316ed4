#include "cleanup/CassandraPostOpCleanupController.h"

namespace TQCassandra {

CassandraPostOpCleanupController::CassandraPostOpCleanupController() = default;

CassandraPostOpCleanupController::~CassandraPostOpCleanupController() = default;

}  // namespace TQCassandra
