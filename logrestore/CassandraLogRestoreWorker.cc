#include "logrestore/CassandraLogRestoreWorker.h"

#include <new>

#include "logrestore/CassandraLogRestoreItemCallBack.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

namespace TQCassandra {

CCassandraLogRestoreWorker::CCassandraLogRestoreWorker(
    DistributedQEL::CRestoreController* controller, unsigned long destInstanceId, bool recover,
    const std::unordered_map<std::string, std::string>& dataDirBySource,
    const std::unordered_map<std::string, std::string>& stagingBySource, bool crossNode,
    bool useSSTableLoader,
    boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles>* tableMetadata,
    long backupRefTime)
    : CCassandraRestoreWorker(controller, destInstanceId, recover, dataDirBySource, stagingBySource,
                              crossNode, useSSTableLoader, tableMetadata),
      backupRefTime(backupRefTime) {}

CCassandraLogRestoreWorker::~CCassandraLogRestoreWorker() = default;

void CCassandraLogRestoreWorker::SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task,
                                                   long& size) {
  TQ_DEBUG_FUNCTION();
  TQDC_FileSystem::CFSRestoreWorker::SetRestoreOptions(task, size);
}

CQiError CCassandraLogRestoreWorker::GetExtendedOptions(std::string& options) {
  TQ_DEBUG_FUNCTION();
  CQiError e = TQDC_FileSystem::CFSRestoreWorker::GetExtendedOptions(options);
  if (e.IsError()) return e.Push(FXLOC);
  TQLOG(0, " Setting extended options for cassandra commit log restore");
  CExtendedOptions codec(options);
  codec.setOption("CassandraStagedRestore", 1);
  codec.setOption("CassandraStagedRestoreStagingLoc", NodePathList(stagingBySource));
  codec.getOptions(options);
  e = TQDC_FileSystem::CFSRestoreWorker::GetExtendedOptions(options);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CCassandraLogRestoreWorker::GetBrowseResponseCallBack(
    boost::shared_ptr<DistributedQEL::CRestoreItemCallBack>& callBack) {
  boost::shared_ptr<DistributedQEL::CRestoreItemCallBack> made(
      new (std::nothrow) CCassandraLogRestoreItemCallBack(this));
  if (!made) return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate the item filter");
  currentCallBack = made;
  callBack = made;
  return CQiError::Success();
}

CQiError CCassandraLogRestoreWorker::UpdateProgress(DistributedQEL::CRestoreStatistics statistics) {
  const auto* filter = dynamic_cast<const CCassandraLogRestoreItemCallBack*>(currentCallBack.get());
  if (filter) {
    const uint64_t skipped = filter->getSkippedItemsCount();
    statistics.skippedFilesCount += static_cast<int64_t>(skipped);
    TQLOG(2, "Incrementing the Skipped Files count by : %lu, Total Skipped Files: %llu",
          static_cast<unsigned long>(skipped),
          static_cast<unsigned long long>(statistics.skippedFilesCount));
  }
  CQiError e = DistributedQEL::CRestoreWorker::UpdateProgress(statistics);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
