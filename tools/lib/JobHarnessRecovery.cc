// The job harness's records of running and interrupted jobs, and what it
// reclaims after them.

#include <sys/statvfs.h>

#include <ctime>
#include <filesystem>
#include <set>

#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/IndexCatalog.h"
#include "platform/runner/JobRecordStore.h"
#include "tools/lib/JobHarness.h"
#include "tools/lib/LeftoverRecovery.h"

namespace TqHarness {

namespace fs = std::filesystem;

namespace {

// A file left by a rewrite that did not finish: "<name>.tmp.<pid>.<n>"
// beside a file replaced whole, or "<folder>/.tmp-XXXXXX", a piece being
// written.
bool IsTemporary(const std::string& name) {
  return name.rfind(".tmp-", 0) == 0 || name.find(".tmp.") != std::string::npos;
}

int RemoveTemporariesIn(const std::string& folder) {
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::error_code e;
    if (entry.is_regular_file(e) && IsTemporary(entry.path().filename().string()) &&
        fs::remove(entry.path(), e)) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace

CQiError CJobHarness::RecordStart(const TqRunner::JobSpec& spec) const {
  TqRunner::CJobRecordStore store(spec.recordsDirectory.empty() ? SuiteHome() + "/Jobs"
                                                                : spec.recordsDirectory);
  TqRunner::JobResult record;
  // A rerun keeps what the earlier run recorded (the runner counts the
  // attempt from it).
  if (store.Read(spec.jobId, record).IsError()) {
    record = TqRunner::JobResult();
    record.attempt = 0;
  }
  record.jobId = spec.jobId;
  record.jobType = spec.jobType;
  record.status = TqRunner::kJobRunning;
  record.error.clear();
  record.startTime = static_cast<int64_t>(std::time(nullptr));
  record.endTime = 0;
  CQiError error = store.Write(record);
  if (error.IsError()) {
    return FXErrorUtil::Restate(FXLOC, error,
                                "Cannot record the start of job " + std::to_string(spec.jobId));
  }
  return CQiError();
}

CQiError CJobHarness::MarkJobFailed(int64_t jobId, const std::string& reason) {
  TqRunner::CJobRecordStore store(SuiteHome() + "/Jobs");
  TqRunner::JobResult record;
  CQiError error = store.Read(jobId, record);
  if (error.IsError()) return error;
  record.status = PHASE_FAILED;
  record.error = reason;
  if (record.endTime == 0) record.endTime = static_cast<int64_t>(std::time(nullptr));
  error = store.Write(record);
  if (error.IsError()) return error;
  CIndexCatalog catalog(CIndexCatalog::PathUnder(SuiteHome()));
  error = catalog.Open();
  if (!error.IsError()) {
    SJobRecord row;
    bool found = false;
    error = catalog.GetJob(jobId, row, found);
    if (!error.IsError() && found) {
      error = catalog.SetJobStatus(jobId, TqRunner::PhaseStatusName(PHASE_FAILED), record.endTime);
    }
  }
  return error;
}

CQiError CJobHarness::ReclaimOrphans(int64_t jobId, int& removed) const {
  removed = 0;
  const std::string root = CArchiveStore::RootUnder(SuiteHome());
  const std::string folder = root + "/" + std::to_string(jobId);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return CQiError();
  CIndexCatalog catalog(CIndexCatalog::PathUnder(SuiteHome()));
  CQiError error = catalog.Open();
  if (error.IsError()) return error;
  std::vector<SFileRecord> records;
  error = catalog.ListFileRecords(jobId, records);
  if (error.IsError()) return error;
  std::set<std::string> named;
  for (const auto& record : records) {
    if (!record.content.empty()) named.insert(fs::path(record.content).lexically_normal().string());
  }
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code e;
    if (!it->is_regular_file(e)) continue;
    const std::string relative = fs::relative(it->path(), root, e).lexically_normal().string();
    if (e || named.count(relative) != 0) continue;
    if (fs::remove(it->path(), e)) ++removed;
  }
  return CQiError();
}

CQiError CJobHarness::RecoverInterrupted(std::vector<InterruptedJob>& recovered) {
  recovered.clear();
  TqRunner::CJobRecordStore store(SuiteHome() + "/Jobs");
  // Temporary files of records, the home's state and the cluster's
  // description whose rewrite was cut short.
  RemoveTemporariesIn(store.GetDirectory());
  RemoveTemporariesIn(home_);
  if (!state_.clusterFile.empty()) {
    RemoveTemporariesIn(fs::path(state_.clusterFile).parent_path().string());
  }
  for (int64_t id : store.List()) {
    TqRunner::JobResult record;
    if (store.Read(id, record).IsError()) continue;
    if (record.status != TqRunner::kJobRunning) {
      // A restore that ended stopped, failed or with errors put right what it
      // had placed at its end; a run cut short there left its journals
      // unsettled, and they say what was loaded. A completed job keeps
      // everything.
      if (record.jobType != "restore" || record.status == PHASE_COMPLETE) continue;
      InterruptedJob ended;
      ended.jobId = id;
      ended.ended = true;
      CLeftoverRecovery(SuiteHome(), state_).RecoverEndedRestore(ended);
      if (ended.restoreTemporariesRemoved + ended.placedFilesRemoved > 0) {
        recovered.push_back(ended);
      }
      continue;
    }
    InterruptedJob job;
    job.jobId = id;
    CQiError error = MarkJobFailed(id, "interrupted");
    if (error.IsError()) return error;
    error = ReclaimOrphans(id, job.orphansRemoved);
    if (error.IsError()) return error;
    error = CLeftoverRecovery(SuiteHome(), state_).Recover(job);
    if (error.IsError()) return error;
    recovered.push_back(job);
  }
  return CQiError();
}

void CJobHarness::RecoverPlacedFiles(InterruptedJob& job) const {
  CLeftoverRecovery(SuiteHome(), state_).RecoverEndedRestore(job);
}

CQiError CJobHarness::CheckFreeSpace(uint64_t bytesNeeded, const char* what) const {
  struct statvfs fs {};
  if (::statvfs(home_.c_str(), &fs) != 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Cannot find the free space of %s", home_.c_str());
  }
  const unsigned long long available =
      static_cast<unsigned long long>(fs.f_bavail) * static_cast<unsigned long long>(fs.f_frsize);
  if (bytesNeeded + kSpareSpace > available || bytesNeeded > available) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 112, "Not enough free space: %s needs about %llu MB, %s has %llu MB free", what,
        static_cast<unsigned long long>(bytesNeeded >> 20), home_.c_str(), available >> 20);
  }
  return CQiError();
}

}  // namespace TqHarness
