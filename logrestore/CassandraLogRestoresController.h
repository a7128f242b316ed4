#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>

#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

// The node controller of the commit-log phase of a point-in-time restore: a
// restore controller that also prepares each target node to replay the
// restored commit logs.
class CCassandraLogRestoreController : public CCassandraRestoreController {
 public:
  CCassandraLogRestoreController();
  ~CCassandraLogRestoreController() override;

 protected:
  // Target key -> "<keyspace>.<table>" names whose commit logs it replays; no
  // name twice in one list.
  std::unordered_map<std::string, std::list<std::string>> replayTablesByTarget;
  // The "CommitLogRestoreCmd" value of the node start payload.
  std::string restoreCommand;
  // The point in time in Cassandra's format.
  std::string cassandraPointInTime;
  // The "BackupReferenceTime" value, seconds since 1970.
  int64_t backupRefTime = 0;
};

}  // namespace TQCassandra
