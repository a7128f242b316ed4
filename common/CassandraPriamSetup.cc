#include "common/CassandraPriamSetup.h"

#include <string.h>

#include <new>
#include <optional>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiPath.h"
#include "platform/base/QiString.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/Base64.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPI_Focus.h"
#include "platform/suite/TQPassword.h"

namespace TQCassandra {

namespace {

using Properties = std::map<std::string, std::string>;

// The failure of a stored password that does not decrypt. `what` names it in
// the coordinator's event ("Keystore password"); `logText` is both the log
// line and the node's error text.
CQiError DecryptFailure(const FXCodeLocation& location, CassandraPriamSetup::Variant variant,
                        const char* what, const char* logText) {
  TQLOG(-1, "%s", logText);
  if (variant == CassandraPriamSetup::kCoordinator) {
    return FXErrorUtil::ErrorEventMessage(location, CassandraPriamSetup::kEvPasswordDecryptFailed,
                                          what);
  }
  return FXErrorUtil::ErrorWin32(location, 13, "%s", logText);
}

// The "java" program under the Java home; empty without a Java home.
std::string JavaPath(const std::string& javaHome) {
  if (javaHome.empty()) return std::string();
  return CQiPath::Append(javaHome.c_str(), "java").str();
}

CQiError ReadBaseDirectory(std::string& baseDirectory) {
  if (!TQPlatformInfo().getString("Base", "dBASEHOME", baseDirectory)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Failed to get Torvanell Base directory");
  }
  return CQiError::Success();
}

// Builds the working directory from its components and creates it.
CQiError MakeWorkingDirectory(std::initializer_list<std::string> components, std::string& path) {
  path.clear();
  for (const std::string& component : components) FXPath::Append(path, component);
  CQiError e = CQiDirectory::Create(path.c_str(), true);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

PriamUtilPtr NewPriamUtil(const std::string& javaPath, const std::string& baseDirectory,
                          const std::string& workingDirectory, const std::string& confLocation,
                          bool restoreMode = false) {
  return PriamUtilPtr(new (std::nothrow) TqCassandra::PriamUtil(
      0, CQiString(javaPath), baseDirectory, workingDirectory, confLocation, restoreMode));
}

// A registry switch of section "Cassandra", 0 when absent; `absentLog` (when
// given) is logged at level -1 for an absent value.
int64_t ReadSwitch(const char* name, const char* absentLog) {
  int64_t value = 0;
  if (!TQPlatformInfo().getNumber("Cassandra", name, value) && absentLog) {
    TQLOG(-1, "%s", absentLog);
  }
  return value;
}

// The SSL part of the recipe: keystore and truststore passwords into the
// property set, the SSL switches and stores into the JVM options. Nothing
// happens without an authentication text or with SSL off.
CQiError AddSslSettings(CassandraPriamSetup::Variant variant, const std::string& authConfigXml,
                        Properties& properties, std::string& parameters) {
  const bool coordinator = variant == CassandraPriamSetup::kCoordinator;
  PriamSslStores stores;
  CQiError e = CassandraPriamSetup::ReadSslStores(variant, authConfigXml, stores);
  if (e.IsError()) return e;
  if (!stores.enabled) return CQiError::Success();
  properties["priam.keystore.password"] = stores.keystoreToken;
  properties["priam.truststore.password"] = stores.truststoreToken;
  const std::string& keystorePath = stores.keystorePath;
  const std::string& truststorePath = stores.truststorePath;

  const bool cqlSslDisabled =
      ReadSwitch("nCassandraCqlSslDisabled", "Failed to check if SSL is disabled for CQL") != 0;
  const bool jmxSslDisabled =
      ReadSwitch("nCassandraJmxSslDisabled", "Failed to check if SSL is disabled for JMX") != 0;

  parameters += cqlSslDisabled ? " -Dcql.ssl.enable=false " : " -Dcql.ssl.enable=true ";
  if (jmxSslDisabled) {
    parameters += " -Dssl.enable=false ";
  } else {
    parameters += coordinator ? " -Dssl.enable=true\t" : " -Dssl.enable=true ";
  }
  if (coordinator) TQLOG(2, "Priam additional parameters: %s", parameters.c_str());
  if (!(cqlSslDisabled && jmxSslDisabled)) {
    if (coordinator) TQLOG(2, "Appending SSL keystore/truststore parameters");
    parameters += " -Djavax.net.ssl.keyStore=";
    parameters += keystorePath;
    parameters += " -Djavax.net.ssl.trustStore=";
    parameters += truststorePath;
    parameters +=
        " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
        " -Dcom.sun.management.jmxremote.registry.ssl=true";
  }
  if (!coordinator) TQLOG(2, "Priam additional parameters: %s", parameters.c_str());
  return CQiError::Success();
}

// The property set is in effect for the next start; a failed write leaves
// Priam with its defaults, which the start itself then reveals.
void WriteProperties(TqCassandra::PriamUtil& priam, const Properties& properties) {
  if (properties.empty()) return;
  CQiError e = priam.writePriamProperties(properties);
  if (e.IsError()) TQLOG(1, "Priam properties not written: %s", e.AsString(2).c_str());
}

}  // namespace

std::string NodeConfigurationLocation(const std::string& configDirectory) {
  size_t colon = configDirectory.find(':');
  if (colon != std::string::npos && configDirectory.find(':', colon + 1) == std::string::npos) {
    return configDirectory.substr(0, colon);
  }
  return configDirectory;
}

NodePriamInstance NodePriamInstance::FromNode(const App::CassandraNode& node) {
  NodePriamInstance instance;
  instance.javaHome = node.getJavaHome();
  instance.configDirectory = node.getConfigDirectory();
  return instance;
}

CQiError CassandraPriamSetup::ReadSslStores(Variant variant, const std::string& authConfigXml,
                                            PriamSslStores& stores) {
  stores = PriamSslStores();
  if (authConfigXml.empty()) return CQiError::Success();
  App::AuthConfig auth;
  int parsed = auth.unserialize(authConfigXml);
  if (parsed != 0) TQLOG(1, "Authentication configuration not readable (%d)", parsed);
  std::optional<App::CassandraSSLConfig> ssl = auth.getSsl();
  if (!ssl || ssl->getSslEnabled() == 0) return CQiError::Success();

  stores.keystorePath = ssl->getKeystorePath();
  if (!DecryptToBase64(ssl->getKeystorePassword().getPlainPassword(), stores.keystoreToken)) {
    return DecryptFailure(FXLOC, variant, "Keystore password",
                          "Failed to decrypt the keystore password");
  }
  stores.truststorePath = ssl->getTruststorePath();
  if (!DecryptToBase64(ssl->getTruststorePassword().getPlainPassword(), stores.truststoreToken)) {
    return DecryptFailure(FXLOC, variant, "Truststore password",
                          "Failed to decrypt the truststore password");
  }
  stores.enabled = true;
  return CQiError::Success();
}

bool CassandraPriamSetup::DecryptToBase64(const std::string& encrypted, std::string& base64) {
  char buffer[1024];
  unsigned int length = sizeof buffer;
  // The plain password is encoded straight from the buffer, which is wiped
  // whether or not the text decrypted.
  const bool decrypted = TQPassword().decrypt(encrypted.c_str(), buffer, length) != 0;
  if (decrypted) base64Encode(buffer, length, base64);
  explicit_bzero(buffer, sizeof buffer);
  return decrypted;
}

CQiError CassandraPriamSetup::ReadJmxConfig(Variant variant, const std::string& jmxConfigXml,
                                            PriamJmxSettings& jmx,
                                            std::string& priamAdditionalParameters) {
  if (jmxConfigXml.empty()) return CQiError::Success();
  App::JMXConnection record;
  int parsed = record.unserialize(jmxConfigXml);
  if (parsed != 0) TQLOG(1, "JMX configuration not readable (%d)", parsed);
  jmx.host = record.getJmxHost();
  jmx.port = static_cast<uint32_t>(record.getJmxPort());
  std::optional<UserCredentials> credentials = record.getCredentials();
  if (credentials) {
    jmx.user = credentials->getUserName();
    if (!jmx.user.empty()) {
      if (!DecryptToBase64(credentials->getPassword().getPlainPassword(), jmx.token)) {
        return DecryptFailure(FXLOC, variant, "JMX password", "Failed to decrypt the JMX password");
      }
      jmx.service = record.getJmxService();
    }
  }
  if (ReadSwitch("nCassandraRemoteJMXEnabled", "Failed to check if remote JMX is enabled") != 0) {
    priamAdditionalParameters += " -Dpriam.jmx.host=";
    priamAdditionalParameters += jmx.host;
  }
  return CQiError::Success();
}

CQiError CassandraPriamSetup::MakeCoordinatorPriam(const CoordinatorPriamInputs& inputs,
                                                   PriamUtilPtr& priam) {
  const std::string javaPath = JavaPath(inputs.javaHome);
  std::string baseDirectory;
  CQiError e = ReadBaseDirectory(baseDirectory);
  if (e.IsError()) return e;
  std::string workingDirectory;
  e = MakeWorkingDirectory({inputs.jobResultsPath, TQPI_Focus::getFocusClientName(true).str()},
                           workingDirectory);
  if (e.IsError()) return e.Push(FXLOC);
  priam = NewPriamUtil(javaPath, baseDirectory, workingDirectory, inputs.cassandraConfigFile,
                       inputs.restoreMode);
  if (!priam) return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to create PriamUtil object");
  return CQiError::Success();
}

CQiError CassandraPriamSetup::SetCoordinatorPriamValues(const CoordinatorPriamInputs& inputs,
                                                        TqCassandra::PriamUtil& priam,
                                                        std::string& priamAdditionalParameters) {
  TQLOG(0, "Custom Priam property set. Writing priam properties");
  Properties properties;
  std::string cqlHost = priam.getCQLhost();
  std::string cqlPort = priam.getCQLport();
  if (cqlHost.empty() || cqlPort.empty()) {
    if (!inputs.gatewayHost.empty()) cqlHost = inputs.gatewayHost;
    if (inputs.gatewayCqlPort != 0) cqlPort = std::to_string(inputs.gatewayCqlPort);
  }
  properties["priam.cqlhost"] = cqlHost;
  properties["priam.cqlport"] = cqlPort;
  if (!inputs.gatewayUser.empty()) properties["priam.cqlusername"] = inputs.gatewayUser;
  if (!inputs.gatewayPassword.empty()) properties["priam.cqluserpassword"] = inputs.gatewayPassword;
  properties["priam.jmx.port"] = priam.getJMXport();
  if (!inputs.jmxUser.empty()) properties["priam.jmx.user"] = inputs.jmxUser;
  if (!inputs.jmxPassword.empty()) properties["priam.jmx.token"] = inputs.jmxPassword;
  if (ReadSwitch("nCaptureCassandraTypes", nullptr) != 0) {
    TQLOG(0, "Enabling capture of Cassandra types");
    properties["priam.capture.types"] = "true";
  }
  CQiError e =
      AddSslSettings(kCoordinator, inputs.authConfigXml, properties, priamAdditionalParameters);
  if (e.IsError()) return e;
  WriteProperties(priam, properties);
  return CQiError::Success();
}

CQiError CassandraPriamSetup::SetPriamParameters(const std::string& priamAdditionalParameters,
                                                 TqCassandra::PriamUtil& priam) {
  if (!priamAdditionalParameters.empty()) {
    priam.priamAdditionalParameters = priamAdditionalParameters;
  }
  return CQiError::Success();
}

CQiError CassandraPriamSetup::StartCoordinatorPriam(
    const CoordinatorPriamInputs& inputs, std::string& priamAdditionalParameters,
    PriamUtilPtr& priam, const std::function<void(const CQiError&)>& onStartFailure) {
  CQiError e = MakeCoordinatorPriam(inputs, priam);
  if (e.IsError()) return e.Push(FXLOC);
  e = SetCoordinatorPriamValues(inputs, *priam, priamAdditionalParameters);
  if (e.IsError()) return e.Push(FXLOC);
  SetPriamParameters(priamAdditionalParameters, *priam);
  e = priam->startPriam();
  if (e.IsError()) {
    if (onStartFailure) onStartFailure(e);
    return e.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CassandraPriamSetup::InitializeNodePriams(
    const std::map<std::string, NodePriamInstance>& instances,
    const std::string& jobResultsDirectory, const std::string& jmxConfig,
    const std::string& authConfig, bool start, PriamByInstance& priamByInstance) {
  const std::string clientName = TQPI_Focus::getFocusClientName(true).str();
  for (const auto& entry : instances) {
    const std::string& name = entry.first;
    const NodePriamInstance& instance = entry.second;
    TQLOG(0, "Initializing Priam for instance %s", name.c_str());

    const std::string javaPath = JavaPath(instance.javaHome);
    std::string baseDirectory;
    CQiError e = ReadBaseDirectory(baseDirectory);
    if (e.IsError()) return e;
    std::string workingDirectory;
    e = MakeWorkingDirectory({jobResultsDirectory, clientName, name}, workingDirectory);
    if (e.IsError()) return e.Push(FXLOC);
    PriamUtilPtr priam = NewPriamUtil(javaPath, baseDirectory, workingDirectory,
                                      NodeConfigurationLocation(instance.configDirectory));
    if (!priam) {
      return FXErrorUtil::ErrorWin32(FXLOC, 8, "Memory allocation failed for Priam object");
    }
    // Kept at once, so that an instance whose later steps fail still has its
    // (not running) utility.
    priamByInstance[name] = priam;
    if (!start) continue;

    std::string parameters;
    PriamJmxSettings jmx;
    e = ReadJmxConfig(kNode, jmxConfig, jmx, parameters);
    if (e.IsError()) return e.Push(FXLOC);
    Properties properties;
    const std::string jmxPort = priam->getJMXport();
    if (!jmxPort.empty()) properties["priam.jmx.port"] = jmxPort;
    if (!jmx.user.empty()) properties["priam.jmx.user"] = jmx.user;
    if (!jmx.token.empty()) properties["priam.jmx.token"] = jmx.token;
    e = AddSslSettings(kNode, authConfig, properties, parameters);
    if (e.IsError()) return e.Push(FXLOC);
    WriteProperties(*priam, properties);
    priam->priamAdditionalParameters = parameters;

    e = priam->startPriam();
    if (e.IsError()) {
      if (FXErrorUtil::IsWin32(e, 5)) {
        EvEvent().MajorEvent(kEvPriamAccessDenied);
        return e.Push(FXLOC);
      }
      // This instance stays behind, not running; the others still start.
      EvEvent event;
      event << e.AsString(2);
      event.MajorEvent(kEvPriamStartFailed);
    }
  }
  return CQiError::Success();
}

CQiError CassandraPriamSetup::UninitializeNodePriams(PriamByInstance& priamByInstance) {
  for (auto& entry : priamByInstance) {
    if (!entry.second) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                     "NULL CassandraControllerClientConfig while stopping Priam");
    }
    if (!entry.second->getIsConnected()) continue;
    CQiError e = entry.second->stopPriam();
    if (e.IsError()) TQLOG(0, "Failed to stop priam on %s", entry.first.c_str());
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
