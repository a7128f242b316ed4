// The benchmark's pairs of a job and a copy: their alternating order, the
// lines and summary they print, and the fixed pauses read from a restore's
// log.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tqbench/PairSeries.h"
#include "tools/tqbench/RestorePauses.h"

namespace {

using TqBench::CPairSeries;
using TqBench::PairFigures;
using TqBench::PauseFigures;
using TqBench::RestorePauses;
using TqBench::SideRun;

SideRun Side(double seconds, long maxRssKiB = 0, double pauseSeconds = 0) {
  SideRun side;
  side.ok = true;
  side.seconds = seconds;
  side.maxRssKiB = maxRssKiB;
  side.pauseSeconds = pauseSeconds;
  return side;
}

PairFigures Pair(bool copyFirst, double load, double copy, double job, long rssKiB,
                 double pause = 0) {
  PairFigures pair;
  pair.copyFirst = copyFirst;
  pair.load1 = load;
  pair.copy = Side(copy);
  pair.job = Side(job, rssKiB, pause);
  return pair;
}

TEST(PairSeries, SidesAlternateFromCopyFirstAndStopAtAFailure) {
  const struct {
    const char* name;
    int pairs;
    int failingJob;   // the job's call that fails (from 1), 0 for none
    int failingCopy;  // the same for the copy
    bool ok;
    const char* calls;
    size_t measured;
  } cases[] = {
      {"four pairs", 4, 0, 0, true, "copy job job copy copy job job copy ", 4},
      {"one pair", 1, 0, 0, true, "copy job ", 1},
      {"the second job fails", 3, 2, 0, false, "copy job job ", 1},
      {"the first job fails", 2, 1, 0, false, "copy job ", 0},
      {"the first copy fails", 2, 0, 1, false, "copy ", 0},
      {"the second copy fails", 2, 0, 2, false, "copy job job copy ", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string calls;
    int jobs = 0, copies = 0;
    CPairSeries series(
        "restore in-place", c.pairs,
        [&] {
          calls += "copy ";
          SideRun side = Side(2.0);
          side.ok = ++copies != c.failingCopy;
          return side;
        },
        [&] {
          calls += "job ";
          SideRun side = Side(4.0, 2048);
          side.ok = ++jobs != c.failingJob;
          return side;
        });
    std::vector<PairFigures> out;
    EXPECT_EQ(series.Run(out), c.ok);
    EXPECT_EQ(calls, c.calls);
    ASSERT_EQ(out.size(), c.measured);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i].copyFirst, i % 2 == 0) << i;
  }
}

TEST(PairSeries, PairLinesGiveTimesMemoryAndRatios) {
  const struct {
    const char* name;
    int index;
    PairFigures pair;
    const char* line;
  } cases[] = {
      {"copy first, no pauses", 0, Pair(true, 2.5, 3.0, 6.0, 46080),
       "pair 1 (copy first): load 2.50; copy 3.00 s; backup 6.00 s, peak RSS 45.0 MiB; ratio "
       "backup / copy 0.50"},
      {"job first, with pauses", 1, Pair(false, 0.75, 4.0, 13.0, 512, 5.0),
       "pair 2 (backup first): load 0.75; copy 4.00 s; backup 13.00 s, peak RSS 0.5 MiB, fixed "
       "pauses 5.00 s; ratio backup / copy 0.31, without the pauses 0.50"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TqBench::PairLine(c.index, "backup", c.pair), c.line);
  }
}

TEST(PairSeries, SummaryGivesTheMedianAndRangeOfTheRatios) {
  const struct {
    const char* name;
    std::vector<PairFigures> pairs;
    const char* summary;
  } cases[] = {
      {"no pairs", {}, "restore staged: no pairs"},
      {"three pairs without pauses",
       {Pair(true, 1.0, 2.0, 4.0, 1024), Pair(false, 3.5, 3.0, 2.0, 3072),
        Pair(true, 2.0, 2.0, 2.5, 2048)},
       "restore staged / copy over 3 pairs: 0.80 (0.50 to 1.50); peak RSS 2.0 (1.0 to 3.0) MiB; "
       "load 1.00 to 3.50"},
      {"pauses taken out",
       {Pair(true, 1.0, 5.0, 10.0, 1024, 5.0), Pair(false, 1.0, 6.0, 12.0, 1024, 5.0),
        Pair(true, 1.0, 4.0, 10.0, 1024, 5.0)},
       "restore staged / copy over 3 pairs: 0.50 (0.40 to 0.50); without the fixed pauses 0.86 "
       "(0.80 to 1.00); peak RSS 1.0 (1.0 to 1.0) MiB; load 1.00 to 1.00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TqBench::PairSummary("restore staged", c.pairs), c.summary);
  }
}

// A log line as the log writer writes it.
std::string Line(const char* thread, const char* time, const char* text) {
  return std::string("4242 ") + thread + " 12/11 " + time + " 2 Finish:240 " + text + "\n";
}

TEST(RestorePauses, PausesAreCountedOncePerWaveWithTheirGaps) {
  const std::string mark = " Changing permissions User [cassandra], group [cassandra] ";
  const struct {
    const char* name;
    std::string log;
    int pauses, waves;
    double seconds;
    int minGap, maxGap;
  } cases[] = {
      {"no pause", Line("7f1", "16:00:00", "Restore started"), 0, 0, 0.0, -1, -1},
      {"three nodes in one second",
       Line("7f1", "16:00:00", mark.c_str()) + Line("7f2", "16:00:00", mark.c_str()) +
           Line("7f3", "16:00:00", mark.c_str()) + Line("7f2", "16:00:05", "next") +
           Line("7f1", "16:00:05", "next") + Line("7f3", "16:00:06", "next"),
       3, 1, 5.0, 5, 6},
      {"the pause starts when the chown has ended",
       Line("7f1", "16:00:00", mark.c_str()) +
           Line("7f1", "16:00:00", "Running command [ chown -R c:c /data1]") +
           Line("7f2", "16:00:01", "Tables to be truncated yet") +
           Line("7f1", "16:00:02", "Command [ chown -R c:c /data1] ended with status 0") +
           Line("7f1", "16:00:07", "Entering") + Line("7f2", "16:00:06", mark.c_str()) +
           Line("7f2", "16:00:11", "Entering"),
       2, 2, 9.0, 5, 5},
      {"across a second's change",
       Line("7f1", "16:00:09", mark.c_str()) + Line("7f2", "16:00:10", mark.c_str()), 2, 1, 5.0, -1,
       -1},
      {"one node after the other",
       Line("7f1", "16:00:00", mark.c_str()) + Line("7f1", "16:00:05", mark.c_str()) +
           Line("7f1", "16:00:10", mark.c_str()) + Line("7f1", "16:00:15", "refresh"),
       3, 3, 15.0, 5, 5},
      {"past midnight",
       Line("7f1", "23:59:58", mark.c_str()) + "4242 7f2 12/12 00:00:04 2 Finish:240" + mark + "\n",
       2, 2, 10.0, -1, -1},
      {"lines of another format are skipped",
       "garbage line\n" + Line("7f1", "16:00:00", mark.c_str()) + "4242 7f1 12/11 xx\n", 1, 1, 5.0,
       -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PauseFigures figures = RestorePauses::InText(c.log);
    EXPECT_EQ(figures.pauses, c.pauses);
    EXPECT_EQ(figures.waves, c.waves);
    EXPECT_DOUBLE_EQ(figures.seconds, c.seconds);
    EXPECT_EQ(figures.minGap, c.minGap);
    EXPECT_EQ(figures.maxGap, c.maxGap);
  }
}

}  // namespace
