#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TqSim {

// One SSTable: a generation and its component files.
struct SimSSTable {
  int generation = 0;
  std::string prefix;                   // "mc-3-big"
  std::vector<std::string> components;  // file names, "mc-3-big-Data.db" first
};

// A table directory as Cassandra lays it out,
// <data dir>/<keyspace>/<table>-<id without dashes>/, holding the live
// SSTables, snapshots/<name>/ and backups/.
//
// Cassandra serves only the SSTables it has loaded: files merely placed in
// the directory (by a restore, say) are not live until a refresh or a
// start. The live set is kept in the directory's record file ".tqsim-live"
// (one SSTable prefix a line); a directory without one counts every SSTable
// in it as live.
class SimTableDir {
 public:
  // `format` is the SSTable format prefix: "mc" (3.x) or "nb" (4.x).
  SimTableDir(std::string path, std::string format)
      : path_(std::move(path)), format_(std::move(format)) {}

  const std::string& path() const { return path_; }

  // The SSTable format of a Cassandra version.
  static std::string FormatForVersion(const std::string& version);

  static constexpr const char* kLiveRecord = ".tqsim-live";

  // The SSTables Cassandra serves from the directory.
  std::vector<SimSSTable> LiveSSTables() const;
  // SSTables in the directory that are not live (placed there since the
  // last refresh or start).
  std::vector<SimSSTable> PlacedSSTables() const;
  // Starts an empty live record (a new table: nothing placed is live yet).
  bool StartLiveRecord(std::string& error) const;
  // A refresh or a start: every SSTable in the directory becomes live.
  bool MakeAllLive(std::string& error) const;
  // The highest generation among the live and the backed-up SSTables.
  int HighestGeneration() const;

  // Writes SSTable `generation`: a Data.db of `dataSize` bytes and the small
  // components, all contents depending only on `seed`.
  bool WriteSSTable(int generation, uint64_t dataSize, uint64_t seed, SimSSTable& written,
                    std::string& error) const;
  // Hard-links the SSTable's components into backups/.
  bool LinkIntoBackups(const SimSSTable& sstable, std::string& error) const;

  bool HasSnapshot(const std::string& name) const;
  std::vector<std::string> Snapshots() const;
  // Hard-links every live component into snapshots/<name>/ and writes
  // manifest.json and schema.cql there.
  bool Snapshot(const std::string& name, const std::string& schema, std::string& error) const;
  // Snapshots one table spread over several data directories as Cassandra
  // does: each directory hard-links its own live components into
  // snapshots/<name>/, and only the first directory gets manifest.json
  // (listing the Data.db of every directory) and schema.cql.
  static bool SnapshotTable(const std::vector<SimTableDir>& dirs, const std::string& name,
                            const std::string& schema, std::string& error);
  bool ClearSnapshot(const std::string& name, std::string& error) const;

  // Removes the live SSTables by name (snapshots, backups and placed files
  // stay); nothing is live afterwards.
  bool RemoveLive(std::string& error) const;
  // Copies the SSTables found in `fromDir` in as new live generations from
  // `firstGeneration` on (never below one in use); returns how many were
  // imported.
  bool Import(const std::string& fromDir, int firstGeneration, int& imported,
              std::string& error) const;

 private:
  static std::vector<SimSSTable> SSTablesIn(const std::string& dir);
  // The prefixes of the live record; false when the directory has none.
  bool ReadLiveRecord(std::vector<std::string>& prefixes) const;
  bool WriteLiveRecord(const std::vector<std::string>& prefixes, std::string& error) const;
  // Adds prefixes to the live set as it stands.
  bool AddLive(const std::vector<std::string>& prefixes, std::string& error) const;

  std::string path_;
  std::string format_;
};

}  // namespace TqSim
