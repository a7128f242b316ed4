#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/FrameworkTypes.h"

namespace DistributedQEL {

// The framework's configuration of a job phase on one machine, filled from the
// program arguments (FrameworkArguments.h gives the line).
class CClientConfig {
 public:
  // `kind`: 1 for a backup-side configuration, 2 for a restore-side one.
  explicit CClientConfig(int kind = 1);
  virtual ~CClientConfig() = default;
  CClientConfig(const CClientConfig&) = delete;
  CClientConfig& operator=(const CClientConfig&) = delete;

  // Reads the job's values from the arguments and keeps the arguments. A
  // value that is given but malformed is error 87 and leaves that field and
  // every later one as they were; an absent option leaves its field.
  virtual CQiError parseArguments(CProgramArgumentsPtr arguments);
  // The directory of the subclient's content state; "" when none.
  virtual CQiError GetSubclientDirectory(std::string& directory);
  // The job id that names the subclient state file.
  virtual int64_t GetSCStateFileJobId() { return jobId_; }
  virtual bool AutoMountRequired() { return false; }
  // Lets the configuration adjust its stream count to the node count.
  virtual CQiError CalculateStreams(size_t nodeCount);
  virtual uint32_t getApplicationID() { return applicationId_; }

  int getKind() const { return kind_; }
  uint32_t getOmbrelId() const { return ombrelId_; }
  void setOmbrelId(uint32_t id) { ombrelId_ = id; }
  uint32_t getApplicationId() const { return applicationId_; }
  void setApplicationId(uint32_t id) { applicationId_ = id; }
  uint64_t getInstanceId() const { return instanceId_; }
  void setInstanceId(uint64_t id) { instanceId_ = id; }
  int64_t getJobId() const { return jobId_; }
  void setJobId(int64_t id) { jobId_ = id; }
  const std::string& getJobToken() const { return jobToken_; }
  void setJobToken(const std::string& token) { jobToken_ = token; }
  int getBackupLevel() const { return backupLevel_; }
  void setBackupLevel(int level) { backupLevel_ = level; }
  int32_t getNumberOfStreams() const { return numberOfStreams_; }
  void setNumberOfStreams(int32_t count) { numberOfStreams_ = count; }
  const std::string& getMediaAgentName() const { return mediaAgentName_; }
  void setMediaAgentName(const std::string& name) { mediaAgentName_ = name; }
  const std::string& getJobResultsDirectory() const { return jobResultsDirectory_; }
  void setJobResultsDirectory(const std::string& directory) { jobResultsDirectory_ = directory; }
  const CProgramArgumentsPtr& getProgramArguments() const { return programArguments_; }

 private:
  const int kind_;
  uint32_t ombrelId_ = 0;
  uint32_t applicationId_ = 0;
  uint64_t instanceId_ = 0;
  int64_t jobId_ = 0;
  std::string jobToken_;
  int backupLevel_ = TQBkpLevel_Full;
  int32_t numberOfStreams_ = 0;
  std::string mediaAgentName_;
  std::string jobResultsDirectory_;
  CProgramArgumentsPtr programArguments_;
};

}  // namespace DistributedQEL
