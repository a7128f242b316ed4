#include "platform/suite/JobClientHelper.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/runner/JobRecordStore.h"

CQiError CJobClientHelper::GetJobStartTimeByJobId(const char* host, int64_t jobId,
                                                  CTimeStamp& startTime) {
  if (!host || !*host) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No central server to ask for job %lld",
                                   static_cast<long long>(jobId));
  }
  TqRunner::CJobRecordStore store;
  int64_t seconds = 0;
  TqRunner::JobDescription description;
  if (!store.ReadDescription(jobId, description).IsError()) seconds = description.startTime;
  if (seconds <= 0) {
    TqRunner::JobResult record;
    if (!store.Read(jobId, record).IsError()) seconds = record.startTime;
  }
  if (seconds <= 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 2, "The start time of job %lld is not known",
                                   static_cast<long long>(jobId));
  }
  startTime = CTimeStamp::FromUnixTime(seconds);
  return CQiError::Success();
}
