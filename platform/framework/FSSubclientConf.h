#pragma once

#include <cstdint>
#include <string>

// The file-system view of a subclient's configuration, as a restore uses it.
class FSSubclientConf {
 public:
  explicit FSSubclientConf(int64_t subclientId) : subclientId_(subclientId) {}

  // Writes `in` to `out` in the subclient's path form: repeated "/" become
  // one and a trailing "/" goes (not the root's); with `keepWildcards` off a
  // trailing "/*" or "/**" goes as well. `in` and `out` may be the same
  // string. False (out untouched) for an empty path.
  bool fixPath(const std::string& in, std::string& out, bool keepWildcards) const;

  int64_t getSubclientId() const { return subclientId_; }

 private:
  int64_t subclientId_;
};
