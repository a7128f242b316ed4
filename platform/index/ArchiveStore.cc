#include "platform/index/ArchiveStore.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/base/QiDirectory.h"
#include "platform/index/Sha256.h"
#include "platform/suite/ClientContext.h"

namespace {

constexpr size_t kChunk = 1 << 20;

// Reads exactly `length` bytes at `offset` (fewer only at the end of file).
bool ReadFully(int fd, uint64_t offset, char* buffer, size_t length, size_t& got) {
  got = 0;
  while (got < length) {
    ssize_t n = pread(fd, buffer + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string CArchiveStore::RootUnder(const std::string& home) {
  return FXPath::Join(home, "store");
}

CArchiveStore::CArchiveStore(const std::string& home)
    : root_(RootUnder(home.empty() ? CClientContext::SuiteHome() : home)),
      catalog_(CIndexCatalog::PathUnder(home.empty() ? CClientContext::SuiteHome() : home)) {}

CQiError CArchiveStore::Open() {
  CQiError error = catalog_.Open();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

void CArchiveStore::ResolvePieces(const std::vector<SFileRecord>& records, SStoredItem& item) {
  item.pieces.clear();
  item.complete = false;
  item.problem.clear();
  if (records.empty()) {
    item.problem = "no committed record";
    return;
  }
  std::vector<const SFileRecord*> newestFirst;
  for (const auto& r : records) newestFirst.push_back(&r);
  std::sort(newestFirst.begin(), newestFirst.end(),
            [](const SFileRecord* a, const SFileRecord* b) { return a->recordId > b->recordId; });
  const SFileRecord& newest = *newestFirst.front();
  item.jobId = newest.jobId;
  item.headerPath = newest.headerPath;
  item.sourcePath = newest.sourcePath;
  item.isDirectory = newest.isDirectory;
  item.size = newest.isDirectory ? 0 : newest.fileSize;
  item.backupTime = newest.backupTime;
  if (newest.isDirectory) {
    item.pieces.push_back(newest);
    item.complete = true;
    return;
  }
  // Newest first, take every piece of the same file size that overlaps none
  // already taken: a resent piece replaces its older copy.
  std::vector<SFileRecord> chosen;
  for (const SFileRecord* r : newestFirst) {
    if (r->isDirectory || r->fileSize != item.size) continue;
    if (r->pieceLength == 0 && item.size != 0) continue;
    bool overlaps = false;
    for (const auto& c : chosen) {
      bool bothEmpty = r->pieceLength == 0 && c.pieceLength == 0;
      if (bothEmpty || (r->pieceOffset < c.pieceOffset + c.pieceLength &&
                        c.pieceOffset < r->pieceOffset + r->pieceLength)) {
        overlaps = true;
        break;
      }
    }
    if (!overlaps) chosen.push_back(*r);
  }
  std::sort(chosen.begin(), chosen.end(), [](const SFileRecord& a, const SFileRecord& b) {
    return a.pieceOffset < b.pieceOffset;
  });
  uint64_t at = 0;
  for (const auto& c : chosen) {
    if (c.pieceOffset != at) break;
    at += c.pieceLength;
  }
  if (at != item.size || chosen.empty()) {
    item.problem =
        FXString::Format("bytes from %llu of %llu are missing", static_cast<unsigned long long>(at),
                         static_cast<unsigned long long>(item.size));
    item.pieces = chosen;
    return;
  }
  item.pieces = chosen;
  item.complete = true;
}

CQiError CArchiveStore::FindItem(int64_t jobId, const std::string& headerPath, SStoredItem& item) {
  CQiError error = Open();
  if (error.IsError()) return error.Push(FXLOC);
  std::vector<SFileRecord> records;
  error = catalog_.FindFileRecords(jobId, headerPath, records);
  if (error.IsError()) return error.Push(FXLOC);
  if (records.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1168, "Job %lld holds no item %s",
                                   static_cast<long long>(jobId), headerPath.c_str());
  }
  ResolvePieces(records, item);
  if (!item.complete) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Item %s of job %lld is incomplete: %s",
                                   headerPath.c_str(), static_cast<long long>(jobId),
                                   item.problem.c_str());
  }
  return CQiError::Success();
}

CQiError CArchiveStore::FindItemsBySource(int64_t jobId, const std::string& sourcePath,
                                          std::vector<SStoredItem>& items) {
  items.clear();
  CQiError error = Open();
  if (error.IsError()) return error.Push(FXLOC);
  std::vector<SFileRecord> records;
  error = catalog_.FindFileRecordsBySource(jobId, sourcePath, records);
  if (error.IsError()) return error.Push(FXLOC);
  std::map<std::string, bool> headerPaths;
  for (const auto& r : records) headerPaths[r.headerPath] = true;
  for (const auto& entry : headerPaths) {
    std::vector<SFileRecord> versions;
    error = catalog_.FindFileRecords(jobId, entry.first, versions);
    if (error.IsError()) return error.Push(FXLOC);
    SStoredItem item;
    ResolvePieces(versions, item);
    items.push_back(item);
  }
  return CQiError::Success();
}

CQiError CArchiveStore::ListItems(int64_t jobId, std::vector<SStoredItem>& items) {
  items.clear();
  return ForEachItem({jobId}, [&](const SStoredItem& item) {
    items.push_back(item);
    return CQiError::Success();
  });
}

CQiError CArchiveStore::ForEachItem(const std::vector<int64_t>& jobIds,
                                    const std::function<CQiError(const SStoredItem&)>& visit) {
  CQiError error = Open();
  if (error.IsError()) return error.Push(FXLOC);
  // The records of one header path and job, in commit order.
  std::vector<SFileRecord> records;
  bool visitFailed = false;
  auto finishItem = [&]() -> CQiError {
    if (records.empty()) return CQiError::Success();
    SStoredItem item;
    ResolvePieces(records, item);
    records.clear();
    CQiError visited = visit(item);
    visitFailed = visited.IsError();
    return visited;
  };
  error = catalog_.ForEachFileRecordOfJobs(jobIds, [&](const SFileRecord& record) {
    if (!records.empty() && (records.front().headerPath != record.headerPath ||
                             records.front().jobId != record.jobId)) {
      CQiError visited = finishItem();
      if (visited.IsError()) return visited;
    }
    records.push_back(record);
    return CQiError::Success();
  });
  if (!error.IsError()) error = finishItem();
  if (error.IsError()) return visitFailed ? error : error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CArchiveStore::ReadItem(const SStoredItem& item, const ChunkFn& fn) {
  if (!item.complete) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Item %s is incomplete: %s", item.headerPath.c_str(),
                                   item.problem.c_str());
  }
  if (item.isDirectory) return CQiError::Success();
  // One buffer per thread for every item it reads: a fresh 1 MiB buffer per
  // item cost more than reading a small item.
  thread_local std::vector<char> buffer(kChunk);
  for (const auto& piece : item.pieces) {
    std::string path = FXPath::Join(root_, piece.content);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return FXErrorUtil::ErrorWin32(FXLOC, 23, "Stored content %s of %s is missing", path.c_str(),
                                     item.headerPath.c_str());
    }
    CSha256 digest;
    uint64_t done = 0;
    CQiError error;
    while (!error.IsError()) {
      size_t got = 0;
      if (!ReadFully(fd, done, buffer.data(), buffer.size(), got)) {
        int err = errno;
        error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read %s", path.c_str());
        break;
      }
      if (got == 0) break;
      if (done + got > piece.pieceLength) {
        error = FXErrorUtil::ErrorWin32(FXLOC, 23, "Stored content %s of %s is too long",
                                        path.c_str(), item.headerPath.c_str());
        break;
      }
      digest.Update(buffer.data(), got);
      // Content goes out before the whole piece is checked; a caller that
      // must not see damaged bytes checks the result before using them.
      error = fn(piece.pieceOffset + done, buffer.data(), got);
      done += got;
    }
    close(fd);
    if (error.IsError()) return error.Push(FXLOC);
    if (done != piece.pieceLength || digest.FinishHex() != piece.sha256) {
      return FXErrorUtil::ErrorWin32(FXLOC, 23,
                                     "Stored content %s of %s does not match its checksum",
                                     path.c_str(), item.headerPath.c_str());
    }
  }
  return CQiError::Success();
}

CQiError CArchiveStore::ReadItem(int64_t jobId, const std::string& headerPath,
                                 std::string& content) {
  SStoredItem item;
  CQiError error = FindItem(jobId, headerPath, item);
  if (error.IsError()) return error.Push(FXLOC);
  std::string out;
  out.reserve(static_cast<size_t>(item.size));
  error = ReadItem(item, [&](uint64_t, const char* data, size_t length) {
    out.append(data, length);
    return CQiError::Success();
  });
  if (error.IsError()) return error.Push(FXLOC);
  content.swap(out);
  return CQiError::Success();
}

CQiError CArchiveStore::RestoreItem(int64_t jobId, const std::string& headerPath,
                                    const std::string& target) {
  SStoredItem item;
  CQiError error = FindItem(jobId, headerPath, item);
  if (error.IsError()) return error.Push(FXLOC);
  if (item.isDirectory) {
    error = CQiDirectory::Create(target.c_str(), true);
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  }
  std::string temp = target + ".tqrestore-XXXXXX";
  int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to create %s", temp.c_str());
  }
  error = ReadItem(item, [&](uint64_t offset, const char* data, size_t length) {
    return FXFile::TQWriteFileAt(fd, data, length, offset, temp);
  });
  if (!error.IsError() && item.pieces.size() > 0) {
    uint32_t mode = item.pieces.front().mode & 07777;
    if (mode) fchmod(fd, mode);
  }
  if (close(fd) != 0 && !error.IsError()) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", temp.c_str());
  }
  if (!error.IsError() && rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to move %s to %s", temp.c_str(),
                                    target.c_str());
  }
  if (error.IsError()) {
    unlink(temp.c_str());
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CArchiveStore::VerifyItem(int64_t jobId, const std::string& headerPath,
                                   const std::string& diskPath) {
  SStoredItem item;
  CQiError error = FindItem(jobId, headerPath, item);
  if (error.IsError()) return error.Push(FXLOC);
  error = VerifyItem(item, diskPath);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CArchiveStore::VerifyItem(const SStoredItem& item, const std::string& diskPath) {
  struct stat st;
  if (stat(diskPath.c_str(), &st) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the attributes of %s",
                                   diskPath.c_str());
  }
  if (item.isDirectory || S_ISDIR(st.st_mode)) {
    if (item.isDirectory && S_ISDIR(st.st_mode)) return CQiError::Success();
    return FXErrorUtil::ErrorWin32(FXLOC, 23, "%s and stored item %s differ in kind",
                                   diskPath.c_str(), item.headerPath.c_str());
  }
  if (static_cast<uint64_t>(st.st_size) != item.size) {
    return FXErrorUtil::ErrorWin32(FXLOC, 23, "%s holds %llu bytes, stored item %s %llu",
                                   diskPath.c_str(), static_cast<unsigned long long>(st.st_size),
                                   item.headerPath.c_str(),
                                   static_cast<unsigned long long>(item.size));
  }
  int fd = open(diskPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open %s", diskPath.c_str());
  }
  // Reused like ReadItem's (which fills its own buffer, not this one).
  thread_local std::vector<char> disk(kChunk);
  CQiError error =
      ReadItem(item, [&](uint64_t offset, const char* data, size_t length) -> CQiError {
        if (disk.size() < length) disk.resize(length);
        size_t got = 0;
        if (!ReadFully(fd, offset, disk.data(), length, got)) {
          int err = errno;
          return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read %s", diskPath.c_str());
        }
        if (got != length || std::memcmp(disk.data(), data, length) != 0) {
          size_t at = 0;
          while (at < got && disk[at] == data[at]) ++at;
          return FXErrorUtil::ErrorWin32(FXLOC, 23, "%s differs from stored item %s at byte %llu",
                                         diskPath.c_str(), item.headerPath.c_str(),
                                         static_cast<unsigned long long>(offset + at));
        }
        return CQiError::Success();
      });
  close(fd);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}
