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

PauseFigures RestorePauses::InText(const std::string& text) {
  PauseFigures figures;
  std::vector<LogLine> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    LogLine parsed;
    if (ParseLine(line, parsed)) lines.push_back(parsed);
  }
  std::vector<long> starts;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].text.find(kPauseMark) == std::string::npos) continue;
    // The pause starts once the ownership change (the chown command's
    // lines, when its thread logs them) has ended.
    long start = lines[i].stamp;
    for (size_t j = i + 1; j < lines.size(); ++j) {
      if (lines[j].thread != lines[i].thread) continue;
      if (lines[j].text.find(kChownMark) != std::string::npos) {
        start = lines[j].stamp;
        continue;
      }
      const int gap = static_cast<int>(lines[j].stamp - start);
      figures.minGap = figures.minGap < 0 ? gap : std::min(figures.minGap, gap);
      figures.maxGap = std::max(figures.maxGap, gap);
      break;
    }
    starts.push_back(start);
  }
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

PauseFigures RestorePauses::InLog(const std::string& path, uint64_t offset) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return PauseFigures();
  in.seekg(static_cast<std::streamoff>(offset));
  std::ostringstream text;
  text << in.rdbuf();
  return InText(text.str());
}

}  // namespace TqBench
