#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/ItemConsumer.h"

// The flat collect file: every entry a node must back up, one "<item>|<size>"
// line per entry followed by an empty line (CollectFileEntry.h), before it
// is split into numbered collect files. Its processed-items count is the
// number of entries it has taken.
class CFlatCollectFile : public CItemConsumer {
 public:
  virtual const std::string& GetPath() const = 0;
  // Appends one entry. An entry is counted only when it is taken; an entry
  // that cannot be written is an error, and so is every later call once a
  // write has failed.
  virtual CQiError AddEntry(const MultiNodeBackupOps::CCollectFileEntry& entry) = 0;
  // Writes out what is buffered and closes the file, so that it can be read;
  // a later AddEntry appends. Reports a failed write.
  virtual CQiError Close() = 0;

  CQiError AddEntry(const std::string& path, int64_t size) {
    return AddEntry(MultiNodeBackupOps::CCollectFileEntry(path, size));
  }
};
typedef boost::shared_ptr<CFlatCollectFile> CFlatCollectFilePtr;
