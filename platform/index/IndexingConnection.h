#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/base/QiError.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/index/IndexCatalog.h"
#include "platform/index/XFileHeader.h"
#include "platform/msg/IndexMetadataRecords.h"

// A connection that sends a job's index entries to the index catalog: view
// entries (IdxMetaData records) and the file records beside them, attached to
// one of the job's archive files, then the restart information and the end of
// the job's index writing. Each entry is stored, and visible to browses, as
// soon as its call returns 0.
//
// Order of use: initialize, sendAfileInfo, then any number of
// sendMetaDataInfo and sendFileInfo, updateRestartInfo, backupDone. Every
// call returns 0 on success or a Result; getLastError() tells why.
class IndexingConnection {
 public:
  enum Result : int {
    kOk = 0,
    kNotInitialized = 1,      // initialize has not succeeded
    kAlreadyInitialized = 2,  // initialize ran before
    kNoArchiveFile = 3,       // no archive file attached yet
    kUnknownArchiveFile = 4,  // the archive file is not the catalog's (or another ombrel's)
    kRejected = 5,            // the record lacks what the index needs
    kClosed = 6,              // backupDone ran
    kCatalogError = 7,        // the catalog could not be opened, read or written
  };

  // `home` "" is the current suite home.
  explicit IndexingConnection(const std::string& home = std::string());
  ~IndexingConnection();
  IndexingConnection(const IndexingConnection&) = delete;
  IndexingConnection& operator=(const IndexingConnection&) = delete;

  // Opens the catalog and starts a session. `jobToken`, `mediaAgent` and
  // `clientName` may be null; `flags` is reserved (pass 0).
  int initialize(uint32_t ombrelId, uint32_t appId, int64_t appType, int backupLevel,
                 const char* jobToken, const char* mediaAgent, const char* clientName, int flags);
  // Attaches the entries that follow to this archive file, and so to its job.
  // `flag` is accepted and not interpreted.
  int sendAfileInfo(const ArchiveFileId_t& afile, bool flag);
  // Stores one view entry: the record needs a header whose view has a name,
  // and an object GUID.
  int sendMetaDataInfo(const IdxMetadata::IdxMetaData& record);
  // Stores one file record; its path must be non-empty and NUL-terminated.
  // The view entries of this session with the same object GUID take its path.
  // `extra`/`extraLength` are accepted and not interpreted.
  int sendFileInfo(const CXFileHeader& header, int64_t sequence, const void* extra,
                   uint32_t extraLength);
  int sendFileInfo(const CXFileHeader* header, int64_t sequence, const void* extra,
                   uint32_t extraLength);
  // Records the job's restart value (-1: every entry was sent).
  int updateRestartInfo(int64_t value);
  // Ends the session's index writing; later sends are refused.
  int backupDone(int value);

  const CQiError& getLastError() const { return lastError_; }
  int64_t getSessionId() const { return session_.sessionId; }
  int64_t getJobId() const { return session_.jobId; }

 private:
  int Fail(int result, const CQiError& error);
  int CheckReady(bool needArchiveFile);

  std::mutex mutex_;
  std::string catalogPath_;
  std::unique_ptr<CIndexCatalog> catalog_;
  SIndexSessionRecord session_;
  bool initialized_ = false;
  CQiError lastError_;
};
