#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/base/QiError.h"
#include "platform/datamover/RestoreGenerations.h"
#include "platform/datamover/RestoreJournal.h"
#include "platform/datamover/RestorePlacement.h"
#include "platform/datamover/RestoreResultFile.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/framework/ValueTypes.h"
#include "platform/index/ArchiveStore.h"

namespace TQDC_FileSystem {
class CFSRestoreWorker;
}

namespace TqDataMover {

// What one data-mover stream has done so far.
struct SRestoreProgress {
  int64_t files = 0;        // files placed
  int64_t directories = 0;  // folders created, and items above a node's folders
  int64_t bytes = 0;        // bytes of the files placed
  int64_t skipped = 0;      // items the worker's item callback skipped
  int64_t failed = 0;       // items that could not be placed
};

struct SDataMoverSetup {
  int64_t jobId = 0;  // the restore job
  int streamNumber = 0;
  // The node's job results directory (the result file goes below it).
  std::string jobResultsDirectory;
  // Suite home of the index and archive store; "" for the current one.
  std::string home;
  // The job's quit flag, read before every item.
  TQJobCtrlClientPtr jobCtrlClient;
  // Told after every item placed or skipped.
  std::function<void(const SRestoreProgress&)> progress;
  // Called before each piece of a file is written (a seam for tests); an
  // error fails the item there, as a failing disk would.
  std::function<CQiError(const std::string& headerPath, uint64_t offset)> beforeWrite;
};

// The data mover of one restore stream: puts the items of each restore task
// back on disk from the archive store through the stream's restore worker.
//
// Per task: the worker's SetTaskInfo, GetExtendedOptions and
// SetRestoreOptions (with the task's RestoreTaskInfo, the TaskInfo payload);
// then a browse of the task's source paths in the index (newest version of
// every path within the task's time range, paths under its filter paths left
// out) gives the items of the task's archive file one at a time
// (CRestoreTaskItems), each placed as it comes, so no list of the task's
// items is held; each is offered to the worker's item callback
// (GetBrowseResponseCallBack()->ShouldSkipItem), and what it skips is
// counted. Every other item is placed by the rules of
// CRestorePlacement: folders are created, files written to a temporary name
// beside their target, their bytes checked against the store's checksums as
// they are read, and renamed into place, so a failure never leaves a half
// file under the real name; each file is flushed before its rename, and the
// folders it was renamed into are flushed before the task reports its end,
// so a task that ended has every file durable under its name. Extents are
// put together into the whole file. A
// file of a Cassandra table folder never replaces a file already there
// (CRestoreTargets), and the components of an SSTable become visible there
// only together, once every one came out of the store intact
// (CRestoreGenerations); each is journaled in the job's result folder before
// it gets its name (CRestoreJournal), so that a run killed at any point can
// be put right. An item that cannot be placed fails alone; the task
// then fails with the first such error, after the others were placed. An
// item a failed run of the same task already placed is not placed again.
//
// Each restored file gets its line in the stream's result file
// (CRestoreResultFile); the worker's UpdateProgress gets each task's own
// figures (items restored, failed, bytes) when its items have been looked at.
class CRestoreDataMover {
 public:
  CRestoreDataMover(const SDataMoverSetup& setup,
                    const boost::shared_ptr<TQDC_FileSystem::CFSRestoreWorker>& worker);
  ~CRestoreDataMover();
  CRestoreDataMover(const CRestoreDataMover&) = delete;
  CRestoreDataMover& operator=(const CRestoreDataMover&) = delete;

  CQiError RunTask(DistributedQEL::TaskInfo& task);
  // Ends the result file (the stream is done).
  CQiError Finish();

  const SRestoreProgress& Progress() const { return progress_; }
  // What the worker's UpdateProgress made of the last task's figures (its
  // items restored, failed, skipped and bytes); empty when the task ended
  // before its items were looked at.
  const DistributedQEL::CRestoreStatistics& TaskStatistics() const { return taskStatistics_; }
  const std::string& ResultFilePath() const { return resultFile_.Path(); }

 private:
  struct SItem {
    std::string headerPath;
    int64_t archiveFileId = 0;
  };

  CQiError PlaceItem(const CRestorePlacement& placement, const SItem& item);
  // `rootIsOwn`: the target's root is the restore's own folder, never
  // entered through a link.
  CQiError WriteFile(const SStoredItem& stored, const SItemTarget& target, bool rootIsOwn);
  // WriteFile's work once the target's folder is open (`folderFd`), entered
  // without following a link.
  CQiError WriteFileIn(int folderFd, const std::string& folder, const std::string& name,
                       const SStoredItem& stored, const SItemTarget& target);
  // Renames written table files into place (journaled first); on a failure
  // none of them stays. `grouped`: the components of one SSTable.
  CQiError PlaceTableFiles(const std::vector<SHeldComponent>& files, const std::string& root,
                           bool grouped);
  // The folder a file was renamed into, and those above it up to the
  // restore's folder `root`, are flushed at the end of the task.
  void NoteFolderToFlush(const std::string& folder, const std::string& root);
  static CQiError Move(const std::string& from, const std::string& to, bool replace);
  CQiError JobOfArchiveFile(int64_t archiveFileId, int64_t& jobId);
  // Makes the names of the task's files durable: every folder a file was
  // renamed into, and the folders above it up to the restore's folder.
  CQiError FlushFolders();
  void Report();

  SDataMoverSetup setup_;
  boost::shared_ptr<TQDC_FileSystem::CFSRestoreWorker> worker_;
  CArchiveStore store_;
  bool storeOpen_ = false;
  std::map<int64_t, int64_t> jobOfArchiveFile_;
  std::set<std::string> foldersToFlush_;
  CRestoreResultFile resultFile_;
  CRestoreJournal journal_;
  bool attached_ = false;        // to CRestoreGenerations
  bool groupsSSTables_ = false;  // the task places into table folders
  SRestoreProgress progress_;
  DistributedQEL::CRestoreStatistics taskStatistics_;
};

}  // namespace TqDataMover
