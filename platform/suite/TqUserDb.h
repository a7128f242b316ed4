#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Look-ups in the system's user and group databases. Tests answer them with
// a hook instead of the machine's own databases.
class TqUserDb {
 public:
  // Answers a look-up: true with `id` filled when the name is known, false
  // when it is not.
  using Hook = std::function<bool(const std::string& name, uint32_t& id)>;

  // The user id of `user` (getpwnam); false (`uid` untouched) when unknown.
  static bool LookupUser(const std::string& user, uint32_t& uid);
  // The group id of `group` (getgrnam); false (`gid` untouched) when unknown.
  static bool LookupGroup(const std::string& group, uint32_t& gid);

  // Install process-wide hooks (an empty one removes it); each returns the
  // hook it replaces.
  static Hook SetUserHook(Hook hook);
  static Hook SetGroupHook(Hook hook);
};
