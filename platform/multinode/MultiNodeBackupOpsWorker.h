#pragma once

#include <cstdint>
#include <string>

#include "platform/multinode/BackupWorker.h"
#include "platform/multinode/CollectFileReader.h"
#include "platform/multinode/MultiNodeBackupOpsWorkerParams.h"
#include "platform/objectops/DataStream.h"
#include "platform/objectops/ExtentBackupParams.h"

namespace MultiNodeBackupOps {

// Base of a backup worker of a parallel file backup. Its DoBackup reads the
// task's numbered collect file from the task's resume offset, one entry at a
// time, and for each entry sets the current file path, the item flags and
// the item extent parameters and calls BackupFile, which stores the item in
// the data stream through an OBJECTOPSAPI::BackupFile; a derived worker
// overrides it to choose the item's header path and metadata.
//
// After each stored entry, as long as no entry of the run has failed, it
// commits the byte offset of the next entry through the framework services,
// so a task handed out again resumes after the last stored entry and never
// past an entry that failed. An entry that fails marks the run failed; the
// run then stops when the job's quit flag is set, and goes on otherwise. A
// line that does not parse, or a failed read of the collect file, ends the
// run with that error at once.
class MultiNodeBackupOpsWorker : public IBackupWorker {
 public:
  MultiNodeBackupOpsWorker() = default;
  explicit MultiNodeBackupOpsWorker(int streamNumber) : streamNumber_(streamNumber) {}

  // Keeps the parameters; they must be MultiNodeBackupOpsWorkerParams
  // (error 87 otherwise, and for none).
  CQiError Initialize(const CBackupWorkerParamsPtr& params) override;
  CQiError DoBackup(const std::string& collectFile, int64_t taskId) override;
  CQiError Finalize() override;
  CQiError SetupPipeline(const OBJECTOPSAPI::IDataStreamPtr& stream) override;
  // The item loop. Errors: those of PrepareForBackup; 774 "Collect file not
  // open"; a parse or read error; 774 "Failed to backup some files in file
  // %s" (the collect file) when any entry failed.
  CQiError DoBackup(const std::string& collectFile, int64_t taskId, const std::string& taskPayload,
                    const std::string& streamName) override;

  // Checks the parameters and the stream, reads the payload and opens the
  // collect file at the resume offset.
  virtual CQiError PrepareForBackup(const std::string& collectFile, int64_t taskId,
                                    const std::string& taskPayload, const std::string& streamName);
  virtual CCollectFileReader* GetCollectFileReader() { return &reader_; }
  // The job's quit flag (the process-wide one when the parameters have no
  // job control client).
  virtual bool IsJobAborted();
  // Backs up the current file path as one item (an OBJECTOPSAPI::BackupFile
  // with the item flags and extent parameters) under its own path as header
  // path.
  virtual CQiError BackupFile();

  int getStreamNumber() const { return streamNumber_; }
  // The extent size every item's extent parameters start from
  // (ExtentBackupParams' default until set).
  void SetItemExtentSize(uint64_t size) { itemExtentSize_ = size; }
  uint64_t GetItemExtentSize() const { return itemExtentSize_; }

 protected:
  // Commits, for the current task, the offset of the entry after the one
  // just stored. Nothing without framework services. A failed commit is
  // logged and returned; the loop goes on (a resume then repeats entries,
  // it never skips one).
  CQiError CommitStoredEntry();
  // Commits `offset` of the current task to the framework.
  CQiError CommitOffset(int64_t offset);

  const MultiNodeBackupOpsWorkerParamsPtr& GetWorkerParams() const { return params_; }
  const OBJECTOPSAPI::IDataStreamPtr& GetStreamHandler() const { return stream_; }
  const BackupTaskParams& GetTask() const { return task_; }
  const std::string& GetCurrentFilePath() const { return currentFilePath_; }
  void SetCurrentFilePath(const std::string& path) { currentFilePath_ = path; }
  uint64_t GetItemFlags() const { return itemFlags_; }
  void SetItemFlags(uint64_t flags) { itemFlags_ = flags; }
  OBJECTOPSAPI::ExtentBackupParams& GetItemExtentParams() { return itemExtentParams_; }

 private:
  int streamNumber_ = 0;
  MultiNodeBackupOpsWorkerParamsPtr params_;
  OBJECTOPSAPI::IDataStreamPtr stream_;
  CCollectFileReader reader_;
  BackupTaskParams task_;
  std::string streamName_;
  std::string currentFilePath_;
  uint64_t itemFlags_ = 0;
  uint64_t itemExtentSize_ = OBJECTOPSAPI::ExtentBackupParams::kDefaultExtentSize;
  OBJECTOPSAPI::ExtentBackupParams itemExtentParams_;
};

}  // namespace MultiNodeBackupOps
