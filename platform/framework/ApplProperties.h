#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One property of an application entity.
struct ApplProperty {
  std::string name;
  std::string value;
};

// Property cache of an application entity (subclient, instance), filled while
// the suite loads the entity's properties.
class ApplProperties {
 public:
  virtual ~ApplProperties() = default;

  // Appends the pair (the texts are taken with the given lengths). 0 on
  // success; -1 for a missing or empty name, a negative length, or a missing
  // value with a non-zero length.
  int addToPropCache(const char* name, int32_t nameLength, const char* value, int32_t valueLength);
  // Replaces the value of the first property of that name, or appends the
  // property when there is none. 0 on success; -1 for an empty name.
  int updatePropCache(const ApplProperty& property);

  // The value of the first property of that name.
  bool getProperty(const std::string& name, std::string& value) const;
  // Every value of that name, in arrival order.
  std::vector<std::string> getPropertyValues(const std::string& name) const;
  const std::vector<ApplProperty>& getPropCache() const { return cache_; }
  void clearPropCache() { cache_.clear(); }

 protected:
  // Builds an ApplProperty from a callback's pair and passes it to
  // updatePropCache; -1 for the inputs addToPropCache refuses.
  int updatePropCacheFromPair(const char* name, int32_t nameLength, const char* value,
                              int32_t valueLength);

 private:
  std::vector<ApplProperty> cache_;
};
