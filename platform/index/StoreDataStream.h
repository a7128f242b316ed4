#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

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
// Registry: "ArchiveStore"/"nSyncWrites" (default 1) makes each piece durable
// before it is reported committed; 0 leaves flushing to the system.
class CStoreDataStream : public OBJECTOPSAPI::IDataStream {
 public:
  explicit CStoreDataStream(const SStreamJob& job, const std::string& home = std::string());
  ~CStoreDataStream() override;

  CQiError BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) override;
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override;
  CQiError CommitItem() override;
  void AbortItem() override;

  // The stream's archive file (0 before its first item).
  int64_t GetArchiveFileId() const;
  uint64_t ItemsCommitted() const;
  uint64_t BytesCommitted() const;

 private:
  CQiError OpenArchiveFile();

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
  uint64_t itemsCommitted_ = 0;
  uint64_t bytesCommitted_ = 0;
};
