#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/index/IndexCatalog.h"

// One backed-up item as it can be put back: the pieces of its newest version
// in a job, in file order.
struct SStoredItem {
  int64_t jobId = 0;
  std::string headerPath;
  std::string sourcePath;
  bool isDirectory = false;
  uint64_t size = 0;
  int64_t backupTime = 0;
  std::vector<SFileRecord> pieces;  // by offset; they cover [0, size) exactly when complete
  bool complete = false;
  std::string problem;  // why it is not complete
};

// The read side of the archive store: items of a job are found by header
// path (or by the path they were read from), read back byte for byte with
// every piece checked against its SHA-256, written back to disk, or compared
// with a file on disk.
//
// Layout under the suite home:
//   index/catalog.db                      the index catalog (IndexCatalog.h)
//   store/<job id>/<archive file id>/<record id>
//                                         content of one committed piece
//   store/<job id>/<archive file id>/.tmp-*
//                                         a piece being written (never listed)
//
// When a job holds several committed versions of one header path (a task
// resumed after a failure sends its items again) the newest wins; an item
// sent in extents is put together from the newest piece of each range.
class CArchiveStore {
 public:
  using ChunkFn = std::function<CQiError(uint64_t offset, const char* data, size_t length)>;

  static std::string RootUnder(const std::string& home);

  // `home` "" is the current suite home.
  explicit CArchiveStore(const std::string& home = std::string());

  CQiError Open();
  CIndexCatalog& Catalog() { return catalog_; }
  const std::string& Root() const { return root_; }

  // The item (job, header path). Error 1168 when the job has no such item,
  // error 13 when its pieces do not make a whole file.
  CQiError FindItem(int64_t jobId, const std::string& headerPath, SStoredItem& item);
  // Every item of the job read from `sourcePath` (a file backed up under
  // several header paths gives several).
  CQiError FindItemsBySource(int64_t jobId, const std::string& sourcePath,
                             std::vector<SStoredItem>& items);
  // One entry per header path of the job, in header path order; incomplete
  // items are listed with `complete` false.
  CQiError ListItems(int64_t jobId, std::vector<SStoredItem>& items);
  // The items of the jobs `jobIds` handed to `visit` one at a time, ordered
  // by header path, then job (one entry per header path and job, incomplete
  // items with `complete` false). Only the records of the item at hand are
  // held, so a walk over any number of items takes the same memory. An error
  // from `visit` ends the walk and is returned.
  CQiError ForEachItem(const std::vector<int64_t>& jobIds,
                       const std::function<CQiError(const SStoredItem&)>& visit);

  // Hands the item's bytes to `fn` in file order, checking each piece.
  // Error 23 when stored content does not match its checksum or size.
  CQiError ReadItem(const SStoredItem& item, const ChunkFn& fn);
  CQiError ReadItem(int64_t jobId, const std::string& headerPath, std::string& content);
  // Writes the item to `target` (through a temporary file beside it); a
  // directory item creates the directory.
  CQiError RestoreItem(int64_t jobId, const std::string& headerPath, const std::string& target);
  // Success when the stored item and the file at `diskPath` hold the same
  // bytes; error 23 naming the first difference otherwise.
  CQiError VerifyItem(int64_t jobId, const std::string& headerPath, const std::string& diskPath);
  CQiError VerifyItem(const SStoredItem& item, const std::string& diskPath);

  // Chooses the pieces of the newest version from all committed records of
  // one header path in one job.
  static void ResolvePieces(const std::vector<SFileRecord>& records, SStoredItem& item);

 private:
  std::string root_;
  CIndexCatalog catalog_;
};
