#include "platform/multinode/MultiNodeBackupOpsWorkerParams.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "platform/base/FXErrorUtil.h"
#include "platform/multinode/UnixFileNameFactory.h"

namespace MultiNodeBackupOps {

namespace {

bool ParseNumber(const std::string& text, long long& value) {
  if (text.empty() || text.size() > 20) return false;
  size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size()) return false;
  for (size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  errno = 0;
  value = std::strtoll(text.c_str(), nullptr, 10);
  return errno != ERANGE;
}

}  // namespace

CQiError BackupTaskParams::FromPayload(const std::string& collectFile, int64_t taskId,
                                       const std::string& payload, BackupTaskParams& task) {
  BackupTaskParams parsed;
  parsed.collectFile = collectFile;
  parsed.taskId = taskId;
  if (!payload.empty()) {
    size_t bar = payload.find('|');
    long long number = 0, offset = 0;
    if (bar == std::string::npos || !ParseNumber(payload.substr(0, bar), number) ||
        !ParseNumber(payload.substr(bar + 1), offset) || number < 0 ||
        number > std::numeric_limits<int>::max() || offset < -1) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid task payload [%s]", payload.c_str());
    }
    parsed.collectFileNumber = static_cast<int>(number);
    parsed.resumeOffset = offset < 0 ? 0 : offset;
  }
  task = parsed;
  return CQiError::Success();
}

std::string BackupTaskParams::FormatPayload(int collectFileNumber, int64_t resumeOffset) {
  return std::to_string(collectFileNumber) + "|" +
         std::to_string(static_cast<long long>(resumeOffset));
}

std::string MultiNodeBackupOpsWorkerParams::GetCollectFilePath(int number) const {
  return CUnixFileNameFactory(backupLevel, jobResultsDirectory).GetCollectFilePath(number);
}

}  // namespace MultiNodeBackupOps
