#include "tools/lib/HomeLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/base/FXErrorUtil.h"

namespace TqHarness {

namespace {

std::string PathOf(const std::string& home) { return home + "/" + CHomeLock::kFileName; }

std::string ReadHolder(int fd) {
  char text[512];
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return "another run";
  std::string holder(text, static_cast<size_t>(n));
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
  return holder.empty() ? "another run" : holder;
}

struct flock WholeFile(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

}  // namespace

CHomeLock::~CHomeLock() { Release(); }

CQiError CHomeLock::Acquire(const std::string& home, const std::string& holder) {
  Release();
  const std::string path = PathOf(home);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Cannot open the lock of %s", home.c_str());
  }
  struct flock lock = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_SETLK, &lock) != 0) {
    const int code = errno;
    const std::string other = ReadHolder(fd);
    ::close(fd);
    if (code == EACCES || code == EAGAIN) {
      return FXErrorUtil::ErrorWin32(FXLOC, 32, "%s is in use by %s; try again when it ends",
                                     home.c_str(), other.c_str());
    }
    return FXErrorUtil::ErrorErrNo(FXLOC, code, "Cannot lock %s", home.c_str());
  }
  char since[32];
  const time_t now = std::time(nullptr);
  std::strftime(since, sizeof since, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  const std::string text =
      holder + " (process " + std::to_string(::getpid()) + ", since " + since + ")\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) < 0) {
    // The lock holds without its text; a refused run then names no holder.
  }
  fd_ = fd;
  return CQiError();
}

void CHomeLock::Release() {
  if (fd_ < 0) return;
  if (::ftruncate(fd_, 0) != 0) {
    // Only the holder's text stays behind; the lock itself goes with the file
    // descriptor.
  }
  ::close(fd_);
  fd_ = -1;
}

bool CHomeLock::HeldByOther(const std::string& home, std::string& holder) {
  const int fd = ::open(PathOf(home).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock lock = WholeFile(F_WRLCK);
  const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  if (held) holder = ReadHolder(fd);
  ::close(fd);
  return held;
}

}  // namespace TqHarness
