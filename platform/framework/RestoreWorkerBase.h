#pragma once

#include "platform/base/QiError.h"
#include "platform/framework/RestoreWorker.h"
#include "platform/framework/ValueTypes.h"

namespace DistributedQEL {

// The framework's restore worker: keeps the progress its data mover reports,
// the figures the phase's report counters are summed from when the worker
// ends (TQDC_FileSystem::CRestore::AddRestoreStatistics).
class CRestoreWorker : public IRestoreWorker {
 public:
  CRestoreWorker() = default;

  // Keeps the figures (each call gives the worker's totals so far).
  virtual CQiError UpdateProgress(CRestoreStatistics statistics);

  const CRestoreStatistics& getLastStatistics() const { return statistics_; }

 private:
  CRestoreStatistics statistics_;
};

}  // namespace DistributedQEL
