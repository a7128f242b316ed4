#include "platform/suite/TqUserDb.h"

#include <grp.h>
#include <pwd.h>

#include <mutex>
#include <vector>

namespace {

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

TqUserDb::Hook& UserHook() {
  static TqUserDb::Hook hook;
  return hook;
}

TqUserDb::Hook& GroupHook() {
  static TqUserDb::Hook hook;
  return hook;
}

TqUserDb::Hook Current(TqUserDb::Hook& slot) {
  std::lock_guard<std::mutex> lock(HookMutex());
  return slot;
}

TqUserDb::Hook Replace(TqUserDb::Hook& slot, TqUserDb::Hook hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  TqUserDb::Hook previous = std::move(slot);
  slot = std::move(hook);
  return previous;
}

}  // namespace

bool TqUserDb::LookupUser(const std::string& user, uint32_t& uid) {
  if (Hook hook = Current(UserHook())) return hook(user, uid);
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  uid = found->pw_uid;
  return true;
}

bool TqUserDb::LookupGroup(const std::string& group, uint32_t& gid) {
  if (Hook hook = Current(GroupHook())) return hook(group, gid);
  std::vector<char> buffer(65536);
  struct group entry;
  struct group* found = nullptr;
  if (getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  gid = found->gr_gid;
  return true;
}

TqUserDb::Hook TqUserDb::SetUserHook(Hook hook) { return Replace(UserHook(), std::move(hook)); }

TqUserDb::Hook TqUserDb::SetGroupHook(Hook hook) { return Replace(GroupHook(), std::move(hook)); }
