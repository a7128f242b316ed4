#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
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

  // The subclient's id in the suite; 0 for a subclient that was not loaded.
  uint64_t getSubclientId() const { return subclientId_; }
  const std::string& getSubclientName() const { return subclientName_; }

  // Whether the registered subclient `subclientId` is the default subclient
  // of its backup set. An unknown subclient is Win32 1168 and leaves
  // `isDefault` as it was.
  static CQiError isDefaultSubclient(uint64_t subclientId, bool& isDefault);

 protected:
  void setSubclientIdentity(uint64_t id, const std::string& name) {
    subclientId_ = id;
    subclientName_ = name;
  }

 private:
  uint64_t subclientId_ = 0;
  std::string subclientName_;
};
