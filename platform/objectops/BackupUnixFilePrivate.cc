#include "platform/objectops/BackupUnixFilePrivate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/FXErrorUtil.h"

namespace OBJECTOPSAPI {

BackupUnixFilePrivate::BackupUnixFilePrivate(const std::string& filePath,
                                             const std::string& headerPath, uint64_t flags,
                                             const ExtentBackupParams& extent)
    : BackupFilePrivate(filePath, headerPath, flags, extent) {}

BackupUnixFilePrivate::~BackupUnixFilePrivate() { CloseObject(); }

CQiError BackupUnixFilePrivate::OpenObject() {
  CloseObject();
  // Non-blocking, so that opening a pipe by mistake never hangs; the type is
  // checked right after.
  int fd = open(m_filePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s", m_filePath.c_str());
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int err = errno;
    close(fd);
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the attributes of %s",
                                   m_filePath.c_str());
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    close(fd);
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s is neither a file nor a directory",
                                   m_filePath.c_str());
  }
  fd_ = fd;
  m_isDirectory = S_ISDIR(st.st_mode);
  m_objectSize = m_isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
  m_modifyTime = static_cast<int64_t>(st.st_mtime);
  m_mode = static_cast<uint32_t>(st.st_mode);
  return CQiError::Success();
}

CQiError BackupUnixFilePrivate::ReadContent(uint64_t offset, void* buffer, size_t length,
                                            size_t& got) {
  got = 0;
  for (;;) {
    ssize_t n = pread(fd_, buffer, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read %s", m_filePath.c_str());
    }
    got = static_cast<size_t>(n);
    return CQiError::Success();
  }
}

CQiError BackupUnixFilePrivate::CurrentSize(uint64_t& size) {
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the attributes of %s",
                                   m_filePath.c_str());
  }
  size = m_isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
  return CQiError::Success();
}

void BackupUnixFilePrivate::CloseObject() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

}  // namespace OBJECTOPSAPI
