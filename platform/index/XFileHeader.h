#pragma once

#include <cstdint>
#include <cstring>
#include <string>

// The header of a file record sent to the index with
// IndexingConnection::sendFileInfo. A plain record: callers zero-fill it
// (memset) and set its members; `path` is NUL-terminated.
struct CXFileHeader {
  static constexpr size_t kPathCapacity = 4096;

  uint32_t type;     // kind of record, as the sender defines it
  uint32_t version;  // layout version, as the sender defines it
  uint64_t flags;
  int64_t time;  // seconds since 1970
  char path[kPathCapacity];

  // Copies `text` into `path`; false (and `path` empty) when it does not fit.
  bool SetPath(const std::string& text) {
    if (text.size() >= kPathCapacity) {
      path[0] = '\0';
      return false;
    }
    std::memcpy(path, text.c_str(), text.size() + 1);
    return true;
  }
};
