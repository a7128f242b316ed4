#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/index/ArchiveItemWriter.h"
#include "platform/index/IndexCatalog.h"
#include "platform/objectops/DataStream.h"

// Who writes into a data stream: the job and the stream.
struct SStreamJob {
  int64_t jobId = 0;
  uint32_t ombrelId = 0;
  std::string clientName;  // the client whose stream this is
  uint64_t clientId = 0;
  uint64_t instanceId = 0;
  uint64_t backupsetId = 0;
  uint64_t subclientId = 0;
  int64_t appType = 0;
  std::string kind;  // job kind, recorded when the job is not in the catalog yet
  int level = 0;
  int streamNumber = 0;
  uint32_t archiveGroupId = 1;
  // Items confirmed together: 1 makes each item durable and visible in its
  // CommitItem; more lets CommitItem hand the item to a batch that is made
  // durable with one flush of the file system and recorded with one catalog
  // transaction when it is full or on Flush.
  int commitBatch = 1;
};

// A data stream into the archive store and the index catalog. On its first
// item it records the job (unless the catalog has it already) and opens an
// archive file of its own, <home>/store/<job id>/<archive file id>/. Each
// item piece is written to a ".tmp-" file there, made durable and renamed to
// its number in the archive file ("1", "2", ...), and only then gets its row
// of file_records, which names that file. A piece without a row never looks
// complete: a crash leaves at most a ".tmp-" file or a numbered file that no
// row names.
//
// With a commit batch (SStreamJob::commitBatch) the pieces of a batch are
// written and renamed as they come, then made durable together (one syncfs of
// the store's file system) and only then get their rows, in one transaction:
// a reader still never sees a row whose piece is not durable, and a crash
// loses only the rows of the batch not yet confirmed.
//
// Registry: "ArchiveStore"/"nSyncWrites" (default 1) makes each piece durable
// before it is reported committed (before its batch is confirmed); 0 leaves
// flushing to the system.
class CStoreDataStream : public OBJECTOPSAPI::IDataStream {
 public:
  explicit CStoreDataStream(const SStreamJob& job, const std::string& home = std::string());
  ~CStoreDataStream() override;

  CQiError BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) override;
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override;
  CQiError CommitItem() override;
  void AbortItem() override;
  CQiError Flush() override;
  uint64_t PendingItems() const override;

  // The stream's archive file (0 before its first item).
  int64_t GetArchiveFileId() const;
  uint64_t ItemsCommitted() const;
  uint64_t BytesCommitted() const;

 private:
  CQiError OpenArchiveFile();
  // Confirms the pending batch; on failure its pieces are removed, its items
  // are lost (their rows never existed) and the next Flush fails too.
  CQiError FlushPending();

  mutable std::mutex mutex_;
  SStreamJob job_;
  std::string home_;
  std::string storeRoot_;
  bool syncData_ = true;
  CIndexCatalog catalog_;
  SArchiveFileRecord afile_;
  std::string afileDirectory_;  // absolute
  bool itemOpen_ = false;
  OBJECTOPSAPI::StreamItemHeader header_;
  std::unique_ptr<CArchiveItemWriter> writer_;
  uint64_t piecesPlaced_ = 0;  // numbers handed to placed pieces
  // Committed items whose batch is not yet confirmed, and their pieces.
  std::vector<SFileRecord> pendingRecords_;
  std::vector<std::unique_ptr<CArchiveItemWriter>> pendingPieces_;
  // The error of a batch that could not be confirmed, until Flush reports it.
  CQiError batchLost_;
  uint64_t itemsCommitted_ = 0;
  uint64_t bytesCommitted_ = 0;
};
