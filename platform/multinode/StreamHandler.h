#pragma once

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/multinode/ExtentBackupParams.h"

namespace OBJECTOPSAPI {

// One index metadata entry of an item: its id and its encoded value text.
struct StreamMetaData {
  uint32_t id = 0;
  std::string value;
};

// What a data stream is told about an item before its bytes.
struct StreamItemHeader {
  std::string filePath;    // the path on this machine the item was read from
  std::string headerPath;  // the logical path the index records the item under
  uint64_t flags = 0;      // the item flags of the backup
  ExtentBackupParams extent;
  bool isDirectory = false;
  uint64_t size = 0;       // bytes of data the item carries (the extent's for an extent)
  uint32_t mode = 0;       // permission and type bits of the file (st_mode)
  int64_t modifyTime = 0;  // seconds since 1970
  std::vector<StreamMetaData> metadata;
};

// The data stream of a backup worker: receives one item at a time, header
// first, then its bytes, then the commit. An item that is not committed
// (aborted, or left open by a failure or a crash) must never be found by a
// restore; a committed item must come back byte for byte.
class CStreamHandler {
 public:
  virtual ~CStreamHandler() = default;

  // Starts an item. An item still open is an error (87).
  virtual CQiError BeginItem(const StreamItemHeader& header) = 0;
  // Adds bytes to the open item, in order.
  virtual CQiError WriteItemData(const void* data, size_t length) = 0;
  // Completes the open item; only now does it count as stored.
  virtual CQiError CommitItem() = 0;
  // Drops the open item (nothing when none is open).
  virtual void AbortItem() = 0;
};
typedef boost::shared_ptr<CStreamHandler> CStreamHandlerPtr;

}  // namespace OBJECTOPSAPI
