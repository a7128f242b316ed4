#include "platform/index/ArchiveItemWriter.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"

CArchiveItemWriter::CArchiveItemWriter(const std::string& directory, bool syncData)
    : directory_(directory), syncData_(syncData) {}

CArchiveItemWriter::~CArchiveItemWriter() {
  if (fd_ >= 0) close(fd_);
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
}

CQiError CArchiveItemWriter::Begin(uint64_t pieceOffset, uint64_t pieceLength) {
  if (!tempPath_.empty() || fd_ >= 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "An item piece is already being written");
  }
  std::string pattern = FXPath::Join(directory_, ".tmp-XXXXXX");
  int fd = mkostemp(&pattern[0], O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create a temporary item in %s",
                                   directory_.c_str());
  }
  fd_ = fd;
  tempPath_ = pattern;
  pieceOffset_ = pieceOffset;
  pieceLength_ = pieceLength;
  return CQiError::Success();
}

CQiError CArchiveItemWriter::Write(uint64_t fileOffset, const void* data, size_t length) {
  if (fd_ < 0 || finished_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item piece is being written");
  }
  if (length == 0) return CQiError::Success();
  if (fileOffset < pieceOffset_ || fileOffset - pieceOffset_ > pieceLength_ ||
      length > pieceLength_ - (fileOffset - pieceOffset_)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "Extent [%llu, +%zu) lies outside the item piece [%llu, +%llu)",
                                   static_cast<unsigned long long>(fileOffset), length,
                                   static_cast<unsigned long long>(pieceOffset_),
                                   static_cast<unsigned long long>(pieceLength_));
  }
  uint64_t start = fileOffset - pieceOffset_;
  CQiError written = FXFile::TQWriteFileAt(fd_, data, length, start, "the item " + tempPath_);
  if (written.IsError()) return written.Push(FXLOC);
  bytesWritten_ += length;
  if (inOrder_ && start == hashedUpTo_) {
    digest_.Update(data, length);
    hashedUpTo_ += length;
  } else {
    inOrder_ = false;
  }
  // Merge [start, end) into the written ranges.
  uint64_t end = start + length;
  auto it = ranges_.upper_bound(start);
  if (it != ranges_.begin()) {
    auto prev = std::prev(it);
    if (prev->second >= start) {
      start = prev->first;
      end = std::max(end, prev->second);
      it = ranges_.erase(prev);
    }
  }
  while (it != ranges_.end() && it->first <= end) {
    end = std::max(end, it->second);
    it = ranges_.erase(it);
  }
  ranges_[start] = end;
  return CQiError::Success();
}

bool CArchiveItemWriter::Covered() const {
  if (pieceLength_ == 0) return true;
  return ranges_.size() == 1 && ranges_.begin()->first == 0 &&
         ranges_.begin()->second == pieceLength_;
}

CQiError CArchiveItemWriter::Finish(std::string& sha256) {
  if (fd_ < 0) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No item piece is being written");
  if (!Covered()) {
    uint64_t missing = 0;
    uint64_t at = 0;
    for (const auto& range : ranges_) {
      if (range.first > at) break;
      at = range.second;
    }
    missing = at;
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "Item piece incomplete: bytes from %llu of %llu were not written",
        static_cast<unsigned long long>(pieceOffset_ + missing),
        static_cast<unsigned long long>(pieceOffset_ + pieceLength_));
  }
  if (inOrder_ && hashedUpTo_ == pieceLength_) {
    sha256 = digest_.FinishHex();
  } else if (!CSha256::OfFileRange(fd_, 0, pieceLength_, sha256)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to read back the item %s", tempPath_.c_str());
  }
  finished_ = true;
  return CQiError::Success();
}

CQiError CArchiveItemWriter::Place(const std::string& name) {
  if (tempPath_.empty() || fd_ < 0 || !finished_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No finished item piece to place");
  }
  std::string target = FXPath::Join(directory_, name);
  // Never over another file: a name in use is an error, not a replaced piece.
  int moved = renameat2(AT_FDCWD, tempPath_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
  if (moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without that flag: link (which refuses an existing
    // name), then drop the temporary name.
    moved = link(tempPath_.c_str(), target.c_str());
    if (moved == 0) unlink(tempPath_.c_str());
  }
  if (moved != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to move the item %s to %s",
                                   tempPath_.c_str(), target.c_str());
  }
  tempPath_.clear();
  placedPath_ = target;
  // The content is flushed after the rename: on a journalling file system
  // the flush of the file then commits the new name with it, and the
  // directory's flush below finds little left to do. Both come before the
  // caller records the piece.
  if (syncData_ && fdatasync(fd_) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to flush the item %s", target.c_str());
  }
  int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close the item %s", target.c_str());
  }
  if (syncData_) {
    int dir = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int err = 0;
    if (dir < 0 || fsync(dir) != 0) err = errno;
    if (dir >= 0) close(dir);
    if (err) return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to flush %s", directory_.c_str());
  }
  return CQiError::Success();
}

void CArchiveItemWriter::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  if (!placedPath_.empty()) unlink(placedPath_.c_str());
  tempPath_.clear();
  placedPath_.clear();
}
