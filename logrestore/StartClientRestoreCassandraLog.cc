#include "logrestore/StartClientRestoreCassandraLog.h"

#include <cstdlib>
#include <iterator>
#include <list>
#include <map>
#include <optional>
#include <utility>

#include "common/RestoreOptionRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/suite/EvRstTask.h"

namespace TQCassandra {

namespace {

constexpr const char* kCommitLogComponent = "#COMMITLOG#";

// Whether the job's options ask for a stage-free restore.
CQiError ReadStageFreeChoice(EvRstTask* task, bool& stageFree) {
  stageFree = false;
  std::string xml;
  if (!task || task->getJobOptions(xml).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to get job options");
  }
  TMMsg::JobOption job;
  if (job.unserialize(xml) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to get unserialize job options");
  }
  std::optional<TMMsg::RestoreOptions> restore = job.getRestoreOptions();
  if (!restore) return CQiError::Success();
  std::optional<App::DistributedAppsRestoreOptions> distributed =
      restore->getDistributedAppsRestoreOptions();
  if (!distributed) return CQiError::Success();
  std::optional<App::CassandraRestoreOptions> cassandra = distributed->getCassandraRestoreOptions();
  stageFree = cassandra && cassandra->getStageFreeRestore() != 0;
  return CQiError::Success();
}

}  // namespace

CStartClientRestoreCassandraLog::CStartClientRestoreCassandraLog(TQRstJobClient* jobClient,
                                                                 TQJobCtrlClient* jobCtrlClient,
                                                                 bool baseFlag,
                                                                 bool subclientRestore)
    : CStartClientRestoreCassandra(jobClient, jobCtrlClient, baseFlag, subclientRestore, false,
                                   {}) {
  // Logs archived up to one archiving interval after the to-time hold its
  // writes.
  widensToTime = true;
}

CStartClientRestoreCassandraLog::~CStartClientRestoreCassandraLog() = default;

CQiError CStartClientRestoreCassandraLog::ProcessBrowseResponse(
    databrowse::BrowseResponseList& responses) {
  TQ_DEBUG_FUNCTION();
  bool stageFree = false;
  CQiError e = ReadStageFreeChoice(GetRestoreTask(), stageFree);
  if (e.IsError()) return e.Push(FXLOC);

  // (archive file id, "/<cluster>/<dc>/<node>") -> the record made for it in
  // this call: the commit logs of two nodes in one archive file are two
  // records, each restoring its own node's logs.
  std::map<std::pair<int32_t, std::string>, std::list<RestoreRecord>::iterator> made;
  unsigned long long expected = 0;
  bool haveExpected = false;
  unsigned long long restored = 0;
  unsigned long long skipped = 0;

  for (const databrowse::BrowseResponse& response : responses.getResponses()) {
    if (response.getStatus() != 0) continue;
    std::optional<databrowse::BrowseResult> result = response.getResult();
    if (!result) continue;
    const std::vector<databrowse::AggregateResult> aggregates = result->getAggregates();
    if (!aggregates.empty()) {
      haveExpected = true;
      expected = static_cast<unsigned long long>(aggregates.front().getExpectedItemTotal());
    }
    for (const databrowse::BrowseData& item : result->getData()) {
      std::optional<databrowse::BrowseItemDetails> details = item.getDetails();
      if (!details) continue;
      const std::string path = item.getPath();
      std::vector<std::string> parts;
      FXString::Split(path, "/", parts);
      const std::string keyspace = parts.size() > 4 ? parts[4] : std::string();
      TQLOG(3, "Keyspace Name [%s] ", keyspace.c_str());
      const int64_t files = details->getFileCount();
      const unsigned long long count = files > 0 ? static_cast<unsigned long long>(files) : 0;
      if (keyspace != kCommitLogComponent) {
        skipped += count;
        TQLOG(3, "Skipping non commit log afiles");
        continue;
      }
      const int32_t archiveFileId = static_cast<int32_t>(details->getArchiveFileId());
      std::string node;
      for (size_t i = 1; i < parts.size() && i < 4; ++i) node += "/" + parts[i];
      auto known = made.find({archiveFileId, node});
      if (known != made.end()) {
        // More logs of the same node in the same archive file.
        known->second->fileCount += files;
        known->second->itemCount += files;
        restored += count;
        continue;
      }
      RestoreRecord record;
      record.archiveFileId = archiveFileId;
      record.fileCount = files;
      record.itemCount = files;
      restored += count;
      takeArchiveFileDetails(*details, record);
      if (!takeNodeName(item, path, parts, record)) continue;
      restoreRecordList.push_back(record);
      made[{archiveFileId, node}] = std::prev(restoreRecordList.end());
    }
  }

  if (haveExpected) totalItemsExpected += expected;
  // This browse's total against this browse's own items, as the restore
  // launcher checks every page.
  if (expected != restored + skipped && !isTotalCheckWaived()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1627,
        "Total aggregate %llu is not equal to total aggregate of files per AFile value %llu",
        expected, restored);
  }
  if (stageFree) {
    totalItemsExpected = totalItemsExpected > skipped ? totalItemsExpected - skipped : 0;
    TQLOG(2, "Total items to restore with stage free data restore: %llu", totalItemsExpected);
  }
  for (const RestoreRecord& record : restoreRecordList) {
    TQLOG(2, "%s", record.AsString().c_str());
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
