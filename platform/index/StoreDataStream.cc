#include "platform/index/StoreDataStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/IndexMetaDataHelper.h"
#include "platform/index/ObjectGuid.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/PlatformInfo.h"

namespace {

std::string MetadataJson(const std::vector<OBJECTOPSAPI::MetaDataInfo>& list) {
  nlohmann::json array = nlohmann::json::array();
  for (const auto& info : list) {
    array.push_back({{"id", info.id}, {"value", info.value}});
  }
  return array.dump();
}

}  // namespace

CStoreDataStream::CStoreDataStream(const SStreamJob& job, const std::string& home)
    : job_(job),
      home_(home.empty() ? CClientContext::SuiteHome() : home),
      storeRoot_(CArchiveStore::RootUnder(home_)),
      catalog_(CIndexCatalog::PathUnder(home_)) {
  int64_t sync = 1;
  TQPlatformInfo().getNumber("ArchiveStore", "nSyncWrites", sync);
  syncData_ = sync != 0;
}

CStoreDataStream::~CStoreDataStream() {
  AbortItem();
  std::lock_guard<std::mutex> lock(mutex_);
  CQiError error = FlushPending();
  if (error.IsError()) {
    TQLOG(-1, "Items of job %lld stream %d were not recorded: %s",
          static_cast<long long>(job_.jobId), job_.streamNumber, error.AsString(2).c_str());
  }
}

CQiError CStoreDataStream::Flush() {
  std::lock_guard<std::mutex> lock(mutex_);
  CQiError error = FlushPending();
  if (!error.IsError() && batchLost_.IsError()) error = batchLost_;
  // A lost batch is told once, to the flush that follows it.
  batchLost_ = CQiError::Success();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

uint64_t CStoreDataStream::PendingItems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pendingRecords_.size();
}

CQiError CStoreDataStream::FlushPending() {
  if (pendingRecords_.empty()) return CQiError::Success();
  CQiError error;
  if (syncData_) {
    // One flush of the file system makes every piece of the batch and its
    // name durable, where a flush per piece would wait for the disk each time.
    int dir = open(afileDirectory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || syncfs(dir) != 0) {
      error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to flush the pieces in %s",
                                      afileDirectory_.c_str());
    }
    if (dir >= 0) close(dir);
  }
  if (!error.IsError()) error = catalog_.CommitFileRecords(pendingRecords_);
  if (error.IsError()) {
    for (auto& piece : pendingPieces_) {
      if (piece) piece->Discard();
    }
    // Items the caller was told were committed are gone: the next Flush
    // says so, so that no offset is committed past them.
    batchLost_ = error;
  } else {
    for (const SFileRecord& record : pendingRecords_) {
      ++itemsCommitted_;
      bytesCommitted_ += record.pieceLength;
    }
  }
  pendingRecords_.clear();
  pendingPieces_.clear();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

int64_t CStoreDataStream::GetArchiveFileId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return afile_.archiveFileId;
}

uint64_t CStoreDataStream::ItemsCommitted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return itemsCommitted_;
}

uint64_t CStoreDataStream::BytesCommitted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytesCommitted_;
}

CQiError CStoreDataStream::OpenArchiveFile() {
  if (afile_.archiveFileId != 0) return CQiError::Success();
  CQiError error = catalog_.Open();
  if (error.IsError()) return error.Push(FXLOC);
  SJobRecord job;
  job.jobId = job_.jobId;
  job.ombrelId = job_.ombrelId;
  job.clientName = job_.clientName;
  job.clientId = job_.clientId;
  job.instanceId = job_.instanceId;
  job.backupsetId = job_.backupsetId;
  job.subclientId = job_.subclientId;
  job.appType = job_.appType;
  job.kind = job_.kind;
  job.level = job_.level;
  job.startTime = static_cast<int64_t>(time(nullptr));
  job.status = "running";
  error = catalog_.RegisterJob(job, false);
  if (error.IsError()) return error.Push(FXLOC);

  SArchiveFileRecord afile;
  afile.jobId = job_.jobId;
  afile.ombrelId = job_.ombrelId;
  afile.archiveGroupId = job_.archiveGroupId;
  afile.clientName = job_.clientName;
  afile.streamNumber = job_.streamNumber;
  afile.createTime = static_cast<int64_t>(time(nullptr));
  int64_t jobId = job_.jobId;
  error = catalog_.CreateArchiveFile(
      afile, [jobId](int64_t id) { return std::to_string(jobId) + "/" + std::to_string(id); });
  if (error.IsError()) return error.Push(FXLOC);
  std::string directory = FXPath::Join(storeRoot_, afile.directory);
  error = CQiDirectory::Create(directory.c_str(), true);
  if (error.IsError()) return error.Push(FXLOC);
  afile_ = afile;
  afileDirectory_ = directory;
  TQLOG(2, "Job %lld stream %d stores into archive file %lld (%s)",
        static_cast<long long>(job_.jobId), job_.streamNumber,
        static_cast<long long>(afile_.archiveFileId), directory.c_str());
  return CQiError::Success();
}

CQiError CStoreDataStream::BeginItem(const OBJECTOPSAPI::StreamItemHeader& header) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (itemOpen_) {
    writer_.reset();
    itemOpen_ = false;
  }
  if (header.headerPath.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Item of %s has no header path",
                                   header.sourcePath.c_str());
  }
  if (!header.isDirectory && header.pieceOffset + header.pieceLength > header.fileSize) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Item piece of %s lies beyond its file's size",
                                   header.headerPath.c_str());
  }
  CQiError error = OpenArchiveFile();
  if (error.IsError()) return error.Push(FXLOC);
  header_ = header;
  if (header.isDirectory) {
    header_.fileSize = header_.pieceOffset = header_.pieceLength = 0;
  } else {
    // In a batch the piece is flushed with the whole batch, not on its own.
    writer_.reset(new CArchiveItemWriter(afileDirectory_, syncData_ && job_.commitBatch <= 1));
    error = writer_->Begin(header.pieceOffset, header.pieceLength);
    if (error.IsError()) {
      writer_.reset();
      return error.Push(FXLOC);
    }
  }
  itemOpen_ = true;
  return CQiError::Success();
}

CQiError CStoreDataStream::WriteExtent(uint64_t offset, const void* data, size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!itemOpen_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item is open in the stream");
  if (!writer_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Directory item %s carries no content",
                                   header_.headerPath.c_str());
  }
  CQiError error = writer_->Write(offset, data, length);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CStoreDataStream::CommitItem() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!itemOpen_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item is open in the stream");
  itemOpen_ = false;
  std::unique_ptr<CArchiveItemWriter> writer = std::move(writer_);

  SFileRecord record;
  record.jobId = job_.jobId;
  record.archiveFileId = afile_.archiveFileId;
  record.headerPath = header_.headerPath;
  record.sourcePath = header_.sourcePath;
  CQiError error = GetObjectGuid(header_.headerPath.c_str(), 0, '/', record.objectGuid);
  if (error.IsError()) return error.Push(FXLOC);
  record.isDirectory = header_.isDirectory;
  for (const auto& info : header_.metadata) {
    int64_t value = 0;
    if (info.id == INDEXINGDATA_CASSANDRA_FILE_TYPE &&
        IndexMetaDataHelper::decodeData(info.value, value)) {
      record.hasFileType = true;
      record.fileType = value;
    }
  }
  record.itemFlags = header_.itemFlags;
  record.objectFlags = header_.objectFlags;
  record.fileSize = header_.fileSize;
  record.pieceOffset = header_.pieceOffset;
  record.pieceLength = header_.pieceLength;
  record.modifyTime = header_.modifyTime;
  record.mode = header_.mode;
  record.metadata = MetadataJson(header_.metadata);
  record.backupTime = static_cast<int64_t>(time(nullptr));
  if (writer) {
    error = writer->Finish(record.sha256);
    if (error.IsError()) return error.Push(FXLOC);
    // The piece takes its final name, durably, before its row exists: the
    // flushes run outside the catalog's write transaction, so the streams of
    // a job flush in parallel instead of one after another. The archive
    // file's directory belongs to this stream alone, which numbers its
    // pieces.
    const std::string name = std::to_string(++piecesPlaced_);
    error = writer->Place(name);
    if (error.IsError()) {
      writer->Discard();
      return error.Push(FXLOC);
    }
    record.content = afile_.directory + "/" + name;
  } else {
    CSha256 empty;
    record.sha256 = empty.FinishHex();
  }

  if (job_.commitBatch > 1) {
    pendingRecords_.push_back(std::move(record));
    pendingPieces_.push_back(std::move(writer));
    if (pendingRecords_.size() < static_cast<size_t>(job_.commitBatch)) {
      return CQiError::Success();
    }
    error = FlushPending();
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  }
  error = catalog_.CommitFileRecord(record);
  if (error.IsError()) {
    if (writer) writer->Discard();
    return error.Push(FXLOC);
  }
  ++itemsCommitted_;
  bytesCommitted_ += record.pieceLength;
  return CQiError::Success();
}

void CStoreDataStream::AbortItem() {
  std::lock_guard<std::mutex> lock(mutex_);
  writer_.reset();
  itemOpen_ = false;
}
