#include "platform/framework/UnixFSClientConfig.h"

namespace TQDC_FileSystem {

CQiError CUnixFSClientConfig::parseArguments(CProgramArgumentsPtr arguments) {
  CQiError error = CFSClientConfig::parseArguments(arguments);
  if (error.IsError()) return error.Push(FXLOC);
  jobResultsPath_ = getJobResultsDirectory();
  return CQiError::Success();
}

}  // namespace TQDC_FileSystem
