#include "platform/index/IdxBrowseClient.h"

#include <algorithm>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/ObjectGuid.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContext.h"

using databrowse::BrowseData;
using databrowse::BrowseItemDetails;

namespace {

std::string LastComponent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

size_t Depth(const std::string& path) {
  return static_cast<size_t>(std::count(path.begin(), path.end(), '/'));
}

// The group of an item in a per-archive-file answer: the first four fields
// of its header path ("", cluster, data centre, instance) and whether the
// fifth is the commit-log folder.
std::string GroupKeyOf(const std::string& headerPath) {
  std::vector<std::string> parts;
  FXString::Split(headerPath, "/", parts);
  std::string key;
  for (size_t i = 1; i < parts.size() && i < 4; ++i) key += "/" + parts[i];
  key += (parts.size() > 4 && parts[4] == "#COMMITLOG#") ? "|log" : "|data";
  return key;
}

}  // namespace

IdxBrowseClient::IdxBrowseClient(const std::string& home)
    : catalogPath_(CIndexCatalog::PathUnder(home.empty() ? CClientContext::SuiteHome() : home)) {}

IdxBrowseClient::~IdxBrowseClient() = default;

int IdxBrowseClient::Initialize(const databrowse::BrowseRequest& request, IdxBrowseClientResp*, int,
                                const char*, IdxBrowseClientInterrupt*) {
  request_ = request;
  initialized_ = false;
  initFailed_ = false;
  auto catalog = std::make_unique<CIndexCatalog>(catalogPath_);
  CQiError error = catalog->Open();
  if (error.IsError()) {
    initFailed_ = true;
    lastError_ = error.Push(FXLOC);
    TQLOG(-1, "Index browse cannot start: %s", lastError_.AsString(2).c_str());
    return kFailed;
  }
  catalog_ = std::move(catalog);
  initialized_ = true;
  lastError_ = CQiError::Success();
  return kOk;
}

bool IdxBrowseClient::isIndexingV2BrowseRequest() const {
  return initialized_ && request_.getRequestType() == 1;
}

IdxBrowseClient::PathPattern IdxBrowseClient::ParsePath(const std::string& path) {
  PathPattern pattern{path, Match::kExact};
  if (EndsWith(path, "/**/*")) {
    pattern = {path.substr(0, path.size() - 5), Match::kBelow};
  } else if (EndsWith(path, "/**")) {
    pattern = {path.substr(0, path.size() - 3), Match::kBelow};
  } else if (EndsWith(path, "/*")) {
    pattern = {path.substr(0, path.size() - 2), Match::kChildren};
  }
  // Trailing separators do not name another entry.
  while (pattern.prefix.size() > 1 && pattern.prefix.back() == '/') pattern.prefix.pop_back();
  if (pattern.prefix.empty()) pattern.prefix = "/";
  return pattern;
}

SBrowseScope IdxBrowseClient::Scope() const {
  SBrowseScope scope;
  if (auto app = request_.getAppId()) {
    scope.ombrelId = app->getOmbrelId();
    scope.instanceId = app->getInstanceId();
    scope.backupsetId = app->getBackupsetId();
    scope.subclientId = app->getSubclientId();
    scope.appType = app->getAppType();
  }
  if (auto range = request_.getTimeRange()) {
    scope.toTime = range->getToTime();
    scope.fromTime = range->getFromTime();
  }
  return scope;
}

CQiError IdxBrowseClient::ArchiveGroupOf(int64_t archiveFileId, int64_t& group) {
  auto cached = archiveGroups_.find(archiveFileId);
  if (cached != archiveGroups_.end()) {
    group = cached->second;
    return CQiError::Success();
  }
  SArchiveFileRecord afile;
  bool found = false;
  CQiError error = catalog_->GetArchiveFile(archiveFileId, afile, found);
  if (error.IsError()) return error.Push(FXLOC);
  group = found ? afile.archiveGroupId : 0;
  archiveGroups_[archiveFileId] = group;
  return CQiError::Success();
}

BrowseItemDetails IdxBrowseClient::Details(int64_t time, int64_t archiveFileId, int64_t fileCount,
                                           int64_t extentCount) {
  BrowseItemDetails details;
  int64_t group = 0;
  ArchiveGroupOf(archiveFileId, group);
  details.setBackupTime(time);
  details.setArchiveGroup(group);
  details.setArchiveFileId(archiveFileId);
  details.setFileCount(fileCount);
  details.setExtentCount(extentCount);
  TqEntities::OmbrelEntity ombrel;
  if (auto app = request_.getAppId()) ombrel.setOmbrelId(app->getOmbrelId());
  details.setOmbrel(ombrel);
  return details;
}

CQiError IdxBrowseClient::BrowseView(const std::string& view, std::vector<BrowseData>& data) {
  SBrowseScope scope = Scope();
  std::set<int64_t> seen;
  for (const auto& browsePath : request_.getPaths()) {
    std::string path = browsePath.getPath();
    PathPattern pattern = ParsePath(path);
    std::vector<SMetadataRecord> records;
    CQiError error;
    if (pattern.match == Match::kExact) {
      std::string guid;
      error = GetObjectGuid(pattern.prefix.c_str(), 0, '/', guid);
      SMetadataRecord record;
      bool found = false;
      if (!error.IsError())
        error = catalog_->LatestMetadataByGuid(scope, view, guid, record, found);
      if (!error.IsError() && found) {
        if (record.path.empty()) record.path = pattern.prefix;
        records.push_back(record);
      }
    } else if (pattern.match == Match::kChildren) {
      std::string guid;
      error = GetObjectGuid(pattern.prefix.c_str(), 0, '/', guid);
      if (!error.IsError()) error = catalog_->LatestMetadataByParent(scope, view, guid, records);
    } else {
      error = catalog_->LatestMetadataUnder(scope, view, pattern.prefix, records);
    }
    if (error.IsError()) return error.Push(FXLOC);
    for (const auto& record : records) {
      if (!seen.insert(record.entryId).second) continue;
      IdxMetadata::IdxMetaData metadata;
      if (metadata.unserialize(record.xml) != 0) {
        TQLOG(-1, "Index entry %lld of view %s does not parse",
              static_cast<long long>(record.entryId), view.c_str());
        continue;
      }
      BrowseData item;
      item.setName(LastComponent(record.path));
      item.setDisplayName(LastComponent(record.path));
      item.setPath(record.path);
      BrowseItemDetails details = Details(record.sentTime, record.archiveFileId, 1, 0);
      details.setMetadata(metadata);
      item.setDetails(details);
      data.push_back(item);
    }
  }
  return CQiError::Success();
}

bool IdxBrowseClient::Selects(const PathPattern& pattern, const std::string& headerPath) {
  // The records the catalog gives for the prefix: the prefix itself and
  // what lies below it ("/": everything).
  const std::string& prefix = pattern.prefix;
  if (prefix != "/" && headerPath != prefix &&
      (headerPath.size() <= prefix.size() || headerPath.compare(0, prefix.size(), prefix) != 0 ||
       headerPath[prefix.size()] != '/')) {
    return false;
  }
  switch (pattern.match) {
    case Match::kExact:
      return true;
    case Match::kChildren:
      return headerPath != prefix && Depth(headerPath) == (prefix == "/" ? 1 : Depth(prefix) + 1);
    case Match::kBelow:
      return headerPath != prefix;
  }
  return false;
}

CQiError IdxBrowseClient::ForEachItem(const std::function<CQiError(const SStoredItem&)>& visit) {
  if (!initialized_) {
    return FXErrorUtil::ErrorWin32(FXLOC, 21, "The index browse is not initialized");
  }
  const SBrowseScope scope = Scope();
  std::vector<PathPattern> patterns;
  for (const auto& browsePath : request_.getPaths()) {
    patterns.push_back(ParsePath(browsePath.getPath()));
  }
  for (size_t p = 0; p < patterns.size(); ++p) {
    const PathPattern& pattern = patterns[p];
    // The records of one header path (they come grouped by it, in commit
    // order); of each path the newest job counts.
    std::vector<SFileRecord> versions;
    auto finishPath = [&]() -> CQiError {
      if (versions.empty()) return CQiError::Success();
      const std::string headerPath = versions.front().headerPath;
      bool wanted = Selects(pattern, headerPath);
      for (size_t earlier = 0; wanted && earlier < p; ++earlier) {
        if (Selects(patterns[earlier], headerPath)) wanted = false;
      }
      CQiError error;
      if (wanted) {
        int64_t newestJob = 0;
        int64_t newestRecord = 0;
        for (const SFileRecord& record : versions) {
          if (record.recordId > newestRecord) {
            newestRecord = record.recordId;
            newestJob = record.jobId;
          }
        }
        versions.erase(std::remove_if(versions.begin(), versions.end(),
                                      [&](const SFileRecord& r) { return r.jobId != newestJob; }),
                       versions.end());
        SStoredItem item;
        CArchiveStore::ResolvePieces(versions, item);
        if (item.complete) {
          error = visit(item);
        } else {
          TQLOG(1, "Item %s of job %lld left out of the browse: %s", headerPath.c_str(),
                static_cast<long long>(newestJob), item.problem.c_str());
        }
      }
      versions.clear();
      return error;
    };
    bool visitFailed = false;
    CQiError error =
        catalog_->ForEachFileRecordUnder(scope, pattern.prefix, [&](const SFileRecord& record) {
          if (!versions.empty() && versions.front().headerPath != record.headerPath) {
            CQiError visited = finishPath();
            if (visited.IsError()) {
              visitFailed = true;
              return visited;
            }
          }
          versions.push_back(record);
          return CQiError::Success();
        });
    if (error.IsError()) return visitFailed ? error : error.Push(FXLOC);
    error = finishPath();
    if (error.IsError()) return error;
  }
  return CQiError::Success();
}

BrowseData IdxBrowseClient::ItemEntry(const SStoredItem& item) {
  const int64_t extents = item.pieces.size() > 1 ? static_cast<int64_t>(item.pieces.size()) : 0;
  const int64_t archiveFileId = item.pieces.empty() ? 0 : item.pieces.front().archiveFileId;
  BrowseData entry;
  entry.setName(LastComponent(item.headerPath));
  entry.setDisplayName(LastComponent(item.headerPath));
  entry.setPath(item.headerPath);
  entry.setField8(item.sourcePath);
  entry.setDetails(Details(item.backupTime, archiveFileId, 1, extents));
  return entry;
}

CQiError IdxBrowseClient::BrowseItems(std::vector<BrowseData>& data, int64_t& total) {
  bool perArchiveFile = false;
  if (auto options = request_.getOptions()) perArchiveFile = options->getField62() == 1;
  total = 0;
  if (!perArchiveFile) {
    return ForEachItem([&](const SStoredItem& item) {
      ++total;
      data.push_back(ItemEntry(item));
      return CQiError::Success();
    });
  }

  // Items of an instance or below: one group per archive file, instance and
  // data or commit logs, named by its first item. The items above the
  // instances ("/cluster", "/cluster/dc") a stream stored with its
  // instance's items count in the first data group of their archive file, so
  // that an archive file's data answers as one entry of its instance; only
  // where the archive file has no such group do they form one of their own.
  // Only the groups and the few items above the instances are held.
  struct SGroup {
    std::string headerPath;  // of its first item
    std::string sourcePath;
    int64_t archiveFileId = 0;
    int64_t backupTime = 0;  // the newest of its items
    int64_t files = 0;
    int64_t extents = 0;
  };
  std::vector<SGroup> groups;
  std::map<std::string, size_t> groupOf;     // group key -> index in groups
  std::map<int64_t, size_t> firstDataGroup;  // archive file -> its first instance data group
  std::vector<SGroup> above;                 // the items above the instances, one each
  auto count = [](SGroup& group, const SGroup& item) {
    group.files += 1;
    group.extents += item.extents;
    group.backupTime = std::max(group.backupTime, item.backupTime);
  };
  CQiError error = ForEachItem([&](const SStoredItem& item) {
    ++total;
    SGroup one;
    one.headerPath = item.headerPath;
    one.sourcePath = item.sourcePath;
    one.archiveFileId = item.pieces.front().archiveFileId;
    one.backupTime = item.backupTime;
    one.files = 1;
    one.extents = item.pieces.size() > 1 ? static_cast<int64_t>(item.pieces.size()) : 0;
    if (Depth(item.headerPath) < 3) {
      above.push_back(std::move(one));
      return CQiError::Success();
    }
    const std::string key = GroupKeyOf(item.headerPath);
    const std::string fullKey = std::to_string(one.archiveFileId) + key;
    auto known = groupOf.find(fullKey);
    if (known != groupOf.end()) {
      count(groups[known->second], one);
      return CQiError::Success();
    }
    groupOf[fullKey] = groups.size();
    if (key.compare(key.size() - 5, 5, "|data") == 0 && !firstDataGroup.count(one.archiveFileId)) {
      firstDataGroup[one.archiveFileId] = groups.size();
    }
    groups.push_back(std::move(one));
    return CQiError::Success();
  });
  if (error.IsError()) return error;
  for (SGroup& item : above) {
    auto host = firstDataGroup.find(item.archiveFileId);
    if (host != firstDataGroup.end()) {
      count(groups[host->second], item);
      continue;
    }
    const std::string fullKey = std::to_string(item.archiveFileId) + "|above";
    auto known = groupOf.find(fullKey);
    if (known != groupOf.end()) {
      count(groups[known->second], item);
      continue;
    }
    groupOf[fullKey] = groups.size();
    groups.push_back(std::move(item));
  }
  data.reserve(groups.size());
  for (const SGroup& group : groups) {
    BrowseData entry;
    entry.setName(LastComponent(group.headerPath));
    entry.setDisplayName(LastComponent(group.headerPath));
    entry.setPath(group.headerPath);
    entry.setField8(group.sourcePath);
    entry.setDetails(Details(group.backupTime, group.archiveFileId, group.files, group.extents));
    data.push_back(std::move(entry));
  }
  return CQiError::Success();
}

int IdxBrowseClient::Browse(IdxBrowseClientReq*, databrowse::BrowseResponseList* responses) {
  if (!initialized_) {
    lastError_ = FXErrorUtil::ErrorWin32(FXLOC, 21, "The index browse is not initialized");
    return kFailed;
  }
  if (!responses) {
    lastError_ = FXErrorUtil::ErrorWin32(FXLOC, 87, "No response list for the index browse");
    return kFailed;
  }
  std::string view;
  if (auto spec = request_.getViewSpec()) view = spec->getViewName();
  std::vector<BrowseData> data;
  databrowse::BrowseResult result;
  CQiError error;
  if (!view.empty()) {
    error = BrowseView(view, data);
  } else {
    int64_t total = 0;
    error = BrowseItems(data, total);
    if (!error.IsError()) {
      databrowse::AggregateResult aggregate;
      aggregate.setExpectedItemTotal(total);
      result.setAggregates({aggregate});
    }
  }
  if (error.IsError()) {
    lastError_ = error.Push(FXLOC);
    TQLOG(-1, "Index browse failed: %s", lastError_.AsString(2).c_str());
    return kFailed;
  }
  // The answer is moved into the reply, never copied: it holds every item
  // of an item-by-item browse.
  result.setData(std::move(data));
  std::vector<databrowse::BrowseResponse> list(1);
  list.front().setStatus(0);
  list.front().setResult(std::move(result));
  responses->reset();
  responses->setResponses(std::move(list));
  lastError_ = CQiError::Success();
  return kOk;
}
