#pragma once

#include "platform/base/QiDirectory.h"  // SQiDirEntry

// Small value types of the framework and the archive manager.

#include <cstdint>
#include <string>

#include "platform/base/QiString.h"
#include "platform/base/TimeStamp.h"

namespace DistributedQEL {

// Totals of a phase's reports: three flags, one 32-bit counter and nine 64-bit
// counters, all clear after construction.
struct ReportData {
  bool flags[3] = {false, false, false};
  uint32_t counter = 0;
  int64_t counters[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
};

// Progress of a restore worker.
struct CRestoreStatistics {
  CTimeStamp timeStamp;  // when the figures were taken
  int64_t bytesRestored = 0;
  int64_t itemsRestored = 0;
  int64_t itemsFailed = 0;
};

}  // namespace DistributedQEL

// Arguments of the archive manager's media agent lookup: five 64-bit values,
// all 0 after construction. The restore side sets the second to the lookup
// kind and the fourth to the subclient id.
struct GetMediaAgentArgs_t {
  int64_t param1 = 0;
  int64_t param2 = 0;
  int64_t param3 = 0;
  int64_t param4 = 0;
  int64_t param5 = 0;
};

// Answer of the media agent lookup: the media agent's name.
struct GetMediaAgentRet_t {
  std::string mediaAgentName;
};


namespace TQDC_FileSystem {

// One restart entry of a resumed job: a task number and the offset it resumes
// from (-1: the task is complete).
struct RestartInfo {
  int taskId = -1;
  int64_t offset = -1;
};

}  // namespace TQDC_FileSystem
