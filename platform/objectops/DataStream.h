#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace OBJECTOPSAPI {

// One extra metadata value of an item: its id, the length of its text and the
// text (IndexMetaDataHelper encodes values).
struct MetaDataInfo {
  MetaDataInfo() = default;
  MetaDataInfo(uint32_t metadataId, const std::string& text)
      : id(metadataId), length(static_cast<uint32_t>(text.size())), value(text) {}

  uint32_t id = 0;
  uint32_t length = 0;
  std::string value;
};

// What a data stream is told about an item before its content.
struct StreamItemHeader {
  std::string headerPath;  // the path under which the index lists the item
  std::string sourcePath;  // the file it was read from
  uint64_t itemFlags = 0;
  uint32_t objectFlags = 0;
  bool isDirectory = false;
  uint64_t fileSize = 0;     // size of the whole file
  uint64_t pieceOffset = 0;  // where the item's bytes start in the file
  uint64_t pieceLength = 0;  // how many bytes the item carries
  int64_t modifyTime = 0;    // seconds since 1970
  uint32_t mode = 0;         // permission bits and file type (st_mode)
  std::vector<MetaDataInfo> metadata;
};

// Answers true when the item's backup should stop (job killed or quitting).
// An empty check never stops.
using AbortCheck = std::function<bool()>;

// A data stream that receives backed-up items one at a time: the header, the
// content in extents, then commit. Until CommitItem succeeds the item does not
// exist for any reader; AbortItem (or a crash) leaves nothing behind that
// looks complete.
class IDataStream {
 public:
  virtual ~IDataStream() = default;

  // Starts an item; an item still open is aborted first.
  virtual CQiError BeginItem(const StreamItemHeader& header) = 0;
  // Writes `length` bytes at file offset `offset`, which must lie within the
  // item's piece. Extents may arrive in any order.
  virtual CQiError WriteExtent(uint64_t offset, const void* data, size_t length) = 0;
  // Makes the item complete and visible (or, in a stream that confirms in
  // batches, hands it to the batch: see Flush); fails when its piece is not
  // wholly written.
  virtual CQiError CommitItem() = 0;
  // Drops the open item, if any.
  virtual void AbortItem() = 0;

  // A stream may make its committed items durable and visible in batches:
  // CommitItem then hands the item over, and the item exists for readers
  // (and survives a crash) once a batch that holds it is confirmed. Flush
  // confirms every item committed so far; PendingItems counts the committed
  // items not yet confirmed. A stream that confirms each item in CommitItem
  // keeps these defaults.
  virtual CQiError Flush() { return CQiError::Success(); }
  virtual uint64_t PendingItems() const { return 0; }
};
typedef boost::shared_ptr<IDataStream> IDataStreamPtr;

}  // namespace OBJECTOPSAPI
