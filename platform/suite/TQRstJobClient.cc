#include "platform/suite/TQRstJobClient.h"

#include "platform/log/LogWriter.h"
#include "platform/runner/JobRecordStore.h"

bool TQRstJobClient::init(const char* host, int64_t jobId, int, bool, const char*) {
  if (!host || !*host || jobId <= 0) {
    TQLOG(-1, "A restore job client needs a central server and a job id");
    return false;
  }
  TqRunner::JobDescription description;
  CQiError error = TqRunner::CJobRecordStore().ReadDescription(jobId, description);
  if (error.IsError()) {
    TQLOG(-1, "Restore job %lld is not known: %s", static_cast<long long>(jobId),
          error.AsString(2).c_str());
    return false;
  }
  setJobId(jobId);
  host_ = host;
  initialized_ = true;
  return true;
}
