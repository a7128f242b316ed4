// "tqcass jobs": lists the recorded jobs of a home.

#include <cstdio>

#include "tools/lib/HomeLock.h"
#include "tools/lib/ProgressReporter.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"
#include "tools/tqcass/CommandTable.h"

namespace TqCass {

namespace {

class CJobsCommand : public CTqcassCommand {
 public:
  const char* Name() const override { return "jobs"; }
  const char* Summary() const override {
    return "List the jobs: kind, start, files, bytes, status";
  }
  Access HomeAccess() const override { return kReads; }
  void Define(CLI::App&) override {}
  int Run(CCommandContext& context) override {
    TqHarness::CJobHarness& harness = context.Harness();
    std::string holder;
    const bool running = TqHarness::CHomeLock::HeldByOther(harness.Home(), holder);
    std::printf("%-6s %-8s %-12s %-19s %-8s %-10s %s\n", "job", "type", "kind", "started", "files",
                "bytes", "status");
    for (int64_t id : harness.Jobs()) {
      TqRunner::JobResult job;
      if (harness.ReadJob(id, job).IsError()) {
        std::printf("%-6lld (record unreadable)\n", static_cast<long long>(id));
        continue;
      }
      const StoreStats stats = StatsOf(harness.SuiteHome(), id);
      std::string status = StatusText(job);
      // A job recorded as running while nobody holds the home was killed;
      // the next command that changes the home marks it failed.
      if (job.status == TqRunner::kJobRunning && !running) status = "Interrupted";
      // A restore's kind is its mode.
      RestorePlan plan;
      const bool restore = ReadRestorePlan(harness.Home(), id, plan);
      // A restore counts what it restored, a backup what it stored.
      std::string files = "-", bytes = "-";
      if (restore ? plan.recorded : stats.known) {
        files = std::to_string(restore ? plan.restoredFiles : stats.files);
        bytes = TqHarness::CProgressReporter::FormatBytes(
            static_cast<double>(restore ? plan.restoredBytes : stats.bytes));
      }
      std::printf("%-6lld %-8s %-12s %-19s %-8s %-10s %s\n", static_cast<long long>(id),
                  job.jobType.c_str(), restore ? plan.mode.c_str() : KindName(stats),
                  TimeText(job.startTime).c_str(), files.c_str(), bytes.c_str(), status.c_str());
    }
    return kOk;
  }
};

}  // namespace

std::unique_ptr<CTqcassCommand> MakeJobsCommand() {
  return std::unique_ptr<CTqcassCommand>(new CJobsCommand());
}

}  // namespace TqCass
