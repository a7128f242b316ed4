#include "platform/suite/TqMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <mutex>

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

TqMount::UmountHook& CurrentHook() {
  static TqMount::UmountHook hook;
  return hook;
}

}  // namespace

int TqMount::umount(const char* target) {
  UmountHook hook;
  {
    std::lock_guard<std::mutex> lock(HookMutex());
    hook = CurrentHook();
  }
  if (!target) {
    errno = EINVAL;
    return -1;
  }
  if (hook) {
    int error = 0;
    int rc = hook(target, error);
    if (rc != 0) errno = error;
    return rc;
  }
  return ::umount(target);
}

TqMount::UmountHook TqMount::SetUmountHook(UmountHook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  UmountHook previous = CurrentHook();
  CurrentHook() = std::move(hook);
  return previous;
}
