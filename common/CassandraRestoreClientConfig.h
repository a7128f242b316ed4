#pragma once

#include <cstddef>

#include "platform/base/QiError.h"
#include "platform/framework/RestoreClientConfig.h"

namespace TQCassandra {

// Framework configuration of the restore and point-in-time coordinators. It
// raises the job's stream count to the number of nodes, so that every node
// can be served by a stream of its own.
class CCassandraRestoreClientConfig : public TQDC_FileSystem::CRestoreClientConfig {
 public:
  CCassandraRestoreClientConfig() : CRestoreClientConfig(2) {}
  ~CCassandraRestoreClientConfig() override = default;

  // Raises the stream count to `nodeCount` when fewer streams were chosen;
  // never lowers it. Always succeeds.
  CQiError CalculateStreams(size_t nodeCount) override;
};
typedef boost::shared_ptr<CCassandraRestoreClientConfig> CCassandraRestoreClientConfigPtr;

}  // namespace TQCassandra
