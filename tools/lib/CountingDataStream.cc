#include "tools/lib/CountingDataStream.h"

namespace TqHarness {

CQiError CCountingDataStream::BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) {
  pending_ = 0;
  // A file counts once: by its item, or by the first extent of a large one.
  isFile_ = !header.isDirectory && header.pieceOffset == 0;
  return inner_->BeginItem(header);
}

CQiError CCountingDataStream::WriteExtent(uint64_t offset, const void* data, size_t length) {
  CQiError error = inner_->WriteExtent(offset, data, length);
  if (!error.IsError()) pending_ += length;
  return error;
}

CQiError CCountingDataStream::CommitItem() {
  CQiError error = inner_->CommitItem();
  if (!error.IsError()) {
    bytes_ += pending_;
    if (isFile_) ++files_;
  }
  pending_ = 0;
  return error;
}

void CCountingDataStream::AbortItem() {
  pending_ = 0;
  isFile_ = false;
  inner_->AbortItem();
}

}  // namespace TqHarness
