#include "platform/framework/StartClientRestore.h"

#include <map>

#include "platform/base/FXErrorUtil.h"
#include "platform/index/IdxBrowseClient.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/EvRstTask.h"

namespace {

// The components of a path between "/" separators, without empty ones.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t begin = 0;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) parts.push_back(path.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

}  // namespace

CStartClientRestore::CStartClientRestore(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient,
                                         bool baseFlag, bool optionFlag)
    : jobClient_(jobClient),
      jobCtrlClient_(jobCtrlClient),
      baseFlag_(baseFlag),
      optionFlag_(optionFlag) {}

CStartClientRestore::~CStartClientRestore() = default;

EvRstTask* CStartClientRestore::GetRestoreTask() {
  if (!restoreTask_ && jobId_ != 0) {
    ownTask_.reset(new EvRstTask(jobId_, 0, nullptr, false, false));
    restoreTask_ = ownTask_.get();
  }
  return restoreTask_;
}

bool CStartClientRestore::fillBrowsePaths(databrowse::BrowseRequest& request) {
  EvRstTask* task = GetRestoreTask();
  if (!task) return false;
  std::vector<databrowse::BrowsePath> paths = request.getPaths();
  const size_t before = paths.size();
  std::string path;
  for (bool more = task->getFirstPath(EvRstTask::kSourcePaths, path); more;
       more = task->getNextPath(EvRstTask::kSourcePaths, path)) {
    if (path.empty()) continue;
    databrowse::BrowsePath entry;
    entry.setPath(path);
    paths.push_back(entry);
  }
  if (paths.size() == before) return false;
  request.setPaths(paths);
  return true;
}

CQiError CStartClientRestore::getToTime(long&, bool) { return CQiError::Success(); }

void CStartClientRestore::ScopeBrowseRequest(EvRstTask* task) {
  browseRequest.setRequestType(1);
  TqEntities::AppIdEntity app;
  app.setOmbrelId(task->getOmbrelId());
  app.setInstanceId(static_cast<int64_t>(instanceId));
  app.setBackupsetId(static_cast<int64_t>(task->getBackupSetId()));
  app.setSubclientId(subclientId);
  app.setAppType(task->getSourceAppType());
  browseRequest.setAppId(app);
  databrowse::TimeRange range;
  range.setFromTime(task->getFromTime());
  range.setToTime(browseToTime_);
  browseRequest.setTimeRange(range);
}

CQiError CStartClientRestore::CreateBrowseRequest() {
  EvRstTask* task = GetRestoreTask();
  if (!task || !task->isLoaded()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "No restore task for job %lld", jobId_);
  }
  ScopeBrowseRequest(task);
  databrowse::BrowseOptions options;
  if (auto existing = browseRequest.getOptions()) options = *existing;
  if (perArchiveFileRecords) options.setField62(1);
  browseRequest.setOptions(options);
  if (!fillBrowsePaths(browseRequest)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627,
                                   "Failed to set browse paths for launching browse/find");
  }
  return CQiError::Success();
}

CQiError CStartClientRestore::ProcessBrowseResponse(databrowse::BrowseResponseList& responses) {
  std::map<int64_t, RestoreRecord*> byArchiveFile;
  for (auto& record : restoreRecordList) byArchiveFile[record.archiveFileId] = &record;
  // The reply is read in place: an item-by-item answer holds every item.
  databrowse::ForEachResultItem(
      responses,
      [&](const std::vector<databrowse::AggregateResult>& aggregates) {
        if (!aggregates.empty()) {
          totalItemsExpected +=
              static_cast<unsigned long long>(aggregates.front().getExpectedItemTotal());
        }
      },
      [&](const databrowse::BrowseData& item) {
        auto details = item.getDetails();
        if (!details || item.getPath().empty()) return;
        const int64_t afile = static_cast<int32_t>(details->getArchiveFileId());
        const int64_t files = details->getFileCount();
        const int64_t extents = details->getExtentCount();
        RestoreRecord*& record = byArchiveFile[afile];
        if (!record) {
          RestoreRecord made;
          made.archiveFileId = afile;
          made.archiveGroupId = static_cast<uint32_t>(details->getArchiveGroup());
          if (auto ombrel = details->getOmbrel())
            made.ombrelId = static_cast<uint32_t>(ombrel->getOmbrelId());
          made.archiveFileType = I2::RESTORE_AFILE_TYPES::TAPE;
          restoreRecordList.push_back(made);
          record = &restoreRecordList.back();
        }
        // The node is the instance of the record's items; an item above the
        // instances ("/cluster", "/cluster/dc") names none.
        if (distributedRestore && record->strNodeName.empty()) {
          std::vector<std::string> parts = Components(item.getPath());
          if (parts.size() >= 3) record->strNodeName = parts[2];
        }
        record->fileCount += files;
        record->extentCount += extents;
        record->itemCount += files + extents;
        record->hasExtents = record->hasExtents || extents > 0;
        extentItemsCounted += static_cast<unsigned long long>(extents);
      });
  return CQiError::Success();
}

CQiError CStartClientRestore::prepareScPaths() {
  if (getDoCleanup()) {
    srcPathList.assign(1, "cleanup");
    stripLevelList.assign(1, 0);
  } else if (skipSourcePathsFromBrowse == 0) {
    EvRstTask* task = GetRestoreTask();
    std::string path;
    for (bool more = task && task->getFirstPath(EvRstTask::kSourcePaths, path); more;
         more = task->getNextPath(EvRstTask::kSourcePaths, path)) {
      if (path.empty()) continue;
      int level = computeStripLevelSuper(task, path);
      if (level < 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1627, "computeStripLevel failed for %s",
                                       path.c_str());
      }
      srcPathList.push_back(path);
      stripLevelList.push_back(level);
    }
  }
  if (srcPathList.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 1627, "srcpaths is empty");
  if (filterList.empty()) {
    EvRstTask* task = GetRestoreTask();
    if (task) {
      for (const auto& filter : task->getPaths(EvRstTask::kFilterPaths))
        filterList.push_back(filter);
    }
  }
  return CQiError::Success();
}

CQiError CStartClientRestore::getRestoreParameters(FSRFIRInitData& initData,
                                                   std::list<FSRSrcPath>& srcPaths,
                                                   std::list<RestoreRecord>& records,
                                                   unsigned long long& itemCount) {
  EvRstTask* task = GetRestoreTask();
  if (!task || !task->isLoaded()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "No restore task for job %lld", jobId_);
  }
  instanceId = task->getSourceInstanceId();
  subclientId = task->getSubclientId();
  long toTime = static_cast<long>(task->getToTime());
  CQiError error = getToTime(toTime, false);
  if (error.IsError()) return error.Push(FXLOC);
  browseToTime_ = toTime;

  // Scoped here as well, so that a launcher whose request building leaves
  // out the base's still browses only this restore's backups.
  ScopeBrowseRequest(task);
  error = CreateBrowseRequest();
  if (error.IsError()) return error.Push(FXLOC);

  IdxBrowseClient index;
  databrowse::BrowseResponseList responses;
  if (index.Initialize(browseRequest, nullptr, 0, nullptr, nullptr) != IdxBrowseClient::kOk ||
      index.Browse(nullptr, &responses) != IdxBrowseClient::kOk) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Index browse failed: %s",
                                   index.getLastError().AsString(2).c_str());
  }
  error = ProcessBrowseResponse(responses);
  if (error.IsError()) return error.Push(FXLOC);

  error = prepareScPaths();
  if (error.IsError()) return error.Push(FXLOC);

  initData = FSRFIRInitData();
  initData.jobId = jobId_;
  initData.ombrelId = task->getOmbrelId();
  initData.clientId = task->getSourceClientId();
  initData.instanceId = instanceId;
  initData.backupSetId = task->getBackupSetId();
  initData.subclientId = subclientId;
  initData.appType = task->getSourceAppType();
  initData.copyPrecedence = task->getCopyPrecedence();
  initData.fromTime = task->getFromTime();
  initData.toTime = browseToTime_;
  initData.numberOfSrcPaths = srcPathList.size();

  srcPaths.clear();
  auto level = stripLevelList.begin();
  for (const auto& path : srcPathList) {
    FSRSrcPath entry;
    entry.path = path;
    if (level != stripLevelList.end()) entry.stripLevel = *level++;
    srcPaths.push_back(entry);
  }
  records = restoreRecordList;
  for (auto& record : records) {
    record.copyPrecedence = initData.copyPrecedence;
    record.fromTime = initData.fromTime;
    record.toTime = initData.toTime;
  }
  itemCount = totalItemsExpected;
  return CQiError::Success();
}

int CStartClientRestore::computeStripLevelSuper(EvRstTask*, const std::string& path) {
  if (path.empty() || path.front() != '/') return -1;
  std::vector<std::string> parts = Components(path);
  while (!parts.empty() && (parts.back() == "*" || parts.back() == "**")) parts.pop_back();
  return parts.empty() ? 0 : static_cast<int>(parts.size()) - 1;
}

bool CStartClientRestore::isVersionsPath(const std::string& path) {
  return path.compare(0, 10, ";VERSIONS;") == 0;
}
