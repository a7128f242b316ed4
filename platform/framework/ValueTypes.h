#pragma once

#include "platform/base/QiDirectory.h"  // SQiDirEntry

// Small value types of the framework and the archive manager.

#include <cstdint>
#include <list>
#include <string>

#include "platform/base/QiString.h"
#include "platform/base/TimeStamp.h"

namespace DistributedQEL {

// Totals of a phase's reports: three flags, one 32-bit counter and nine 64-bit
// counters, all clear after construction. A restore phase keeps in
// counters[kBytesRestored], [kItemsFailed] and [kItemsRestored] the sums of
// its workers' figures (TQDC_FileSystem::CRestore::AddRestoreStatistics).
struct ReportData {
  enum { kBytesRestored = 0, kItemsFailed = 1, kItemsRestored = 2 };

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
  // Items the worker's item filter left out on purpose (not failures).
  int64_t skippedFilesCount = 0;
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

// One chunk of an archive file that a restore reads: the archive file, the
// chunk's number within it and the byte range it covers.
struct GetChunkListByJobEl_t {
  int64_t archiveFileId = 0;
  int64_t chunkNumber = 0;
  int64_t offset = 0;
  int64_t length = 0;
};

namespace I2 {
// Kinds of archive file a restore reads from. A browse item names its kind
// in an additional flag whose key is KEY_NAME (the value in decimal); an item
// without one is read as TAPE.
struct RESTORE_AFILE_TYPES {
  static constexpr uint16_t TAPE = 1;
  static constexpr uint16_t DISK = 2;
  static constexpr uint16_t CLOUD = 3;
  static constexpr const char* KEY_NAME = "RestoreAFileType";
};
}  // namespace I2

// What a restore launcher hands the restore coordinator base besides its
// source paths and records: who is restored from, in which copy and time
// range, and how many source paths it selected.
struct FSRFIRInitData {
  int64_t jobId = 0;
  uint32_t ombrelId = 0;
  uint64_t clientId = 0;  // the source client (the instance's client)
  uint64_t instanceId = 0;
  uint64_t backupSetId = 0;
  int64_t subclientId = 0;
  int64_t appType = 0;
  uint32_t copyPrecedence = 0;  // 0: the primary copy
  int64_t fromTime = 0;         // seconds since 1970, 0 = open
  int64_t toTime = 0;           // seconds since 1970, 0 = open
  uint64_t numberOfSrcPaths = 0;
};

// One source path of a restore: the index path of a selected item and how
// many of its leading components the restore strips (-1: not computed).
struct FSRSrcPath {
  std::string path;
  int stripLevel = -1;
  bool operator==(const FSRSrcPath& other) const {
    return path == other.path && stripLevel == other.stripLevel;
  }
};

namespace TQDC_FileSystem {

// One restart entry of a resumed job: a task number and the offset it resumes
// from (-1: the task is complete).
struct RestartInfo {
  int taskId = -1;
  int64_t offset = -1;
};

}  // namespace TQDC_FileSystem
