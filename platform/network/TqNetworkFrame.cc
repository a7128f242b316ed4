#include "platform/network/TqNetworkFrame.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <pugixml.hpp>

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t Deadline(int timeoutSecs) {
  return timeoutSecs < 0 ? -1 : NowMs() + static_cast<int64_t>(timeoutSecs) * 1000;
}

// Waits until `fd` is ready for `events`; false when the deadline passed.
bool WaitReady(int fd, short events, int64_t deadlineMs, int& error) {
  for (;;) {
    int wait = -1;
    if (deadlineMs >= 0) {
      int64_t left = deadlineMs - NowMs();
      if (left <= 0) return false;
      wait = static_cast<int>(left > 60000 ? 60000 : left);
    }
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, wait);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) {
      error = errno;
      return true;  // the read or write that follows reports the failure
    }
  }
}

}  // namespace

CTqNetworkFrame::Result CTqNetworkFrame::WriteAll(int fd, const char* data, size_t size,
                                                  int64_t deadlineMs, int& error) {
  while (size > 0) {
    if (!WaitReady(fd, POLLOUT, deadlineMs, error)) return kTimedOut;
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      error = errno;
      return errno == EPIPE || errno == ECONNRESET ? kClosed : kIoError;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return kOk;
}

CTqNetworkFrame::Result CTqNetworkFrame::ReadAll(int fd, char* data, size_t size,
                                                 int64_t deadlineMs, int& error) {
  while (size > 0) {
    if (!WaitReady(fd, POLLIN, deadlineMs, error)) return kTimedOut;
    ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
    if (n == 0) return kClosed;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      error = errno;
      return errno == ECONNRESET ? kClosed : kIoError;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return kOk;
}

CTqNetworkFrame::Result CTqNetworkFrame::Send(int fd, const CNMessageBase& message, int timeoutSecs,
                                              int& error) {
  error = 0;
  std::string xml;
  if (message.serialize(xml) != 0) return kBadRecord;
  if (xml.size() > kMaxFrameBytes) return kBadFrame;
  const uint32_t size = static_cast<uint32_t>(xml.size());
  std::string frame(4, '\0');
  frame[0] = static_cast<char>(size >> 24);
  frame[1] = static_cast<char>(size >> 16);
  frame[2] = static_cast<char>(size >> 8);
  frame[3] = static_cast<char>(size);
  frame += xml;
  return WriteAll(fd, frame.data(), frame.size(), Deadline(timeoutSecs), error);
}

CTqNetworkFrame::Result CTqNetworkFrame::Receive(int fd, CNMessageBasePtr& message, int timeoutSecs,
                                                 int& error) {
  error = 0;
  const int64_t deadline = Deadline(timeoutSecs);
  unsigned char head[4];
  Result r = ReadAll(fd, reinterpret_cast<char*>(head), sizeof head, deadline, error);
  if (r != kOk) return r;
  const uint32_t size = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) |
                        (uint32_t{head[2]} << 8) | uint32_t{head[3]};
  if (size > kMaxFrameBytes) return kBadFrame;
  std::string xml(size, '\0');
  r = ReadAll(fd, &xml[0], size, deadline, error);
  if (r != kOk) return r;
  CNMessageBasePtr record = ParseRecord(xml);
  if (!record) return kBadRecord;
  message = record;
  return kOk;
}

CNMessageBasePtr CTqNetworkFrame::ParseRecord(const std::string& xml) {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) return nullptr;
  pugi::xml_node root = doc.document_element();
  if (!root) return nullptr;
  char* end = nullptr;
  const char* nsText = root.attribute("ns").value();
  const char* classText = root.attribute("class").value();
  errno = 0;
  unsigned long ns = std::strtoul(nsText, &end, 10);
  if (*nsText == '\0' || *end != '\0' || errno != 0 || ns > 0xFFFFFFFFul) return nullptr;
  unsigned long cls = std::strtoul(classText, &end, 10);
  if (*classText == '\0' || *end != '\0' || errno != 0 || cls > 0xFFFFFFFFul) return nullptr;
  auto record =
      std::make_shared<CNMessageBase>(static_cast<uint32_t>(ns), static_cast<uint32_t>(cls));
  if (record->unserialize(xml) != 0) return nullptr;
  return record;
}

std::string CTqNetworkFrame::Describe(Result result, int error) {
  switch (result) {
    case kOk:
      return "success";
    case kTimedOut:
      return "timed out";
    case kClosed:
      return "the connection was closed by the other end";
    case kIoError:
      return std::string("connection failure: ") + std::strerror(error);
    case kBadFrame:
      return "a message larger than the channel carries";
    case kBadRecord:
      return "a message that is not a record";
  }
  return "unknown failure";
}
