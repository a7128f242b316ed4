#pragma once

#include <cstdint>
#include <string>

#include "platform/framework/Coordinator.h"

namespace TQDC_FileSystem {

// Coordinator base of a file-system backup phase.
class CBackup : public DistributedQEL::ICoordinator {
 public:
  CBackup() = default;

  bool isBackupJob() const override { return true; }
  bool shouldSkipThisPhase() const override { return false; }
  std::string getNodeCommandName() override { return ""; }
  // Makes a CUnixFSClientConfig when the base has no configuration.
  CQiError getClientConfigObject(DistributedQEL::CClientConfigPtr& config) override;
  // The framework's end of the phase; a subclass's OnComplete ends with it.
  CQiError OnComplete() override {
    phaseEnded_ = true;
    return CQiError::Success();
  }
  // Whether the framework's end of the phase ran.
  bool isPhaseEnded() const { return phaseEnded_; }
  virtual CQiError RenameDirchangeFiles() { return CQiError::Success(); }
  // Leaves `flag` as it is.
  virtual CQiError PreProcessFailedFiles(bool& flag);

  // The task's last committed offset (FrameworkServices.h), -1 when none.
  int64_t GetTaskCommitOffset(const DistributedQEL::TaskBasePtr& task) const;

  // Outcome of the phase for the job manager: PHASE_* (0 until decided), the
  // status word, and the completion code.
  int getPhaseStatus() const { return phaseStatus_; }
  void setPhaseStatus(int status) { phaseStatus_ = status; }
  int getStatusWord() const { return statusWord_; }
  void setStatusWord(int word) { statusWord_ = word; }
  int getCompletionCode() const { return completionCode_; }
  void setCompletionCode(int code) { completionCode_ = code; }

 private:
  int phaseStatus_ = 0;
  int statusWord_ = 0;
  int completionCode_ = 0;
  bool phaseEnded_ = false;
};

}  // namespace TQDC_FileSystem
