#pragma once

#include "platform/multinode/PostProcessingOptions.h"

// Split settings of the backup controller: the number of collect files it asks
// the split for, set before the split runs.
class CCustomPostProcessingOptions : public CPostProcessingOptions {
 public:
  CCustomPostProcessingOptions() = default;
  ~CCustomPostProcessingOptions() override = default;

  int GetCollectFileSplitCount() override { return splitCount_; }
  void SetCollectFileSplitCount(int count) { splitCount_ = count; }

 private:
  int splitCount_ = 0;
};
