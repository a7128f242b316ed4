#include "sim/lib/SimCommitLog.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "sim/lib/SimFiles.h"

namespace TqSim {

namespace {

bool Digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string SimCommitLog::MutationLine(const SimMutation& m) {
  return std::to_string(m.timestampMicros) + " " + m.table + " " + m.value;
}

bool SimCommitLog::ParseMutationLine(const std::string& line, SimMutation& m) {
  std::istringstream in(line);
  std::string time, table, value, rest;
  if (!(in >> time >> table >> value) || (in >> rest)) return false;
  std::string digits = time.size() > 1 && time[0] == '-' ? time.substr(1) : time;
  if (!Digits(digits) || digits.size() > 18) return false;
  const size_t dot = table.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == table.size()) return false;
  m.timestampMicros = std::stoll(time);
  m.table = table;
  m.value = value;
  return true;
}

std::string SimCommitLog::SegmentText(const std::vector<SimMutation>& mutations) {
  std::string text = std::string(kHeader) + "\n";
  for (const SimMutation& m : mutations) text += MutationLine(m) + "\n";
  return text;
}

bool SimCommitLog::WriteSegment(const std::string& path, const std::vector<SimMutation>& mutations,
                                std::string& error) {
  const std::string temp = JoinPath(ParentPath(path), "." + BaseName(path) + ".tmp");
  if (!WriteTextFile(temp, SegmentText(mutations), error)) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = "Cannot rename " + temp + " to " + path;
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool SimCommitLog::ReadSegment(const std::string& path, std::vector<SimMutation>& mutations,
                               std::string& error) {
  mutations.clear();
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  if (ParseSegment(text, mutations, error)) return true;
  error = path + error;
  return false;
}

bool SimCommitLog::ParseSegment(const std::string& text, std::vector<SimMutation>& mutations,
                                std::string& error) {
  mutations.clear();
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) {
    error = " is no commit-log segment";
    return false;
  }
  int number = 1;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    SimMutation m;
    if (!ParseMutationLine(line, m)) {
      error = ":" + std::to_string(number) + " is no mutation";
      return false;
    }
    mutations.push_back(m);
  }
  return true;
}

bool SimCommitLog::SegmentId(const std::string& name, uint64_t& id) {
  const std::string prefix = "CommitLog-";
  const std::string suffix = ".log";
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::string middle =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const size_t dash = middle.find('-');
  if (dash == std::string::npos || !Digits(middle.substr(0, dash))) return false;
  const std::string number = middle.substr(dash + 1);
  if (!Digits(number) || number.size() > 19) return false;
  id = std::stoull(number);
  return true;
}

bool SimCommitLog::ArchiveSegment(const std::string& archiveDir, const std::string& commitLogDir,
                                  int version, const std::vector<SimMutation>& mutations,
                                  std::string& path, std::string& error) {
  // Segment ids never repeat: a segment archived earlier may have been
  // backed up and removed since, so the id is also at least the time in
  // milliseconds, as Cassandra takes its ids from the clock.
  uint64_t next = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
  for (const std::string& dir : {archiveDir, commitLogDir}) {
    for (const std::string& name : ListDir(dir)) {
      uint64_t id = 0;
      if (SegmentId(name, id) && id >= next) next = id + 1;
    }
  }
  if (!MakeDirs(archiveDir, error)) return false;
  path = JoinPath(archiveDir,
                  "CommitLog-" + std::to_string(version) + "-" + std::to_string(next) + ".log");
  return WriteSegment(path, mutations, error);
}

bool SimCommitLog::AppendToJournal(const std::string& tableDir, int64_t jobId,
                                   const std::vector<SimMutation>& mutations, std::string& error) {
  if (!MakeDirs(tableDir, error)) return false;
  const std::string path = JoinPath(tableDir, kJournalFile);
  std::ofstream out(path, std::ios::binary | std::ios::app);
  for (const SimMutation& m : mutations) out << jobId << ' ' << MutationLine(m) << '\n';
  out.flush();
  if (!out) {
    error = "Cannot append to " + path;
    return false;
  }
  return true;
}

bool SimCommitLog::ReadJournal(const std::string& tableDir, std::vector<SimJournalEntry>& entries,
                               std::string& error) {
  entries.clear();
  const std::string path = JoinPath(tableDir, kJournalFile);
  if (!IsFile(path)) return true;
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const size_t blank = line.find(' ');
    SimJournalEntry entry;
    const std::string job = line.substr(0, blank);
    if (blank == std::string::npos || !Digits(job) || job.size() > 18 ||
        !ParseMutationLine(line.substr(blank + 1), entry.mutation)) {
      error = path + " holds a line that is no replayed mutation: " + line;
      return false;
    }
    entry.jobId = std::stoll(job);
    entries.push_back(entry);
  }
  return true;
}

bool SimCommitLog::ParsePointInTime(const std::string& text, int64_t& millis) {
  const size_t blank = text.find(' ');
  if (blank == std::string::npos) return false;
  auto fields = [](const std::string& part, int out[3]) {
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      const size_t end = i < 2 ? part.find(':', start) : part.size();
      if (end == std::string::npos) return false;
      const std::string field = part.substr(start, end - start);
      if (!Digits(field) || field.size() > 4) return false;
      out[i] = std::stoi(field);
      start = end + 1;
    }
    return true;
  };
  int date[3], time[3];
  if (!fields(text.substr(0, blank), date) || !fields(text.substr(blank + 1), time)) return false;
  if (date[1] < 1 || date[1] > 12 || date[2] < 1 || date[2] > 31 || time[0] > 23 || time[1] > 59 ||
      time[2] > 59) {
    return false;
  }
  struct tm t {};
  t.tm_year = date[0] - 1900;
  t.tm_mon = date[1] - 1;
  t.tm_mday = date[2];
  t.tm_hour = time[0];
  t.tm_min = time[1];
  t.tm_sec = time[2];
  const time_t seconds = ::timegm(&t);
  // A day the month does not have (31 April) moves to another date.
  if (t.tm_mday != date[2]) return false;
  millis = static_cast<int64_t>(seconds) * 1000;
  return true;
}

bool SimCommitLog::UpToPoint(const SimMutation& m, int64_t pointMillis,
                             const std::string& precision) {
  int64_t millis = m.timestampMicros;
  if (precision != "MILLISECONDS") {
    // Whole milliseconds, rounded down also before 1970.
    millis = m.timestampMicros / 1000 - (m.timestampMicros % 1000 < 0 ? 1 : 0);
  }
  return millis <= pointMillis;
}

}  // namespace TqSim
