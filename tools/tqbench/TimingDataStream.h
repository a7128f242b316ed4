#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/objectops/DataStream.h"

namespace TqBench {

// Time spent inside the calls of every data stream of a job, summed over the
// streams (each stream runs on its own worker thread, so the sums can exceed
// the job's wall time). Nanoseconds.
struct StreamTimes {
  std::atomic<uint64_t> beginNs{0};   // BeginItem: archive file, temporary file
  std::atomic<uint64_t> writeNs{0};   // WriteExtent: write and hash the bytes
  std::atomic<uint64_t> commitNs{0};  // CommitItem: flush, catalog row, rename
  std::atomic<uint64_t> items{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<int> streams{0};
};

// Passes every call on to another data stream and adds the time each call
// took to shared totals.
class CTimingDataStream : public OBJECTOPSAPI::IDataStream {
 public:
  CTimingDataStream(OBJECTOPSAPI::IDataStreamPtr inner, StreamTimes& times);

  CQiError BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) override;
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override;
  CQiError CommitItem() override;
  void AbortItem() override;
  // The time of a batch's confirmation counts as commit time.
  CQiError Flush() override;
  uint64_t PendingItems() const override { return inner_->PendingItems(); }

 private:
  OBJECTOPSAPI::IDataStreamPtr inner_;
  StreamTimes& times_;
  uint64_t pending_ = 0;  // bytes of the open item
};

}  // namespace TqBench
