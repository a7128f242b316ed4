#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/base/QiString.h"

// The suite's registry: values by (section, name). Values live in a plain text
// file of "[Section]" headers and "name=value" lines, named by the environment
// variable TQ_REGISTRY (or set with CRegistry::SetFile); writes go through to
// the file. Tests may also set values in memory only.
class CRegistry {
 public:
  static CRegistry& Instance();

  // Loads the file (missing = empty) and makes it the store for later writes.
  bool SetFile(const std::string& path);
  std::string GetFile() const;

  bool Get(const std::string& section, const std::string& name, std::string& value) const;
  // Sets a value (and saves the file when one is set). Returns false when the
  // file could not be written.
  bool Set(const std::string& section, const std::string& name, const std::string& value);
  bool Remove(const std::string& section, const std::string& name);
  // Forgets every value (the file is not touched).
  void ClearMemory();

 private:
  CRegistry();
  bool LoadLocked();
  bool SaveLocked() const;

  mutable std::mutex mutex_;
  std::string path_;
  std::map<std::string, std::map<std::string, std::string>> values_;
};

// Reader of registry values. Each getter returns non-zero when the value
// exists and leaves the output untouched otherwise, so a default preset in the
// output stays.
class TQPlatformInfo {
 public:
  int getNumber(const char* section, const char* name, int64_t& out) const;
  // Calls the 64-bit form with a temporary; stores the low 32 bits when found.
  int getNumber(const char* section, const char* name, uint32_t& out) const;
  int getString(const char* section, const char* name, CQiString& out) const;
  int getString(const char* section, const char* name, std::string& out) const;

  // The kind of installation: bit 0 set for a suite client, whose client
  // name is known (registry "Base"/"nPlatformType", else 1).
  static int getTQPlatformType();
  // This machine's suite client name into `buffer` (at most `size` bytes
  // with the terminator); 0 when the buffer is null or too small.
  static int getZentorerClientName(char* buffer, size_t size);
  // This machine's host name.
  static std::string getPhysicalMachine();
};
