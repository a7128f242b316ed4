// The restore coordinator's cluster details: what the suite keeps of the
// destination (and, across instances, the source) cluster.

#include <optional>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraPriamSetup.h"
#include "common/ClusterInstanceProcedure.h"
#include "platform/app/CassandraInstance.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/TQPI_Focus.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

// The procedure's failure as the coordinator reports it: logged, and an
// errno -1 error with the result and the procedure's text.
CQiError ProcedureFailure(const FXCodeLocation& location, const ClusterInstanceConfig& reply) {
  TQLOG(-1, " Executing stored procedure failed with an error retCode [%d] response Str [%s]",
        reply.code, reply.errorText.c_str());
  return FXErrorUtil::ErrorErrNo(
      location, -1,
      "Stored procedure to save instance properties failed with an error [%d], "
      "response Str [%s]",
      reply.code, reply.errorText.c_str());
}

void LogNodeClients(const std::vector<App::CassandraNode>& nodes) {
  for (const App::CassandraNode& node : nodes) {
    std::optional<TqEntities::ClientEntity> client = node.getClient();
    TQLOG(4, " Client [%ul] ", client ? static_cast<unsigned>(client->getClientId()) : 0u);
  }
}

}  // namespace

CQiError CCassandraRestores::handlePriamError(const CQiError& error) {
  if (error.IsError() && FXErrorUtil::IsWin32(error, 5)) {
    EvEvent().MajorEvent(kEvPriamAccessDenied);
  }
  return error;
}

CQiError CCassandraRestores::getClusterDetails(bool destination) {
  TQ_DEBUG_FUNCTION();
  const uint64_t instanceId = destination ? destInstanceId : sourceInstanceId;
  const boost::shared_ptr<CassandraCoordinatorClientConfig> config =
      destination ? destConfig : sourceConfig;
  if (!config) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "No configuration object for the %s cluster",
                                   destination ? "destination" : "source");
  }
  TQLOG(3, "Fetching node details [%lu] ", static_cast<unsigned long>(instanceId));

  const ClusterInstanceConfig reply = ClusterInstanceConfig::Get(static_cast<int32_t>(instanceId));
  switch (reply.step) {
    case ClusterInstanceConfig::kOk:
      break;
    case ClusterInstanceConfig::kSerialize:
      return FXErrorUtil::ErrorErrNo(FXLOC, -1,
                                     "Distributed cluster instance XML serialization failed with "
                                     "an error. Please check the logs");
    case ClusterInstanceConfig::kProcedure:
    case ClusterInstanceConfig::kParse:
      return ProcedureFailure(FXLOC, reply);
    case ClusterInstanceConfig::kNoConfig:
      return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Null Cassandra config");
  }

  // The getters of a registered instance do not fail; a value the instance
  // does not hold leaves the field empty.
  CassandraInstance instance(instanceId);
  int cqlPort = 0;
  instance.getGatewayCQLPort(cqlPort);
  std::string clusterName, instanceName, javaHome, gatewayHost, gatewayPassword;
  instance.getClusterName(clusterName);
  instance.getInstanceName(instanceName);
  instance.getJavaHome(javaHome);
  instance.getGatewayHost(gatewayHost);
  instance.getGatewayPassword(gatewayPassword);

  config->clusterName = clusterName;
  config->instanceAttribute = instanceName;
  config->restoreJavaHome = javaHome;
  config->gatewayHost = gatewayHost;
  config->gatewayPassword = gatewayPassword;
  config->gatewayCqlPort = static_cast<uint32_t>(cqlPort);
  config->clusterNodes = reply.config.getNodes();

  if (!destination) {
    LogNodeClients(config->clusterNodes);
    return CQiError::Success();
  }

  std::string version, gatewayUser;
  instance.getVersion(version);
  instance.getGatewayUser(gatewayUser);
  destInstanceVersion = version;
  config->gatewayUser = gatewayUser;
  if (!config->gatewayUser.empty()) {
    std::string token;
    if (!CassandraPriamSetup::DecryptToBase64(config->gatewayPassword, token)) {
      TQLOG(-1, "Failed to decrypt the password");
      return FXErrorUtil::ErrorEventMessage(FXLOC, kEvPasswordDecryptFailed, "CQL password");
    }
    config->gatewayPassword = token;
  }

  std::string configFile;
  instance.getCassandraConfigFile(configFile);
  cassandraConfigFile = configFile;
  if (cassandraConfigFile.empty()) {
    const std::string thisClient = TQPI_Focus::getFocusClientName(true).str();
    for (const App::CassandraNode& node : config->clusterNodes) {
      std::optional<TqEntities::ClientEntity> client = node.getClient();
      TQLOG(4, " Client [%ul] ", client ? static_cast<unsigned>(client->getClientId()) : 0u);
      if (client && client->getClientName() == thisClient) {
        cassandraConfigFile = NodeConfigurationLocation(node.getConfigDirectory());
      }
    }
  }

  std::string jmxXml;
  instance.getJMXConfig(jmxXml);
  if (!jmxXml.empty()) {
    App::JMXConnection jmx;
    int parsed = jmx.unserialize(jmxXml);
    if (parsed != 0) TQLOG(1, "JMX configuration not readable (%d)", parsed);
    config->jmxHost = jmx.getJmxHost();
    config->jmxPort = static_cast<uint32_t>(jmx.getJmxPort());
    std::optional<UserCredentials> credentials = jmx.getCredentials();
    if (credentials) {
      config->jmxUser = credentials->getUserName();
      if (!config->jmxUser.empty()) {
        std::string token;
        if (!CassandraPriamSetup::DecryptToBase64(credentials->getPassword().getPlainPassword(),
                                                  token)) {
          TQLOG(-1, "Failed to decrypt the JMX password");
          return FXErrorUtil::ErrorEventMessage(FXLOC, kEvPasswordDecryptFailed, "JMX password");
        }
        config->jmxPassword = token;
      }
    }
  }

  std::string authXml;
  instance.getAuthConfig(authXml);
  if (!authXml.empty()) authConfigXml = authXml;

  TQLOG(2, "Gateway properties: %s %d %s %s %d", config->gatewayHost.c_str(),
        static_cast<int>(config->gatewayCqlPort), config->gatewayUser.c_str(),
        config->jmxHost.c_str(), static_cast<int>(config->jmxPort));
  return CQiError::Success();
}

}  // namespace TQCassandra
