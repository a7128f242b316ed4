#include "platform/base/SleepRecorder.h"

CSleepRecorder::CSleepRecorder() {
  previous_ = CSleepHook::Set([this](uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(milliseconds);
  });
}

CSleepRecorder::~CSleepRecorder() { CSleepHook::Set(std::move(previous_)); }

std::vector<uint32_t> CSleepRecorder::Sleeps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleeps_;
}

uint64_t CSleepRecorder::TotalMilliseconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  uint64_t total = 0;
  for (uint32_t s : sleeps_) total += s;
  return total;
}

void CSleepRecorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  sleeps_.clear();
}
