// The stage-free load: the node mounts the coordinator's network share and
// loads each restored table straight from it with sstableloader.

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "platform/suite/TQRstJobClient.h"
#include "platform/suite/TqMount.h"
#include "platform/suite/TqProcess.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

namespace {

// Characters that stand on the mount command line: the folder is not quoted
// there and the share between double quotes, so only characters that mean
// nothing to the shell in either place are accepted.
bool IsPlainCommandText(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-' || c == '/' || c == '+' || c == ',' ||
                       c == '=' || c == '@' || c == '%';
    if (!plain) return false;
  }
  return true;
}

// True when every "/"-separated component of `path` is a plain name (no
// empty, "." or ".." component), so that joining it below a folder stays
// below that folder.
bool StaysBelow(const std::string& path) {
  std::vector<std::string> parts;
  FXString::Split(path, "/", parts, FXString::kKeepEmpty);
  if (parts.empty()) return false;
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == "..") return false;
  }
  return true;
}

}  // namespace

CQiError CCassandraRestoreController::handleStageFreeRestore() {
  TQ_DEBUG_FUNCTION();
  if (!zelkOptions) {
    stageFreeFinished = true;
    markReloadFailed();
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "The node start payload holds no stage-free restore parameters");
  }
  const std::string server = zelkOptions->getServerHost();
  const std::string sharePath = "/" + zelkOptions->getShareName();
  const std::vector<std::string> prefixes = zelkOptions->getSourcePrefixes();
  const std::string mountDirectory = zelkOptions->getMountDirectory();
  const int64_t port = zelkOptions->hasTunnelingPort() ? zelkOptions->getTunnelingPort() : 0;

  // The folder stands unquoted on the command line and the share in double
  // quotes: values that the shell would read as more than text, or a folder
  // that is not a plain absolute path, are refused before anything is done.
  if (!IsPlainCommandText(server) || !IsPlainCommandText(zelkOptions->getShareName()) ||
      zelkOptions->getShareName().find('/') != std::string::npos ||
      !IsPlainCommandText(mountDirectory) || mountDirectory[0] != '/' ||
      (mountDirectory.size() > 1 && !StaysBelow(mountDirectory.substr(1)))) {
    stageFreeFinished = true;
    markReloadFailed();
    return FXErrorUtil::ErrorWin32(
        FXLOC, 87, "Refusing to mount the network share \"%s:%s\" at \"%s\": not a plain name",
        server.c_str(), sharePath.c_str(), mountDirectory.c_str());
  }

  CQiError error = CQiDirectory::Create(mountDirectory.c_str(), true);
  if (error.IsError()) return error.Push(FXLOC);

  const std::string nfsShare = server + ":" + sharePath;
  std::string mountOptions = "nolock";
  if (port != 0) {
    const std::string p = std::to_string(static_cast<long long>(port));
    mountOptions += ",port=" + p + ",mountport=" + p + ",proto=tcp,vers=3";
  }
  const std::string command =
      std::string(" mount -o ") + mountOptions + " \"" + nfsShare + "\" " + mountDirectory;
  TQLOG(3, "nfsServer: %s, nfsSharePath: %s, options: %s", server.c_str(), nfsShare.c_str(),
        mountOptions.c_str());

  std::string out, err;
  if (TqProcess::system(command.c_str(), out, err, 0, false) != 0) {
    stageFreeFinished = true;
    EvEvent event;
    event << nfsShare << mountDirectory << mountOptions;
    event.MajorEvent(kEvMountFailed);
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to mount the nfs path: %s %s", out.c_str(),
                                   err.c_str());
  }

  TQJobCtrlClientPtr jobControl;
  GetJobControllerObj(jobControl);

  const std::string target = TQPI_Focus::getFocusClientName(true).str();
  std::vector<DistributedQEL::CassandraKeyspace> keyspaces = zelkOptions->getKeyspaces();
  size_t tables = 0;
  for (const auto& keyspace : keyspaces) tables += keyspace.getTables().size();

  // A load that cannot run is a failed load, never a silent success: no job
  // control client, no Priam for this machine, or nothing to load from.
  bool canLoad = true;
  if (tables > 0) {
    auto priam = priamByTarget.find(target);
    if (!jobControl) {
      TQLOG(-1, "No job control client: the stage-free load of %s cannot run", target.c_str());
      canLoad = false;
    } else if (priam == priamByTarget.end() || !priam->second || !priam->second->getIsConnected()) {
      TQLOG(-1, "Priam not initialized or not started on %s. Skipping cassandra restore",
            target.c_str());
      canLoad = false;
    } else if (prefixes.empty()) {
      TQLOG(-1, "No source node to load from the network share for %s", target.c_str());
      canLoad = false;
    }
    if (!canLoad) markReloadFailed();
  }

  for (const auto& keyspace : keyspaces) {
    const std::string keyspaceName = keyspace.getKeyspaceName();
    for (const auto& table : keyspace.getTables()) {
      if (!canLoad || !jobControl || jobControl->checkQuitFlag()) continue;
      const std::string tableName = table.getTableName();
      for (const std::string& prefix : prefixes) {
        if (!StaysBelow(prefix) || !StaysBelow(keyspaceName) || !StaysBelow(tableName) ||
            keyspaceName.find('/') != std::string::npos ||
            tableName.find('/') != std::string::npos) {
          TQLOG(-1, "Not loading %s.%s of %s: the names would lead outside the network share",
                keyspaceName.c_str(), tableName.c_str(), prefix.c_str());
          markReloadFailed();
          continue;
        }
        CQiString loadPath(mountDirectory.c_str());
        std::vector<std::string> prefixParts;
        FXString::Split(prefix, "/", prefixParts, FXString::kKeepEmpty);
        for (const std::string& part : prefixParts) FXPath::Append(loadPath, part.c_str());
        FXPath::Append(loadPath, keyspaceName.c_str());
        FXPath::Append(loadPath, tableName.c_str());
        TQLOG(0, "Loading SSTables from path: %s", loadPath.c_str());
        runSSTableLoader(target, loadPath, false);
      }
    }
  }

  const int result = TqMount::umount(mountDirectory.c_str());
  if (result != 0) {
    TQLOG(-1, "Failed to unmount the nfs path: %d", result);
    EvEvent event;
    event << mountDirectory;
    event.MajorEvent(kEvUnmountFailed);
  }

  error = CQiDirectory::Remove(mountDirectory.c_str(), false, false);
  if (error.IsError()) {
    TQLOG(0, "Failed to delete the mount directory %s: %s", mountDirectory.c_str(),
          error.AsString().c_str());
    EvEvent event;
    event << mountDirectory;
    event.MajorEvent(kEvMountDirDeleteFailed);
  }

  stageFreeFinished = true;
  return CQiError::Success();
}

}  // namespace TQCassandra
