#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/multinode/BackupWorkerParams.h"
#include "platform/multinode/StreamHandler.h"

namespace MultiNodeBackupOps {

// A backup worker as the framework drives it on one data stream: Initialize
// with the node's worker parameters, SetupPipeline with the stream, then one
// DoBackup per task (collect file), then Finalize. One worker runs one task
// at a time; several workers of a node run at once.
class IBackupWorker {
 public:
  IBackupWorker() = default;
  virtual ~IBackupWorker() = default;
  IBackupWorker(const IBackupWorker&) = delete;
  IBackupWorker& operator=(const IBackupWorker&) = delete;

  virtual CQiError Initialize(const CBackupWorkerParamsPtr& params) = 0;
  // Backs up the collect file of task `taskId` from its start.
  virtual CQiError DoBackup(const std::string& collectFile, int64_t taskId) = 0;
  virtual CQiError Finalize() = 0;
  // The data stream the worker's items go to.
  virtual CQiError SetupPipeline(const OBJECTOPSAPI::CStreamHandlerPtr& stream) = 0;
  // Backs up the collect file of task `taskId` from the resume offset of the
  // task payload "%d|%lld" (collect-file number, offset; -1 or an empty
  // payload: from the start). `streamName` names the stream in log lines.
  virtual CQiError DoBackup(const std::string& collectFile, int64_t taskId,
                            const std::string& taskPayload, const std::string& streamName) = 0;
};
typedef boost::shared_ptr<IBackupWorker> IBackupWorkerPtr;

}  // namespace MultiNodeBackupOps
