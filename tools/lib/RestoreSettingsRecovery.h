#pragma once

#include <string>
#include <vector>

#include "tools/lib/HarnessState.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// The commit-log restore settings a killed point-in-time restore left live
// on its nodes, put back by the next run that holds the home's lock. Before
// it copies and edits a node's "commitlog_archiving.properties" and
// "cassandra-env.sh", the restore writes the record "CommitLogSettingsEdited"
// (the node's configuration directory) in the target's work folder; the
// ".bkp" copies beside the files are the node's own settings. For every such
// record of the job, each copy still there is renamed over its file, so no
// later start of the node replays the logs, and the temporary files of a
// copy or rewrite cut short are removed; then the record goes.
class CRestoreSettingsRecovery {
 public:
  static constexpr const char* kRecordName = "CommitLogSettingsEdited";

  // `folders`: the job's result folders on every client. Nodes whose settings
  // were put back go to `job.settingsPutBack`, the others with the reason to
  // `job.settingsNotPutBack` (their record stays).
  static void PutBack(const std::vector<std::string>& folders, const CHarnessState& state,
                      InterruptedJob& job);
};

}  // namespace TqHarness
