#include "platform/base/FXFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/FXErrorUtil.h"

namespace {

CQiError NullPath(const FXCodeLocation& location) {
  return FXErrorUtil::ErrorErrNo(location, EINVAL, "Null path");
}

}  // namespace

CQiError FXFile::TQGetFileSize(const char* path, long long& size) {
  if (!path) return NullPath(FXLOC);
  struct stat st;
  if (stat(path, &st) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to get the size of %s", path);
  }
  size = static_cast<long long>(st.st_size);
  return CQiError::Success();
}

CQiError FXFile::TQGetFileSize(const char* path, long& size) {
  long long value = 0;
  CQiError error = TQGetFileSize(path, value);
  if (!error.IsError()) size = static_cast<long>(value);
  return error;
}

CQiError FXFile::TQMoveFileEx(const char* from, const char* to, uint32_t flags) {
  if (!from || !to) return NullPath(FXLOC);
  int rc;
  if (flags & kMoveReplaceExisting) {
    rc = ::rename(from, to);
  } else {
    rc = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // The file system cannot rename without replacing: link and unlink
      // give the same answer for regular files.
      rc = ::link(from, to);
      if (rc == 0) ::unlink(from);
    }
  }
  if (rc != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to move %s to %s", from, to);
  }
  return CQiError::Success();
}

CQiError FXFile::TQCreateFile(const char* path, uint32_t access, uint32_t, void*,
                              uint32_t disposition, uint32_t, void*, auto_handle& handle) {
  handle.reset(-1);
  if (!path) return NullPath(FXLOC);
  int flags = O_CLOEXEC;
  bool read = access & kGenericRead, write = access & kGenericWrite;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case kOpenExisting:
      break;
    case kOpenAlways:
      flags |= O_CREAT;
      break;
    case kTruncateExisting:
      flags |= O_TRUNC;
      break;
    default:
      return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Invalid disposition %u for %s", disposition,
                                     path);
  }
  if ((flags & O_TRUNC) && !write) {
    return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Truncation of %s needs write access", path);
  }
  int fd = ::open(path, flags, 0666);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s", path);
  }
  handle.reset(fd);
  return CQiError::Success();
}

CQiError FXFile::TQWriteFile(int fd, const void* data, size_t length, size_t* written) {
  size_t done = 0;
  const char* p = static_cast<const char*>(data);
  CQiError result;
  if (length && !data) {
    result = FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null data");
  } else {
    while (done < length) {
      ssize_t n = ::write(fd, p + done, length - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        result = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to write to descriptor %d", fd);
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  if (written) *written = done;
  return result;
}

CQiError FXFile::TQWriteFileAt(int fd, const void* data, size_t length, uint64_t offset,
                               const std::string& name) {
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, bytes + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to write %s", name.c_str());
    }
    done += static_cast<size_t>(n);
  }
  return CQiError::Success();
}

CQiError FXFile::TQCopyFile(const char* from, const char* to, bool failIfExists) {
  if (!from || !to) return NullPath(FXLOC);
  auto_handle in(::open(from, O_RDONLY | O_CLOEXEC));
  if (!in.valid()) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s", from);
  }
  struct stat st;
  if (fstat(in.get(), &st) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the status of %s", from);
  }
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0);
  int out = ::open(to, flags, st.st_mode & 07777);
  if (out < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create %s", to);
  }
  CQiError result;
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(in.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      result = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read %s", from);
      break;
    }
    if (n == 0) break;
    result = TQWriteFile(out, buffer, static_cast<size_t>(n));
    if (result.IsError()) {
      result.Push(FXLOC);
      break;
    }
  }
  // A failed close can be the first report of a failed write.
  if (::close(out) != 0 && !result.IsError()) {
    int err = errno;
    result = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", to);
  }
  return result;
}

CQiError FXFile::RemoveFile(const char* path) {
  if (!path) return NullPath(FXLOC);
  if (::unlink(path) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to remove %s", path);
  }
  return CQiError::Success();
}
