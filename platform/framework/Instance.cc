#include "platform/framework/Instance.h"

#include "platform/base/FXErrorUtil.h"

int Instance::initAll(void* context) { return initContent(context, true, false); }

int Instance::initContent(void*, bool, bool) { return 0; }

int Instance::getPropertiesCallback(const char* name, int32_t nameLength, const char* value,
                                    int32_t valueLength) {
  return addToPropCache(name, nameLength, value, valueLength);
}

int Instance::getPropertiesCallbackUpdate(const char* name, int32_t nameLength, const char* value,
                                          int32_t valueLength, int) {
  return updatePropCacheFromPair(name, nameLength, value, valueLength);
}

void Instance::initContentCallback(int id, const char* content) {
  content_.addToContentCache(id, content);
}

void Instance::SetCaseSensitive(bool flag) {
  if (flag) {
    content_.setContentCaseSensitive();
  } else {
    content_.setContentCaseInsensitive();
  }
}

CQiError Instance::getInstanceName(std::string& name) const {
  if (instanceId_ == 0) return FXErrorUtil::ErrorWin32(FXLOC, 1168, "Instance not loaded");
  name = instanceName_;
  return CQiError::Success();
}
