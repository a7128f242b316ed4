#include "platform/multinode/UnixFlatCollectFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"

namespace {
constexpr size_t kBlockSize = 64 * 1024;

// A copy of a kept error whose chain the caller may extend without touching
// the kept one.
CQiError CopyOf(const CQiError& error) {
  if (!error.detail()) return CQiError(error.GetCode());
  return CQiError(error.GetCode(), std::make_shared<CQiError::Detail>(*error.detail()));
}
}  // namespace

CUnixFlatCollectFile::CUnixFlatCollectFile(int64_t jobId, const std::string& path, const char* mode)
    : jobId_(jobId), path_(path), truncate_(true) {
  if (mode && std::strcmp(mode, "a") == 0) {
    truncate_ = false;
  } else if (!mode || std::strcmp(mode, "w") != 0) {
    modeError_ = FXErrorUtil::ErrorWin32(FXLOC, 87, "Unsupported mode [%s] for collect file %s",
                                         mode ? mode : "", path.c_str());
  }
}

CUnixFlatCollectFile::~CUnixFlatCollectFile() {
  // Writes out what is buffered; a file never opened is not made here.
  if (fd_ >= 0) {
    if (!failed_.IsError()) Flush();
    CloseDescriptor();
  }
}

CQiError CUnixFlatCollectFile::Open() {
  if (modeError_.IsError()) return CopyOf(modeError_).Push(FXLOC);
  if (fd_ >= 0) return CQiError::Success();
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate_ ? O_TRUNC : O_APPEND);
  int fd = ::open(path_.c_str(), flags, 0666);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open collect file %s", path_.c_str());
  }
  fd_ = fd;
  truncate_ = false;
  return CQiError::Success();
}

CQiError CUnixFlatCollectFile::Flush() {
  if (buffer_.empty()) return CQiError::Success();
  size_t done = 0;
  CQiError error = FXFile::TQWriteFile(fd_, buffer_.data(), buffer_.size(), &done);
  if (error.IsError()) {
    // Only the entries wholly in the file still count.
    for (size_t end : entryEnds_) {
      if (end > done) break;
      ++written_;
    }
    SetProcessedItemsCount(written_);
    failed_ =
        FXErrorUtil::ErrorErrNo(FXLOC, error.GetValue(), "Failed to write collect file %s: %s",
                                path_.c_str(), error.AsString(2).c_str());
    buffer_.clear();
    entryEnds_.clear();
    return CopyOf(failed_);
  }
  written_ += entryEnds_.size();
  buffer_.clear();
  entryEnds_.clear();
  return CQiError::Success();
}

CQiError CUnixFlatCollectFile::AddEntry(const MultiNodeBackupOps::CCollectFileEntry& entry) {
  if (failed_.IsError()) return CopyOf(failed_).Push(FXLOC);
  if (entry.path.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Empty path for collect file %s", path_.c_str());
  }
  CQiError error = Open();
  if (error.IsError()) return error.Push(FXLOC);
  buffer_ += entry.FormatFlatLine();
  buffer_ += "\n\n";
  entryEnds_.push_back(buffer_.size());
  IncrementProcessedItemsCount();
  if (buffer_.size() >= kBlockSize) {
    error = Flush();
    if (error.IsError()) return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CUnixFlatCollectFile::CloseDescriptor() {
  if (fd_ < 0) return CQiError::Success();
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) {
    int err = errno;
    failed_ = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close collect file %s", path_.c_str());
    return CopyOf(failed_);
  }
  return CQiError::Success();
}

CQiError CUnixFlatCollectFile::Close() {
  if (failed_.IsError()) {
    CloseDescriptor();
    return CopyOf(failed_).Push(FXLOC);
  }
  // A file that took no entry is still made (empty in mode "w"), so that a
  // reader never finds older content under its name.
  CQiError error = Open();
  if (error.IsError()) return error.Push(FXLOC);
  error = Flush();
  if (error.IsError()) {
    CloseDescriptor();
    return error.Push(FXLOC);
  }
  error = CloseDescriptor();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}
