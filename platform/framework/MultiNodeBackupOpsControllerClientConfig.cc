#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"

#include <filesystem>
#include <limits>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/ProgramArguments.h"

namespace MultiNodeBackupOps {

CQiError MultiNodeBackupOpsControllerClientConfig::parseArguments(CProgramArgumentsPtr arguments) {
  CQiError error = CFSClientConfig::parseArguments(arguments);
  if (error.IsError()) return error.Push(FXLOC);
  const char* name = CFrameworkArguments::kCollectFileStart;
  if (arguments->hasOption(name)) {
    int64_t value = 0;
    error = arguments->getNumberValue(name, value);
    if (error.IsError()) return error.Push(FXLOC);
    if (value < 0 || value > std::numeric_limits<int32_t>::max()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Argument -%s out of range: %lld", name,
                                     static_cast<long long>(value));
    }
    collectFileStart_ = static_cast<uint32_t>(value);
  }
  if (!getJobResultsDirectory().empty()) {
    failuresFilePath_ =
        (std::filesystem::path(getJobResultsDirectory()) / kFailuresFileName).string();
  }
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
