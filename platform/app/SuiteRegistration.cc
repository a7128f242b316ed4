#include "platform/app/SuiteRegistration.h"

#include <algorithm>
#include <vector>

#include "platform/app/AppRecordLayout.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXString.h"
#include "platform/msg/NMessageBase.h"
#include "platform/suite/TQPassword.h"

namespace L = AppRecordLayout;

namespace {

CNMessageBase Make(L::RecordId id) { return CNMessageBase(id.ns, id.cls); }

void SetText(CNMessageBase& record, L::FieldId field, const std::string& value) {
  record.setstring(field.field, field.index, value);
}

// A password encrypted with the suite's cipher.
CQiError Encrypt(const std::string& plain, const char* what, std::string& encrypted) {
  std::vector<char> buffer(4 * (plain.size() + 64) / 3 + 64);
  unsigned long length = buffer.size();
  if (TQPassword().encrypt(plain.c_str(), buffer.data(), length) == 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to encrypt the %s", what);
  }
  encrypted.assign(buffer.data(), length);
  return CQiError::Success();
}

CQiError Serialize(const CNMessageBase& record, const char* what, std::string& xml) {
  if (record.serialize(xml) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to serialize the %s record", what);
  }
  return CQiError::Success();
}

CQiError JmxXml(const SJmxSettings& jmx, std::string& xml) {
  CNMessageBase record = Make(L::kJMXConnection);
  SetText(record, L::kJmxHost, jmx.host);
  record.setint64(L::kJmxPort.field, L::kJmxPort.index, jmx.port);
  if (!jmx.service.empty()) SetText(record, L::kJmxService, jmx.service);
  if (!jmx.user.empty()) {
    std::string password;
    CQiError error = Encrypt(jmx.password, "JMX password", password);
    if (error.IsError()) return error.Push(FXLOC);
    CNMessageBase credentials = Make(L::kUserCredentials);
    SetText(credentials, L::kUserName, jmx.user);
    credentials.setpstring(L::kUserPassword.field, L::kUserPassword.index, password);
    record.setObjectAccessor(L::kJmxCredentials.field, L::kJmxCredentials.index, credentials);
  }
  return Serialize(record, "JMX connection", xml);
}

CQiError AuthXml(const SSslSettings& ssl, std::string& xml) {
  CNMessageBase sslRecord = Make(L::kCassandraSSLConfig);
  sslRecord.setint64(L::kSslEnabled.field, L::kSslEnabled.index, ssl.enabled ? 1 : 0);
  if (ssl.enabled) {
    std::string keystorePassword;
    std::string truststorePassword;
    CQiError error = Encrypt(ssl.keystorePassword, "keystore password", keystorePassword);
    if (!error.IsError()) {
      error = Encrypt(ssl.truststorePassword, "truststore password", truststorePassword);
    }
    if (error.IsError()) return error.Push(FXLOC);
    SetText(sslRecord, L::kSslKeystorePath, ssl.keystorePath);
    sslRecord.setpstring(L::kSslKeystorePassword.field, L::kSslKeystorePassword.index,
                         keystorePassword);
    SetText(sslRecord, L::kSslTruststorePath, ssl.truststorePath);
    sslRecord.setpstring(L::kSslTruststorePassword.field, L::kSslTruststorePassword.index,
                         truststorePassword);
  }
  CNMessageBase record = Make(L::kAuthConfig);
  record.setObjectAccessor(L::kAuthSsl.field, L::kAuthSsl.index, sslRecord);
  return Serialize(record, "authentication", xml);
}

// The client of a node: by id, else the one owning the address; `found` false
// when there is none.
CQiError NodeClient(const std::vector<SClientRecord>& clients, const SNodeSettings& node,
                    SClientRecord& client, bool& found) {
  found = false;
  for (const SClientRecord& c : clients) {
    const bool owns = node.clientId != 0 ? c.id == node.clientId
                                         : c.hostName == node.address ||
                                               std::find(c.addresses.begin(), c.addresses.end(),
                                                         node.address) != c.addresses.end();
    if (owns) {
      client = c;
      found = true;
      return CQiError::Success();
    }
  }
  if (node.clientId != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Node %s names the unregistered client %llu",
                                   node.address.c_str(),
                                   static_cast<unsigned long long>(node.clientId));
  }
  return CQiError::Success();
}

CQiError NodeXml(const std::vector<SClientRecord>& clients, const SNodeSettings& node,
                 std::string& xml) {
  if (node.address.empty()) return FXErrorUtil::ErrorWin32(FXLOC, 87, "A node needs an address");
  SClientRecord client;
  bool found = false;
  CQiError error = NodeClient(clients, node, client, found);
  if (error.IsError()) return error.Push(FXLOC);
  CNMessageBase record = Make(L::kCassandraNode);
  if (found) {
    CNMessageBase entity = Make(L::kClientEntity);
    entity.setint64(L::kClientId.field, L::kClientId.index, static_cast<int64_t>(client.id));
    SetText(entity, L::kClientName, client.name);
    SetText(entity, L::kClientHostName, node.address);
    record.setObjectAccessor(L::kNodeClient.field, L::kNodeClient.index, entity);
    SetText(record, L::kNodeClientName, client.name);
  }
  if (!node.dataDirectories.empty()) {
    std::vector<std::string> directories;
    FXString::Split(node.dataDirectories, ";", directories, FXString::kKeepEmpty);
    for (const std::string& directory : directories) {
      error = CSuiteRegistration::CheckDataDirectory(directory, node.address);
      if (error.IsError()) return error.Push(FXLOC);
    }
  }
  SetText(record, L::kNodeAddress, node.address);
  if (!node.dataCenter.empty()) SetText(record, L::kNodeDataCenter, node.dataCenter);
  if (!node.rack.empty()) SetText(record, L::kNodeRack, node.rack);
  if (!node.dataDirectories.empty()) SetText(record, L::kNodeDataDirectories, node.dataDirectories);
  if (!node.configDirectory.empty()) SetText(record, L::kNodeConfigDirectory, node.configDirectory);
  if (!node.javaHome.empty()) SetText(record, L::kNodeJavaHome, node.javaHome);
  return Serialize(record, "node", xml);
}

}  // namespace

CSuiteRegistration::CSuiteRegistration(CSuiteStore store) : store_(std::move(store)) {}

CQiError CSuiteRegistration::registerClient(const std::string& name, const std::string& hostName,
                                            const std::vector<std::string>& addresses,
                                            uint64_t& clientId) {
  SClientRecord record;
  record.id = clientId;
  record.name = name;
  record.hostName = hostName;
  record.addresses = addresses;
  CQiError error = store_.RegisterClient(record);
  if (error.IsError()) return error.Push(FXLOC);
  clientId = record.id;
  return CQiError::Success();
}

CQiError CSuiteRegistration::registerInstance(const SInstanceSettings& settings,
                                              uint64_t& instanceId) {
  SInstanceRecord record;
  record.id = settings.id;
  record.name = settings.name;
  record.clientId = settings.clientId;
  record.cassandraConfigFile = settings.cassandraConfigFile;
  record.javaHome = settings.javaHome;
  record.gatewayHost = settings.gatewayHost;
  record.gatewayCqlPort = settings.gatewayCqlPort;
  record.gatewayUser = settings.gatewayUser;
  record.enableCommitLogBackup = settings.enableCommitLogBackup;
  record.archiveLogPath = settings.archiveLogPath;
  record.archiveCommand = settings.archiveCommand;
  record.clusterName = settings.clusterName;
  record.version = settings.version;

  CQiError error = CheckArchiveSetting(settings.archiveLogPath, "folder");
  if (!error.IsError()) error = CheckArchiveSetting(settings.archiveCommand, "command");
  if (!error.IsError() && !settings.gatewayUser.empty()) {
    error = Encrypt(settings.gatewayPassword, "CQL password", record.gatewayPassword);
  }
  if (!error.IsError() && settings.jmx) error = JmxXml(*settings.jmx, record.jmxConfigXml);
  if (!error.IsError() && settings.ssl) error = AuthXml(*settings.ssl, record.authConfigXml);
  std::vector<SClientRecord> clients;
  if (!error.IsError()) error = store_.LoadClients(clients);
  for (const SNodeSettings& node : settings.nodes) {
    if (error.IsError()) break;
    std::string xml;
    error = NodeXml(clients, node, xml);
    record.nodeXmls.push_back(std::move(xml));
  }
  if (!error.IsError()) error = store_.RegisterInstance(record);
  if (error.IsError()) return error.Push(FXLOC);
  instanceId = record.id;
  return CQiError::Success();
}

CQiError CSuiteRegistration::CheckDataDirectory(const std::string& directory,
                                                const std::string& node) {
  if (directory.find(';') != std::string::npos) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "Data directory \"%s\" of node %s holds \";\", which separates "
                                   "a node's data directories",
                                   directory.c_str(), node.c_str());
  }
  if (directory.empty() || directory.front() != '/') {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "Data directory \"%s\" of node %s is not an absolute path",
                                   directory.c_str(), node.c_str());
  }
  return CQiError::Success();
}

CQiError CSuiteRegistration::CheckArchiveSetting(const std::string& value, const char* what) {
  if (value.find_first_of(" \t\r\n\v\f") != std::string::npos) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "The commit log archive %s \"%s\" holds a blank; Cassandra "
                                   "splits archive_command on blanks and runs it without a shell",
                                   what, value.c_str());
  }
  return CQiError::Success();
}

CQiError CSuiteRegistration::registerSubclient(const SSubclientSettings& settings,
                                               uint64_t& subclientId) {
  SSubclientRecord record;
  record.id = settings.id;
  record.name = settings.name;
  record.instanceId = settings.instanceId;
  record.backupSetId = settings.backupSetId;
  record.isDefault = settings.isDefault;
  record.maxStreams = settings.maxStreams;
  record.contentXml = ContentXml(settings.content);
  CQiError error = store_.RegisterSubclient(record);
  if (error.IsError()) return error.Push(FXLOC);
  subclientId = record.id;
  return CQiError::Success();
}

std::string CSuiteRegistration::ContentXml(const std::vector<SContentRow>& rows) {
  if (rows.empty()) return "";
  std::vector<CNMessageBase> contents;
  for (const SContentRow& row : rows) {
    CNMessageBase content = Make(L::kCassandraContent);
    if (row.clusterName) SetText(content, L::kContentClusterName, *row.clusterName);
    if (row.keyspaceName) SetText(content, L::kContentKeyspaceName, *row.keyspaceName);
    if (row.dataCenter) SetText(content, L::kContentDataCenter, *row.dataCenter);
    contents.push_back(std::move(content));
  }
  CNMessageBase props = Make(L::kCassandraSubclientProps);
  props.setlistobject(L::kPropsContents.field, L::kPropsContents.index, contents);
  std::string xml;
  props.serialize(xml);
  return xml;
}
