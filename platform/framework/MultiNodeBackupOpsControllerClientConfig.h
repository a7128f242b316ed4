#pragma once

#include <cstdint>
#include <string>

#include "platform/framework/FSClientConfig.h"

namespace MultiNodeBackupOps {

// Configuration of a node controller of a parallel file backup.
class MultiNodeBackupOpsControllerClientConfig : public TQDC_FileSystem::CFSClientConfig {
 public:
  // Name of the node's failures list in its job results directory.
  static constexpr const char* kFailuresFileName = "Failures.tqf";

  MultiNodeBackupOpsControllerClientConfig() : CFSClientConfig(1) {}

  // The framework's arguments (ClientConfig.h), the coordinator's first
  // collect-file number ("-collectFileStart"), and the failures list path in
  // the job results directory.
  CQiError parseArguments(CProgramArgumentsPtr arguments) override;

  // The subclient of the job: the application id names it.
  uint64_t getSubclientId() const { return getApplicationId(); }
  uint32_t getCollectFileStart() const { return collectFileStart_; }
  void setCollectFileStart(uint32_t number) { collectFileStart_ = number; }
  // Number of numbered collect files the node wrote; 0 until they are split.
  uint32_t getCollectFileCount() const { return collectFileCount_; }
  void setCollectFileCount(uint32_t count) { collectFileCount_ = count; }
  const std::string& getFailuresFilePath() const { return failuresFilePath_; }
  void setFailuresFilePath(const std::string& path) { failuresFilePath_ = path; }

 private:
  uint32_t collectFileStart_ = 0;
  uint32_t collectFileCount_ = 0;
  std::string failuresFilePath_;
};
typedef boost::shared_ptr<MultiNodeBackupOpsControllerClientConfig>
    MultiNodeBackupOpsControllerClientConfigPtr;

}  // namespace MultiNodeBackupOps
