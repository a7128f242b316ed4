#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/suite/EvTask.h"

// The restore task of a restore job: what is restored from where, read from
// the job's description (EvTask). Its two path lists (1: the selected source
// paths, 2: the filter paths) are walked with getFirstPath/getNextPath, one
// cursor per list, and extended with addPath; the additions live in this
// object only.
class EvRstTask : public EvTask {
 public:
  enum PathList { kSourcePaths = 1, kFilterPaths = 2 };

  // `reserved`, `context`, `flag1` and `flag2` are the suite's and are not
  // interpreted (callers pass 0, null, false, false).
  EvRstTask(int64_t jobId, int reserved, void* context, bool flag1, bool flag2);

  uint64_t getSourceInstanceId() const { return description().sourceInstanceId; }
  uint64_t getDestInstanceId() const { return description().destInstanceId; }
  int64_t getSourceAppType() const { return description().sourceAppType; }
  uint64_t getSourceClientId() const { return description().sourceClientId; }
  uint64_t getBackupSetId() const { return description().backupSetId; }
  int64_t getSubclientId() const { return description().subclientId; }
  // The media agent's client id; 0 for the subclient's default.
  int32_t getMediaAgent() const { return description().mediaAgentClientId; }
  uint32_t getCopyPrecedence() const { return description().copyPrecedence; }
  uint32_t getOmbrelId() const { return description().ombrelId; }
  int64_t getFromTime() const { return description().fromTime; }
  int64_t getToTime() const { return description().toTime; }

  // The first entry of list 1 or 2; false (and `path` untouched) when the
  // list is empty or the number names no list.
  bool getFirstPath(int list, std::string& path);
  // The entry after the last one given for that list; false at the end.
  bool getNextPath(int list, std::string& path);
  // Appends `path` to list 1 or 2; false for another number.
  bool addPath(int list, const std::string& path);
  // A copy of list 1 or 2 (empty for another number).
  std::vector<std::string> getPaths(int list) const;
  // The job options text (EvTask::getXMLOptions).
  CQiError getJobOptions(std::string& xml) const { return getXMLOptions(xml); }

 private:
  std::vector<std::string>* List(int list);
  size_t cursor_[2] = {0, 0};
};
