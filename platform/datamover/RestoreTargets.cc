#include "platform/datamover/RestoreTargets.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/base/FXErrorUtil.h"
#include "platform/datamover/SSTableName.h"
#include "platform/log/LogWriter.h"

namespace TqDataMover {

namespace {

// The SSTable generations of the files in `folder` (none when it does not
// exist yet). Only the numbers are kept: a folder of many SSTables is listed
// once per SSTable restored into it.
CQiError ListGenerations(const std::string& folder, std::set<int64_t>& generations) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return CQiError::Success();
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to list %s", folder.c_str());
  }
  SSSTableName other;
  while (dirent* entry = readdir(dir)) {
    if (SSSTableName::Parse(entry->d_name, other)) generations.insert(other.generation);
  }
  closedir(dir);
  return CQiError::Success();
}

// Whether `path` names anything (a dangling link included).
CQiError Exists(const std::string& path, bool& exists) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    exists = true;
    return CQiError::Success();
  }
  if (errno == ENOENT || errno == ENOTDIR) {
    exists = false;
    return CQiError::Success();
  }
  int err = errno;
  return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to look for %s", path.c_str());
}

}  // namespace

bool CRestoreTargets::ReplacesEarlierCopy(const std::string& name) {
  return name == "manifest.json" || name == "schema.cql";
}

CRestoreTargets& CRestoreTargets::Instance() {
  static CRestoreTargets* targets = new CRestoreTargets();
  return *targets;
}

CQiError CRestoreTargets::ClaimTableFile(int64_t jobId, const std::string& folder,
                                         const std::string& name, std::string& finalName,
                                         const std::string& source) {
  SSSTableName sstable;
  if (!SSSTableName::Parse(name, sstable)) {
    const std::string path = folder + "/" + name;
    bool exists = false;
    CQiError error = Exists(path, exists);
    if (error.IsError()) return error.Push(FXLOC);
    if (exists && !WrittenBy(jobId, path) && !ReplacesEarlierCopy(name)) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 80, "%s is already in the table folder; it is not overwritten", path.c_str());
    }
    finalName = name;
    return CQiError::Success();
  }
  const auto key = std::make_tuple(jobId, folder, source, sstable.generation);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto decided = generations_.find(key);
    if (decided != generations_.end()) {
      finalName = sstable.WithGeneration(decided->second);
      return CQiError::Success();
    }
  }
  // The folder is listed without holding the lock, so that the streams of
  // other folders go on meanwhile; generations this process gave out are
  // taken from the claims below, under the lock.
  std::set<int64_t> used;
  CQiError error = ListGenerations(folder, used);
  if (error.IsError()) return error.Push(FXLOC);
  std::lock_guard<std::mutex> lock(mutex_);
  // Another component of the SSTable may have been claimed meanwhile.
  auto decided = generations_.find(key);
  if (decided != generations_.end()) {
    finalName = sstable.WithGeneration(decided->second);
    return CQiError::Success();
  }
  for (const auto& claim : claimed_[folder]) used.insert(claim.second);
  int64_t generation = sstable.generation;
  if (used.count(generation)) {
    generation = std::max<int64_t>(*used.rbegin(), 0) + 1;
    TQLOG(0, "SSTable generation %lld is taken in %s; %s is restored as generation %lld",
          static_cast<long long>(sstable.generation), folder.c_str(), name.c_str(),
          static_cast<long long>(generation));
  }
  generations_[key] = generation;
  claimed_[folder].insert({jobId, generation});
  finalName = sstable.WithGeneration(generation);
  return CQiError::Success();
}

void CRestoreTargets::MarkWritten(int64_t jobId, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  written_[jobId].Insert(path);
}

bool CRestoreTargets::WrittenBy(int64_t jobId, const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return WrittenLocked(jobId, path);
}

bool CRestoreTargets::WrittenLocked(int64_t jobId, const std::string& path) const {
  auto job = written_.find(jobId);
  return job != written_.end() && job->second.Contains(path);
}

bool CRestoreTargets::IsPlaced(int64_t jobId, const std::string& item) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto job = placed_.find(jobId);
  return job != placed_.end() && job->second.Contains(item);
}

void CRestoreTargets::MarkPlaced(int64_t jobId, const std::string& item) {
  std::lock_guard<std::mutex> lock(mutex_);
  placed_[jobId].Insert(item);
}

void CRestoreTargets::ForgetJob(int64_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = generations_.begin(); it != generations_.end();) {
    it = std::get<0>(it->first) == jobId ? generations_.erase(it) : std::next(it);
  }
  for (auto& folder : claimed_) {
    for (auto it = folder.second.begin(); it != folder.second.end();) {
      it = it->first == jobId ? folder.second.erase(it) : std::next(it);
    }
  }
  written_.erase(jobId);
  placed_.erase(jobId);
}

}  // namespace TqDataMover
