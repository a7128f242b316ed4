#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace TqBench {

// The fixed pauses a restore job keeps, as its log shows them. After the
// ownership change of its restored files, each node's restore controller
// pauses 5 s (in place and with the loader; a staged restore starts no
// Priam and does not). The log line before it, "Changing permissions"
// (level 2), and the chown command's lines after it in its thread, mark
// each pause's start. The nodes finish in parallel: pauses that start within
// a second of each other (the log's stamps are whole seconds) form one wave
// and count once, and overlapping waves count as far as they do not overlap.
// Pauses after a Priam stop or start (nCassandraSleepTime) only come with a
// token takeover, which these restores do not make.
struct PauseFigures {
  int pauses = 0;      // pauses started
  int waves = 0;       // of pauses starting together
  double seconds = 0;  // the time covered by the waves' pauses
  // Whole seconds from a pause's start to its thread's next line, the
  // smallest and the largest (the log's stamps are whole seconds); -1 when
  // no pause was followed by a line of its thread.
  int minGap = -1;
  int maxGap = -1;
};

class RestorePauses {
 public:
  // The restore's pause after the ownership change.
  static constexpr int kOwnershipPauseSeconds = 5;
  // The log level that writes the line marking each pause.
  static constexpr int kLogLevel = 2;

  // Log lines as CLogWriter writes them:
  // "<pid> <thread> <MM/DD> <HH:MM:SS> <level> <function>:<line> <text>".
  static PauseFigures InText(const std::string& text);
  // The log file's lines from `offset` on.
  static PauseFigures InLog(const std::string& path, uint64_t offset);

 private:
  static PauseFigures InStream(std::istream& in);
};

}  // namespace TqBench
