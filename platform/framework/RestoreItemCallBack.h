#pragma once

#include <vector>

#include "platform/framework/FrameworkTypes.h"
#include "platform/msg/NMessageBase.h"

namespace DistributedQEL {

// Decides for each browsed item whether a restore worker restores it.
class CRestoreItemCallBack {
 public:
  // An item of a browse result's data list (databrowse::BrowseData records).
  typedef std::vector<CNMessageBase>::iterator BrowseDataIterator;

  explicit CRestoreItemCallBack(IRestoreWorker* worker) : worker_(worker) {}
  virtual ~CRestoreItemCallBack() = default;
  CRestoreItemCallBack(const CRestoreItemCallBack&) = delete;
  CRestoreItemCallBack& operator=(const CRestoreItemCallBack&) = delete;

  // True to skip the item; the framework skips nothing.
  virtual bool ShouldSkipItem(BrowseDataIterator item);

  IRestoreWorker* getWorker() const { return worker_; }

 private:
  IRestoreWorker* worker_;
};

}  // namespace DistributedQEL
