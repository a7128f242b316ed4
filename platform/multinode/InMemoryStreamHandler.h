#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/multinode/StreamHandler.h"

namespace OBJECTOPSAPI {

// A data stream kept in memory, for tests: keeps every committed item with its
// bytes, counts aborted ones, and fails the items it is told to fail.
class CInMemoryStreamHandler : public CStreamHandler {
 public:
  struct Item {
    StreamItemHeader header;
    std::string data;
  };

  CQiError BeginItem(const StreamItemHeader& header) override;
  CQiError WriteItemData(const void* data, size_t length) override;
  CQiError CommitItem() override;
  void AbortItem() override;

  // Every later BeginItem of an item read from `filePath` answers `error`.
  void FailItem(const std::string& filePath, const CQiError& error);
  // The committed items, in commit order.
  std::vector<Item> Items() const;
  // The committed items read from `filePath`, in commit order.
  std::vector<Item> ItemsOf(const std::string& filePath) const;
  int AbortedCount() const;

 private:
  mutable std::mutex mutex_;
  bool open_ = false;
  Item current_;
  std::vector<Item> items_;
  std::map<std::string, CQiError> failures_;
  int aborted_ = 0;
};

}  // namespace OBJECTOPSAPI
