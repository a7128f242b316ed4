#pragma once

#include "platform/framework/Restore.h"

namespace TQDC_FileSystem {

// The framework's ready-made restore-by-job coordinator.
class CRestoreByJob : public virtual CRestore {
 public:
  explicit CRestoreByJob(bool cleanupRestore = false) : CRestore(cleanupRestore) {}
};

}  // namespace TQDC_FileSystem
