#include "platform/base/QiSleep.h"

#include <time.h>

#include <cerrno>
#include <mutex>

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

CSleepHook::Hook& CurrentHook() {
  static CSleepHook::Hook hook;
  return hook;
}

}  // namespace

CSleepHook::Hook CSleepHook::Set(Hook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook previous = std::move(CurrentHook());
  CurrentHook() = std::move(hook);
  return previous;
}

bool CSleepHook::IsSet() {
  std::lock_guard<std::mutex> lock(HookMutex());
  return static_cast<bool>(CurrentHook());
}

void QISLEEP_InTeRnAl(uint32_t milliseconds) {
  CSleepHook::Hook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = CurrentHook();
  }
  if (hook) {
    hook(milliseconds);
    return;
  }
  struct timespec rest;
  rest.tv_sec = milliseconds / 1000;
  rest.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}
