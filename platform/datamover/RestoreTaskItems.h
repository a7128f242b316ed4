#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/msg/NMessageBase.h"

namespace TqDataMover {

// One item of a restore task as the index answers it.
struct SRestoreTaskItem {
  std::string headerPath;
  int64_t archiveFileId = 0;
  // The item's browse entry (a databrowse::BrowseData), alone in a list, as
  // the worker's item callback looks at it.
  std::vector<CNMessageBase> entry;
};

// The items of a restore task, read from the index one at a time: a browse
// of the task's source paths (the newest version of every path within the
// task's time range), of which the items of the task's archive file (every
// item when it names none) that lie outside its filter paths are handed on
// in the browse's order, each once. Only the item at hand is held, so a task
// of any number of items takes the same memory.
class CRestoreTaskItems {
 public:
  // `home`: suite home of the index; "" for the current one.
  explicit CRestoreTaskItems(std::string home) : home_(std::move(home)) {}

  // Hands every item to `visit`; an error from `visit` ends the walk and is
  // returned as it is. A task without source paths has no items.
  CQiError ForEach(const DistributedQEL::RestoreTaskInfo& task,
                   const std::function<CQiError(SRestoreTaskItem&)>& visit) const;

  // Hands `visit` the item of every archive file that the browse of the
  // task finds outside its filter paths (the task's own archive file or
  // not): what the whole restore brings below the task's source paths.
  CQiError ForEachOfAnyArchiveFile(const DistributedQEL::RestoreTaskInfo& task,
                                   const std::function<CQiError(SRestoreTaskItem&)>& visit) const;

  // Whether `path` lies at or below one of `filters` (by whole components).
  static bool Filtered(const std::string& path, const std::vector<std::string>& filters);

 private:
  CQiError Walk(const DistributedQEL::RestoreTaskInfo& task, bool anyArchiveFile,
                const std::function<CQiError(SRestoreTaskItem&)>& visit) const;

  std::string home_;
};

}  // namespace TqDataMover
