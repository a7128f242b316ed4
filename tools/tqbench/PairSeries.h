#pragma once

#include <functional>
#include <string>
#include <vector>

namespace TqBench {

// One side of a pair: a job or a copy, timed from its first process's start
// to the end of the flush of the file system after it.
struct SideRun {
  bool ok = false;
  double seconds = 0;
  long maxRssKiB = 0;       // peak resident memory of the job's process (0 for a copy)
  double pauseSeconds = 0;  // fixed pauses the job's design keeps, within `seconds`
};

// What one pair measured.
struct PairFigures {
  bool copyFirst = false;
  double load1 = 0;  // 1-minute load average at the pair's start
  SideRun copy;
  SideRun job;
};

// Pair `index` (from 0) runs the copy first when even, the job first when
// odd: copy first, then job first, and so on.
bool CopyFirst(int index);
// Throughput of the job over that of the copy of the same bytes.
double ThroughputRatio(double jobSeconds, double copySeconds);
// The same with the job's fixed pauses taken out of its time.
double RatioWithoutPauses(const PairFigures& pair);
// One pair's line: order, load, both times, the job's peak memory and pauses,
// the ratios.
std::string PairLine(int index, const std::string& jobName, const PairFigures& pair);
// The summary over the pairs: median (min to max) of the ratios (and of the
// ratios without the pauses when there were any), of the peak memory, and
// the range of the loads.
std::string PairSummary(const std::string& jobName, const std::vector<PairFigures>& pairs);

// Runs pairs of a job and a copy of the same files, one after the other,
// their order alternating from pair to pair, and prints each pair's line
// and the summary.
class CPairSeries {
 public:
  using Side = std::function<SideRun()>;

  CPairSeries(std::string jobName, int pairs, Side copy, Side job)
      : jobName_(std::move(jobName)), pairs_(pairs), copy_(std::move(copy)), job_(std::move(job)) {}

  // False when a side failed; the pairs run until then are in `out`.
  bool Run(std::vector<PairFigures>& out) const;

 private:
  std::string jobName_;
  int pairs_;
  Side copy_;
  Side job_;
};

}  // namespace TqBench
