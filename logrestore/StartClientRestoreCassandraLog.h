#pragma once

#include "restore/StartClientRestoreCassandra.h"

namespace TQCassandra {

// The client restore launcher of the commit-log phase of a point-in-time
// restore: browses like the restore launcher, but only the archived commit
// logs ("#COMMITLOG#" items) become restore records; every other item is
// counted as skipped, so that the browse's total still checks out. Its
// browse reaches nCommitlogBackupInterval minutes past the to-time, so that
// the logs archived after the chosen time are found.
class CStartClientRestoreCassandraLog : public CStartClientRestoreCassandra {
 public:
  CStartClientRestoreCassandraLog(TQRstJobClient* jobClient, TQJobCtrlClient* jobCtrlClient,
                                  bool baseFlag, bool subclientRestore);
  ~CStartClientRestoreCassandraLog() override;

  // One restore record per archive file and node of the commit-log items;
  // a stage-free job lowers the expected total by the skipped items.
  CQiError ProcessBrowseResponse(databrowse::BrowseResponseList& responses) override;
};

}  // namespace TQCassandra
