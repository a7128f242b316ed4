// Target nodes whose Cassandra this controller stopped for a token takeover:
// each is recorded in memory and in a file of its work folder before the
// stop, and forgotten once Cassandra has started again. A restore that
// stops, fails or is asked to quit before the bring-up starts every such
// node again; a process killed outright leaves the files, from which the
// suite's next run starts the nodes.

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/datamover/RestoreJournal.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

std::string CCassandraRestoreController::stoppedRecordOf(const std::string& targetKey) const {
  auto work = workDirByTarget.find(targetKey);
  if (work == workDirByTarget.end()) return std::string();
  return FXPath::Join(work->second, kStoppedRecordName);
}

CQiError CCassandraRestoreController::recordStopped(const std::string& targetKey,
                                                    const std::string& configDirectory) {
  stoppedTargets.insert(targetKey);
  const std::string record = stoppedRecordOf(targetKey);
  if (record.empty()) return CQiError::Success();
  // Written before the stop: a process killed at any later point leaves it.
  CQiError e = CQiFile::ReplaceWholeFile(record.c_str(), configDirectory + "\n", 0600);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

void CCassandraRestoreController::forgetStopped(const std::string& targetKey) {
  if (stoppedTargets.erase(targetKey) == 0) return;
  const std::string record = stoppedRecordOf(targetKey);
  if (record.empty()) return;
  CQiError e = CQiFile::Delete(record.c_str());
  if (e.IsError()) {
    TQLOG(-1, "Failed to remove %s: %s", record.c_str(), e.AsString(2).c_str());
  }
}

void CCassandraRestoreController::startStoppedTargets() {
  if (stoppedTargets.empty()) return;
  std::string failed;
  // StartCassandra forgets the nodes it starts.
  const std::set<std::string> stopped = stoppedTargets;
  for (const std::string& targetKey : stopped) {
    TQLOG(0, "Starting Cassandra again on %s, stopped by this restore", targetKey.c_str());
    auto found = priamByTarget.find(targetKey);
    CQiError e;
    if (found == priamByTarget.end() || !found->second) {
      e = FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for target %s", targetKey.c_str());
    } else if (!found->second->getIsConnected()) {
      e = found->second->startPriam();
    }
    // A start loads every SSTable in the node's folders.
    if (!e.IsError() && !noteLoading(targetKey)) {
      e = FXErrorUtil::ErrorWin32(FXLOC, 29, "The restore journal of %s cannot be written",
                                  targetKey.c_str());
    }
    if (!e.IsError()) e = StartCassandra(targetKey);
    if (e.IsError()) {
      TQLOG(-1, "Cassandra could not be started again on %s: %s", targetKey.c_str(),
            e.AsString(2).c_str());
      failed += (failed.empty() ? "" : ", ") + targetKey;
    }
  }
  if (failed.empty()) return;
  TQLOG(-1, "Cassandra is still stopped on: %s", failed.c_str());
  EvEvent event;
  event << failed;
  event.MajorEvent(kEvNodeNotRestarted);
}

bool CCassandraRestoreController::noteLoading(const std::string& targetKey) {
  auto dirs = dataDirsByTarget.find(targetKey);
  if (dirs == dataDirsByTarget.end()) return true;
  const std::string folder = restoreResultsDirectory();
  for (const std::string& directory : dirs->second) {
    CQiError e = TqDataMover::CRestoreJournal::NoteLoading(folder, directory);
    if (e.IsError()) {
      TQLOG(-1, "Failed to note the loading of %s in %s: %s", directory.c_str(), folder.c_str(),
            e.AsString(2).c_str());
      return false;
    }
  }
  return true;
}

void CCassandraRestoreController::noteNotLoaded(const std::string& targetKey) {
  auto dirs = dataDirsByTarget.find(targetKey);
  if (dirs == dataDirsByTarget.end()) return;
  const std::string folder = restoreResultsDirectory();
  for (const std::string& directory : dirs->second) {
    CQiError e = TqDataMover::CRestoreJournal::NoteNotLoaded(folder, directory);
    if (e.IsError()) {
      // The files stay: the loading mark keeps them.
      TQLOG(-1, "Failed to note in %s that %s was not loaded: %s", folder.c_str(),
            directory.c_str(), e.AsString(2).c_str());
    }
  }
}

}  // namespace TQCassandra
