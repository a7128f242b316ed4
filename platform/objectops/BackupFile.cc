#include "platform/objectops/BackupFile.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/objectops/BackupUnixFilePrivate.h"

namespace OBJECTOPSAPI {

BackupFile::BackupFile(const std::string& filePath, const std::string& headerPath, uint64_t flags,
                       const ExtentBackupParams& extent)
    : m_pPrivate(new BackupUnixFilePrivate(filePath, headerPath, flags, extent)),
      m_filePath(filePath),
      m_headerPath(headerPath),
      m_flags(flags),
      m_extent(extent) {}

BackupFile::~BackupFile() {
  delete m_pPrivate;
  m_pPrivate = nullptr;
}

void BackupFile::SetPrivate(BackupFilePrivate* part) {
  if (part == m_pPrivate) return;
  delete m_pPrivate;
  m_pPrivate = part;
}

CQiError BackupFile::backup(IDataStream* stream, const AbortCheck& abort) {
  if (!m_pPrivate) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No backup object for %s", m_filePath.c_str());
  }
  CQiError error = m_pPrivate->backup(stream, abort);
  if (error.IsError()) return error.Push(FXLOC);
  backupCompleted();
  return CQiError::Success();
}

std::string BackupFile::AsString() const {
  return FXString::Format("File [%s] Header [%s] Flags [0x%llx]", m_filePath.c_str(),
                          m_headerPath.c_str(), static_cast<unsigned long long>(m_flags));
}

void BackupFile::backupCompleted() {}

}  // namespace OBJECTOPSAPI
