#include "platform/framework/RestoreWorkerBase.h"

namespace DistributedQEL {

CQiError CRestoreWorker::UpdateProgress(CRestoreStatistics statistics) {
  statistics_ = statistics;
  return CQiError::Success();
}

}  // namespace DistributedQEL
