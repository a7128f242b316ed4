#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

CCassandraRestores::CCassandraRestores(bool cleanupRestore) : CRestore(cleanupRestore) {}

CCassandraRestores::~CCassandraRestores() {
  restoreTask.reset();
  remoteSession.reset();
  zelkConfigClient.reset();
}

}  // namespace TQCassandra
