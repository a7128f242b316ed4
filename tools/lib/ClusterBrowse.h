#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/ClusterBrowseRecords.h"
#include "platform/base/QiError.h"
#include "tools/lib/JobHarness.h"

namespace TqHarness {

// What a cluster browse lists.
enum class BrowseKind { kNodes, kKeyspaces };

struct ClusterBrowseRequest {
  BrowseKind kind = BrowseKind::kNodes;
  // 0: the harness's registered instance. Otherwise a registered subclient:
  // the browse is of its instance, and a keyspace browse runs as that
  // subclient's (Priam in the gateway client's job results).
  uint64_t subclientId = 0;
};

// The answer of one browse as the suite's user interface receives it.
struct ClusterBrowseResult {
  CQiError error;            // what MachineBrowse returned
  int64_t errorCode = 0;     // App::GenericResp: 1 on failure
  std::string errorMessage;  // App::GenericResp: the reason
  int items = 0;             // browse items in the response
  App::CassandraBrowseItem item;

  bool Ok() const { return !error.IsError() && items == 1; }
};

// Browses the harness's cluster as the suite's user interface does: the
// plug-in's browser from the library's createClientBrowseInstance, asked
// with the instance's stored configuration (as the central server gives it)
// and run in the gateway client's context.
class CClusterBrowse {
 public:
  CClusterBrowse(const CJobHarness& harness, std::string pluginPath)
      : harness_(harness), pluginPath_(std::move(pluginPath)) {}

  // Error only when the browse could not be asked at all (nothing
  // registered, an unknown subclient, the library); the browse's own
  // outcome is in `result`.
  CQiError Run(const ClusterBrowseRequest& request, ClusterBrowseResult& result) const;

 private:
  // The machine browse request for the instance of `gatewayClientId`.
  CQiError MakeRequest(const ClusterBrowseRequest& request, uint64_t instanceId,
                       uint64_t gatewayClientId, const std::string& gatewayClient,
                       App::MachineBrowseReq& out) const;

  const CJobHarness& harness_;
  std::string pluginPath_;
};

}  // namespace TqHarness
