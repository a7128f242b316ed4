#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/objectops/DataStream.h"

namespace OBJECTOPSAPI {

// A data stream kept in memory, for tests: keeps every committed item with the
// bytes of its piece, counts aborted items, and fails the items it is told to
// fail. It checks what the store checks: extents lie within the item's piece
// and an item commits only when its whole piece was written.
class CInMemoryDataStream : public IDataStream {
 public:
  struct Item {
    StreamItemHeader header;
    std::string data;  // the piece's bytes, from header.pieceOffset on
  };

  CQiError BeginItem(const StreamItemHeader& header) override;
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override;
  CQiError CommitItem() override;
  void AbortItem() override;

  // Every later BeginItem of an item read from `sourcePath` answers `error`.
  void FailItem(const std::string& sourcePath, const CQiError& error);
  // The committed items, in commit order.
  std::vector<Item> Items() const;
  // The committed items read from `sourcePath`, in commit order.
  std::vector<Item> ItemsOf(const std::string& sourcePath) const;
  int AbortedCount() const;

 private:
  void DropOpenItem();

  mutable std::mutex mutex_;
  bool open_ = false;
  Item current_;
  std::vector<bool> written_;  // which bytes of the open piece arrived
  std::vector<Item> items_;
  std::map<std::string, CQiError> failures_;
  int aborted_ = 0;
};

}  // namespace OBJECTOPSAPI
