#pragma once

#include <boost/shared_ptr.hpp>
#include <list>
#include <string>

#include "logrestore/CassandraDockerInfo.h"
#include "platform/framework/FrameworkTypes.h"

namespace TQCassandra {

// One destination node that the commit-log replay restarts.
class CCassandraNodeInfo {
 public:
  CCassandraNodeInfo() = default;
  virtual ~CCassandraNodeInfo() = default;

  // The framework's record of the node's suite client (client and host
  // name); empty when the framework has none.
  DistributedQEL::CNodeInfoPtr nodeInfo;
  // The node's Cassandra configuration directory as the instance stores it.
  std::string confDir;
  // The node's address.
  std::string ip;
  // The node's Cassandra host id.
  std::string hostId;
  // Set only for a node that runs in a container.
  boost::shared_ptr<CCassandraDockerInfo> dockerInfo;
};

typedef std::list<boost::shared_ptr<CCassandraNodeInfo>> CassandraNodeInfoList;

}  // namespace TQCassandra
