#include "platform/suite/TQBkpJobClient.h"

#include "platform/log/LogWriter.h"

bool TQBkpJobClient::ShouldFail(Call call) {
  auto it = failures_.find(call);
  if (it == failures_.end()) return false;
  bool fail = false;
  for (int& countdown : it->second) {
    if (--countdown == 0) fail = true;
  }
  std::vector<int>& pending = it->second;
  for (size_t i = pending.size(); i-- > 0;) {
    if (pending[i] <= 0) pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (pending.empty()) failures_.erase(it);
  return fail;
}

void TQBkpJobClient::failCall(Call call, int nth) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (nth >= 1) failures_[call].push_back(nth);
}

bool TQBkpJobClient::setReferenceTime(int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ShouldFail(kSetReferenceTime)) return false;
  staged_.hasReferenceTime = true;
  staged_.referenceTime = seconds;
  return true;
}

bool TQBkpJobClient::concatPhaseParams(const std::string& text, int action) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ShouldFail(kConcatPhaseParams)) return false;
  if (action == kPhaseParamsAppend) {
    staged_.phaseParams += text;
  } else if (action == kPhaseParamsReplace) {
    staged_.phaseParams = text;
  } else {
    return false;
  }
  return true;
}

void TQBkpJobClient::addJobManagerRequest(int request) {
  std::lock_guard<std::mutex> lock(mutex_);
  staged_.requests.push_back(request);
}

bool TQBkpJobClient::updateInfo(bool, void*) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ShouldFail(kUpdateInfo)) return false;
  int updates = delivered_.updates + 1;
  delivered_ = staged_;
  delivered_.updates = updates;
  TQLOG(2, "Job %lld: job manager updated (reference time %lld, phase parameters [%s])",
        static_cast<long long>(getJobId()), static_cast<long long>(delivered_.referenceTime),
        delivered_.phaseParams.c_str());
  return true;
}

TQBkpJobClient::JobManagerState TQBkpJobClient::getJobManagerState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delivered_;
}

TQBkpJobClient::JobManagerState TQBkpJobClient::getStagedState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  JobManagerState state = staged_;
  state.updates = delivered_.updates;
  return state;
}
