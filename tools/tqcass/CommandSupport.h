#pragma once

#include <cstdint>
#include <string>

#include "platform/runner/RunnerTypes.h"
#include "tools/lib/JobHarness.h"

// What several tqcass commands print and run.
namespace TqCass {

class CCommandContext;

// "2026-01-31 12:00:00", "-" for none.
std::string TimeText(int64_t t);

// Items, files and bytes the store holds for a job; `known` is false when
// the catalog cannot be read.
struct StoreStats {
  bool known = false;
  int items = 0;
  int files = 0;
  uint64_t bytes = 0;
  int level = 0;
  std::string kind;
};
StoreStats StatsOf(const std::string& suiteHome, int64_t jobId);
// "full", "incremental" or "commit-log".
const char* KindName(const StoreStats& stats);
const char* LevelName(int level);
// A job's status as a user reads it: "Failed (interrupted)" and the like.
std::string StatusText(const TqRunner::JobResult& job);

// Every event and pending cause of the job in words, one per line, each
// line starting with `indent`.
void PrintEvents(const TqRunner::JobResult& job, const char* indent);
// Why a job failed, in words a user can act on: the job's error, each
// phase's message, its events of major or critical severity and its pending
// causes, with what to do where the event says.
void PrintFailure(const TqRunner::JobResult& job);

// Runs a backup job with progress lines (unless quiet) and a summary. Ctrl-C
// and SIGTERM raise its quit flag; the job is then recorded failed with the
// signal as its reason and every program it started is stopped. Returns the
// exit status; `jobId` gets the job's number.
int RunBackupJob(CCommandContext& context, const TqHarness::BackupRequest& request, bool quiet,
                 int64_t& jobId);

// Verifies a job and prints the outcome; returns the exit status.
int VerifyJob(TqHarness::CJobHarness& harness, int64_t jobId);

}  // namespace TqCass
