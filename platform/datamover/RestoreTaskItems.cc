#include "platform/datamover/RestoreTaskItems.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/index/IdxBrowseClient.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/msg/FrameworkRecords.h"

namespace TqDataMover {

bool CRestoreTaskItems::Filtered(const std::string& path, const std::vector<std::string>& filters) {
  for (const std::string& filter : filters) {
    if (filter.empty()) continue;
    if (path == filter) return true;
    const std::string prefix = filter.back() == '/' ? filter : filter + "/";
    if (path.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

CQiError CRestoreTaskItems::ForEach(const DistributedQEL::RestoreTaskInfo& task,
                                    const std::function<CQiError(SRestoreTaskItem&)>& visit) const {
  return Walk(task, false, visit);
}

CQiError CRestoreTaskItems::ForEachOfAnyArchiveFile(
    const DistributedQEL::RestoreTaskInfo& task,
    const std::function<CQiError(SRestoreTaskItem&)>& visit) const {
  return Walk(task, true, visit);
}

CQiError CRestoreTaskItems::Walk(const DistributedQEL::RestoreTaskInfo& task, bool anyArchiveFile,
                                 const std::function<CQiError(SRestoreTaskItem&)>& visit) const {
  databrowse::BrowseRequest request;
  request.setRequestType(1);
  std::vector<databrowse::BrowsePath> paths;
  for (const std::string& source : task.getSourcePaths()) {
    databrowse::BrowsePath path;
    path.setPath(source);
    paths.push_back(path);
  }
  if (paths.empty()) return CQiError::Success();
  request.setPaths(paths);
  databrowse::TimeRange range;
  range.setFromTime(task.getFromTime());
  range.setToTime(task.getToTime());
  request.setTimeRange(range);

  IdxBrowseClient browse(home_);
  if (browse.Initialize(request, nullptr, 0, nullptr, nullptr) != 0) {
    CQiError error = browse.getLastError();
    if (!error.IsError()) error = FXErrorUtil::ErrorWin32(FXLOC, 1627, "The index cannot be read");
    return error.Push(FXLOC);
  }
  const std::vector<std::string> filters = task.getFilterPaths();
  const int64_t taskArchiveFile = anyArchiveFile ? 0 : task.getArchiveFileId();
  SRestoreTaskItem item;
  item.entry.assign(1, databrowse::BrowseData());
  bool visitFailed = false;
  CQiError error = browse.ForEachItem([&](const SStoredItem& stored) {
    const int64_t archiveFile = stored.pieces.empty() ? 0 : stored.pieces.front().archiveFileId;
    if (taskArchiveFile != 0 && archiveFile != taskArchiveFile) return CQiError::Success();
    if (Filtered(stored.headerPath, filters)) return CQiError::Success();
    item.headerPath = stored.headerPath;
    item.archiveFileId = archiveFile;
    item.entry.front() = browse.ItemEntry(stored);
    CQiError visited = visit(item);
    visitFailed = visited.IsError();
    return visited;
  });
  if (error.IsError()) {
    if (visitFailed) return error;
    TQLOG(-1, "Index browse failed: %s", error.AsString(2).c_str());
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace TqDataMover
