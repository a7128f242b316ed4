#include "platform/datamover/RestoreTargets.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>

#include "platform/base/FXErrorUtil.h"
#include "platform/datamover/SSTableName.h"
#include "platform/log/LogWriter.h"

namespace TqDataMover {

namespace {

// The names in `folder` (none when it does not exist yet).
CQiError ListNames(const std::string& folder, std::set<std::string>& names) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    if (errno == ENOENT) return CQiError::Success();
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to list %s", folder.c_str());
  }
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(dir);
  return CQiError::Success();
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
  std::lock_guard<std::mutex> lock(mutex_);
  SSSTableName sstable;
  const bool isSSTable = SSSTableName::Parse(name, sstable);
  if (isSSTable) {
    auto decided = generations_.find(std::make_tuple(jobId, folder, source, sstable.generation));
    if (decided != generations_.end()) {
      finalName = sstable.WithGeneration(decided->second);
      return CQiError::Success();
    }
  }
  std::set<std::string> names;
  CQiError error = ListNames(folder, names);
  if (error.IsError()) return error.Push(FXLOC);
  if (!isSSTable) {
    const std::string path = folder + "/" + name;
    if (names.count(name) && !WrittenLocked(jobId, path) && !ReplacesEarlierCopy(name)) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 80, "%s is already in the table folder; it is not overwritten", path.c_str());
    }
    finalName = name;
    return CQiError::Success();
  }
  std::set<int64_t> used;
  for (const std::string& each : names) {
    SSSTableName other;
    if (SSSTableName::Parse(each, other)) used.insert(other.generation);
  }
  for (const auto& claim : claimed_[folder]) used.insert(claim.second);
  int64_t generation = sstable.generation;
  if (used.count(generation)) {
    generation = std::max<int64_t>(*used.rbegin(), 0) + 1;
    TQLOG(0, "SSTable generation %lld is taken in %s; %s is restored as generation %lld",
          static_cast<long long>(sstable.generation), folder.c_str(), name.c_str(),
          static_cast<long long>(generation));
  }
  generations_[std::make_tuple(jobId, folder, source, sstable.generation)] = generation;
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
