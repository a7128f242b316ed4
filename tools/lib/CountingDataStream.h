#pragma once

#include <atomic>
#include <cstdint>

#include "platform/objectops/DataStream.h"

namespace TqHarness {

// Passes every call on to another data stream and adds the bytes and the
// files that stream committed to two shared counters (progress lines). A
// file counts once however many extents carry it; directories do not count.
class CCountingDataStream : public OBJECTOPSAPI::IDataStream {
 public:
  CCountingDataStream(OBJECTOPSAPI::IDataStreamPtr inner, std::atomic<uint64_t>& bytes,
                      std::atomic<uint64_t>& files)
      : inner_(std::move(inner)), bytes_(bytes), files_(files) {}

  CQiError BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) override;
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override;
  CQiError CommitItem() override;
  void AbortItem() override;
  CQiError Flush() override { return inner_->Flush(); }
  uint64_t PendingItems() const override { return inner_->PendingItems(); }

 private:
  OBJECTOPSAPI::IDataStreamPtr inner_;
  std::atomic<uint64_t>& bytes_;
  std::atomic<uint64_t>& files_;
  uint64_t pending_ = 0;  // bytes of the open item
  bool isFile_ = false;   // the open item starts a file
};

}  // namespace TqHarness
