#pragma once

#include <string>

#include "platform/objectops/BackupFilePrivate.h"

namespace OBJECTOPSAPI {

// The working part of a BackupFile for a local file or directory (symbolic
// links followed). Other kinds of files (devices, pipes, sockets) are refused.
class BackupUnixFilePrivate : public BackupFilePrivate {
 public:
  BackupUnixFilePrivate(const std::string& filePath, const std::string& headerPath, uint64_t flags,
                        const ExtentBackupParams& extent);
  ~BackupUnixFilePrivate() override;

  CQiError OpenObject() override;

 protected:
  CQiError ReadContent(uint64_t offset, void* buffer, size_t length, size_t& got) override;
  CQiError CurrentSize(uint64_t& size) override;
  void CloseObject() override;

 private:
  int fd_ = -1;
};

}  // namespace OBJECTOPSAPI
