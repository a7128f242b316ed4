#include "platform/network/TqRemoteCommandPeer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/base/FXErrorUtil.h"
#include "platform/network/TqNetworkFrame.h"

namespace {

CQiError FrameError(const FXCodeLocation& location, CTqNetworkFrame::Result result, int error,
                    const char* what) {
  const uint32_t code = result == CTqNetworkFrame::kTimedOut ? 1460
                        : result == CTqNetworkFrame::kClosed ? 10054
                                                             : 13;
  return FXErrorUtil::ErrorWin32(location, code, "Failed to %s a message: %s", what,
                                 CTqNetworkFrame::Describe(result, error).c_str());
}

}  // namespace

CTqRemoteCommandPeer::~CTqRemoteCommandPeer() { Close(); }

CQiError CTqRemoteCommandPeer::Connect() {
  const char* endpoint = std::getenv(kEndpointVariable);
  if (endpoint == nullptr || *endpoint == '\0') {
    return FXErrorUtil::ErrorWin32(FXLOC, 2, "Not started by the remote-command service (%s unset)",
                                   kEndpointVariable);
  }
  return Connect(endpoint);
}

CQiError CTqRemoteCommandPeer::Connect(const std::string& endpoint) {
  Close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (endpoint.size() >= sizeof address.sun_path) {
    return FXErrorUtil::ErrorWin32(FXLOC, 206, "Endpoint path too long: %s", endpoint.c_str());
  }
  std::memcpy(address.sun_path, endpoint.c_str(), endpoint.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FXErrorUtil::ErrorErrNo(FXLOC, errno, "socket: %s", std::strerror(errno));
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int e = errno;
    ::close(fd);
    return FXErrorUtil::ErrorErrNo(FXLOC, e, "Failed to connect to %s: %s", endpoint.c_str(),
                                   std::strerror(e));
  }
  fd_ = fd;
  return CQiError::Success();
}

CQiError CTqRemoteCommandPeer::Send(const CNMessageBase& message, int timeoutSecs) {
  if (fd_ < 0) return FXErrorUtil::ErrorWin32(FXLOC, 10057, "Not connected");
  int error = 0;
  CTqNetworkFrame::Result r = CTqNetworkFrame::Send(fd_, message, timeoutSecs, error);
  return r == CTqNetworkFrame::kOk ? CQiError::Success() : FrameError(FXLOC, r, error, "send");
}

CQiError CTqRemoteCommandPeer::Receive(CNMessageBasePtr& message, int timeoutSecs) {
  if (fd_ < 0) return FXErrorUtil::ErrorWin32(FXLOC, 10057, "Not connected");
  int error = 0;
  CTqNetworkFrame::Result r = CTqNetworkFrame::Receive(fd_, message, timeoutSecs, error);
  return r == CTqNetworkFrame::kOk ? CQiError::Success() : FrameError(FXLOC, r, error, "receive");
}

void CTqRemoteCommandPeer::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
