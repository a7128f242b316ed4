#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/lib/JobHarness.h"

namespace TqBench {

// What the in-place restore rounds are given: the registered cluster of the
// backup rounds, whose newest backup job is still in the store, and the
// snapshot folders that hold the same files that job stored.
struct RestoreBenchSetup {
  int runs = 5;
  int streams = 16;
  std::string work;                       // scratch folder of this run
  std::vector<std::string> snapshotDirs;  // copied with `cp -r --parents`
  uint64_t files = 0;                     // regular files of the snapshot folders
  uint64_t bytes = 0;                     // and their bytes
};

// Rounds of: `cp -r` of the snapshot folders and a flush of the file
// system, then an in-place restore job of the whole cluster (tables
// truncated, files flushed by the data movers before their tasks end) and a
// flush after it. Prints each round's throughputs, the ratio restore / copy
// and their medians. The restore's data path is timed from the restore
// phase's start until its last task ended; the whole job adds the nodes'
// finishing (ownership, fixed pauses, refresh) and the truncation.
class CRestoreBench {
 public:
  CRestoreBench(TqHarness::CJobHarness& harness, RestoreBenchSetup setup)
      : harness_(harness), setup_(std::move(setup)) {}

  // 0 when every round ran and every restore completed.
  int Run();

 private:
  struct Round {
    double jobSeconds = 0;
    double dataSeconds = 0;  // phase start to the last task's end
    double flushSeconds = 0;
    int64_t files = 0;
    int64_t bytes = 0;
  };

  bool RunRestore(Round& round);

  TqHarness::CJobHarness& harness_;
  RestoreBenchSetup setup_;
};

}  // namespace TqBench
