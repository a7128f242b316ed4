#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "restore/CassandraRestoreWorker.h"

namespace TQCassandra {

// The restore worker of a commit-log restore: it always stages the restored
// commit logs in the staging folder of each source node's target, whatever
// the restore's in-place and loader choices, filters out the logs backed up
// before the backup reference time and reports how many it left out.
class CCassandraLogRestoreWorker : public CCassandraRestoreWorker {
 public:
  // The restore worker's arguments, then the backup reference time (seconds
  // since 1970).
  CCassandraLogRestoreWorker(
      DistributedQEL::CRestoreController* controller, unsigned long destInstanceId, bool recover,
      const std::unordered_map<std::string, std::string>& dataDirBySource,
      const std::unordered_map<std::string, std::string>& stagingBySource, bool crossNode,
      bool useSSTableLoader,
      boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles>* tableMetadata,
      long backupRefTime);
  ~CCassandraLogRestoreWorker() override;

  // The task's figures with the items the current item filter skipped added
  // to the skipped count, then the framework's progress step.
  CQiError UpdateProgress(DistributedQEL::CRestoreStatistics statistics) override;
  // A new commit-log item filter; it stays the worker's current one.
  CQiError GetBrowseResponseCallBack(
      boost::shared_ptr<DistributedQEL::CRestoreItemCallBack>& callBack) override;
  // The framework's options with "CassandraStagedRestore" 1 and
  // "CassandraStagedRestoreStagingLoc" (the staging folder of every source
  // node); never the in-place options.
  CQiError GetExtendedOptions(std::string& options) override;
  // Hands the task to the framework.
  void SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task, long& size) override;

  int64_t getBackupRefTime() const { return backupRefTime; }

 protected:
  int64_t backupRefTime = 0;
  // The item filter handed out last.
  boost::shared_ptr<DistributedQEL::CRestoreItemCallBack> currentCallBack;
};

}  // namespace TQCassandra
