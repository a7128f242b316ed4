// The restore controller's node start payload: the source-to-target node
// mappings, the restored tables with the connection settings of the targets'
// Priams, and the stage-free share parameters; then every mapping's target.

#include <cinttypes>
#include <cstdlib>
#include <map>
#include <new>
#include <optional>
#include <set>

#include "common/CassandraPriamSetup.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/Base64.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPI_CommClient.h"
#include "platform/suite/TQPI_Focus.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

namespace {

// A registry text of section "Cassandra" that exists and is not empty.
bool RegistryText(const char* name, std::string& value) {
  value.clear();
  return TQPlatformInfo().getString("Cassandra", name, value) != 0 && !value.empty();
}

}  // namespace

std::string CCassandraRestoreController::NodeNameOf(const App::CassandraNode& node) {
  if (node.hasAgentInstanceName()) return node.getAgentInstanceName();
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  return client ? client->getClientName() : std::string();
}

std::string CCassandraRestoreController::TargetKeyOf(const App::CassandraNode& target) {
  const std::string instance = target.getAgentInstanceName();
  if (!instance.empty()) return instance;
  return TQPI_Focus::getFocusClientName(true).str();
}

bool CCassandraRestoreController::tokenRuleApplies(const std::string& sourceName,
                                                   const std::string& targetName) const {
  return recover && !replaceDeadNode && !useSSTableLoader && sourceName != targetName;
}

CQiError CCassandraRestoreController::checkTokenTargets(
    const std::vector<DistributedQEL::CassandraSourceTargetMapping>& mappings) const {
  // Target key -> the source nodes whose tokens it would take.
  std::map<std::string, std::set<std::string>> sources;
  for (const auto& mapping : mappings) {
    const std::optional<App::CassandraNode> source = mapping.getSource();
    const std::optional<App::CassandraNode> target = mapping.getTarget();
    if (!source || !target) continue;
    const std::string sourceName = NodeNameOf(*source);
    if (!tokenRuleApplies(sourceName, NodeNameOf(*target))) continue;
    std::set<std::string>& names = sources[TargetKeyOf(*target)];
    names.insert(sourceName);
    if (names.size() > 1) {
      TQLOG(-1, "Target %s would take the tokens of %s and of %s", TargetKeyOf(*target).c_str(),
            names.begin()->c_str(), names.rbegin()->c_str());
      return FXErrorUtil::ErrorWin32(
          FXLOC, 87,
          "Target node %s cannot take the tokens of more than one source node (%s, %s); restore "
          "them with sstableloader instead",
          TargetKeyOf(*target).c_str(), names.begin()->c_str(), names.rbegin()->c_str());
    }
  }
  return CQiError::Success();
}

CQiError CCassandraRestoreController::applyTableMetadata(TargetPriamSettings& settings) {
  const std::vector<DistributedQEL::CassandraNodeKeyspace> nodes =
      tableMetadata->getNodeKeyspaces();
  if (!nodes.empty()) {
    for (const DistributedQEL::CassandraKeyspace& keyspace : nodes.front().getKeyspaces()) {
      std::set<std::string>& tables = tablesByKeyspace[keyspace.getKeyspaceName()];
      for (const DistributedQEL::CassandraTable& table : keyspace.getTables()) {
        tables.insert(table.getTableName());
      }
    }
  }

  std::map<std::string, std::string>& properties = settings.properties;
  for (const DistributedQEL::DINameValue& option : tableMetadata->getOptions()) {
    const std::string name = option.getName();
    const std::string value = option.getValue();
    if (name == "cqlhost") {
      settings.cqlHostFallback = value;
    } else if (name == "cqlport") {
      settings.cqlPortFallback = value;
    } else if (name == "cqlusername") {
      properties["priam.cqlusername"] = value;
    } else if (name == "cqlp") {
      properties["priam.cqluserpassword"] = value;
    } else if (name == "jmxport") {
      properties["priam.jmx.port"] = value;
    } else if (name == "jmxuser") {
      properties["priam.jmx.user"] = value;
    } else if (name == "jmxtoken") {
      properties["priam.jmx.token"] = value;
    } else if (name == "configEncrypted") {
      properties["priam.config.encrypted"] = "true";
      properties["priam.system.key"] = value;
    } else if (name == "ksp") {
      // The coordinator sends the registry text as it is stored; Priam reads
      // every password as base64 of the plain text.
      properties["priam.server.kspasswd"] = base64Encode(value);
    } else if (name == "tsp") {
      properties["priam.server.tspasswd"] = base64Encode(value);
    } else if (name == "nativeSSTableLoader") {
      properties["priam.use.native.sstableloader"] = "true";
    } else if (name == "ignoreOtherDC") {
      properties["priam.ignore.nodes"] = "true";
    } else if (name == "sstableloaderpath") {
      properties["priam.sstableloader.path"] = value;
    } else if (name == "authConfig") {
      authConfigXml = value;
    } else if (name == "CQLsslDisabled") {
      TQLOG(1, "SSL disabled for CQL");
      settings.cqlSslDisabled = true;
    } else if (name == "JMXsslDisabled") {
      TQLOG(1, "SSL disabled for JMX");
      settings.jmxSslDisabled = true;
    } else if (name == "addparam") {
      settings.jvmOptions = value;
    }
  }

  std::string text;
  if (RegistryText("sCassSystemKeyFilePath", text)) {
    properties["priam.config.encrypted"] = "true";
    properties["priam.system.key"] = text;
  }
  if (RegistryText("sCassKeystorePassword", text)) {
    properties["priam.server.kspasswd"] = base64Encode(text);
  }
  if (RegistryText("sCassTrustStorePassword", text)) {
    properties["priam.server.tspasswd"] = base64Encode(text);
  }

  if (authConfigXml.empty()) return CQiError::Success();
  App::AuthConfig auth;
  if (auth.unserialize(authConfigXml) != 0) {
    TQLOG(1, "The authentication settings are not readable; no SSL settings");
    return CQiError::Success();
  }
  std::optional<App::CassandraSSLConfig> ssl = auth.getSsl();
  if (!ssl || ssl->getSslEnabled() == 0) return CQiError::Success();
  std::string password;
  if (!CassandraPriamSetup::DecryptToBase64(ssl->getKeystorePassword().getPlainPassword(),
                                            password)) {
    TQLOG(-1, "Failed to decrypt the keystore password");
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to decrypt the keystore password");
  }
  properties["priam.keystore.password"] = password;
  if (!CassandraPriamSetup::DecryptToBase64(ssl->getTruststorePassword().getPlainPassword(),
                                            password)) {
    TQLOG(-1, "Failed to decrypt the truststore password");
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to decrypt the truststore password");
  }
  properties["priam.truststore.password"] = password;
  if (!settings.jmxSslDisabled) settings.jvmOptions += " -Dssl.enable=true ";
  if (!settings.cqlSslDisabled) settings.jvmOptions += " -Dcql.ssl.enable=true ";
  settings.jvmOptions += " -Djavax.net.ssl.keyStore=" + ssl->getKeystorePath();
  settings.jvmOptions += " -Djavax.net.ssl.trustStore=" + ssl->getTruststorePath();
  settings.jvmOptions +=
      " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
      " -Dcom.sun.management.jmxremote.registry.ssl=true";
  return CQiError::Success();
}

CQiError CCassandraRestoreController::processNodeInit(CNMessageBase* message) {
  TQ_DEBUG_FUNCTION();
  CQiError e = ParseArgs();
  if (e.IsError()) return e.Push(FXLOC);
  e = TQDC_FileSystem::CFSRestoreController::processNodeInit(message);
  if (e.IsError()) return e.Push(FXLOC);

  sourceNode.reset(new (std::nothrow) App::CassandraNode());
  targetNode.reset(new (std::nothrow) App::CassandraNode());
  tableMetadata.reset(new (std::nothrow) DistributedQEL::CassandraCreateCollectFiles());
  sourceTargetMappings.reset(new (std::nothrow) DistributedQEL::CassandraSourceTargetMappingList());
  if (!sourceNode || !targetNode || !tableMetadata || !sourceTargetMappings) {
    return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate the restore records");
  }
  TargetPriamSettings settings;

  // The message as the node start record.
  DistributedQEL::NodeInit init;
  if (message) {
    std::string xml;
    if (message->serialize(xml) != 0 || init.unserialize(xml) != 0) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "The node start message is not readable");
    }
  }
  bool tableMetadataSeen = false;
  for (const DistributedQEL::DINameValue& entry : init.getValues()) {
    const std::string name = entry.getName();
    if (name == "SourceTargetMappingList") {
      if (sourceTargetMappings->unserialize(entry.getValue()) != 0) {
        TQLOG(1, "The source and target mapping is not readable");
      }
    } else if (name == "TableMetadata" && recover) {
      // Without its tables an in-place restore would have nowhere to put the
      // restored files.
      if (tableMetadata->unserialize(entry.getValue()) != 0 ||
          tableMetadata->getNodeKeyspaces().empty()) {
        TQLOG(-1, "Failed to read the table metadata");
        return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to read the table metadata");
      }
      tableMetadataSeen = true;
      e = applyTableMetadata(settings);
      if (e.IsError()) return e.Push(FXLOC);
    } else if (name == "ZelkRestoreParameters" && stageFreeRestore) {
      TQLOG(3, "Zelk parameters for restore: %s", entry.getValue().c_str());
      zelkOptions.reset(new (std::nothrow) DistributedQEL::CassandraZelkRestoreOptions());
      if (!zelkOptions || zelkOptions->unserialize(entry.getValue()) != 0) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to retrieve Zelk restore parameters");
      }
    }
  }
  if (!sourceTargetMappings->isSet(1)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to fetch source and target mapping");
  }
  const std::vector<DistributedQEL::CassandraSourceTargetMapping> mappings =
      sourceTargetMappings->getMappings();
  if (recover && !useSSTableLoader && !tableMetadataSeen && !mappings.empty()) {
    TQLOG(-1, "Failed to read the table metadata");
    return FXErrorUtil::ErrorWin32(FXLOC, 13,
                                   "Failed to read the table metadata: the node start message "
                                   "has none");
  }

  std::string baseDirectory;
  if (!TQPlatformInfo().getString("Base", "dBASEHOME", baseDirectory)) {
    TQLOG(-1, "Failed to get Torvanell Base directory");
    return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to get Torvanell Base directory");
  }
  std::string jobText;
  e = getProgramArguments()->getStringValue("j", jobText);
  if (e.IsError()) return e.Push(FXLOC);
  const long long jobId = std::strtoll(jobText.c_str(), nullptr, 10);
  const std::string resultsDirectory =
      TQPI_CommClient::getJobResultsDirectory(TQPI_Focus::getFocusClientName(true).c_str()).str() +
      "/TQ_JobResults/2/0/" + std::to_string(jobId) + "/";
  TQLOG(2, "restoreResultsDir: %s", resultsDirectory.c_str());

  // Before any target is touched: a target never takes the tokens of two
  // source nodes, since the second would replace the first after the data
  // directories were cleared.
  e = checkTokenTargets(mappings);
  if (e.IsError()) return e.Push(FXLOC);

  for (const DistributedQEL::CassandraSourceTargetMapping& mapping : mappings) {
    e = setUpMapping(mapping, resultsDirectory, baseDirectory, settings);
    if (e.IsError()) return e.Push(FXLOC);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
