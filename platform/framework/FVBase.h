#pragma once

// Extra payloads that ride on framework records (a node's or a task's custom
// information), and the framework's own payloads.

#include <boost/shared_ptr.hpp>
#include <cstdint>

#include "platform/framework/FrameworkTypes.h"

// Base of every payload kept in a framework record.
class FVBase {
 public:
  virtual ~FVBase() = default;
};
typedef boost::shared_ptr<FVBase> FVBasePtr;

namespace TQDC_FileSystem {

// The collect file a backup task works on.
class CollectFileInfo : public FVBase {
 public:
  int collectFileNumber = 0;
  int auxNumber = 0;  // kept for the framework; the backup does not use it
  // Where the task resumes: -1 for a task that has not run, else the byte
  // position in the collect file of the first entry not yet stored.
  int64_t resumeOffset = 0;
  int failureCount = 0;
  bool auxFlag1 = false;  // kept for the framework
  bool auxFlag2 = false;  // kept for the framework
};
typedef boost::shared_ptr<CollectFileInfo> CollectFileInfoPtr;

// The payload of a restore task.
class RestoreTaskInfoWrapper : public FVBase {
 public:
  enum TaskType {
    kRegularFileRestore = 0,
    kFileExtent = 1,
    kDeletedFileProcessing = 2,
    kFailedFileRestore = 3,
  };
  int taskType = kRegularFileRestore;
  DistributedQEL::RestoreTaskInfoPtr restoreTaskInfo;
};
typedef boost::shared_ptr<RestoreTaskInfoWrapper> RestoreTaskInfoWrapperPtr;

}  // namespace TQDC_FileSystem
