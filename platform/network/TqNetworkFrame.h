#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/msg/NMessageBase.h"

// The wire form of the remote-command channel: every record travels as one
// frame, a 4-byte length in network byte order followed by the record's XML
// text. Both ends of a connection (CTqNetwork on the requesting side,
// CTqRemoteCommandPeer in the started program) use these helpers.
class CTqNetworkFrame {
 public:
  // Largest XML text a frame may carry; a longer announced length is a
  // broken stream, never an allocation.
  static constexpr uint32_t kMaxFrameBytes = 16u << 20;

  enum Result {
    kOk = 0,
    kTimedOut,   // nothing (or not all) could be moved within the time-out
    kClosed,     // the other end closed the connection
    kIoError,    // the system call failed (errno in `error`)
    kBadFrame,   // a length above kMaxFrameBytes
    kBadRecord,  // text that is not one record
  };

  // Writes the record as one frame. `timeoutSecs` < 0 waits without limit.
  static Result Send(int fd, const CNMessageBase& message, int timeoutSecs, int& error);
  // Reads one frame and makes the record it holds, whatever its namespace
  // and class.
  static Result Receive(int fd, CNMessageBasePtr& message, int timeoutSecs, int& error);

  // The record held by an XML text, of the namespace and class its root
  // element names; null when the text is not one record.
  static CNMessageBasePtr ParseRecord(const std::string& xml);

  // A short text for a result ("timed out", "connection closed", ...).
  static std::string Describe(Result result, int error);

 private:
  static Result WriteAll(int fd, const char* data, size_t size, int64_t deadlineMs, int& error);
  static Result ReadAll(int fd, char* data, size_t size, int64_t deadlineMs, int& error);
};
