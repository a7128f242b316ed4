#include "platform/framework/StartClientRestoreDistributed.h"

namespace TQDC_FileSystem {

CQiError CStartClientRestoreDistributed::Initialize(int appType, long long jobId, std::string text,
                                                    CProgramArgumentsPtr arguments) {
  setAppType(appType);
  setJobId(jobId);
  initText_ = std::move(text);
  arguments_ = arguments;
  return CQiError::Success();
}

}  // namespace TQDC_FileSystem
