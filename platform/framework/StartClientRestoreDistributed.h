#pragma once

#include <string>

#include "platform/framework/StartClientRestore.h"

namespace TQDC_FileSystem {

// The client restore launcher of a distributed restore.
class CStartClientRestoreDistributed : public CStartClientRestore {
 public:
  CStartClientRestoreDistributed(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient,
                                 bool baseFlag, bool optionFlag)
      : CStartClientRestore(jobClient, jobCtrlClient, baseFlag, optionFlag) {}

  // Keeps the application type, the job id (also the base's), the text and
  // the arguments.
  virtual CQiError Initialize(int appType, long long jobId, std::string text,
                              CProgramArgumentsPtr arguments);

  const std::string& getInitText() const { return initText_; }
  const CProgramArgumentsPtr& getProgramArguments() const { return arguments_; }

 private:
  std::string initText_;
  CProgramArgumentsPtr arguments_;
};

}  // namespace TQDC_FileSystem
