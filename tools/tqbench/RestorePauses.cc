#include "tools/tqbench/RestorePauses.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace TqBench {

namespace {

const char* const kPauseMark = "Changing permissions";
// The lines of the ownership change's command.
const char* const kChownMark = "chown ";

struct LogLine {
  std::string thread;  // "<pid> <thread>"
  long stamp = 0;      // seconds from the start of a 31-day month 0
  std::string text;
};

// False for a line not in the writer's format.
bool ParseLine(const std::string& line, LogLine& out) {
  std::istringstream in(line);
  std::string pid, thread, date, time;
  if (!(in >> pid >> thread >> date >> time)) return false;
  int month = 0, day = 0, hours = 0, minutes = 0, seconds = 0;
  char a = 0, b = 0, c = 0;
  std::istringstream d(date), t(time);
  if (!(d >> month >> a >> day) || a != '/' || !(t >> hours >> b >> minutes >> c >> seconds) ||
      b != ':' || c != ':') {
    return false;
  }
  out.thread = pid + " " + thread;
  out.stamp = (((month * 31L + day) * 24 + hours) * 60 + minutes) * 60 + seconds;
  std::getline(in, out.text);
  return true;
}

}  // namespace

// Reads the log line by line, keeping only the pauses' starts and the
// threads with a pause whose start is not settled yet: the log of a restore
// runs to hundreds of thousands of lines, and the memory of the process
// that reads it would show in the peak of every process it starts later.
PauseFigures RestorePauses::InStream(std::istream& in) {
  PauseFigures figures;
  std::vector<long> starts;
  std::map<std::string, long> open;  // thread -> start of its pause so far
  for (std::string text; std::getline(in, text);) {
    LogLine line;
    if (!ParseLine(text, line)) continue;
    auto pending = open.find(line.thread);
    if (pending != open.end()) {
      // The pause starts once the ownership change (the chown command's
      // lines, when its thread logs them) has ended.
      if (line.text.find(kChownMark) != std::string::npos) {
        pending->second = line.stamp;
        continue;
      }
      const int gap = static_cast<int>(line.stamp - pending->second);
      figures.minGap = figures.minGap < 0 ? gap : std::min(figures.minGap, gap);
      figures.maxGap = std::max(figures.maxGap, gap);
      starts.push_back(pending->second);
      open.erase(pending);
    }
    if (line.text.find(kPauseMark) != std::string::npos) open[line.thread] = line.stamp;
  }
  for (const auto& pending : open) starts.push_back(pending.second);
  std::sort(starts.begin(), starts.end());
  // Pauses that start within the log's resolution of a wave's first start
  // together; the waves' pauses count as far as they do not overlap.
  std::vector<long> waves;
  for (long start : starts) {
    if (waves.empty() || start > waves.back() + 1) waves.push_back(start);
  }
  for (size_t i = 0; i < waves.size(); ++i) {
    const long until = i + 1 < waves.size()
                           ? std::min(waves[i + 1], waves[i] + kOwnershipPauseSeconds)
                           : waves[i] + kOwnershipPauseSeconds;
    figures.seconds += static_cast<double>(until - waves[i]);
  }
  figures.pauses = static_cast<int>(starts.size());
  figures.waves = static_cast<int>(waves.size());
  return figures;
}

PauseFigures RestorePauses::InText(const std::string& text) {
  std::istringstream in(text);
  return InStream(in);
}

PauseFigures RestorePauses::InLog(const std::string& path, uint64_t offset) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return PauseFigures();
  in.seekg(static_cast<std::streamoff>(offset));
  return InStream(in);
}

}  // namespace TqBench
