#pragma once

#include <cstdint>

#include "platform/framework/ApplProperties.h"
#include "platform/framework/SubclientConf.h"

// A subclient entity of the suite: its properties and its content.
class Subclient : public ApplProperties, public SubclientConf {
 public:
  // Loads the entity; nothing to load by default (0).
  virtual int initAll(void* context);
  virtual void resetAll() {}
  // A property the suite read: added to the property cache; its result.
  virtual int getPropertiesCallback(const char* name, int32_t nameLength, const char* value,
                                    int32_t valueLength);
  // A changed property: updates the property cache; its result. `flag` is
  // not used.
  virtual int getPropertiesCallbackUpdate(const char* name, int32_t nameLength, const char* value,
                                          int32_t valueLength, int flag);
};
