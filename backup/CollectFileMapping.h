#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace TQCassandra {

// The collect file mapping file of a backup job, "CollectFileMapping_<job
// id>" in the job results directory. One line per node:
//
//   <client id> <task number>:<state>|<task number>:<state>|...
//
// with state 0 for a pending task and -1 for a complete one. Lines are
// appended as nodes get their tasks; the whole file is rewritten when a task
// completes. The rewrite goes through a temporary file beside it that is then
// renamed over it, so the file is never seen half written.
class CollectFileMapping {
 public:
  static std::string FileName(int64_t jobId);
  static std::string Path(const std::string& directory, int64_t jobId);

  // One line, trimmed of blanks and tabs at both ends: a decimal client id, a
  // blank and the task status string. False for anything else.
  static bool ParseLine(const std::string& line, uint32_t& clientId, std::string& status);

  // The task number of the first entry of a task status string (5 of
  // "5:0|6:-1|"): its leading decimal digits as the C library reads them,
  // held to the range of int; 0 when there are none.
  static int FirstTaskNumber(const std::string& status);

  // The task numbers of a task status string's entries before its last "|",
  // in order, and in `complete` those whose state is -1 ({5, 6} and {6} for
  // "5:0|6:-1|"). An entry without a decimal number is passed over.
  static std::vector<int> TaskNumbers(const std::string& status,
                                      std::vector<int>* complete = nullptr);

  // Marks `taskNumber` complete in a task status string: every entry before
  // the last "|" whose number is `taskNumber` becomes "<number>:-1|"; other
  // entries, and any text after the last "|", stay as they are. False (and
  // `out` equal to `status`) when no entry has that number.
  static bool MarkComplete(const std::string& status, int taskNumber, std::string& out);

  // The file's lines without their line feeds. Error 774 "Failed to access
  // mapping file" when it cannot be read.
  static CQiError ReadLines(const std::string& path, std::vector<std::string>& lines);

  // Replaces the file with `lines`, each followed by a line feed: writes
  // "<path>.tmp", flushes it to disk and renames it over the file. Error 774
  // "Failed to open mapping file" when the temporary file cannot be made,
  // "Failed to write mapping file" when writing or renaming fails; the old
  // file is untouched in both cases.
  static CQiError Rewrite(const std::string& path, const std::vector<std::string>& lines);

  // Appends `line` and a line feed, creating the file when missing. Error 774
  // "Failed to open mapping file" or "Failed to write mapping file".
  static CQiError AppendLine(const std::string& path, const std::string& line);
};

}  // namespace TQCassandra
