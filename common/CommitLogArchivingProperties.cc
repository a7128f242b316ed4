#include "common/CommitLogArchivingProperties.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "common/ConfigFileLines.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"

namespace TQCassandra {

namespace {

bool IsKeyLine(const std::string& content, const std::string& key) {
  return content.size() > key.size() && content.compare(0, key.size(), key) == 0 &&
         content[key.size()] == '=';
}

}  // namespace

bool CommitLogArchivingProperties::FindKey(const std::string& text, const std::string& key,
                                           std::string& value) {
  for (const ConfigFileLines::Line& line : ConfigFileLines::Split(text)) {
    if (IsKeyLine(line.content, key)) {
      value = line.content.substr(key.size() + 1);
      return true;
    }
  }
  return false;
}

std::string CommitLogArchivingProperties::UpdateKey(const std::string& text, const std::string& key,
                                                    const std::string& value) {
  bool found = false;
  const std::string updated = ConfigFileLines::ReplaceLines(
      text, [&key](const std::string& content) { return IsKeyLine(content, key); },
      key + "=" + value, found);
  if (!found) return text + "\n\n" + key + "=" + value;
  return updated;
}

CQiError CommitLogArchivingProperties::Rewrite(const std::string& path, const std::string& text,
                                               RewriteStep& step) {
  step = kRewriteOpen;
  // The file itself, not a link to it, is replaced.
  std::string target = path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) target = resolved;
  mode_t mode = 0644;
  struct stat st;
  const bool existed = ::stat(target.c_str(), &st) == 0;
  if (existed) mode = st.st_mode & 07777;

  std::string temporary = target + ".tqtmp-XXXXXX";
  int fd = ::mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to create %s", temporary.c_str());
  }
  step = kRewriteWrite;
  CQiError error;
  if (::fchmod(fd, mode) != 0) {
    error =
        FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to set the mode of %s", temporary.c_str());
  }
  // The new file keeps the old one's owner and group (Cassandra's user
  // reads it), not the ones of whoever rewrites it.
  if (!error.IsError() && existed && (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
      ::fchown(fd, st.st_uid, st.st_gid) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to give %s the owner of %s",
                                    temporary.c_str(), target.c_str());
  }
  // fchown may clear set-id bits: the mode goes on again after it.
  if (!error.IsError() && existed && ::fchmod(fd, mode) != 0) {
    error =
        FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to set the mode of %s", temporary.c_str());
  }
  if (!error.IsError()) error = FXFile::TQWriteFile(fd, text.data(), text.size());
  if (!error.IsError() && ::fsync(fd) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to sync %s", temporary.c_str());
  }
  if (::close(fd) != 0 && !error.IsError()) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to close %s", temporary.c_str());
  }
  if (!error.IsError() && ::rename(temporary.c_str(), target.c_str()) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to rename %s to %s", temporary.c_str(),
                                    target.c_str());
  }
  if (error.IsError()) {
    ::unlink(temporary.c_str());
    return error;
  }
  // Makes the rename itself durable; a directory that cannot be synced
  // leaves the new file in place all the same.
  const size_t slash = target.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
