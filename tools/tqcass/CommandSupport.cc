#include "tools/tqcass/CommandSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>

#include "common/CommitLogStagingPath.h"
#include "common/RestoreOptionRecords.h"
#include "platform/base/QiFile.h"
#include "platform/index/ArchiveStore.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimNfsMount.h"
#include "tools/lib/ErrorText.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/lib/RestoreJobOptions.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CrossRestoreTargets.h"
#include "tools/tqcass/LoggedErrors.h"

namespace TqCass {

std::string TimeText(int64_t t) {
  if (t <= 0) return "-";
  time_t value = static_cast<time_t>(t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&value));
  return text;
}

const char* LevelName(int level) {
  return level == TQBkpLevel_Full ? "full" : level == 0 ? "-" : "incremental";
}

StoreStats StatsOf(const std::string& suiteHome, int64_t jobId) {
  StoreStats stats;
  CArchiveStore store(suiteHome);
  if (store.Open().IsError()) return stats;
  SJobRecord record;
  bool found = false;
  if (!store.Catalog().GetJob(jobId, record, found).IsError() && found) {
    stats.level = record.level;
    stats.kind = record.kind;
  }
  // Counted item by item: a job of any number of files takes the same
  // memory to sum up.
  StoreStats counted = stats;
  const CQiError error = store.ForEachItem({jobId}, [&](const SStoredItem& item) {
    ++counted.items;
    if (!item.isDirectory) {
      ++counted.files;
      counted.bytes += item.size;
    }
    return CQiError::Success();
  });
  if (error.IsError()) return stats;
  counted.known = true;
  return counted;
}

const char* KindName(const StoreStats& stats) {
  return stats.kind == "log" ? "commit-log" : LevelName(stats.level);
}

std::string StatusText(const TqRunner::JobResult& job) {
  std::string text = TqRunner::PhaseStatusName(job.status);
  if (job.status == PHASE_FAILED && !job.error.empty() && job.error.size() <= 40) {
    text += " (" + job.error + ")";
  }
  return text;
}

int RunJob(CCommandContext& context, TqRunner::JobSpec& spec, TqRunner::JobResult& result,
           const std::function<void()>& afterRun) {
  TqHarness::CJobHarness& harness = context.Harness();
  TQJobCtrlClientPtr control(new TQJobCtrlClient(spec.jobId));
  spec.jobCtrlClient = control;
  const int64_t id = spec.jobId;
  context.Signals().SetStop([control, id](int signal) {
    std::fprintf(stderr, "tqcass: %s: stopping job %lld (again to stop at once)\n",
                 CSignalWatcher::Name(signal).c_str(), static_cast<long long>(id));
    control->setQuitFlag(true);
  });
  const CQiError error = harness.Run(spec, result);
  context.Signals().ClearStop();
  if (afterRun) afterRun();
  const int signal = context.Signals().Received();
  if (signal != 0) CSignalWatcher::StopChildren();
  if (signal != 0 || error.IsError() || !result.Completed()) {
    // A restore that stopped, failed or ended with errors leaves nothing
    // half-placed live: what it placed and never loaded (its journals say
    // which) would be loaded by the next start of Cassandra and again by a
    // rerun.
    TqHarness::InterruptedJob placed;
    placed.jobId = id;
    placed.ended = true;
    harness.RecoverPlacedFiles(placed);
    CCommandContext::PrintLeftovers(placed);
  }
  if (signal != 0) {
    const std::string reason = "interrupted by " + CSignalWatcher::Name(signal);
    CCommandContext::Check(harness.MarkJobFailed(id, reason));
    CCommandContext::Fail("job " + std::to_string(id) + " " + reason + ": recorded as failed");
    return 128 + signal;
  }
  if (!CCommandContext::Check(error)) return kFailed;
  return kJobRan;
}

int RunBackupJob(CCommandContext& context, const TqHarness::BackupRequest& request, bool quiet,
                 int64_t& jobId) {
  TqHarness::CJobHarness& harness = context.Harness();
  if (!CCommandContext::Check(harness.NeedRegisteredCluster())) return kFailed;
  TqHarness::CProgressReporter progress(stdout);
  TqRunner::JobSpec spec = harness.MakeSpec(request);
  spec.streamFactory = progress.Wrap(harness.StoreStreams(spec));
  if (!quiet) {
    spec.observer = progress.Observer();
    progress.Start(harness.CollectTotals(spec.jobId), std::chrono::seconds(1));
  }
  std::printf("backup job %lld (%s) of %s\n", static_cast<long long>(spec.jobId),
              request.commitLog ? "commit logs" : LevelName(request.level),
              harness.State().clusterName.c_str());
  std::fflush(stdout);
  jobId = spec.jobId;
  TqRunner::JobResult result;
  CLoggedErrors logged;
  const int status = RunJob(context, spec, result, [&progress] { progress.Stop(); });
  if (status != kJobRan) return status;
  PrintBackupSummary(harness, result, progress, &logged);
  if (result.Completed()) return kOk;
  CCommandContext::Fail("job " + std::to_string(jobId) + " " +
                        TqRunner::PhaseStatusName(result.status));
  return kFailed;
}

namespace {

std::string RestorePlanFile(const std::string& home, int64_t jobId) {
  return home + "/restores/" + std::to_string(jobId);
}

// The selection of the restore below the subclient: "/" is all of it.
std::vector<std::string> SelectionOf(const RestorePlan& plan) {
  std::vector<std::string> paths;
  for (const std::string& name : plan.keyspaces) {
    std::string path = "/" + name;
    const size_t dot = path.find('.');
    if (dot != std::string::npos) path[dot] = '/';
    paths.push_back(path);
  }
  if (paths.empty()) paths.push_back("/");
  return paths;
}

// The suite's operating-system id of a Linux client.
constexpr uint32_t kLinuxOperatingSystem = 2;
// A node a restore had stopped could not be started again (its argument
// names the nodes).
constexpr uint32_t kEvNodeNotRestarted = 0x60003ED;

std::string OptionsXml(const RestorePlan& plan, const std::string& stage,
                       const CrossRestore* cross = nullptr) {
  App::CassandraRestoreOptions options;
  if (cross) {
    // The node map names who restores what. In place a target node that
    // takes over its source node's tokens starts from empty data folders;
    // one that holds them already keeps its rows unless the restored tables
    // are truncated (`plan.truncate`, never beside a takeover or a dead
    // node).
    TqHarness::SetCrossInstanceMap(options, cross->pairs);
    options.setTruncateTables(plan.truncate ? 1 : 0);
    options.setReplaceDeadNode(plan.replaceDeadNode ? 1 : 0);
    options.setStagingLocation(stage);
    options.setRecover(plan.mode == "staged" ? 0 : 1);
    options.setUseSSTableLoader(plan.mode == "loader" ? 1 : 0);
    return TqHarness::RestoreJobOptionsXml(options);
  }
  options.setSubclientRestore(1);
  options.setStagingLocation(stage);
  options.setRecover(plan.mode == "staged" ? 0 : 1);
  options.setUseSSTableLoader(plan.mode == "loader" ? 1 : 0);
  options.setTruncateTables(plan.truncate && plan.mode == "in-place" ? 1 : 0);
  options.setStageFreeRestore(plan.mode == "stage-free" ? 1 : 0);
  return TqHarness::RestoreJobOptionsXml(options);
}

CQiError WriteRestorePlan(const std::string& home, int64_t jobId, const RestorePlan& plan) {
  std::error_code ec;
  std::filesystem::create_directories(home + "/restores", ec);
  std::string text = "backup " + std::to_string(plan.backupJob) + "\nmode " + plan.mode +
                     "\nstage " + plan.stage + "\ntruncate " + (plan.truncate ? "1" : "0") + "\n";
  for (const std::string& name : plan.keyspaces) text += "keyspace " + name + "\n";
  if (plan.toTime != 0) text += "totime " + std::to_string(plan.toTime) + "\n";
  if (!plan.targetCluster.empty()) text += "target " + plan.targetCluster + "\n";
  for (const auto& pair : plan.nodeMap) text += "map " + pair.first + "=" + pair.second + "\n";
  if (plan.replaceDeadNode) text += "replace-dead-node 1\n";
  for (const std::string& node : plan.unmapped) text += "unmapped " + node + "\n";
  if (plan.recorded) {
    text += "restored " + std::to_string(plan.restoredFiles) + " " +
            std::to_string(plan.restoredBytes) + "\n";
    if (!plan.truncation.empty()) text += "truncation " + plan.truncation + "\n";
    for (const std::string& cause : plan.causes) text += "cause " + cause + "\n";
  }
  return CQiFile::ReplaceWholeFile(RestorePlanFile(home, jobId).c_str(), text);
}

}  // namespace

std::string CheckTableName(const std::string& text) {
  const size_t dot = text.find('.');
  const std::string keyspace = text.substr(0, dot);
  const std::string table = dot == std::string::npos ? "x" : text.substr(dot + 1);
  auto valid = [](const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
    return true;
  };
  if (valid(keyspace) && valid(table)) return std::string();
  return "not a keyspace or keyspace.table: " + text;
}

std::string ParseNodePair(const std::string& text, std::pair<std::string, std::string>& pair) {
  const size_t equals = text.find('=');
  auto valid = [](const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') {
        return false;
      }
    }
    return true;
  };
  if (equals == std::string::npos || !valid(text.substr(0, equals)) ||
      !valid(text.substr(equals + 1))) {
    return "not SOURCE=TARGET with two node names: " + text;
  }
  pair = {text.substr(0, equals), text.substr(equals + 1)};
  return std::string();
}

bool ReadRestorePlan(const std::string& home, int64_t jobId, RestorePlan& plan) {
  std::ifstream in(RestorePlanFile(home, jobId));
  if (!in) return false;
  plan = RestorePlan();
  std::string line;
  while (std::getline(in, line)) {
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    if (key == "backup") plan.backupJob = std::atoll(value.c_str());
    if (key == "mode") plan.mode = value;
    if (key == "stage") plan.stage = value;
    if (key == "truncate") plan.truncate = value == "1";
    if (key == "keyspace") plan.keyspaces.push_back(value);
    if (key == "totime") plan.toTime = std::atoll(value.c_str());
    if (key == "target") plan.targetCluster = value;
    std::pair<std::string, std::string> pair;
    if (key == "map" && ParseNodePair(value, pair).empty()) plan.nodeMap.push_back(pair);
    if (key == "replace-dead-node") plan.replaceDeadNode = value == "1";
    if (key == "unmapped") plan.unmapped.push_back(value);
    if (key == "restored") {
      plan.recorded = true;
      std::istringstream counts(value);
      counts >> plan.restoredFiles >> plan.restoredBytes;
    }
    if (key == "truncation") plan.truncation = value;
    if (key == "cause") plan.causes.push_back(value);
  }
  return plan.backupJob > 0;
}

int RunRestoreJob(CCommandContext& context, const RestorePlan& given, bool quiet, int64_t& jobId) {
  TqHarness::CJobHarness& harness = context.Harness();
  if (!CCommandContext::Check(harness.NeedRegisteredCluster())) return kFailed;
  TqRunner::JobResult backup;
  if (harness.ReadJob(given.backupJob, backup).IsError() || backup.jobType != "backup") {
    CCommandContext::Fail("job " + std::to_string(given.backupJob) + " is no backup job");
    return kFailed;
  }
  if (!backup.Completed()) {
    CCommandContext::Fail("backup job " + std::to_string(given.backupJob) + " did not complete");
    return kFailed;
  }
  RestorePlan plan = given;
  std::error_code ec;
  if (plan.stage.empty()) {
    // Nodes in containers stage where their containers see: below the
    // node folder each container mounts.
    plan.stage = harness.State().dockerWorld.empty()
                     ? harness.Home() + "/stage"
                     : std::string(TqSim::ClusterFixture::kContainerNodeDir) + "/stage";
  }
  plan.stage = std::filesystem::absolute(plan.stage, ec).lexically_normal().string();
  while (plan.stage.size() > 1 && plan.stage.back() == '/') plan.stage.pop_back();
  // The plan file keeps the staging folder on a line of its own, and a
  // point-in-time restore writes it into every node's restore settings.
  using TQCassandra::CommitLogStagingPath;
  const std::string problem = plan.toTime != 0 ? CommitLogStagingPath::Problem(plan.stage)
                              : CommitLogStagingPath::HasControlCharacter(plan.stage)
                                  ? "it holds a control character"
                                  : std::string();
  if (!problem.empty()) {
    CCommandContext::Fail("--stage: the staging folder cannot be used" +
                          std::string(plan.toTime != 0 ? " to replay commit logs" : "") + ": " +
                          problem);
    return kFailed;
  }

  TqHarness::RestoreRequest request;
  request.phases = {"restore"};
  request.paths = SelectionOf(plan);
  // The newest version of every item backed up until the backup job ended.
  request.toTime = backup.endTime;
  if (plan.toTime != 0 && harness.State().dockerWorld.empty() && harness.State().nodes.size() > 1) {
    // Outside containers the nodes archive their commit logs into one
    // folder: every node would back up and replay every node's segments.
    CCommandContext::Fail("--to-time: the " + std::to_string(harness.State().nodes.size()) +
                          " nodes of " + harness.State().clusterName +
                          " are not in containers and archive their commit logs into one "
                          "folder, so each node would replay the others' segments; a restore to "
                          "a point in time needs a cluster in containers or of one node");
    return kFailed;
  }
  if (plan.toTime != 0) {
    const int status = CheckPointInTime(harness, backup, plan);
    if (status != kOk) return status;
    // The data as it was at the point in time, then its commit logs.
    request.phases.push_back("CassandraLogRestore");
    request.toTime = plan.toTime;
  }
  request.jobOptionsXml = OptionsXml(plan, plan.stage);
  std::string onto = harness.State().clusterName;
  std::vector<TargetFate> fates;
  std::vector<std::string> losses;
  if (plan.CrossInstance()) {
    CrossRestore cross;
    const std::string problem = ResolveCross(harness, plan, cross);
    if (!problem.empty()) {
      CCommandContext::Fail(problem);
      return kFailed;
    }
    request.paths = CrossSelectionOf(plan, cross);
    fates = TargetFates(plan, cross);
    const bool truncateAsked = plan.truncate;
    plan.truncate = truncateAsked && plan.mode == "in-place" && !plan.replaceDeadNode &&
                    std::none_of(fates.begin(), fates.end(),
                                 [](const TargetFate& fate) { return fate.takeover; });
    losses = TargetLossLines(plan, truncateAsked, cross, fates);
    plan.unmapped = cross.unmapped;
    request.jobOptionsXml = OptionsXml(plan, plan.stage, &cross);
    request.targetCluster = cross.target.name;
    onto = cross.target.name + " (";
    for (size_t i = 0; i < cross.pairs.size(); ++i) {
      onto += (i ? ", " : "") + cross.pairs[i].first.name + " -> " + cross.pairs[i].second.name;
    }
    onto += ")";
  }
  // The counts come from the progress events, also when no line is printed.
  TqHarness::CProgressReporter progress(quiet ? nullptr : stdout);
  request.observer = progress.Observer();
  RestoreCounts counts;
  {
    const TqHarness::CCollectTotals::Totals totals = RestoreTotals(
        harness.SuiteHome(), plan.backupJob, request.toTime, request.paths, !plan.CrossInstance());
    counts.totalFiles = totals.files;
    counts.totalBytes = totals.bytes;
  }
  TqRunner::JobSpec spec;
  if (!CCommandContext::Check(harness.MakeRestoreSpec(request, spec))) return kFailed;
  const int64_t id = spec.jobId;
  jobId = id;
  if (!CCommandContext::Check(WriteRestorePlan(harness.Home(), id, plan))) return kFailed;
  std::printf("restore job %lld (%s) of backup job %lld onto %s%s\n", static_cast<long long>(id),
              plan.mode.c_str(), static_cast<long long>(plan.backupJob), onto.c_str(),
              plan.toTime != 0 ? (" to " + TimeText(plan.toTime)).c_str() : "");
  // What the target loses, said before any of it happens.
  for (const std::string& line : losses) std::printf("  %s\n", line.c_str());
  std::fflush(stdout);
  // Stage-free: the cluster's client, the media agent here, exports the
  // backup as a network share (it runs Linux), and the nodes' mounts of it
  // go to the NFS client stand-in while the job runs.
  std::unique_ptr<TqSim::CSimNfsMount> nfs;
  if (plan.mode == "stage-free") {
    SClientRecord agent;
    if (CClientDirectory::Instance().FindByName(harness.State().coordinatorClient, agent)) {
      agent.operatingSystemId = kLinuxOperatingSystem;
      CClientDirectory::Instance().Add(agent);
    }
    nfs.reset(new TqSim::CSimNfsMount(harness.SuiteHome()));
  }
  TqRunner::JobResult result;
  CLoggedErrors logged;
  std::unique_ptr<CShortWaits> shortWaits;
  if (plan.toTime != 0) shortWaits.reset(new CShortWaits(100));
  if (!quiet && plan.mode != "stage-free") {
    const TqHarness::CCollectTotals::Totals totals{counts.totalFiles, counts.totalBytes, true};
    progress.Start([totals] { return totals; }, std::chrono::seconds(1));
  }
  const int status = RunJob(context, spec, result, [&] {
    progress.Stop();
    shortWaits.reset();
    nfs.reset();
  });
  if (status != kJobRan) {
    // A stopped restore starts the nodes it had stopped again; the ones it
    // could not are named.
    for (const auto& event : result.events) {
      if (status <= 128 || event.id != kEvNodeNotRestarted) continue;
      CCommandContext::Fail((event.client.empty() ? "" : event.client + ": ") +
                            TqHarness::CErrorText::Event(event.id, event.args));
    }
    return status;
  }
  counts.files = progress.Files();
  counts.bytes = progress.Bytes();
  if (plan.mode == "stage-free" && result.Completed()) {
    // The nodes loaded what the share exported: the selection.
    counts.files = counts.totalFiles;
    counts.bytes = counts.totalBytes;
  }
  plan.recorded = true;
  plan.restoredFiles = counts.files;
  plan.restoredBytes = counts.bytes;
  plan.truncation = logged.Truncation();
  if (!result.Completed()) plan.causes = logged.Causes();
  CCommandContext::Check(WriteRestorePlan(harness.Home(), id, plan));
  PrintRestoreSummary(result, plan, counts);
  for (const auto& phase : result.phases) {
    if (phase.name != "CassandraLogRestore") continue;
    std::printf("  commit logs replayed up to %s: %s\n", TimeText(plan.toTime).c_str(),
                TqRunner::PhaseStatusName(phase.status));
  }
  if (result.Completed()) return kOk;
  PrintFailure(result, &logged);
  CCommandContext::Fail("job " + std::to_string(id) + " " +
                        TqRunner::PhaseStatusName(result.status));
  return kFailed;
}

int VerifyJob(TqHarness::CJobHarness& harness, int64_t jobId) {
  TqHarness::VerifyReport report;
  if (!CCommandContext::Check(harness.Verify(jobId, report))) return kFailed;
  std::printf(
      "job %lld: %d files (%s) checked", static_cast<long long>(jobId), report.filesChecked,
      TqHarness::CProgressReporter::FormatBytes(static_cast<double>(report.bytesChecked)).c_str());
  if (report.filesGone > 0) {
    std::printf(
        " (%d gone from disk: %d compared with their table's SSTable, %d read back against "
        "their checksums)",
        report.filesGone, report.filesMatchedLive, report.filesGone - report.filesMatchedLive);
  }
  if (report.level == TQBkpLevel_Full && report.kind != "log") {
    std::printf(", %d snapshot files on disk", report.snapshotFiles);
  }
  std::printf(": %s\n", report.Ok() ? "verified" : "NOT verified");
  const std::string views = MissingViews(harness.SuiteHome(), jobId);
  if (!views.empty()) std::printf("  warning: %s\n", views.c_str());
  for (const auto& problem : report.problems) {
    std::printf("  %s %s: %s\n", problem.client.c_str(), problem.path.c_str(),
                problem.text.c_str());
  }
  return report.Ok() ? kOk : kFailed;
}

bool PlanSelects(const RestorePlan& plan, const std::string& keyspace, const std::string& table) {
  if (plan.keyspaces.empty()) return true;
  for (const std::string& name : plan.keyspaces) {
    const size_t dot = name.find('.');
    if (name.substr(0, dot) != keyspace) continue;
    if (dot == std::string::npos || name.substr(dot + 1) == table) return true;
  }
  return false;
}

std::string SSTableComponentOf(const std::string& name) {
  // Group 1 is the component.
  static const std::regex kSSTableFile("[a-z]{2}-[0-9]+-big-(.+)");
  std::smatch match;
  return std::regex_match(name, match, kSSTableFile) ? match[1].str() : std::string();
}

bool MatchRestoredCopy(CArchiveStore& store, const SStoredItem& item, const std::string& component,
                       const std::vector<std::string>& candidates, std::set<std::string>& matched) {
  for (const std::string& candidate : candidates) {
    if (matched.count(candidate) != 0) continue;
    std::error_code ec;
    if (SSTableComponentOf(std::filesystem::path(candidate).filename().string()) != component ||
        std::filesystem::file_size(candidate, ec) != item.size || ec) {
      continue;
    }
    if (!store.VerifyItem(item, candidate).IsError()) {
      matched.insert(candidate);
      return true;
    }
  }
  return false;
}

}  // namespace TqCass
