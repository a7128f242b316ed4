#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TqSim {

// One write of a simulated Cassandra node: a timestamped change of a table.
struct SimMutation {
  int64_t timestampMicros = 0;  // microseconds since 1970 (UTC), as Cassandra stamps writes
  std::string table;            // "keyspace.table"
  std::string value;            // what was written: no blanks, no line breaks

  bool operator==(const SimMutation& o) const {
    return timestampMicros == o.timestampMicros && table == o.table && value == o.value;
  }
  bool operator<(const SimMutation& o) const {
    if (timestampMicros != o.timestampMicros) return timestampMicros < o.timestampMicros;
    if (table != o.table) return table < o.table;
    return value < o.value;
  }
};

// A mutation that a restore job replayed on a node.
struct SimJournalEntry {
  int64_t jobId = 0;
  SimMutation mutation;
};

// The commit log of the simulated nodes, kept as text:
//
//   segment file "CommitLog-<version>-<id>.log":
//     # tqsim commit log segment
//     <timestamp in microseconds> <keyspace>.<table> <value>
//     ...
//   (later lines beginning "#" are filler, empty lines are skipped)
//
//   mutation journal ".tqsim-mutations" in a table's folder (the node's
//   first data directory): what replays applied to the table, one line
//   "<restore job id> <timestamp> <keyspace>.<table> <value>" each, appended
//   in replay order.
class SimCommitLog {
 public:
  static constexpr const char* kHeader = "# tqsim commit log segment";
  static constexpr const char* kJournalFile = ".tqsim-mutations";

  static std::string MutationLine(const SimMutation& mutation);
  // False for a line that is no mutation (missing fields, a timestamp that
  // is no number, a table without its keyspace).
  static bool ParseMutationLine(const std::string& line, SimMutation& mutation);

  static std::string SegmentText(const std::vector<SimMutation>& mutations);
  // Writes the whole segment under a temporary name and renames it.
  static bool WriteSegment(const std::string& path, const std::vector<SimMutation>& mutations,
                           std::string& error);
  // The mutations of a segment's text in file order; false (with `error`)
  // for a text without the header or with a line that is no mutation.
  static bool ParseSegment(const std::string& text, std::vector<SimMutation>& mutations,
                           std::string& error);
  // The same of a segment file.
  static bool ReadSegment(const std::string& path, std::vector<SimMutation>& mutations,
                          std::string& error);

  // A new segment holding `mutations`, archived as Cassandra archives a
  // closed segment: named with an id above every segment of the archive and
  // commit-log folders and not below the time in milliseconds (so that an
  // id is never used again after its segment was backed up and removed),
  // written into `archiveDir`. `path` gets its path.
  static bool ArchiveSegment(const std::string& archiveDir, const std::string& commitLogDir,
                             int version, const std::vector<SimMutation>& mutations,
                             std::string& path, std::string& error);
  // The id of a segment name "CommitLog-<version>-<id>.log" (false for any
  // other name).
  static bool SegmentId(const std::string& name, uint64_t& id);

  // Appends the mutations replayed by `jobId` to the journal of the table
  // folder `tableDir` (created when missing).
  static bool AppendToJournal(const std::string& tableDir, int64_t jobId,
                              const std::vector<SimMutation>& mutations, std::string& error);
  // The journal of a table folder; a folder without one gives none.
  static bool ReadJournal(const std::string& tableDir, std::vector<SimJournalEntry>& entries,
                          std::string& error);

  // Reads a point in time as Cassandra's commit-log settings write it,
  // "yyyy:MM:dd HH:mm:ss" in UTC (fields with or without leading zeros),
  // into milliseconds since 1970.
  static bool ParsePointInTime(const std::string& text, int64_t& millis);
  // Whether replaying up to `pointMillis` applies the mutation: its
  // timestamp, read at `precision` ("MICROSECONDS", the default, or
  // "MILLISECONDS") and cut to milliseconds, is not after the point.
  static bool UpToPoint(const SimMutation& mutation, int64_t pointMillis,
                        const std::string& precision);
};

}  // namespace TqSim
