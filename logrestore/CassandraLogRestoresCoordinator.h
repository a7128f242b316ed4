#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "platform/base/FXMutex.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

class CCassandraDockerInfo;

// The coordinator of the commit-log phase ("CassandraLogRestore") of a
// point-in-time restore: a restore coordinator that also replays the restored
// commit logs by restarting the reported nodes one at a time.
class CCassandraLogRestores : public virtual CCassandraRestores {
 public:
  // The framework base is always built with false; `cleanupRestore` goes to
  // the restore coordinator base.
  explicit CCassandraLogRestores(bool cleanupRestore);
  ~CCassandraLogRestores() override;

 protected:
  // Seconds since 1970 (UTC) up to which commit logs are replayed.
  int64_t pointInTime = 0;
  // Client names of the controllers that asked for a Cassandra restart;
  // appended under restartLock.
  std::list<std::string> nodesToRestart;
  FXMutex restartLock;
  // Node key -> container and host staging path of a node in a container.
  std::map<std::string, boost::shared_ptr<CCassandraDockerInfo>> dockerInfoByNode;
};

}  // namespace TQCassandra
