#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>

#include "platform/base/QiError.h"
#include "platform/datamover/CompactPathSet.h"

namespace TqDataMover {

// What the restores of this process have placed, shared by every stream:
//
// - the name under which each file of a Cassandra table folder is written.
//   A file already in the folder is never overwritten: Cassandra keeps
//   serving its live SSTables until the restore truncates and refreshes the
//   table, and a truncation removes live SSTables by name. So an SSTable
//   whose generation is taken in the folder (by any file there, or by a
//   generation given out before) is written under a fresh generation that no
//   file of the folder uses, and every component of that SSTable, whichever
//   stream brings it, gets the same one. The snapshot's own records
//   (manifest.json, schema.cql), which Cassandra never reads from a table
//   folder, replace the copies an earlier restore left there; any other file
//   whose name is taken is refused (error 80).
// - which items a restore job has already placed, so that a task handed to
//   another stream after a failure does not place (and list) them twice.
class CRestoreTargets {
 public:
  static CRestoreTargets& Instance();

  // The name under which `name` is written in the table folder `folder` by
  // job `jobId`. `source` names the backed-up folder the file came from:
  // SSTables of one generation from different sources (two nodes staged into
  // one folder) are different SSTables and never share a name.
  CQiError ClaimTableFile(int64_t jobId, const std::string& folder, const std::string& name,
                          std::string& finalName, const std::string& source = "");
  // Whether a restored file named `name` replaces a file of that name in a
  // table folder: the snapshot's records, never an SSTable.
  static bool ReplacesEarlierCopy(const std::string& name);
  // The file `path` was written by job `jobId` (it may replace it again).
  void MarkWritten(int64_t jobId, const std::string& path);
  bool WrittenBy(int64_t jobId, const std::string& path) const;

  // Items by a key of the caller's (header path and archive file).
  bool IsPlaced(int64_t jobId, const std::string& item) const;
  void MarkPlaced(int64_t jobId, const std::string& item);

  // Forgets everything of the job (its phase has ended).
  void ForgetJob(int64_t jobId);

 private:
  CRestoreTargets() = default;
  bool WrittenLocked(int64_t jobId, const std::string& path) const;

  mutable std::mutex mutex_;
  // (job, folder, source folder, generation in the backup) -> generation written
  std::map<std::tuple<int64_t, std::string, std::string, int64_t>, int64_t> generations_;
  // folder -> generations given out (job, generation)
  std::map<std::string, std::set<std::pair<int64_t, int64_t>>> claimed_;
  // Per job: the files written and the items placed, one member per file,
  // so held compactly.
  std::map<int64_t, CCompactPathSet> written_;
  std::map<int64_t, CCompactPathSet> placed_;
};

}  // namespace TqDataMover
