#include "platform/suite/TQPI_PlatformBase.h"

#include <cstring>
#include <string>

#include "platform/suite/ClientContext.h"
#include "platform/suite/PlatformInfo.h"

namespace {

bool CopyOut(const std::string& text, char* buffer, size_t size) {
  if (!buffer || text.empty() || text.size() + 1 > size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

bool TQPI_PlatformBase::getZentorerHostName(char* buffer, size_t size) {
  std::string host;
  if (!TQPlatformInfo().getString("Base", "sZentorerHostName", host) || host.empty()) {
    host = CClientContext::HostName();
  }
  return CopyOut(host, buffer, size);
}

bool TQPI_PlatformBase::getZentoreHostName(char* buffer, size_t size) {
  return getZentorerHostName(buffer, size);
}
