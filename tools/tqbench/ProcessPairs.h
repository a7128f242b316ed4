#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tqbench/BenchSupport.h"
#include "tools/tqbench/PairSeries.h"

namespace TqBench {

// What the whole-process pairs are given.
struct ProcessPairsSetup {
  std::string tqcass;  // the front end, run as whole processes
  std::string work;    // scratch folder of this run
  int pairs = 5;
  int streams = 16;  // of the backup jobs
  // The restores' cluster: nodes x 4 keyspaces x 4 tables x sstables.
  int nodes = 3;
  int sstablesPerTable = 28;
  uint64_t sstableSize = 1597830;
  std::vector<std::string> restoreModes;  // in-place, staged, loader
  long smallFiles = 20000;                // of the backup pairs; 0 for none
};

// Pairs of whole processes: `tqcass restore` in each mode against `cp -r`
// of the same snapshot files and a flush, and `tqcass backup` of a cluster
// of small files against `cp -r` of its files and a flush (CPairSeries).
// Each job runs in its own process; its time ends with a flush of the file
// system after it, and its peak memory is the process's own.
class CProcessPairs {
 public:
  explicit CProcessPairs(ProcessPairsSetup setup) : setup_(std::move(setup)) {}

  // 0 when every pair ran.
  int Run() const;

 private:
  struct Home {
    std::string path;
    std::string log;                        // the output of its tqcass commands
    std::vector<std::string> snapshotDirs;  // the copies' source
    uint64_t files = 0;
    uint64_t bytes = 0;
  };

  // Makes and registers a cluster in `home.path`, snapshots its tables for
  // the copies and counts the snapshot's files.
  bool MakeHome(const std::vector<std::string>& clusterArgs, Home& home) const;
  // tqcass on `home` with `args`, its output appended to the home's log.
  ProcessRun TqcassRun(const Home& home, const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) const;
  bool Tqcass(const Home& home, const std::vector<std::string>& args) const {
    return TqcassRun(home, args).ok;
  }
  bool RestorePairs(const Home& home, const std::string& mode) const;
  bool BackupPairs() const;
  // `cp -r --parents` of the snapshot folders into `into`, then `extra`
  // copies of that copy beside it, then a flush: the copy side of a pair.
  SideRun Copy(const Home& home, const std::string& into, int extra) const;

  ProcessPairsSetup setup_;
};

}  // namespace TqBench
