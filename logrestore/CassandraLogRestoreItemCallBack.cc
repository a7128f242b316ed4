#include "logrestore/CassandraLogRestoreItemCallBack.h"

#include <optional>

#include "logrestore/CassandraLogRestoreWorker.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/BrowseRecords.h"

namespace TQCassandra {

CCassandraLogRestoreItemCallBack::CCassandraLogRestoreItemCallBack(
    DistributedQEL::IRestoreWorker* worker)
    : DistributedQEL::CRestoreItemCallBack(worker) {
  const auto* logWorker = dynamic_cast<const CCassandraLogRestoreWorker*>(worker);
  if (logWorker) backupRefTime = logWorker->getBackupRefTime();
}

CCassandraLogRestoreItemCallBack::~CCassandraLogRestoreItemCallBack() = default;

bool CCassandraLogRestoreItemCallBack::ShouldSkipItem(BrowseDataIterator item) {
  if (DistributedQEL::CRestoreItemCallBack::ShouldSkipItem(item)) return true;
  // An item without its details has no backup time: it counts as backed up
  // at 0, as a record whose time field is unset reads.
  std::optional<databrowse::BrowseData> data = RecordAs<databrowse::BrowseData>(*item);
  std::optional<databrowse::BrowseItemDetails> details;
  if (data) details = data->getDetails();
  const int64_t backupTime = details ? details->getBackupTime() : 0;
  if (backupTime >= backupRefTime) return false;
  TQLOG(0, "Skipping commit log [%s] backed up at %lld, before the backup reference time %lld",
        data ? data->getPath().c_str() : "", static_cast<long long>(backupTime),
        static_cast<long long>(backupRefTime));
  ++skippedItemsCount;
  return true;
}

}  // namespace TQCassandra
