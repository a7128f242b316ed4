#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>

#include "platform/suite/TQJobClient.h"

// The job client of a restore job. Pending causes, event arguments and the
// restart string are those of every job client; init ties the client to the
// job, whose description (EvTask) must exist.
class TQRstJobClient : public TQJobClient {
 public:
  TQRstJobClient() = default;
  explicit TQRstJobClient(int64_t jobId) : TQJobClient(jobId) {}

  // Ties the client to `jobId` on the central server `host`. False when no
  // host is given, the job id is not positive, or the job has no
  // description. `platformType`, `flag` and `name` are accepted and not
  // interpreted (callers pass 4, false, null).
  bool init(const char* host, int64_t jobId, int platformType, bool flag, const char* name);
  bool isInitialized() const { return initialized_; }
  const std::string& getHostName() const { return host_; }

 private:
  bool initialized_ = false;
  std::string host_;
};
typedef boost::shared_ptr<TQRstJobClient> TQRstJobClientPtr;
