#include "backup/CollectFileMapping.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXString.h"

namespace TQCassandra {

namespace {

// Writes all of `text`.
bool WriteAll(int fd, const std::string& text) {
  return !FXFile::TQWriteFile(fd, text.data(), text.size()).IsError();
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string CollectFileMapping::FileName(int64_t jobId) {
  return FXString::Format("CollectFileMapping_%lld", static_cast<long long>(jobId));
}

std::string CollectFileMapping::Path(const std::string& directory, int64_t jobId) {
  if (directory.empty()) return FileName(jobId);
  if (directory.back() == '/') return directory + FileName(jobId);
  return directory + "/" + FileName(jobId);
}

bool CollectFileMapping::ParseLine(const std::string& line, uint32_t& clientId,
                                   std::string& status) {
  std::string trimmed = line;
  FXString::TrimWhiteSpace(trimmed);
  std::vector<std::string> parts;
  FXString::Split(trimmed, " ", parts);
  long long id = 0;
  if (parts.size() != 2 || !FXString::ParseDecimal(parts[0], 0, UINT32_MAX, id)) return false;
  clientId = static_cast<uint32_t>(id);
  status = parts[1];
  return true;
}

int CollectFileMapping::FirstTaskNumber(const std::string& status) {
  const long long value = std::strtoll(status.c_str(), nullptr, 10);
  return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)));
}

std::vector<int> CollectFileMapping::TaskNumbers(const std::string& status,
                                                 std::vector<int>* complete) {
  std::vector<int> numbers;
  if (complete) complete->clear();
  const size_t lastBar = status.rfind('|');
  if (lastBar == std::string::npos) return numbers;
  std::vector<std::string> pieces;
  FXString::Split(status.substr(0, lastBar), "|", pieces);
  for (const std::string& piece : pieces) {
    const size_t colon = piece.find(':');
    const std::string number = piece.substr(0, colon);
    long long value = 0;
    if (!FXString::ParseDecimal(number, INT_MIN, INT_MAX, value)) continue;
    numbers.push_back(static_cast<int>(value));
    if (complete && colon != std::string::npos && piece.substr(colon + 1) == "-1") {
      complete->push_back(static_cast<int>(value));
    }
  }
  return numbers;
}

bool CollectFileMapping::MarkComplete(const std::string& status, int taskNumber, std::string& out) {
  size_t lastBar = status.rfind('|');
  if (lastBar == std::string::npos) {
    out = status;
    return false;
  }
  std::vector<std::string> pieces;
  FXString::Split(status.substr(0, lastBar), "|", pieces);
  bool found = false;
  std::string rebuilt;
  for (const std::string& piece : pieces) {
    size_t colon = piece.find(':');
    long long number = 0;
    if (colon != std::string::npos &&
        FXString::ParseDecimal(piece.substr(0, colon), INT_MIN, INT_MAX, number) &&
        number == taskNumber) {
      rebuilt += std::to_string(taskNumber) + ":-1|";
      found = true;
    } else {
      rebuilt += piece + "|";
    }
  }
  rebuilt += status.substr(lastBar + 1);
  out = found ? rebuilt : status;
  return found;
}

CQiError CollectFileMapping::ReadLines(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in.good()) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to access mapping file");
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  if (in.bad()) {
    lines.clear();
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to access mapping file");
  }
  return CQiError::Success();
}

CQiError CollectFileMapping::Rewrite(const std::string& path,
                                     const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";

  const std::string temporary = path + ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to open mapping file");
  bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  if (::close(fd) != 0) written = false;
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to write mapping file");
  }
  // Make the rename itself durable; the file is already complete either way.
  int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return CQiError::Success();
}

CQiError CollectFileMapping::AppendLine(const std::string& path, const std::string& line) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to open mapping file");
  bool written = WriteAll(fd, line + "\n");
  if (::close(fd) != 0) written = false;
  if (!written) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to write mapping file");
  return CQiError::Success();
}

}  // namespace TQCassandra
