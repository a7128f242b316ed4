#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/runner/RunnerTypes.h"

namespace TqRunner {

// The suite's record of each job: one JSON file per job, "<job id>.json", in
// the job records folder (<suite home>/Jobs unless another is given), where a
// later process (a restore, the command-line front end) reads it back. The
// file holds the JobResult: the job's status and attempt, each phase with its
// status, end reason, nodes and tasks, the events and pending causes, the
// reference time and the restart entries. A file is replaced whole (written
// beside it, then renamed), so a reader never sees half a record. The job's
// row in the index catalog's jobs table (identity, kind, level, times and
// status) is kept by CJobRunner beside it.
class CJobRecordStore {
 public:
  explicit CJobRecordStore(const std::string& directory = "");

  const std::string& GetDirectory() const { return directory_; }
  std::string PathOf(int64_t jobId) const;

  CQiError Write(const JobResult& result) const;
  // Error 2 when the job has no record, 13 when the record cannot be read.
  CQiError Read(int64_t jobId, JobResult& result) const;
  // A job's description (RunnerTypes.h), "<job id>.description.json" beside
  // the job's record, replaced whole. Written before the job runs, read by
  // the job's processes (EvTask, EvRstTask, TQRstJobClient).
  CQiError WriteDescription(const JobDescription& description) const;
  // Error 2 when the job has no description, 13 when it cannot be read.
  CQiError ReadDescription(int64_t jobId, JobDescription& description) const;
  std::string DescriptionPathOf(int64_t jobId) const;
  // The job ids that have a record, ascending.
  std::vector<int64_t> List() const;

 private:
  std::string directory_;
};

}  // namespace TqRunner
