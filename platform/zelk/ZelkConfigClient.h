#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/msg/SuiteServiceRecords.h"

namespace Zelk {

// Client of the network file server of a media agent. The server exports
// shares of backed-up data: a share holds the newest version of every item of
// the requested backup set (or subclient) and time range, laid out as its
// index path, "<cluster>/<data centre>/<client>/<keyspace>/<table>/<file>",
// read from the archive store of the suite home. Commit logs are not
// exported. The server and its shares are records under the suite home
// (CZelkShareStore), so that a node's mount on the same machine finds them.
//
// Failure switches for tests and demonstrations, read from the registry
// (section "Zelk", numbers, non-zero = on): "nFailStart" (the server does not
// start), "nNoShareId" (the creation answers success but makes no share and no id),
// "nFailDelete" (deletion fails and the share stays).
class ZelkConfigClient {
 public:
  static constexpr const char* kRegistrySection = "Zelk";

  // `host` is the media agent's host name, in the mangled form
  // "<client>*<host>" or plain; `debug` and `flags` are reserved.
  ZelkConfigClient(const std::string& host, int64_t jobId, void* debug, int flags);

  // Starts the file server on the media agent (success when it runs).
  CQiError StartZelkServer();
  // Operation 4 of the request creates the share it describes; the reply's
  // share id names it. A share of the same name is replaced.
  CQiError CreateZelkNetworkShare(const App::SetZELKSharePropsReq& request,
                                  App::SetZELKSharePropsResp& response);
  // Removes the share and its exported tree.
  CQiError DeleteZelkNetworkShare(uint32_t shareId);

  const std::string& getHost() const { return host_; }
  int64_t getJobId() const { return jobId_; }

 private:
  std::string host_;
  int64_t jobId_ = 0;
};

}  // namespace Zelk
