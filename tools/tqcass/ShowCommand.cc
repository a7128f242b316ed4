// "tqcass show <job>": a job's status, times, phases, nodes, stored items and
// events.

#include <cstdio>

#include "tools/lib/ErrorText.h"
#include "tools/lib/JobVerifier.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

const char* NodeStateName(int state) {
  switch (state) {
    case DistributedQEL::NODE_NEW:
      return "new";
    case DistributedQEL::NODE_STARTING:
      return "starting";
    case DistributedQEL::NODE_RUNNING:
      return "running";
    case DistributedQEL::NODE_STOPPING:
      return "stopping";
    case DistributedQEL::NODE_STOPPED:
      return "stopped";
  }
  return "unknown";
}

class CShowCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "show"; }
  const char* Summary() const override {
    return "A job's status, times, phases, nodes, stored items and events";
  }
  Access HomeAccess() const override { return kReads; }
  void Define(CLI::App& command) override {
    AddNumber(command, "job", jobId_, 1, INT64_MAX, "The job's number")->required();
  }
  int Run(CCommandContext& context) override {
    TqHarness::CJobHarness& harness = context.Harness();
    TqRunner::JobResult job;
    if (!CCommandContext::Check(harness.ReadJob(jobId_, job))) return kFailed;
    const StoreStats stats = StatsOf(harness.SuiteHome(), jobId_);
    RestorePlan plan;
    const bool restore = ReadRestorePlan(harness.Home(), jobId_, plan);
    std::printf("job %lld: %s %s, attempt %d\n", jobId_, job.jobType.c_str(),
                restore ? plan.mode.c_str() : KindName(stats), job.attempt);
    std::printf("  status:  %s\n", TqRunner::PhaseStatusName(job.status));
    std::printf("  started: %s\n  ended:   %s\n", TimeText(job.startTime).c_str(),
                TimeText(job.endTime).c_str());
    if (restore) {
      std::string selection;
      for (const auto& name : plan.keyspaces) selection += (selection.empty() ? "" : ", ") + name;
      const std::string truncation = TruncationText(plan, job);
      std::printf("  restore: %s of backup job %lld, %s, %s\n", plan.mode.c_str(),
                  static_cast<long long>(plan.backupJob),
                  selection.empty() ? "everything" : selection.c_str(),
                  plan.mode != "in-place" ? ("staging " + plan.stage).c_str()
                  : !truncation.empty()   ? truncation.c_str()
                                          : "tables not truncated");
      if (plan.recorded) {
        std::printf(
            "  restored: %llu files, %s\n", static_cast<unsigned long long>(plan.restoredFiles),
            TqHarness::CProgressReporter::FormatBytes(static_cast<double>(plan.restoredBytes))
                .c_str());
      }
      for (const std::string& cause : plan.causes) std::printf("  failed:  %s\n", cause.c_str());
      if (plan.toTime != 0) {
        // Only a restore that completed replayed the logs; one that did not
        // says so, its causes above.
        const bool replayed = job.status == PHASE_COMPLETE && plan.causes.empty();
        std::printf(
            "  point in time: %s (%s)\n", TimeText(plan.toTime).c_str(),
            replayed
                ? "commit logs replayed up to it"
                : "the job did not complete: the commit logs may not have been replayed up to it");
      }
      if (plan.CrossInstance()) {
        std::string map;
        for (const auto& pair : plan.nodeMap) {
          map += (map.empty() ? "" : ", ") + pair.first + " -> " + pair.second;
        }
        std::printf(
            "  onto:    %s%s%s%s\n",
            plan.targetCluster.empty() ? "the backed-up cluster" : plan.targetCluster.c_str(),
            map.empty() ? ", nodes paired in order" : " (", map.c_str(), map.empty() ? "" : ")");
        if (plan.replaceDeadNode)
          std::printf("           each target node replacing a dead node\n");
        std::string unmapped;
        for (const std::string& node : plan.unmapped) {
          unmapped += (unmapped.empty() ? "" : ", ") + node;
        }
        if (!unmapped.empty()) std::printf("  not restored: %s (not in --map)\n", unmapped.c_str());
      }
    } else if (stats.known) {
      std::printf(
          "  stored:  %d files, %s in %d items\n", stats.files,
          TqHarness::CProgressReporter::FormatBytes(static_cast<double>(stats.bytes)).c_str(),
          stats.items);
      const std::string views = MissingViews(harness.SuiteHome(), jobId_);
      if (!views.empty()) std::printf("  warning: %s\n", views.c_str());
    }
    if (!job.error.empty()) std::printf("  error:   %s\n", job.error.c_str());
    if (!job.restartString.empty()) std::printf("  restart: %s\n", job.restartString.c_str());
    for (const auto& phase : job.phases) {
      int complete = 0;
      for (const auto& task : phase.tasks)
        complete += task.status == DistributedQEL::TASK_COMPLETE ? 1 : 0;
      std::printf("phase %s: %s (%s), tasks %d/%zu\n", phase.name.c_str(),
                  phase.skipped ? "Skipped" : TqRunner::PhaseStatusName(phase.status),
                  phase.endReason.c_str(), complete, phase.tasks.size());
      if (!phase.message.empty()) {
        std::printf("  %s\n", TqHarness::CErrorText::Readable(phase.message).c_str());
      }
      for (const auto& node : phase.nodes) {
        std::printf("  node %-10s %-8s streams %d%s%s\n", node.clientName.c_str(),
                    NodeStateName(node.state), node.streams, node.failure.empty() ? "" : "  ",
                    TqHarness::CErrorText::Readable(node.failure).c_str());
      }
      if (phase.name == "postop" && !phase.skipped) ShowCleanup(harness);
    }
    std::printf("events: %zu, pending causes: %zu\n", job.events.size(), job.pendingCauses.size());
    PrintEvents(job, "  ");
    return kOk;
  }

 private:
  // What the post-operations phase left on each node: the subclient's
  // snapshots, the job's listed files gone from disk, the files it could not
  // delete and whether the cleanup information file was removed.
  void ShowCleanup(TqHarness::CJobHarness& harness) const {
    TqHarness::CJobVerifier verifier(harness.SuiteHome(), harness.State());
    for (const auto& node : verifier.CleanupStateOf(jobId_)) {
      std::printf(
          "  cleanup %-8s snapshots left %d, listed files gone %d/%d, not deleted %zu, %s\n",
          node.client.c_str(), node.snapshotsLeft, node.listedGone, node.listedFiles,
          node.notDeleted.size(),
          node.infoFileLeft ? "cleanup info file left" : "cleanup info file removed");
      for (const auto& path : node.notDeleted) std::printf("    not deleted: %s\n", path.c_str());
    }
  }

  long long jobId_ = 0;
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeShowCommand() {
  return std::unique_ptr<CTqcassCommand>(new CShowCommand());
}

}  // namespace TqCass
