#pragma once

#include <cstdint>

#include "platform/base/QiError.h"
#include "platform/base/TimeStamp.h"

// Job facts the job manager answers by job id.
class CJobClientHelper {
 public:
  // The job's start time: the job's description when it has one, else its
  // record (JobRecordStore). Error 87 when no host is given, 2 when the job
  // has neither or its start time is not known.
  static CQiError GetJobStartTimeByJobId(const char* host, int64_t jobId, CTimeStamp& startTime);
};
