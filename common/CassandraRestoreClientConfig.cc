#include "common/CassandraRestoreClientConfig.h"

#include <cstdint>

#include "platform/log/LogWriter.h"

namespace TQCassandra {

CQiError CCassandraRestoreClientConfig::CalculateStreams(size_t nodeCount) {
  TQ_DEBUG_FUNCTION();
  // The node count is compared as the signed 32-bit value the stream count is.
  const int32_t nodes = static_cast<int32_t>(nodeCount);
  const int32_t streams = getNumberOfStreams();
  if (nodes > streams) {
    TQLOG(0,
          "Updating number of streams to [%d] as the number of streams chosen [%d] is less than "
          "the number of nodes",
          nodes, streams);
    setNumberOfStreams(nodes);
  }
  TQLOG(6, "Number of streams = [%d]", getNumberOfStreams());
  return CQiError::Success();
}

}  // namespace TQCassandra
