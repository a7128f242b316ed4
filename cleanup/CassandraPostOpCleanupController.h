#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/framework/Controller.h"

namespace TqCassandra {
class PriamUtil;
}

namespace TQCassandra {

// The node side of the post-operations phase ("postop"): clears the job
// subclient's snapshots and deletes the backed-up incremental files of the
// Cassandra nodes on its machine. The whole cleanup runs once, in
// OnControllerStarted; the controller runs no workers and takes no tasks.
class CassandraPostOpCleanupController : public DistributedQEL::CController {
 public:
  static constexpr const char* kCleanupInfoFileName = "CassandraCleanupInfoFile";
  static constexpr const char* kFilesToCleanupName = "FilesToCleanup.tqf";
  static constexpr uint32_t kEvIncrCleanupIncomplete = 0x60003D7;

  CassandraPostOpCleanupController();
  // Releases the members, and with them the Priam utilities still held.
  ~CassandraPostOpCleanupController() override;

  int getNumberOfWorkers() override { return 0; }
  CQiError OnStartStream(DistributedQEL::StreamInfo*) override { return CQiError::Success(); }
  CQiError OnStopStream(DistributedQEL::StreamInfo*) override { return CQiError::Success(); }
  CQiError OnTask(DistributedQEL::TaskInfo*, bool&) override { return CQiError::Success(); }
  CQiError OnStopTask(DistributedQEL::TaskInfo*) override { return CQiError::Success(); }
  // The cleanup run: snapshots, then (unless the job was stopped) the
  // incremental files, then the Priams are stopped and the cleanup
  // information file removed.
  CQiError OnControllerStarted() override;
  // Reads the payload and the argument line ("-t <backup level>") and starts
  // one Priam per Cassandra node of the payload.
  CQiError processNodeInit(CNMessageBase* message) override;
  bool isControllerDone() override { return controllerDone; }

  // Makes the node's Priam utility and, with `start`, sets its properties
  // and JVM options from the JMX and authentication texts and starts it. On
  // success the utility is in priamByNode under `nodeName`.
  CQiError initializePriam(const std::string& javaHome, const std::string& confDir,
                           const std::string& jmxConfig, const std::string& authConfig,
                           const std::string& nodeName, bool start);
  // Stops every connected Priam; the utilities stay. Always succeeds.
  CQiError uninitializePriam();
  // Clears every snapshot of the job's subclient on every node.
  void deleteSnapshots();
  // Deletes the files of tables' backups folders that the completed tasks'
  // collect files list, and sweeps the backups folders of the snapshotted
  // tables; any other line is left. An incremental pass that cannot remove
  // a listed file is followed by one pass over the full collect files.
  // Always succeeds.
  CQiError cleanupIncrFiles(TQBkpLevel level);
  // Deletes, in `directory` and its subdirectories, the regular files
  // modified before `time`. Symbolic links are neither followed nor deleted.
  void deleteFiles(const std::string& directory, long time);

  // Whether a snapshot belongs to the subclient of `snapshotName`: it begins
  // with the subclient id, followed at once by "TQsnapshot".
  static bool IsSubclientSnapshot(const std::string& name, const std::string& snapshotName);
  // For the path of a file of a snapshot (data directory / keyspace / table
  // directory / "snapshots" / snapshot name / file ...): the keyspace and
  // the table directory. False for any other path, such as a backups file of
  // a keyspace or table named "snapshots".
  static bool SnapshotTableOf(const std::string& path, std::string& keyspace, std::string& table);

 protected:
  // Records a path that could not be deleted.
  void recordDeleteFailure(const std::string& path, int error);
  // Whether `path` is a table's backups folder: a real folder "backups" in
  // a real table folder of a real keyspace folder, placed as
  // "<data directory>/<keyspace>/<table>/backups" in one of the data
  // directories when the cleanup information file names any.
  bool isTableBackupsFolder(const std::string& path) const;
  // Reads "CassandraCleanupInfoFile": the snapshot time and the data
  // directories.
  void readCleanupInfo();
  // What one collect file's pass gave: not opened, read to its end, or
  // stopped at a listed file that an incremental pass could not remove.
  enum CollectFileResult { kNotOpened, kRead, kRestart };
  // One collect file's lines, in a pass at `passLevel`.
  CollectFileResult cleanupCollectFile(const std::string& path, TQBkpLevel passLevel);
  // The name under which a payload node keeps its Priam: its own name, or,
  // for a node without one or one already taken, a distinct name.
  std::string priamKeyFor(const std::string& nodeName, size_t position) const;

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
  // Level of the backup job; "-t" on the argument line sets it.
  TQBkpLevel backupLevel = TQBkpLevel_Full;

  // From "CassandraCleanupInfoFile": the time of the job's snapshot (0 when
  // unknown, which deletes nothing by age) and the data directories.
  long snapshotTime = 0;
  std::vector<std::string> dataDirs;
  // Paths whose deletion failed in this run, in order.
  std::vector<std::string> failedPaths;
};

}  // namespace TQCassandra
