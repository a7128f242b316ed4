#pragma once

#include <string>
#include <vector>

namespace TqBench {

// The scale series: for each number of small files, a cluster made,
// backed up and restored in place by `tqcass` as whole processes (3 nodes,
// 4 keyspaces of 4 tables, SSTables of eight 2,000-byte-data files, enough of
// them for the number), each job's wall time, time per file and peak
// resident memory printed with the machine's load before it. The memory of
// a job is the process's own, as the system reports it when the process
// ends, so one job's figure never includes another's.
class CScaleSeries {
 public:
  CScaleSeries(std::string tqcass, std::string work, std::vector<long> fileCounts)
      : tqcass_(std::move(tqcass)), work_(std::move(work)), fileCounts_(std::move(fileCounts)) {}

  // 0 when every job ran and completed.
  int Run() const;

 private:
  std::string tqcass_;
  std::string work_;
  std::vector<long> fileCounts_;
};

}  // namespace TqBench
