#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"
#include "platform/log/EvEvent.h"

// The job client: sets the job's pending cause and keeps the restart string.
// As an EvEvent it collects text arguments with operator<<; they go with the
// next pending cause set through it and are then cleared. One
// thread at a time should build arguments on one job client.
class TQJobClient : public EvEvent {
 public:
  TQJobClient() = default;
  explicit TQJobClient(int64_t jobId) : jobId_(jobId) {}

  // Records the pending cause `eventId` with the arguments added since the
  // last cause in the process's CEventJournal (kind kPendingCause, severity
  // major, the calling thread's client) and logs it. The remaining arguments
  // are the suite's fixed values (callers pass 6, 0, false, 300 and zeros);
  // they are accepted and not interpreted.
  CQiError setPendingCauseAndEvent(uint32_t eventId, int a1 = 6, int a2 = 0, bool a3 = false,
                                   int a4 = 300, int a5 = 0, int a6 = 0, int a7 = 0, int a8 = 0,
                                   int a9 = 0);
  // The last pending cause set through this client (0 when none).
  uint32_t getPendingCause() const;

  // The job's restart string (kept by the framework for a restarted job);
  // `kind` 0 is the only kind.
  CQiError getRestartString(CQiString& restart, int kind = 0) const;
  void setRestartString(const std::string& restart);

  int64_t getJobId() const { return jobId_; }

 protected:
  void setJobId(int64_t jobId) { jobId_ = jobId; }

 private:
  int64_t jobId_ = 0;
  mutable std::mutex mutex_;
  uint32_t pendingCause_ = 0;
  std::string restart_;
};

typedef boost::shared_ptr<TQJobClient> TQJobClientPtr;
