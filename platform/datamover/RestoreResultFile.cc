#include "platform/datamover/RestoreResultFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"

namespace TqDataMover {

namespace {

// The restore-results number of the folder name (the one the restore client
// configuration holds).
constexpr int kRestoreResultsNumber = 2;
// What separates a restored file's path from the rest of its line.
constexpr const char* kDataMark = "  DATA  ";

}  // namespace

std::string CRestoreResultFile::FolderOf(const std::string& jobResultsDirectory, int64_t jobId) {
  return FXPath::Join(
      jobResultsDirectory,
      "TQ_JobResults/" + std::to_string(kRestoreResultsNumber) + "/0/" + std::to_string(jobId));
}

CRestoreResultFile::~CRestoreResultFile() {
  if (file_ != nullptr) std::fclose(file_);
}

CQiError CRestoreResultFile::Open(const std::string& jobResultsDirectory, int64_t jobId,
                                  int streamNumber) {
  const std::string folder = FolderOf(jobResultsDirectory, jobId);
  CQiError error = CQiDirectory::Create(folder.c_str(), true);
  if (error.IsError()) return error.Push(FXLOC);
  const std::string stem = FXPath::Join(folder, "restore." + std::to_string(streamNumber));
  for (int attempt = 0;; ++attempt) {
    std::string path = stem + (attempt ? "." + std::to_string(attempt) : "") + ".out";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST && attempt < 10000) continue;
    if (fd < 0) {
      int err = errno;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create the restore result file %s",
                                     path.c_str());
    }
    file_ = fdopen(fd, "w");
    if (file_ == nullptr) {
      int err = errno;
      close(fd);
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s", path.c_str());
    }
    path_ = path;
    break;
  }
  error = WriteLine("BeginDistributedRestore");
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestoreResultFile::CheckListable(const std::string& path) {
  if (path.find_first_of("\n\r") != std::string::npos) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "A restored path holds a line break");
  }
  if (path.find(kDataMark) != std::string::npos) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "A restored path holds \"%s\": %s", kDataMark,
                                   path.c_str());
  }
  return CQiError::Success();
}

CQiError CRestoreResultFile::AddFile(const std::string& path, uint64_t size) {
  CQiError checked = CheckListable(path);
  if (checked.IsError()) return checked.Push(FXLOC);
  CQiError error = WriteLine(path + kDataMark + std::to_string(size));
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestoreResultFile::Close() {
  if (file_ == nullptr) return CQiError::Success();
  CQiError error = WriteLine("EndDistributedRestore");
  if (std::fclose(file_) != 0 && !error.IsError()) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", path_.c_str());
  }
  file_ = nullptr;
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestoreResultFile::WriteLine(const std::string& line) {
  if (file_ == nullptr) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The restore result file is not open");
  }
  if (std::fputs((line + "\n").c_str(), file_) < 0 || std::fflush(file_) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to write %s", path_.c_str());
  }
  return CQiError::Success();
}

}  // namespace TqDataMover
