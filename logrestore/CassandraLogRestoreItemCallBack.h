#pragma once

#include <cstdint>

#include "platform/framework/RestoreItemCallBack.h"

namespace TQCassandra {

// The item filter of a commit-log restore: commit logs backed up before the
// backup reference time (the data backup the first phase restored) are not
// needed for the replay and are skipped; an item backed up exactly at that
// time is kept.
class CCassandraLogRestoreItemCallBack : public DistributedQEL::CRestoreItemCallBack {
 public:
  // Takes the reference time of `worker` when it is a commit-log restore
  // worker, else 0 (nothing is skipped for its time).
  explicit CCassandraLogRestoreItemCallBack(DistributedQEL::IRestoreWorker* worker);
  ~CCassandraLogRestoreItemCallBack() override;

  // True for what the framework skips, and for an item backed up before the
  // reference time (counted).
  bool ShouldSkipItem(BrowseDataIterator item) override;

  uint64_t getSkippedItemsCount() const { return skippedItemsCount; }

 protected:
  // Seconds since 1970; items backed up before it are skipped.
  int64_t backupRefTime = 0;
  // Items skipped for their time so far.
  uint64_t skippedItemsCount = 0;
};

}  // namespace TQCassandra
