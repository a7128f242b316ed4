#include "tools/tqbench/PairSeries.h"

#include <algorithm>
#include <cstdio>

#include "platform/base/FXString.h"
#include "tools/tqbench/BenchSupport.h"

namespace TqBench {

bool CopyFirst(int index) { return index % 2 == 0; }

double ThroughputRatio(double jobSeconds, double copySeconds) {
  return jobSeconds > 0 ? copySeconds / jobSeconds : 0.0;
}

double RatioWithoutPauses(const PairFigures& pair) {
  return ThroughputRatio(pair.job.seconds - pair.job.pauseSeconds, pair.copy.seconds);
}

std::string PairLine(int index, const std::string& jobName, const PairFigures& pair) {
  std::string line = FXString::Format(
      "pair %d (%s first): load %.2f; copy %.2f s; %s %.2f s, peak RSS %.1f MiB", index + 1,
      pair.copyFirst ? "copy" : jobName.c_str(), pair.load1, pair.copy.seconds, jobName.c_str(),
      pair.job.seconds, static_cast<double>(pair.job.maxRssKiB) / 1024.0);
  if (pair.job.pauseSeconds > 0) {
    line += FXString::Format(", fixed pauses %.2f s", pair.job.pauseSeconds);
  }
  line += FXString::Format("; ratio %s / copy %.2f", jobName.c_str(),
                           ThroughputRatio(pair.job.seconds, pair.copy.seconds));
  if (pair.job.pauseSeconds > 0) {
    line += FXString::Format(", without the pauses %.2f", RatioWithoutPauses(pair));
  }
  return line;
}

std::string PairSummary(const std::string& jobName, const std::vector<PairFigures>& pairs) {
  if (pairs.empty()) return jobName + ": no pairs";
  std::vector<double> ratios, bare, rss, loads;
  bool paused = false;
  for (const PairFigures& pair : pairs) {
    ratios.push_back(ThroughputRatio(pair.job.seconds, pair.copy.seconds));
    bare.push_back(RatioWithoutPauses(pair));
    rss.push_back(static_cast<double>(pair.job.maxRssKiB) / 1024.0);
    loads.push_back(pair.load1);
    paused = paused || pair.job.pauseSeconds > 0;
  }
  const auto load = std::minmax_element(loads.begin(), loads.end());
  std::string text = FXString::Format("%s / copy over %zu pairs: %s", jobName.c_str(), pairs.size(),
                                      Spread(ratios, "%.2f").c_str());
  if (paused) text += "; without the fixed pauses " + Spread(bare, "%.2f");
  text += FXString::Format("; peak RSS %s MiB; load %.2f to %.2f", Spread(rss).c_str(), *load.first,
                           *load.second);
  return text;
}

bool CPairSeries::Run(std::vector<PairFigures>& out) const {
  for (int index = 0; index < pairs_; ++index) {
    PairFigures pair;
    pair.copyFirst = CopyFirst(index);
    pair.load1 = LoadAverage1();
    if (pair.copyFirst) {
      pair.copy = copy_();
      if (pair.copy.ok) pair.job = job_();
    } else {
      pair.job = job_();
      if (pair.job.ok) pair.copy = copy_();
    }
    if (!pair.copy.ok || !pair.job.ok) {
      // The side that ran first and failed, or the second one.
      const bool copyFailed = pair.copyFirst ? !pair.copy.ok : pair.job.ok;
      std::fprintf(stderr, "tqbench: pair %d: the %s failed\n", index + 1,
                   copyFailed ? "copy" : jobName_.c_str());
      return false;
    }
    std::printf("%s\n", PairLine(index, jobName_, pair).c_str());
    out.push_back(pair);
  }
  std::printf("RESULT %s\n", PairSummary(jobName_, out).c_str());
  return true;
}

}  // namespace TqBench
