// How the data mover puts written table files under their names: the
// components of one SSTable together, each journaled before it is renamed.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/datamover/RestoreDataMover.h"
#include "platform/datamover/RestoreTargets.h"
#include "platform/datamover/SSTableName.h"

namespace TqDataMover {

namespace {

std::string NameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A seam for tests of a killed or stopped restore: with
// TQ_KILL_AFTER_PLACED_FILES=<n> the process kills itself outright once it
// has renamed <n> table files into place, as a power loss would stop it;
// TQ_KILL_SIGNAL=<number> sends that signal instead, once (SIGTERM: the
// user's stop).
void KillPointAfterRename() {
  static const long long limit = [] {
    const char* text = std::getenv("TQ_KILL_AFTER_PLACED_FILES");
    long long value = 0;
    if (text == nullptr || !FXString::ParseDecimal(text, 1, 1LL << 40, value)) return 0LL;
    return value;
  }();
  static const int signal = [] {
    const char* text = std::getenv("TQ_KILL_SIGNAL");
    long long value = 0;
    if (text == nullptr || !FXString::ParseDecimal(text, 1, 64, value)) return SIGKILL;
    return static_cast<int>(value);
  }();
  static std::atomic<long long> renamed{0};
  if (limit <= 0) return;
  const long long count = ++renamed;
  if (signal == SIGKILL ? count >= limit : count == limit) ::kill(::getpid(), signal);
}

}  // namespace

CQiError CRestoreDataMover::PlaceTableFiles(const std::vector<SHeldComponent>& files,
                                            const std::string& root, bool grouped) {
  CRestoreTargets& targets = CRestoreTargets::Instance();
  // Each SSTable file is journaled before it is visible under its name, so
  // that the files of a run killed before it loaded them can be found.
  std::vector<CRestoreJournal::SPlaced> notes;
  for (const SHeldComponent& file : files) {
    SSSTableName parsed;
    if (!SSSTableName::Parse(NameOf(file.path), parsed)) continue;
    CRestoreJournal::SPlaced note;
    note.device = file.device;
    note.inode = file.inode;
    note.size = file.size;
    note.mtimeNs = file.mtimeNs;
    note.path = file.path;
    notes.push_back(note);
  }
  CQiError error = journal_.NotePlaced(notes);
  size_t moved = 0;
  for (; !error.IsError() && moved < files.size(); ++moved) {
    const SHeldComponent& file = files[moved];
    // Inside table folders a restore only replaces what this job wrote
    // itself, and the snapshot's records.
    const bool replace = targets.WrittenBy(setup_.jobId, file.path) ||
                         CRestoreTargets::ReplacesEarlierCopy(NameOf(file.path));
    error = Move(file.temp, file.path, replace);
    if (error.IsError()) break;
    KillPointAfterRename();
  }
  if (error.IsError()) {
    // None of them stays: an SSTable is live whole or not at all.
    for (size_t i = 0; i < files.size(); ++i) {
      unlink((i < moved ? files[i].path : files[i].temp).c_str());
    }
    if (grouped) {
      CRestoreGenerations::Instance().PlacementFailed(setup_.jobId, files.front(),
                                                      error.GetMessage());
    }
    return error.Push(FXLOC);
  }
  for (const SHeldComponent& file : files) {
    targets.MarkWritten(setup_.jobId, file.path);
    const size_t slash = file.path.rfind('/');
    NoteFolderToFlush(file.path.substr(0, slash == 0 ? 1 : slash), root);
    ++progress_.files;
    progress_.bytes += static_cast<int64_t>(file.size);
    error = resultFile_.AddFile(file.path, file.size);
    if (error.IsError()) return error.Push(FXLOC);
  }
  return CQiError::Success();
}

void CRestoreDataMover::NoteFolderToFlush(const std::string& folder, const std::string& root) {
  // The new name, and the folders made for it (the restore's folder
  // included), are durable only once the folders holding them are flushed.
  for (std::string at = folder;;) {
    foldersToFlush_.insert(at);
    const size_t up = at.rfind('/');
    if (up == std::string::npos || up == 0) break;
    const bool last = at.size() <= root.size();
    at.erase(up);
    if (last) {
      foldersToFlush_.insert(at);
      break;
    }
  }
}

}  // namespace TqDataMover
