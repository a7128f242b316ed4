// Exported factories of the plug-in.

#include "entry/library.h"

#include <cstring>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraBackupCoordinator.h"
#include "browse/ClientBrowse.h"
#include "cleanup/CassandraPostOpCleanup.h"
#include "cleanup/CassandraPostOpCleanupController.h"
#include "entry/Scan.h"
#include "logrestore/CassandraLogRestoresController.h"
#include "logrestore/CassandraLogRestoresCoordinator.h"
#include "platform/framework/FSRestoreByJobController.h"
#include "platform/framework/RestoreByJob.h"
#include "restore/CassandraRestoresController.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace {

bool IsKind(const char* kind, const char* name) { return std::strcmp(kind, name) == 0; }

}  // namespace

extern "C" {

DistributedQEL::ICoordinator* createICoordinatorInstance(const char* kind) {
  if (kind == nullptr) return nullptr;
  if (IsKind(kind, "scan")) return new TQCassandra::CScan();
  if (IsKind(kind, "backup")) return new TQCassandra::CassandraBackupCoordinator();
  if (IsKind(kind, "postop")) return new TQCassandra::CassandraPostOpCleanup();
  // The next three hold the coordinator interface in a virtual base; the
  // conversion goes through it.
  if (IsKind(kind, "restore")) return new TQCassandra::CCassandraRestores(false);
  if (IsKind(kind, "CassandraLogRestore")) return new TQCassandra::CCassandraLogRestores(false);
  if (IsKind(kind, "ifrestore")) return new TQDC_FileSystem::CRestoreByJob(false);
  if (IsKind(kind, "cleanup")) return new TQDC_FileSystem::CRestore(true);
  return nullptr;
}

DistributedQEL::CController* createIControllerInstance(const char* kind) {
  if (kind == nullptr) return nullptr;
  if (IsKind(kind, "backup")) return new TQCassandra::CassandraBackupController();
  if (IsKind(kind, "postop")) return new TQCassandra::CassandraPostOpCleanupController();
  if (IsKind(kind, "restore")) return new TQCassandra::CCassandraRestoreController();
  if (IsKind(kind, "CassandraLogRestore")) {
    return new TQCassandra::CCassandraLogRestoreController();
  }
  if (IsKind(kind, "ifrestore")) return new TQDC_FileSystem::CFSRestoreByJobController();
  return nullptr;
}

DistributedQEL::IClientBrowse* createClientBrowseInstance(int value) {
  return new TQCassandra::CClientBrowse(value);
}
}
