#include "platform/framework/ApplProperties.h"

int ApplProperties::addToPropCache(const char* name, int32_t nameLength, const char* value,
                                   int32_t valueLength) {
  if (!name || nameLength <= 0 || valueLength < 0) return -1;
  if (!value && valueLength > 0) return -1;
  ApplProperty property;
  property.name.assign(name, static_cast<size_t>(nameLength));
  if (value) property.value.assign(value, static_cast<size_t>(valueLength));
  cache_.push_back(property);
  return 0;
}

int ApplProperties::updatePropCache(const ApplProperty& property) {
  if (property.name.empty()) return -1;
  for (auto& known : cache_) {
    if (known.name == property.name) {
      known.value = property.value;
      return 0;
    }
  }
  cache_.push_back(property);
  return 0;
}

bool ApplProperties::getProperty(const std::string& name, std::string& value) const {
  for (const auto& p : cache_) {
    if (p.name == name) {
      value = p.value;
      return true;
    }
  }
  return false;
}

std::vector<std::string> ApplProperties::getPropertyValues(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& p : cache_) {
    if (p.name == name) values.push_back(p.value);
  }
  return values;
}

int ApplProperties::updatePropCacheFromPair(const char* name, int32_t nameLength, const char* value,
                                            int32_t valueLength) {
  if (!name || nameLength <= 0 || valueLength < 0) return -1;
  if (!value && valueLength > 0) return -1;
  ApplProperty property;
  property.name.assign(name, static_cast<size_t>(nameLength));
  if (value) property.value.assign(value, static_cast<size_t>(valueLength));
  return updatePropCache(property);
}
