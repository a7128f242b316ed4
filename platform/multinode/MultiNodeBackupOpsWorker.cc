#include "platform/multinode/MultiNodeBackupOpsWorker.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkServices.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/ExtentCollectFile.h"
#include "platform/objectops/BackupFile.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace MultiNodeBackupOps {

namespace {
// Settings of the line parser; a numbered collect file line carries its
// extent itself, so they do not change what a line reads as.
constexpr uint64_t kParserExtentSize = 0x400000;
constexpr uint64_t kParserLargeFileThreshold = 0x40000000;
}  // namespace

CQiError MultiNodeBackupOpsWorker::Initialize(const CBackupWorkerParamsPtr& params) {
  MultiNodeBackupOpsWorkerParamsPtr own =
      boost::dynamic_pointer_cast<MultiNodeBackupOpsWorkerParams>(params);
  if (!own) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid backup worker parameters");
  params_ = own;
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsWorker::SetupPipeline(const OBJECTOPSAPI::IDataStreamPtr& stream) {
  if (!stream) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No data stream");
  stream_ = stream;
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsWorker::Finalize() {
  reader_.Close();
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsWorker::DoBackup(const std::string& collectFile, int64_t taskId) {
  CQiError error = DoBackup(collectFile, taskId, "", "");
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsWorker::PrepareForBackup(const std::string& collectFile, int64_t taskId,
                                                    const std::string& taskPayload,
                                                    const std::string& streamName) {
  reader_.Close();
  if (!params_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Backup worker not initialized");
  if (!stream_) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Backup worker has no data stream");
  BackupTaskParams task;
  CQiError error = BackupTaskParams::FromPayload(collectFile, taskId, taskPayload, task);
  if (error.IsError()) return error.Push(FXLOC);
  task_ = task;
  streamName_ = streamName;
  error = reader_.Open(collectFile, task.resumeOffset);
  if (error.IsError()) {
    TQLOG(-1, "Failed to open collect file %s at offset %lld: %s", collectFile.c_str(),
          static_cast<long long>(task.resumeOffset), error.AsString(2).c_str());
    return error.Push(FXLOC);
  }
  TQLOG(1, "Stream [%s] task %lld: backing up %s from offset %lld", streamName.c_str(),
        static_cast<long long>(taskId), collectFile.c_str(),
        static_cast<long long>(task.resumeOffset));
  return CQiError::Success();
}

bool MultiNodeBackupOpsWorker::IsJobAborted() {
  if (params_ && params_->jobCtrlClient) return params_->jobCtrlClient->checkQuitFlag();
  return TQJobCtrlClient::GetProcessQuitFlag();
}

CQiError MultiNodeBackupOpsWorker::BackupFile() {
  OBJECTOPSAPI::BackupFile item(currentFilePath_, currentFilePath_, itemFlags_, itemExtentParams_);
  CQiError error = item.backup(stream_.get(), OBJECTOPSAPI::AbortCheck());
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsWorker::CommitStoredEntry() {
  CCollectFileReader* reader = GetCollectFileReader();
  if (!reader) return CQiError::Success();
  return CommitOffset(reader->GetNextLineOffset());
}

CQiError MultiNodeBackupOpsWorker::CommitOffset(int64_t offset) {
  if (!params_ || !params_->frameworkServices || task_.taskId < 0) return CQiError::Success();
  CQiError error =
      params_->frameworkServices->CommitTaskOffset(static_cast<int>(task_.taskId), offset);
  if (error.IsError()) {
    TQLOG(-1, "Failed to commit offset %lld of task %lld: %s", static_cast<long long>(offset),
          static_cast<long long>(task_.taskId), error.AsString(2).c_str());
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError MultiNodeBackupOpsWorker::DoBackup(const std::string& collectFile, int64_t taskId,
                                            const std::string& taskPayload,
                                            const std::string& streamName) {
  CQiError error = PrepareForBackup(collectFile, taskId, taskPayload, streamName);
  if (error.IsError()) return error.Push(FXLOC);
  CCollectFileReader* reader = GetCollectFileReader();
  if (!reader || !reader->IsOpen()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Collect file not open");
  }
  CExtentCollectFile parser(CUnixFlatCollectFilePtr(), kParserExtentSize, kParserLargeFileThreshold,
                            true);
  const uint64_t startFlags = itemFlags_;
  bool failed = false;
  bool uncommitted = false;  // stored entries whose offset is not committed yet
  uint64_t stored = 0;
  std::string line;
  while (!reader->IsEndOfFile()) {
    itemFlags_ = startFlags;
    itemExtentParams_ = OBJECTOPSAPI::ExtentBackupParams(0);
    itemExtentParams_.extentSize = itemExtentSize_;
    error = reader->GetNextLine(line);
    if (error.IsError()) {
      TQLOG(-1, "Failed to read collect file %s: %s", collectFile.c_str(),
            error.AsString(2).c_str());
      return error.Push(FXLOC);
    }
    if (line.empty()) continue;
    std::string path;
    error = parser.ParseCollectFileEntry(line, path, itemFlags_, itemExtentParams_);
    if (error.IsError()) {
      TQLOG(-1, "Failed to parse collect file %s at offset %lld: %s", collectFile.c_str(),
            static_cast<long long>(reader->GetLineOffset()), error.AsString(2).c_str());
      return error.Push(FXLOC);
    }
    currentFilePath_ = path;
    error = BackupFile();
    if (error.IsError()) {
      if (!failed) {
        // The entries before this one are confirmed, and the committed
        // offset then stays at this entry.
        CQiError flushed = stream_->Flush();
        if (flushed.IsError()) {
          TQLOG(-1, "Failed to confirm the items before %s: %s", path.c_str(),
                flushed.AsString(2).c_str());
          return flushed.Push(FXLOC);
        }
        if (uncommitted) CommitOffset(reader->GetLineOffset());
        uncommitted = false;
      }
      failed = true;
      if (IsJobAborted()) {
        TQLOG(0, "Quit flag set. Stopping backup now");
        break;
      }
      continue;
    }
    ++stored;
    // An offset is committed only once every item before it is confirmed
    // (the stream may confirm its items in batches); once an entry failed,
    // the committed offset stays at it.
    if (failed) continue;
    uncommitted = true;
    if (stream_->PendingItems() == 0) {
      CommitStoredEntry();
      uncommitted = false;
    }
  }
  error = stream_->Flush();
  if (error.IsError()) {
    TQLOG(-1, "Failed to confirm the items of task %lld: %s", static_cast<long long>(task_.taskId),
          error.AsString(2).c_str());
    return error.Push(FXLOC);
  }
  if (uncommitted) CommitStoredEntry();
  TQLOG(1, "Stream [%s] task %lld: %llu entries stored from %s", streamName_.c_str(),
        static_cast<long long>(task_.taskId), static_cast<unsigned long long>(stored),
        collectFile.c_str());
  if (failed) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to backup some files in file %s",
                                   collectFile.c_str());
  }
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
