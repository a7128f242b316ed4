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

CQiError IdxBrowseClient::BrowseItems(std::vector<BrowseData>& data, int64_t& total) {
  SBrowseScope scope = Scope();
  bool perArchiveFile = false;
  if (auto options = request_.getOptions()) perArchiveFile = options->getField62() == 1;
  total = 0;
  std::set<std::string> seen;
  std::vector<SStoredItem> items;
  for (const auto& browsePath : request_.getPaths()) {
    PathPattern pattern = ParsePath(browsePath.getPath());
    std::vector<SFileRecord> records;
    CQiError error = catalog_->QueryFileRecordsUnder(scope, pattern.prefix, records);
    if (error.IsError()) return error.Push(FXLOC);
    // Records come grouped by header path; of each path the newest job counts.
    size_t begin = 0;
    while (begin < records.size()) {
      size_t end = begin;
      while (end < records.size() && records[end].headerPath == records[begin].headerPath) ++end;
      const std::string& headerPath = records[begin].headerPath;
      bool wanted = true;
      if (pattern.match == Match::kChildren) {
        wanted = headerPath != pattern.prefix &&
                 Depth(headerPath) == (pattern.prefix == "/" ? 1 : Depth(pattern.prefix) + 1);
      } else if (pattern.match == Match::kBelow) {
        wanted = headerPath != pattern.prefix;
      }
      if (wanted && seen.insert(headerPath).second) {
        int64_t newestJob = 0;
        int64_t newestRecord = 0;
        for (size_t i = begin; i < end; ++i) {
          if (records[i].recordId > newestRecord) {
            newestRecord = records[i].recordId;
            newestJob = records[i].jobId;
          }
        }
        std::vector<SFileRecord> versions;
        for (size_t i = begin; i < end; ++i) {
          if (records[i].jobId == newestJob) versions.push_back(records[i]);
        }
        SStoredItem item;
        CArchiveStore::ResolvePieces(versions, item);
        if (item.complete) {
          items.push_back(item);
        } else {
          TQLOG(1, "Item %s of job %lld left out of the browse: %s", headerPath.c_str(),
                static_cast<long long>(newestJob), item.problem.c_str());
        }
      }
      begin = end;
    }
  }

  std::map<std::string, size_t> groups;      // group key -> index in data
  std::map<int64_t, size_t> firstDataGroup;  // archive file -> its first instance data group
  auto add = [&](const SStoredItem& item, const std::string& key) {
    const SFileRecord& first = item.pieces.front();
    int64_t extents = item.pieces.size() > 1 ? static_cast<int64_t>(item.pieces.size()) : 0;
    auto group = key.empty() ? groups.end() : groups.find(key);
    if (group != groups.end()) {
      BrowseData& existing = data[group->second];
      BrowseItemDetails details = *existing.getDetails();
      details.setFileCount(details.getFileCount() + 1);
      details.setExtentCount(details.getExtentCount() + extents);
      details.setBackupTime(std::max(details.getBackupTime(), item.backupTime));
      existing.setDetails(details);
      return;
    }
    if (!key.empty()) groups[key] = data.size();
    BrowseData entry;
    entry.setName(LastComponent(item.headerPath));
    entry.setDisplayName(LastComponent(item.headerPath));
    entry.setPath(item.headerPath);
    entry.setField8(item.sourcePath);
    entry.setDetails(Details(item.backupTime, first.archiveFileId, 1, extents));
    data.push_back(entry);
  };
  total = static_cast<int64_t>(items.size());
  if (!perArchiveFile) {
    for (const auto& item : items) add(item, std::string());
    return CQiError::Success();
  }
  // Items of an instance or below first: one group per archive file,
  // instance and data or commit logs, named by its first item. The items
  // above the instances ("/cluster", "/cluster/dc") a stream stored with its
  // instance's items count in the first data group of their archive file, so
  // that an archive file's data answers as one entry of its instance; only
  // where the archive file has no such group do they form one of their own.
  for (const auto& item : items) {
    if (Depth(item.headerPath) < 3) continue;
    const std::string key = GroupKeyOf(item.headerPath);
    const int64_t afile = item.pieces.front().archiveFileId;
    const bool known = groups.count(std::to_string(afile) + key) != 0;
    add(item, std::to_string(afile) + key);
    if (!known && key.compare(key.size() - 5, 5, "|data") == 0 && !firstDataGroup.count(afile)) {
      firstDataGroup[afile] = groups[std::to_string(afile) + key];
    }
  }
  for (const auto& item : items) {
    if (Depth(item.headerPath) >= 3) continue;
    const int64_t afile = item.pieces.front().archiveFileId;
    auto host = firstDataGroup.find(afile);
    if (host != firstDataGroup.end()) {
      groups["host|" + std::to_string(afile)] = host->second;
      add(item, "host|" + std::to_string(afile));
    } else {
      add(item, std::to_string(afile) + "|above");
    }
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
  result.setData(data);
  databrowse::BrowseResponse response;
  response.setStatus(0);
  response.setResult(result);
  responses->reset();
  responses->setResponses({response});
  lastError_ = CQiError::Success();
  return kOk;
}
