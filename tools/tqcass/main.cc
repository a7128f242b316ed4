// tqcass: the command-line front end. It plays a whole suite on one machine
// around the Cassandra backup plug-in: a simulated cluster, its registration,
// backup jobs through the job runner into the archive store, and looking
// back at and verifying the jobs. State lives in a home folder (--home) that
// every invocation opens again.

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/base/FXString.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/index/ArchiveStore.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/runner/RunnerTypes.h"
#include "tools/lib/JobHarness.h"
#include "tools/lib/JobVerifier.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/BrowseCommand.h"

namespace {

using namespace DistributedQEL;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "usage: tqcass [--home <dir>] <command> [options]\n"
    "\n"
    "commands:\n"
    "  cluster [--nodes N] [--dcs N] [--keyspaces N] [--tables N] [--sstables N]\n"
    "          [--size BYTES] [--flavour cassandra|dse] [--docker]\n"
    "                          make a simulated cluster (incremental backups on;\n"
    "                          --docker: every node in a container of its own)\n"
    "  register [--streams N] [--commit-log [--archive-dir DIR]]\n"
    "                          register the cluster's clients, instance (commit-log\n"
    "                          backup enabled with --commit-log) and subclient\n"
    "  backup [--level full|incremental] [--log] [--streams N] [--quiet]\n"
    "                          run a backup job; --log backs up commit logs\n"
    "  jobs                    list the jobs\n"
    "  show <job>              status, events, nodes, files and bytes of a job\n"
    "  verify <job>            compare a job's stored items with their files\n"
    "  change [--sstables N] [--size BYTES]\n"
    "                          write new SSTables on every table of every node\n"
    "  browse nodes|keyspaces [--subclient ID]\n"
    "                          the cluster's nodes or keyspaces as the plug-in's\n"
    "                          cluster browser lists them\n"
    "  demo                    a 3-node cluster, a full backup, a change, an\n"
    "                          incremental backup, both verified\n"
    "\n"
    "--home defaults to ./tqcass-home (demo: ./tqcass-demo). The log is <home>/tqcass.log\n"
    "unless TQ_LOG_FILE names another file.\n";

// Options of a command: "--name value" pairs, bare "--flag"s and positional
// words.
struct Args {
  std::map<std::string, std::string> values;
  std::vector<std::string> words;
  std::string error;

  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& fallback = "") const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
  // A whole number option within [minimum, maximum] (counts fit an int);
  // sets `error` when malformed or out of range.
  long long Number(const std::string& name, long long fallback, long long minimum,
                   long long maximum = INT_MAX) {
    if (!Has(name)) return fallback;
    const std::string text = Get(name);
    long long value = 0;
    if (!FXString::ParseDecimal(text, minimum, maximum, value)) {
      error = "--" + name + " needs a whole number of at least " + std::to_string(minimum) +
              ", not \"" + text + "\"";
      return fallback;
    }
    return value;
  }
};

Args Parse(const std::vector<std::string>& tokens, const std::vector<std::string>& flags) {
  Args args;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string& token = tokens[i];
    if (token.rfind("--", 0) != 0) {
      args.words.push_back(token);
      continue;
    }
    const std::string name = token.substr(2);
    bool isFlag = false;
    for (const auto& f : flags) isFlag = isFlag || f == name;
    if (isFlag) {
      args.values[name] = "1";
    } else if (i + 1 < tokens.size()) {
      args.values[name] = tokens[++i];
    } else {
      args.error = token + " needs a value";
    }
  }
  return args;
}

bool Check(const CQiError& error) {
  if (!error.IsError()) return true;
  std::fprintf(stderr, "tqcass: %s\n", error.AsString(2).c_str());
  return false;
}

bool ParseJobId(const Args& args, int64_t& jobId) {
  if (args.words.size() != 1) {
    std::fprintf(stderr, "tqcass: name one job\n");
    return false;
  }
  long long value = 0;
  if (!FXString::ParseDecimal(args.words[0], 1, LLONG_MAX, value)) {
    std::fprintf(stderr, "tqcass: \"%s\" is not a job number\n", args.words[0].c_str());
    return false;
  }
  jobId = value;
  return true;
}

std::string Time(int64_t t) {
  if (t <= 0) return "-";
  time_t value = static_cast<time_t>(t);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&value));
  return text;
}

const char* LevelName(int level) {
  return level == TQBkpLevel_Full ? "full" : level == 0 ? "-" : "incremental";
}

const char* NodeStateName(int state) {
  switch (state) {
    case NODE_NEW:
      return "new";
    case NODE_STARTING:
      return "starting";
    case NODE_RUNNING:
      return "running";
    case NODE_STOPPING:
      return "stopping";
    case NODE_STOPPED:
      return "stopped";
  }
  return "unknown";
}

// Items, files and bytes the store holds for a job.
struct StoreStats {
  int items = 0;
  int files = 0;
  uint64_t bytes = 0;
  int level = 0;
  std::string kind;
};

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
  std::vector<SStoredItem> items;
  if (store.ListItems(jobId, items).IsError()) return stats;
  stats.items = static_cast<int>(items.size());
  for (const auto& item : items) {
    if (item.isDirectory) continue;
    ++stats.files;
    stats.bytes += item.size;
  }
  return stats;
}

// "full", "incremental" or "commit-log".
const char* KindName(const StoreStats& stats) {
  return stats.kind == "log" ? "commit-log" : LevelName(stats.level);
}

void PrintSummary(const TqHarness::CJobHarness& harness, const TqRunner::JobResult& job) {
  StoreStats stats = StatsOf(harness.SuiteHome(), job.jobId);
  int tasks = 0, complete = 0;
  for (const auto& phase : job.phases) {
    for (const auto& task : phase.tasks) {
      ++tasks;
      if (task.status == TASK_COMPLETE) ++complete;
    }
  }
  std::printf("job %lld (%s %s): %s\n", static_cast<long long>(job.jobId), job.jobType.c_str(),
              KindName(stats), TqRunner::PhaseStatusName(job.status));
  std::printf("  %d of %d tasks complete, %d files (%s) in %d items, %lld s\n", complete, tasks,
              stats.files, TqHarness::CProgressReporter::FormatBytes(stats.bytes).c_str(),
              stats.items, static_cast<long long>(job.endTime - job.startTime));
  if (!job.error.empty()) std::printf("  error: %s\n", job.error.c_str());
  for (const auto& phase : job.phases) {
    if (!phase.message.empty()) {
      std::printf("  %s: %s\n", phase.name.c_str(), phase.message.c_str());
    }
  }
}

int CmdCluster(TqHarness::CJobHarness& harness, Args args) {
  TqSim::FixtureOptions options;
  options.nodes = static_cast<int>(args.Number("nodes", 3, 1));
  options.dataCenters = static_cast<int>(args.Number("dcs", 1, 1));
  options.keyspaces = static_cast<int>(args.Number("keyspaces", 2, 1));
  options.tablesPerKeyspace = static_cast<int>(args.Number("tables", 2, 1));
  options.sstablesPerTable = static_cast<int>(args.Number("sstables", 1, 1));
  options.sstableSize = static_cast<uint64_t>(args.Number("size", 4096, 1, LLONG_MAX));
  options.flavour = args.Get("flavour", "cassandra");
  options.incrementalBackups = true;
  options.docker = args.Has("docker");
  if (options.flavour != "cassandra" && options.flavour != "dse") {
    args.error = "--flavour is cassandra or dse";
  }
  if (!args.error.empty()) {
    std::fprintf(stderr, "tqcass: %s\n", args.error.c_str());
    return kUsage;
  }
  if (!Check(harness.CreateCluster(options))) return kFailed;
  std::printf("cluster %s: %zu nodes under %s\n", harness.State().clusterName.c_str(),
              harness.State().nodes.size(), harness.State().clusterRoot.c_str());
  for (const auto& node : harness.State().nodes) {
    std::printf("  %s %s %s\n", node.name.c_str(), node.address.c_str(), node.dataCenter.c_str());
  }
  return kOk;
}

int CmdRegister(TqHarness::CJobHarness& harness, Args args) {
  TqHarness::RegisterOptions options;
  options.maxStreams = static_cast<int>(args.Number("streams", 4, 1));
  options.commitLogBackup = args.Has("commit-log");
  options.archiveDirectory = args.Get("archive-dir");
  if (!args.error.empty()) {
    std::fprintf(stderr, "tqcass: %s\n", args.error.c_str());
    return kUsage;
  }
  if (!Check(harness.Register(options))) return kFailed;
  const auto& state = harness.State();
  std::printf("registered client %s (%llu), %zu node clients, instance %llu, subclient %llu\n",
              state.coordinatorClient.c_str(),
              static_cast<unsigned long long>(state.coordinatorClientId), state.nodes.size(),
              static_cast<unsigned long long>(state.instanceId),
              static_cast<unsigned long long>(state.subclientId));
  return kOk;
}

int RunBackup(TqHarness::CJobHarness& harness, int level, bool commitLog, int streams, bool quiet,
              int64_t& jobId) {
  TqHarness::BackupRequest request;
  request.level = level;
  request.commitLog = commitLog;
  request.numberOfStreams = streams;
  TqHarness::CProgressReporter progress(stdout);
  TqRunner::JobSpec spec = harness.MakeSpec(request);
  spec.streamFactory = progress.Wrap(harness.StoreStreams(spec));
  if (!quiet) spec.observer = progress.Observer();
  std::printf("backup job %lld (%s) of %s\n", static_cast<long long>(spec.jobId),
              commitLog ? "commit logs" : LevelName(level), harness.State().clusterName.c_str());
  TqRunner::JobResult result;
  if (!Check(harness.Run(spec, result))) return kFailed;
  jobId = result.jobId;
  PrintSummary(harness, result);
  return result.Completed() ? kOk : kFailed;
}

int CmdBackup(TqHarness::CJobHarness& harness, Args args) {
  const std::string level = args.Get("level", "full");
  int streams = static_cast<int>(args.Number("streams", 2, 1));
  if (level != "full" && level != "incremental") args.error = "--level is full or incremental";
  if (!args.error.empty()) {
    std::fprintf(stderr, "tqcass: %s\n", args.error.c_str());
    return kUsage;
  }
  int64_t jobId = 0;
  return RunBackup(harness, level == "full" ? TQBkpLevel_Full : TQBkpLevel_Incremental,
                   args.Has("log"), streams, args.Has("quiet"), jobId);
}

int CmdJobs(TqHarness::CJobHarness& harness, const Args&) {
  std::printf("%-6s %-8s %-12s %-19s %-8s %-10s %s\n", "job", "type", "level", "started", "files",
              "bytes", "status");
  for (int64_t id : harness.Jobs()) {
    TqRunner::JobResult job;
    if (harness.ReadJob(id, job).IsError()) {
      std::printf("%-6lld (record unreadable)\n", static_cast<long long>(id));
      continue;
    }
    StoreStats stats = StatsOf(harness.SuiteHome(), id);
    std::printf("%-6lld %-8s %-12s %-19s %-8d %-10s %s\n", static_cast<long long>(id),
                job.jobType.c_str(), KindName(stats), Time(job.startTime).c_str(), stats.files,
                TqHarness::CProgressReporter::FormatBytes(stats.bytes).c_str(),
                TqRunner::PhaseStatusName(job.status));
  }
  return kOk;
}

// What the post-operations phase left on each node: the subclient's
// snapshots, the job's listed files gone from disk, the files it could not
// delete and whether the cleanup information file was removed.
void ShowCleanup(TqHarness::CJobHarness& harness, int64_t jobId) {
  TqHarness::CJobVerifier verifier(harness.SuiteHome(), harness.State());
  for (const auto& node : verifier.CleanupStateOf(jobId)) {
    std::printf("  cleanup %-8s snapshots left %d, listed files gone %d/%d, not deleted %zu, %s\n",
                node.client.c_str(), node.snapshotsLeft, node.listedGone, node.listedFiles,
                node.notDeleted.size(),
                node.infoFileLeft ? "cleanup info file left" : "cleanup info file removed");
    for (const auto& path : node.notDeleted) std::printf("    not deleted: %s\n", path.c_str());
  }
}

int CmdShow(TqHarness::CJobHarness& harness, const Args& args) {
  int64_t jobId = 0;
  if (!ParseJobId(args, jobId)) return kUsage;
  TqRunner::JobResult job;
  if (!Check(harness.ReadJob(jobId, job))) return kFailed;
  StoreStats stats = StatsOf(harness.SuiteHome(), jobId);
  std::printf("job %lld: %s %s, attempt %d\n", static_cast<long long>(jobId), job.jobType.c_str(),
              KindName(stats), job.attempt);
  std::printf("  status:  %s\n", TqRunner::PhaseStatusName(job.status));
  std::printf("  started: %s\n  ended:   %s\n", Time(job.startTime).c_str(),
              Time(job.endTime).c_str());
  std::printf("  stored:  %d files, %s, %d items\n", stats.files,
              TqHarness::CProgressReporter::FormatBytes(stats.bytes).c_str(), stats.items);
  if (!job.error.empty()) std::printf("  error:   %s\n", job.error.c_str());
  if (!job.restartString.empty()) std::printf("  restart: %s\n", job.restartString.c_str());
  for (const auto& phase : job.phases) {
    int complete = 0;
    for (const auto& task : phase.tasks) complete += task.status == TASK_COMPLETE ? 1 : 0;
    std::printf("phase %s: %s (%s), tasks %d/%zu\n", phase.name.c_str(),
                phase.skipped ? "Skipped" : TqRunner::PhaseStatusName(phase.status),
                phase.endReason.c_str(), complete, phase.tasks.size());
    if (!phase.message.empty()) std::printf("  %s\n", phase.message.c_str());
    for (const auto& node : phase.nodes) {
      std::printf("  node %-10s %-8s streams %d%s%s\n", node.clientName.c_str(),
                  NodeStateName(node.state), node.streams, node.failure.empty() ? "" : "  ",
                  node.failure.c_str());
    }
    if (phase.name == "postop" && !phase.skipped) ShowCleanup(harness, jobId);
  }
  std::printf("events: %zu\n", job.events.size());
  for (const auto& event : job.events) {
    std::string args_;
    for (const auto& a : event.args) args_ += (args_.empty() ? "" : ", ") + a;
    std::printf("  0x%X %-8s %-10s %s\n", event.id, CEventJournal::SeverityName(event.severity),
                event.client.c_str(), args_.c_str());
  }
  for (const auto& cause : job.pendingCauses) {
    std::printf("  pending cause 0x%X %s\n", cause.id,
                cause.args.empty() ? "" : cause.args.front().c_str());
  }
  return kOk;
}

int VerifyJob(TqHarness::CJobHarness& harness, int64_t jobId) {
  TqHarness::VerifyReport report;
  if (!Check(harness.Verify(jobId, report))) return kFailed;
  std::printf("job %lld: %d collect entries, %d files (%s) checked", static_cast<long long>(jobId),
              report.collectEntries, report.filesChecked,
              TqHarness::CProgressReporter::FormatBytes(report.bytesChecked).c_str());
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
  for (const auto& problem : report.problems) {
    std::printf("  %s %s: %s\n", problem.client.c_str(), problem.path.c_str(),
                problem.text.c_str());
  }
  return report.Ok() ? kOk : kFailed;
}

int CmdVerify(TqHarness::CJobHarness& harness, const Args& args) {
  int64_t jobId = 0;
  if (!ParseJobId(args, jobId)) return kUsage;
  return VerifyJob(harness, jobId);
}

int CmdChange(TqHarness::CJobHarness& harness, Args args) {
  int perTable = static_cast<int>(args.Number("sstables", 1, 1));
  uint64_t size = static_cast<uint64_t>(args.Number("size", 2048, 1, LLONG_MAX));
  if (!args.error.empty()) {
    std::fprintf(stderr, "tqcass: %s\n", args.error.c_str());
    return kUsage;
  }
  int added = 0;
  if (!Check(harness.ChangeData(perTable, size, added))) return kFailed;
  std::printf("wrote %d new SSTables (%s data each)\n", added,
              TqHarness::CProgressReporter::FormatBytes(static_cast<double>(size)).c_str());
  return kOk;
}

int CmdDemo(TqHarness::CJobHarness& harness) {
  std::printf("== a simulated 3-node cluster\n");
  Args none;
  int status = CmdCluster(harness, none);
  if (status != kOk) return status;
  std::printf("\n== its registration\n");
  if ((status = CmdRegister(harness, none)) != kOk) return status;
  std::printf("\n== a full backup\n");
  int64_t full = 0, incremental = 0;
  if ((status = RunBackup(harness, TQBkpLevel_Full, false, 2, false, full)) != kOk) return status;
  std::printf("\n== new data on every table\n");
  if ((status = CmdChange(harness, none)) != kOk) return status;
  std::printf("\n== an incremental backup\n");
  if ((status = RunBackup(harness, TQBkpLevel_Incremental, false, 2, false, incremental)) != kOk) {
    return status;
  }
  std::printf("\n== the jobs\n");
  CmdJobs(harness, none);
  std::printf("\n== verification\n");
  int first = VerifyJob(harness, full);
  int second = VerifyJob(harness, incremental);
  if (first != kOk || second != kOk) return kFailed;
  std::printf("\nboth backups verified; state kept in %s\n", harness.Home().c_str());
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> tokens(argv + 1, argv + argc);
  std::string home;
  for (size_t i = 0; i + 1 < tokens.size();) {
    if (tokens[i] == "--home") {
      home = tokens[i + 1];
      tokens.erase(tokens.begin() + i, tokens.begin() + i + 2);
    } else {
      ++i;
    }
  }
  if (tokens.empty() || tokens[0] == "--help" || tokens[0] == "-h" || tokens[0] == "help") {
    std::fputs(kUsageText, tokens.empty() ? stderr : stdout);
    return tokens.empty() ? kUsage : kOk;
  }
  const std::string command = tokens[0];
  tokens.erase(tokens.begin());
  static const std::vector<std::string> kCommands = {
      "cluster", "register", "backup", "jobs", "show", "verify", "change", "browse", "demo"};
  bool known = false;
  for (const auto& c : kCommands) known = known || c == command;
  if (!known) {
    std::fprintf(stderr, "tqcass: unknown command \"%s\"\n\n%s", command.c_str(), kUsageText);
    return kUsage;
  }
  Args args = Parse(tokens, {"log", "quiet", "commit-log", "docker"});
  if (!args.error.empty()) {
    std::fprintf(stderr, "tqcass: %s\n", args.error.c_str());
    return kUsage;
  }
  if (command == "demo") {
    if (home.empty()) home = "tqcass-demo";
    // A demo starts afresh; only a folder an earlier demo made is removed.
    std::error_code ec;
    if (std::filesystem::exists(TqHarness::CHarnessState::PathIn(home), ec)) {
      std::filesystem::remove_all(home, ec);
    } else if (std::filesystem::exists(home, ec) && !std::filesystem::is_empty(home, ec)) {
      std::fprintf(stderr, "tqcass: %s exists and is not a tqcass home\n", home.c_str());
      return kFailed;
    }
  }
  if (home.empty()) home = "tqcass-home";
  TqHarness::CJobHarness harness(home, {TQ_PLUGIN_PATH, TQ_PRIAM_COMMAND, TQ_DOCKER_DIR});
  if (!Check(harness.Open())) return kFailed;
  // The plug-in's log goes to the home unless TQ_LOG_FILE names a file.
  if (g_ptrLogWriter && g_ptrLogWriter->GetLogFile().empty()) {
    g_ptrLogWriter->SetLogFile(harness.Home() + "/tqcass.log");
  }
  if (command == "cluster") return CmdCluster(harness, args);
  if (command == "register") return CmdRegister(harness, args);
  if (command == "backup") return CmdBackup(harness, args);
  if (command == "jobs") return CmdJobs(harness, args);
  if (command == "show") return CmdShow(harness, args);
  if (command == "verify") return CmdVerify(harness, args);
  if (command == "change") return CmdChange(harness, args);
  if (command == "browse") {
    return CmdBrowse(harness, args.words.size() == 1 ? args.words[0] : "", args.Get("subclient"));
  }
  return CmdDemo(harness);
}
