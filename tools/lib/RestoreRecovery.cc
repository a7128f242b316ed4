#include "tools/lib/RestoreRecovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "platform/log/LogWriter.h"

namespace TqHarness {

namespace fs = std::filesystem;

namespace {

// An absolute path without "." or ".." components and without a trailing
// "/": the journal's own shape; anything else is not trusted.
bool IsPlainAbsolute(const std::string& path) {
  if (path.size() < 2 || path[0] != '/' || path.back() == '/') return false;
  for (const auto& part : fs::path(path).relative_path()) {
    const std::string name = part.string();
    if (name.empty() || name == "." || name == "..") return false;
  }
  return true;
}

// Whether `path` lies below `folder` (by whole components).
bool IsBelow(const std::string& path, const std::string& folder) {
  if (!IsPlainAbsolute(folder)) return false;
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

}  // namespace

bool CRestoreRecovery::IsTemporary(const std::string& name) {
  // ".<name>.tqrestore-XXXXXX"
  const std::string mark = ".tqrestore-";
  const size_t at = name.rfind(mark);
  return name.size() > 1 && name[0] == '.' && at != std::string::npos && at > 1 &&
         name.size() == at + mark.size() + 6;
}

void CRestoreRecovery::Recover(const std::vector<std::string>& jobFolders, SRemoved& removed) {
  // The journals lie in the restore result folders somewhere below.
  std::set<std::string> folders;
  for (const std::string& jobFolder : jobFolders) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(jobFolder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      const std::string name = it->path().filename().string();
      const bool journal = name == TqDataMover::CRestoreJournal::kLoadingName ||
                           (name.rfind("placed.", 0) == 0 && name.size() > 8 &&
                            name.compare(name.size() - 8, 8, ".journal") == 0);
      std::error_code e;
      if (journal && it->symlink_status(e).type() == fs::file_type::regular) {
        folders.insert(it->path().parent_path().string());
      }
    }
  }
  TqDataMover::CRestoreJournal::SContent all;
  std::vector<std::string> unsettled;
  for (const std::string& folder : folders) {
    TqDataMover::CRestoreJournal::SContent one;
    TqDataMover::CRestoreJournal::Read(folder, one);
    all.loaded.insert(one.loaded.begin(), one.loaded.end());
    std::error_code ec;
    if (fs::symlink_status(fs::path(folder) / kSettledName, ec).type() == fs::file_type::regular) {
      continue;
    }
    unsettled.push_back(folder);
    all.folders.insert(one.folders.begin(), one.folders.end());
    all.placed.insert(all.placed.end(), one.placed.begin(), one.placed.end());
  }
  if (unsettled.empty()) return;
  const int notRemoved = removed.notRemoved;
  Recover(all, removed);
  // A file that could not be removed is tried again by the next run.
  if (removed.notRemoved != notRemoved) return;
  for (const std::string& folder : unsettled) {
    const std::string mark = (fs::path(folder) / kSettledName).string();
    const int fd =
        ::open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      TQLOG(-1, "The restore journals in %s could not be marked settled", folder.c_str());
      continue;
    }
    ::close(fd);
  }
}

void CRestoreRecovery::Recover(const TqDataMover::CRestoreJournal::SContent& journal,
                               SRemoved& removed) {
  if (journal.Empty()) return;
  for (const std::string& tableFolder : journal.folders) {
    std::error_code ec;
    if (!IsPlainAbsolute(tableFolder) ||
        fs::symlink_status(tableFolder, ec).type() != fs::file_type::directory) {
      continue;
    }
    for (const auto& entry : fs::directory_iterator(tableFolder, ec)) {
      std::error_code e;
      if (!IsTemporary(entry.path().filename().string()) ||
          entry.symlink_status(e).type() != fs::file_type::regular) {
        continue;
      }
      if (fs::remove(entry.path(), e)) {
        ++removed.temporaries;
      } else if (e) {
        ++removed.notRemoved;
      }
    }
  }
  for (const auto& placed : journal.placed) {
    if (!IsPlainAbsolute(placed.path)) continue;
    bool loaded = false;
    for (const std::string& directory : journal.loaded) loaded |= IsBelow(placed.path, directory);
    if (loaded) continue;
    struct stat st {};
    if (lstat(placed.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_dev) != placed.device ||
        static_cast<uint64_t>(st.st_ino) != placed.inode ||
        static_cast<uint64_t>(st.st_size) != placed.size ||
        static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                static_cast<uint64_t>(st.st_mtim.tv_nsec) !=
            placed.mtimeNs) {
      continue;
    }
    if (unlink(placed.path.c_str()) == 0) {
      ++removed.placed;
    } else {
      ++removed.notRemoved;
      TQLOG(-1, "%s, placed by an interrupted restore and never loaded, could not be removed",
            placed.path.c_str());
    }
  }
}

}  // namespace TqHarness
