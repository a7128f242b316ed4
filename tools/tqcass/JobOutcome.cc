// What tqcass prints when a job ends: the summary of a backup or a restore,
// and for a job that did not complete, the errors that explain it first.

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "platform/index/ArchiveStore.h"
#include "platform/log/LogWriter.h"
#include "tools/lib/ErrorText.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/LoggedErrors.h"

namespace TqCass {

namespace {

// Lines of one kind printed before the rest is only counted.
constexpr size_t kCausesShown = 10;
constexpr size_t kLoggedShown = 8;

std::string LogFileName() { return g_ptrLogWriter ? g_ptrLogWriter->GetLogFile() : "the log"; }

std::string Bytes(uint64_t bytes) {
  return TqHarness::CProgressReporter::FormatBytes(static_cast<double>(bytes));
}

// The components of an index path: "/c/dc/node/ks" -> {"c", "dc", "node", "ks"}.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < path.size()) {
    const size_t slash = path.find('/', at);
    const size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

// Whether the stored item at `header` ("/cluster/dc/node/ks/table/file") lies
// under the selection `path`: below the subclient ("/", "/KS", "/KS/TABLE")
// or, for a restore across instances, an index path from the cluster down.
bool Under(const std::string& header, const std::string& path, bool fromSubclient) {
  std::vector<std::string> item = Components(header);
  std::vector<std::string> selection = Components(path);
  if (fromSubclient) {
    if (item.size() < 3) return false;
    item.erase(item.begin(), item.begin() + 3);  // cluster, data centre, node
  }
  if (item.size() <= selection.size()) return false;
  for (size_t i = 0; i < selection.size(); ++i) {
    if (item[i] != selection[i]) return false;
  }
  return true;
}

// The logged reply behind a pending cause that carries no text of its own:
// the node logs the failed request with the reply last, in brackets
// ("Failed to refresh the keyspaces error [...] [Cannot write <folder>/...:
// Operation not permitted]"). "" when no such line was logged.
std::string LoggedReason(uint32_t id, const std::vector<std::string>& lines) {
  struct Source {
    uint32_t id;
    const char* marker;
  };
  static const Source kSources[] = {
      {0x6000472, "Failed to refresh the keyspaces"},           // a table could not be reloaded
      {0x600048D, "Failed to change permissions on required"},  // the owner could not be set
  };
  for (const Source& source : kSources) {
    if (source.id != id) continue;
    for (const std::string& line : lines) {
      if (line.find(source.marker) == std::string::npos) continue;
      const size_t open = line.rfind('[');
      const size_t close = line.rfind(']');
      if (open != std::string::npos && close != std::string::npos && close > open + 1) {
        return line.substr(open + 1, close - open - 1);
      }
    }
  }
  return std::string();
}

}  // namespace

void PrintEvents(const TqRunner::JobResult& job, const char* indent) {
  for (const auto& event : job.events) {
    std::printf("%s%-8s %-9s %s  [0x%X]\n", indent, CEventJournal::SeverityName(event.severity),
                event.client.empty() ? "-" : event.client.c_str(),
                TqHarness::CErrorText::Event(event.id, event.args).c_str(), event.id);
  }
  for (const auto& cause : job.pendingCauses) {
    std::printf("%spending  %-9s %s  [0x%X]\n", indent,
                cause.client.empty() ? "-" : cause.client.c_str(),
                TqHarness::CErrorText::Event(cause.id, cause.args).c_str(), cause.id);
  }
}

void PrintFailure(const TqRunner::JobResult& job, CLoggedErrors* logged) {
  std::vector<std::string> reasons;
  std::vector<std::string> pending;
  std::vector<std::string> advice;
  std::vector<uint32_t> named;
  auto readable = [&named](const std::string& text) {
    return TqHarness::CErrorText::Readable(text, &named);
  };
  auto hint = [&advice](uint32_t id) {
    const std::string text = TqHarness::CErrorText::Advice(id);
    bool known = false;
    for (const auto& line : advice) known |= line == text;
    if (!text.empty() && !known) advice.push_back(text);
  };
  auto described = [](const CEventJournal::Entry& entry) {
    std::string text = TqHarness::CErrorText::Event(entry.id, entry.args);
    return entry.client.empty() ? text : entry.client + ": " + text;
  };
  if (!job.error.empty()) reasons.push_back(readable(job.error));
  for (const auto& phase : job.phases) {
    if (!phase.message.empty()) reasons.push_back(phase.name + ": " + readable(phase.message));
    for (const auto& node : phase.nodes) {
      if (!node.failure.empty()) {
        reasons.push_back(phase.name + ": " + node.clientName + ": " + readable(node.failure));
      }
    }
  }
  for (uint32_t id : named) hint(id);
  for (const auto& event : job.events) {
    if (event.severity < CEventJournal::kMajor) continue;
    reasons.push_back(described(event));
    hint(event.id);
  }
  const std::vector<std::string> lines = logged ? logged->Lines() : std::vector<std::string>();
  for (const auto& cause : job.pendingCauses) {
    // A cause without words of its own gets the reason the node logged.
    const std::string reason = LoggedReason(cause.id, lines);
    pending.push_back(described(cause) + (reason.empty() ? "" : ": " + reason));
    hint(cause.id);
  }

  // First what failed and why, as the processes logged it; then the job's
  // own reasons, its pending causes and what to do.
  const std::vector<std::string> causes = logged ? logged->Causes() : std::vector<std::string>();
  for (size_t i = 0; i < causes.size() && i < kCausesShown; ++i) {
    std::printf("  failed: %s\n", causes[i].c_str());
  }
  if (causes.size() > kCausesShown) {
    std::printf("  (%zu more failures in %s)\n", causes.size() - kCausesShown,
                LogFileName().c_str());
  }
  for (const auto& line : reasons) std::printf("  reason: %s\n", line.c_str());
  for (const auto& line : pending) std::printf("  pending: %s\n", line.c_str());
  for (const auto& line : advice) std::printf("  to do: %s\n", line.c_str());
  if (!logged) return;
  // The other errors logged only help when nothing above says what failed.
  size_t shown = 0;
  if (causes.empty()) {
    for (; shown < lines.size() && shown < kLoggedShown; ++shown) {
      std::printf("  logged: %s\n", lines[shown].c_str());
    }
  } else {
    shown = causes.size() < kCausesShown ? causes.size() : kCausesShown;
  }
  if (lines.size() > shown) {
    std::printf("  (%zu more errors in %s)\n", lines.size() - shown, LogFileName().c_str());
  }
}

std::string MissingViews(const std::string& suiteHome, int64_t jobId) {
  CArchiveStore store(suiteHome);
  if (store.Open().IsError()) return std::string();
  SJobRecord record;
  bool found = false;
  if (store.Catalog().GetJob(jobId, record, found).IsError() || !found || record.kind != "backup") {
    return std::string();
  }
  std::vector<SMetadataRecord> views;
  if (store.Catalog().ListMetadata(jobId, views).IsError()) return std::string();
  bool nodes = false, schemas = false;
  for (const SMetadataRecord& view : views) {
    nodes |= view.viewName == "NodeMetaData";
    schemas |= view.viewName == "DBView";
  }
  if (nodes && schemas) return std::string();
  return std::string("its index views were not written (") +
         (nodes ? "no keyspace or table schema" : "no node backup time") +
         "): a restore onto another cluster or to a point in time lacks the schema and the "
         "reference time";
}

void PrintBackupSummary(TqHarness::CJobHarness& harness, const TqRunner::JobResult& job,
                        const TqHarness::CProgressReporter& progress, CLoggedErrors* logged) {
  StoreStats stats = StatsOf(harness.SuiteHome(), job.jobId);
  int tasks = 0, complete = 0;
  for (const auto& phase : job.phases) {
    for (const auto& task : phase.tasks) {
      ++tasks;
      if (task.status == DistributedQEL::TASK_COMPLETE) ++complete;
    }
  }
  std::printf("job %lld (%s %s): %s\n", static_cast<long long>(job.jobId), job.jobType.c_str(),
              KindName(stats), StatusText(job).c_str());
  std::printf("  %d of %d tasks complete, %llu files stored (%s), %lld s\n", complete, tasks,
              static_cast<unsigned long long>(progress.Files()), Bytes(stats.bytes).c_str(),
              static_cast<long long>(job.endTime - job.startTime));
  const std::string views = MissingViews(harness.SuiteHome(), job.jobId);
  if (job.Completed() && !views.empty()) std::printf("  warning: %s\n", views.c_str());
  if (!job.Completed()) PrintFailure(job, logged);
}

TqHarness::CCollectTotals::Totals RestoreTotals(const std::string& suiteHome, int64_t backupJob,
                                                int64_t toTime,
                                                const std::vector<std::string>& paths,
                                                bool fromSubclient) {
  TqHarness::CCollectTotals::Totals totals;
  CArchiveStore store(suiteHome);
  std::vector<SJobRecord> records;
  if (store.Open().IsError() || store.Catalog().ListJobs(records).IsError()) return totals;
  // The data backups read: the last full one up to the backup job and the
  // ones after it, whose items up to `toTime` count.
  int64_t firstJob = 0;
  for (const SJobRecord& record : records) {
    if (record.kind == "backup" && record.jobId <= backupJob && record.level == TQBkpLevel_Full) {
      firstJob = std::max(firstJob, record.jobId);
    }
  }
  std::vector<int64_t> jobs;
  for (const SJobRecord& record : records) {
    if (record.kind == "backup" && record.jobId >= firstJob) jobs.push_back(record.jobId);
  }
  // The items come by header path, each path's jobs in order: of each path
  // the newest version counts (the later job when two were read at once).
  std::string path;
  bool counted = false;  // whether `path` has a version within the time
  uint64_t newestSize = 0;
  int64_t newestTime = 0;
  auto countPath = [&]() {
    if (!counted) return;
    ++totals.files;
    totals.bytes += newestSize;
  };
  CQiError error = store.ForEachItem(jobs, [&](const SStoredItem& item) {
    if (item.headerPath != path) {
      countPath();
      path = item.headerPath;
      counted = false;
    }
    if (item.isDirectory || (toTime > 0 && item.backupTime > toTime)) return CQiError::Success();
    bool selected = false;
    for (const std::string& selection : paths) {
      selected |= Under(item.headerPath, selection, fromSubclient);
    }
    if (!selected) return CQiError::Success();
    if (!counted || newestTime <= item.backupTime) {
      newestSize = item.size;
      newestTime = item.backupTime;
      counted = true;
    }
    return CQiError::Success();
  });
  if (error.IsError()) return totals;
  countPath();
  totals.complete = true;
  return totals;
}

void PrintRestoreSummary(const TqRunner::JobResult& job, const RestorePlan& plan,
                         const RestoreCounts& counts) {
  int tasks = 0, complete = 0;
  int nodes = 0;
  for (const auto& phase : job.phases) {
    if (phase.name == "restore") nodes = static_cast<int>(phase.nodes.size());
    for (const auto& task : phase.tasks) {
      ++tasks;
      if (task.status == DistributedQEL::TASK_COMPLETE) ++complete;
    }
  }
  std::printf("job %lld (restore %s): %s\n", static_cast<long long>(job.jobId), plan.mode.c_str(),
              StatusText(job).c_str());
  std::string of = plan.keyspaces.empty() ? "everything" : "the selection";
  if (!plan.nodeMap.empty()) {
    // A node map restores the nodes it names, which may be some only.
    std::string sources;
    for (const auto& pair : plan.nodeMap) sources += (sources.empty() ? "" : ", ") + pair.first;
    of += " of node" + std::string(plan.nodeMap.size() == 1 ? " " : "s ") + sources;
  }
  of += " of backup job " + std::to_string(plan.backupJob);
  const long long seconds = static_cast<long long>(job.endTime - job.startTime);
  if (plan.mode == "stage-free") {
    // No data mover task: each node loads its tables from the share.
    std::printf("  %d nodes loaded %llu files (%s) of %s from the share, %lld s\n", nodes,
                static_cast<unsigned long long>(counts.files), Bytes(counts.bytes).c_str(),
                of.c_str(), seconds);
  } else {
    std::printf("  %d of %d tasks complete, %llu files (%s) restored of %llu (%s), %s, %lld s\n",
                complete, tasks, static_cast<unsigned long long>(counts.files),
                Bytes(counts.bytes).c_str(), static_cast<unsigned long long>(counts.totalFiles),
                Bytes(counts.totalBytes).c_str(), of.c_str(), seconds);
  }
  if (!plan.unmapped.empty()) {
    std::string names;
    for (const std::string& node : plan.unmapped) names += (names.empty() ? "" : ", ") + node;
    std::printf("  not restored: %s (not in --map)\n", names.c_str());
  }
  const std::string truncation = TruncationText(plan, job);
  if (!truncation.empty()) std::printf("  %s\n", truncation.c_str());
}

std::string TruncationText(const RestorePlan& plan, const TqRunner::JobResult& job) {
  if (plan.mode != "in-place" || !plan.truncate) return std::string();
  if (plan.truncation == "done") return "tables truncated";
  if (plan.truncation.rfind("skipped: ", 0) == 0) {
    return "tables not truncated: " + plan.truncation.substr(9);
  }
  if (plan.truncation.empty() && !plan.recorded && job.Completed()) {
    // A record of an earlier tqcass: a completed job truncated.
    return "tables truncated";
  }
  return "tables not truncated: the restore did not reach the truncation";
}

}  // namespace TqCass
