#pragma once

#include <cstdint>
#include <string>

// Rows of the index catalog (IndexCatalog.h describes the tables).

// One job.
struct SJobRecord {
  int64_t jobId = 0;
  uint32_t ombrelId = 0;
  std::string clientName;  // the job's client
  uint64_t clientId = 0;
  uint64_t instanceId = 0;
  uint64_t backupsetId = 0;
  uint64_t subclientId = 0;
  int64_t appType = 0;
  std::string kind;  // e.g. "backup", "log"
  int level = 0;     // backup level
  int64_t startTime = 0;
  int64_t endTime = 0;  // 0 while running
  std::string status;
};

// One archive file: the unit in which a data stream of a job keeps its items.
struct SArchiveFileRecord {
  int64_t archiveFileId = 0;  // given by the catalog, unique across jobs
  int64_t jobId = 0;
  uint32_t ombrelId = 0;
  uint32_t archiveGroupId = 0;
  std::string clientName;  // the client whose stream wrote it
  int streamNumber = 0;
  std::string directory;  // of its content files, relative to the store root
  int64_t createTime = 0;
};

// One committed piece of a backed-up item (a whole file, a directory, or one
// extent of a large file).
struct SFileRecord {
  int64_t recordId = 0;  // given by the catalog at commit
  int64_t jobId = 0;
  int64_t archiveFileId = 0;
  std::string headerPath;  // the index path
  std::string sourcePath;  // the path it was read from
  std::string objectGuid;  // GetObjectGuid of the header path
  bool isDirectory = false;
  bool hasFileType = false;
  int64_t fileType = 0;      // INDEXINGDATA_CASSANDRA_FILE_TYPE, when the metadata holds it
  uint64_t itemFlags = 0;    // the item's 64-bit flags
  uint32_t objectFlags = 0;  // the object's 32-bit flags word
  uint64_t fileSize = 0;     // size of the whole file
  uint64_t pieceOffset = 0;  // where this piece starts in the file
  uint64_t pieceLength = 0;  // bytes this piece holds
  int64_t modifyTime = 0;
  uint32_t mode = 0;
  std::string metadata;  // the metadata list as JSON: [{"id":n,"value":"text"}, ...]
  std::string content;   // content file relative to the store root ("" for a directory)
  std::string sha256;    // of the piece's bytes, lower-case hex
  int64_t backupTime = 0;
};

// One index connection (IndexingConnection) of a job.
struct SIndexSessionRecord {
  int64_t sessionId = 0;
  uint32_t ombrelId = 0;
  uint32_t appId = 0;
  int64_t appType = 0;
  int backupLevel = 0;
  std::string jobToken;
  std::string mediaAgent;
  std::string clientName;
  int64_t jobId = 0;          // 0 until an archive file is attached
  int64_t archiveFileId = 0;  // 0 until attached
  int64_t startTime = 0;
  bool done = false;
  int64_t doneValue = 0;
};

// One metadata entry of an index view.
struct SMetadataRecord {
  int64_t entryId = 0;
  int64_t sessionId = 0;
  int64_t jobId = 0;
  int64_t archiveFileId = 0;
  std::string viewName;
  std::string path;  // known once the entry's file record arrives; "" before
  std::string objectGuid;
  std::string parentGuid;
  std::string componentId;
  std::string recordGuid;
  std::string xml;  // the IdxMetaData record
  int64_t sentTime = 0;
};

// One file record sent by an index connection beside its metadata entries.
struct SEntryRecord {
  int64_t recordId = 0;
  int64_t sessionId = 0;
  int64_t jobId = 0;
  int64_t archiveFileId = 0;
  int64_t sequence = 0;
  std::string path;
  std::string objectGuid;
  uint32_t headerType = 0;
  uint32_t headerVersion = 0;
  uint64_t flags = 0;
  int64_t headerTime = 0;
  int64_t sentTime = 0;
};

// Which jobs a browse looks at. A value of 0 (or below) accepts any job; a
// job that never recorded a value is accepted too. Times are seconds since
// 1970 and bound the entry's or item's time, inclusive.
struct SBrowseScope {
  int64_t ombrelId = 0;
  int64_t instanceId = 0;
  int64_t backupsetId = 0;
  int64_t subclientId = 0;
  int64_t appType = 0;
  int64_t fromTime = 0;
  int64_t toTime = 0;
};
