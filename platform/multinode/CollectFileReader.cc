#include "platform/multinode/CollectFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/FXErrorUtil.h"

namespace {
constexpr size_t kBlockSize = 64 * 1024;
}  // namespace

CCollectFileReader::~CCollectFileReader() { Close(); }

CQiError CCollectFileReader::Open(const std::string& path, int64_t offset) {
  Close();
  path_ = path;
  if (offset < 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid offset %lld for collect file %s",
                                   static_cast<long long>(offset), path.c_str());
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open collect file %s", path.c_str());
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the status of %s", path.c_str());
  }
  if (offset > st.st_size) {
    ::close(fd);
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Offset %lld is beyond the end of %s (%lld bytes)",
                                   static_cast<long long>(offset), path.c_str(),
                                   static_cast<long long>(st.st_size));
  }
  if (offset > 0 && offset < st.st_size) {
    // An entry begins at the start of the file or right after a line end;
    // the file's size is where the last line ends, with or without one.
    char before = 0;
    ssize_t got = ::pread(fd, &before, 1, offset - 1);
    if (got != 1 || before != '\n') {
      int err = got < 0 ? errno : 0;
      ::close(fd);
      if (err) {
        return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read %s", path.c_str());
      }
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Offset %lld of %s is not the start of an entry",
                                     static_cast<long long>(offset), path.c_str());
    }
  }
  if (offset > 0) {
    if (::lseek(fd, offset, SEEK_SET) < 0) {
      int err = errno;
      ::close(fd);
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to seek in %s", path.c_str());
    }
  }
  fd_ = fd;
  lineOffset_ = nextOffset_ = offset;
  return CQiError::Success();
}

void CCollectFileReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  failed_ = false;
  readError_ = CQiError();
  buffer_.clear();
  position_ = 0;
  lineOffset_ = nextOffset_ = 0;
}

bool CCollectFileReader::Fill() {
  if (position_ < buffer_.size()) return true;
  if (fd_ < 0 || failed_) return false;
  buffer_.resize(kBlockSize);
  position_ = 0;
  while (true) {
    ssize_t got = ::read(fd_, &buffer_[0], buffer_.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      int err = errno;
      failed_ = true;
      readError_ =
          FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read collect file %s", path_.c_str());
      buffer_.clear();
      return false;
    }
    buffer_.resize(static_cast<size_t>(got));
    return got > 0;
  }
}

bool CCollectFileReader::IsEndOfFile() { return !Fill(); }

CQiError CCollectFileReader::GetNextLine(std::string& line) {
  if (failed_) return readError_;
  if (!Fill()) {
    if (failed_) return readError_;
    return FXErrorUtil::ErrorWin32(FXLOC, 38, "End of collect file %s", path_.c_str());
  }
  std::string text;
  int64_t consumed = 0;
  bool ended = false;
  while (!ended && Fill()) {
    size_t end = buffer_.find('\n', position_);
    if (end == std::string::npos) {
      text.append(buffer_, position_, std::string::npos);
      consumed += static_cast<int64_t>(buffer_.size() - position_);
      position_ = buffer_.size();
    } else {
      text.append(buffer_, position_, end - position_);
      consumed += static_cast<int64_t>(end - position_ + 1);
      position_ = end + 1;
      ended = true;
    }
  }
  if (failed_) return readError_;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  lineOffset_ = nextOffset_;
  nextOffset_ += consumed;
  line.swap(text);
  return CQiError::Success();
}
