// "tqcass verify" of a restore job: every SSTable file the restore brought
// back is compared with the stored item it came from.

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "platform/index/ArchiveStore.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimTableDir.h"
#include "tools/lib/ErrorText.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/VerifyProblems.h"

namespace TqCass {

namespace fs = std::filesystem;

namespace {

// One SSTable file of the backup the restore brought back.
struct Restored {
  std::string node;
  std::string tableDir;  // "<keyspace>/<table>-<id>"
  std::string name;
  SStoredItem item;
};

// A table folder is "<table>-<id>".
bool Selected(const RestorePlan& plan, const std::string& keyspace, const std::string& tableDir) {
  return PlanSelects(plan, keyspace, tableDir.substr(0, tableDir.rfind('-')));
}

}  // namespace

int VerifyRestoreJob(TqHarness::CJobHarness& harness, int64_t jobId, const RestorePlan& plan) {
  TqRunner::JobResult job;
  if (!CCommandContext::Check(harness.ReadJob(jobId, job))) return kFailed;
  CArchiveStore store(harness.SuiteHome());
  if (!CCommandContext::Check(store.Open())) return kFailed;
  std::vector<SJobRecord> records;
  if (!CCommandContext::Check(store.Catalog().ListJobs(records))) return kFailed;
  // The backups the restore read: the last full one up to the backup job and
  // the incremental ones after it.
  int64_t firstJob = 0;
  for (const SJobRecord& record : records) {
    if (record.kind == "backup" && record.jobId <= plan.backupJob &&
        record.level == TQBkpLevel_Full) {
      firstJob = std::max(firstJob, record.jobId);
    }
  }
  const TqHarness::CHarnessState& state = harness.State();
  std::map<std::string, Restored> restored;  // by node, table folder and file name
  for (const SJobRecord& record : records) {
    if (record.kind != "backup" || record.jobId < firstJob || record.jobId > plan.backupJob) {
      continue;
    }
    std::vector<SStoredItem> items;
    if (!CCommandContext::Check(store.ListItems(record.jobId, items))) return kFailed;
    for (const SStoredItem& item : items) {
      if (item.isDirectory) continue;
      for (const TqHarness::HarnessNode& node : state.nodes) {
        for (const std::string& dataDir : node.dataDirs) {
          const fs::path relative = fs::path(item.sourcePath).lexically_relative(dataDir);
          std::vector<std::string> parts(relative.begin(), relative.end());
          if (parts.size() < 3 || parts[0] == "..") continue;
          const std::string name = parts.back();
          if (SSTableComponentOf(name).empty() || !Selected(plan, parts[0], parts[1])) continue;
          Restored entry{node.name, parts[0] + "/" + parts[1], name, item};
          restored[node.name + "/" + entry.tableDir + "/" + name] = entry;
        }
      }
    }
  }
  TqSim::SimCluster cluster;
  std::string text;
  if (!TqSim::SimClusterFile(state.clusterFile).Load(cluster, text)) {
    CCommandContext::Fail(text);
    return kFailed;
  }
  const std::string format = TqSim::SimTableDir::FormatForVersion(cluster.version);
  const std::string stage = plan.stage + "/" + std::to_string(jobId);

  // In place, a restore is checked against what it placed: the files its
  // result files list, whatever later restores added to the same tables.
  // A job whose result files list nothing (an earlier run kept none) is
  // checked against every live file.
  const std::set<std::string> placed =
      plan.mode == "in-place" ? PlacedFiles(harness, jobId) : std::set<std::string>();
  // Files later restores placed: they are no fault of this one.
  std::set<std::string> placedLater;
  if (!placed.empty()) {
    for (int64_t later : harness.Jobs()) {
      RestorePlan laterPlan;
      if (later <= jobId || !ReadRestorePlan(harness.Home(), later, laterPlan)) continue;
      for (const std::string& file : PlacedFiles(harness, later)) placedLater.insert(file);
    }
  }

  // The files a restored item may have become, by node and table folder.
  auto candidates = [&](const std::string& nodeName, const std::string& tableDir) {
    std::vector<std::string> files;
    if (plan.mode == "staged") {
      // Each node's tables are staged in a folder of its own:
      // <stage>/<node>/<keyspace>/<table>.
      const std::string table = tableDir.substr(0, tableDir.rfind('-'));
      const std::string folder = stage + "/" + nodeName + "/" + table;
      std::error_code ec;
      for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path().string());
      }
      return files;
    }
    for (const auto& node : state.nodes) {
      if (node.name != nodeName) continue;
      for (const std::string& dataDir : node.dataDirs) {
        const TqSim::SimTableDir dir(dataDir + "/" + tableDir, format);
        for (const auto& sstable : dir.LiveSSTables()) {
          for (const auto& name : sstable.components) {
            const std::string file = dir.path() + "/" + name;
            if (placed.empty() || placed.count(file) != 0) files.push_back(file);
          }
        }
      }
    }
    return files;
  };

  CVerifyProblems problems;
  if (!job.Completed()) {
    problems.Add("", std::string("the job ended ") + TqRunner::PhaseStatusName(job.status));
  }
  std::set<std::string> matched;
  std::set<std::string> looked;  // node and table folders whose live files were compared
  int files = 0;
  uint64_t bytes = 0;
  for (const auto& entry : restored) {
    const Restored& r = entry.second;
    const std::string component = SSTableComponentOf(r.name);
    looked.insert(r.node + "/" + r.tableDir);
    if (!MatchRestoredCopy(store, r.item, component, candidates(r.node, r.tableDir), matched)) {
      problems.Add(r.node + " " + r.item.sourcePath, "no restored file holds its bytes");
      continue;
    }
    ++files;
    bytes += r.item.size;
  }
  // Truncated tables hold only what the backup held, besides what later
  // restores placed.
  if (plan.mode == "in-place" && TruncationText(plan, job) == "tables truncated") {
    for (const std::string& where : looked) {
      const size_t slash = where.find('/');
      const std::string node = where.substr(0, slash);
      const std::string tableDir = where.substr(slash + 1);
      for (const auto& harnessNode : state.nodes) {
        if (harnessNode.name != node) continue;
        for (const std::string& dataDir : harnessNode.dataDirs) {
          const TqSim::SimTableDir dir(dataDir + "/" + tableDir, format);
          for (const auto& sstable : dir.LiveSSTables()) {
            for (const auto& name : sstable.components) {
              const std::string file = dir.path() + "/" + name;
              if (matched.count(file) == 0 && placedLater.count(file) == 0) {
                problems.Add(file, "live file not from the backup");
              }
            }
          }
        }
      }
    }
  }
  std::printf("job %lld: %d files (%s) restored from backup job %lld checked: %s\n",
              static_cast<long long>(jobId), files,
              TqHarness::CProgressReporter::FormatBytes(static_cast<double>(bytes)).c_str(),
              static_cast<long long>(plan.backupJob),
              problems.Empty() && files > 0 ? "verified" : "NOT verified");
  if (files == 0 && problems.Empty()) std::printf("  no file of the backup was selected\n");
  problems.Print();
  // A restore to a point in time also replayed the commit logs.
  const bool replayed = plan.toTime == 0 || VerifyReplay(harness, jobId, plan);
  return problems.Empty() && files > 0 && replayed ? kOk : kFailed;
}

}  // namespace TqCass
