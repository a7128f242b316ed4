#pragma once

#include "platform/framework/ApplBackupContent.h"

// Content side of a subclient: the callbacks the suite calls while it loads
// the subclient's content.
class SubclientConf {
 public:
  virtual ~SubclientConf() = default;

  // Adds the content text under the id to the content cache.
  virtual void initContentCallback(int id, const char* content);
  // Content compares with letter case when `flag` is set.
  virtual void SetCaseSensitive(bool flag);

  const ApplBackupContent& getContentCache() const { return content_; }

 private:
  ApplBackupContent content_;
};
