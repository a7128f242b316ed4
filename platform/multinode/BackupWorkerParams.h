#pragma once

#include <boost/shared_ptr.hpp>

namespace MultiNodeBackupOps {

// Parameters of the backup workers of a node: the controller makes them
// (GetBackupWorkerParams), fills them (InitializeBackupWorkerParams) and the
// framework hands them to each worker's Initialize.
class CBackupWorkerParams {
 public:
  CBackupWorkerParams() = default;
  virtual ~CBackupWorkerParams() = default;
  CBackupWorkerParams(const CBackupWorkerParams&) = delete;
  CBackupWorkerParams& operator=(const CBackupWorkerParams&) = delete;
};
typedef boost::shared_ptr<CBackupWorkerParams> CBackupWorkerParamsPtr;

}  // namespace MultiNodeBackupOps
