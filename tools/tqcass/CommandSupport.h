#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/runner/RunnerTypes.h"
#include "tools/lib/CollectTotals.h"
#include "tools/lib/JobHarness.h"
#include "tools/lib/ProgressReporter.h"

class CArchiveStore;
struct SStoredItem;

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

class CLoggedErrors;

// Every event and pending cause of the job in words, one per line, each
// line starting with `indent`.
void PrintEvents(const TqRunner::JobResult& job, const char* indent);
// Why a job failed, in words a user can act on: first the logged errors that
// explain it (the item or file that failed and the system's reason), then the
// job's error, each phase's message and its events of major or critical
// severity, then its pending causes, then what to do where an event says;
// the count of the other logged errors closes it.
void PrintFailure(const TqRunner::JobResult& job, CLoggedErrors* logged = nullptr);
// For a data backup whose metadata step wrote no index views (node backup
// times, keyspace and table schemas) what a restore from it lacks; "" when
// the views are there or the job is no data backup.
std::string MissingViews(const std::string& suiteHome, int64_t jobId);

// The summary of a backup job: status, tasks, files and bytes stored, a
// warning when its index views are missing, and why it failed.
void PrintBackupSummary(TqHarness::CJobHarness& harness, const TqRunner::JobResult& job,
                        const TqHarness::CProgressReporter& progress, CLoggedErrors* logged);

// What RunJob returns for a job that ran to its end.
constexpr int kJobRan = -1;

// Runs the job of `spec` through the home's harness, the one way every
// tqcass job runs: Ctrl-C and SIGTERM raise its quit flag (a second one ends
// tqcass at once); `afterRun` is called once the run returned; a job so
// stopped is recorded failed with the signal as its reason and every program
// it started is stopped. Returns kJobRan when the job ran and `result` holds
// it, else the exit status (128 + the signal, or kFailed when the harness
// could not run it, said on standard error).
int RunJob(CCommandContext& context, TqRunner::JobSpec& spec, TqRunner::JobResult& result,
           const std::function<void()>& afterRun = nullptr);

// Runs a backup job with progress lines (unless quiet) and a summary. Ctrl-C
// and SIGTERM raise its quit flag; the job is then recorded failed with the
// signal as its reason and every program it started is stopped. Returns the
// exit status; `jobId` gets the job's number.
int RunBackupJob(CCommandContext& context, const TqHarness::BackupRequest& request, bool quiet,
                 int64_t& jobId);

// Verifies a job and prints the outcome; returns the exit status.
int VerifyJob(TqHarness::CJobHarness& harness, int64_t jobId);

}  // namespace TqCass

namespace TqCass {

// A restore of a backup job through the plug-in, as `restore` and `demo`
// run it.
struct RestorePlan {
  int64_t backupJob = 0;
  std::string mode = "in-place";  // "in-place", "loader", "staged" or "stage-free"
  std::string stage;              // the staging folder; "" for <home>/stage
  // "KS" or "KS.TABLE"; none restores everything the backup holds.
  std::vector<std::string> keyspaces;
  bool truncate = true;
  // A restore to this point in time (seconds since 1970): the data restore
  // and then the commit logs replayed up to it; 0 for none.
  int64_t toTime = 0;
  // Onto another cluster of the home (or across the nodes of the backed-up
  // one): the target cluster's name ("" the backed-up cluster), the source
  // node -> target node pairs ("" pairs the nodes in order), and whether a
  // target node replaces its dead source node (in place, no truncation).
  std::string targetCluster;
  std::vector<std::pair<std::string, std::string>> nodeMap;
  bool replaceDeadNode = false;
  // The source nodes a node map left out: not restored.
  std::vector<std::string> unmapped;

  // What the run recorded once it ended (`recorded`): the files and bytes
  // restored, "done" or "skipped: <why>" for the truncation ("" when the job
  // did not get that far), and the logged errors that explain a failure.
  bool recorded = false;
  uint64_t restoredFiles = 0;
  uint64_t restoredBytes = 0;
  std::string truncation;
  std::vector<std::string> causes;

  bool CrossInstance() const { return !targetCluster.empty() || !nodeMap.empty(); }
};

// A restore's files and bytes: restored, and in all (what its selection holds).
struct RestoreCounts {
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t totalFiles = 0;
  uint64_t totalBytes = 0;
};

// The files and bytes a restore reads from the store: the newest version,
// backed up until `toTime` (0: any), of every file under one of `paths`,
// read from the last full backup up to `backupJob` and the data backups after
// it. `paths` lie below the subclient ("/", "/KS", "/KS/TABLE") when
// `fromSubclient`, else they are index paths from the cluster down.
TqHarness::CCollectTotals::Totals RestoreTotals(const std::string& suiteHome, int64_t backupJob,
                                                int64_t toTime,
                                                const std::vector<std::string>& paths,
                                                bool fromSubclient);

// The summary of a restore job: status, tasks, files and bytes restored of
// those to restore, and whether its tables were truncated.
void PrintRestoreSummary(const TqRunner::JobResult& job, const RestorePlan& plan,
                         const RestoreCounts& counts);

// "tables truncated" or "tables not truncated: <why>" for an in-place
// restore that asked for truncation; "" for any other.
std::string TruncationText(const RestorePlan& plan, const TqRunner::JobResult& job);

// Reads "SOURCE=TARGET" (two node names of letters, digits, "_", "-" and
// "."); "" when fine, else why not.
std::string ParseNodePair(const std::string& text, std::pair<std::string, std::string>& pair);

// "" when `text` is a keyspace or "keyspace.table" made of letters, digits
// and underscores, else why not.
std::string CheckTableName(const std::string& text);

// Runs a restore job of `plan` with progress lines (unless quiet) and a
// summary; the restore's mode and backup job are kept beside the home's
// jobs for `jobs`, `show` and `verify`. Returns the exit status; `jobId`
// gets the job's number.
int RunRestoreJob(CCommandContext& context, const RestorePlan& plan, bool quiet, int64_t& jobId);

// The plan a restore job ran with; false when the job is no restore of
// tqcass.
bool ReadRestorePlan(const std::string& home, int64_t jobId, RestorePlan& plan);

}  // namespace TqCass

namespace TqCass {

// A point in time given as "YYYY-MM-DD HH:MM:SS" (local time, as tqcass
// prints times) or as seconds since 1970; false for anything else.
bool ParseTimeText(const std::string& text, int64_t& seconds);

// Whether a restore of `backup` to `plan.toTime` can run: the point lies
// after the backup ended and a completed commit-log job ran after the
// backup. Prints the reason and returns the exit status when not (else 0).
int CheckPointInTime(TqHarness::CJobHarness& harness, const TqRunner::JobResult& backup,
                     const RestorePlan& plan);

// Checks what a restore to a point in time replayed on every node against
// the stored commit-log segments (TqHarness::CReplayCheck) and prints it;
// true when it holds.
bool VerifyReplay(TqHarness::CJobHarness& harness, int64_t jobId, const RestorePlan& plan);

// While it lives, the plug-in's pauses for real Cassandra processes (a
// minute after each node's restart, the seconds between status checks) are
// cut to at most `maxMilliseconds`: the simulated nodes start at once.
class CShortWaits {
 public:
  explicit CShortWaits(uint32_t maxMilliseconds);
  ~CShortWaits();
  CShortWaits(const CShortWaits&) = delete;
  CShortWaits& operator=(const CShortWaits&) = delete;

 private:
  std::function<void(uint32_t)> previous_;
};

}  // namespace TqCass

namespace TqCass {

// Verifies a restore job run with `plan`: every SSTable file of the backups
// it restored is compared with the file it became (live in its table on the
// same node, or in the staging folder); with truncation, every live file of
// a restored table must also be one of the backup's. Returns the status.
int VerifyRestoreJob(TqHarness::CJobHarness& harness, int64_t jobId, const RestorePlan& plan);

// Verifies a restore onto other nodes (RestorePlan::CrossInstance): every
// SSTable file the mapped source nodes had backed up must have one file of
// equal bytes and component among the live SSTables of its table on its
// target node (with the loader on any node of the target cluster, staged in
// the staging folder). Returns the status.
int VerifyCrossRestoreJob(TqHarness::CJobHarness& harness, int64_t jobId, const RestorePlan& plan);

// Whether the restore's selection (`plan.keyspaces`, "KS" or "KS.TABLE";
// everything when empty) holds table `table` of `keyspace`.
bool PlanSelects(const RestorePlan& plan, const std::string& keyspace, const std::string& table);

// The component of an SSTable file named "<format>-<generation>-big-<component>";
// "" for any other name.
std::string SSTableComponentOf(const std::string& name);

// Finds the restored copy of the backed-up SSTable file `item`, of component
// `component`, among `candidates`: the first not yet in `matched` with that
// component, the item's size and bytes the store verifies. The copy joins
// `matched`, so that files of equal bytes (small components) each stand for
// one item. False when no candidate holds the item's bytes.
bool MatchRestoredCopy(CArchiveStore& store, const SStoredItem& item, const std::string& component,
                       const std::vector<std::string>& candidates, std::set<std::string>& matched);

}  // namespace TqCass

namespace TqCass {

// Removes the live SSTables of `keyspace` ("KS" or "KS.TABLE"; "" for every
// keyspace) on `node` ("" for every node), keeping snapshots and backups,
// and says how many files went. Returns the exit status.
int DamageData(TqHarness::CJobHarness& harness, const std::string& keyspace,
               const std::string& node);

}  // namespace TqCass
