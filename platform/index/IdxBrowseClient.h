#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/IndexCatalog.h"
#include "platform/msg/BrowseRecords.h"

// Optional companions of a browse; this index needs none of them.
class IdxBrowseClientResp {};
class IdxBrowseClientReq {};
class IdxBrowseClientInterrupt {};

// Browse of earlier backups in the index catalog.
//
// The request's view (BrowseViewSpec field 2) chooses what is browsed:
// - a view name ("NodeMetaData", "DBView", ...): the view entries that
//   IndexingConnection stored. Each BrowseData carries the entry's path
//   (field 7), its last path component as name, and in its BrowseItemDetails
//   the IdxMetaData record (field 11), the entry's time (field 2), archive
//   group and archive file (fields 23/11 and 12) and a count of 1 (field 13).
// - no view name: the backed-up items (files and directories) that data
//   streams stored. Each BrowseData carries the header path (field 7), name
//   (fields 5 and 6), source path (field 8), and details: item time, archive
//   group, archive file, file count 1 and the number of extents of an item
//   stored in several pieces (field 44, else 0). The response's aggregate
//   result (field 5) is the number of items. With BrowseOptions field 62 = 1
//   the items are summed per archive file, instance ("/cluster/dc/instance")
//   and commit-log or not: one BrowseData per group, named by its first item,
//   with the group's file and extent counts. Items above the instances
//   ("/cluster", "/cluster/dc") count in the first data group of their
//   archive file (a group of their own only when it has none).
//
// Paths (BrowsePath field 1): "p" is the entry at p (for items: p and
// everything below it), "p/*" the entries directly below p, "p/**/*" (or
// "p/**") every entry below p; "/**/*" is the whole view. Of every path only
// the newest version counts (the latest job that wrote it, within the scope).
// An entry matched by several request paths is returned once.
//
// Scope: AppIdEntity (field 3) ombrel, instance, backup set, subclient
// (-1: all) and application type, each 0 for any; TimeRange (field 6) to-time
// and from-time in seconds, 0 for open. A view browse answers one
// BrowseResponse (status 0) whose BrowseResult always holds the data list.
class IdxBrowseClient {
 public:
  enum Result : int { kOk = 0, kFailed = 1 };

  // `home` "" is the current suite home.
  explicit IdxBrowseClient(const std::string& home = std::string());
  ~IdxBrowseClient();
  IdxBrowseClient(const IdxBrowseClient&) = delete;
  IdxBrowseClient& operator=(const IdxBrowseClient&) = delete;

  // Takes the request and opens the index. Non-zero (and isInitFailed) when
  // the index cannot be opened. `limit`, `name`, `response` and `interrupt`
  // are accepted and not interpreted.
  int Initialize(const databrowse::BrowseRequest& request, IdxBrowseClientResp* response, int limit,
                 const char* name, IdxBrowseClientInterrupt* interrupt);
  bool isInitFailed() const { return initFailed_; }
  // Whether this index answers the request: requests of type 1 (field 1).
  bool isIndexingV2BrowseRequest() const;
  void setCreateRestorVectorFlag(bool flag) { restoreVector_ = flag; }

  // Fills `responses` (replacing what it held). Non-zero when the client is
  // not initialised or the index cannot be read.
  int Browse(IdxBrowseClientReq* request, databrowse::BrowseResponseList* responses);

  // The items of the request (the browse without a view name), handed to
  // `visit` one at a time: for each request path in turn, by header path,
  // the newest version of every path within the scope, each path once
  // however many request paths match it (an item an earlier path matched is
  // passed over), incomplete items left out. Only the records of one header
  // path are held at a time, so a browse of any number of items takes the
  // same memory. An error from `visit` ends the walk and is returned.
  CQiError ForEachItem(const std::function<CQiError(const SStoredItem&)>& visit);
  // The entry an item-by-item answer (no per-archive-file option) holds for
  // `item`: its name, path, source path and details with a file count of 1.
  databrowse::BrowseData ItemEntry(const SStoredItem& item);

  const CQiError& getLastError() const { return lastError_; }

 private:
  enum class Match { kExact, kChildren, kBelow };
  struct PathPattern {
    std::string prefix;
    Match match;
  };

  static PathPattern ParsePath(const std::string& path);
  // Whether the pattern selects the item at `headerPath`.
  static bool Selects(const PathPattern& pattern, const std::string& headerPath);
  SBrowseScope Scope() const;
  CQiError BrowseView(const std::string& view, std::vector<databrowse::BrowseData>& data);
  CQiError BrowseItems(std::vector<databrowse::BrowseData>& data, int64_t& total);
  CQiError ArchiveGroupOf(int64_t archiveFileId, int64_t& group);
  databrowse::BrowseItemDetails Details(int64_t time, int64_t archiveFileId, int64_t fileCount,
                                        int64_t extentCount);

  std::string catalogPath_;
  std::unique_ptr<CIndexCatalog> catalog_;
  databrowse::BrowseRequest request_;
  bool initialized_ = false;
  bool initFailed_ = false;
  bool restoreVector_ = true;
  std::map<int64_t, int64_t> archiveGroups_;
  CQiError lastError_;
};
