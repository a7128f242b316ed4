#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/base/QiError.h"
#include "platform/base/TimeStamp.h"

// A file opened with a stdio mode, and whole-file helpers. Every failure is
// an errno error (FXErrorUtil::ErrorErrNo) naming the path.
class CQiFile {
 public:
  CQiFile() = default;
  ~CQiFile();
  CQiFile(const CQiFile&) = delete;
  CQiFile& operator=(const CQiFile&) = delete;

  // Opens `path` with an fopen mode ("r", "w", "a", "r+", "w+", "a+", with an
  // optional "b"). A file already open is closed first.
  CQiError Open(const char* path, const char* mode);
  // Writes all `length` bytes. `flags` is reserved (pass 0).
  CQiError Write(const void* data, size_t length, int flags = 0);
  // Reads up to `capacity` bytes; `got` is 0 at the end of the file.
  CQiError Read(void* buffer, size_t capacity, size_t& got);
  // Flushes and closes; reports a failed flush (for example a full disk).
  // Closing a file that is not open succeeds.
  CQiError Close();
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& GetPath() const { return path_; }

  // Reads the whole file into a new buffer of `length` + 1 bytes, terminated
  // by a NUL after the content. The caller frees it with delete[].
  static CQiError ReadWholeFile(const char* path, char*& buffer, size_t& length);
  static CQiError ReadWholeFile(const char* path, std::string& content);

  // Replaces the file at `path` by `content`: the content goes to a new
  // temporary file beside it (created with `mode` less the umask), is synced
  // and renamed over `path`, so that readers see the old file or the whole
  // new one. A failure leaves the old file and no temporary file.
  static CQiError ReplaceWholeFile(const char* path, const std::string& content,
                                   unsigned mode = 0666);

  // Removes the file at `path`. A missing file is success unless
  // `errorIfMissing` is set.
  static CQiError Delete(const char* path, bool errorIfMissing = false);

  // The access, modification and status-change times of `path` (symbolic
  // links followed), in that order.
  static CQiError GetTimes(const char* path, CTimeStamp& accessTime, CTimeStamp& modifyTime,
                           CTimeStamp& changeTime);

 private:
  FILE* file_ = nullptr;
  std::string path_;
};
