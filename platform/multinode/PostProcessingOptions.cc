#include "platform/multinode/PostProcessingOptions.h"

#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/suite/PlatformInfo.h"

CQiError CPostProcessingOptions::LoadConfiguration() {
  TQPlatformInfo registry;
  std::string text;
  if (!registry.getString(kRegistrySection, kMaxEntriesValue, text)) return CQiError::Success();
  bool valid = !text.empty() && text.size() <= 18;
  for (char c : text) valid = valid && c >= '0' && c <= '9';
  if (!valid) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Invalid setting %s: %s", kMaxEntriesValue,
                                   text.c_str());
  }
  maxEntries_ = std::stoull(text);
  return CQiError::Success();
}
