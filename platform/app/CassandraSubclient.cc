#include "platform/app/CassandraSubclient.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

CassandraSubclient::CassandraSubclient(uint64_t subclientId)
    : store_(CSuiteStore::Default()), requestedId_(subclientId) {
  CQiError error = store_.LoadSubclient(subclientId, record_);
  if (error.IsError()) {
    TQLOG(-1, "Failed to load subclient %llu: %s", static_cast<unsigned long long>(subclientId),
          error.AsString(2).c_str());
    record_ = SSubclientRecord();
    return;
  }
  found_ = true;
  setSubclientIdentity(record_.id, record_.name);
}

CQiError CassandraSubclient::NotFound(const FXCodeLocation& location) const {
  return FXErrorUtil::ErrorWin32(location, 1168, "Subclient %llu is not registered",
                                 static_cast<unsigned long long>(requestedId_));
}

CQiError CassandraSubclient::getCassandraContent(std::string& xml, void*) const {
  if (!found_) return NotFound(FXLOC);
  xml = record_.contentXml;
  return CQiError::Success();
}

CQiError CassandraSubclient::getBackedupContentXML(std::string& xml, void*) const {
  if (!found_) return NotFound(FXLOC);
  xml = record_.backedUpContentXml;
  return CQiError::Success();
}

CQiError CassandraSubclient::setBackedupContentXML(const std::string& xml, void*) {
  if (!found_) return NotFound(FXLOC);
  CQiError error = store_.UpdateSubclient(
      record_.id, [&xml](SSubclientRecord& stored) { stored.backedUpContentXml = xml; });
  if (error.IsError()) return error.Push(FXLOC);
  record_.backedUpContentXml = xml;
  return CQiError::Success();
}
