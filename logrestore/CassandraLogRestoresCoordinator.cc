#include "logrestore/CassandraLogRestoresCoordinator.h"

namespace TQCassandra {

CCassandraLogRestores::CCassandraLogRestores(bool cleanupRestore)
    : CRestore(false), CCassandraRestores(cleanupRestore) {
  isLogRestore = true;
}

CCassandraLogRestores::~CCassandraLogRestores() = default;

}  // namespace TQCassandra
