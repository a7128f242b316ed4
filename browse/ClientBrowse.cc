#include "browse/ClientBrowse.h"

#include "platform/base/FXErrorUtil.h"

namespace TQCassandra {

CClientBrowse::CClientBrowse(int value) : IClientBrowse(value), factoryValue(value) {}

CClientBrowse::~CClientBrowse() = default;

CQiError CClientBrowse::MachineBrowse(const std::string&, App::DistributedClusterType*,
                                      App::MachineBrowseReq*, App::MachineBrowseResp*,
                                      App::GenericResp*) {
  return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Cluster browse is not available");
}

}  // namespace TQCassandra
