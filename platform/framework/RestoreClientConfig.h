#pragma once

#include <cstdint>

#include "platform/framework/ClientConfig.h"

namespace TQDC_FileSystem {

// Configuration of a file-system restore job phase.
class CRestoreClientConfig : public DistributedQEL::CClientConfig {
 public:
  explicit CRestoreClientConfig(int kind = 2) : CClientConfig(kind) {}

  // The number of restore streams: the configuration's stream count.
  virtual int32_t getNumberOfRestoreStreams() { return getNumberOfStreams(); }
  // Sizes the restore streams for `nodes` nodes; the framework's keeps the
  // configuration's count.
  virtual CQiError CalculateStreams(size_t nodes) {
    (void)nodes;
    return CQiError::Success();
  }
  // Reads the job's restore options; nothing to read by default.
  virtual CQiError processJobOptions() { return CQiError::Success(); }

  // The kind of results folder the restore's data movers write to
  // (StoreResults kind 2: "TQ_JobResults/2/0/<job id>").
  virtual uint32_t getRestoreResultsNumber() { return 2; }

  // Items the workers' item filters skipped on purpose, summed over the
  // phase (CRestore::AddRestoreStatistics adds to it).
  uint64_t getSkippedItemCount() const { return skippedItemCount_; }
  void addSkippedItems(uint64_t count) { skippedItemCount_ += count; }

  int64_t getApplicationType() const { return applicationType_; }
  void setApplicationType(int64_t type) { applicationType_ = type; }
  // The flag the coordinator hands its client restore launcher.
  bool getLauncherFlag() const { return launcherFlag_; }
  void setLauncherFlag(bool flag) { launcherFlag_ = flag; }

 private:
  int64_t applicationType_ = 0;
  bool launcherFlag_ = false;
  uint64_t skippedItemCount_ = 0;
};
typedef boost::shared_ptr<CRestoreClientConfig> CRestoreClientConfigPtr;

}  // namespace TQDC_FileSystem
