// "tqcass verify" of a restore onto other nodes (another cluster of the
// home, or a node that replaced a dead one): every SSTable file the mapped
// source nodes had backed up is compared with what its target node serves.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "platform/index/ArchiveStore.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimTableDir.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/VerifyProblems.h"

namespace TqCass {

namespace fs = std::filesystem;

namespace {

// One backed-up SSTable file and where the restore should have put it.
struct Expected {
  std::string target;  // target node
  std::string keyspace;
  std::string table;
  std::string name;
  SStoredItem item;
};

}  // namespace

int VerifyCrossRestoreJob(TqHarness::CJobHarness& harness, int64_t jobId, const RestorePlan& plan) {
  TqRunner::JobResult job;
  if (!CCommandContext::Check(harness.ReadJob(jobId, job))) return kFailed;
  const TqHarness::CHarnessState& state = harness.State();
  const TqHarness::HarnessCluster source = state.Primary();
  TqHarness::HarnessCluster target;
  const std::string targetName = plan.targetCluster.empty() ? source.name : plan.targetCluster;
  if (!state.FindCluster(targetName, target)) {
    CCommandContext::Fail("the home has no cluster " + targetName + " any more");
    return kFailed;
  }
  // Source node -> target node, as the restore paired them.
  std::map<std::string, std::string> pairs;
  for (const auto& pair : plan.nodeMap) pairs[pair.first] = pair.second;
  if (pairs.empty()) {
    for (size_t i = 0; i < source.nodes.size() && !target.nodes.empty(); ++i) {
      pairs[source.nodes[i].name] = target.nodes[i % target.nodes.size()].name;
    }
  }

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
  std::map<std::string, Expected> expected;  // by source node, table folder and file name
  for (const SJobRecord& record : records) {
    if (record.kind != "backup" || record.jobId < firstJob || record.jobId > plan.backupJob) {
      continue;
    }
    std::vector<SStoredItem> items;
    if (!CCommandContext::Check(store.ListItems(record.jobId, items))) return kFailed;
    for (const SStoredItem& item : items) {
      if (item.isDirectory) continue;
      for (const TqHarness::HarnessNode& node : source.nodes) {
        auto pair = pairs.find(node.name);
        if (pair == pairs.end()) continue;
        for (const std::string& dataDir : node.dataDirs) {
          const fs::path relative = fs::path(item.sourcePath).lexically_relative(dataDir);
          std::vector<std::string> parts(relative.begin(), relative.end());
          // <keyspace>/<table>-<id>/[snapshots/<name>/ or backups/]<file>
          if (parts.size() < 3 || parts[0] == ".." || parts[0] == "system") continue;
          const std::string name = parts.back();
          const std::string table = parts[1].substr(0, parts[1].rfind('-'));
          if (SSTableComponentOf(name).empty() || !PlanSelects(plan, parts[0], table)) continue;
          expected[node.name + "/" + parts[1] + "/" + name] =
              Expected{pair->second, parts[0], table, name, item};
        }
      }
    }
  }

  TqSim::SimCluster cluster;
  std::string text;
  if (!TqSim::SimClusterFile(target.clusterFile).Load(cluster, text)) {
    CCommandContext::Fail(text);
    return kFailed;
  }
  const std::string format = TqSim::SimTableDir::FormatForVersion(cluster.version);
  // The files a restored item may have become: the live SSTables of its
  // table on its target node (with the loader, on any node of the target),
  // or the staging folder.
  auto candidates = [&](const Expected& e) {
    std::vector<std::string> files;
    if (plan.mode == "staged") {
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(plan.stage + "/" + std::to_string(jobId), ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file()) files.push_back(it->path().string());
      }
      return files;
    }
    const TqSim::SimTable* table = cluster.FindTable(e.keyspace, e.table);
    if (table == nullptr) return files;
    for (const auto& node : target.nodes) {
      if (plan.mode != "loader" && node.name != e.target) continue;
      for (const std::string& dataDir : node.dataDirs) {
        const TqSim::SimTableDir dir(dataDir + "/" + e.keyspace + "/" + TqSim::TableDirName(*table),
                                     format);
        for (const auto& sstable : dir.LiveSSTables()) {
          for (const auto& name : sstable.components) files.push_back(dir.path() + "/" + name);
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
  int files = 0;
  uint64_t bytes = 0;
  for (const auto& entry : expected) {
    const Expected& e = entry.second;
    const std::string component = SSTableComponentOf(e.name);
    if (!MatchRestoredCopy(store, e.item, component, candidates(e), matched)) {
      problems.Add(e.target + " " + e.item.sourcePath, "no restored file holds its bytes");
      continue;
    }
    ++files;
    bytes += e.item.size;
  }
  std::printf("job %lld: %d files (%s) restored from backup job %lld onto %s checked: %s\n",
              static_cast<long long>(jobId), files,
              TqHarness::CProgressReporter::FormatBytes(static_cast<double>(bytes)).c_str(),
              static_cast<long long>(plan.backupJob), target.name.c_str(),
              problems.Empty() && files > 0 ? "verified" : "NOT verified");
  if (files == 0 && problems.Empty()) std::printf("  no file of the backup was selected\n");
  problems.Print();
  return problems.Empty() && files > 0 ? kOk : kFailed;
}

}  // namespace TqCass
