#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "tools/lib/HarnessState.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// What a job killed outright leaves outside the archive store, put right
// by the next run that holds the home's lock (no job of the home runs
// then):
//
// - nodes whose Cassandra a restore stopped for a token takeover (the
//   restore's record "CassandraStopped" in a target's work folder, holding
//   the node's configuration directory): each is started again through its
//   Priam, whatever data it holds;
// - the commit-log restore settings a point-in-time restore left live on
//   its nodes, put back from their ".bkp" copies (RestoreSettingsRecovery.h);
// - Priam properties files ("priam.properties", with passwords) in the
//   job's result folders of every client;
// - a stage-free restore's network share (the share the job asked for) and
//   the share's links in its mount folder "/TqCassandraMountDir<job>",
//   with the folder when nothing else is in it;
// - a staged or loader restore's staging folder "<staging location>/<job>";
// - a restore's hidden temporaries and the files it placed in table folders
//   but never loaded (CRestoreRecovery), before any node starts again.
class CLeftoverRecovery {
 public:
  CLeftoverRecovery(std::string suiteHome, const CHarnessState& state);

  // Puts right what job `job.jobId` left and counts it into `job`. Only an
  // unreadable job description is an error; every other step goes on past
  // what it cannot remove (it stays for the user to see).
  CQiError Recover(InterruptedJob& job) const;
  // Removes the hidden temporaries and the placed but never loaded files of
  // restore job `job.jobId` (CRestoreRecovery) and counts them into `job`;
  // what is settled already is not looked at again. Run by the job's own end
  // and for every job that ended failed.
  void RecoverPlacedFiles(InterruptedJob& job) const;
  // The same for a restore that ended (stopped, failed, with errors), only
  // when it restored in place: a staged or loader restore's staged files are
  // not live, and stay for the user.
  void RecoverEndedRestore(InterruptedJob& job) const;

  // The file a restore leaves in a target's work folder while the node's
  // Cassandra is stopped.
  static constexpr const char* kStoppedRecordName = "CassandraStopped";
  // Where the nodes of a stage-free restore mount its share.
  static std::string MountFolderOf(int64_t jobId);

 private:
  // The result folders of the job on every client of the suite home.
  std::vector<std::string> JobFolders(int64_t jobId) const;
  void StartStoppedNodes(const std::vector<std::string>& folders, InterruptedJob& job) const;
  // Starts the node whose configuration directory is `configDirectory`;
  // its name goes to `node`, and "" or why not is returned.
  std::string StartNode(const std::string& configDirectory, std::string& node) const;
  void RemovePropertiesFiles(const std::vector<std::string>& folders, InterruptedJob& job) const;
  void RemoveShare(InterruptedJob& job) const;
  void RemoveStaging(const std::string& stagingLocation, InterruptedJob& job) const;

  std::string suiteHome_;
  const CHarnessState& state_;
};

}  // namespace TqHarness
