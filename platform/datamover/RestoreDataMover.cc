#include "platform/datamover/RestoreDataMover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/datamover/NoFollowPath.h"
#include "platform/datamover/RestoreTargets.h"
#include "platform/datamover/RestoreTaskItems.h"
#include "platform/framework/FSRestoreWorker.h"
#include "platform/framework/RestoreItemCallBack.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPI_Focus.h"

namespace TqDataMover {

namespace {

// Moves `from` to `to`; with `replace` false an existing `to` is kept and the
// move fails with error 80.
CQiError MoveInto(const std::string& from, const std::string& to, bool replace) {
  if (replace) {
    if (rename(from.c_str(), to.c_str()) == 0) return CQiError::Success();
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to move %s to %s", from.c_str(), to.c_str());
  }
  // One rename that refuses an existing name; where the file system cannot
  // do that, a hard link, which fails when the name exists, and an unlink.
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return CQiError::Success();
  }
  if (errno == EEXIST) {
    return FXErrorUtil::ErrorWin32(FXLOC, 80, "%s exists; it is not overwritten", to.c_str());
  }
  if (errno != EINVAL && errno != ENOSYS) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to move %s to %s", from.c_str(), to.c_str());
  }
  if (link(from.c_str(), to.c_str()) != 0) {
    int err = errno;
    if (err == EEXIST) {
      return FXErrorUtil::ErrorWin32(FXLOC, 80, "%s exists; it is not overwritten", to.c_str());
    }
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to move %s to %s", from.c_str(), to.c_str());
  }
  unlink(from.c_str());
  return CQiError::Success();
}

// A staged restore's folder is the job's own ("<staging location>/<job>"):
// a link there was planted. A data or destination folder is the user's.
bool StagingIsOwn(const CRestorePlacement& placement) {
  return placement.mode() == CRestorePlacement::kStaged;
}

}  // namespace

CRestoreDataMover::CRestoreDataMover(
    const SDataMoverSetup& setup,
    const boost::shared_ptr<TQDC_FileSystem::CFSRestoreWorker>& worker)
    : setup_(setup), worker_(worker), store_(setup.home) {
  CRestoreGenerations::Instance().Attach(setup_.jobId, setup_.jobResultsDirectory);
  attached_ = true;
}

CRestoreDataMover::~CRestoreDataMover() { Finish(); }

CQiError CRestoreDataMover::Move(const std::string& from, const std::string& to, bool replace) {
  return MoveInto(from, to, replace);
}

CQiError CRestoreDataMover::RunTask(DistributedQEL::TaskInfo& task) {
  taskStatistics_ = DistributedQEL::CRestoreStatistics();
  if (!worker_) return FXErrorUtil::ErrorWin32(FXLOC, 1359, "The stream has no restore worker");
  if (!storeOpen_) {
    CQiError error = store_.Open();
    if (error.IsError()) return error.Push(FXLOC);
    storeOpen_ = true;
  }
  if (!resultFile_.IsOpen()) {
    CQiError error =
        resultFile_.Open(setup_.jobResultsDirectory, setup_.jobId, setup_.streamNumber);
    if (error.IsError()) return error.Push(FXLOC);
  }
  if (!journal_.IsOpen()) {
    journal_.Open(CRestoreResultFile::FolderOf(setup_.jobResultsDirectory, setup_.jobId),
                  setup_.streamNumber);
  }
  worker_->SetTaskInfo(&task);
  std::string options;
  CQiError error = worker_->GetExtendedOptions(options);
  if (error.IsError()) return error.Push(FXLOC);
  TQLOG(1, "Node %s stream %d restores with the extended options [%s]",
        TQPI_Focus::getFocusClientName(true).c_str(), setup_.streamNumber, options.c_str());

  DistributedQEL::RestoreTaskInfoPtr restoreTask(new DistributedQEL::RestoreTaskInfo());
  if (restoreTask->unserialize(task.getPayload()) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "The task carries no readable restore task");
  }
  std::optional<DistributedQEL::RestoreTaskStats> stats = restoreTask->getStats();
  long size = stats ? static_cast<long>(stats->getSourcePathCount()) : 0;
  worker_->SetRestoreOptions(restoreTask, size);

  CRestorePlacement placement;
  error = CRestorePlacement::FromOptions(options, restoreTask->getDestinationPath(), placement);
  if (error.IsError()) return error.Push(FXLOC);

  // Only table folders take SSTables whole; a file-system restore places
  // each file as it comes.
  groupsSSTables_ = placement.mode() != CRestorePlacement::kFileSystem;
  if (groupsSSTables_) {
    // Every component of an SSTable is known before any is placed,
    // whichever task or archive file restores it: a first pass over the
    // browse that holds only the item at hand.
    error = CRestoreTaskItems(setup_.home)
                .ForEachOfAnyArchiveFile(*restoreTask, [&](SRestoreTaskItem& it) {
                  CRestoreGenerations::Instance().Expect(setup_.jobId, it.headerPath);
                  return CQiError::Success();
                });
    if (error.IsError()) return error.Push(FXLOC);
  }
  boost::shared_ptr<DistributedQEL::CRestoreItemCallBack> callBack;
  error = worker_->GetBrowseResponseCallBack(callBack);
  if (error.IsError()) return error.Push(FXLOC);

  // The items come from the index one at a time and are placed as they
  // come; a browse that fails part-way fails the task after the folders of
  // what it placed are flushed.
  CQiError first;
  bool lookedAt = false;
  const SRestoreProgress before = progress_;
  error = CRestoreTaskItems(setup_.home).ForEach(*restoreTask, [&](SRestoreTaskItem& it) {
    lookedAt = true;
    if (setup_.jobCtrlClient && setup_.jobCtrlClient->checkQuitFlag()) {
      first = FXErrorUtil::ErrorWin32(FXLOC, 1223, "The job was asked to stop");
      return first;
    }
    if (callBack && callBack->ShouldSkipItem(it.entry.begin())) {
      ++progress_.skipped;
      Report();
      return CQiError::Success();
    }
    SItem item;
    item.headerPath = it.headerPath;
    item.archiveFileId = it.archiveFileId;
    CQiError placed = PlaceItem(placement, item);
    if (placed.IsError()) {
      // The other components of its SSTable are not placed without it.
      CRestoreGenerations::Instance().Fail(setup_.jobId, setup_.jobResultsDirectory,
                                           item.headerPath, "", placed.GetMessage());
      ++progress_.failed;
      TQLOG(-1, "Stream %d failed to restore %s: %s", setup_.streamNumber, item.headerPath.c_str(),
            placed.AsString().c_str());
      if (!first.IsError()) first = placed;
    }
    Report();
    return CQiError::Success();
  });
  if (error.IsError() && !lookedAt) return error.Push(FXLOC);
  if (error.IsError() && !first.IsError()) first = error;

  CQiError flushed = FlushFolders();
  if (flushed.IsError() && !first.IsError()) first = flushed;

  // The task's own figures; a worker whose item filter counts what it
  // skipped adds that count itself.
  DistributedQEL::CRestoreStatistics statistics;
  statistics.bytesRestored = progress_.bytes - before.bytes;
  statistics.itemsRestored =
      progress_.files + progress_.directories - before.files - before.directories;
  statistics.itemsFailed = progress_.failed - before.failed;
  CQiError updated = worker_->UpdateProgress(statistics);
  if (updated.IsError()) TQLOG(-1, "UpdateProgress failed: %s", updated.AsString().c_str());
  taskStatistics_ = worker_->getLastStatistics();
  if (first.IsError()) return first.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestoreDataMover::JobOfArchiveFile(int64_t archiveFileId, int64_t& jobId) {
  auto known = jobOfArchiveFile_.find(archiveFileId);
  if (known != jobOfArchiveFile_.end()) {
    jobId = known->second;
    return CQiError::Success();
  }
  SArchiveFileRecord afile;
  bool found = false;
  CQiError error = store_.Catalog().GetArchiveFile(archiveFileId, afile, found);
  if (error.IsError()) return error.Push(FXLOC);
  if (!found) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1168, "Archive file %lld is not in the index",
                                   static_cast<long long>(archiveFileId));
  }
  jobOfArchiveFile_[archiveFileId] = afile.jobId;
  jobId = afile.jobId;
  return CQiError::Success();
}

CQiError CRestoreDataMover::PlaceItem(const CRestorePlacement& placement, const SItem& item) {
  const std::string key = item.headerPath + "|" + std::to_string(item.archiveFileId);
  CRestoreTargets& targets = CRestoreTargets::Instance();
  if (targets.IsPlaced(setup_.jobId, key)) return CQiError::Success();
  int64_t jobId = 0;
  CQiError error = JobOfArchiveFile(item.archiveFileId, jobId);
  if (error.IsError()) return error.Push(FXLOC);
  SStoredItem stored;
  error = store_.FindItem(jobId, item.headerPath, stored);
  if (error.IsError()) return error.Push(FXLOC);
  SItemTarget target;
  error = placement.TargetOf(stored.headerPath, stored.sourcePath, stored.isDirectory, target);
  if (error.IsError()) return error.Push(FXLOC);
  switch (target.kind) {
    case SItemTarget::kNothing:
      ++progress_.directories;
      break;
    case SItemTarget::kDirectory: {
      // The folder keeps the permissions it was backed up with.
      const uint32_t mode = stored.pieces.empty() ? 0 : stored.pieces.front().mode & 07777;
      int fd = -1;
      error =
          CNoFollowPath::OpenFolder(target.root, StagingIsOwn(placement), target.path, mode, fd);
      if (error.IsError()) return error.Push(FXLOC);
      close(fd);
      ++progress_.directories;
      break;
    }
    case SItemTarget::kFile:
      error = WriteFile(stored, target, StagingIsOwn(placement));
      if (error.IsError()) return error.Push(FXLOC);
      break;
  }
  targets.MarkPlaced(setup_.jobId, key);
  return CQiError::Success();
}

CQiError CRestoreDataMover::WriteFile(const SStoredItem& stored, const SItemTarget& target,
                                      bool rootIsOwn) {
  std::string folder, name;
  const size_t slash = target.path.rfind('/');
  folder = target.path.substr(0, slash == 0 ? 1 : slash);
  name = target.path.substr(slash + 1);
  int folderFd = -1;
  CQiError error = CNoFollowPath::OpenFolder(target.root, rootIsOwn, folder, 0, folderFd);
  if (error.IsError()) return error.Push(FXLOC);
  error = WriteFileIn(folderFd, folder, name, stored, target);
  close(folderFd);
  return error;
}

CQiError CRestoreDataMover::WriteFileIn(int folderFd, const std::string& folder,
                                        const std::string& name, const SStoredItem& stored,
                                        const SItemTarget& target) {
  CQiError error;
  CRestoreTargets& targets = CRestoreTargets::Instance();
  std::string finalName = name;
  if (target.tableFile) {
    const size_t sourceSlash = stored.headerPath.rfind('/');
    const std::string source =
        sourceSlash == std::string::npos ? "" : stored.headerPath.substr(0, sourceSlash);
    error = targets.ClaimTableFile(setup_.jobId, folder, name, finalName, source);
    if (error.IsError()) return error.Push(FXLOC);
  }
  const std::string path = FXPath::Join(folder, finalName);
  // A file that could not be listed is not written either.
  error = CRestoreResultFile::CheckListable(path);
  if (error.IsError()) return error.Push(FXLOC);
  if (target.tableFile) {
    error = journal_.NoteFolder(folder);
    if (error.IsError()) return error.Push(FXLOC);
  }
  std::string tempName;
  int fd = -1;
  error = CNoFollowPath::CreateUniqueFile(folderFd, folder, "." + finalName + ".tqrestore-",
                                          tempName, fd);
  if (error.IsError()) return error.Push(FXLOC);
  const std::string temp = FXPath::Join(folder, tempName);
  error = store_.ReadItem(stored, [&](uint64_t offset, const char* data, size_t length) {
    if (setup_.beforeWrite) {
      CQiError hook = setup_.beforeWrite(stored.headerPath, offset);
      if (hook.IsError()) return hook;
    }
    return FXFile::TQWriteFileAt(fd, data, length, offset, temp);
  });
  if (!error.IsError() && !stored.pieces.empty()) {
    uint32_t mode = stored.pieces.front().mode & 07777;
    if (mode) fchmod(fd, mode);
  }
  if (!error.IsError() && fsync(fd) != 0) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to flush %s", temp.c_str());
  }
  struct stat written {};
  if (!error.IsError() && fstat(fd, &written) != 0) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to read the status of %s", temp.c_str());
  }
  if (close(fd) != 0 && !error.IsError()) {
    int err = errno;
    error = FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to close %s", temp.c_str());
  }
  if (error.IsError()) {
    unlink(temp.c_str());
    if (target.tableFile) {
      CRestoreGenerations::Instance().Fail(setup_.jobId, setup_.jobResultsDirectory,
                                           stored.headerPath, path, error.GetMessage());
    }
    return error.Push(FXLOC);
  }
  if (target.tableFile) {
    // An SSTable's component waits for the others of its generation.
    SHeldComponent held;
    held.headerPath = stored.headerPath;
    held.temp = temp;
    held.path = path;
    held.size = stored.size;
    held.device = static_cast<uint64_t>(written.st_dev);
    held.inode = static_cast<uint64_t>(written.st_ino);
    held.mtimeNs = static_cast<uint64_t>(written.st_mtim.tv_sec) * 1000000000ull +
                   static_cast<uint64_t>(written.st_mtim.tv_nsec);
    std::vector<SHeldComponent> ready;
    switch (CRestoreGenerations::Instance().Arrive(setup_.jobId, setup_.jobResultsDirectory, held,
                                                   ready)) {
      case CRestoreGenerations::kHeld:
      case CRestoreGenerations::kLeftOut:
        return CQiError::Success();
      case CRestoreGenerations::kPlaceNow:
        error = PlaceTableFiles(ready, target.root, true);
        break;
      case CRestoreGenerations::kUngrouped:
        error = PlaceTableFiles({held}, target.root, false);
        break;
    }
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  }
  // Outside table folders a restore replaces what is there, except a staged
  // commit-log segment: one found already staged is the same segment backed
  // up again, or the name is refused.
  error = MoveInto(temp, path, !target.commitLog);
  if (error.IsError() && target.commitLog && FXErrorUtil::IsWin32(error, 80) &&
      !store_.VerifyItem(stored, path).IsError()) {
    unlink(temp.c_str());
    error = CQiError::Success();
  }
  if (error.IsError()) {
    unlink(temp.c_str());
    return error.Push(FXLOC);
  }
  targets.MarkWritten(setup_.jobId, path);
  NoteFolderToFlush(folder, target.root);
  ++progress_.files;
  progress_.bytes += static_cast<int64_t>(stored.size);
  error = resultFile_.AddFile(path, stored.size);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestoreDataMover::FlushFolders() {
  CQiError first;
  for (const std::string& folder : foldersToFlush_) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
      int err = errno;
      if (!first.IsError()) {
        first =
            FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to flush the folder %s", folder.c_str());
      }
    }
    if (fd >= 0) close(fd);
  }
  foldersToFlush_.clear();
  return first;
}

void CRestoreDataMover::Report() {
  if (setup_.progress) setup_.progress(progress_);
}

CQiError CRestoreDataMover::Finish() {
  if (attached_) {
    // The node's last stream leaves out what never came whole.
    attached_ = false;
    CRestoreGenerations::Instance().Detach(setup_.jobId, setup_.jobResultsDirectory);
  }
  journal_.Close();
  CQiError error = resultFile_.Close();
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TqDataMover
