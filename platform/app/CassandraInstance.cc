#include "platform/app/CassandraInstance.h"

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"

CassandraInstance::CassandraInstance(uint64_t instanceId)
    : store_(CSuiteStore::Default()), requestedId_(instanceId) {
  CQiError error = store_.LoadInstance(instanceId, record_);
  if (error.IsError()) {
    TQLOG(-1, "Failed to load instance %llu: %s", static_cast<unsigned long long>(instanceId),
          error.AsString(2).c_str());
    record_ = SInstanceRecord();
    return;
  }
  found_ = true;
  setInstanceIdentity(record_.id, record_.name);
}

CQiError CassandraInstance::NotFound(const FXCodeLocation& location) const {
  return FXErrorUtil::ErrorWin32(location, 1168, "Instance %llu is not registered",
                                 static_cast<unsigned long long>(requestedId_));
}

CQiError CassandraInstance::GetText(const std::string& value, std::string& out,
                                    const FXCodeLocation& location) const {
  if (!found_) return NotFound(location);
  out = value;
  return CQiError::Success();
}

CQiError CassandraInstance::getCassandraConfigFile(std::string& path) const {
  return GetText(record_.cassandraConfigFile, path, FXLOC);
}

CQiError CassandraInstance::getJavaHome(std::string& path) const {
  return GetText(record_.javaHome, path, FXLOC);
}

CQiError CassandraInstance::getGatewayHost(std::string& host) const {
  return GetText(record_.gatewayHost, host, FXLOC);
}

CQiError CassandraInstance::getGatewayCQLPort(int& port) const {
  if (!found_) return NotFound(FXLOC);
  port = record_.gatewayCqlPort;
  return CQiError::Success();
}

CQiError CassandraInstance::getGatewayUser(std::string& user) const {
  return GetText(record_.gatewayUser, user, FXLOC);
}

CQiError CassandraInstance::getGatewayPassword(std::string& encrypted) const {
  return GetText(record_.gatewayPassword, encrypted, FXLOC);
}

CQiError CassandraInstance::getJMXConfig(std::string& xml) const {
  return GetText(record_.jmxConfigXml, xml, FXLOC);
}

CQiError CassandraInstance::getAuthConfig(std::string& xml) const {
  return GetText(record_.authConfigXml, xml, FXLOC);
}

CQiError CassandraInstance::getEnableCommitLogBackup(bool& enabled) const {
  if (!found_) return NotFound(FXLOC);
  enabled = record_.enableCommitLogBackup;
  return CQiError::Success();
}

CQiError CassandraInstance::getCassArchiveLogPath(std::string& path) const {
  return GetText(record_.archiveLogPath, path, FXLOC);
}

CQiError CassandraInstance::getCassArchiveCommand(std::string& command) const {
  return GetText(record_.archiveCommand, command, FXLOC);
}

CQiError CassandraInstance::getClusterName(std::string& name) const {
  return GetText(record_.clusterName, name, FXLOC);
}

CQiError CassandraInstance::getVersion(std::string& version) const {
  return GetText(record_.version, version, FXLOC);
}

CQiError CassandraInstance::setClusterName(const std::string& name) {
  if (!found_) return NotFound(FXLOC);
  CQiError error = store_.UpdateInstance(
      record_.id, [&name](SInstanceRecord& stored) { stored.clusterName = name; });
  if (error.IsError()) return error.Push(FXLOC);
  record_.clusterName = name;
  return CQiError::Success();
}

CQiError CassandraInstance::setVersion(const std::string& version) {
  if (!found_) return NotFound(FXLOC);
  CQiError error = store_.UpdateInstance(
      record_.id, [&version](SInstanceRecord& stored) { stored.version = version; });
  if (error.IsError()) return error.Push(FXLOC);
  record_.version = version;
  return CQiError::Success();
}
