#include "platform/suite/EvTask.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/runner/JobRecordStore.h"

EvTask::EvTask(int64_t jobId) : jobId_(jobId) {
  loadError_ = TqRunner::CJobRecordStore().ReadDescription(jobId, description_);
  loaded_ = !loadError_.IsError();
  if (!loaded_) description_ = TqRunner::JobDescription();
}

CQiError EvTask::getXMLOptions(std::string& xml) const {
  if (!loaded_) return CQiError(loadError_).Push(FXLOC);
  if (description_.xmlOptions.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Job %lld has no options",
                                   static_cast<long long>(jobId_));
  }
  xml = description_.xmlOptions;
  return CQiError::Success();
}

CQiError EvTask::getXMLOptions(CQiString& xml) const {
  std::string text;
  CQiError error = getXMLOptions(text);
  if (error.IsError()) return error.Push(FXLOC);
  xml = text;
  return CQiError::Success();
}
