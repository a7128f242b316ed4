#include "logrestore/CassandraLogRestoresController.h"

namespace TQCassandra {

CCassandraLogRestoreController::CCassandraLogRestoreController() = default;

CCassandraLogRestoreController::~CCassandraLogRestoreController() = default;

}  // namespace TQCassandra
