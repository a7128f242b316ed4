#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/multinode/BackupWorkerParams.h"

namespace MultiNodeBackupOps {

// The task a worker runs: its numbered collect file and where to start.
struct BackupTaskParams {
  std::string collectFile;
  int64_t taskId = -1;
  int collectFileNumber = 0;  // the payload's first field
  int64_t resumeOffset = 0;   // byte offset of the first entry to back up

  // Reads the task payload "%d|%lld" (collect-file number, resume offset).
  // An empty payload starts at 0 with the collect-file number 0; an offset
  // of -1 (a task that has not run) starts at 0. Anything else but two
  // decimal fields with an offset of at least -1 is error 87.
  static CQiError FromPayload(const std::string& collectFile, int64_t taskId,
                              const std::string& payload, BackupTaskParams& task);
  static std::string FormatPayload(int collectFileNumber, int64_t resumeOffset);
};

// The framework's part of the backup worker parameters, filled by
// MultiNodeBackupOpsController::InitializeBackupWorkerParams.
class MultiNodeBackupOpsWorkerParams : public CBackupWorkerParams {
 public:
  MultiNodeBackupOpsWorkerParams() = default;

  // The path of numbered collect file `number` of the node (job results
  // directory, backup level).
  std::string GetCollectFilePath(int number) const;

  int64_t jobId = 0;
  int backupLevel = TQBkpLevel_Full;
  std::string jobResultsDirectory;
  std::string clientName;
  // The node's failures list, where workers record failed files.
  std::string failedFilePath;
  // The job's quit flag; without one only the process-wide flag counts.
  TQJobCtrlClientPtr jobCtrlClient;
  // Where workers commit their tasks' offsets; none: nothing is committed.
  DistributedQEL::IFrameworkServicesPtr frameworkServices;
};
typedef boost::shared_ptr<MultiNodeBackupOpsWorkerParams> MultiNodeBackupOpsWorkerParamsPtr;

}  // namespace MultiNodeBackupOps
