// The simulated commit log: segment and journal formats, the point in time
// as Cassandra's settings write it, and which mutations a start with given
// restore settings applies.

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimCommitLog.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimLogReplay.h"
#include "support/ClusterTestSupport.h"
#include "support/SimTestSupport.h"

namespace {

using TqSim::SimCommitLog;
using TqSim::SimLogReplay;
using TqSim::SimMutation;

SimMutation M(int64_t micros, const std::string& table, const std::string& value) {
  SimMutation m;
  m.timestampMicros = micros;
  m.table = table;
  m.value = value;
  return m;
}

// 2026-03-04 05:06:07 UTC.
constexpr int64_t kPointSeconds = 1772600767;

TEST(SimCommitLogTest, PointInTimeIsReadAsCassandraWritesIt) {
  struct Case {
    const char* text;
    bool ok;
    int64_t seconds;
  } cases[] = {
      {"2026:3:4 5:6:7", true, kPointSeconds},
      {"2026:03:04 05:06:07", true, kPointSeconds},
      {"1970:1:1 0:0:5", true, 5},
      {"2024:2:29 23:59:59", true, 1709251199},
      {"2026:2:29 0:0:0", false, 0},  // no such day
      {"2026:13:1 0:0:0", false, 0},
      {"2026:1:1 24:0:0", false, 0},
      {"2026:1:1", false, 0},
      {"2026-01-01 00:00:00", false, 0},
      {"2026:1:1 0:0:x", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t millis = -1;
    EXPECT_EQ(SimCommitLog::ParsePointInTime(c.text, millis), c.ok);
    if (c.ok) {
      EXPECT_EQ(millis, c.seconds * 1000);
    }
  }
}

TEST(SimCommitLogTest, MutationsUpToThePointAreThoseOfItsLastMillisecondAndBefore) {
  const int64_t point = kPointSeconds * 1000;
  const int64_t micros = kPointSeconds * 1000000;
  struct Case {
    int64_t timestamp;
    const char* precision;
    bool replayed;
  } cases[] = {
      {micros, "MICROSECONDS", true},
      {micros + 999, "MICROSECONDS", true},
      {micros + 1000, "MICROSECONDS", false},
      {micros - 1, "MICROSECONDS", true},
      {point, "MILLISECONDS", true},
      {point + 1, "MILLISECONDS", false},
      {-1, "MICROSECONDS", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.timestamp) + " " + c.precision);
    EXPECT_EQ(SimCommitLog::UpToPoint(M(c.timestamp, "ks.t", "v"), point, c.precision), c.replayed);
  }
  // Before 1970 the millisecond is rounded down, never towards the point.
  EXPECT_TRUE(SimCommitLog::UpToPoint(M(-1, "ks.t", "v"), -1, "MICROSECONDS"));
  EXPECT_FALSE(SimCommitLog::UpToPoint(M(-1, "ks.t", "v"), -2, "MICROSECONDS"));
}

TEST(SimCommitLogTest, SegmentsAndJournalsReadBackWhatWasWritten) {
  simtest::TempDir dir;
  const std::vector<SimMutation> mutations = {M(1772600767000001, "ks1.t1", "a"),
                                              M(-5, "ks2.t2", "b-c")};
  std::string error;
  std::string path;
  // Ids follow the highest of both folders, and never fall below the clock.
  const uint64_t now = static_cast<uint64_t>(std::time(nullptr)) * 1000;
  simtest::WriteFile(dir.Sub("archive/CommitLog-6-7.log"), "");
  simtest::WriteFile(dir.Sub("commitlog/CommitLog-6-" + std::to_string(now + 50000) + ".log"), "");
  simtest::WriteFile(dir.Sub("commitlog/CommitLog-6-x.log"), "");
  ASSERT_TRUE(SimCommitLog::ArchiveSegment(dir.Sub("archive"), dir.Sub("commitlog"), 6, mutations,
                                           path, error))
      << error;
  EXPECT_EQ(path, dir.Sub("archive/CommitLog-6-" + std::to_string(now + 50001) + ".log"));
  std::string again;
  std::remove(path.c_str());
  std::remove(dir.Sub("commitlog/CommitLog-6-" + std::to_string(now + 50000) + ".log").c_str());
  ASSERT_TRUE(SimCommitLog::ArchiveSegment(dir.Sub("archive"), dir.Sub("commitlog"), 6, mutations,
                                           again, error))
      << error;
  uint64_t id = 0;
  ASSERT_TRUE(SimCommitLog::SegmentId(TqSim::BaseName(again), id));
  EXPECT_GE(id, now);
  EXPECT_LT(id, now + 50000);
  path = again;
  EXPECT_EQ(simtest::ReadFile(path),
            "# tqsim commit log segment\n1772600767000001 ks1.t1 a\n-5 ks2.t2 b-c\n");
  std::vector<SimMutation> read;
  ASSERT_TRUE(SimCommitLog::ReadSegment(path, read, error)) << error;
  EXPECT_EQ(read, mutations);

  ASSERT_TRUE(SimCommitLog::AppendToJournal(dir.Sub("table"), 7, mutations, error)) << error;
  ASSERT_TRUE(SimCommitLog::AppendToJournal(dir.Sub("table"), 8, {mutations[0]}, error)) << error;
  EXPECT_EQ(simtest::ReadFile(dir.Sub("table/.tqsim-mutations")),
            "7 1772600767000001 ks1.t1 a\n7 -5 ks2.t2 b-c\n8 1772600767000001 ks1.t1 a\n");
  std::vector<TqSim::SimJournalEntry> journal;
  ASSERT_TRUE(SimCommitLog::ReadJournal(dir.Sub("table"), journal, error)) << error;
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[2].jobId, 8);
  EXPECT_EQ(journal[2].mutation, mutations[0]);
  ASSERT_TRUE(SimCommitLog::ReadJournal(dir.Sub("empty"), journal, error));
  EXPECT_TRUE(journal.empty());

  struct Bad {
    const char* name;
    const char* text;
  } bad[] = {
      {"no header", "1 ks.t v\n"},
      {"no table", "# tqsim commit log segment\n1 kst v\n"},
      {"time no number", "# tqsim commit log segment\n1x ks.t v\n"},
      {"extra field", "# tqsim commit log segment\n1 ks.t v w\n"},
      {"missing value", "# tqsim commit log segment\n1 ks.t\n"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    simtest::WriteFile(dir.Sub("bad.log"), b.text);
    EXPECT_FALSE(SimCommitLog::ReadSegment(dir.Sub("bad.log"), read, error));
  }
}

TEST(SimCommitLogTest, FixtureSegmentsHoldOneWriteOfEveryTableStampedByTheirId) {
  simtest::TempDir dir;
  TqSim::FixtureOptions options = simtest::SmallClusterOptions(2);
  options.commitLogSegments = 2;
  options.commitLogSegmentSize = 300;
  TqSim::FixtureResult cluster;
  simtest::GenerateCluster(dir.Sub("c"), options, cluster);
  const TqSim::FixtureNode& node = cluster.nodes[1];
  const std::vector<std::string> names = TqSim::ListDir(node.commitLogArchiveDir);
  ASSERT_EQ(names, (std::vector<std::string>{"CommitLog-6-1600000200000.log",
                                             "CommitLog-6-1600000200001.log"}));
  std::vector<SimMutation> read;
  std::string error;
  ASSERT_TRUE(SimCommitLog::ReadSegment(node.commitLogArchiveDir + "/" + names[1], read, error))
      << error;
  EXPECT_EQ(read,
            (std::vector<SimMutation>{M(1600000200001000, "ks1.t1", "node2-1600000200001-0"),
                                      M(1600000200001001, "ks2.t1", "node2-1600000200001-1")}));
  EXPECT_EQ(simtest::ReadFile(node.commitLogArchiveDir + "/" + names[1]).size(), 300u);
  // The active segment carries on the numbering.
  EXPECT_TRUE(TqSim::IsFile(node.commitLogDir + "/CommitLog-6-1600000200002.log"));
}

TEST(SimCommitLogTest, StartSettingsChooseTheMutationsApplied) {
  const int64_t micros = kPointSeconds * 1000000;
  const std::vector<std::vector<SimMutation>> segments = {
      {M(micros - 10, "ks1.t1", "a"), M(micros - 9, "ks1.t2", "b")},
      {M(micros + 999, "ks1.t1", "c"), M(micros + 1000, "ks1.t1", "d"), M(micros, "ks2.t1", "e")},
  };
  struct Case {
    const char* name;
    std::string point;
    bool hasList;
    std::vector<std::string> list;
    std::vector<std::string> applied;
  } cases[] = {
      {"everything", "", false, {}, {"a", "b", "c", "d", "e"}},
      {"up to the point", "2026:3:4 5:6:7", false, {}, {"a", "b", "c", "e"}},
      {"listed tables", "", true, {"ks1.t1", "ks2.t1"}, {"a", "c", "d", "e"}},
      {"both", "2026:3:4 5:6:7", true, {"ks1.t1"}, {"a", "c"}},
      {"empty list", "", true, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimLogReplay::Settings settings;
    settings.pointInTime = c.point;
    settings.hasReplayList = c.hasList;
    settings.replayList = c.list;
    std::vector<SimMutation> applied;
    std::string error;
    ASSERT_TRUE(SimLogReplay::SelectMutations(segments, settings, applied, error)) << error;
    std::vector<std::string> values;
    for (const auto& m : applied) values.push_back(m.value);
    EXPECT_EQ(values, c.applied);
  }
  SimLogReplay::Settings unreadable;
  unreadable.pointInTime = "2026-03-04 05:06:07";
  std::vector<SimMutation> applied;
  std::string error;
  EXPECT_FALSE(SimLogReplay::SelectMutations(segments, unreadable, applied, error));
  EXPECT_EQ(error, "Unable to parse restore target time 2026-03-04 05:06:07");
}

TEST(SimCommitLogTest, SettingsAreReadFromThePropertiesAndTheLastReplayListOption) {
  simtest::TempDir dir;
  simtest::WriteFile(dir.Sub("commitlog_archiving.properties"),
                     "archive_command=/bin/ln %path /a/%name\n"
                     "#restore_command=/bin/false\n"
                     "restore_command=/bin/cp %from %to \n"
                     "restore_directories= /s/1/#COMMITLOG#, /s/2 \n"
                     "restore_point_in_time=2026:3:4 5:6:7\r\n"
                     "precision=MILLISECONDS");
  simtest::WriteFile(dir.Sub("cassandra-env.sh"),
                     "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks9.t9\"\n"
                     "# JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks8.t8\"\n"
                     "JVM_OPTS=\"$JVM_OPTS -Dcassandra.replayList=ks1.t1,ks2.t1\"");
  SimLogReplay::Settings s;
  std::string error;
  ASSERT_TRUE(SimLogReplay::ReadSettings(dir.path(), s, error)) << error;
  EXPECT_EQ(s.restoreCommand, "/bin/cp %from %to");
  EXPECT_EQ(s.restoreDirectories, (std::vector<std::string>{"/s/1/#COMMITLOG#", "/s/2"}));
  EXPECT_EQ(s.pointInTime, "2026:3:4 5:6:7");
  EXPECT_EQ(s.precision, "MILLISECONDS");
  EXPECT_TRUE(s.hasReplayList);
  EXPECT_EQ(s.replayList, (std::vector<std::string>{"ks1.t1", "ks2.t1"}));

  simtest::WriteFile(dir.Sub("cassandra-env.sh"), "JVM_OPTS=\"$JVM_OPTS\"\n");
  simtest::WriteFile(dir.Sub("commitlog_archiving.properties"), "restore_command=\n");
  ASSERT_TRUE(SimLogReplay::ReadSettings(dir.path(), s, error)) << error;
  EXPECT_FALSE(s.hasReplayList);
  EXPECT_TRUE(s.restoreCommand.empty());
  EXPECT_TRUE(s.restoreDirectories.empty());
  EXPECT_EQ(s.precision, "MICROSECONDS");
}

}  // namespace
