#include "platform/suite/TQClient.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/suite/ClientContext.h"

namespace {

// The calling thread's own client as a record.
SClientRecord OwnClient() {
  SClientRecord own;
  own.id = CClientContext::ClientId();
  own.name = CClientContext::ClientName();
  own.hostName = CClientContext::HostName();
  return own;
}

}  // namespace

TQClient::TQClient(uint64_t clientId) : lookup_("id " + std::to_string(clientId)) {
  found_ = CClientDirectory::Instance().FindById(clientId, record_);
  if (!found_) {
    SClientRecord own = OwnClient();
    if (own.id == clientId) {
      record_ = own;
      found_ = true;
    }
  }
}

TQClient::TQClient(const char* name, int nameType, int, void*) : lookup_(name ? name : "") {
  if (!name || !*name) return;
  if (nameType == TQ_NAME_TYPE_HOST) {
    for (const auto& r : CClientDirectory::Instance().All()) {
      if (r.hostName == name) {
        record_ = r;
        found_ = true;
        return;
      }
    }
    SClientRecord own = OwnClient();
    if (own.hostName == name) {
      record_ = own;
      found_ = true;
    }
    return;
  }
  found_ = CClientDirectory::Instance().FindByName(name, record_);
  if (!found_) {
    SClientRecord own = OwnClient();
    if (own.name == name) {
      record_ = own;
      found_ = true;
    }
  }
}

CQiError TQClient::NotFound(const FXCodeLocation& location) const {
  return FXErrorUtil::ErrorWin32(location, 1168, "Client %s not found", lookup_.c_str());
}

CQiError TQClient::getName(CQiString& name) const {
  if (!found_) return NotFound(FXLOC);
  name = record_.name;
  return CQiError::Success();
}

CQiError TQClient::getName(std::string& name) const {
  if (!found_) return NotFound(FXLOC);
  name = record_.name;
  return CQiError::Success();
}

CQiError TQClient::getClientId(uint64_t& id) const {
  if (!found_) return NotFound(FXLOC);
  id = record_.id;
  return CQiError::Success();
}

CQiError TQClient::getNetworkHostname(CQiString& hostName) const {
  if (!found_) return NotFound(FXLOC);
  hostName = record_.hostName;
  return CQiError::Success();
}

CQiError TQClient::getNetworkHostnameMangled(CQiString& hostName, void*) const {
  if (!found_) return NotFound(FXLOC);
  hostName = record_.mangledHostName.empty() ? record_.hostName : record_.mangledHostName;
  return CQiError::Success();
}

CQiError TQClient::getOperatingSystemId(uint32_t& operatingSystemId) const {
  if (!found_) return NotFound(FXLOC);
  operatingSystemId = record_.operatingSystemId;
  return CQiError::Success();
}
