#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "backup/CassandraBackupWorkerParams.h"
#include "platform/multinode/MultiNodeBackupOpsWorker.h"
#include "platform/objectops/ExtentBackupParams.h"

// The abort check the backup worker hands each item: it never stops an item
// while it is sent; the worker reads the job's quit flag only after a file
// failed.
class CassandraJobAbortCheck {
 public:
  bool operator()() const { return false; }
};

// The node's failures list: one line per failed keyspace, "<instance>
// <keyspace>", written by the collect-file generation and by the backup
// workers and read by the controller's done report. Every append and read
// holds the process-wide lock of the backup workers.
class CassandraHandleFailedFiles {
 public:
  // Keyspace names per instance name.
  typedef std::map<std::string, std::set<std::string>> FailedKeyspaces;

  // The line of a failed keyspace, with its line end.
  static std::string FormatLine(const std::string& instanceName, const std::string& keyspace);
  // Appends the line to the list at `path` (created when absent) in one
  // write, so concurrent appends never mix. An empty path or a list that
  // does not open or take the line is an error, and nothing is written.
  static CQiError AddFailedKeyspace(const std::string& path, const std::string& instanceName,
                                    const std::string& keyspace);
  // The failed keyspaces the list at `path` names: every line of exactly two
  // blank-separated fields (instance, keyspace); empty and other lines are
  // skipped. A list that does not open names none.
  static FailedKeyspaces ReadFailedKeyspaces(const std::string& path);
};

// The backup worker of a Cassandra node: backs up every path of its task's
// collect file as an OBJECTOPSAPI::BackupCassandraItem under the header path
// "/" cluster "/" data centre "/" instance "/" keyspace "/" table "/" file
// (or the prefix that names a data directory, keyspace or table directory),
// and records the keyspace of a file that fails in the node's failures list.
// In a commit-log job it backs up the archived commit logs under
// "/" cluster "/" data centre "/" instance "/#COMMITLOG#/" file.
class CassandraBackupWorker : public MultiNodeBackupOps::MultiNodeBackupOpsWorker {
 public:
  CassandraBackupWorker();
  explicit CassandraBackupWorker(int streamNumber);
  ~CassandraBackupWorker() override;

  using MultiNodeBackupOpsWorker::DoBackup;
  // The item loop of the base over the task's collect file, from the task's
  // resume offset: 774 "Failed to backup some files in file %s" when any
  // file failed.
  CQiError DoBackup(const std::string& collectFile, int64_t taskId, const std::string& taskPayload,
                    const std::string& streamName) override;
  // Backs up the base's current file path: 774 "Invalid Cassandra config
  // object" without Cassandra parameters; an error for a file that lies in no
  // data directory of the node's instances.
  CQiError BackupFile() override;

  // The extent size of every item from now on (the default extent size
  // until set).
  void setExtentSize(uint64_t size);
  uint64_t getExtentSize() const { return extentSize; }

 protected:
  // Finds the instance and the data directory that hold the current file:
  // the directory with the most path components among those of which the
  // file is the directory itself or lies below it. No such directory is an
  // error, and the current instance fields are cleared.
  CQiError fetchCassandraNodePathForData();
  // Builds the current file's header path(s) and backs it up: a data
  // directory as three items (cluster, data centre, instance), a keyspace or
  // table directory as one, and any file below a table directory as one
  // item directly under the table.
  CQiError backupData();
  // Finds the instance whose commit-log directory is the current file or
  // holds it (the directory with the most path components); no such
  // directory is an error, and the current instance fields are cleared.
  CQiError fetchCassandraNodePathForLog();
  // Backs up the commit-log directory itself under
  // "/<cluster>/<dc>/<instance>/#COMMITLOG#" and a file in it under that
  // path and its name, with the commit-log item flag.
  CQiError backupCommitLog();
  // Backs one item up under the header path of `components` with the
  // worker's extent parameters (a component that is empty or holds a "/"
  // refuses the item, error 87); on failure of an
  // item at keyspace level or below in a data job, appends its instance and
  // keyspace to the failures list.
  CQiError BackupItem(const std::string& filePath, const std::vector<std::string>& components,
                      uint64_t flags);

  // The worker parameters seen as Cassandra parameters; set for every file.
  CassandraBackupWorkerParamsPtr cassandraParams;
  uint64_t extentSize = OBJECTOPSAPI::ExtentBackupParams::kDefaultExtentSize;
  // Every data directory (in a commit-log job: every commit-log directory)
  // of the node's instances, without a final "/", with its instance; built
  // from the parameters the worker last saw.
  std::map<std::string, CassandraNodeInstanceParams> nodePathCache;
  // The instance of the current file.
  std::string dataCenter;
  std::string rack;
  std::string instanceName;
  std::string commitLogDirectory;
  // The data directory that holds the current file (without a final "/").
  std::string dataDirectory;

 private:
  void BuildNodePathCache();
  // The cache entry of the current file's directory, with the current
  // instance fields set from it; null (fields cleared) when none holds it.
  const std::pair<const std::string, CassandraNodeInstanceParams>* FindInstanceOfCurrentFile();

  const CassandraBackupWorkerParams* cacheSource_ = nullptr;
  bool cacheOfCommitLogs_ = false;
};
