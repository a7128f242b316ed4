#include "platform/multinode/AtomicFileWriter.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"

namespace MultiNodeBackupOps {

namespace {

constexpr size_t kBlockSize = 256 * 1024;

}  // namespace

CAtomicFileWriter::~CAtomicFileWriter() { Abort(); }

void CAtomicFileWriter::SyncDirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

CQiError CAtomicFileWriter::Open(const std::string& finalPath) {
  Abort();
  if (finalPath.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Empty file path");
  finalPath_ = finalPath;
  size_t slash = finalPath.rfind('/');
  std::string directory = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  tempPath_ = directory + "." + name + ".partial";
  int fd = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create %s", tempPath_.c_str());
  }
  fd_ = fd;
  pending_ = true;
  return CQiError::Success();
}

CQiError CAtomicFileWriter::Flush() {
  if (buffer_.empty()) return CQiError::Success();
  CQiError error = FXFile::TQWriteFile(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
  if (error.IsError()) {
    return FXErrorUtil::ErrorErrNo(FXLOC, error.GetValue(), "Failed to write %s: %s",
                                   tempPath_.c_str(), error.AsString(2).c_str());
  }
  return CQiError::Success();
}

CQiError CAtomicFileWriter::Write(const void* data, size_t length) {
  if (fd_ < 0) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No file open for %s", finalPath_.c_str());
  buffer_.append(static_cast<const char*>(data), length);
  if (buffer_.size() < kBlockSize) return CQiError::Success();
  CQiError error = Flush();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CAtomicFileWriter::Close() {
  if (fd_ < 0) {
    if (pending_) return CQiError::Success();
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No file open for %s", finalPath_.c_str());
  }
  CQiError error = Flush();
  if (!error.IsError() && ::fsync(fd_) != 0) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to sync %s", tempPath_.c_str());
  }
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0 && !error.IsError()) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", tempPath_.c_str());
  }
  if (error.IsError()) {
    Abort();
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CAtomicFileWriter::Commit(bool syncDirectory) {
  CQiError error = Close();
  if (error.IsError()) return error.Push(FXLOC);
  error = FXFile::TQMoveFileEx(tempPath_.c_str(), finalPath_.c_str(), FXFile::kMoveReplaceExisting);
  if (error.IsError()) {
    Abort();
    return error.Push(FXLOC);
  }
  pending_ = false;
  if (syncDirectory) SyncDirectoryOf(finalPath_);
  return CQiError::Success();
}

void CAtomicFileWriter::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  buffer_.clear();
  if (pending_) {
    ::unlink(tempPath_.c_str());
    pending_ = false;
  }
}

}  // namespace MultiNodeBackupOps
