// What the restore coordinator reads back from the backup's index views: the
// node backup times ("NodeMetaData"), whose earliest is the backup reference
// time of a point-in-time restore, and the keyspace and table schemas with
// the DSE key entries of encrypted tables ("DBView").

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/CassandraCqlText.h"
#include "common/CassandraIndexBrowseRequest.h"
#include "common/CassandraRestoreClientConfig.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/base/QiPath.h"
#include "platform/index/IdxBrowseClient.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/TQPassword.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

constexpr const char* kNodeView = "NodeMetaData";
constexpr const char* kSchemaView = "DBView";

int64_t Narrow32(int64_t value) { return static_cast<int32_t>(value); }

// Decrypts a value the backup stored with the suite's password cipher.
bool Decrypt(const std::string& cipherText, std::string& plain) {
  std::vector<char> buffer(std::max<size_t>(1024, cipherText.size() + 1));
  unsigned int length = static_cast<unsigned int>(buffer.size());
  if (TQPassword().decrypt(cipherText.c_str(), buffer.data(), length) == 0) return false;
  plain.assign(buffer.data(), std::min<size_t>(length, buffer.size()));
  return true;
}

}  // namespace

std::string CCassandraRestores::jobResultsFile(const char* prefix) const {
  std::string directory = restoreClientConfig ? restoreClientConfig->getJobResultsDirectory() : "";
  const long long jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
  char name[128];
  snprintf(name, sizeof name, "%s%lld", prefix, jobId);
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory + name;
}

CQiError CCassandraRestores::browseIndexView(
    const std::string& view, const std::vector<std::string>& paths,
    const std::function<CQiError(const databrowse::BrowseData&)>& visit) {
  TqEntities::AppIdEntity application;
  application.setOmbrelId(Narrow32(restoreClientConfig ? restoreClientConfig->getOmbrelId() : 0));
  application.setSubclientId(-1);
  application.setBackupsetId(
      Narrow32(restoreTask ? static_cast<int64_t>(restoreTask->getBackupSetId()) : 0));
  application.setInstanceId(Narrow32(static_cast<int64_t>(sourceInstanceId)));
  application.setAppType(
      Narrow32(restoreClientConfig ? restoreClientConfig->getApplicationType() : 0));
  const FSRFIRInitData& init = getRestoreInitData();
  application.setClientId(Narrow32(static_cast<int64_t>(init.clientId)));

  databrowse::BrowseRequest request = MakeIndexViewBrowseRequest(view, paths, application);
  databrowse::TimeRange range;
  range.setToTime(Narrow32(init.toTime));
  range.setFromTime(Narrow32(init.fromTime));
  request.setTimeRange(range);
  std::optional<databrowse::BrowseViewSpec> viewSpec = request.getViewSpec();
  if (viewSpec) {
    viewSpec->setCopyPrecedence(static_cast<int64_t>(static_cast<uint32_t>(init.copyPrecedence)));
    request.setViewSpec(*viewSpec);
  }

  databrowse::BrowseResponseList responses;
  CQiError browsed = RunIndexViewBrowse(request, responses);
  if (browsed.IsError()) return browsed.Push(FXLOC);
  for (const databrowse::BrowseResponse& response : responses.getResponses()) {
    std::optional<databrowse::BrowseResult> result = response.getResult();
    if (!result) continue;
    for (const databrowse::BrowseData& data : result->getData()) {
      TQLOG(0, " Data path [%s]", data.getPath().c_str());
      CQiError e = visit(data);
      if (e.IsError()) return e;
    }
  }
  return CQiError::Success();
}

std::string CCassandraRestores::withTableIdClause(const std::string& cql,
                                                  const std::string& id) const {
  if (id.empty()) return cql;
  std::vector<std::string> version;
  FXString::Split(destInstanceVersion, ".", version);
  if (version.size() < 2) return cql;
  char* end = nullptr;
  const unsigned long major = strtoul(version[0].c_str(), &end, 10);
  if (end == version[0].c_str() || major <= 2) return cql;

  const std::string clause = " AND ID = '" + id + "';";
  // Only the semicolons that end statements count: one inside a literal or
  // a comment (a table comment, say) is text of the statement.
  std::vector<std::string> parts = CassandraCqlText::SplitStatements(cql);
  if (parts.size() == 2) return parts[0] + parts[1] + clause;
  parts[0] += clause;
  std::string out;
  for (const std::string& part : parts) {
    if (!part.empty()) out += part + ";";
  }
  return out;
}

CQiError CCassandraRestores::addTableRecord(cassandraCqlStatements& entry,
                                            const std::string& keyspace, const std::string& table,
                                            const IdxMetadata::CassandraTableMetadata& meta) {
  TQLOG(0, " Table metadata ");
  std::string cql = CassandraCqlText::FlattenLineFeeds(meta.getCql());
  cql = withTableIdClause(cql, meta.getTableId());

  if (meta.getEncrypted() != 0) {
    std::optional<IdxMetadata::CassandraEncryptionInfo> encryption = meta.getEncryption();
    if (!encryption) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13,
                                     "The index holds no encryption keys for the encrypted table "
                                     "%s.%s",
                                     keyspace.c_str(), table.c_str());
    }
    const std::string path = encryption->getKeyFile();
    cassandraDSEEncryptedTableRow row;
    row.keyFileName = CQiPath::GetBaseName(path.c_str()).str();
    row.strength = static_cast<uint32_t>(static_cast<int32_t>(encryption->getStrength()));
    // A key that cannot be decrypted would be copied or inserted as garbage:
    // the table is not restored with it.
    std::string content;
    struct Field {
      const std::string cipherText;
      std::string* plain;
      const char* log;
    } fields[] = {
        {encryption->getKeyFileContent(), &content,
         "Failed to decrypt the content for the key file %s"},
        {encryption->getCipher(), &row.cipher, "Failed to decrypt the Cipher for the key file %s"},
        {encryption->getKey(), &row.key, "Failed to decrypt the key for the key file %s"},
        {encryption->getKeyId(), &row.keyId, "Failed to decrypt the key_id for the key file %s"},
    };
    for (const Field& field : fields) {
      if (!Decrypt(field.cipherText, *field.plain)) {
        TQLOG(-1, field.log, path.c_str());
        return FXErrorUtil::ErrorWin32(FXLOC, 13,
                                       "The encryption key of table %s.%s (key file %s) cannot be "
                                       "decrypted",
                                       keyspace.c_str(), table.c_str(), path.c_str());
      }
    }
    systemKeyFiles.emplace(path, content);
    encryptedTableRows.push_back(row);
  }
  entry.tableCqls.push_back(cql);
  tablesQueued.insert(std::make_pair(keyspace, table));
  return CQiError::Success();
}

CQiError CCassandraRestores::QueryCassandraView(bool fetchSchemas, std::vector<std::string> paths) {
  TQ_DEBUG_FUNCTION();
  std::vector<std::string> nodePaths;
  for (const std::string& name : sourceClientNames) {
    nodePaths.push_back("/" + name);
    TQLOG(0, " path [%s] ", nodePaths.back().c_str());
  }
  backupRefTime = 0;
  CQiError e = browseIndexView(kNodeView, nodePaths, [this](const databrowse::BrowseData& data) {
    const std::string path = data.getPath();
    if (std::count(path.begin(), path.end(), '/') != 1) return CQiError::Success();
    TQLOG(0, "Node metadata: %s", path.c_str());
    std::optional<databrowse::BrowseItemDetails> details = data.getDetails();
    std::optional<IdxMetadata::IdxMetaData> metadata;
    if (details) metadata = details->getMetadata();
    std::optional<IdxMetadata::CassandraNodeMetadata> node;
    if (metadata) node = metadata->getNodeMetadata();
    const int64_t time = node ? node->getBackupTime() : 0;
    if (backupRefTime == 0 || time < backupRefTime) backupRefTime = time;
    return CQiError::Success();
  });
  if (e.IsError()) return e.Push(FXLOC);

  // The point-in-time phase replays from this time on: a file that cannot be
  // written is an error, not a restore from an unknown time.
  const std::string refTimeFile = jobResultsFile("BackupRefTime_");
  FILE* file = fopen(refTimeFile.c_str(), "w");
  if (!file) {
    return FXErrorUtil::ErrorErrNo(FXLOC, errno, "Failed to write the backup reference time to %s",
                                   refTimeFile.c_str());
  }
  const bool written = fprintf(file, "%lld", static_cast<long long>(backupRefTime)) > 0;
  const bool closed = fclose(file) == 0;
  if (!written || !closed) {
    const int error = errno;
    remove(refTimeFile.c_str());
    return FXErrorUtil::ErrorErrNo(FXLOC, error ? error : EIO,
                                   "Failed to write the backup reference time to %s",
                                   refTimeFile.c_str());
  }

  if (!fetchSchemas) return CQiError::Success();
  if (paths.empty()) {
    TQLOG(0, "No keyspaces/tables for which metadata has to be looked up.");
    return CQiError::Success();
  }

  std::vector<std::string> schemaPaths;
  for (const std::string& path : paths) {
    TQLOG(0, " path [%s] ", path.c_str());
    schemaPaths.push_back(path);
    schemaPaths.push_back(path + "/*");
  }
  e = browseIndexView(kSchemaView, schemaPaths, [this](const databrowse::BrowseData& data) {
    std::vector<std::string> tokens;
    FXString::Split(data.getPath(), "/", tokens);
    std::optional<databrowse::BrowseItemDetails> details = data.getDetails();
    std::optional<IdxMetadata::IdxMetaData> metadata;
    if (details) metadata = details->getMetadata();

    if (tokens.size() == 2) {
      const std::string& keyspace = tokens[1];
      TQLOG(0, "Keyspace: %s", keyspace.c_str());
      cassandraCqlStatements& entry = keyspaceSchemas[keyspace];
      entry.keyspaceName = keyspace;
      // A keyspace met again (another record, or a path of the selection)
      // keeps the answer it had.
      if (keyspacesChecked.insert(keyspace).second) {
        bool exists = false;
        CQiError error = checkExistence(keyspace, std::string(), exists);
        if (error.IsError()) return error.Push(FXLOC);
        TQLOG(0, exists ? " Keyspace found [%s] " : " Keyspace not found [%s] ", keyspace.c_str());
        entry.keyspaceExists = exists;
      }
      TQLOG(0, " Keyspace metadata [%s]", keyspace.c_str());
      std::optional<IdxMetadata::CassandraKeyspaceMetadata> meta;
      if (metadata) meta = metadata->getKeyspaceMetadata();
      entry.keyspaceCql = CassandraCqlText::FlattenLineFeeds(meta ? meta->getCql() : "");
      return CQiError::Success();
    }
    if (tokens.size() != 3) return CQiError::Success();

    const std::string& keyspace = tokens[1];
    const std::string& table = tokens[2];
    cassandraCqlStatements& entry = keyspaceSchemas[keyspace];
    if (entry.keyspaceName.empty()) entry.keyspaceName = keyspace;
    bool create = false;
    auto known = entry.tableExists.find(table);
    if (known == entry.tableExists.end()) {
      bool exists = false;
      CQiError error = checkExistence(keyspace, table, exists);
      if (error.IsError()) return error.Push(FXLOC);
      entry.tableExists[table] = exists;
      if (!exists) {
        TQLOG(0, " Table not found [%s] ", table.c_str());
        create = true;
      } else {
        TQLOG(0, " Table found [%s] ", table.c_str());
        TQLOG(0, " Keyspace found [%s] ", keyspace.c_str());
        entry.keyspaceExists = true;
      }
    } else {
      create = !known->second;
    }
    // A table met in several records is created once.
    if (!create || tablesQueued.count(std::make_pair(keyspace, table))) {
      return CQiError::Success();
    }
    std::optional<IdxMetadata::CassandraTableMetadata> meta;
    if (metadata) meta = metadata->getTableMetadata();
    if (!meta) return CQiError::Success();
    CQiError error = addTableRecord(entry, keyspace, table, *meta);
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  });
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
