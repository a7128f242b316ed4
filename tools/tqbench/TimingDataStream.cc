#include "tools/tqbench/TimingDataStream.h"

namespace TqBench {

namespace {

uint64_t Since(std::chrono::steady_clock::time_point start) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
          .count());
}

}  // namespace

CTimingDataStream::CTimingDataStream(OBJECTOPSAPI::IDataStreamPtr inner, StreamTimes& times)
    : inner_(std::move(inner)), times_(times) {
  ++times_.streams;
}

CQiError CTimingDataStream::BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) {
  pending_ = 0;
  auto start = std::chrono::steady_clock::now();
  CQiError error = inner_->BeginItem(header);
  times_.beginNs += Since(start);
  return error;
}

CQiError CTimingDataStream::WriteExtent(uint64_t offset, const void* data, size_t length) {
  auto start = std::chrono::steady_clock::now();
  CQiError error = inner_->WriteExtent(offset, data, length);
  times_.writeNs += Since(start);
  if (!error.IsError()) pending_ += length;
  return error;
}

CQiError CTimingDataStream::Flush() {
  auto start = std::chrono::steady_clock::now();
  CQiError error = inner_->Flush();
  times_.commitNs += Since(start);
  return error;
}

CQiError CTimingDataStream::CommitItem() {
  auto start = std::chrono::steady_clock::now();
  CQiError error = inner_->CommitItem();
  times_.commitNs += Since(start);
  if (!error.IsError()) {
    ++times_.items;
    times_.bytes += pending_;
  }
  pending_ = 0;
  return error;
}

void CTimingDataStream::AbortItem() {
  pending_ = 0;
  inner_->AbortItem();
}

}  // namespace TqBench
