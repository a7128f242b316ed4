#include "platform/index/IndexingConnection.h"

#include <cstring>
#include <ctime>

#include "platform/base/FXErrorUtil.h"
#include "platform/index/ObjectGuid.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContext.h"

IndexingConnection::IndexingConnection(const std::string& home)
    : catalogPath_(CIndexCatalog::PathUnder(home.empty() ? CClientContext::SuiteHome() : home)) {}

IndexingConnection::~IndexingConnection() = default;

int IndexingConnection::Fail(int result, const CQiError& error) {
  lastError_ = error;
  TQLOG(1, "Index connection: %s", error.AsString(2).c_str());
  return result;
}

int IndexingConnection::CheckReady(bool needArchiveFile) {
  if (!initialized_) {
    return Fail(kNotInitialized,
                FXErrorUtil::ErrorWin32(FXLOC, 21, "The index connection is not initialized"));
  }
  if (session_.done) {
    return Fail(kClosed, FXErrorUtil::ErrorWin32(FXLOC, 21,
                                                 "The index writing of this connection has ended"));
  }
  if (needArchiveFile && session_.archiveFileId == 0) {
    return Fail(kNoArchiveFile, FXErrorUtil::ErrorWin32(FXLOC, 21,
                                                        "No archive file is attached to the index "
                                                        "connection"));
  }
  return kOk;
}

int IndexingConnection::initialize(uint32_t ombrelId, uint32_t appId, int64_t appType,
                                   int backupLevel, const char* jobToken, const char* mediaAgent,
                                   const char* clientName, int /*flags*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (initialized_) {
    return Fail(kAlreadyInitialized,
                FXErrorUtil::ErrorWin32(FXLOC, 1247, "The index connection is initialized"));
  }
  auto catalog = std::make_unique<CIndexCatalog>(catalogPath_);
  CQiError error = catalog->Open();
  SIndexSessionRecord session;
  session.ombrelId = ombrelId;
  session.appId = appId;
  session.appType = appType;
  session.backupLevel = backupLevel;
  session.jobToken = jobToken ? jobToken : "";
  session.mediaAgent = mediaAgent ? mediaAgent : "";
  session.clientName = clientName ? clientName : "";
  session.startTime = static_cast<int64_t>(time(nullptr));
  if (!error.IsError()) error = catalog->CreateSession(session);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  catalog_ = std::move(catalog);
  session_ = session;
  initialized_ = true;
  lastError_ = CQiError::Success();
  return kOk;
}

int IndexingConnection::sendAfileInfo(const ArchiveFileId_t& afile, bool /*flag*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  int ready = CheckReady(false);
  if (ready != kOk) return ready;
  SArchiveFileRecord record;
  bool found = false;
  CQiError error = catalog_->GetArchiveFile(afile.archiveFileId, record, found);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  if (!found ||
      (afile.ombrelId != 0 && record.ombrelId != 0 && afile.ombrelId != record.ombrelId)) {
    return Fail(kUnknownArchiveFile,
                FXErrorUtil::ErrorWin32(FXLOC, 1168, "Archive file %u (ombrel %u) is unknown",
                                        afile.archiveFileId, afile.ombrelId));
  }
  error = catalog_->AttachArchiveFile(session_.sessionId, record.jobId, record.archiveFileId);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  session_.jobId = record.jobId;
  session_.archiveFileId = record.archiveFileId;
  return kOk;
}

int IndexingConnection::sendMetaDataInfo(const IdxMetadata::IdxMetaData& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  int ready = CheckReady(true);
  if (ready != kOk) return ready;
  std::optional<IdxMetadata::IdxObjectHeader> header = record.getHeader();
  std::optional<IdxMetadata::IdxViewInfo> view;
  if (header) view = header->getView();
  if (!header || !view || view->getViewName().empty() || header->getObjectGuid().empty()) {
    return Fail(kRejected, FXErrorUtil::ErrorWin32(
                               FXLOC, 87, "Index metadata without view name or object GUID"));
  }
  SMetadataRecord entry;
  if (record.serialize(entry.xml) != 0) {
    return Fail(kRejected, FXErrorUtil::ErrorWin32(FXLOC, 13, "Index metadata does not serialize"));
  }
  entry.sessionId = session_.sessionId;
  entry.jobId = session_.jobId;
  entry.archiveFileId = session_.archiveFileId;
  entry.viewName = view->getViewName();
  entry.objectGuid = header->getObjectGuid();
  entry.parentGuid = header->getParentGuid();
  entry.componentId = view->getComponentId();
  std::optional<IdxMetadata::IdxRecordId> recordId = record.getRecordId();
  if (recordId) entry.recordGuid = recordId->getRecordGuid();
  entry.sentTime = static_cast<int64_t>(time(nullptr));
  CQiError error = catalog_->InsertMetadata(entry);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  return kOk;
}

int IndexingConnection::sendFileInfo(const CXFileHeader* header, int64_t sequence,
                                     const void* extra, uint32_t extraLength) {
  if (!header) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Fail(kRejected, FXErrorUtil::ErrorWin32(FXLOC, 87, "No file header"));
  }
  return sendFileInfo(*header, sequence, extra, extraLength);
}

int IndexingConnection::sendFileInfo(const CXFileHeader& header, int64_t sequence,
                                     const void* /*extra*/, uint32_t /*extraLength*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  int ready = CheckReady(true);
  if (ready != kOk) return ready;
  size_t length = strnlen(header.path, CXFileHeader::kPathCapacity);
  if (length == 0 || length == CXFileHeader::kPathCapacity) {
    return Fail(kRejected,
                FXErrorUtil::ErrorWin32(FXLOC, 87, "File header path is empty or not terminated"));
  }
  SEntryRecord record;
  record.sessionId = session_.sessionId;
  record.jobId = session_.jobId;
  record.archiveFileId = session_.archiveFileId;
  record.sequence = sequence;
  record.path.assign(header.path, length);
  CQiError error = GetObjectGuid(record.path.c_str(), 0, '/', record.objectGuid);
  if (error.IsError()) return Fail(kRejected, error.Push(FXLOC));
  record.headerType = header.type;
  record.headerVersion = header.version;
  record.flags = header.flags;
  record.headerTime = header.time;
  record.sentTime = static_cast<int64_t>(time(nullptr));
  error = catalog_->InsertEntryRecord(record);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  return kOk;
}

int IndexingConnection::updateRestartInfo(int64_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  int ready = CheckReady(true);
  if (ready != kOk) return ready;
  CQiError error = catalog_->SetRestartInfo(session_.jobId, session_.sessionId, value);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  return kOk;
}

int IndexingConnection::backupDone(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  int ready = CheckReady(false);
  if (ready != kOk) return ready;
  CQiError error = catalog_->CloseSession(session_.sessionId, value);
  if (error.IsError()) return Fail(kCatalogError, error.Push(FXLOC));
  session_.done = true;
  session_.doneValue = value;
  return kOk;
}
