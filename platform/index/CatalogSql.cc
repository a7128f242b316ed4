#include "platform/index/CatalogSql.h"

namespace CatalogSql {

const char* const kFileColumns =
    "f.record_id, f.job_id, f.afile_id, f.header_path, f.source_path, f.object_guid, "
    "f.is_directory, f.file_type, f.item_flags, f.object_flags, f.file_size, f.piece_offset, "
    "f.piece_length, f.modify_time, f.mode, f.metadata, f.content, f.sha256, f.backup_time";

SFileRecord ReadFileRecord(const CSqliteStatement& s) {
  SFileRecord r;
  r.recordId = s.ColumnInt(0);
  r.jobId = s.ColumnInt(1);
  r.archiveFileId = s.ColumnInt(2);
  r.headerPath = s.ColumnText(3);
  r.sourcePath = s.ColumnText(4);
  r.objectGuid = s.ColumnText(5);
  r.isDirectory = s.ColumnInt(6) != 0;
  r.hasFileType = !s.ColumnIsNull(7);
  r.fileType = r.hasFileType ? s.ColumnInt(7) : 0;
  r.itemFlags = static_cast<uint64_t>(s.ColumnInt(8));
  r.objectFlags = static_cast<uint32_t>(s.ColumnInt(9));
  r.fileSize = static_cast<uint64_t>(s.ColumnInt(10));
  r.pieceOffset = static_cast<uint64_t>(s.ColumnInt(11));
  r.pieceLength = static_cast<uint64_t>(s.ColumnInt(12));
  r.modifyTime = s.ColumnInt(13);
  r.mode = static_cast<uint32_t>(s.ColumnInt(14));
  r.metadata = s.ColumnText(15);
  r.content = s.ColumnText(16);
  r.sha256 = s.ColumnText(17);
  r.backupTime = s.ColumnInt(18);
  return r;
}

const char* const kMetadataColumns =
    "m.entry_id, m.session_id, m.job_id, m.afile_id, m.view_name, m.path, m.object_guid, "
    "m.parent_guid, m.component_id, m.record_guid, m.xml, m.sent_time";

SMetadataRecord ReadMetadata(const CSqliteStatement& s) {
  SMetadataRecord r;
  r.entryId = s.ColumnInt(0);
  r.sessionId = s.ColumnInt(1);
  r.jobId = s.ColumnInt(2);
  r.archiveFileId = s.ColumnInt(3);
  r.viewName = s.ColumnText(4);
  r.path = s.ColumnText(5);
  r.objectGuid = s.ColumnText(6);
  r.parentGuid = s.ColumnText(7);
  r.componentId = s.ColumnText(8);
  r.recordGuid = s.ColumnText(9);
  r.xml = s.ColumnText(10);
  r.sentTime = s.ColumnInt(11);
  return r;
}

std::string ScopeCondition(const std::string& timeColumn) {
  return "(?101 <= 0 OR j.ombrel_id = 0 OR j.ombrel_id = ?101)"
         " AND (?102 <= 0 OR j.instance_id = 0 OR j.instance_id = ?102)"
         " AND (?103 <= 0 OR j.backupset_id = 0 OR j.backupset_id = ?103)"
         " AND (?104 <= 0 OR j.subclient_id = 0 OR j.subclient_id = ?104)"
         " AND (?105 <= 0 OR j.app_type = 0 OR j.app_type = ?105)"
         " AND (?106 <= 0 OR " +
         timeColumn + " >= ?106) AND (?107 <= 0 OR " + timeColumn + " <= ?107)";
}

void BindScope(CSqliteStatement& s, const SBrowseScope& scope) {
  s.Bind(101, scope.ombrelId)
      .Bind(102, scope.instanceId)
      .Bind(103, scope.backupsetId)
      .Bind(104, scope.subclientId)
      .Bind(105, scope.appType)
      .Bind(106, scope.fromTime)
      .Bind(107, scope.toTime);
}

}  // namespace CatalogSql
