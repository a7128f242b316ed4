#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/base/QiString.h"
#include "platform/runner/RunnerTypes.h"

// A job as the job manager describes it to the job's processes: built from
// the job id, it reads the job's description (TqRunner::JobDescription) that
// the runner stored under the suite home before the job ran, so any later
// process of the job gets the same values.
class EvTask {
 public:
  explicit EvTask(int64_t jobId);
  virtual ~EvTask() = default;
  EvTask(const EvTask&) = delete;
  EvTask& operator=(const EvTask&) = delete;

  // The job's options: the XML text of its TMMsg::JobOption. Error 2 when
  // the job has no description, 13 when it cannot be read, 1627 when the
  // description holds no options.
  CQiError getXMLOptions(std::string& xml) const;
  CQiError getXMLOptions(CQiString& xml) const;

  int64_t getJobId() const { return jobId_; }
  // Whether the description was read; getLoadError says why not.
  bool isLoaded() const { return loaded_; }
  const CQiError& getLoadError() const { return loadError_; }

 protected:
  const TqRunner::JobDescription& description() const { return description_; }
  TqRunner::JobDescription& mutableDescription() { return description_; }

 private:
  int64_t jobId_;
  bool loaded_ = false;
  CQiError loadError_;
  TqRunner::JobDescription description_;
};
