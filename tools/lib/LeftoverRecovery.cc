#include "tools/lib/LeftoverRecovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/RestoreOptionRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/zelk/ZelkShareStore.h"
#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimCluster.h"
#include "sim/lib/SimClusterFile.h"
#include "tools/lib/JobResultRecords.h"
#include "tools/lib/RestoreRecovery.h"
#include "tools/lib/RestoreSettingsRecovery.h"

namespace TqHarness {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPropertiesFileName = "priam.properties";

bool IsRealDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::symlink_status(path, ec).type() == fs::file_type::directory;
}

// The restore options of a job description; false when it holds none.
bool RestoreOptionsOf(const TqRunner::JobDescription& description,
                      App::CassandraRestoreOptions& options) {
  if (description.xmlOptions.empty()) return false;
  TMMsg::JobOption job;
  if (job.unserialize(description.xmlOptions) != 0) return false;
  std::optional<TMMsg::RestoreOptions> restore = job.getRestoreOptions();
  if (!restore) return false;
  std::optional<App::DistributedAppsRestoreOptions> apps =
      restore->getDistributedAppsRestoreOptions();
  if (!apps) return false;
  std::optional<App::CassandraRestoreOptions> cassandra = apps->getCassandraRestoreOptions();
  if (!cassandra) return false;
  options = *cassandra;
  return true;
}

}  // namespace

CLeftoverRecovery::CLeftoverRecovery(std::string suiteHome, const CHarnessState& state)
    : suiteHome_(std::move(suiteHome)), state_(state) {}

std::string CLeftoverRecovery::MountFolderOf(int64_t jobId) {
  return "/TqCassandraMountDir" + std::to_string(jobId);
}

std::vector<std::string> CLeftoverRecovery::JobFolders(int64_t jobId) const {
  // A backup's folder "<client>/JobResults/<job>", a restore's
  // "<client>/JobResults/TQ_JobResults/<n>/0/<job>".
  std::vector<std::string> folders;
  const std::string job = std::to_string(jobId);
  std::error_code ec;
  for (const auto& client : fs::directory_iterator(suiteHome_, ec)) {
    const fs::path results = client.path() / "JobResults";
    if (!IsRealDirectory(client.path()) || !IsRealDirectory(results)) continue;
    if (IsRealDirectory(results / job)) folders.push_back((results / job).string());
    std::error_code e;
    for (const auto& kind : fs::directory_iterator(results / "TQ_JobResults", e)) {
      const fs::path folder = kind.path() / "0" / job;
      if (IsRealDirectory(kind.path()) && IsRealDirectory(folder)) {
        folders.push_back(folder.string());
      }
    }
  }
  return folders;
}

CQiError CLeftoverRecovery::Recover(InterruptedJob& job) const {
  const std::vector<std::string> folders = JobFolders(job.jobId);
  // Before a node starts again: a start would load what was placed.
  RecoverPlacedFiles(job);
  // Settings first too: a node started with restore settings live replays.
  CRestoreSettingsRecovery::PutBack(folders, state_, job);
  StartStoppedNodes(folders, job);
  RemovePropertiesFiles(folders, job);
  RemoveShare(job);

  TqRunner::CJobRecordStore store(suiteHome_ + "/Jobs");
  TqRunner::JobDescription description;
  std::error_code ec;
  if (!fs::exists(store.DescriptionPathOf(job.jobId), ec)) return CQiError();
  CQiError error = store.ReadDescription(job.jobId, description);
  if (error.IsError()) return error;
  App::CassandraRestoreOptions options;
  if (description.jobType != "restore" || !RestoreOptionsOf(description, options)) {
    return CQiError();
  }
  // In place the files go straight into the nodes' data folders; stage-free
  // nothing is staged.
  const bool staged = options.getRecover() == 0 || options.getUseSSTableLoader() != 0;
  if (staged && options.getStageFreeRestore() == 0) {
    RemoveStaging(options.getStagingLocation(), job);
  }
  return CQiError();
}

void CLeftoverRecovery::RecoverPlacedFiles(InterruptedJob& job) const {
  CRestoreRecovery::SRemoved removed;
  CRestoreRecovery::Recover(JobFolders(job.jobId), removed);
  job.restoreTemporariesRemoved += removed.temporaries;
  job.placedFilesRemoved += removed.placed;
}

void CLeftoverRecovery::RecoverEndedRestore(InterruptedJob& job) const {
  TqRunner::CJobRecordStore store(suiteHome_ + "/Jobs");
  TqRunner::JobDescription description;
  App::CassandraRestoreOptions options;
  if (store.ReadDescription(job.jobId, description).IsError() || description.jobType != "restore" ||
      !RestoreOptionsOf(description, options) || options.getRecover() == 0 ||
      options.getUseSSTableLoader() != 0 || options.getStageFreeRestore() != 0) {
    return;
  }
  RecoverPlacedFiles(job);
}

void CLeftoverRecovery::StartStoppedNodes(const std::vector<std::string>& folders,
                                          InterruptedJob& job) const {
  // A record lies in a target's work folder, "<...>/<job>/<target>/".
  const std::vector<fs::path> records = CJobResultRecords::Find(folders, kStoppedRecordName);
  for (const fs::path& record : records) {
    std::string node = record.parent_path().filename().string();
    const std::string why = StartNode(CJobResultRecords::FirstLine(record), node);
    if (!why.empty()) {
      // The record stays: the node is still down.
      job.nodesNotStarted.push_back(node + ": " + why);
      continue;
    }
    job.nodesStarted.push_back(node);
    std::error_code e;
    fs::remove(record, e);
  }
}

std::string CLeftoverRecovery::StartNode(const std::string& configDirectory,
                                         std::string& node) const {
  if (configDirectory.empty()) return "the record names no configuration";
  TqSim::SimNode candidate;
  std::string clusterFile;
  if (CJobResultRecords::FindNode(state_, configDirectory, candidate, clusterFile)) {
    node = candidate.name;
    TqSim::PriamRequestHandler priam(clusterFile, candidate.address);
    const TqSim::SimReply reply = priam.Handle(0, "start", "");
    if (reply.status != 200) {
      return "start failed (HTTP status " + std::to_string(reply.status) + ": " + reply.text + ")";
    }
    return std::string();
  }
  return "no node of the home has the configuration " + configDirectory;
}

void CLeftoverRecovery::RemovePropertiesFiles(const std::vector<std::string>& folders,
                                              InterruptedJob& job) const {
  for (const std::string& folder : folders) {
    std::error_code ec;
    // Links to folders are not followed: only the job's own files go.
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->path().filename() != kPropertiesFileName) continue;
      std::error_code e;
      if (it->symlink_status(e).type() == fs::file_type::directory) continue;
      if (fs::remove(it->path(), e)) ++job.propertiesFilesRemoved;
    }
  }
}

void CLeftoverRecovery::RemoveShare(InterruptedJob& job) const {
  Zelk::CZelkShareStore store(suiteHome_);
  for (const Zelk::SZelkShare& share : store.List()) {
    if (share.jobId != job.jobId) continue;
    // The nodes' mount folder holds links into the share's export: they go
    // first, then the folder when nothing else is in it (the folder is
    // shared by every home of the machine; another's links stay).
    const std::string exportPath = store.ExportPath(share.name);
    const fs::path mount = MountFolderOf(job.jobId);
    if (IsRealDirectory(mount)) {
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(mount, ec)) {
        std::error_code e;
        if (!entry.is_symlink(e)) continue;
        const std::string target = fs::read_symlink(entry.path(), e).string();
        if (!e && target.compare(0, exportPath.size() + 1, exportPath + "/") == 0) {
          fs::remove(entry.path(), e);
        }
      }
      if (::rmdir(mount.c_str()) == 0) ++job.mountFoldersRemoved;
    }
    CQiError error = store.Remove(share.id);
    if (error.IsError()) {
      TQLOG(-1, "The share %s of job %lld could not be removed: %s", share.name.c_str(),
            static_cast<long long>(job.jobId), error.AsString().c_str());
      continue;
    }
    ++job.sharesRemoved;
  }
}

void CLeftoverRecovery::RemoveStaging(const std::string& stagingLocation,
                                      InterruptedJob& job) const {
  // The restore stages into "<location>/<job>" (the coordinator's rule).
  if (stagingLocation.empty() || stagingLocation[0] != '/') return;
  const fs::path folder = fs::path(stagingLocation) / std::to_string(job.jobId);
  std::error_code ec;
  const fs::file_type type = fs::symlink_status(folder, ec).type();
  if (type == fs::file_type::not_found || type == fs::file_type::none) return;
  // A link there is not the job's folder: it is left as it is.
  if (type != fs::file_type::directory) return;
  fs::remove_all(folder, ec);
  if (ec) {
    TQLOG(-1, "The staging folder %s of job %lld could not be removed: %s", folder.c_str(),
          static_cast<long long>(job.jobId), ec.message().c_str());
    return;
  }
  ++job.stagingFoldersRemoved;
}

}  // namespace TqHarness
