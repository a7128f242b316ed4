#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/suite/TQJobClient.h"

// The job client of a backup job. Besides the pending cause and the restart
// string of every job client it carries what the end of a backup phase tells
// the job manager: the job's reference time, the parameters handed to the
// phases that follow, and job-manager requests (JMBkpOps). These changes are
// staged on the client and reach the job manager with updateInfo; the job
// runner reads what the job manager holds with getJobManagerState.
class TQBkpJobClient : public TQJobClient {
 public:
  // Actions of concatPhaseParams.
  enum PhaseParamsAction { kPhaseParamsReplace = 1, kPhaseParamsAppend = 2 };
  // Calls whose failure tests can ask for.
  enum Call { kSetReferenceTime, kConcatPhaseParams, kUpdateInfo };

  // What the job manager holds of the job, as the last updateInfo left it.
  struct JobManagerState {
    bool hasReferenceTime = false;
    int64_t referenceTime = 0;  // seconds since 1970
    std::string phaseParams;
    std::vector<int> requests;  // JMBkpOps requests, in order
    int updates = 0;            // successful updateInfo calls
  };

  TQBkpJobClient() = default;
  explicit TQBkpJobClient(int64_t jobId) : TQJobClient(jobId) {}

  // Stages the reference time. True on success.
  bool setReferenceTime(int64_t seconds);
  // Stages a change of the phase parameters: kPhaseParamsAppend appends
  // `text`, kPhaseParamsReplace replaces them with it; any other action fails.
  // True on success.
  bool concatPhaseParams(const std::string& text, int action);
  // Hands the staged changes to the job manager. `flag` and `context` are
  // accepted and not interpreted. True on success.
  bool updateInfo(bool flag, void* context);
  // Stages a job-manager request (JMBkpOps).
  void addJobManagerRequest(int request);

  // What updateInfo delivered so far.
  JobManagerState getJobManagerState() const;
  // The staged state: what the next updateInfo will deliver.
  JobManagerState getStagedState() const;

  // Tests: the `nth` call of `call` from now on fails (1: the next one).
  void failCall(Call call, int nth = 1);

 private:
  bool ShouldFail(Call call);

  mutable std::mutex mutex_;
  JobManagerState staged_;
  JobManagerState delivered_;
  std::map<Call, std::vector<int>> failures_;  // call -> countdowns
};

typedef boost::shared_ptr<TQBkpJobClient> TQBkpJobClientPtr;
