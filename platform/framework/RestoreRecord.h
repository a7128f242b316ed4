#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "platform/base/QiError.h"
#include "platform/framework/ValueTypes.h"

// The framework's record of one archive file to restore from: restore
// launchers make one per archive file their browse answered, the restore
// coordinator base keeps them by value and the framework makes restore tasks
// of them. Every number is 0 after construction but the archive-file type
// (-1: not known); the strings and the chunk list are empty.
class RestoreRecord {
 public:
  RestoreRecord() = default;

  uint32_t ombrelId = 0;
  int64_t archiveGroupId = 0;
  int64_t archiveFileId = 0;  // the index's archive file id (a signed 32-bit value)
  int64_t itemCount = 0;      // files of the archive file to restore, extents included
  int64_t installationDomainId = 0;
  bool hasExtents = false;  // some items of the archive file are stored as extents
  int64_t fromTime = 0;
  int64_t toTime = 0;
  uint32_t copyPrecedence = 0;
  std::list<GetChunkListByJobEl_t> chunks;
  int64_t jobId = 0;             // the backup job that wrote the archive file
  int32_t archiveFileType = -1;  // I2::RESTORE_AFILE_TYPES, -1 when not known
  std::string strNodeName;       // the node the records' items belong to
  std::string strMediaType;
  int64_t fileCount = 0;    // files of the archive file (without extents)
  int64_t extentCount = 0;  // extents of its large files
  int64_t restoredCount = 0;

  // One line: "RestoreRecord node=<name> ombrel=.. afile=.. agroup=.. count=..
  // files=.. extents=.. flag=0|1 afiletype=.. domain=.. job=.. copy=.. from=..
  // to=.. restored=.. media=<text> chunks=<afile>:<number>:<offset>:<length>,..".
  // The node name and the media type are percent-escaped ("%", " ", "=",
  // ",", line ends), so every record reads back with Parse.
  std::string AsString() const;
  // Reads a line AsString wrote; error 13 when it is not one.
  static CQiError Parse(const std::string& text, RestoreRecord& record);

  bool operator==(const RestoreRecord& other) const;
  bool operator!=(const RestoreRecord& other) const { return !(*this == other); }
};
