// The incremental file cleanup of the post-operations controller: the files
// that the completed backup tasks stored, and the backups folders of the
// tables whose snapshot the job took.

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cleanup/CassandraPostOpCleanupController.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/base/QiFile.h"
#include "platform/framework/ClientConfig.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/CollectFileEntry.h"

namespace TQCassandra {

namespace {

using MultiNodeBackupOps::CCollectFileEntry;

// The "/"-separated components of a path, empty ones left out.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool IsPlainComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// An absolute path without "." or ".." components.
bool IsCleanAbsolutePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  for (const std::string& part : Components(path)) {
    if (part == "." || part == "..") return false;
  }
  return true;
}

// The path a collect-file line names; false for a line that names none
// (extent entries, which the cleanup leaves, and unreadable lines).
bool PathOfLine(const std::string& line, std::string& path) {
  if (line.compare(0, strlen(CCollectFileEntry::kExtentPrefix), CCollectFileEntry::kExtentPrefix) ==
      0) {
    return false;
  }
  if (line.compare(0, strlen(CCollectFileEntry::kContainerPrefix),
                   CCollectFileEntry::kContainerPrefix) == 0) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos) return false;
    const size_t colon = line.find(':', slash);
    path = line.substr(slash, colon == std::string::npos ? std::string::npos : colon - slash);
    TQLOG(2, "New file to delete: %s", path.c_str());
    return true;
  }
  // A numbered collect file's line; a flat collect file that was never split
  // keeps "<item>|<size>" lines.
  CCollectFileEntry entry;
  if (CCollectFileEntry::ParseNumberedLine(line, entry).IsError() &&
      CCollectFileEntry::ParseFlatLine(line, entry).IsError()) {
    TQLOG(1, "Unreadable collect file line: %s", line.c_str());
    return false;
  }
  if (entry.isExtent) return false;
  path = entry.path;
  return true;
}

}  // namespace

bool CassandraPostOpCleanupController::SnapshotTableOf(const std::string& path,
                                                       std::string& keyspace, std::string& table) {
  const std::vector<std::string> parts = Components(path);
  // The last "snapshots" component with a snapshot name and a file after it
  // and a data directory, keyspace and table before it; a "backups"
  // component after it makes the path a backups file of a keyspace or
  // table that is itself named "snapshots".
  for (size_t i = parts.size(); i-- > 0;) {
    if (parts[i] == "backups") return false;
    if (parts[i] != "snapshots" || i + 2 >= parts.size()) continue;
    if (i < 3) return false;
    keyspace = parts[i - 2];
    table = parts[i - 1];
    return IsPlainComponent(keyspace) && IsPlainComponent(table);
  }
  return false;
}

void CassandraPostOpCleanupController::recordDeleteFailure(const std::string& path, int error) {
  deleteFailed = true;
  TQLOG(-1, "Failed to unlink the file %s: Errno: %s", path.c_str(), strerror(error));
  failedPaths.push_back(path);
}

bool CassandraPostOpCleanupController::isTableBackupsFolder(const std::string& path) const {
  if (!IsCleanAbsolutePath(path)) return false;
  const std::vector<std::string> parts = Components(path);
  // <data directory>/<keyspace>/<table>/backups
  if (parts.size() < 4 || parts.back() != "backups") return false;
  // The cleanup information file names the data directories only of the
  // instances that took a snapshot: when it names any, the folder must lie
  // at its place in one of them.
  bool inDataDirectory = dataDirs.empty();
  for (const std::string& directory : dataDirs) {
    if (!IsCleanAbsolutePath(directory)) continue;
    const std::vector<std::string> base = Components(directory);
    if (base.size() + 3 == parts.size() && std::equal(base.begin(), base.end(), parts.begin())) {
      inDataDirectory = true;
      break;
    }
  }
  if (!inDataDirectory) return false;
  // The backups folder and its table and keyspace folders are real
  // folders, not links to folders elsewhere.
  std::string folder = path;
  for (int level = 0; level < 3; ++level) {
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    folder = folder.substr(0, folder.rfind('/'));
  }
  return true;
}

void CassandraPostOpCleanupController::readCleanupInfo() {
  snapshotTime = 0;
  dataDirs.clear();
  std::ifstream in(FXPath::Join(clientConfig->getJobResultsDirectory(), kCleanupInfoFileName),
                   std::ios::binary);
  if (!in) {
    TQLOG(1, "No %s: no snapshot time, no data directories", kCleanupInfoFileName);
    return;
  }
  std::string line;
  if (std::getline(in, line)) snapshotTime = std::strtol(line.c_str(), nullptr, 10);
  while (std::getline(in, line)) {
    // "<instance> ;<dir>;<dir>...": the directories follow the first blank
    // that precedes a ";".
    const size_t start = line.find(" ;");
    if (start == std::string::npos) continue;
    std::vector<std::string> directories;
    FXString::Split(line.substr(start + 1), ";", directories);
    for (const std::string& directory : directories) {
      if (!directory.empty()) dataDirs.push_back(directory);
    }
  }
}

CassandraPostOpCleanupController::CollectFileResult
CassandraPostOpCleanupController::cleanupCollectFile(const std::string& path,
                                                     TQBkpLevel passLevel) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return kNotOpened;
  TQLOG(2, "Deleting entries from collect file %s", path.c_str());
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::string file;
    if (!PathOfLine(line, file)) continue;
    struct stat st;
    if (lstat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;

    std::string keyspace, table;
    if (SnapshotTableOf(file, keyspace, table)) {
      for (const std::string& directory : dataDirs) {
        std::string backups = directory;
        FXPath::Append(backups, keyspace);
        FXPath::Append(backups, table);
        FXPath::Append(backups, "backups");
        deleteFiles(backups, snapshotTime);
      }
      continue;
    }
    // Any other line names a file that the backup saved from a table's
    // backups folder. A line whose folder is not such a folder (a table or
    // keyspace folder that is gone, a live SSTable) is left, and so is its
    // folder.
    // A commit-log job lists the archived segments ("CommitLog..." files of
    // the archive folder): those are deleted too, and nothing around them
    // is swept.
    const size_t slash = file.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : file.substr(0, slash);
    const bool commitLog = slash != std::string::npos && IsCleanAbsolutePath(file) &&
                           file.compare(slash + 1, 9, "CommitLog") == 0;
    if (!commitLog && !isTableBackupsFolder(parent)) {
      TQLOG(1, "Not deleting %s: not a file of a table's backups folder", file.c_str());
      continue;
    }
    if (lstat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      TQLOG(1, "Not deleting %s: not a regular file", file.c_str());
      continue;
    }
    if (unlink(file.c_str()) != 0) {
      const int error = errno;
      // An incremental pass that cannot remove a listed file (one already
      // gone included) gives way to a pass over the full collect files.
      if (passLevel == TQBkpLevel_Incremental) return kRestart;
      if (error == ENOENT) {
        TQLOG(1, "%s is already gone", file.c_str());
      } else {
        recordDeleteFailure(file, error);
      }
    }
    if (commitLog) continue;

    // The subfolders of the backups folder (secondary indexes) are swept by
    // the snapshot time; its other files are left to their own lines.
    TQLOG(2, "Backups dir: %s, snap time: %ld", parent.c_str(), snapshotTime);
    DIR* dir = opendir(parent.c_str());
    if (dir == nullptr) {
      TQLOG(1, "Opendir failed for path %s", parent.c_str());
      continue;
    }
    std::vector<std::string> subfolders;
    while (struct dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string full = parent + "/" + name;
      TQLOG(3, "Full path: %s %d", full.c_str(), static_cast<int>(entry->d_type));
      if (lstat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        TQLOG(2, "%s is not a file", full.c_str());
        subfolders.push_back(full);
      }
    }
    closedir(dir);
    for (const std::string& subfolder : subfolders) deleteFiles(subfolder, snapshotTime);
  }
  return kRead;
}

CQiError CassandraPostOpCleanupController::cleanupIncrFiles(TQBkpLevel level) {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) return CQiError::Success();
  const std::string directory = clientConfig->getJobResultsDirectory();
  filesToCleanupPath = FXPath::Join(directory, kFilesToCleanupName);
  failedPaths.clear();
  readCleanupInfo();

  std::vector<std::string> entries;
  FXString::Split(taskStatus, "|", entries);
  // An incremental pass that cannot remove a listed file ends there, and
  // one pass over the full collect files follows.
  TQBkpLevel passLevel = level;
  bool restart = true;
  while (restart) {
    restart = false;
    for (const std::string& entry : entries) {
      const size_t colon = entry.find(':');
      if (entry.empty() || colon == std::string::npos || entry.substr(colon + 1) != "-1") continue;
      long long number = 0;
      if (!FXString::ParseDecimal(entry.substr(0, colon), 0, INT32_MAX, number)) continue;
      const std::string tot =
          FXPath::Join(directory, FXString::Format("CollectTot%lld.tqf", number));
      CollectFileResult result = kNotOpened;
      if (passLevel == TQBkpLevel_Full) {
        result = cleanupCollectFile(tot, passLevel);
      } else {
        const std::string inc =
            FXPath::Join(directory, FXString::Format("CollectInc%lld.tqf", number));
        result = cleanupCollectFile(inc, passLevel);
        if (result == kNotOpened) result = cleanupCollectFile(tot, passLevel);
        if (result == kNotOpened) TQLOG(1, "Failed to open collect file %s", tot.c_str());
      }
      if (result == kRestart) {
        passLevel = TQBkpLevel_Full;
        restart = true;
        break;
      }
    }
  }

  if (deleteFailed) {
    // Every path left in this run, one a line, escaped like a collect-file
    // path so that each stays on its line.
    std::string text;
    for (const std::string& path : failedPaths) {
      text += CCollectFileEntry::EncodePath(path) + "\n";
    }
    CQiError e = CQiFile::ReplaceWholeFile(filesToCleanupPath.c_str(), text);
    if (e.IsError()) {
      TQLOG(-1, "Failed to write %s: %s", filesToCleanupPath.c_str(), e.AsString(2).c_str());
    }
    EvEvent event;
    event << filesToCleanupPath;
    event.InfoEvent(kEvIncrCleanupIncomplete);
  }
  return CQiError::Success();
}

void CassandraPostOpCleanupController::deleteFiles(const std::string& directory, long time) {
  // The folder itself must be a folder, not a link to one elsewhere.
  struct stat self;
  if (lstat(directory.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) {
    TQLOG(1, "Opendir failed for path %s", directory.c_str());
    return;
  }
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    TQLOG(1, "Opendir failed for path %s", directory.c_str());
    return;
  }
  std::vector<std::string> subfolders;
  while (struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = directory + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) {
      if (st.st_mtime >= time) continue;
      TQLOG(2, "Unlinking file %s with modified time lower than %ld", path.c_str(), time);
      if (unlink(path.c_str()) != 0 && errno != ENOENT) recordDeleteFailure(path, errno);
    } else if (S_ISDIR(st.st_mode)) {
      TQLOG(2, "%s is not a file", path.c_str());
      subfolders.push_back(path);
    }
    // A symbolic link (or anything else) is left alone and never followed.
  }
  closedir(dir);
  for (const std::string& subfolder : subfolders) deleteFiles(subfolder, time);
}

}  // namespace TQCassandra
