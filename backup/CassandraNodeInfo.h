#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/framework/FVBase.h"
#include "platform/framework/NodeInfo.h"

namespace TQCassandra {

// What the backup coordinator keeps about one suite client of the job, as the
// custom information of the framework's node record: the Cassandra nodes the
// client serves in this job, its first collect-file number, and where the
// node stands in making its tasks. Job start fills it; node start-up and the
// task operations read and set it (the two flags under the coordinator lock).
class CassandraNodeInfo : public FVBase {
 public:
  CassandraNodeInfo() = default;
  ~CassandraNodeInfo() override = default;

  // The payload of a framework node record; null when it has none or one of
  // another kind.
  static boost::shared_ptr<CassandraNodeInfo> Of(const DistributedQEL::CNodeInfoPtr& node);

  // The Cassandra nodes of this client, in the order they were added.
  std::vector<App::CassandraNode> cassandraNodes;
  // First number of the client's collect-file range.
  int32_t collectFileStart = 0;
  // Width of that range (two numbers per stream of the node's share); a node
  // restored from the mapping file of an earlier run keeps that run's.
  int32_t rangeWidth = 0;

  // The node's tasks exist, or none will come.
  bool tasksSettled = false;
  // A start-up report other than the controller's first has arrived.
  bool collectReportReceived = false;
};
typedef boost::shared_ptr<CassandraNodeInfo> CassandraNodeInfoPtr;

}  // namespace TQCassandra
