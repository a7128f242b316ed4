#include "platform/framework/Subclient.h"

#include "platform/suite/SuiteStore.h"

int Subclient::initAll(void*) { return 0; }

int Subclient::getPropertiesCallback(const char* name, int32_t nameLength, const char* value,
                                     int32_t valueLength) {
  return addToPropCache(name, nameLength, value, valueLength);
}

int Subclient::getPropertiesCallbackUpdate(const char* name, int32_t nameLength, const char* value,
                                           int32_t valueLength, int) {
  return updatePropCacheFromPair(name, nameLength, value, valueLength);
}

CQiError Subclient::isDefaultSubclient(uint64_t subclientId, bool& isDefault) {
  SSubclientRecord record;
  CQiError error = CSuiteStore::Default().LoadSubclient(subclientId, record);
  if (error.IsError()) return error.Push(FXLOC);
  isDefault = record.isDefault;
  return CQiError::Success();
}
