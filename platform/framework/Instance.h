#pragma once

#include <cstdint>

#include "platform/framework/ApplBackupContent.h"
#include "platform/framework/ApplProperties.h"

// An instance entity of the suite: its properties and its content.
class Instance : public ApplProperties {
 public:
  // Loads the entity: initContent(context, true, false).
  virtual int initAll(void* context);
  // Loads the content; nothing to load by default (0).
  virtual int initContent(void* context, bool loadContent, bool refresh);
  virtual int getPropertiesCallback(const char* name, int32_t nameLength, const char* value,
                                    int32_t valueLength);
  virtual int getPropertiesCallbackUpdate(const char* name, int32_t nameLength, const char* value,
                                          int32_t valueLength, int flag);
  virtual void initContentCallback(int id, const char* content);
  virtual void SetCaseSensitive(bool flag);

  const ApplBackupContent& getContentCache() const { return content_; }

 private:
  ApplBackupContent content_;
};

// The instance entity of a distributed cluster; adds nothing to Instance.
class DistributedClusterInstance : public Instance {
 public:
  ~DistributedClusterInstance() override = default;
};
