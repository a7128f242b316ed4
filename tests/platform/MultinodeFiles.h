#pragma once

// File helpers of the collect-file and worker tests.

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/CollectFileReader.h"

namespace multinode_test {

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// The names in `directory`, sorted.
inline std::vector<std::string> ListNames(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The entries of a numbered collect file, parsed; a line that does not parse
// fails the calling test.
inline std::vector<MultiNodeBackupOps::CCollectFileEntry> ReadNumbered(const std::string& path) {
  std::vector<MultiNodeBackupOps::CCollectFileEntry> entries;
  CCollectFileReader reader;
  if (reader.Open(path, 0).IsError()) {
    ADD_FAILURE() << "cannot open " << path;
    return entries;
  }
  std::string line;
  while (!reader.IsEndOfFile()) {
    if (reader.GetNextLine(line).IsError()) break;
    MultiNodeBackupOps::CCollectFileEntry entry;
    CQiError error = MultiNodeBackupOps::CCollectFileEntry::ParseNumberedLine(line, entry);
    EXPECT_FALSE(error.IsError()) << path << ": " << error.AsString(2);
    entries.push_back(entry);
  }
  return entries;
}

// Writes fail with EFBIG beyond `bytes` while it lives (a full target).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_;
  sighandler_t oldHandler_;
};

}  // namespace multinode_test
