#pragma once

#include <pthread.h>

#include <cstdint>

class CTimeInterval {
 public:
  explicit CTimeInterval(int64_t milliseconds = 0) : ms_(milliseconds) {}
  int64_t Milliseconds() const { return ms_; }

 private:
  int64_t ms_;
};

// The low 32 bits of pthread_self().
uint32_t GetCurrentThreadId();

class FXLockableResource {
 public:
  virtual ~FXLockableResource() = default;
  virtual bool TryLock() = 0;
  virtual bool TryLock(CTimeInterval interval) = 0;
  virtual bool Lock() = 0;
  virtual void Unlock() = 0;
  virtual void Init() = 0;

  uint32_t ownerThreadId = 0;
};

// A recursive POSIX mutex that counts its holds.
class FXMutex : public FXLockableResource {
 public:
  FXMutex();
  ~FXMutex() override;
  FXMutex(const FXMutex&) = delete;
  FXMutex& operator=(const FXMutex&) = delete;

  bool TryLock() override;
  // Ignores the interval: one attempt, as TryLock().
  bool TryLock(CTimeInterval interval) override;
  bool Lock() override;
  void Unlock() override;
  void Init() override;

  int32_t lockCount;

 private:
  pthread_mutex_t mutex_;
};

// Locks a resource while it lives.
class auto_lock {
 public:
  explicit auto_lock(FXLockableResource& resource, bool lock = true) : resource_(resource), held_(false) {
    if (lock) held_ = resource_.Lock();
  }
  auto_lock(FXLockableResource* resource, bool lock = true) : auto_lock(*resource, lock) {}
  ~auto_lock() {
    if (held_) resource_.Unlock();
  }
  auto_lock(const auto_lock&) = delete;
  auto_lock& operator=(const auto_lock&) = delete;

 private:
  FXLockableResource& resource_;
  bool held_;
};
