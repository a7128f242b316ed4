// The restore coordinator's answer to a started node controller: the node
// start payload (coordinator, node mappings, destination tables with the
// connection settings of the node's Priams, the stage-free share) and the
// native sstableloader rule.

#include <cstdlib>
#include <new>
#include <optional>
#include <stdexcept>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraRestoreClientConfig.h"
#include "common/RestoreRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/json/TqJson.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPI_Focus.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

// The client of a node-map entity, or an empty one.
TqEntities::ClientEntity ClientOf(const std::optional<App::CassandraClientMapEntity>& entity) {
  if (entity) {
    std::optional<TqEntities::ClientEntity> client = entity->getClient();
    if (client) return *client;
  }
  return TqEntities::ClientEntity();
}

TqEntities::ClientEntity ClientOf(const App::CassandraNode& node) {
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  return client ? *client : TqEntities::ClientEntity();
}

// The last node of `nodes` that stands for `entity`: a node in a container by
// its agent instance name, any other by its client id.
std::optional<App::CassandraNode> FindMappedNode(
    const std::vector<App::CassandraNode>& nodes,
    const std::optional<App::CassandraClientMapEntity>& entity, const char* clientLog,
    const char* instanceFound, const char* clientFound) {
  std::optional<App::CassandraNode> found;
  const TqEntities::ClientEntity wanted = ClientOf(entity);
  const std::string container = entity ? entity->getContainerName() : std::string();
  for (const App::CassandraNode& node : nodes) {
    const TqEntities::ClientEntity client = ClientOf(node);
    TQLOG(3, clientLog, static_cast<unsigned long>(client.getClientId()));
    const std::string instance = node.getAgentInstanceName();
    if (!instance.empty()) {
      if (instance == container) {
        TQLOG(0, "%s", instanceFound);
        found = node;
      }
    } else if (client.getClientId() == wanted.getClientId()) {
      TQLOG(0, "%s", clientFound);
      found = node;
    }
  }
  return found;
}

// A registry text of section "Cassandra" that exists and is not empty.
bool RegistryText(const char* name, std::string& value) {
  value.clear();
  return TQPlatformInfo().getString("Cassandra", name, value) != 0 && !value.empty();
}

// A registry switch of section "Cassandra" that exists and is not 0.
bool RegistrySwitch(const char* name) {
  int64_t value = 0;
  return TQPlatformInfo().getNumber("Cassandra", name, value) != 0 && value != 0;
}

// The leading digits of `text` as a number (0 without any).
long LeadingNumber(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

}  // namespace

std::string CCassandraRestores::registeredNodeName(
    const App::CassandraDockerClientMap& entry) const {
  const TqEntities::ClientEntity source = ClientOf(entry.getSource());
  std::optional<App::CassandraClientMapEntity> targetEntity = entry.getTarget();
  std::optional<TqEntities::ClientEntity> target;
  if (targetEntity) target = targetEntity->getClient();
  const bool byTarget =
      crossInstance && target && (static_cast<uint64_t>(target->getClientId()) & 0xFFFFFFFFu) != 0;
  return byTarget ? target->getClientName() : source.getClientName();
}

CQiError CCassandraRestores::checkCassVersionForNativeSSTableloader(unsigned int& native) {
  native = 0;
  std::string confFile, flavour;
  if (priamUtil) {
    CQiError e = priamUtil->getConfFileNameCassFlavor(confFile, flavour);
    if (e.IsError()) TQLOG(1, "No configuration flavour: %s", e.AsString(2).c_str());
  }
  TQLOG(0, "Nodetool version: %s Flavor: %s", cassandraVersion.c_str(), flavour.c_str());
  if (flavour == "scylla") {
    native = 1;
    return CQiError::Success();
  }
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = cassandraVersion.find('.', start);
    parts.push_back(cassandraVersion.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (cassandraVersion.empty()) parts.clear();
  if (parts.size() == 4) {
    // Only the first character of the fourth part counts, compared as a
    // character: "6" and "a" are above '5', "10" and "" are not.
    native = !parts[3].empty() && parts[3][0] > '5' ? 1 : 0;
  } else if (parts.size() == 2 || parts.size() == 3) {
    native = LeadingNumber(parts[0]) > 3 ? 1 : 0;
  } else {
    TQLOG(0, "Not able to match any existing formats. Not using native sstableloader");
  }
  TQLOG(0, "%s using native sstableloader", native ? "" : "not");
  return CQiError::Success();
}

CQiError CCassandraRestores::buildTableMetadata(std::string& xml) {
  if (!priamUtil) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The coordinator has no Priam to read the schema");
  }
  CQiString reply;
  CQiError e = priamUtil->get(0, CQiString("getMeta"), reply, CQiString(""));
  if (e.IsError()) {
    CQiError handled = handlePriamError(e);
    return handled.Push(FXLOC);
  }
  TQLOG(3, "Response: %s", reply.c_str());

  TqJson::Array meta;
  if (!TqJson::Unserialize(reply.str(), meta)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to getMeta is not a JSON array");
  }
  std::vector<DistributedQEL::CassandraKeyspace> keyspaces;
  try {
    for (const TqJson::Value& element : meta) {
      if (!element.isObject()) continue;
      const TqJson::Object& object = element.getObject();
      DistributedQEL::CassandraKeyspace keyspace;
      keyspace.setKeyspaceName(TqJson::GetStringValue(object, "KEYSPACE"));
      std::vector<DistributedQEL::CassandraTable> tables;
      TqJson::Array tableArray;
      TqJson::FindArrayValue(object, "Tables", tableArray);
      for (const TqJson::Value& t : tableArray) {
        if (!t.isObject()) continue;
        DistributedQEL::CassandraTable table;
        table.setTableName(TqJson::GetStringValue(t.getObject(), "COLUMNSPACE"));
        std::string id = TqJson::GetStringValue(t.getObject(), "ID");
        std::string compact;
        for (char c : id) {
          if (c != '-') compact += c;
        }
        table.setTableId(compact);
        tables.push_back(table);
      }
      keyspace.setTables(tables);
      keyspaces.push_back(keyspace);
    }
  } catch (const std::runtime_error& typeError) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to getMeta is not readable: %s",
                                   typeError.what());
  }

  DistributedQEL::CassandraNodeKeyspace nodeKeyspaces;
  nodeKeyspaces.setKeyspaces(keyspaces);

  std::vector<DistributedQEL::DINameValue> properties;
  auto add = [&properties](const char* name, const std::string& value) {
    properties.emplace_back(name, value);
  };
  if (!destConfig->gatewayUser.empty()) add("cqlusername", destConfig->gatewayUser);
  if (!destConfig->gatewayPassword.empty()) add("cqlp", destConfig->gatewayPassword);
  if (destConfig->jmxPort != 0) add("jmxport", std::to_string(destConfig->jmxPort));
  if (!destConfig->jmxUser.empty()) add("jmxuser", destConfig->jmxUser);
  if (!destConfig->jmxPassword.empty()) add("jmxtoken", destConfig->jmxPassword);
  if (!priamAdditionalParameters.empty()) add("addparam", priamAdditionalParameters);
  add("cqlhost", destConfig->gatewayHost);
  add("cqlport", std::to_string(destConfig->gatewayCqlPort));
  std::string text;
  if (RegistryText("sCassSystemKeyFilePath", text)) add("configEncrypted", text);
  if (RegistryText("sCassKeystorePassword", text)) add("ksp", text);
  if (RegistryText("sCassTrustStorePassword", text)) add("tsp", text);
  if (useSSTableLoader || stageFreeRestore) {
    unsigned int native = 0;
    checkCassVersionForNativeSSTableloader(native);
    if (native == 1 || RegistrySwitch("nCassUseNativeSSTableloader")) {
      add("nativeSSTableLoader", "true");
    }
  }
  if (RegistrySwitch("nCassIgnoreNodesInOtherDC")) add("ignoreOtherDC", "true");
  if (RegistryText("sCassSStableLoaderPath", text)) add("sstableloaderpath", text);
  if (!authConfigXml.empty()) add("authConfig", authConfigXml);
  int64_t sslDisabled = 0;
  if (!TQPlatformInfo().getNumber("Cassandra", "nCassandraCqlSslDisabled", sslDisabled)) {
    TQLOG(-1, "Failed to check if SSL is disabled for CQL");
  } else if (sslDisabled != 0) {
    add("CQLsslDisabled", "true");
  }
  sslDisabled = 0;
  if (!TQPlatformInfo().getNumber("Cassandra", "nCassandraJmxSslDisabled", sslDisabled)) {
    TQLOG(-1, "Failed to check if SSL is disabled for JMX");
  } else if (sslDisabled != 0) {
    add("JMXsslDisabled", "true");
  }

  DistributedQEL::CassandraCreateCollectFiles record;
  record.setNodeKeyspaces({nodeKeyspaces});
  record.setOptions(properties);
  if (record.serialize(xml) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to write the table metadata");
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::buildZelkParameters(const std::string& nodeName, std::string& xml) {
  TQLOG(0, "Zelk Server: %s Zelk share path: %s", mediaAgentHostName.c_str(),
        zelkShareName.c_str());
  const int64_t jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
  DistributedQEL::CassandraZelkRestoreOptions options;
  options.setShareName(zelkShareName);
  options.setServerHost(mediaAgentHostName);
  options.setMountDirectory("/TqCassandraMountDir" + std::to_string(jobId));
  int64_t tunnelingPort = 0;
  if (TQPlatformInfo().getNumber("Cassandra", "nCassandraZelkTunnelingPort", tunnelingPort) &&
      tunnelingPort != 0) {
    options.setTunnelingPort(tunnelingPort);
    options.setServerHost("localhost");
  }

  std::vector<std::string> prefixes;
  for (const App::CassandraDockerClientMap& entry : nodeMap) {
    if (registeredNodeName(entry) != nodeName) continue;
    const std::string sourceName = ClientOf(entry.getSource()).getClientName();
    TQLOG(3, "Node map source: %s target: %s", sourceName.c_str(),
          ClientOf(entry.getTarget()).getClientName().c_str());
    if (!sourceConfig) continue;
    for (const App::CassandraNode& node : sourceConfig->clusterNodes) {
      if (ClientOf(node).getClientName() != sourceName) continue;
      const std::string prefix =
          sourceConfig->clusterName + "/" + node.getDataCenter() + "/" + sourceName;
      TQLOG(3, "Adding prefix: %s", prefix.c_str());
      prefixes.push_back(prefix);
      break;
    }
  }
  options.setSourcePrefixes(prefixes);

  std::vector<DistributedQEL::CassandraKeyspace> keyspaces;
  for (const auto& schema : keyspaceSchemas) {
    DistributedQEL::CassandraKeyspace keyspace;
    keyspace.setKeyspaceName(schema.first);
    std::vector<DistributedQEL::CassandraTable> tables;
    for (const auto& table : schema.second.tableExists) {
      DistributedQEL::CassandraTable record;
      record.setTableName(table.first);
      tables.push_back(record);
    }
    keyspace.setTables(tables);
    keyspaces.push_back(keyspace);
  }
  options.setKeyspaces(keyspaces);
  if (options.serialize(xml) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to write the stage-free parameters");
  }
  TQLOG(3, "Zelk Restore parameters: %s", xml.c_str());
  return CQiError::Success();
}

CQiError CCassandraRestores::getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                                            FrameworkMessagePtr& message) {
  TQ_DEBUG_FUNCTION();
  if (!node) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No node to answer");
  if (!sourceConfig || !destConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The cluster details were not loaded");
  }
  std::vector<DistributedQEL::DINameValue> payload;
  payload.emplace_back("MasterNodeName", TQPI_Focus::getFocusClientName(true).str());
  payload.emplace_back("DistributedQELStateFile", getStateFile());

  std::vector<DistributedQEL::CassandraSourceTargetMapping> mappings;
  for (const App::CassandraDockerClientMap& entry : nodeMap) {
    TQLOG(3, "Source Client [%s]", ClientOf(entry.getSource()).getClientName().c_str());
    // An entry belongs to the node it was registered for.
    if (registeredNodeName(entry) != node->getClientName()) continue;
    std::optional<App::CassandraNode> source =
        FindMappedNode(sourceConfig->clusterNodes, entry.getSource(), " Source Client [%lu] ",
                       " Source instance found ", "Source client found ");
    std::optional<App::CassandraNode> target =
        FindMappedNode(destConfig->clusterNodes, entry.getTarget(), "Dest Client [%lu] ",
                       " Dest Instance found", "Dest Client found ");
    if (source && !target) {
      TQLOG(0, "Target not set. Setting source into target for inplace restore");
      target = source;
    }
    if (!source || !target) continue;
    DistributedQEL::CassandraSourceTargetMapping mapping;
    mapping.setSource(*source);
    mapping.setTarget(*target);
    mappings.push_back(mapping);
  }
  if (mappings.empty()) {
    return FXErrorUtil::ErrorErrNo(FXLOC, 13, "Failed to create access node map for cassandra");
  }
  DistributedQEL::CassandraSourceTargetMappingList list;
  list.setMappings(mappings);
  std::string xml;
  if (list.serialize(xml) != 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, 13, "failed to create mapping list");
  }
  TQLOG(0, "SourceTargetMappingList :%s", xml.c_str());
  payload.emplace_back("SourceTargetMappingList", xml);

  if (recover) {
    std::string metadata;
    CQiError e = buildTableMetadata(metadata);
    if (e.IsError()) return e.Push(FXLOC);
    payload.emplace_back("TableMetadata", metadata);
  }
  if (stageFreeRestore) {
    std::string zelk;
    CQiError e = buildZelkParameters(node->getClientName(), zelk);
    if (e.IsError()) return e.Push(FXLOC);
    payload.emplace_back("ZelkRestoreParameters", zelk);
  }

  TQLOG(3, " Sending details ");
  boost::shared_ptr<DistributedQEL::NodeInit> init(new (std::nothrow) DistributedQEL::NodeInit());
  if (!init) return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate the node start message");
  init->setValues(payload);
  message = init;
  return CQiError::Success();
}

}  // namespace TQCassandra
