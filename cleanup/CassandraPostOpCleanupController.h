#pragma once

#include <map>
#include <string>

#include "platform/framework/Controller.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The node side of the post-operations phase ("postop"): clears the job
// subclient's snapshots and deletes the backed-up incremental files of the
// Cassandra nodes on its machine.
class CassandraPostOpCleanupController : public DistributedQEL::CController {
 public:
  CassandraPostOpCleanupController();
  // Releases the members, and with them the Priam utilities still held.
  ~CassandraPostOpCleanupController() override;

 protected:
  // True once the cleanup run has stopped the Priams.
  bool controllerDone = false;
  // A file the cleanup tried to delete was left.
  bool deleteFailed = false;
  // The controller's own configuration.
  DistributedQEL::CClientConfigPtr clientConfig;
  // The payload's "taskStatus" value.
  std::string taskStatus;
  // Path of "FilesToCleanup.tqf".
  std::string filesToCleanupPath;
  // Node name -> its started Priam utility.
  std::map<std::string, boost::shared_ptr<TqCassandra::PriamUtil>> priamByNode;
  std::string snapshotName;
  // The payload carried "JobKill" = "1".
  bool jobKilled = false;
  // Level of the backup job; the node start payload sets it.
  TQBkpLevel backupLevel = TQBkpLevel_Full;
};

}  // namespace TQCassandra
