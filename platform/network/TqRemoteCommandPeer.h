#pragma once

#include <string>

#include "platform/base/QiError.h"
#include "platform/msg/NMessageBase.h"

// The started program's end of a remote-command connection. The channel
// (CTqNetwork) starts the program with the environment variable
// TQ_REMOTE_ENDPOINT naming the local socket it listens on; the program
// connects to it and then exchanges records with the requester.
class CTqRemoteCommandPeer {
 public:
  static constexpr const char* kEndpointVariable = "TQ_REMOTE_ENDPOINT";
  // The suite client that asked for the program (set by the channel).
  static constexpr const char* kRequesterVariable = "TQ_REMOTE_REQUESTER";

  CTqRemoteCommandPeer() = default;
  ~CTqRemoteCommandPeer();
  CTqRemoteCommandPeer(const CTqRemoteCommandPeer&) = delete;
  CTqRemoteCommandPeer& operator=(const CTqRemoteCommandPeer&) = delete;

  // Connects to the endpoint of the environment (Win32 2 when the program was
  // not started by the channel, the socket error otherwise).
  CQiError Connect();
  CQiError Connect(const std::string& endpoint);
  bool IsConnected() const { return fd_ >= 0; }

  // `timeoutSecs` < 0 waits without limit; a time-out is Win32 1460.
  CQiError Send(const CNMessageBase& message, int timeoutSecs = -1);
  CQiError Receive(CNMessageBasePtr& message, int timeoutSecs = -1);
  void Close();

 private:
  int fd_ = -1;
};
