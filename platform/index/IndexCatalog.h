#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/QiError.h"
#include "platform/index/IndexCatalogTypes.h"
#include "platform/index/SqliteDb.h"

// The persistent catalog of backups: one SQLite database file,
// <suite home>/index/catalog.db, shared by every thread and process of the
// suite on this machine.
//
// Tables:
//   jobs              one row per job: identity (client, instance, backup set,
//                     subclient, application type), kind, level, start and
//                     end time, status
//   archive_files     the archive files of each job; one per data stream that
//                     stored items; the id is unique across jobs
//   file_records      one row per committed piece of a backed-up item: header
//                     path, source path, type, flags, size, piece offset and
//                     length, metadata list, content file and its SHA-256
//   index_sessions    one row per index connection (IndexingConnection)
//   metadata_records  index view entries (view name, object and parent GUID,
//                     record GUID, the IdxMetaData XML, path once known)
//   entry_records     the file records sent beside the view entries
//   restart_info      the last restart value of each job's index writing
//
// A row in file_records exists only for a piece whose content file is
// complete and in place: it is inserted in the same transaction that moves
// the content into place. Each method is one transaction; the object may be
// shared by threads (calls are serialised), and any number of objects, in any
// number of processes, may use the same file.
class CIndexCatalog {
 public:
  // The catalog file under a suite home, and under the current one.
  static std::string PathUnder(const std::string& home);
  static std::string DefaultPath();

  explicit CIndexCatalog(const std::string& path = DefaultPath());
  CIndexCatalog(const CIndexCatalog&) = delete;
  CIndexCatalog& operator=(const CIndexCatalog&) = delete;

  // Opens the file (creating it, its folder and its tables when missing).
  CQiError Open();
  bool IsOpen() const { return db_.IsOpen(); }
  const std::string& GetPath() const { return path_; }

  // Jobs. RegisterJob adds the job; with `replace` an existing row takes the
  // given values, without it an existing row stays as it is.
  CQiError RegisterJob(const SJobRecord& job, bool replace);
  CQiError SetJobStatus(int64_t jobId, const std::string& status, int64_t endTime);
  CQiError GetJob(int64_t jobId, SJobRecord& job, bool& found);
  CQiError ListJobs(std::vector<SJobRecord>& jobs);

  // Archive files. The job must exist. `afile` gets its id, and its
  // directory from `directoryOf(id)`.
  CQiError CreateArchiveFile(SArchiveFileRecord& afile,
                             const std::function<std::string(int64_t)>& directoryOf);
  CQiError GetArchiveFile(int64_t archiveFileId, SArchiveFileRecord& afile, bool& found);
  // The job's archive files, lowest id (the first made) first.
  CQiError ListArchiveFiles(int64_t jobId, std::vector<SArchiveFileRecord>& afiles);

  // Inserts and commits the record, which names content already in place;
  // `record` gets its id.
  CQiError CommitFileRecord(SFileRecord& record);
  // Inserts the records in one transaction: all of them or none; each gets
  // its id.
  CQiError CommitFileRecords(std::vector<SFileRecord>& records);
  // A job's file records in commit order.
  CQiError ListFileRecords(int64_t jobId, std::vector<SFileRecord>& records);
  CQiError FindFileRecords(int64_t jobId, const std::string& headerPath,
                           std::vector<SFileRecord>& records);
  CQiError FindFileRecordsBySource(int64_t jobId, const std::string& sourcePath,
                                   std::vector<SFileRecord>& records);
  // File records of the jobs in scope whose header path is `prefix` or lies
  // below it ("/" = all), ordered by header path, then commit order.
  CQiError QueryFileRecordsUnder(const SBrowseScope& scope, const std::string& prefix,
                                 std::vector<SFileRecord>& records);
  // The same records handed to `visit` one at a time as they are read, so
  // that no list of them is held; an error from `visit` ends the query and
  // is returned. The query is one read of the file: `visit` may use this
  // object from the same thread (for other queries), while other threads'
  // calls on it wait until the query ends.
  CQiError ForEachFileRecordUnder(const SBrowseScope& scope, const std::string& prefix,
                                  const std::function<CQiError(const SFileRecord&)>& visit);
  // The file records of the jobs `jobIds`, handed to `visit` as they are
  // read (as ForEachFileRecordUnder), ordered by header path, then job, then
  // commit order.
  CQiError ForEachFileRecordOfJobs(const std::vector<int64_t>& jobIds,
                                   const std::function<CQiError(const SFileRecord&)>& visit);

  // Index sessions.
  CQiError CreateSession(SIndexSessionRecord& session);
  CQiError AttachArchiveFile(int64_t sessionId, int64_t jobId, int64_t archiveFileId);
  CQiError CloseSession(int64_t sessionId, int64_t value);
  CQiError GetSession(int64_t sessionId, SIndexSessionRecord& session, bool& found);
  CQiError InsertMetadata(SMetadataRecord& record);
  // Stores the record and gives its path to the session's metadata entries
  // of the same object GUID that have none yet.
  CQiError InsertEntryRecord(SEntryRecord& record);
  CQiError ListEntryRecords(int64_t jobId, std::vector<SEntryRecord>& records);
  CQiError SetRestartInfo(int64_t jobId, int64_t sessionId, int64_t value);
  CQiError GetRestartInfo(int64_t jobId, int64_t& value, bool& found);

  // View entries: of every object GUID, only its latest entry within the
  // scope counts. ByGuid: the entry of one object; ByParent: the entries whose
  // parent GUID is given; Under: every entry whose path lies below `prefix`
  // ("/" = the whole view). Ordered by path.
  CQiError LatestMetadataByGuid(const SBrowseScope& scope, const std::string& view,
                                const std::string& objectGuid, SMetadataRecord& record,
                                bool& found);
  CQiError LatestMetadataByParent(const SBrowseScope& scope, const std::string& view,
                                  const std::string& parentGuid,
                                  std::vector<SMetadataRecord>& records);
  CQiError LatestMetadataUnder(const SBrowseScope& scope, const std::string& view,
                               const std::string& prefix, std::vector<SMetadataRecord>& records);
  // A job's view entries in the order they were sent.
  CQiError ListMetadata(int64_t jobId, std::vector<SMetadataRecord>& records);

 private:
  CQiError CreateSchema();
  CQiError QueryFileRecords(const std::string& where,
                            const std::function<void(CSqliteStatement&)>& bind,
                            std::vector<SFileRecord>& records);
  // Runs the query of file records with `where` (after "FROM file_records
  // f") and hands each row to `visit` as it is read.
  CQiError ForEachFileRecord(const std::string& where,
                             const std::function<void(CSqliteStatement&)>& bind,
                             const std::function<CQiError(const SFileRecord&)>& visit);
  CQiError QueryMetadata(const std::string& sql, const std::function<void(CSqliteStatement&)>& bind,
                         std::vector<SMetadataRecord>& records);

  // One insert inside the caller's transaction.
  CQiError InsertFileRecord(SFileRecord& record);

  std::string path_;
  std::recursive_mutex mutex_;
  CSqliteDb db_;
  // The insert of CommitFileRecord, prepared once per connection (after db_,
  // so it is finalised first).
  CSqliteStatement insertFileRecord_;
};
