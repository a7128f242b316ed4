#include "common/CassandraClientLookup.h"

#include "platform/app/App_ExecuteSP.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/suite/PlatformInfo.h"

namespace TQCassandra {

CQiError CassandraClientLookup::ClientsForAddresses(
    const std::list<std::string>& addresses, std::vector<TqEntities::ClientEntity>& clients) {
  App::GetClientsForIPAddressRequest request;
  std::vector<std::string> ipAddresses;
  for (const std::string& address : addresses) {
    TQLOG(2, "Adding ip %s to the getClients request", address.c_str());
    ipAddresses.push_back(address);
  }
  request.setIpAddresses(ipAddresses);
  std::string requestXml;
  if (request.serialize(requestXml) != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13,
        "GetClientsForIPAddressRequest XML serialization failed with an error. Please check the "
        "logs");
  }
  TQLOG(2, "GetClientsForIPAddressRequest input: %s", requestXml.c_str());
  App_ExecuteSP executor;
  std::string responseXml;
  int r = executor.executeStoredProcedure(kProcedureId, requestXml, responseXml, nullptr);
  TQLOG(2, "GetClientsForIPAddressRequest response: %s", responseXml.c_str());
  if (r != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13,
        "Stored procedure to get Client entities for IP addresses failed "
        "with an error [%d], response Str [%s]",
        r, executor.getErrorString().c_str());
  }
  App::GetClientsForIPAddressResponse response;
  r = response.unserialize(responseXml);
  if (r != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "Unserialize of Stored procedure response failed with an error %d", r);
  }
  clients = response.getClients();
  return CQiError::Success();
}

std::string CassandraClientLookup::LocalClientName() {
  if (TQPlatformInfo::getTQPlatformType() & 1) {
    char name[256] = {0};
    TQPlatformInfo::getZentorerClientName(name, sizeof name);
    return name;
  }
  return TQPlatformInfo::getPhysicalMachine().substr(0, 255);
}

}  // namespace TQCassandra
