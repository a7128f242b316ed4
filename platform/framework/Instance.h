#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
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

  // The instance's id in the suite; 0 for an instance that was not loaded.
  uint64_t getInstanceId() const { return instanceId_; }
  // The instance's name; Win32 1168 for an instance that was not loaded.
  CQiError getInstanceName(std::string& name) const;

 protected:
  void setInstanceIdentity(uint64_t id, const std::string& name) {
    instanceId_ = id;
    instanceName_ = name;
  }

 private:
  ApplBackupContent content_;
  uint64_t instanceId_ = 0;
  std::string instanceName_;
};

// The instance entity of a distributed cluster; adds nothing to Instance.
class DistributedClusterInstance : public Instance {
 public:
  ~DistributedClusterInstance() override = default;
};
