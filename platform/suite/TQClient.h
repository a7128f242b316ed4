#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"
#include "platform/suite/ClientDirectory.h"

// Kinds of name a TQClient can be built from.
enum TQNameType { TQ_NAME_TYPE_CLIENT = 1, TQ_NAME_TYPE_HOST = 2 };

// One suite client, looked up by id or by name in the CClientDirectory. The
// calling thread's own client (CClientContext) is known even when the
// directory does not list it. Every getter of a client that was not found
// fails with Win32 1168 (not found).
class TQClient {
 public:
  explicit TQClient(uint64_t clientId);
  // `nameType` TQ_NAME_TYPE_CLIENT looks up a client name,
  // TQ_NAME_TYPE_HOST a host name; the last two arguments are reserved.
  TQClient(const char* name, int nameType, int flags = 0, void* reserved = nullptr);

  bool isValid() const { return found_; }
  CQiError getName(CQiString& name) const;
  CQiError getName(std::string& name) const;
  CQiError getClientId(uint64_t& id) const;
  CQiError getNetworkHostname(CQiString& hostName) const;
  // The host name under which the remote-command service reaches the client.
  CQiError getNetworkHostnameMangled(CQiString& hostName, void* reserved = nullptr) const;
  CQiError getOperatingSystemId(uint32_t& operatingSystemId) const;

 private:
  CQiError NotFound(const FXCodeLocation& location) const;

  SClientRecord record_;
  bool found_ = false;
  std::string lookup_;
};
