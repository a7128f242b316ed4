#include "tools/tqcass/LoggedErrors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>
#include <set>

#include "platform/log/LogWriter.h"
#include "tools/lib/ErrorText.h"

namespace TqCass {

namespace {

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The system's texts of the errors a file or a program may meet, as
// strerror gives them.
const std::vector<std::string>& SystemTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> all;
    for (int code :
         {EPERM,        ENOENT,    EIO,    ENXIO,  E2BIG,  ENOEXEC,      EBADF,     ENOMEM,
          EACCES,       EBUSY,     EEXIST, EXDEV,  ENODEV, ENOTDIR,      EISDIR,    EINVAL,
          EMFILE,       ENFILE,    EFBIG,  ENOSPC, ESPIPE, EROFS,        EMLINK,    EPIPE,
          ENAMETOOLONG, ENOTEMPTY, ELOOP,  EDQUOT, ESTALE, ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH}) {
      all.push_back(std::strerror(code));
    }
    return all;
  }();
  return texts;
}

// An error's text as one line without its code locations: a logged error
// lists them on lines of their own ("  at <function> (<file>:<line>)"), and
// what the message goes on with (a reply after the error) follows the last.
std::string WithoutLocations(const std::string& text) {
  static const std::regex kLocation(R"(\([^()]*:[0-9]+\))");
  std::string out;
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    if (line.rfind("  at ", 0) == 0) {
      std::smatch location;
      line = std::regex_search(line, location, kLocation) ? location.suffix().str() : "";
    } else if (!out.empty()) {
      out += ' ';
    }
    out += line;
    at = end + 1;
  }
  return out;
}

}  // namespace

CLoggedErrors::CLoggedErrors() {
  if (!g_ptrLogWriter) return;
  sink_ = g_ptrLogWriter->AddSink([this](const CLogWriter::Line& line) {
    if (line.level == 0) {
      // The restore coordinator's word on the truncation of the restored
      // tables (its idle pass).
      static const std::string kSkipped = "Not truncating tables as ";
      std::lock_guard<std::mutex> lock(mutex_);
      if (Has(line.text, "All nodes completed data restore. Truncating the tables")) {
        truncation_ = "done";
      } else if (line.text.rfind(kSkipped, 0) == 0 && truncation_.empty()) {
        truncation_ = "skipped: " + line.text.substr(kSkipped.size());
      }
      return;
    }
    if (line.level >= 0) return;
    std::string text = TqHarness::CErrorText::Readable(WithoutLocations(line.text));
    for (char& c : text) c = c == '\n' ? ' ' : c;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(text);
  });
}

CLoggedErrors::~CLoggedErrors() {
  if (g_ptrLogWriter && sink_ >= 0) g_ptrLogWriter->RemoveSink(sink_);
}

std::vector<std::string> CLoggedErrors::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::string CLoggedErrors::Truncation() {
  std::lock_guard<std::mutex> lock(mutex_);
  return truncation_;
}

std::vector<std::string> CLoggedErrors::Causes() {
  std::vector<std::string> causes;
  std::set<std::string> seen;
  for (const std::string& line : Lines()) {
    if (!ExplainsFailure(line)) continue;
    // One line per reason: a stream that retries an item, and the task that
    // then fails, log the same reason after their own words.
    const size_t colon = line.find(": ");
    if (seen.insert(colon == std::string::npos ? line : line.substr(colon + 2)).second) {
      causes.push_back(line);
    }
  }
  return causes;
}

bool CLoggedErrors::ExplainsFailure(const std::string& line) {
  for (const std::string& text : SystemTexts()) {
    if (Has(line, text.c_str())) return true;
  }
  for (const char* part : {"checksum", "SHA-256", "failed to restore", "Failed to restore",
                           "could not start", "Cannot start", "cannot start"}) {
    if (Has(line, part)) return true;
  }
  return false;
}

}  // namespace TqCass
