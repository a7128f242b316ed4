#pragma once

#include <cstddef>
#include <string>

#include "platform/base/QiError.h"

namespace MultiNodeBackupOps {

// Writes a file under a hidden temporary name beside its final name and puts
// it in place only when it is complete: Close writes out, syncs and closes
// the temporary file, Commit renames it over the final name (replacing what
// is there) and syncs the directory. Until Commit the final name keeps its
// old content; a writer destroyed or failed before Commit removes its
// temporary file. A crash therefore never leaves a half-written file under
// the final name.
class CAtomicFileWriter {
 public:
  CAtomicFileWriter() = default;
  ~CAtomicFileWriter();
  CAtomicFileWriter(const CAtomicFileWriter&) = delete;
  CAtomicFileWriter& operator=(const CAtomicFileWriter&) = delete;

  // Creates the temporary file for `finalPath` (an earlier one is discarded).
  CQiError Open(const std::string& finalPath);
  // Buffers and writes `length` bytes.
  CQiError Write(const void* data, size_t length);
  CQiError Write(const std::string& text) { return Write(text.data(), text.size()); }
  // Writes out, syncs and closes the temporary file.
  CQiError Close();
  // Closes when still open, then puts the file in place; with
  // `syncDirectory` false the caller syncs the directory (SyncDirectoryOf)
  // once after several commits.
  CQiError Commit(bool syncDirectory = true);
  // Removes the temporary file; the final name is untouched.
  void Abort();

  // Makes the renames in the directory of `path` durable.
  static void SyncDirectoryOf(const std::string& path);

  const std::string& GetFinalPath() const { return finalPath_; }
  const std::string& GetTempPath() const { return tempPath_; }

 private:
  CQiError Flush();

  std::string finalPath_;
  std::string tempPath_;
  std::string buffer_;
  int fd_ = -1;
  bool pending_ = false;  // a temporary file exists and is not yet in place
};

}  // namespace MultiNodeBackupOps
