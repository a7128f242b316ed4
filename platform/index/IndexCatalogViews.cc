// Index sessions, view entries, their file records and restart information of
// CIndexCatalog.
#include "platform/base/FXErrorUtil.h"
#include "platform/index/CatalogSql.h"
#include "platform/index/IndexCatalog.h"

using CatalogSql::kMetadataColumns;

namespace {

const char* const kSessionColumns =
    "session_id, ombrel_id, app_id, app_type, backup_level, job_token, media_agent, client_name, "
    "job_id, afile_id, start_time, done, done_value";

}  // namespace

CQiError CIndexCatalog::CreateSession(SIndexSessionRecord& session) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.Execute(
      "INSERT INTO index_sessions(ombrel_id, app_id, app_type, backup_level, job_token, "
      "media_agent, client_name, start_time) VALUES(?1,?2,?3,?4,?5,?6,?7,?8)",
      [&](CSqliteStatement& s) {
        s.Bind(1, static_cast<int64_t>(session.ombrelId))
            .Bind(2, static_cast<int64_t>(session.appId))
            .Bind(3, session.appType)
            .Bind(4, static_cast<int64_t>(session.backupLevel))
            .Bind(5, session.jobToken)
            .Bind(6, session.mediaAgent)
            .Bind(7, session.clientName)
            .Bind(8, session.startTime);
      });
  if (error.IsError()) return error.Push(FXLOC);
  session.sessionId = db_.LastInsertId();
  return CQiError::Success();
}

CQiError CIndexCatalog::AttachArchiveFile(int64_t sessionId, int64_t jobId, int64_t archiveFileId) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.Execute(
      "UPDATE index_sessions SET job_id=?2, afile_id=?3 WHERE session_id=?1",
      [&](CSqliteStatement& s) { s.Bind(1, sessionId).Bind(2, jobId).Bind(3, archiveFileId); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::CloseSession(int64_t sessionId, int64_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.Execute(
      "UPDATE index_sessions SET done=1, done_value=?2, done_time=strftime('%s','now') "
      "WHERE session_id=?1",
      [&](CSqliteStatement& s) { s.Bind(1, sessionId).Bind(2, value); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::GetSession(int64_t sessionId, SIndexSessionRecord& session, bool& found) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  found = false;
  CQiError error = db_.Query(
      std::string("SELECT ") + kSessionColumns + " FROM index_sessions WHERE session_id=?1",
      [&](CSqliteStatement& s) { s.Bind(1, sessionId); },
      [&](CSqliteStatement& row) {
        found = true;
        session.sessionId = row.ColumnInt(0);
        session.ombrelId = static_cast<uint32_t>(row.ColumnInt(1));
        session.appId = static_cast<uint32_t>(row.ColumnInt(2));
        session.appType = row.ColumnInt(3);
        session.backupLevel = static_cast<int>(row.ColumnInt(4));
        session.jobToken = row.ColumnText(5);
        session.mediaAgent = row.ColumnText(6);
        session.clientName = row.ColumnText(7);
        session.jobId = row.ColumnInt(8);
        session.archiveFileId = row.ColumnInt(9);
        session.startTime = row.ColumnInt(10);
        session.done = row.ColumnInt(11) != 0;
        session.doneValue = row.ColumnInt(12);
      });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::InsertMetadata(SMetadataRecord& record) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.Execute(
      "INSERT INTO metadata_records(session_id, job_id, afile_id, view_name, path, object_guid, "
      "parent_guid, component_id, record_guid, xml, sent_time) "
      "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)",
      [&](CSqliteStatement& s) {
        s.Bind(1, record.sessionId)
            .Bind(2, record.jobId)
            .Bind(3, record.archiveFileId)
            .Bind(4, record.viewName)
            .Bind(5, record.path)
            .Bind(6, record.objectGuid)
            .Bind(7, record.parentGuid)
            .Bind(8, record.componentId)
            .Bind(9, record.recordGuid)
            .Bind(10, record.xml)
            .Bind(11, record.sentTime);
      });
  if (error.IsError()) return error.Push(FXLOC);
  record.entryId = db_.LastInsertId();
  return CQiError::Success();
}

CQiError CIndexCatalog::InsertEntryRecord(SEntryRecord& record) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.InTransaction([&]() -> CQiError {
    CQiError error;
    error = db_.Execute(
        "INSERT INTO entry_records(session_id, job_id, afile_id, sequence, path, object_guid, "
        "header_type, header_version, flags, header_time, sent_time) "
        "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)",
        [&](CSqliteStatement& s) {
          s.Bind(1, record.sessionId)
              .Bind(2, record.jobId)
              .Bind(3, record.archiveFileId)
              .Bind(4, record.sequence)
              .Bind(5, record.path)
              .Bind(6, record.objectGuid)
              .Bind(7, static_cast<int64_t>(record.headerType))
              .Bind(8, static_cast<int64_t>(record.headerVersion))
              .Bind(9, static_cast<int64_t>(record.flags))
              .Bind(10, record.headerTime)
              .Bind(11, record.sentTime);
        });
    if (!error.IsError()) {
      record.recordId = db_.LastInsertId();
      error = db_.Execute(
          "UPDATE metadata_records SET path=?3 WHERE session_id=?1 AND object_guid=?2 AND path=''",
          [&](CSqliteStatement& u) {
            u.Bind(1, record.sessionId).Bind(2, record.objectGuid).Bind(3, record.path);
          });
    }
    return error;
  });
  if (error.IsError()) {
    record.recordId = 0;
    return error.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CIndexCatalog::ListEntryRecords(int64_t jobId, std::vector<SEntryRecord>& records) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  records.clear();
  CQiError error = db_.Query(
      "SELECT record_id, session_id, job_id, afile_id, sequence, path, object_guid, header_type, "
      "header_version, flags, header_time, sent_time FROM entry_records WHERE job_id=?1 "
      "ORDER BY record_id",
      [&](CSqliteStatement& s) { s.Bind(1, jobId); },
      [&records](CSqliteStatement& row) {
        SEntryRecord r;
        r.recordId = row.ColumnInt(0);
        r.sessionId = row.ColumnInt(1);
        r.jobId = row.ColumnInt(2);
        r.archiveFileId = row.ColumnInt(3);
        r.sequence = row.ColumnInt(4);
        r.path = row.ColumnText(5);
        r.objectGuid = row.ColumnText(6);
        r.headerType = static_cast<uint32_t>(row.ColumnInt(7));
        r.headerVersion = static_cast<uint32_t>(row.ColumnInt(8));
        r.flags = static_cast<uint64_t>(row.ColumnInt(9));
        r.headerTime = row.ColumnInt(10);
        r.sentTime = row.ColumnInt(11);
        records.push_back(r);
      });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::SetRestartInfo(int64_t jobId, int64_t sessionId, int64_t value) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  CQiError error = db_.Execute(
      "INSERT INTO restart_info(job_id, session_id, value, update_time) "
      "VALUES(?1,?2,?3,strftime('%s','now')) ON CONFLICT(job_id) DO UPDATE SET "
      "session_id=?2, value=?3, update_time=strftime('%s','now')",
      [&](CSqliteStatement& s) { s.Bind(1, jobId).Bind(2, sessionId).Bind(3, value); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::GetRestartInfo(int64_t jobId, int64_t& value, bool& found) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  found = false;
  CQiError error = db_.Query(
      "SELECT value FROM restart_info WHERE job_id=?1",
      [&](CSqliteStatement& s) { s.Bind(1, jobId); },
      [&](CSqliteStatement& row) {
        value = row.ColumnInt(0);
        found = true;
      });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::QueryMetadata(const std::string& sql,
                                      const std::function<void(CSqliteStatement&)>& bind,
                                      std::vector<SMetadataRecord>& records) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  records.clear();
  CQiError error = db_.Query(
      sql, bind, [&](CSqliteStatement& row) { records.push_back(CatalogSql::ReadMetadata(row)); });
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

namespace {

// The latest entry of every object GUID that `condition` (on alias m2)
// selects among the jobs in scope.
std::string LatestEntriesSql(const std::string& condition) {
  return std::string("SELECT ") + kMetadataColumns +
         " FROM metadata_records m WHERE m.entry_id IN (SELECT MAX(m2.entry_id) FROM "
         "metadata_records m2 JOIN jobs j ON j.job_id = m2.job_id WHERE m2.view_name = ?1 AND " +
         condition + " AND " + CatalogSql::ScopeCondition("m2.sent_time") +
         " GROUP BY m2.object_guid) ORDER BY m.path, m.entry_id";
}

}  // namespace

CQiError CIndexCatalog::LatestMetadataByGuid(const SBrowseScope& scope, const std::string& view,
                                             const std::string& objectGuid, SMetadataRecord& record,
                                             bool& found) {
  std::vector<SMetadataRecord> records;
  CQiError error = QueryMetadata(
      LatestEntriesSql("m2.object_guid = ?2"),
      [&](CSqliteStatement& s) {
        s.Bind(1, view).Bind(2, objectGuid);
        CatalogSql::BindScope(s, scope);
      },
      records);
  if (error.IsError()) return error.Push(FXLOC);
  found = !records.empty();
  if (found) record = records.front();
  return CQiError::Success();
}

CQiError CIndexCatalog::LatestMetadataByParent(const SBrowseScope& scope, const std::string& view,
                                               const std::string& parentGuid,
                                               std::vector<SMetadataRecord>& records) {
  CQiError error = QueryMetadata(
      LatestEntriesSql("m2.parent_guid = ?2"),
      [&](CSqliteStatement& s) {
        s.Bind(1, view).Bind(2, parentGuid);
        CatalogSql::BindScope(s, scope);
      },
      records);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::LatestMetadataUnder(const SBrowseScope& scope, const std::string& view,
                                            const std::string& prefix,
                                            std::vector<SMetadataRecord>& records) {
  bool all = prefix.empty() || prefix == "/";
  CQiError error = QueryMetadata(
      LatestEntriesSql(all ? "1" : "m2.path >= ?2 AND m2.path < ?3"),
      [&](CSqliteStatement& s) {
        s.Bind(1, view);
        if (!all) s.Bind(2, prefix + "/").Bind(3, prefix + "0");
        CatalogSql::BindScope(s, scope);
      },
      records);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CIndexCatalog::ListMetadata(int64_t jobId, std::vector<SMetadataRecord>& records) {
  CQiError error = QueryMetadata(
      std::string("SELECT ") + kMetadataColumns +
          " FROM metadata_records m WHERE m.job_id = ?1 ORDER BY m.entry_id",
      [&](CSqliteStatement& s) { s.Bind(1, jobId); }, records);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}
