#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

CCassandraRestoreController::CCassandraRestoreController() = default;

CCassandraRestoreController::~CCassandraRestoreController() = default;

}  // namespace TQCassandra
