#include "backup/CassandraNodeInfo.h"

namespace TQCassandra {

CassandraNodeInfoPtr CassandraNodeInfo::Of(const DistributedQEL::CNodeInfoPtr& node) {
  if (!node) return CassandraNodeInfoPtr();
  return boost::dynamic_pointer_cast<CassandraNodeInfo>(node->getCustomInfo());
}

}  // namespace TQCassandra
