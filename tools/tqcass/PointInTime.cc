// Restores to a point in time: the time text of "--to-time", the checks
// before such a restore runs, the verification of what it replayed, and the
// shortened pauses while it runs.

#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "platform/base/QiSleep.h"
#include "platform/index/ArchiveStore.h"
#include "platform/suite/PlatformInfo.h"
#include "tools/lib/ReplayCheck.h"
#include "tools/tqcass/CommandContext.h"
#include "tools/tqcass/CommandSupport.h"

namespace TqCass {

bool ParseTimeText(const std::string& text, int64_t& seconds) {
  if (!text.empty() && text.size() <= 12 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    seconds = std::atoll(text.c_str());
    return seconds > 0;
  }
  struct tm t {};
  char rest = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.tm_year, &t.tm_mon, &t.tm_mday,
                  &t.tm_hour, &t.tm_min, &t.tm_sec, &rest) != 6 ||
      text.size() != 19) {
    return false;
  }
  const int day = t.tm_mday, month = t.tm_mon, hour = t.tm_hour;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  const time_t value = std::mktime(&t);
  // mktime moves a date that does not exist (31 April) to another day.
  if (value == static_cast<time_t>(-1) || t.tm_mday != day || t.tm_mon != month - 1 ||
      t.tm_hour != hour || t.tm_min > 59 || t.tm_sec > 60) {
    return false;
  }
  seconds = static_cast<int64_t>(value);
  return seconds > 0;
}

int CheckPointInTime(TqHarness::CJobHarness& harness, const TqRunner::JobResult& backup,
                     const RestorePlan& plan) {
  if (plan.toTime < backup.endTime) {
    CCommandContext::Fail("--to-time " + TimeText(plan.toTime) + " lies before backup job " +
                          std::to_string(plan.backupJob) + " ended (" + TimeText(backup.endTime) +
                          ")");
    return kFailed;
  }
  if (plan.mode == "staged") {
    CCommandContext::Fail(
        "--to-time: the commit logs are replayed by restarting the nodes; "
        "use --mode in-place or loader");
    return kFailed;
  }
  CArchiveStore store(harness.SuiteHome());
  std::vector<SJobRecord> jobs;
  if (!CCommandContext::Check(store.Open()) ||
      !CCommandContext::Check(store.Catalog().ListJobs(jobs))) {
    return kFailed;
  }
  for (const SJobRecord& job : jobs) {
    if (job.kind != "log" || job.jobId <= plan.backupJob) continue;
    TqRunner::JobResult result;
    if (!harness.ReadJob(job.jobId, result).IsError() && result.Completed()) return kOk;
  }
  CCommandContext::Fail("no commit-log backup completed after backup job " +
                        std::to_string(plan.backupJob) +
                        "; back the commit logs up with \"tqcass backup --log\" first");
  return kFailed;
}

bool VerifyReplay(TqHarness::CJobHarness& harness, int64_t jobId, const RestorePlan& plan) {
  TqHarness::ReplayRequest request;
  request.restoreJob = jobId;
  request.backupJob = plan.backupJob;
  request.toTime = plan.toTime;
  request.tables = plan.keyspaces;
  uint32_t interval = 30;
  if (TQPlatformInfo().getNumber("Cassandra", "nCommitlogBackupInterval", interval)) {
    request.intervalMinutes = interval;
  }
  TqHarness::ReplayReport report;
  if (!CCommandContext::Check(
          TqHarness::CReplayCheck::Check(harness.SuiteHome(), harness.State(), request, report))) {
    return false;
  }
  std::printf(
      "job %lld: %d mutations of %d stored commit-log segments up to %s replayed on %d "
      "nodes (%d expected): %s\n",
      static_cast<long long>(jobId), report.replayed, report.segments,
      TimeText(plan.toTime).c_str(), report.nodes, report.expected,
      report.Ok() ? "verified" : "NOT verified");
  for (const auto& problem : report.problems) {
    std::printf("  %s %s: %s\n", problem.client.c_str(), problem.path.c_str(),
                problem.text.c_str());
  }
  return report.Ok();
}

CShortWaits::CShortWaits(uint32_t maxMilliseconds) {
  previous_ = CSleepHook::Set([maxMilliseconds](uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min(milliseconds, maxMilliseconds)));
  });
}

CShortWaits::~CShortWaits() { CSleepHook::Set(previous_); }

}  // namespace TqCass
