#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/runner/RunnerTypes.h"

// Inputs and outputs of the job harness (JobHarness.h): one machine that
// plays a whole suite with a simulated Cassandra cluster, the real plug-in
// and the real archive store.
namespace TqHarness {

// Where the programs the harness starts live.
struct HarnessPaths {
  std::string pluginPath;    // libTqCassandra.so
  std::string priamCommand;  // the Priam stand-in program
  // The folder of the docker stand-in program ("docker"), put first on PATH
  // while the harness is open so that the plug-in never reaches a real
  // Docker engine; "" leaves PATH alone.
  std::string dockerDirectory;
};

// One node of the generated cluster and its client.
struct HarnessNode {
  std::string name;  // "node1"..; also the client's name
  std::string address;
  std::string dataCenter;
  std::string confDir;
  std::vector<std::string> dataDirs;
  std::string commitLogArchiveDir;
  std::string containerArchiveDir;  // "" without containers
  uint64_t clientId = 0;
};

// How the cluster is registered.
struct RegisterOptions {
  int maxStreams = 4;  // the subclient's
  // Commit-log backup enabled on the instance, with the folder the nodes
  // archive closed segments into and the command that archives one (the
  // controller appends " %path <folder>/%name"). Folder "": the archive
  // folder inside the containers of a cluster made with the docker option,
  // or the only node's archive folder; several nodes without containers
  // share no folder, so they need one given. Command "": "/bin/cp".
  bool commitLogBackup = false;
  std::string archiveDirectory;
  std::string archiveCommand;
};

// What `register` changes on a registered cluster; unset fields stay.
struct RegistrationChange {
  int maxStreams = 0;  // 0: unchanged
  // -1 unchanged, 0 off, 1 on (with the folder rules of RegisterOptions).
  int commitLogBackup = -1;
  std::string archiveDirectory;  // "": unchanged (or the default when turned on)
};

// A job whose run was killed, found and marked failed by RecoverInterrupted.
struct InterruptedJob {
  int64_t jobId = 0;
  // The job had ended failed or stopped (not killed): only the files its
  // restore placed and never loaded were looked at.
  bool ended = false;
  int orphansRemoved = 0;  // files no catalog row named
  // What the killed run left outside the store (LeftoverRecovery.h): Priam
  // properties files, its network share and mount folder, its staging
  // folder, and the nodes whose Cassandra it had stopped, started again or
  // not (each "<node>: <why>").
  int propertiesFilesRemoved = 0;
  int sharesRemoved = 0;
  int mountFoldersRemoved = 0;
  int stagingFoldersRemoved = 0;
  // A restore's hidden temporaries, and the files it placed in table
  // folders but never loaded (RestoreRecovery.h).
  int restoreTemporariesRemoved = 0;
  int placedFilesRemoved = 0;
  std::vector<std::string> nodesStarted;
  std::vector<std::string> nodesNotStarted;
  // Nodes whose commit-log restore settings a killed point-in-time restore
  // left live, put back from their ".bkp" copies or not ("<node>: <why>").
  std::vector<std::string> settingsPutBack;
  std::vector<std::string> settingsNotPutBack;
};

// A backup job to run.
struct BackupRequest {
  int level = TQBkpLevel_Full;
  bool commitLog = false;
  int numberOfStreams = 2;
  // Told of every runner event (progress lines, tests).
  std::function<void(const TqRunner::RunnerEvent&)> observer;
};

// A restore job to run.
struct RestoreRequest {
  // The job kinds of its phases: {"ifrestore"} restores files into folders
  // with the framework's own file-system restore; {"restore"} or
  // {"restore", "CassandraLogRestore"} run the plug-in's restore.
  std::vector<std::string> phases{"ifrestore"};
  // Index paths of the selection ("/<cluster>", "/<cluster>/<dc>/<node>/<ks>",
  // ...); none selects the whole cluster.
  std::vector<std::string> paths;
  // Index paths left out.
  std::vector<std::string> filterPaths;
  // A file-system restore's destination folder ("" puts files back at their
  // source paths).
  std::string destination;
  // The backups restored: the newest version of every item backed up
  // within [fromTime, toTime] (seconds since 1970, 0 = open).
  int64_t fromTime = 0;
  int64_t toTime = 0;
  int numberOfStreams = 6;
  // The job's options as the suite hands them (the XML of a
  // TMMsg::JobOption: the plug-in's restore options, node maps); "" for
  // none.
  std::string jobOptionsXml;
  // The cluster restored onto: "" for the backed-up one, else a further
  // registered cluster of the home, whose instance is the destination, whose
  // cluster client runs the coordinator and whose node clients take part.
  std::string targetCluster;
  std::function<void(const TqRunner::RunnerEvent&)> observer;
};

// One problem found while verifying a job.
struct VerifyProblem {
  std::string client;
  std::string path;  // a source path, a header path or a collect file
  std::string text;
};

// What verifying a job found.
struct VerifyReport {
  int64_t jobId = 0;
  int level = 0;
  std::string kind;          // "backup", or "log" for a commit-log job
  int collectEntries = 0;    // entries of the job's numbered collect files
  int filesChecked = 0;      // regular files checked
  int filesGone = 0;         // of them no longer on disk: read back against their checksums
  int filesMatchedLive = 0;  // of those, compared with their table's live SSTable instead
  int snapshotFiles = 0;     // files of the job's snapshots (full jobs)
  int storedItems = 0;       // items the store lists for the job
  uint64_t bytesChecked = 0;
  std::vector<VerifyProblem> problems;

  bool Ok() const { return problems.empty(); }
};

// What a backup job's post-operations phase left on one node.
struct CleanupState {
  std::string client;
  int snapshotsLeft = 0;  // snapshot folders of the job's subclient (any job) on its disks
  int listedFiles = 0;    // regular-file entries of the job's collect files
  int listedGone = 0;     // of them no longer on disk
  std::vector<std::string> notDeleted;  // the lines of its "FilesToCleanup.tqf"
  bool infoFileLeft = false;            // its "CassandraCleanupInfoFile" is still there
};

}  // namespace TqHarness
