#include "platform/suite/TQJobClient.h"

#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"

CQiError TQJobClient::setPendingCauseAndEvent(uint32_t eventId, int, int, bool, int, int, int, int,
                                              int, int) {
  std::vector<std::string> args;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    args.swap(args_);
    types_.clear();
    pendingCause_ = eventId;
  }
  std::string joined;
  for (const auto& a : args) joined += " [" + a + "]";
  TQLOG(0, "Setting the job's pending cause 0x%X%s", eventId, joined.c_str());
  CEventJournal::Instance().Add(CEventJournal::Entry{CEventJournal::kPendingCause,
                                                     CEventJournal::kMajor, eventId,
                                                     std::move(args), std::string(), 0});
  return CQiError::Success();
}

uint32_t TQJobClient::getPendingCause() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pendingCause_;
}

CQiError TQJobClient::getRestartString(CQiString& restart, int) const {
  std::lock_guard<std::mutex> lock(mutex_);
  restart = restart_;
  return CQiError::Success();
}

void TQJobClient::setRestartString(const std::string& restart) {
  std::lock_guard<std::mutex> lock(mutex_);
  restart_ = restart;
}
