#include "platform/objectops/InMemoryDataStream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/base/FXErrorUtil.h"

namespace OBJECTOPSAPI {

namespace {

// A copy of a kept error whose chain the caller may extend without touching
// the kept one.
CQiError CopyOf(const CQiError& error) {
  if (!error.detail()) return CQiError(error.GetCode());
  return CQiError(error.GetCode(), std::make_shared<CQiError::Detail>(*error.detail()));
}

}  // namespace

void CInMemoryDataStream::DropOpenItem() {
  if (!open_) return;
  current_ = Item();
  written_.clear();
  open_ = false;
  ++aborted_;
}

CQiError CInMemoryDataStream::BeginItem(const StreamItemHeader& header) {
  std::lock_guard<std::mutex> lock(mutex_);
  DropOpenItem();
  auto failure = failures_.find(header.sourcePath);
  if (failure != failures_.end()) return CopyOf(failure->second).Push(FXLOC);
  if (header.isDirectory && header.pieceLength != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Directory item %s carries bytes",
                                   header.headerPath.c_str());
  }
  current_ = Item();
  current_.header = header;
  current_.data.assign(static_cast<size_t>(header.pieceLength), '\0');
  written_.assign(static_cast<size_t>(header.pieceLength), false);
  open_ = true;
  return CQiError::Success();
}

CQiError CInMemoryDataStream::WriteExtent(uint64_t offset, const void* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item is open");
  const uint64_t start = current_.header.pieceOffset;
  const uint64_t end = start + current_.header.pieceLength;
  if (offset < start || offset > end || length > end - offset) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Extent [%llu, +%zu) lies outside the piece of %s",
                                   static_cast<unsigned long long>(offset), length,
                                   current_.header.headerPath.c_str());
  }
  const size_t at = static_cast<size_t>(offset - start);
  if (length) std::memcpy(&current_.data[at], data, length);
  std::fill(written_.begin() + at, written_.begin() + at + length, true);
  return CQiError::Success();
}

CQiError CInMemoryDataStream::CommitItem() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item is open");
  if (std::find(written_.begin(), written_.end(), false) != written_.end()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Item %s is not wholly written",
                                   current_.header.headerPath.c_str());
  }
  items_.push_back(current_);
  current_ = Item();
  written_.clear();
  open_ = false;
  return CQiError::Success();
}

void CInMemoryDataStream::AbortItem() {
  std::lock_guard<std::mutex> lock(mutex_);
  DropOpenItem();
}

void CInMemoryDataStream::FailItem(const std::string& sourcePath, const CQiError& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[sourcePath] = error;
}

std::vector<CInMemoryDataStream::Item> CInMemoryDataStream::Items() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_;
}

std::vector<CInMemoryDataStream::Item> CInMemoryDataStream::ItemsOf(
    const std::string& sourcePath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Item> found;
  for (const auto& item : items_)
    if (item.header.sourcePath == sourcePath) found.push_back(item);
  return found;
}

int CInMemoryDataStream::AbortedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return aborted_;
}

}  // namespace OBJECTOPSAPI
