#include "restore/CassandraRestoresCoordinator.h"

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraRestoreClientConfig.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/EvRstTask.h"

namespace TQCassandra {

CCassandraRestores::CCassandraRestores(bool cleanupRestore) : CRestore(cleanupRestore) {}

CCassandraRestores::~CCassandraRestores() {
  restoreTask.reset();
  remoteSession.reset();
  zelkConfigClient.reset();
  // The Priam of the coordinator ends with the phase, also when the
  // point-in-time replay still holds a reference to the utility.
  if (priamUtil && priamUtil->getIsConnected()) {
    CQiError e = priamUtil->stopPriam();
    if (e.IsError()) TQLOG(0, "Failed to stop the coordinator's Priam: %s", e.AsString(2).c_str());
  }
}

}  // namespace TQCassandra
