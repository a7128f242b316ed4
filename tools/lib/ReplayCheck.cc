#include "tools/lib/ReplayCheck.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "platform/app/CassandraInstance.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArchiveStore.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimLogReplay.h"
#include "sim/lib/SimNodeConfig.h"

namespace TqHarness {

using TqSim::SimMutation;

namespace {

CQiError LoadCluster(const CHarnessState& state, TqSim::SimCluster& cluster) {
  std::string error;
  if (!TqSim::SimClusterFile(state.clusterFile).Load(cluster, error)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", error.c_str());
  }
  return CQiError();
}

// Whether "ks.table" is one of the selection ("KS" or "KS.TABLE"; none: all).
bool Selected(const std::vector<std::string>& selection, const std::string& table) {
  if (selection.empty()) return true;
  const std::string keyspace = table.substr(0, table.find('.'));
  for (const std::string& name : selection) {
    if (name == table || name == keyspace) return true;
  }
  return false;
}

// "/<cluster>/<dc>/<node>/#COMMITLOG#/<file>": the node, or "".
std::string CommitLogNode(const std::string& headerPath) {
  std::vector<std::string> parts;
  std::stringstream in(headerPath);
  std::string part;
  while (std::getline(in, part, '/')) parts.push_back(part);
  if (parts.size() != 6 || !parts[0].empty() || parts[4] != "#COMMITLOG#") return "";
  return parts[3];
}

}  // namespace

CQiError CReplayCheck::ArchiveSegments(
    const CHarnessState& state, const std::map<std::string, std::vector<SimMutation>>& byNode,
    std::vector<std::string>& written) {
  TqSim::SimCluster cluster;
  CQiError error = LoadCluster(state, cluster);
  if (error.IsError()) return error;
  // Without containers every node archives into the instance's folder when
  // one is registered.
  std::string shared;
  if (state.dockerWorld.empty() && state.instanceId != 0) {
    CassandraInstance(state.instanceId).getCassArchiveLogPath(shared);
  }
  const int version = TqSim::ClusterFixture::CommitLogVersion(cluster.version);
  for (const HarnessNode& node : state.nodes) {
    auto it = byNode.find(node.name);
    if (it == byNode.end()) continue;
    TqSim::SimNodeSettings settings;
    std::string text;
    if (!TqSim::SimNodeConfig(node.confDir).Read(settings, text)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", text.c_str());
    }
    std::string path;
    if (!TqSim::SimCommitLog::ArchiveSegment(shared.empty() ? node.commitLogArchiveDir : shared,
                                             settings.commitLogDir, version, it->second, path,
                                             text)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 29, "%s", text.c_str());
    }
    written.push_back(path);
  }
  return CQiError();
}

CQiError CReplayCheck::WritesOfEveryTable(const CHarnessState& state, int count,
                                          int64_t firstMicros,
                                          std::map<std::string, std::vector<SimMutation>>& byNode) {
  TqSim::SimCluster cluster;
  CQiError error = LoadCluster(state, cluster);
  if (error.IsError()) return error;
  for (const HarnessNode& node : state.nodes) {
    std::vector<SimMutation>& writes = byNode[node.name];
    int64_t micros = firstMicros;
    for (int i = 0; i < count; ++i) {
      for (const auto& ks : cluster.keyspaces) {
        for (const auto& table : ks.tables) {
          SimMutation m;
          m.timestampMicros = micros;
          m.table = ks.name + "." + table.name;
          m.value = node.name + "-" + std::to_string(micros) + "-" + std::to_string(writes.size());
          writes.push_back(m);
          ++micros;
        }
      }
    }
  }
  return CQiError();
}

CQiError CReplayCheck::Expected(const std::string& suiteHome, const CHarnessState& state,
                                const ReplayRequest& request,
                                std::map<std::string, std::vector<SimMutation>>& byNode,
                                int& segments) {
  segments = 0;
  CArchiveStore store(suiteHome);
  CQiError error = store.Open();
  if (error.IsError()) return error;
  std::vector<SJobRecord> jobs;
  error = store.Catalog().ListJobs(jobs);
  if (error.IsError()) return error;
  const int64_t until = request.toTime + request.intervalMinutes * 60;
  const int64_t point = request.toTime * 1000;
  for (const SJobRecord& job : jobs) {
    if (job.kind != "log" || job.jobId <= request.backupJob || job.jobId >= request.restoreJob) {
      continue;
    }
    std::vector<SStoredItem> items;
    error = store.ListItems(job.jobId, items);
    if (error.IsError()) return error;
    for (const SStoredItem& item : items) {
      const std::string node = CommitLogNode(item.headerPath);
      const bool ours = std::any_of(state.nodes.begin(), state.nodes.end(),
                                    [&](const HarnessNode& n) { return n.name == node; });
      if (item.isDirectory || !ours || item.backupTime > until) continue;
      std::string content;
      error = store.ReadItem(job.jobId, item.headerPath, content);
      if (error.IsError()) return error;
      std::string text;
      std::vector<SimMutation> mutations;
      if (!TqSim::SimCommitLog::ParseSegment(content, mutations, text)) {
        return FXErrorUtil::ErrorWin32(FXLOC, 13, "Stored segment %s of job %lld%s",
                                       item.headerPath.c_str(), static_cast<long long>(job.jobId),
                                       text.c_str());
      }
      ++segments;
      for (const SimMutation& m : mutations) {
        if (Selected(request.tables, m.table) &&
            TqSim::SimCommitLog::UpToPoint(m, point, "MICROSECONDS")) {
          byNode[node].push_back(m);
        }
      }
    }
  }
  return CQiError();
}

CQiError CReplayCheck::Replayed(const CHarnessState& state, int64_t restoreJob,
                                std::map<std::string, std::vector<SimMutation>>& byNode) {
  TqSim::SimCluster cluster;
  CQiError error = LoadCluster(state, cluster);
  if (error.IsError()) return error;
  for (const HarnessNode& node : state.nodes) {
    for (const auto& ks : cluster.keyspaces) {
      for (const auto& table : ks.tables) {
        for (const std::string& dataDir : node.dataDirs) {
          std::vector<TqSim::SimJournalEntry> entries;
          std::string text;
          const std::string dir = dataDir + "/" + ks.name + "/" + TqSim::TableDirName(table);
          if (!TqSim::SimCommitLog::ReadJournal(dir, entries, text)) {
            return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", text.c_str());
          }
          for (const auto& entry : entries) {
            if (entry.jobId == restoreJob) byNode[node.name].push_back(entry.mutation);
          }
        }
      }
    }
  }
  return CQiError();
}

CQiError CReplayCheck::Check(const std::string& suiteHome, const CHarnessState& state,
                             const ReplayRequest& request, ReplayReport& report) {
  report = ReplayReport();
  std::map<std::string, std::vector<SimMutation>> expected, replayed;
  CQiError error = Expected(suiteHome, state, request, expected, report.segments);
  if (!error.IsError()) error = Replayed(state, request.restoreJob, replayed);
  if (error.IsError()) return error;
  for (const HarnessNode& node : state.nodes) {
    ++report.nodes;
    std::vector<SimMutation> want = expected[node.name];
    std::vector<SimMutation> got = replayed[node.name];
    report.expected += static_cast<int>(want.size());
    report.replayed += static_cast<int>(got.size());
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    std::vector<SimMutation> missing, extra;
    std::set_difference(want.begin(), want.end(), got.begin(), got.end(),
                        std::back_inserter(missing));
    std::set_difference(got.begin(), got.end(), want.begin(), want.end(),
                        std::back_inserter(extra));
    for (const SimMutation& m : missing) {
      report.problems.push_back(
          {node.name, m.table, "not replayed: " + TqSim::SimCommitLog::MutationLine(m)});
    }
    for (const SimMutation& m : extra) {
      report.problems.push_back(
          {node.name, m.table,
           "replayed but not expected: " + TqSim::SimCommitLog::MutationLine(m)});
    }
    for (const char* name : {"commitlog_archiving.properties", "cassandra-env.sh"}) {
      const std::string copy = node.confDir + "/" + name + ".bkp";
      if (TqSim::IsFile(copy)) report.problems.push_back({node.name, copy, "copy not put back"});
    }
    TqSim::SimLogReplay::Settings settings;
    std::string text;
    if (TqSim::SimLogReplay::ReadSettings(node.confDir, settings, text) &&
        !settings.restoreDirectories.empty()) {
      report.problems.push_back({node.name, node.confDir + "/commitlog_archiving.properties",
                                 "restore settings still live: a restart replays again"});
    }
  }
  return CQiError();
}

}  // namespace TqHarness
