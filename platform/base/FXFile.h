#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/base/AutoHandle.h"
#include "platform/base/QiError.h"

// File operations in the suite's Win32-flavoured form, on POSIX files. Every
// failure is an errno error (FXErrorUtil::ErrorErrNo) naming the path.
class FXFile {
 public:
  // Access bits of TQCreateFile.
  static constexpr uint32_t kGenericRead = 0x80000000u;
  static constexpr uint32_t kGenericWrite = 0x40000000u;
  // Dispositions of TQCreateFile.
  static constexpr uint32_t kCreateNew = 1;         // fails when the file exists
  static constexpr uint32_t kCreateAlways = 2;      // creates or truncates
  static constexpr uint32_t kOpenExisting = 3;      // fails when missing
  static constexpr uint32_t kOpenAlways = 4;        // opens or creates
  static constexpr uint32_t kTruncateExisting = 5;  // truncates; fails when missing
  // Flag of TQMoveFileEx.
  static constexpr uint32_t kMoveReplaceExisting = 1;

  // The size in bytes of what `path` names (symbolic links followed).
  static CQiError TQGetFileSize(const char* path, long& size);
  static CQiError TQGetFileSize(const char* path, long long& size);

  // Renames `from` to `to`. Without kMoveReplaceExisting an existing target
  // is error EEXIST and stays untouched. A move across file systems fails
  // with EXDEV.
  static CQiError TQMoveFileEx(const char* from, const char* to, uint32_t flags);

  // Opens or creates `path` by `access` and `disposition` into `handle`
  // (whose earlier descriptor is closed). The share mode, security
  // attributes, attributes and template are accepted and not used; new files
  // get mode 0666 less the umask. The descriptor is close-on-exec.
  static CQiError TQCreateFile(const char* path, uint32_t access, uint32_t shareMode,
                               void* security, uint32_t disposition, uint32_t attributes,
                               void* templateFile, auto_handle& handle);

  // Writes all `length` bytes to `fd` (retrying short writes); `written`
  // receives the count written, also after a failure.
  static CQiError TQWriteFile(int fd, const void* data, size_t length, size_t* written = nullptr);
  static CQiError TQWriteFile(const auto_handle& handle, const void* data, size_t length,
                              size_t* written = nullptr) {
    return TQWriteFile(handle.get(), data, length, written);
  }

  // Writes all `length` bytes to `fd` at `offset` (retrying short writes); a
  // failure names `name`, the file being written.
  static CQiError TQWriteFileAt(int fd, const void* data, size_t length, uint64_t offset,
                                const std::string& name);

  // Copies the contents of `from` to `to` with the source's permission bits.
  // With `failIfExists` an existing target is error EEXIST.
  static CQiError TQCopyFile(const char* from, const char* to, bool failIfExists = false);

  // Removes the file (not a directory) at `path`; a missing file is ENOENT.
  static CQiError RemoveFile(const char* path);
};
