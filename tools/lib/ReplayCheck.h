#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "sim/lib/SimCommitLog.h"
#include "tools/lib/HarnessState.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// What a restore to a point in time asked for, as the replay check needs it.
struct ReplayRequest {
  int64_t restoreJob = 0;
  int64_t backupJob = 0;  // the data backup the restore brought back
  int64_t toTime = 0;     // the point in time, seconds since 1970
  // "KS" or "KS.TABLE"; none: every table.
  std::vector<std::string> tables;
  // The commit-log backup interval the restore widened its browse by
  // (minutes; registry "Cassandra"/"nCommitlogBackupInterval", default 30).
  int64_t intervalMinutes = 30;
};

struct ReplayReport {
  int nodes = 0;
  int segments = 0;  // stored segments whose mutations the restore had to replay
  int expected = 0;  // mutations up to the point in time on restored tables
  int replayed = 0;  // journal entries of the restore job
  std::vector<VerifyProblem> problems;
  bool Ok() const { return problems.empty(); }
};

// The commit logs of the harness's simulated cluster: new archived segments
// of timestamped writes, and the check of what a restore to a point in time
// replayed.
class CReplayCheck {
 public:
  // Archives one new segment on each named node holding its mutations
  // (nodes without an entry get none); `written` gets the segments' paths.
  static CQiError ArchiveSegments(
      const CHarnessState& state,
      const std::map<std::string, std::vector<TqSim::SimMutation>>& byNode,
      std::vector<std::string>& written);
  // `count` writes of every table of the cluster for each node, stamped one
  // microsecond apart from `firstMicros` on; values "<node>-<micros>-<n>".
  static CQiError WritesOfEveryTable(
      const CHarnessState& state, int count, int64_t firstMicros,
      std::map<std::string, std::vector<TqSim::SimMutation>>& byNode);

  // The mutations a restore of `request` must have replayed on each node:
  // those of the segments stored under the node's "#COMMITLOG#" by the
  // commit-log jobs that ran after the data backup, within the restore's
  // widened time range, on the selected tables, up to the point in time.
  static CQiError Expected(const std::string& suiteHome, const CHarnessState& state,
                           const ReplayRequest& request,
                           std::map<std::string, std::vector<TqSim::SimMutation>>& byNode,
                           int& segments);
  // What the restore job replayed on each node: its entries of the tables'
  // journals.
  static CQiError Replayed(const CHarnessState& state, int64_t restoreJob,
                           std::map<std::string, std::vector<TqSim::SimMutation>>& byNode);
  // Compares both (as sets with repeats, per node) and checks that no node
  // keeps live restore settings (".bkp" copies left, "restore_directories"
  // set).
  static CQiError Check(const std::string& suiteHome, const CHarnessState& state,
                        const ReplayRequest& request, ReplayReport& report);
};

}  // namespace TqHarness
