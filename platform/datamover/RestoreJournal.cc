#include "platform/datamover/RestoreJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"

namespace TqDataMover {

namespace {

constexpr const char* kPlacedPrefix = "placed.";
constexpr const char* kJournalSuffix = ".journal";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A path a journal line can carry: absolute, one line.
bool Writable(const std::string& path) {
  return !path.empty() && path[0] == '/' && path.find_first_of("\n\r") == std::string::npos;
}

CQiError AppendDurably(int fd, const std::string& path, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to write the journal %s", path.c_str());
    }
    done += static_cast<size_t>(n);
  }
  if (fdatasync(fd) != 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to flush the journal %s", path.c_str());
  }
  return CQiError::Success();
}

bool ParseNumber(const std::string& text, uint64_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(text.c_str(), &end, 10);
  return errno == 0 && end != nullptr && *end == '\0';
}

void ReadOne(const std::string& path, CRestoreJournal::SContent& content) {
  std::ifstream in(path);
  std::string line;
  // A last line without its end was cut short: it is not read.
  while (std::getline(in, line)) {
    if (in.eof()) break;
    if (line.size() < 3 || line[1] != '\t') continue;
    const std::string rest = line.substr(2);
    switch (line[0]) {
      case 'T':
        if (Writable(rest)) content.folders.insert(rest);
        break;
      case 'L':
        if (Writable(rest)) content.loaded.insert(rest);
        break;
      case 'U':
        // Lines are read in the order written: a later "L" stands again.
        content.loaded.erase(rest);
        break;
      case 'P': {
        const size_t tab = rest.find('\t');
        if (tab == std::string::npos) break;
        std::vector<uint64_t> numbers;
        const std::string id = rest.substr(0, tab);
        bool readable = true;
        for (size_t at = 0; readable && at <= id.size();) {
          size_t colon = id.find(':', at);
          if (colon == std::string::npos) colon = id.size();
          uint64_t value = 0;
          readable = ParseNumber(id.substr(at, colon - at), value);
          numbers.push_back(value);
          at = colon + 1;
        }
        if (!readable || numbers.size() != 4) break;
        CRestoreJournal::SPlaced placed;
        placed.device = numbers[0];
        placed.inode = numbers[1];
        placed.size = numbers[2];
        placed.mtimeNs = numbers[3];
        placed.path = rest.substr(tab + 1);
        if (Writable(placed.path)) content.placed.push_back(placed);
        break;
      }
      default:
        break;
    }
  }
}

}  // namespace

std::string CRestoreJournal::PlacedName(int streamNumber) {
  return kPlacedPrefix + std::to_string(streamNumber) + kJournalSuffix;
}

CRestoreJournal::~CRestoreJournal() { Close(); }

void CRestoreJournal::Open(const std::string& folder, int streamNumber) {
  Close();
  folder_ = folder;
  path_ = FXPath::Join(folder, PlacedName(streamNumber));
}

void CRestoreJournal::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  path_.clear();
  notedFolders_.clear();
}

CQiError CRestoreJournal::Append(const std::string& text) {
  if (path_.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 6, "The restore journal is not open");
  if (fd_ < 0) {
    CQiError error = CQiDirectory::Create(folder_.c_str(), true);
    if (error.IsError()) return error.Push(FXLOC);
    fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      int err = errno;
      return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open the journal %s", path_.c_str());
    }
  }
  return AppendDurably(fd_, path_, text);
}

CQiError CRestoreJournal::NoteFolder(const std::string& folder) {
  if (notedFolders_.count(folder)) return CQiError::Success();
  if (!Writable(folder)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The folder [%s] cannot be journaled",
                                   folder.c_str());
  }
  CQiError error = Append("T\t" + folder + "\n");
  if (error.IsError()) return error.Push(FXLOC);
  notedFolders_.insert(folder);
  return CQiError::Success();
}

CQiError CRestoreJournal::NotePlaced(const std::vector<SPlaced>& files) {
  std::string text;
  for (const SPlaced& file : files) {
    if (!Writable(file.path)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "The file [%s] cannot be journaled",
                                     file.path.c_str());
    }
    text += "P\t" + std::to_string(file.device) + ":" + std::to_string(file.inode) + ":" +
            std::to_string(file.size) + ":" + std::to_string(file.mtimeNs) + "\t" + file.path +
            "\n";
  }
  if (text.empty()) return CQiError::Success();
  CQiError error = Append(text);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CRestoreJournal::NoteLoading(const std::string& folder, const std::string& dataDirectory) {
  return AppendLoading(folder, "L\t" + dataDirectory);
}

CQiError CRestoreJournal::NoteNotLoaded(const std::string& folder,
                                        const std::string& dataDirectory) {
  return AppendLoading(folder, "U\t" + dataDirectory);
}

CQiError CRestoreJournal::AppendLoading(const std::string& folder, const std::string& line) {
  const std::string dataDirectory = line.substr(2);
  if (!Writable(dataDirectory)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The data directory [%s] cannot be journaled",
                                   dataDirectory.c_str());
  }
  CQiError error = CQiDirectory::Create(folder.c_str(), true);
  if (error.IsError()) return error.Push(FXLOC);
  const std::string path = FXPath::Join(folder, kLoadingName);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) {
    int err = errno;
    return FXErrorUtil::ErrorErrNo(FXLOC, err, "Failed to open the journal %s", path.c_str());
  }
  error = AppendDurably(fd, path, line + "\n");
  close(fd);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

void CRestoreJournal::Read(const std::string& folder, SContent& content) {
  content = SContent();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) names.push_back(entry->d_name);
  closedir(dir);
  for (const std::string& name : names) {
    const bool placed = name.rfind(kPlacedPrefix, 0) == 0 && EndsWith(name, kJournalSuffix);
    if (placed || name == kLoadingName) ReadOne(FXPath::Join(folder, name), content);
  }
}

}  // namespace TqDataMover
