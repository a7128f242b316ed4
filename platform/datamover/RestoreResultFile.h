#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/base/QiError.h"

namespace TqDataMover {

// The restore result file of one data-mover stream, which the node
// controllers read after the data movers stopped:
//
//   <job results>/TQ_JobResults/2/0/<job id>/restore.<stream>.out
//
// (".<n>" before ".out" when an earlier run of the job left that name). It
// holds a line "BeginDistributedRestore", one line "<path>  DATA  <size>" per
// restored file, and a line "EndDistributedRestore" when the stream ends.
// Every line is flushed as it is written, so a stream that dies leaves the
// files it restored listed.
class CRestoreResultFile {
 public:
  // The folder of the result files of `jobId` in `jobResultsDirectory`.
  static std::string FolderOf(const std::string& jobResultsDirectory, int64_t jobId);

  CRestoreResultFile() = default;
  ~CRestoreResultFile();
  CRestoreResultFile(const CRestoreResultFile&) = delete;
  CRestoreResultFile& operator=(const CRestoreResultFile&) = delete;

  // Creates the file and writes the opening line.
  CQiError Open(const std::string& jobResultsDirectory, int64_t jobId, int streamNumber);
  bool IsOpen() const { return file_ != nullptr; }
  // Whether `path` can be listed: error 87 for a path with a line break (it
  // would read as two lines) or with "  DATA  " (it would be cut there).
  static CQiError CheckListable(const std::string& path);
  // Lists the file (CheckListable first).
  CQiError AddFile(const std::string& path, uint64_t size);
  // Writes the closing line and closes the file.
  CQiError Close();
  const std::string& Path() const { return path_; }

 private:
  CQiError WriteLine(const std::string& line);

  std::FILE* file_ = nullptr;
  std::string path_;
};

}  // namespace TqDataMover
