// The backup coordinator's records in the index: the views "NodeMetaData"
// (each node's last data backup time) and "DBView" (every backed-up keyspace
// and table with its schema, and for DSE-encrypted tables the system key,
// encrypted), written at the end of every backup job.

#include <string.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "backup/CassandraMetaKeyspace.h"
#include "common/CassandraIndexBrowseRequest.h"
#include "platform/app/ApplicationId.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/base/QiFile.h"
#include "platform/framework/NodeInfo.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/index/IdxBrowseClient.h"
#include "platform/index/IndexingConnection.h"
#include "platform/index/ObjectGuid.h"
#include "platform/index/XFileHeader.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/IndexMetadataRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/SuiteRecordTypes.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQPassword.h"

namespace TQCassandra {

namespace {

constexpr uint32_t EV_SYSTEM_KEY_UNREADABLE = 0x600046F;
constexpr uint32_t EV_DSE_YAML_UNREADABLE = 0x600001E;

constexpr const char* kNodeView = "NodeMetaData";
constexpr const char* kSchemaView = "DBView";
constexpr const char* kDefaultDseYaml = "/etc/dse/dse.yaml";

// The file record sent beside every view entry.
constexpr uint32_t kEntryHeaderType = 0x50C0;
constexpr uint32_t kEntryHeaderVersion = 0x404;
constexpr uint64_t kKeyspaceEntryFlags = 0x4000;

// Capacity of the buffer each encrypted key value is written into.
constexpr unsigned int kEncryptedValueCapacity = 1024;

std::string Guid(const std::string& text) {
  std::string guid;
  GetObjectGuid(text.c_str(), 0, '/', guid);
  return guid;
}

// The parent of an index path without its trailing "/"; "/" for a top entry.
std::string ParentPath(const std::string& path) {
  CQiString parent, name;
  FXPath::SplitParentPath(path.c_str(), parent, name);
  std::string text = parent.str();
  FXString::TrimRight(text, "/");
  return text.empty() ? "/" : text;
}

// Sets the header and the version identity of an entry at `path`.
void PlaceEntry(IdxMetadata::IdxMetaData& record, const std::string& viewName,
                const std::string& componentId, const std::string& path) {
  IdxMetadata::IdxViewInfo view;
  view.setViewName(viewName);
  view.setComponentId(componentId);
  IdxMetadata::IdxObjectHeader header;
  header.setView(view);
  header.setObjectGuid(Guid(path));
  header.setParentGuid(Guid(ParentPath(path)));
  record.setHeader(header);
  IdxMetadata::IdxRecordId recordId;
  recordId.setRecordGuid(
      Guid(FXString::Format("%s.%lld", path.c_str(), static_cast<long long>(time(nullptr)))));
  record.setRecordId(recordId);
}

// Sends each view entry and the file record beside it; the file records are
// numbered 1, 2, 3, ... over the whole write. A record the index does not
// accept is logged and the write goes on.
class EntrySender {
 public:
  EntrySender(IndexingConnection& index, int32_t headerTime)
      : index_(index), header_(new CXFileHeader), headerTime_(headerTime) {
    std::memset(header_.get(), 0, sizeof(CXFileHeader));
  }

  void Send(const IdxMetadata::IdxMetaData& record, const std::string& path, uint64_t flags,
            const char* kind) {
    if (index_.sendMetaDataInfo(record) != 0) {
      TQLOG(-1, "Failed to send metadata for %s", kind);
      TQLOG(1, "%s: %s", path.c_str(), index_.getLastError().AsString(2).c_str());
    }
    header_->type = kEntryHeaderType;
    header_->version = kEntryHeaderVersion;
    header_->flags = flags;
    header_->time = headerTime_;
    header_->SetPath(path);
    if (index_.sendFileInfo(*header_, ++sequence_, nullptr, 0) != 0) {
      TQLOG(-1, "Failed to send file info for %s", kind);
      TQLOG(1, "%s: %s", path.c_str(), index_.getLastError().AsString(2).c_str());
    }
  }

 private:
  IndexingConnection& index_;
  std::unique_ptr<CXFileHeader> header_;
  int64_t headerTime_;
  int64_t sequence_ = 0;
};

// Members of Priam's JSON replies, read without ever raising: a member of an
// unexpected type reads as absent.
std::string TextOf(const TqJson::Object& object, const std::string& name) {
  TqJson::Value value;
  if (!TqJson::FindValue(object, name, value) || !value.isString()) return std::string();
  return value.getStr();
}

bool BoolOf(const TqJson::Object& object, const std::string& name) {
  TqJson::Value value;
  return TqJson::FindValue(object, name, value) && value.isBool() && value.getBool();
}

// A number given as a JSON number or as its text (Cassandra keeps replication
// factors as text); the text is read as atoi reads it.
int64_t NumberOf(const TqJson::Value& value) {
  if (value.isInt()) return value.getInt64();
  if (value.isReal()) return static_cast<int64_t>(value.getReal());
  if (value.isString()) return std::atoi(value.getStr().c_str());
  return 0;
}

int64_t NumberOf(const TqJson::Object& object, const std::string& name) {
  TqJson::Value value;
  return TqJson::FindValue(object, name, value) ? NumberOf(value) : 0;
}

bool ObjectOf(const TqJson::Object& object, const std::string& name, TqJson::Object& out) {
  TqJson::Value value;
  if (!TqJson::FindValue(object, name, value) || !value.isObject()) return false;
  out = value.getObject();
  return true;
}

std::vector<IdxMetadata::CassandraReplicationInfo> ReplicationRows(
    const std::string& replicationClass, const TqJson::Object& replication,
    const std::set<std::string>& dataCenters) {
  std::vector<IdxMetadata::CassandraReplicationInfo> rows;
  auto add = [&rows](const std::string& dataCenter, const TqJson::Value& factor) {
    IdxMetadata::CassandraReplicationInfo row;
    row.setDataCenter(dataCenter);
    row.setReplicationFactor(static_cast<uint32_t>(NumberOf(factor)));
    rows.push_back(row);
  };
  if (replicationClass.find("SimpleStrategy") != std::string::npos) {
    TqJson::Value factor;
    TqJson::FindValue(replication, "replication_factor", factor);
    for (const auto& dataCenter : dataCenters) add(dataCenter, factor);
  } else if (replicationClass.find("NetworkTopologyStrategy") != std::string::npos) {
    for (const auto& member : replication) {
      if (member.first != "class") add(member.first, member.second);
    }
  }
  return rows;
}

// Encrypts one value with the suite's password cipher into a buffer of its
// own, whose full capacity the cipher may use.
bool EncryptValue(const char* plain, std::string& out) {
  std::vector<char> buffer(kEncryptedValueCapacity, '\0');
  unsigned int length = kEncryptedValueCapacity;
  if (!TQPassword().encrypt(plain, buffer.data(), length)) return false;
  out.assign(buffer.data(), length);
  return true;
}

// A key file's content, wiped from memory when it goes away.
class KeyFileContent {
 public:
  ~KeyFileContent() {
    if (buffer_) {
      explicit_bzero(buffer_, length_);
      delete[] buffer_;
    }
  }
  CQiError Read(const std::string& path) {
    return CQiFile::ReadWholeFile(path.c_str(), buffer_, length_);
  }
  const char* text() const { return buffer_; }
  size_t length() const { return length_; }

 private:
  char* buffer_ = nullptr;
  size_t length_ = 0;
};

// True when `path` is below `folder` by whole components.
bool IsBelow(const std::string& path, const std::string& folder) {
  if (folder == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

// The path of the key file `named` (a name below the system key folder, or a
// path into it) in `keyFile`. False when it could lead elsewhere: empty, a
// ".." component, an absolute path outside the folder, or an existing file
// whose real path (links resolved) lies outside the folder's real path.
bool KeyFileInFolder(const std::string& named, const std::string& folder, std::string& keyFile) {
  if (named.empty() || folder.empty()) return false;
  std::vector<std::string> parts;
  FXString::Split(named, "/", parts, FXString::kKeepEmpty);
  for (const std::string& part : parts) {
    if (part == "..") return false;
  }
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (named.front() == '/') {
    if (!IsBelow(named, base)) return false;
    keyFile = named;
  } else {
    keyFile = base;
    FXPath::Append(keyFile, named);
  }
  char* realFile = ::realpath(keyFile.c_str(), nullptr);
  if (realFile == nullptr) return true;  // missing: reading it reports that
  const std::string file = realFile;
  std::free(realFile);
  char* realFolder = ::realpath(base.c_str(), nullptr);
  const std::string resolved = realFolder ? realFolder : std::string();
  std::free(realFolder);
  return !resolved.empty() && IsBelow(file, resolved);
}

// The encryption settings of a DSE-encrypted table: the system key file's
// path, the strength, and the key file's content, "cipher", "key" and
// "key_id" encrypted with the suite's password cipher. A key file that cannot
// be read sets the job's pending cause.
CQiError EncryptTableKey(const std::string& keyspace, const std::string& table,
                         const std::string& keyDirectory, const TqJson::Object& options,
                         const TQJobClientPtr& jobClient,
                         IdxMetadata::CassandraEncryptionInfo& encryption) {
  const std::string named = TextOf(options, "key_file");
  std::string keyFile;
  if (!KeyFileInFolder(named, keyDirectory, keyFile)) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 87, "The key file \"%s\" of table %s.%s is not inside the system key folder %s",
        named.c_str(), keyspace.c_str(), table.c_str(), keyDirectory.c_str());
  }
  KeyFileContent content;
  CQiError error = content.Read(keyFile);
  if (error.IsError()) {
    TQLOG(-1, "Failed to read system key file: %s", error.AsString().c_str());
    if (jobClient) {
      *jobClient << keyFile;
      jobClient->setPendingCauseAndEvent(EV_SYSTEM_KEY_UNREADABLE, 6, 0, false, 300, false, 0, 0, 0,
                                         0);
    }
    return error.Push(FXLOC);
  }
  // The content travels as text: it must fit the value buffer and hold no NUL.
  if (content.length() >= kEncryptedValueCapacity) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 774,
        "System key file %s of table %s.%s is too large to be kept in the index (%zu bytes)",
        keyFile.c_str(), keyspace.c_str(), table.c_str(), content.length());
  }
  if (std::strlen(content.text()) != content.length()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 774,
        "System key file %s of table %s.%s holds binary data and cannot be kept in the index",
        keyFile.c_str(), keyspace.c_str(), table.c_str());
  }

  encryption.setKeyFile(keyFile);
  encryption.setStrength(NumberOf(options, "strength"));
  std::string value;
  if (!EncryptValue(content.text(), value)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to encrypt the content for key file %s",
                                   keyFile.c_str());
  }
  encryption.setKeyFileContent(value);
  if (!EncryptValue(TextOf(options, "cipher").c_str(), value)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to encrypt the cipher for key file %s",
                                   keyFile.c_str());
  }
  encryption.setCipher(value);
  if (!EncryptValue(TextOf(options, "key").c_str(), value)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to encrypt the key for key file %s",
                                   keyFile.c_str());
  }
  encryption.setKey(value);
  if (!EncryptValue(TextOf(options, "key_id").c_str(), value)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to encrypt the key_id for key file %s",
                                   keyFile.c_str());
  }
  encryption.setKeyId(value);
  return CQiError::Success();
}

}  // namespace

bool CassandraBackupCoordinator::isKeyspaceBackedUp(const std::string& keyspace) {
  for (const auto& entry : nodeKeyspaces) {
    for (const auto& name : entry.second) {
      if (name == keyspace) {
        TQLOG(2, "Keyspace %s backed up for node %s", keyspace.c_str(), entry.first.c_str());
        return true;
      }
    }
  }
  return false;
}

CQiError CassandraBackupCoordinator::getCassandraSystemKeyDirectory(std::string& directory) {
  TQ_DEBUG_FUNCTION();
  directory.clear();
  std::string yamlFile = kDefaultDseYaml;
  if (!TQPlatformInfo().getString("Cassandra", "sCassandraDSEyamlFile", yamlFile)) {
    TQLOG(2, "DSE Yaml file location not overridden with registry key. Using default location %s",
          yamlFile.c_str());
  }
  std::ifstream in(yamlFile);
  if (!in.is_open()) {
    TQLOG(0, "Failed to open the DSE Yaml file %s", yamlFile.c_str());
    return FXErrorUtil::ErrorEventMessage(FXLOC, EV_DSE_YAML_UNREADABLE, yamlFile);
  }
  static const std::string kKey = "system_key_directory";
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    FXString::TrimWhiteSpace(line);
    size_t key = line.find(kKey);
    if (line.empty() || key == std::string::npos) continue;
    size_t comment = line.find('#');
    if (comment != std::string::npos && comment < key) continue;
    std::vector<std::string> parts;
    FXString::Split(line, ":", parts);
    if (parts.size() != 2) continue;
    directory = parts[1];
    FXString::TrimWhiteSpace(directory);
  }
  TQLOG(0, "Cassandra system_key_directory: %s", directory.c_str());
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::fetchLastBackupTimeFromIndex() {
  TQ_DEBUG_FUNCTION();
  TQLOG(0, "Fetching backup time from index");
  if (!clientConfig) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No client configuration");

  // Every value is a 32-bit number widened to 64 bits.
  auto widen = [](int64_t value) { return static_cast<int64_t>(static_cast<int32_t>(value)); };
  TqEntities::AppIdEntity application;
  application.setOmbrelId(widen(clientConfig->getOmbrelId()));
  application.setSubclientId(-1);
  int64_t backupSetId = 0;
  int64_t instanceId = 0;
  if (clientConfig->getOmbrelId() != 0 && clientConfig->getApplicationId() != 0) {
    // The job start's application serves when there is one; its records are
    // not read again.
    std::unique_ptr<ApplicationId> made;
    const ApplicationId* appId = this->application.get();
    if (!appId) {
      made.reset(new (std::nothrow)
                     ApplicationId(clientConfig->getOmbrelId(), clientConfig->getApplicationId()));
      if (!made) {
        return FXErrorUtil::ErrorWin32(
            FXLOC, 8, "Unable to create ApplicationId object. Memory alllocation error.");
      }
      appId = made.get();
    }
    if (appId->getBackupSet()) backupSetId = widen(appId->getBackupSet()->getBackupSetId());
    if (appId->getInstance()) instanceId = widen(appId->getInstance()->getInstanceId());
  }
  application.setBackupsetId(backupSetId);
  application.setInstanceId(instanceId);
  application.setAppType(widen(kCassandraApplicationType));
  application.setClientId(widen(clientConfig->clientId));

  // Only the nodes without a reported time are looked up, so a time a node
  // reported in this job is never replaced.
  std::vector<std::string> paths;
  std::unordered_set<std::string> wanted;
  for (const auto& node : getNodes()) {
    const std::string& name = node->getClientName();
    if (nodeBackupTime.count(name) || !wanted.insert(name).second) continue;
    paths.push_back("/" + name);
    TQLOG(0, " path [%s] ", paths.back().c_str());
  }
  if (paths.empty()) return CQiError::Success();
  databrowse::BrowseRequest request = MakeIndexViewBrowseRequest(kNodeView, paths, application);

  databrowse::BrowseResponseList responses;
  CQiError browsed = RunIndexViewBrowse(request, responses);
  if (browsed.IsError()) return browsed.Push(FXLOC);

  for (const auto& response : responses.getResponses()) {
    std::optional<databrowse::BrowseResult> result = response.getResult();
    if (!result) continue;
    for (const auto& item : result->getData()) {
      std::string path = item.getPath();
      TQLOG(0, "Node path [%s]", path.c_str());
      std::vector<std::string> parts;
      FXString::Split(path, "/", parts);
      if (parts.size() < 2 || !wanted.count(parts[1])) continue;
      std::optional<databrowse::BrowseItemDetails> details = item.getDetails();
      std::optional<IdxMetadata::IdxMetaData> metadata;
      if (details) metadata = details->getMetadata();
      std::optional<IdxMetadata::CassandraNodeMetadata> node;
      if (metadata) node = metadata->getNodeMetadata();
      if (!node) continue;
      nodeBackupTime[parts[1]] = node->getBackupTime();
    }
  }
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::createCassandraMetadataInIndex() {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No client configuration");
  if (!priam) return FXErrorUtil::ErrorWin32(FXLOC, 87, "The coordinator holds no Priam");
  const int32_t headerTime = static_cast<int32_t>(time(nullptr));

  // The metadata is attached to the job's first archive file.
  GetArchFileListForJobArgsCC_t archiveArgs;
  archiveArgs.ombrelId = clientConfig->getOmbrelId();
  archiveArgs.jobId = clientConfig->getJobId();
  std::vector<GetArchFileListForJobRetCC_t> archiveFiles;
  int rc = ArMgrClientAPI::getArchFileListForJob(archiveArgs, archiveFiles);
  if (rc == ArMgrClientAPI::kNoArchiveFiles || (rc == 0 && archiveFiles.empty())) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774,
                                   "Archive file retrieval failed: job %lld has no archive file",
                                   static_cast<long long>(clientConfig->getJobId()));
  }
  if (rc != 0) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Archive file retrieval failed");
  ArchiveFileId_t archiveFile;
  std::memset(&archiveFile, 0, sizeof archiveFile);
  archiveFile = ArMgrClientAPI::ArchiveFileIdOf(archiveFiles.front());
  TQLOG(0, "Archive file: %d", static_cast<int>(archiveFile.archiveFileId));

  const std::vector<DistributedQEL::CNodeInfoPtr> nodes = getNodes();
  bool timeMissing = false;
  for (const auto& node : nodes) timeMissing |= nodeBackupTime.count(node->getClientName()) == 0;
  if (timeMissing) {
    CQiError error = fetchLastBackupTimeFromIndex();
    if (error.IsError()) return error.Push(FXLOC);
  }

  const uint32_t ombrelId = clientConfig->getOmbrelId();
  const uint32_t appId = clientConfig->getApplicationId();
  const int backupLevel = clientConfig->getBackupLevel();
  const std::string& token = clientConfig->getJobToken();
  const std::string& mediaAgent = clientConfig->getMediaAgentName();
  TQLOG(2, "Index connection: ombrel %u, application %u, type %lld, level %d, token %s, media %s",
        ombrelId, appId, static_cast<long long>(kCassandraApplicationType), backupLevel,
        token.c_str(), mediaAgent.c_str());
  IndexingConnection index;
  if (index.initialize(ombrelId, appId, kCassandraApplicationType, backupLevel, token.c_str(),
                       mediaAgent.c_str(), nullptr, 0) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to initialize IndexingConnection");
  }
  if (index.sendAfileInfo(archiveFile, false) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to send afile info");
  }

  const std::string componentId = Guid("/");
  TQLOG(2, "ComponentId: %s", componentId.c_str());
  IdxMetadata::IdxMetaData nodeRecord, keyspaceRecord, tableRecord;
  EntrySender sender(index, headerTime);

  for (const auto& node : nodes) {
    const std::string& name = node->getClientName();
    IdxMetadata::CassandraNodeMetadata payload;
    payload.setClientName(name);
    payload.setBackupTime(nodeBackupTime[name]);
    nodeRecord.setNodeMetadata(payload);
    const std::string path = "/" + name;
    PlaceEntry(nodeRecord, kNodeView, componentId, path);
    sender.Send(nodeRecord, path, 0, "node");
  }

  if (metaJson.IsEmpty()) {
    CQiError error = priam->get(0, CQiString("getMeta"), metaJson, CQiString(""));
    if (error.IsError()) {
      TQLOG(-1, "Error while getting metadata from the Cassandra cluster. Error: %s, Response: %s",
            error.AsString().c_str(), metaJson.c_str());
      CQiError reported = handlePriamError(error, kEvPriamRequestFailed, "getMeta");
      metaJson.Empty();
      return reported.Push(FXLOC);
    }
    TQLOG(2, "Response: %s", metaJson.c_str());
  }

  CQiString statusReply;
  CQiError error = priam->get(0, CQiString("status"), statusReply, CQiString(""));
  if (error.IsError()) {
    TQLOG(-1, "Failed to fetch Cassandra status to get the list of datacenters");
    EvEvent event;
    event << "status" << (error.AsString(2) + ": " + statusReply.str());
    event.MinorEvent(kEvPriamRequestFailed);
    return error.Push(FXLOC);
  }
  TqJson::Array ring;
  if (!TqJson::Unserialize(statusReply.str(), ring)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "The Cassandra status reply is not a JSON array");
  }
  std::set<std::string> dataCenters;
  for (const auto& member : ring) {
    if (!member.isObject()) continue;
    TqJson::Value dataCenter;
    if (TqJson::FindValue(member.getObject(), "data_center", dataCenter) && dataCenter.isString()) {
      dataCenters.insert(dataCenter.getStr());
    }
  }

  // dse.yaml is read for the first encrypted table and serves every other.
  std::optional<std::string> keyDirectory;
  std::vector<CassandraMetaKeyspace> keyspaces;
  error = CassandraMetaKeyspace::ReadReply(metaJson.str(), keyspaces);
  if (error.IsError()) {
    TQLOG(-1, "Error while getting metadata from the Cassandra cluster. Error: %s, Response: %s",
          error.AsString(2).c_str(), metaJson.c_str());
    return handlePriamError(error, kEvPriamRequestFailed, "getMeta").Push(FXLOC);
  }
  for (const CassandraMetaKeyspace& read : keyspaces) {
    const TqJson::Object& keyspace = read.object;
    const std::string& keyspaceName = read.name;
    if (!isKeyspaceBackedUp(keyspaceName)) continue;

    const TqJson::Object& replication = read.replication;
    const std::string& replicationClass = read.replicationClass;
    IdxMetadata::CassandraKeyspaceMetadata keyspacePayload;
    keyspacePayload.setKeyspaceName(keyspaceName);
    keyspacePayload.setCql(TextOf(keyspace, "SCHEMA"));
    keyspacePayload.setReplicationClass(replicationClass);
    keyspacePayload.setReplication(ReplicationRows(replicationClass, replication, dataCenters));
    keyspaceRecord.setKeyspaceMetadata(keyspacePayload);
    const std::string keyspacePath = "/" + keyspaceName;
    PlaceEntry(keyspaceRecord, kSchemaView, componentId, keyspacePath);
    sender.Send(keyspaceRecord, keyspacePath, kKeyspaceEntryFlags, "keyspace");

    TqJson::Value tables;
    if (!TqJson::FindValue(keyspace, "Tables", tables) || !tables.isArray()) continue;
    for (const auto& tableElement : tables.getArray()) {
      tableRecord.reset();
      if (!tableElement.isObject()) continue;
      const TqJson::Object& table = tableElement.getObject();
      IdxMetadata::CassandraTableMetadata tablePayload;
      const std::string tableName = TextOf(table, "COLUMNSPACE");
      tablePayload.setTableName(tableName);
      tablePayload.setTableId(TextOf(table, "ID"));
      tablePayload.setCql(TextOf(table, "SCHEMA"));
      TQLOG(2, "Table name: %s", tableName.c_str());
      TQLOG(2, "Schema: %s", tablePayload.getCql().c_str());
      tablePayload.setEncrypted(0);
      if (BoolOf(table, "ENCRYPTED")) {
        tablePayload.setEncrypted(1);
        if (!keyDirectory) {
          std::string directory;
          error = getCassandraSystemKeyDirectory(directory);
          if (error.IsError()) return error.Push(FXLOC);
          keyDirectory = directory;
        }
        TqJson::Object options;
        if (!ObjectOf(table, "EncyptionOptions", options)) {
          TQLOG(-1, "Failed to fetch Encryption options for table %s.%s", keyspaceName.c_str(),
                tableName.c_str());
          continue;
        }
        IdxMetadata::CassandraEncryptionInfo encryption;
        error = EncryptTableKey(keyspaceName, tableName, *keyDirectory, options, getJobClient(),
                                encryption);
        if (error.IsError()) return error.Push(FXLOC);
        tablePayload.setEncryption(encryption);
      }
      tableRecord.setTableMetadata(tablePayload);
      const std::string tablePath = keyspacePath + "/" + tableName;
      PlaceEntry(tableRecord, kSchemaView, componentId, tablePath);
      sender.Send(tableRecord, tablePath, 0, "table");
    }
  }

  if (index.updateRestartInfo(-1) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Updating restart info in index failed");
  }
  if (index.backupDone(1) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 0xFFFFFFFF, "Index BackupDone operation failed");
  }
  TQLOG(0, "Idx Backup done");
  return CQiError::Success();
}

}  // namespace TQCassandra
