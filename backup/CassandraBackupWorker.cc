#include "backup/CassandraBackupWorker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <vector>

#include "backup/BackupCassandraItem.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXMutex.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/log/LogWriter.h"

// Serialises every append to (and read of) the failures list by the backup
// workers of the process.
static FXMutex g_oLockFailedFile;

namespace {

// `path` without its final "/"s; a path of "/"s alone stays "/".
std::string WithoutFinalSlash(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? path : "/";
  return path.substr(0, end + 1);
}

// True when `path` is `directory` or lies below it, compared by whole path
// components (both without a final "/").
bool IsAtOrBelow(const std::string& path, const std::string& directory) {
  if (path == directory) return true;
  if (directory == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
         path[directory.size()] == '/';
}

// The header path of `components`, "/" before each. A component that is
// empty or holds a "/" would shift every later field of the path, and one
// that is "." or ".." could never be a restored folder: such an item is
// refused.
CQiError HeaderPath(const std::vector<std::string>& components, const std::string& filePath,
                    std::string& header) {
  static const char* const kFields[] = {"cluster",  "data centre", "instance",
                                        "keyspace", "table",       "file"};
  header.clear();
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (component.empty() || component == "." || component == ".." ||
        component.find('/') != std::string::npos) {
      const char* field = i < sizeof(kFields) / sizeof(kFields[0]) ? kFields[i] : "component";
      return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                     "Cannot back up %s: its %s name \"%s\" is empty, \".\" "
                                     "or \"..\", or holds a \"/\", which cannot make a header "
                                     "path component",
                                     filePath.c_str(), field, component.c_str());
    }
    header += "/";
    header += component;
  }
  return CQiError::Success();
}

}  // namespace

// ---------------------------------------------------------------------------
// Failures list.

std::string CassandraHandleFailedFiles::FormatLine(const std::string& instanceName,
                                                   const std::string& keyspace) {
  return instanceName + " " + keyspace + "\n";
}

CQiError CassandraHandleFailedFiles::AddFailedKeyspace(const std::string& path,
                                                       const std::string& instanceName,
                                                       const std::string& keyspace) {
  if (path.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No failures list");
  const std::string line = FormatLine(instanceName, keyspace);
  auto_lock lock(g_oLockFailedFile);
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open failures list %s", path.c_str());
  }
  // Where the list ends before the line: every append holds the lock, so the
  // line begins there.
  struct stat before;
  const bool sized = fstat(fd, &before) == 0;
  ssize_t written;
  do {
    written = write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  int err = errno;
  if (written != static_cast<ssize_t>(line.size())) {
    // A line taken in part would run into the next one, which the reader
    // would then give to a wrong instance: the list is cut back.
    if (written > 0 && sized) (void)ftruncate(fd, before.st_size);
    close(fd);
    return FXErrorUtil::ErrorErrNo(FXLOC, written < 0 ? err : ENOSPC,
                                   "Failed to write to failures list %s", path.c_str());
  }
  close(fd);
  return CQiError::Success();
}

CassandraHandleFailedFiles::FailedKeyspaces CassandraHandleFailedFiles::ReadFailedKeyspaces(
    const std::string& path) {
  FailedKeyspaces failed;
  auto_lock lock(g_oLockFailedFile);
  std::ifstream in(path);
  if (!in) return failed;
  std::string line;
  std::vector<std::string> fields;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    FXString::Split(line, " ", fields, FXString::kKeepEmpty);
    if (fields.size() == 2) failed[fields[0]].insert(fields[1]);
  }
  return failed;
}

// ---------------------------------------------------------------------------
// Worker.

CassandraBackupWorker::CassandraBackupWorker() = default;

CassandraBackupWorker::CassandraBackupWorker(int streamNumber)
    : MultiNodeBackupOpsWorker(streamNumber) {}

CassandraBackupWorker::~CassandraBackupWorker() = default;

void CassandraBackupWorker::setExtentSize(uint64_t size) {
  extentSize = size;
  SetItemExtentSize(size);
  TQLOG(0, "Using extent size: %lu", static_cast<unsigned long>(size));
}

CQiError CassandraBackupWorker::DoBackup(const std::string& collectFile, int64_t taskId,
                                         const std::string& taskPayload,
                                         const std::string& streamName) {
  CQiError error = MultiNodeBackupOpsWorker::DoBackup(collectFile, taskId, taskPayload, streamName);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupWorker::BackupFile() {
  cassandraParams = boost::dynamic_pointer_cast<CassandraBackupWorkerParams>(GetWorkerParams());
  if (!cassandraParams) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Invalid Cassandra config object");
  }
  CQiError error = cassandraParams->commitLogJob != 0 ? fetchCassandraNodePathForLog()
                                                      : fetchCassandraNodePathForData();
  if (error.IsError()) {
    TQLOG(-1, "Failed to backup file %s. Error: %s", GetCurrentFilePath().c_str(),
          error.AsString(2).c_str());
    return error.Push(FXLOC);
  }
  return cassandraParams->commitLogJob != 0 ? backupCommitLog() : backupData();
}

void CassandraBackupWorker::BuildNodePathCache() {
  nodePathCache.clear();
  const bool commitLogs = cassandraParams->commitLogJob != 0;
  for (const CassandraNodeInstanceParams& instance : cassandraParams->instanceParams) {
    const std::vector<std::string> directories =
        commitLogs ? std::vector<std::string>{instance.commitLogDirectory}
                   : instance.dataDirectories;
    for (const std::string& directory : directories) {
      if (directory.empty()) continue;
      CassandraNodeInstanceParams entry(instance.dataCenter, instance.rack, instance.instanceName,
                                        std::vector<std::string>(), instance.commitLogDirectory);
      // A directory listed by two instances belongs to the first.
      nodePathCache.emplace(WithoutFinalSlash(directory), entry);
    }
  }
  cacheSource_ = cassandraParams.get();
  cacheOfCommitLogs_ = commitLogs;
}

const std::pair<const std::string, CassandraNodeInstanceParams>*
CassandraBackupWorker::FindInstanceOfCurrentFile() {
  if (cacheSource_ != cassandraParams.get() ||
      cacheOfCommitLogs_ != (cassandraParams->commitLogJob != 0)) {
    BuildNodePathCache();
  }
  const std::string path = WithoutFinalSlash(GetCurrentFilePath());
  const std::pair<const std::string, CassandraNodeInstanceParams>* best = nullptr;
  // Only absolute paths: nothing is read relative to the working directory.
  const bool absolute = !path.empty() && path[0] == '/';
  for (const auto& entry : nodePathCache) {
    if (!absolute || entry.first.empty() || entry.first[0] != '/') continue;
    if (IsAtOrBelow(path, entry.first) && (!best || entry.first.size() > best->first.size())) {
      best = &entry;
    }
  }
  if (!best) {
    dataCenter.clear();
    rack.clear();
    instanceName.clear();
    commitLogDirectory.clear();
    dataDirectory.clear();
    return nullptr;
  }
  dataCenter = best->second.dataCenter;
  rack = best->second.rack;
  instanceName = best->second.instanceName;
  commitLogDirectory = best->second.commitLogDirectory;
  return best;
}

CQiError CassandraBackupWorker::fetchCassandraNodePathForData() {
  const auto* found = FindInstanceOfCurrentFile();
  if (!found) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1168, "%s lies in no data directory of this node's Cassandra instances",
        GetCurrentFilePath().c_str());
  }
  dataDirectory = found->first;
  return CQiError::Success();
}

CQiError CassandraBackupWorker::fetchCassandraNodePathForLog() {
  if (!FindInstanceOfCurrentFile()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1168, "%s lies in no commit-log directory of this node's Cassandra instances",
        GetCurrentFilePath().c_str());
  }
  return CQiError::Success();
}

CQiError CassandraBackupWorker::backupData() {
  const std::string& filePath = GetCurrentFilePath();
  const uint64_t flags = GetItemFlags();
  const std::string& cluster = cassandraParams->clusterName;
  // A directory listed with a final "/" names the same directory.
  const std::string path = WithoutFinalSlash(filePath);

  if (path == dataDirectory) {
    CQiError error = BackupItem(filePath, {cluster}, flags);
    if (error.IsError()) return error.Push(FXLOC);
    error = BackupItem(filePath, {cluster, dataCenter}, flags);
    if (error.IsError()) return error.Push(FXLOC);
    return BackupItem(filePath, {cluster, dataCenter, instanceName}, flags);
  }

  // The components below the data directory: keyspace, table directory, and
  // whatever lies below the table directory.
  const std::string below = path.substr(dataDirectory == "/" ? 1 : dataDirectory.size() + 1);
  std::vector<std::string> parts;
  FXString::Split(below, "/", parts, FXString::kKeepEmpty);
  const std::string& keyspace = parts[0];
  if (parts.size() == 1) {
    return BackupItem(filePath, {cluster, dataCenter, instanceName, keyspace}, flags);
  }
  const std::string table = parts[1].substr(0, parts[1].find('-'));
  if (parts.size() == 2) {
    return BackupItem(filePath, {cluster, dataCenter, instanceName, keyspace, table}, flags);
  }
  CQiError error = BackupItem(
      filePath, {cluster, dataCenter, instanceName, keyspace, table, parts.back()}, flags);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupWorker::backupCommitLog() {
  const std::string& filePath = GetCurrentFilePath();
  std::vector<std::string> components = {cassandraParams->clusterName, dataCenter, instanceName,
                                         OBJECTOPSAPI::kCassandraCommitLogComponent};
  const uint64_t flags = GetItemFlags() | OBJECTOPSAPI::kCassandraCommitLogItemFlag;
  if (WithoutFinalSlash(filePath) != WithoutFinalSlash(commitLogDirectory)) {
    components.push_back(filePath.substr(filePath.rfind('/') + 1));
  }
  return BackupItem(filePath, components, flags);
}

CQiError CassandraBackupWorker::BackupItem(const std::string& filePath,
                                           const std::vector<std::string>& components,
                                           uint64_t flags) {
  std::string headerPath;
  CQiError error = HeaderPath(components, filePath, headerPath);
  if (!error.IsError()) {
    TQLOG(3, "Filename: %s File Header string: %s", filePath.c_str(), headerPath.c_str());
    OBJECTOPSAPI::BackupCassandraItem item(filePath, headerPath, flags, GetItemExtentParams());
    error = item.backup(GetStreamHandler().get(), CassandraJobAbortCheck());
    if (!error.IsError()) return CQiError::Success();
  }

  TQLOG(-1, "Failed to backup file %s. Error: %s", filePath.c_str(), error.AsString(2).c_str());
  // Items at keyspace level or below (the fourth component is the keyspace);
  // the failures list is skipped silently when it cannot take the line.
  if (cassandraParams && cassandraParams->commitLogJob == 0 && components.size() >= 4 &&
      !components[3].empty() && components[3] != OBJECTOPSAPI::kCassandraCommitLogComponent) {
    CassandraHandleFailedFiles::AddFailedKeyspace(cassandraParams->failedFilePath, instanceName,
                                                  components[3]);
  }
  return error.Push(FXLOC);
}
