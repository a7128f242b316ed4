#include "platform/base/FXMutex.h"

uint32_t GetCurrentThreadId() {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pthread_self()) & 0xFFFFFFFFu);
}

FXMutex::FXMutex() : lockCount(0) { FXMutex::Init(); }

FXMutex::~FXMutex() {
  while (lockCount > 0) FXMutex::Unlock();
  pthread_mutex_destroy(&mutex_);
}

void FXMutex::Init() {
  ownerThreadId = 0;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&mutex_, &attr);
  pthread_mutexattr_destroy(&attr);
}

bool FXMutex::Lock() {
  if (pthread_mutex_lock(&mutex_) != 0) return false;
  ++lockCount;
  ownerThreadId = GetCurrentThreadId();
  return true;
}

bool FXMutex::TryLock() {
  if (pthread_mutex_trylock(&mutex_) != 0) return false;
  ++lockCount;
  ownerThreadId = GetCurrentThreadId();
  return true;
}

bool FXMutex::TryLock(CTimeInterval) { return TryLock(); }

void FXMutex::Unlock() {
  if (lockCount != 0) {
    --lockCount;
    if (lockCount == 0) ownerThreadId = 0;
  }
  pthread_mutex_unlock(&mutex_);
}
