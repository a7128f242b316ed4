// Durable ".bkp" copies of a node's commit-log restore settings files.

#include "logrestore/CommitLogSettingsCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/CassandraEnvFile.h"
#include "common/CommitLogArchivingProperties.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/log/LogWriter.h"

namespace TQCassandra {

namespace {

// The file name of `path`.
std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool CCommitLogSettingsCopy::HoldsRestoreSettings(const std::string& fileName,
                                                  const std::string& text) {
  if (fileName == CassandraEnvFile::kFileName) {
    const std::string prefix = CassandraEnvFile::kReplayListPrefix;
    for (size_t at = 0; at < text.size();) {
      if (text.compare(at, prefix.size(), prefix) == 0) return true;
      const size_t end = text.find('\n', at);
      if (end == std::string::npos) break;
      at = end + 1;
    }
    return false;
  }
  for (const char* key : {"restore_directories", "restore_point_in_time"}) {
    std::string value;
    if (CommitLogArchivingProperties::FindKey(text, key, value) &&
        value.find_first_not_of(" \t\r") != std::string::npos) {
      return true;
    }
  }
  return false;
}

CQiError CCommitLogSettingsCopy::Keep(const std::string& path, const std::string& text) {
  const std::string copy = path + ".bkp";
  struct stat st;
  if (::lstat(copy.c_str(), &st) == 0 && HoldsRestoreSettings(BaseName(path), text)) {
    TQLOG(0, "Keeping %s: it is the original of %s, which holds restore settings", copy.c_str(),
          path.c_str());
    return CQiError::Success();
  }
  if (::stat(path.c_str(), &st) != 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to read the status of %s", path.c_str());
  }
  std::string temporary = FolderOf(copy) + "/." + BaseName(copy) + ".tqtmp-XXXXXX";
  const int fd = ::mkostemp(&temporary[0], O_CLOEXEC);
  if (fd < 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to create %s", temporary.c_str());
  }
  CQiError error;
  // The copy keeps the owner and group Cassandra's user reads it with.
  if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
      ::fchown(fd, st.st_uid, st.st_gid) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to give %s the owner of %s",
                                    temporary.c_str(), path.c_str());
  }
  if (!error.IsError() && ::fchmod(fd, st.st_mode & 07777) != 0) {
    error =
        FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to set the mode of %s", temporary.c_str());
  }
  if (!error.IsError()) error = FXFile::TQWriteFile(fd, text.data(), text.size());
  if (!error.IsError() && ::fsync(fd) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to flush %s", temporary.c_str());
  }
  if (::close(fd) != 0 && !error.IsError()) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to close %s", temporary.c_str());
  }
  if (!error.IsError() && ::rename(temporary.c_str(), copy.c_str()) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to rename %s to %s", temporary.c_str(),
                                    copy.c_str());
  }
  if (error.IsError()) {
    ::unlink(temporary.c_str());
    return error;
  }
  const int folder = ::open(FolderOf(copy).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || ::fsync(folder) != 0) {
    error = FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to flush the folder of %s", copy.c_str());
  }
  if (folder >= 0) ::close(folder);
  return error;
}

}  // namespace TQCassandra
