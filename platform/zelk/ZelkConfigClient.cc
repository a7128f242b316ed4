#include "platform/zelk/ZelkConfigClient.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <optional>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/base/QiDirectory.h"
#include "platform/index/ArchiveStore.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/DemangleHostName.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/zelk/ZelkShareStore.h"

namespace Zelk {

namespace {

bool SwitchOn(const char* name) {
  int64_t value = 0;
  return TQPlatformInfo().getNumber(ZelkConfigClient::kRegistrySection, name, value) != 0 &&
         value != 0;
}

// The components of an index path, or nothing when one of them could lead
// out of the export folder.
std::optional<std::vector<std::string>> SafeComponents(const std::string& headerPath) {
  if (headerPath.size() < 2 || headerPath[0] != '/') return std::nullopt;
  std::vector<std::string> parts;
  FXString::Split(headerPath.substr(1), "/", parts, FXString::kKeepEmpty);
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos) {
      return std::nullopt;
    }
  }
  return parts;
}

// "700:600" -> directory and file modes.
bool ParseAccess(const std::string& text, mode_t& directories, mode_t& files) {
  size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  // The parts are kept alive while strtoul's end pointer is read.
  const std::string directoryText = text.substr(0, colon);
  const std::string fileText = text.substr(colon + 1);
  char* end = nullptr;
  unsigned long d = strtoul(directoryText.c_str(), &end, 8);
  if (*end != '\0' || d > 0777) return false;
  unsigned long f = strtoul(fileText.c_str(), &end, 8);
  if (*end != '\0' || f > 0777) return false;
  directories = static_cast<mode_t>(d);
  files = static_cast<mode_t>(f);
  return true;
}

struct SExportSettings {
  bool hasModes = false;
  mode_t directoryMode = 0700;
  mode_t fileMode = 0600;
  int64_t uid = -1;
  int64_t gid = -1;
};

void ApplyOwnerAndMode(const std::string& path, bool isDirectory, const SExportSettings& s) {
  if (s.hasModes) chmod(path.c_str(), isDirectory ? s.directoryMode : s.fileMode);
  if (s.uid >= 0 && s.gid >= 0 &&
      lchown(path.c_str(), static_cast<uid_t>(s.uid), static_cast<gid_t>(s.gid)) != 0) {
    TQLOG(3, "Exported %s keeps its owner: %s", path.c_str(), strerror(errno));
  }
}

// Creates `root`/`parts` (all but the last `skipLast` components) with the
// share's mode and owner.
CQiError MakeFolders(const std::string& root, const std::vector<std::string>& parts, size_t count,
                     const SExportSettings& settings) {
  std::string path = root;
  for (size_t i = 0; i < count; ++i) {
    path += "/" + parts[i];
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s is both a file and a folder in the share",
                                       path.c_str());
      }
      continue;
    }
    CQiError e = CQiDirectory::Create(path.c_str(), false);
    if (e.IsError()) return e.Push(FXLOC);
    ApplyOwnerAndMode(path, true, settings);
  }
  return CQiError::Success();
}

}  // namespace

ZelkConfigClient::ZelkConfigClient(const std::string& host, int64_t jobId, void*, int)
    : jobId_(jobId) {
  std::string hostName, clientName;
  host_ = DemangleHostName(host, hostName, clientName) ? hostName : host;
}

CQiError ZelkConfigClient::StartZelkServer() {
  if (SwitchOn("nFailStart")) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1722, "The network file server could not be started on %s", host_.c_str());
  }
  CQiError e = CZelkShareStore().MarkServerRunning(host_);
  if (e.IsError()) return e.Push(FXLOC);
  TQLOG(2, "Network file server runs on %s", host_.c_str());
  return CQiError::Success();
}

CQiError ZelkConfigClient::CreateZelkNetworkShare(const App::SetZELKSharePropsReq& request,
                                                  App::SetZELKSharePropsResp& response) {
  CZelkShareStore store;
  if (!store.IsServerRunning(host_)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1722, "The network file server does not run on %s",
                                   host_.c_str());
  }
  if (request.getOperation() != 4) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Unsupported share operation %lld",
                                   static_cast<long long>(request.getOperation()));
  }
  std::optional<App::ZELKShareInfo> info = request.getShareInfo();
  if (!info) return FXErrorUtil::ErrorWin32(FXLOC, 87, "The share request has no share");

  SZelkShare share;
  share.name = info->getShareName();
  if (!CZelkShareStore::IsValidShareName(share.name)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a usable share name: \"%s\"",
                                   share.name.c_str());
  }
  share.server = host_;
  share.jobId = jobId_;
  share.hosts = info->getHosts();
  if (auto subclient = info->getSubclient()) {
    share.subclientId = subclient->getSubclientId();
    share.backupSetId = subclient->getBackupsetId();
  } else if (auto backupSet = info->getBackupSet()) {
    share.backupSetId = backupSet->getBackupSetId();
  }
  if (auto from = info->getFromTime()) share.fromTime = from->getTime();
  if (auto to = info->getToTime()) share.toTime = to->getTime();

  SExportSettings settings;
  for (const App::KeyValueInfo& property : info->getProperties()) {
    const std::string key = property.getKey();
    const std::string value = property.getValue();
    char* end = nullptr;
    if (key == "uid" || key == "gid") {
      long long id = strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || id < 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "Not a usable %s for the share: \"%s\"",
                                       key.c_str(), value.c_str());
      }
      (key == "uid" ? share.uid : share.gid) = id;
    } else if (key == "accessPerm") {
      if (!ParseAccess(value, settings.directoryMode, settings.fileMode)) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, 87, "Not a usable access setting for the share: \"%s\"", value.c_str());
      }
      settings.hasModes = true;
      share.accessPerm = value;
    }
  }
  settings.uid = share.uid;
  settings.gid = share.gid;

  if (SwitchOn("nNoShareId")) {
    TQLOG(1, "Share %s not created: the server answers without a share id", share.name.c_str());
    return CQiError::Success();
  }

  // A share of the same name (an earlier run of the job) is replaced.
  SZelkShare old;
  if (!store.FindByName(share.name, old).IsError()) {
    CQiError e = store.Remove(old.id);
    if (e.IsError()) return e.Push(FXLOC);
  }

  // The tree is built beside its place and renamed in when complete.
  const std::string target = store.ExportPath(share.name);
  const std::string building = store.Root() + "/exports/.building-" + share.name;
  CQiDirectory::Remove(building.c_str(), true, true);
  CQiDirectory::Remove(target.c_str(), true, true);
  CQiError e = CQiDirectory::Create(building.c_str(), true);
  if (e.IsError()) return e.Push(FXLOC);
  ApplyOwnerAndMode(building, true, settings);

  auto fail = [&](CQiError error) {
    CQiDirectory::Remove(building.c_str(), true, true);
    return error.Push(FXLOC);
  };

  CArchiveStore archive;
  e = archive.Open();
  if (e.IsError()) return fail(e);
  SBrowseScope scope;
  scope.backupsetId = share.backupSetId;
  scope.subclientId = share.subclientId;
  scope.fromTime = share.fromTime;
  scope.toTime = share.toTime;
  std::vector<SFileRecord> records;
  e = archive.Catalog().QueryFileRecordsUnder(scope, "/", records);
  if (e.IsError()) return fail(e);

  // Records come grouped by index path; the newest job's version counts.
  size_t begin = 0;
  while (begin < records.size()) {
    size_t end = begin;
    while (end < records.size() && records[end].headerPath == records[begin].headerPath) ++end;
    const std::string headerPath = records[begin].headerPath;
    int64_t newestJob = 0;
    int64_t newestRecord = 0;
    for (size_t i = begin; i < end; ++i) {
      if (records[i].recordId > newestRecord) {
        newestRecord = records[i].recordId;
        newestJob = records[i].jobId;
      }
    }
    const bool isDirectory = records[begin].isDirectory;
    begin = end;

    auto parts = SafeComponents(headerPath);
    if (!parts) {
      TQLOG(1, "Item %s not exported: its path would leave the share", headerPath.c_str());
      continue;
    }
    bool commitLog = false;
    for (const std::string& part : *parts) commitLog = commitLog || part == "#COMMITLOG#";
    if (commitLog) continue;

    if (isDirectory) {
      e = MakeFolders(building, *parts, parts->size(), settings);
      if (e.IsError()) return fail(e);
      continue;
    }
    e = MakeFolders(building, *parts, parts->size() - 1, settings);
    if (e.IsError()) return fail(e);
    std::string path = building;
    for (const std::string& part : *parts) path += "/" + part;
    e = archive.RestoreItem(newestJob, headerPath, path);
    if (e.IsError()) return fail(e);
    ApplyOwnerAndMode(path, false, settings);
    ++share.files;
  }

  if (rename(building.c_str(), target.c_str()) != 0) {
    return fail(
        FXErrorUtil::ErrorErrNo(FXLOC, errno, "Cannot publish the share %s", share.name.c_str()));
  }
  e = store.Add(share);
  if (e.IsError()) {
    CQiDirectory::Remove(target.c_str(), true, true);
    return e.Push(FXLOC);
  }
  response.setShareId(share.id);
  TQLOG(2, "Share %s (id %u) exports %llu files of job %lld's range", share.name.c_str(), share.id,
        static_cast<unsigned long long>(share.files), static_cast<long long>(jobId_));
  return CQiError::Success();
}

CQiError ZelkConfigClient::DeleteZelkNetworkShare(uint32_t shareId) {
  if (SwitchOn("nFailDelete")) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The network file server could not delete share %u",
                                   shareId);
  }
  CQiError e = CZelkShareStore().Remove(shareId);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace Zelk
