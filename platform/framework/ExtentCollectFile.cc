#include "platform/framework/ExtentCollectFile.h"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/suite/PlatformInfo.h"

namespace MultiNodeBackupOps {

namespace {

// Reads one value; `found` tells whether it was present and valid.
CQiError ReadValue(const char* name, int64_t& value, bool& found) {
  found = false;
  TQPlatformInfo registry;
  std::string text;
  if (!registry.getString(CExtentCollectFile::kRegistrySection, name, text)) {
    return CQiError::Success();
  }
  // Whole non-negative decimal numbers only: "12abc" or "-1" are not sizes.
  bool valid = !text.empty();
  for (char c : text) valid = valid && c >= '0' && c <= '9';
  int64_t number = -1;
  if (valid) {
    errno = 0;
    number = std::strtoll(text.c_str(), nullptr, 10);
    valid = errno != ERANGE;
  }
  if (!valid) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Invalid extent setting %s: %s", name, text.c_str());
  }
  value = number;
  found = true;
  return CQiError::Success();
}

}  // namespace

CQiError CExtentCollectFile::ReadExtentConfigFromRegistry(bool& extentBackup, uint64_t& extentSize,
                                                          uint64_t& largeFileThreshold) {
  extentBackup = false;
  extentSize = kDefaultExtentSize;
  largeFileThreshold = kDefaultLargeFileThreshold;

  CQiError first;
  bool found = false;
  int64_t value = 0;
  CQiError error = ReadValue(kEnableValue, value, found);
  if (error.IsError() && !first.IsError()) first = error;
  if (found) extentBackup = value != 0;
  error = ReadValue(kExtentSizeValue, value, found);
  if (error.IsError() && !first.IsError()) first = error;
  if (found) extentSize = static_cast<uint64_t>(value);
  error = ReadValue(kThresholdValue, value, found);
  if (error.IsError() && !first.IsError()) first = error;
  if (found) largeFileThreshold = static_cast<uint64_t>(value);
  if (first.IsError()) return first.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace MultiNodeBackupOps
