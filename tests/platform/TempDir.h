#pragma once

#include <stdlib.h>

#include <string>

#include "platform/base/QiDirectory.h"

// A fresh directory under /tmp, removed with everything in it when the
// object goes away (also when a test fails).
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tqplatform-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    if (!path_.empty()) CQiDirectory::Remove(path_.c_str(), true, true);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
