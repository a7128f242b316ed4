#include "platform/base/QiFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"

namespace {

CTimeStamp FromTimespec(const struct timespec& ts) {
  return CTimeStamp(static_cast<int64_t>(ts.tv_sec) * 10000000 + ts.tv_nsec / 100 +
                    CTimeStamp::kUnixEpoch);
}

}  // namespace

CQiFile::~CQiFile() { Close(); }

CQiError CQiFile::Open(const char* path, const char* mode) {
  Close();
  if (!path || !mode) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null path or mode");
  // "e" makes the descriptor close-on-exec, so commands run by this process
  // do not inherit it.
  std::string m(mode);
  if (m.find('e') == std::string::npos) m += 'e';
  file_ = std::fopen(path, m.c_str());
  if (!file_) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s with mode %s", path, mode);
  }
  path_ = path;
  return CQiError::Success();
}

CQiError CQiFile::Write(const void* data, size_t length, int) {
  if (!file_) return FXErrorUtil::ErrorErrNo(FXLOC, EBADF, "File not open");
  if (length && !data) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null data");
  errno = 0;
  if (length && std::fwrite(data, 1, length, file_) != length) {
    int err = errno ? errno : EIO;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to write to %s", path_.c_str());
  }
  return CQiError::Success();
}

CQiError CQiFile::Read(void* buffer, size_t capacity, size_t& got) {
  got = 0;
  if (!file_) return FXErrorUtil::ErrorErrNo(FXLOC, EBADF, "File not open");
  errno = 0;
  got = std::fread(buffer, 1, capacity, file_);
  if (got < capacity && std::ferror(file_)) {
    int err = errno ? errno : EIO;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read %s", path_.c_str());
  }
  return CQiError::Success();
}

CQiError CQiFile::Close() {
  if (!file_) return CQiError::Success();
  FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", path_.c_str());
  }
  return CQiError::Success();
}

CQiError CQiFile::ReadWholeFile(const char* path, std::string& content) {
  CQiFile file;
  CQiError error = file.Open(path, "rb");
  if (error.IsError()) return error.Push(FXLOC);
  std::string data;
  char chunk[65536];
  while (true) {
    size_t got = 0;
    error = file.Read(chunk, sizeof chunk, got);
    if (error.IsError()) return error.Push(FXLOC);
    if (got == 0) break;
    data.append(chunk, got);
  }
  content.swap(data);
  return CQiError::Success();
}

CQiError CQiFile::ReplaceWholeFile(const char* path, const std::string& content, unsigned mode) {
  if (!path || !*path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null path");
  // A name of its own per process and call: writers of one file in other
  // processes or threads never share a temporary file.
  static std::atomic<unsigned long> calls{0};
  const std::string temporary =
      std::string(path) + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++calls);
  int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create %s", temporary.c_str());
  }
  CQiError error = FXFile::TQWriteFile(fd, content.data(), content.size());
  if (error.IsError()) {
    error = FXErrorUtil::Restate(FXLOC, error, "Failed to write " + temporary);
  } else if (::fsync(fd) != 0) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to flush %s", temporary.c_str());
  }
  if (::close(fd) != 0 && !error.IsError()) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", temporary.c_str());
  }
  if (!error.IsError() && ::rename(temporary.c_str(), path) != 0) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to replace %s", path);
  }
  if (error.IsError()) {
    ::unlink(temporary.c_str());
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CQiFile::ReadWholeFile(const char* path, char*& buffer, size_t& length) {
  std::string content;
  CQiError error = ReadWholeFile(path, content);
  if (error.IsError()) return error.Push(FXLOC);
  std::unique_ptr<char[]> out(new (std::nothrow) char[content.size() + 1]);
  if (!out) return FXErrorUtil::ErrorWin32(FXLOC, 8, "No memory to read %s", path);
  std::memcpy(out.get(), content.data(), content.size());
  out[content.size()] = '\0';
  buffer = out.release();
  length = content.size();
  return CQiError::Success();
}

CQiError CQiFile::Delete(const char* path, bool errorIfMissing) {
  if (!path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null path");
  if (::unlink(path) != 0) {
    int err = errno;
    if (err == ENOENT && !errorIfMissing) return CQiError::Success();
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to delete %s", path);
  }
  return CQiError::Success();
}

CQiError CQiFile::GetTimes(const char* path, CTimeStamp& accessTime, CTimeStamp& modifyTime,
                           CTimeStamp& changeTime) {
  if (!path) return FXErrorUtil::ErrorErrNo(FXLOC, EINVAL, "Null path");
  struct stat st;
  if (::stat(path, &st) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the times of %s", path);
  }
  accessTime = FromTimespec(st.st_atim);
  modifyTime = FromTimespec(st.st_mtim);
  changeTime = FromTimespec(st.st_ctim);
  return CQiError::Success();
}
