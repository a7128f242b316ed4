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
class SimTableDir {
 public:
  // `format` is the SSTable format prefix: "mc" (3.x) or "nb" (4.x).
  SimTableDir(std::string path, std::string format)
      : path_(std::move(path)), format_(std::move(format)) {}

  const std::string& path() const { return path_; }

  // The SSTable format of a Cassandra version.
  static std::string FormatForVersion(const std::string& version);

  std::vector<SimSSTable> LiveSSTables() const;
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

  // Removes the live SSTables (snapshots and backups stay).
  bool RemoveLive(std::string& error) const;
  // Copies the SSTables found in `fromDir` in as new generations from
  // `firstGeneration` on; returns how many were imported.
  bool Import(const std::string& fromDir, int firstGeneration, int& imported,
              std::string& error) const;

 private:
  static std::vector<SimSSTable> SSTablesIn(const std::string& dir);

  std::string path_;
  std::string format_;
};

}  // namespace TqSim
