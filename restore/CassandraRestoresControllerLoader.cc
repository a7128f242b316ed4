// The load of staged restores with sstableloader: the folders filled are
// read from the restore result files of the job, and each is loaded through
// its node's Priam.

#include <sys/stat.h>

#include <cstdio>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiPath.h"
#include "platform/base/TQFile.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/json/TqJsonWriter.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_CommClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

namespace {

constexpr const char* kDataMark = "  DATA  ";
constexpr const char* kBeginMark = "BeginDistributedRestore";
constexpr const char* kEndMark = "EndDistributedRestore";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Whether `path` lies inside the folder `root` by whole components, at least
// two levels down (a table folder and its file), through no empty, "." or
// ".." component: the folder that is loaded, and removed after its load, is
// then always one inside `root` and never `root` itself.
bool LiesInside(const std::string& path, std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root.empty() || root == "/") return false;
  if (path.size() <= root.size() + 1 || path.compare(0, root.size(), root) != 0 ||
      path[root.size()] != '/') {
    return false;
  }
  size_t levels = 0;
  size_t start = root.size() + 1;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string part =
        path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    ++levels;
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return levels >= 2;
}

}  // namespace

std::string CCassandraRestoreController::JsonStringObject(
    const std::vector<std::pair<std::string, std::string>>& members) {
  TqJson::ObjectWriter body;
  for (const auto& member : members) body.Add(member.first, member.second);
  return body.Text();
}

std::string CCassandraRestoreController::restoreResultsDirectory() {
  const CQiString client = TQPI_Focus::getFocusClientName(true);
  const CQiString jobResults = TQPI_CommClient::getJobResultsDirectory(client.c_str());
  uint32_t number = 2;
  long long jobId = 0;
  if (const DistributedQEL::CClientConfigPtr& config = getClientConfig()) {
    jobId = config->getJobId();
    if (auto* restoreConfig = dynamic_cast<TQDC_FileSystem::CRestoreClientConfig*>(config.get())) {
      number = restoreConfig->getRestoreResultsNumber();
    }
  }
  return FXString::Format("%s/TQ_JobResults/%u/0/%lld/", jobResults.c_str(), number, jobId);
}

std::string CCassandraRestoreController::getInstanceFromPath(std::string& line) {
  const size_t mark = line.find(kDataMark);
  const std::string path = mark == std::string::npos ? line : line.substr(0, mark);
  // The deepest staging folder holding the path claims it, whatever the
  // order of the map.
  std::string key;
  size_t keyRootLength = 0;
  bool found = false;
  for (const auto& entry : hostStagingPath) {
    if (!LiesInside(path, entry.second)) continue;
    if (!found || entry.second.size() > keyRootLength) {
      key = entry.first;
      keyRootLength = entry.second.size();
      found = true;
    }
  }
  if (!found && LiesInside(path, stagePath)) {
    key = TQPI_Focus::getFocusClientName(true).str();
    found = true;
  }
  if (!found) return std::string();
  line = path;
  return key;
}

bool CCassandraRestoreController::collectStagedDirectories(
    std::map<std::string, std::list<std::string>>& loadSet) {
  const std::string directory = restoreResultsDirectory();
  TQLOG(2, " Current job result path [%s] ", directory.c_str());
  if (!CQiPath::IsDirectory(directory.c_str())) {
    TQLOG(-1, "Unable to access job result directory %s", directory.c_str());
    markReloadFailed();
    return false;
  }
  CQiDirectory listing;
  CQiError e = listing.Open(directory.c_str(), "*", true);
  if (e.IsError()) {
    TQLOG(-1, "Unable to open job result directory %s. Error: %s.", directory.c_str(),
          e.AsString().c_str());
    markReloadFailed();
    return false;
  }
  bool complete = true;
  for (;;) {
    SQiDirEntry entry;
    bool done = false;
    e = listing.GetEntry(entry, done);
    if (e.IsError()) {
      // A listing that fails may fail again at once: stop rather than spin.
      TQLOG(-1, "Unable to list files under job result directory %s. Error: %s.", directory.c_str(),
            e.AsString().c_str());
      markReloadFailed();
      complete = false;
      break;
    }
    if (done) break;
    const std::string name = entry.name.str();
    if (!StartsWith(name, "restore")) continue;
    const std::string path = directory + name;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
      TQLOG(1, "Not a restore result file, skipped [%s]", path.c_str());
      continue;
    }
    TQLOG(2, " Found match [%s] ", name.c_str());
    TQFile file;
    e = file.open(path.c_str(), "r");
    if (e.IsError()) {
      TQLOG(-1, "Unable to read entries from restore.out file %s. File open failed: %d.",
            path.c_str(), static_cast<int>(e.GetCode()));
      markReloadFailed();
      complete = false;
      continue;
    }
    std::string line;
    while (file.getLine(line)) {
      if (StartsWith(line, kBeginMark)) {
        TQLOG(2, " Begining for the file");
        continue;
      }
      if (StartsWith(line, kEndMark)) break;
      if (line.find(kDataMark) == std::string::npos) continue;
      TQLOG(2, " path [%s] ", line.c_str());
      const std::string key = getInstanceFromPath(line);
      if (key.empty()) continue;
      TQLOG(2, "Actual path [%s] ", line.c_str());
      if (!CQiPath::IsFile(line.c_str())) continue;
      const std::string parent = CQiPath::GetParent(line.c_str()).str();
      TQLOG(2, " found path [%s] ", parent.c_str());
      std::list<std::string>& folders = loadSet[key];
      bool known = false;
      for (const std::string& folder : folders) known = known || folder == parent;
      if (known) continue;
      TQLOG(2, " Adding path [%s] ", parent.c_str());
      folders.push_back(parent);
    }
  }
  return complete;
}

void CCassandraRestoreController::loadStagedDirectories() {
  TQ_DEBUG_FUNCTION();
  TQLOG(2, " Using sstable loader for restores");
  int64_t keep = 0;
  TQPlatformInfo registry;
  if (!registry.getNumber("Cassandra", "nKeepCassandraStagingPath", keep)) {
    TQLOG(-1, "Unable to fetch registry value name for retaining staged paths");
  }
  const bool removeAfterLoad = keep == 0;

  std::map<std::string, std::list<std::string>> loadSet;
  collectStagedDirectories(loadSet);

  TQJobCtrlClientPtr jobCtrl;
  if (GetJobControllerObj(jobCtrl).IsError()) jobCtrl.reset();
  for (const auto& entry : loadSet) {
    for (const std::string& folder : entry.second) {
      if (jobCtrl && jobCtrl->checkQuitFlag()) {
        TQLOG(-1, "Quit flag set. Lets error out");
        break;
      }
      CQiString directory(folder);
      runSSTableLoader(entry.first, directory, removeAfterLoad);
    }
  }
}

CQiError CCassandraRestoreController::runSSTableLoader(const std::string& targetKey,
                                                       CQiString& directory, bool removeAfterLoad) {
  TQ_DEBUG_FUNCTION();
  const std::string body =
      JsonStringObject({{"directory", directory.str()}, {"Connections", "2"}, {"Progress", "1"}});
  auto found = priamByTarget.find(targetKey);
  if (found == priamByTarget.end() || !found->second || !found->second->getIsConnected()) {
    TQLOG(-1, "Priam not initialized or not started on %s. Skipping cassandra restore",
          targetKey.c_str());
    // Only a staged restore (no Recover) runs without Priam; otherwise the
    // folder's data is not loaded.
    if (!recover) return CQiError::Success();
    markReloadFailed();
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No running Priam for %s to load %s",
                                   targetKey.c_str(), directory.c_str());
  }
  CQiString reply;
  CQiError e = found->second->get(1, CQiString("ExecuteBatch"), reply, CQiString(body));
  if (!e.IsError()) {
    TQLOG(2, "Successfully loaded tables [%s]", directory.c_str());
    if (removeAfterLoad) {
      TQLOG(2, "Deleting the staging path %s", directory.c_str());
      CQiDirectory::Remove(directory.c_str(), true, false);
    }
    return CQiError::Success();
  }
  TQLOG(-1, "Execution of sstableloader failed. Error [%s] [%s]", e.AsString().c_str(),
        reply.c_str());
  const std::string text = "Execution of sstableloader failed. Error[" + e.AsString() +
                           "] response[" + reply.str() + "]";
  TQLOG(-1, "%s", text.c_str());
  if (FXErrorUtil::IsWin32(e, 5)) {
    EvEvent event;
    event.MajorEvent(kEvPriamAccessDenied);
  }
  markReloadFailed();
  return e.Push(FXLOC);
}

}  // namespace TQCassandra
