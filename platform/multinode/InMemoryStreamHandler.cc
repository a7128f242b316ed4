#include "platform/multinode/InMemoryStreamHandler.h"

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

CQiError CInMemoryStreamHandler::BeginItem(const StreamItemHeader& header) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Item %s is still open",
                                   current_.header.filePath.c_str());
  }
  auto failure = failures_.find(header.filePath);
  if (failure != failures_.end()) return CopyOf(failure->second).Push(FXLOC);
  current_ = Item();
  current_.header = header;
  open_ = true;
  return CQiError::Success();
}

CQiError CInMemoryStreamHandler::WriteItemData(const void* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item is open");
  current_.data.append(static_cast<const char*>(data), length);
  return CQiError::Success();
}

CQiError CInMemoryStreamHandler::CommitItem() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item is open");
  items_.push_back(current_);
  current_ = Item();
  open_ = false;
  return CQiError::Success();
}

void CInMemoryStreamHandler::AbortItem() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return;
  current_ = Item();
  open_ = false;
  ++aborted_;
}

void CInMemoryStreamHandler::FailItem(const std::string& filePath, const CQiError& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[filePath] = error;
}

std::vector<CInMemoryStreamHandler::Item> CInMemoryStreamHandler::Items() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_;
}

std::vector<CInMemoryStreamHandler::Item> CInMemoryStreamHandler::ItemsOf(
    const std::string& filePath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Item> found;
  for (const auto& item : items_)
    if (item.header.filePath == filePath) found.push_back(item);
  return found;
}

int CInMemoryStreamHandler::AbortedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return aborted_;
}

}  // namespace OBJECTOPSAPI
