#include "restore/StartClientRestoreCassandra.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <optional>

#include "common/ClusterInstanceProcedure.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/framework/FSSubclientConf.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/PlatformInfo.h"

namespace TQCassandra {

namespace {

constexpr const char* kCommitLogComponent = "#COMMITLOG#";

// `path` split on "/", the empty element before a leading "/" kept.
std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  FXString::Split(path, "/", parts);
  return parts;
}

// The name under which the backup indexed a node: the agent instance name
// when the node has one, else its client name.
std::string IndexNameOf(const App::CassandraNode& node) {
  const std::string agentName = node.getAgentInstanceName();
  if (!agentName.empty()) return agentName;
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  return client ? client->getClientName() : std::string();
}

// "/<cluster>/<data centre>/<node>" of a split path (as much of it as the
// path has).
std::string NodePrefix(const std::vector<std::string>& parts) {
  std::string prefix;
  for (size_t i = 1; i < parts.size() && i < 4; ++i) prefix += "/" + parts[i];
  return prefix;
}

}  // namespace

CStartClientRestoreCassandra::CStartClientRestoreCassandra(
    TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient, bool baseFlag, bool subclientRestore,
    bool stageFreeRestore, const std::map<std::string, std::list<std::string>>& sourceDCmap)
    : CStartClientRestoreDistributed(jobClient, jobCtrlClient, baseFlag, false),
      subclientRestore(subclientRestore),
      stageFreeRestore(stageFreeRestore),
      sourceDCmap(sourceDCmap) {
  distributedRestore = true;
  perArchiveFileRecords = true;
}

CStartClientRestoreCassandra::~CStartClientRestoreCassandra() = default;

CQiError CStartClientRestoreCassandra::getToTime(long& toTime, bool flag) {
  TQ_DEBUG_FUNCTION();
  CQiError e = CStartClientRestore::getToTime(toTime, flag);
  if (e.IsError()) return e.Push(FXLOC);
  TQLOG(2, "ToTime: %ld", toTime);
  // Data items are taken as of the to-time itself: a wider window would
  // bring back data of later backups. An open to-time (the latest backups)
  // already finds every commit log; widened it would end the browse in 1970.
  if (!widensToTime || toTime == 0) return CQiError::Success();
  uint32_t interval = 30;
  if (!TQPlatformInfo().getNumber("Cassandra", "nCommitlogBackupInterval", interval)) {
    TQLOG(-1, "Unable to fetch registry value name for Commit log backup interval");
  }
  toTime += static_cast<long>(static_cast<int64_t>(interval) * 60);
  TQLOG(2, "Changing ToTime to %ld", toTime);
  return CQiError::Success();
}

void CStartClientRestoreCassandra::addBrowsePath(databrowse::BrowseRequest& request,
                                                 const std::string& path) {
  std::string text = path;
  if (!isVersionsPath(text)) {
    // A leading ";<text>;<text>;" prefix is dropped.
    if (!text.empty() && text[0] == ';') {
      size_t second = text.find(';', 1);
      size_t third = second == std::string::npos ? std::string::npos : text.find(';', second + 1);
      if (third != std::string::npos) text = text.substr(third + 1);
    }
    if (useAlternatePathDelimiter) {
      size_t cut = text.find(TQ_ALTERNATE_PATH_DELIMITER);
      if (cut != std::string::npos) text = text.substr(0, cut);
    }
  }
  std::vector<databrowse::BrowsePath> paths = request.getPaths();
  paths.push_back(databrowse::BrowsePath(text));
  request.setPaths(paths);
}

CQiError CStartClientRestoreCassandra::CreateBrowseRequest() {
  TQ_DEBUG_FUNCTION();
  if (stageFreeRestore) {
    if (!subclientRestore) return CQiError::Success();
    if (!fillBrowsePaths(browseRequest)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1627,
                                     "Failed to set browse paths for launching browse/find");
    }
    return CQiError::Success();
  }

  TQLOG(2, "Data restore");
  EvRstTask* task = GetRestoreTask();
  std::vector<std::string> selected =
      task ? task->getPaths(EvRstTask::kSourcePaths) : std::vector<std::string>();
  std::vector<std::string> additional;
  auto push = [&](const std::string& path) {
    // A path the selection or the list already holds would be browsed twice.
    if (std::find(selected.begin(), selected.end(), path) != selected.end()) return;
    if (std::find(additional.begin(), additional.end(), path) != additional.end()) return;
    TQLOG(2, "Pushing path %s", path.c_str());
    additional.push_back(path);
  };
  for (const std::string& path : selected) {
    TQLOG(2, "Browse request creation; Path : %s", path.c_str());
    const std::vector<std::string> parts = SplitPath(path);
    if (parts.size() > 4) {
      const std::string commitLogPath =
          "/" + parts[1] + "/" + parts[2] + "/" + parts[3] + "/" + kCommitLogComponent;
      if (std::find(additional.begin(), additional.end(), commitLogPath) == additional.end()) {
        TQLOG(2, "Pushing commit log path: %s", commitLogPath.c_str());
        additional.push_back(commitLogPath);
      }
    }
    if (subclientRestore) continue;
    std::vector<std::string> expansions;
    if (parts.size() == 2) {
      for (const auto& dataCenter : sourceDCmap)
        expansions.push_back(path + "/" + dataCenter.first);
    } else if (parts.size() == 3) {
      expansions.push_back(path);
    }
    for (const std::string& expansion : expansions) {
      push(expansion);
      const std::vector<std::string> expansionParts = SplitPath(expansion);
      auto nodes = sourceDCmap.find(expansionParts.size() > 2 ? expansionParts[2] : "");
      if (nodes == sourceDCmap.end()) continue;
      for (const std::string& client : nodes->second) push(expansion + "/" + client);
    }
  }
  if (task) {
    for (const std::string& path : additional) task->addPath(EvRstTask::kSourcePaths, path);
  }

  std::optional<databrowse::BrowseOptions> found = browseRequest.getOptions();
  databrowse::BrowseOptions options = found ? *found : databrowse::BrowseOptions();
  options.setField62(1);
  browseRequest.setOptions(options);

  CQiError e = CStartClientRestoreDistributed::CreateBrowseRequest();
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

bool CStartClientRestoreCassandra::loadClusterNodes() {
  TQLOG(2, "Instance Id: %ld", static_cast<long>(instanceId));
  const ClusterInstanceConfig reply = ClusterInstanceConfig::Get(static_cast<int32_t>(instanceId));
  switch (reply.step) {
    case ClusterInstanceConfig::kOk:
      break;
    case ClusterInstanceConfig::kSerialize:
      TQLOG(-1,
            "Distributed cluster instance XML serialization failed with an error. Please check "
            "the logs");
      return false;
    case ClusterInstanceConfig::kProcedure:
      TQLOG(-1,
            "Stored procedure to get instance properties failed with an error [%d], "
            "response Str [%s]",
            reply.code, reply.errorText.c_str());
      return false;
    case ClusterInstanceConfig::kParse:
      TQLOG(-1, "Unserialize of Stored procedure response failed with an error %d", reply.code);
      return false;
    case ClusterInstanceConfig::kNoConfig:
      TQLOG(-1, "Unserialize of Stored procedure response failed with an error %d", 0);
      return false;
  }
  // Each call reads the instance afresh: the list is the instance's, not a
  // sum over calls.
  clusterNodes = reply.config.getNodes();
  clusterName = reply.config.getClusterName();
  return true;
}

bool CStartClientRestoreCassandra::fillBrowsePaths(databrowse::BrowseRequest& request) {
  TQ_DEBUG_FUNCTION();
  if (stageFreeRestore) TQLOG(2, "Stage free restore. Filling source paths");
  if (!subclientRestore) return CStartClientRestore::fillBrowsePaths(request);
  if (!loadClusterNodes()) return false;

  EvRstTask* task = GetRestoreTask();
  const std::vector<std::string> selected =
      task ? task->getPaths(EvRstTask::kSourcePaths) : std::vector<std::string>();
  for (const std::string& path : selected) {
    if (path.empty()) continue;
    std::string keyspace, table;
    bool everything = path == "/";
    if (!everything) {
      const std::vector<std::string> parts = SplitPath(path);
      if (parts.size() == 2) {
        keyspace = parts[1];
      } else if (parts.size() == 3) {
        keyspace = parts[1];
        table = parts[2];
      } else {
        everything = true;
      }
    }
    if (everything) {
      std::vector<databrowse::BrowsePath> paths = request.getPaths();
      paths.push_back(databrowse::BrowsePath("/**/*"));
      request.setPaths(paths);
      continue;
    }
    for (const App::CassandraNode& node : clusterNodes) {
      std::string nodePath =
          "/" + clusterName + "/" + node.getDataCenter() + "/" + IndexNameOf(node) + "/" + keyspace;
      if (!table.empty()) nodePath += "/" + table;
      TQLOG(2, "Adding path %s", nodePath.c_str());
      addBrowsePath(request, nodePath);
    }
  }
  fillCommitLogBrowsePaths(request);

  browsePathList.clear();
  for (const databrowse::BrowsePath& path : request.getPaths()) {
    browsePathList.push_back(path.getPath());
  }
  return true;
}

void CStartClientRestoreCassandra::fillCommitLogBrowsePaths(databrowse::BrowseRequest& request) {
  for (const App::CassandraNode& node : clusterNodes) {
    // Named as the backup named the node in its commit-log header paths.
    const std::string path = "/" + clusterName + "/" + node.getDataCenter() + "/" +
                             IndexNameOf(node) + "/" + kCommitLogComponent;
    TQLOG(2, "Adding path %s", path.c_str());
    addBrowsePath(request, path);
  }
}

CQiError CStartClientRestoreCassandra::prepareScPaths() {
  TQ_DEBUG_FUNCTION();
  if (!subclientRestore) return CStartClientRestoreDistributed::prepareScPaths();
  FSSubclientConf subclientConf(subclientId);
  if (getDoCleanup()) {
    srcPathList.assign(1, "cleanup");
  } else if (skipSourcePathsFromBrowse == 0) {
    for (const std::string& browsePath : browsePathList) {
      TQLOG(2, " Data path [%s]", browsePath.c_str());
      std::string path = browsePath;
      subclientConf.fixPath(path, path, true);
      srcPathList.push_back(path);
      const int level = CStartClientRestore::computeStripLevelSuper(GetRestoreTask(), path);
      if (level < 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1627, "computeStripLevel failed for %s",
                                       path.c_str());
      }
      stripLevelList.push_back(level);
    }
  }
  if (srcPathList.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 1627, "srcpaths is empty");
  if (filterList.empty() && GetRestoreTask()) {
    for (const std::string& path : GetRestoreTask()->getPaths(EvRstTask::kFilterPaths)) {
      filterList.push_back(path);
    }
  }
  return CQiError::Success();
}

CQiError CStartClientRestoreCassandra::ProcessBrowseResponse(
    databrowse::BrowseResponseList& responses) {
  TQ_DEBUG_FUNCTION();
  // Archive file id -> what the records made for it in this call hold.
  struct Made {
    int64_t archiveGroup = 0;
    int64_t fileCount = 0;
    bool hasExtents = false;
    // Cluster, data centre and node of the items.
    std::string node;
    // The entry's own path: the browse of a stage-free restore, which asks
    // for no per-archive-file answers, lists every item on its own.
    std::string path;
  };
  std::multimap<int32_t, Made> made;
  // This browse's own figures.
  bool haveExpected = false;
  unsigned long long expected = 0;
  unsigned long long fileCount = 0;
  unsigned long long commitLogs = 0;

  // The reply is read in place: a stage-free restore's answer holds every item.
  databrowse::ForEachResultItem(
      responses,
      [&](const std::vector<databrowse::AggregateResult>& aggregates) {
        if (!aggregates.empty()) {
          haveExpected = true;
          expected = static_cast<unsigned long long>(aggregates.front().getExpectedItemTotal());
        }
      },
      [&](const databrowse::BrowseData& item) {
        std::optional<databrowse::BrowseItemDetails> details = item.getDetails();
        if (!details) return;
        const std::string path = item.getPath();
        const std::vector<std::string> parts = SplitPath(path);
        const std::string keyspace = parts.size() > 4 ? parts[4] : std::string();
        TQLOG(3, "Keyspace Name [%s] ", keyspace.c_str());
        if (keyspace == kCommitLogComponent) {
          commitLogs += static_cast<unsigned long long>(details->getFileCount());
          TQLOG(3, "Skipping commit log afiles for this phase");
          return;
        }
        const int32_t archiveFileId = static_cast<int32_t>(details->getArchiveFileId());
        const int64_t files = details->getFileCount();
        const int64_t extents = details->getExtentCount();
        const bool hasExtents = extents > 0;
        // The same archive file answered again for the same node with the same
        // figures (in a stage-free restore: for the same item) is one record,
        // whatever its extent count.
        const std::string node = NodePrefix(parts);
        const auto known = made.equal_range(archiveFileId);
        if (std::any_of(known.first, known.second, [&](const auto& entry) {
              return entry.second.archiveGroup == details->getArchiveGroup() &&
                     entry.second.fileCount == files && entry.second.hasExtents == hasExtents &&
                     entry.second.node == node && (!stageFreeRestore || entry.second.path == path);
            })) {
          return;
        }
        RestoreRecord record;
        record.archiveFileId = archiveFileId;
        record.hasExtents = hasExtents;
        record.fileCount = files;
        record.extentCount = extents;
        record.itemCount = files + extents;
        extentItemsCounted += static_cast<unsigned long long>(extents);
        fileCount += static_cast<unsigned long long>(files);
        takeArchiveFileDetails(*details, record);
        // An item above the nodes ("/<cluster>", "/<cluster>/<dc>"), answered
        // on its own by a browse without per-archive-file answers, counts in
        // the total but belongs to no node: no record restores it.
        if (!takeNodeName(item, path, parts, record)) return;
        restoreRecordList.push_back(record);
        made.emplace(archiveFileId,
                     Made{details->getArchiveGroup(), files, hasExtents, node, path});
      });

  commitLogItemCount += static_cast<int64_t>(commitLogs);
  if (haveExpected) totalItemsExpected += expected;
  TQLOG(2, "Commit log items: %llu", static_cast<unsigned long long>(commitLogItemCount));
  // This browse's total against this browse's own items, so that every page
  // of a paged answer passes on its own.
  if (expected != fileCount + commitLogs && !isTotalCheckWaived()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1627,
        "Total aggregate %llu is not equal to total aggregate of files per AFile value %llu",
        expected, fileCount);
  }
  for (const RestoreRecord& record : restoreRecordList) {
    TQLOG(2, "%s", record.AsString().c_str());
  }
  return CQiError::Success();
}

void CStartClientRestoreCassandra::takeArchiveFileDetails(
    const databrowse::BrowseItemDetails& details, RestoreRecord& record) {
  record.archiveGroupId = static_cast<uint32_t>(details.getArchiveGroup());
  std::optional<TqEntities::OmbrelEntity> ombrel = details.getOmbrel();
  if (ombrel) {
    record.installationDomainId = ombrel->getOmbrelId();
    record.ombrelId = static_cast<uint32_t>(ombrel->getOmbrelId());
  }
  record.archiveFileType = I2::RESTORE_AFILE_TYPES::TAPE;
  std::optional<databrowse::BrowseFlags> flags = details.getFlags();
  std::optional<databrowse::AdditionalFlagList> additional;
  if (flags) additional = flags->getAdditionalFlags();
  if (!additional) return;
  for (const databrowse::AdditionalFlag& entry : additional->getFlags()) {
    if (entry.getKey() != I2::RESTORE_AFILE_TYPES::KEY_NAME) continue;
    record.archiveFileType =
        static_cast<uint16_t>(std::strtoul(entry.getValue().c_str(), nullptr, 10));
    return;
  }
}

bool CStartClientRestoreCassandra::takeNodeName(const databrowse::BrowseData& item,
                                                const std::string& path,
                                                const std::vector<std::string>& parts,
                                                RestoreRecord& record) {
  TQLOG(3, " Cassandra AppType");
  TQLOG(3, "  Path [%s] [%s] [%s] [%s]", path.c_str(), item.getName().c_str(),
        item.getField8().c_str(), item.getDisplayName().c_str());
  if (path.empty()) return false;
  record.strNodeName = parts.size() > 3 ? parts[3] : std::string();
  TQLOG(3, "Node Name [%s] ", record.strNodeName.c_str());
  return !record.strNodeName.empty();
}

}  // namespace TQCassandra
