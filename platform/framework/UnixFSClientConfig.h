#pragma once

#include <cstdint>
#include <string>

#include "platform/framework/FSClientConfig.h"

namespace TQDC_FileSystem {

// Configuration of a Unix file-system backup coordinator.
class CUnixFSClientConfig : public CFSClientConfig {
 public:
  CUnixFSClientConfig() : CFSClientConfig(1) {}

  // The framework's arguments (ClientConfig.h), then the job-results path
  // starts as the job results directory.
  CQiError parseArguments(CProgramArgumentsPtr arguments) override;
  virtual CQiError ReadSubClientProperties() { return CQiError::Success(); }
  virtual bool IsFileExtentBackupSupported() { return false; }

  // Path under which the coordinator keeps the job's files.
  const std::string& getJobResultsPath() const { return jobResultsPath_; }
  void setJobResultsPath(const std::string& path) { jobResultsPath_ = path; }
  // The last collect-file number reserved so far.
  uint32_t getLastCollectFileNumber() const { return lastCollectFileNumber_; }
  void setLastCollectFileNumber(uint32_t number) { lastCollectFileNumber_ = number; }
  // Some node's tasks exist.
  bool getTasksCreated() const { return tasksCreated_; }
  void setTasksCreated(bool created) { tasksCreated_ = created; }

 private:
  std::string jobResultsPath_;
  uint32_t lastCollectFileNumber_ = 0;
  bool tasksCreated_ = false;
};
typedef boost::shared_ptr<CUnixFSClientConfig> CUnixFSClientConfigPtr;

}  // namespace TQDC_FileSystem
