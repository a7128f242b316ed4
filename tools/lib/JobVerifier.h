#pragma once

#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/runner/RunnerTypes.h"
#include "tools/lib/HarnessState.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// Checks what a backup job stored against what it was asked to store:
//   - every entry of every node's numbered collect files ("Collect%s%d.tqf"
//     in the node's job results folder) is an item of the job in the index,
//     complete, and a regular file holds the same bytes as the file it was
//     read from (CArchiveStore::VerifyItem); a file no longer on disk (the
//     post-operations phase cleared the snapshot or deleted the backed-up
//     incremental file) is compared with its table's SSTable of the same
//     name, of which it was a hard link, when that is still there, else read
//     back against its checksums;
//   - for a full data job, every file of the job's snapshots that is still on
//     disk is stored (snapshots "<subclient>TQsnapshot<job id>");
//   - the job completed.
class CJobVerifier {
 public:
  CJobVerifier(std::string suiteHome, const CHarnessState& state)
      : suiteHome_(std::move(suiteHome)), state_(state) {}

  // Error only when the store cannot be read; what does not match is in
  // report.problems.
  CQiError Verify(const TqRunner::JobResult& job, VerifyReport& report) const;

  // What the job's post-operations phase left on each node: snapshots of
  // the subclient, listed files gone, files it could not delete.
  std::vector<CleanupState> CleanupStateOf(int64_t jobId) const;

  // The files of the job's snapshots on the nodes' disks now, sorted.
  static std::vector<std::string> SnapshotFiles(const CHarnessState& state, int64_t jobId);

 private:
  std::string suiteHome_;
  const CHarnessState& state_;
};

}  // namespace TqHarness
