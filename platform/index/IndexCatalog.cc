#include "platform/index/IndexCatalog.h"

#include <ctime>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/index/CatalogSql.h"
#include "platform/suite/ClientContext.h"

using CatalogSql::kFileColumns;

namespace {

constexpr int64_t kSchemaVersion = 1;

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS jobs(
  job_id INTEGER PRIMARY KEY,
  ombrel_id INTEGER NOT NULL DEFAULT 0,
  client_name TEXT NOT NULL DEFAULT '',
  client_id INTEGER NOT NULL DEFAULT 0,
  instance_id INTEGER NOT NULL DEFAULT 0,
  backupset_id INTEGER NOT NULL DEFAULT 0,
  subclient_id INTEGER NOT NULL DEFAULT 0,
  app_type INTEGER NOT NULL DEFAULT 0,
  kind TEXT NOT NULL DEFAULT '',
  level INTEGER NOT NULL DEFAULT 0,
  start_time INTEGER NOT NULL DEFAULT 0,
  end_time INTEGER NOT NULL DEFAULT 0,
  status TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS archive_files(
  afile_id INTEGER PRIMARY KEY AUTOINCREMENT,
  job_id INTEGER NOT NULL REFERENCES jobs(job_id),
  ombrel_id INTEGER NOT NULL,
  archive_group INTEGER NOT NULL,
  client_name TEXT NOT NULL,
  stream INTEGER NOT NULL,
  directory TEXT NOT NULL,
  create_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS archive_files_by_job ON archive_files(job_id, afile_id);
CREATE TABLE IF NOT EXISTS file_records(
  record_id INTEGER PRIMARY KEY AUTOINCREMENT,
  job_id INTEGER NOT NULL REFERENCES jobs(job_id),
  afile_id INTEGER NOT NULL REFERENCES archive_files(afile_id),
  header_path TEXT NOT NULL,
  source_path TEXT NOT NULL,
  object_guid TEXT NOT NULL,
  is_directory INTEGER NOT NULL,
  file_type INTEGER,
  item_flags INTEGER NOT NULL,
  object_flags INTEGER NOT NULL,
  file_size INTEGER NOT NULL,
  piece_offset INTEGER NOT NULL,
  piece_length INTEGER NOT NULL,
  modify_time INTEGER NOT NULL,
  mode INTEGER NOT NULL,
  metadata TEXT NOT NULL,
  content TEXT NOT NULL,
  sha256 TEXT NOT NULL,
  backup_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS file_records_by_path ON file_records(job_id, header_path);
CREATE INDEX IF NOT EXISTS file_records_by_source ON file_records(job_id, source_path);
CREATE INDEX IF NOT EXISTS file_records_by_header ON file_records(header_path);
CREATE TABLE IF NOT EXISTS index_sessions(
  session_id INTEGER PRIMARY KEY AUTOINCREMENT,
  ombrel_id INTEGER NOT NULL,
  app_id INTEGER NOT NULL,
  app_type INTEGER NOT NULL,
  backup_level INTEGER NOT NULL,
  job_token TEXT NOT NULL,
  media_agent TEXT NOT NULL,
  client_name TEXT NOT NULL,
  job_id INTEGER NOT NULL DEFAULT 0,
  afile_id INTEGER NOT NULL DEFAULT 0,
  start_time INTEGER NOT NULL,
  done INTEGER NOT NULL DEFAULT 0,
  done_value INTEGER NOT NULL DEFAULT 0,
  done_time INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS metadata_records(
  entry_id INTEGER PRIMARY KEY AUTOINCREMENT,
  session_id INTEGER NOT NULL REFERENCES index_sessions(session_id),
  job_id INTEGER NOT NULL REFERENCES jobs(job_id),
  afile_id INTEGER NOT NULL,
  view_name TEXT NOT NULL,
  path TEXT NOT NULL DEFAULT '',
  object_guid TEXT NOT NULL,
  parent_guid TEXT NOT NULL,
  component_id TEXT NOT NULL,
  record_guid TEXT NOT NULL,
  xml TEXT NOT NULL,
  sent_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS metadata_by_object ON metadata_records(view_name, object_guid);
CREATE INDEX IF NOT EXISTS metadata_by_parent ON metadata_records(view_name, parent_guid);
CREATE INDEX IF NOT EXISTS metadata_by_path ON metadata_records(view_name, path);
CREATE INDEX IF NOT EXISTS metadata_by_session ON metadata_records(session_id, object_guid);
CREATE TABLE IF NOT EXISTS entry_records(
  record_id INTEGER PRIMARY KEY AUTOINCREMENT,
  session_id INTEGER NOT NULL REFERENCES index_sessions(session_id),
  job_id INTEGER NOT NULL,
  afile_id INTEGER NOT NULL,
  sequence INTEGER NOT NULL,
  path TEXT NOT NULL,
  object_guid TEXT NOT NULL,
  header_type INTEGER NOT NULL,
  header_version INTEGER NOT NULL,
  flags INTEGER NOT NULL,
  header_time INTEGER NOT NULL,
  sent_time INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS entry_records_by_job ON entry_records(job_id, record_id);
CREATE TABLE IF NOT EXISTS restart_info(
  job_id INTEGER PRIMARY KEY,
  session_id INTEGER NOT NULL,
  value INTEGER NOT NULL,
  update_time INTEGER NOT NULL);
)SQL";

const char* const kJobColumns =
    "job_id, ombrel_id, client_name, client_id, instance_id, backupset_id, subclient_id, "
    "app_type, kind, level, start_time, end_time, status";

const char* const kArchiveFileColumns =
    "afile_id, job_id, ombrel_id, archive_group, client_name, stream, directory, create_time";

SJobRecord ReadJob(const CSqliteStatement& s) {
  SJobRecord job;
  job.jobId = s.ColumnInt(0);
  job.ombrelId = static_cast<uint32_t>(s.ColumnInt(1));
  job.clientName = s.ColumnText(2);
  job.clientId = static_cast<uint64_t>(s.ColumnInt(3));
  job.instanceId = static_cast<uint64_t>(s.ColumnInt(4));
  job.backupsetId = static_cast<uint64_t>(s.ColumnInt(5));
  job.subclientId = static_cast<uint64_t>(s.ColumnInt(6));
  job.appType = s.ColumnInt(7);
  job.kind = s.ColumnText(8);
  job.level = static_cast<int>(s.ColumnInt(9));
  job.startTime = s.ColumnInt(10);
  job.endTime = s.ColumnInt(11);
  job.status = s.ColumnText(12);
  return job;
}

SArchiveFileRecord ReadArchiveFile(const CSqliteStatement& s) {
  SArchiveFileRecord afile;
  afile.archiveFileId = s.ColumnInt(0);
  afile.jobId = s.ColumnInt(1);
  afile.ombrelId = static_cast<uint32_t>(s.ColumnInt(2));
  afile.archiveGroupId = static_cast<uint32_t>(s.ColumnInt(3));
  afile.clientName = s.ColumnText(4);
  afile.streamNumber = static_cast<int>(s.ColumnInt(5));
  afile.directory = s.ColumnText(6);
  afile.createTime = s.ColumnInt(7);
  return afile;
}

}  // namespace

std::string CIndexCatalog::PathUnder(const std::string& home) {
  return FXPath::Join(FXPath::Join(home, "index"), "catalog.db");
}

std::string CIndexCatalog::DefaultPath() { return PathUnder(CClientContext::SuiteHome()); }

CIndexCatalog::CIndexCatalog(const std::string& path) : path_(path) {}

CQiError CIndexCatalog::Open() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (db_.IsOpen()) return CQiError::Success();
  CQiString parent, name;
  FXPath::SplitParentPath(path_.c_str(), parent, name);
  if (!parent.IsEmpty()) {
    CQiError error = CQiDirectory::Create(parent.c_str(), true);
    if (error.IsError()) return error.Push(FXLOC);
  }
  insertFileRecord_ = CSqliteStatement();
  CQiError error = db_.Open(path_);
  if (error.IsError()) return error.Push(FXLOC);
  error = CreateSchema();
  if (error.IsError()) {
    db_.Close();
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::CreateSchema() {
  // The schema version lives in the file's user_version: a file made by this
  // code needs no write lock to be opened again.
  CSqliteStatement version;
  CQiError error = db_.Prepare("PRAGMA user_version", version);
  bool row = false;
  if (!error.IsError()) error = version.Step(row);
  if (error.IsError()) return error.Push(FXLOC);
  if (row && version.ColumnInt(0) == kSchemaVersion) return CQiError::Success();
  version = CSqliteStatement();

  error = db_.InTransaction([&]() -> CQiError {
    CQiError error;
    error = db_.Exec(kSchema);
    if (!error.IsError()) error = db_.Exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    return error;
  });
  if (error.IsError()) {
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::RegisterJob(const SJobRecord& job, bool replace) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::string sql = std::string("INSERT INTO jobs(") + kJobColumns +
                    ") VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13) ";
  if (replace) {
    sql +=
        "ON CONFLICT(job_id) DO UPDATE SET ombrel_id=?2, client_name=?3, client_id=?4, "
        "instance_id=?5, backupset_id=?6, subclient_id=?7, app_type=?8, kind=?9, level=?10, "
        "start_time=?11, end_time=?12, status=?13";
  } else {
    sql += "ON CONFLICT(job_id) DO NOTHING";
  }
  CQiError error = db_.Execute(sql, [&](CSqliteStatement& s) {
    s.Bind(1, job.jobId)
        .Bind(2, static_cast<int64_t>(job.ombrelId))
        .Bind(3, job.clientName)
        .Bind(4, static_cast<int64_t>(job.clientId))
        .Bind(5, static_cast<int64_t>(job.instanceId))
        .Bind(6, static_cast<int64_t>(job.backupsetId))
        .Bind(7, static_cast<int64_t>(job.subclientId))
        .Bind(8, job.appType)
        .Bind(9, job.kind)
        .Bind(10, static_cast<int64_t>(job.level))
        .Bind(11, job.startTime)
        .Bind(12, job.endTime)
        .Bind(13, job.status);
  });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::SetJobStatus(int64_t jobId, const std::string& status, int64_t endTime) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error =
      db_.Execute("UPDATE jobs SET status=?2, end_time=?3 WHERE job_id=?1",
                  [&](CSqliteStatement& s) { s.Bind(1, jobId).Bind(2, status).Bind(3, endTime); });
  if (error.IsError()) return error.Push(FXLOC);
  if (db_.Changes() == 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1168, "Job %lld is not in the index catalog",
                                   static_cast<long long>(jobId));
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::GetJob(int64_t jobId, SJobRecord& job, bool& found) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  found = false;
  CQiError error = db_.Query(
      std::string("SELECT ") + kJobColumns + " FROM jobs WHERE job_id=?1",
      [&](CSqliteStatement& s) { s.Bind(1, jobId); },
      [&](CSqliteStatement& row) {
        job = ReadJob(row);
        found = true;
      });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::ListJobs(std::vector<SJobRecord>& jobs) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  jobs.clear();
  CQiError error = db_.Query(std::string("SELECT ") + kJobColumns + " FROM jobs ORDER BY job_id",
                             nullptr, [&](CSqliteStatement& row) { jobs.push_back(ReadJob(row)); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::CreateArchiveFile(SArchiveFileRecord& afile,
                                          const std::function<std::string(int64_t)>& directoryOf) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.InTransaction([&]() -> CQiError {
    CQiError error;
    error = db_.Execute(
        "INSERT INTO archive_files(job_id, ombrel_id, archive_group, client_name, stream, "
        "directory, create_time) VALUES(?1,?2,?3,?4,?5,'',?6)",
        [&](CSqliteStatement& s) {
          s.Bind(1, afile.jobId)
              .Bind(2, static_cast<int64_t>(afile.ombrelId))
              .Bind(3, static_cast<int64_t>(afile.archiveGroupId))
              .Bind(4, afile.clientName)
              .Bind(5, static_cast<int64_t>(afile.streamNumber))
              .Bind(6, afile.createTime);
        });
    if (!error.IsError()) {
      afile.archiveFileId = db_.LastInsertId();
      afile.directory = directoryOf ? directoryOf(afile.archiveFileId) : std::string();
      error = db_.Execute(
          "UPDATE archive_files SET directory=?2 WHERE afile_id=?1",
          [&](CSqliteStatement& u) { u.Bind(1, afile.archiveFileId).Bind(2, afile.directory); });
    }
    return error;
  });
  if (error.IsError()) {
    afile.archiveFileId = 0;
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::GetArchiveFile(int64_t archiveFileId, SArchiveFileRecord& afile,
                                       bool& found) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  found = false;
  CQiError error = db_.Query(
      std::string("SELECT ") + kArchiveFileColumns + " FROM archive_files WHERE afile_id=?1",
      [&](CSqliteStatement& s) { s.Bind(1, archiveFileId); },
      [&](CSqliteStatement& row) {
        afile = ReadArchiveFile(row);
        found = true;
      });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::ListArchiveFiles(int64_t jobId, std::vector<SArchiveFileRecord>& afiles) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  afiles.clear();
  CQiError error = db_.Query(
      std::string("SELECT ") + kArchiveFileColumns +
          " FROM archive_files WHERE job_id=?1 ORDER BY afile_id",
      [&](CSqliteStatement& s) { s.Bind(1, jobId); },
      [&](CSqliteStatement& row) { afiles.push_back(ReadArchiveFile(row)); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::InsertFileRecord(SFileRecord& record) {
  CQiError error;
  if (!insertFileRecord_.IsValid()) {
    error = db_.Prepare(
        "INSERT INTO file_records(job_id, afile_id, header_path, source_path, object_guid, "
        "is_directory, file_type, item_flags, object_flags, file_size, piece_offset, "
        "piece_length, "
        "modify_time, mode, metadata, content, sha256, backup_time) "
        "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18)",
        insertFileRecord_);
    if (error.IsError()) return error;
  }
  CSqliteStatement& s = insertFileRecord_;
  s.Bind(1, record.jobId)
      .Bind(2, record.archiveFileId)
      .Bind(3, record.headerPath)
      .Bind(4, record.sourcePath)
      .Bind(5, record.objectGuid)
      .Bind(6, static_cast<int64_t>(record.isDirectory ? 1 : 0));
  if (record.hasFileType) {
    s.Bind(7, record.fileType);
  } else {
    s.BindNull(7);
  }
  s.Bind(8, static_cast<int64_t>(record.itemFlags))
      .Bind(9, static_cast<int64_t>(record.objectFlags))
      .Bind(10, static_cast<int64_t>(record.fileSize))
      .Bind(11, static_cast<int64_t>(record.pieceOffset))
      .Bind(12, static_cast<int64_t>(record.pieceLength))
      .Bind(13, record.modifyTime)
      .Bind(14, static_cast<int64_t>(record.mode))
      .Bind(15, record.metadata)
      .Bind(16, record.content)
      .Bind(17, record.sha256)
      .Bind(18, record.backupTime);
  error = s.Run();
  s.Reset();
  if (!error.IsError()) record.recordId = db_.LastInsertId();
  return error;
}

CQiError CIndexCatalog::CommitFileRecord(SFileRecord& record) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.InTransaction([&]() -> CQiError { return InsertFileRecord(record); });
  if (error.IsError()) {
    record.recordId = 0;
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::CommitFileRecords(std::vector<SFileRecord>& records) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.InTransaction([&]() -> CQiError {
    for (SFileRecord& record : records) {
      CQiError inserted = InsertFileRecord(record);
      if (inserted.IsError()) return inserted;
    }
    return CQiError::Success();
  });
  if (error.IsError()) {
    for (SFileRecord& record : records) record.recordId = 0;
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::QueryFileRecords(const std::string& where,
                                         const std::function<void(CSqliteStatement&)>& bind,
                                         std::vector<SFileRecord>& records) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  records.clear();
  CQiError error =
      db_.Query(std::string("SELECT ") + kFileColumns + " FROM file_records f " + where, bind,
                [&](CSqliteStatement& row) { records.push_back(CatalogSql::ReadFileRecord(row)); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::ListFileRecords(int64_t jobId, std::vector<SFileRecord>& records) {
  return QueryFileRecords(
      "WHERE f.job_id=?1 ORDER BY f.record_id", [&](CSqliteStatement& s) { s.Bind(1, jobId); },
      records);
}

CQiError CIndexCatalog::FindFileRecords(int64_t jobId, const std::string& headerPath,
                                        std::vector<SFileRecord>& records) {
  return QueryFileRecords(
      "WHERE f.job_id=?1 AND f.header_path=?2 ORDER BY f.record_id",
      [&](CSqliteStatement& s) { s.Bind(1, jobId).Bind(2, headerPath); }, records);
}

CQiError CIndexCatalog::FindFileRecordsBySource(int64_t jobId, const std::string& sourcePath,
                                                std::vector<SFileRecord>& records) {
  return QueryFileRecords(
      "WHERE f.job_id=?1 AND f.source_path=?2 ORDER BY f.record_id",
      [&](CSqliteStatement& s) { s.Bind(1, jobId).Bind(2, sourcePath); }, records);
}

CQiError CIndexCatalog::QueryFileRecordsUnder(const SBrowseScope& scope, const std::string& prefix,
                                              std::vector<SFileRecord>& records) {
  records.clear();
  return ForEachFileRecordUnder(scope, prefix, [&](const SFileRecord& record) {
    records.push_back(record);
    return CQiError::Success();
  });
}

CQiError CIndexCatalog::ForEachFileRecordUnder(
    const SBrowseScope& scope, const std::string& prefix,
    const std::function<CQiError(const SFileRecord&)>& visit) {
  std::string where =
      "JOIN jobs j ON j.job_id = f.job_id WHERE " + CatalogSql::ScopeCondition("f.backup_time");
  bool all = prefix.empty() || prefix == "/";
  if (!all) where += " AND (f.header_path = ?1 OR (f.header_path >= ?2 AND f.header_path < ?3))";
  where += " ORDER BY f.header_path, f.record_id";
  return ForEachFileRecord(
      where,
      [&](CSqliteStatement& s) {
        CatalogSql::BindScope(s, scope);
        if (!all) s.Bind(1, prefix).Bind(2, prefix + "/").Bind(3, prefix + "0");
      },
      visit);
}

CQiError CIndexCatalog::ForEachFileRecordOfJobs(
    const std::vector<int64_t>& jobIds, const std::function<CQiError(const SFileRecord&)>& visit) {
  if (jobIds.empty()) return CQiError::Success();
  std::string where = "WHERE f.job_id IN (";
  for (size_t i = 0; i < jobIds.size(); ++i) {
    where += (i == 0 ? "?" : ",?") + std::to_string(i + 1);
  }
  where += ") ORDER BY f.header_path, f.job_id, f.record_id";
  return ForEachFileRecord(
      where,
      [&](CSqliteStatement& s) {
        for (size_t i = 0; i < jobIds.size(); ++i) s.Bind(static_cast<int>(i + 1), jobIds[i]);
      },
      visit);
}

CQiError CIndexCatalog::ForEachFileRecord(
    const std::string& where, const std::function<void(CSqliteStatement&)>& bind,
    const std::function<CQiError(const SFileRecord&)>& visit) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CSqliteStatement statement;
  CQiError error = db_.Prepare(
      std::string("SELECT ") + kFileColumns + " FROM file_records f " + where, statement);
  if (error.IsError()) return error.Push(FXLOC);
  bind(statement);
  for (;;) {
    bool row = false;
    error = statement.Step(row);
    if (error.IsError()) return error.Push(FXLOC);
    if (!row) return CQiError::Success();
    error = visit(CatalogSql::ReadFileRecord(statement));
    if (error.IsError()) return error;
  }
}
