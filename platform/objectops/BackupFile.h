#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/objectops/BackupFilePrivate.h"
#include "platform/objectops/DataStream.h"
#include "platform/objectops/ExtentBackupParams.h"

namespace OBJECTOPSAPI {

// Backs up one file (or directory) into a data stream under its header path,
// with its flags and metadata list. The work is done by the private part,
// a BackupUnixFilePrivate unless a derived item installs its own with
// SetPrivate (a derived destructor may also delete it itself and clear
// m_pPrivate).
class BackupFile {
 public:
  BackupFile(const std::string& filePath, const std::string& headerPath, uint64_t flags,
             const ExtentBackupParams& extent);
  virtual ~BackupFile();
  BackupFile(const BackupFile&) = delete;
  BackupFile& operator=(const BackupFile&) = delete;

  // Sends the item into `stream` and commits it there; `abort` is asked
  // between extents. On failure nothing of the item stays in the stream.
  virtual CQiError backup(IDataStream* stream, const AbortCheck& abort);
  virtual std::string AsString() const;
  // Called after a successful backup; does nothing here.
  virtual void backupCompleted();

  const std::string& getFilePath() const { return m_filePath; }
  const std::string& getHeaderPath() const { return m_headerPath; }
  uint64_t getFlags() const { return m_flags; }
  const ExtentBackupParams& getExtentParams() const { return m_extent; }
  BackupFilePrivate* getPrivate() const { return m_pPrivate; }

 protected:
  // Replaces (and deletes) the private part; takes ownership of `part`.
  void SetPrivate(BackupFilePrivate* part);

  BackupFilePrivate* m_pPrivate;

 private:
  std::string m_filePath;
  std::string m_headerPath;
  uint64_t m_flags;
  ExtentBackupParams m_extent;
};

}  // namespace OBJECTOPSAPI
