#pragma once

#include <functional>
#include <string>

// File-system mounts. The umount system call goes through here so that tests
// can answer it (SetUmountHook) instead of unmounting.
class TqMount {
 public:
  // Answers umount(target): returns what the call would (0, or -1 with
  // `error` the errno value).
  using UmountHook = std::function<int(const std::string& target, int& error)>;

  // umount(2) of `target`: 0 on success, else -1 with errno set.
  static int umount(const char* target);
  // Installs a process-wide hook (an empty one removes it) and returns the
  // one it replaces.
  static UmountHook SetUmountHook(UmountHook hook);
};
