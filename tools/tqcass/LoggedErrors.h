#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace TqCass {

// What the job's processes logged while a job ran, kept beside the log file:
// where the plug-in gives a reason only in its log (a file it could not
// write, a program it could not start), a failed job shows it from here.
// Error lines are kept in words (CErrorText::Readable, one line each); the
// restore coordinator's truncation milestones are kept as well, so that a
// restore records whether its tables were truncated.
class CLoggedErrors {
 public:
  CLoggedErrors();
  ~CLoggedErrors();
  CLoggedErrors(const CLoggedErrors&) = delete;
  CLoggedErrors& operator=(const CLoggedErrors&) = delete;

  // Every error line, in the order logged.
  std::vector<std::string> Lines();
  // The error lines that explain a failure (ExplainsFailure), in the order
  // logged, one for each reason (the text after a line's first ": ").
  std::vector<std::string> Causes();
  // "done" when the restored tables were truncated, "skipped: <why>" when
  // they were to be and were not, "" when the job never got that far.
  std::string Truncation();

  // Whether an error line says what failed and why: the system's text of an
  // error ("Permission denied", "No space left on device"), a checksum that
  // does not match, an item that could not be restored or a program that
  // could not start.
  static bool ExplainsFailure(const std::string& line);

 private:
  int sink_ = -1;
  std::mutex mutex_;
  std::vector<std::string> lines_;
  std::string truncation_;
};

}  // namespace TqCass
