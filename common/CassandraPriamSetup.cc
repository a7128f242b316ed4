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

CassandraPriamOptionsBuilder::Style StyleOf(CassandraPriamSetup::Variant variant) {
  return variant == CassandraPriamSetup::kCoordinator
             ? CassandraPriamOptionsBuilder::kCoordinatorStyle
             : CassandraPriamOptionsBuilder::kNodeStyle;
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

CQiError CassandraPriamSetup::ReadJmxSettings(Variant variant, const std::string& jmxConfigXml,
                                              PriamJmxSettings& jmx) {
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
  return CQiError::Success();
}

CQiError CassandraPriamSetup::ReadJmxConfig(Variant variant, const std::string& jmxConfigXml,
                                            PriamJmxSettings& jmx,
                                            std::string& priamAdditionalParameters) {
  if (jmxConfigXml.empty()) return CQiError::Success();
  CQiError e = ReadJmxSettings(variant, jmxConfigXml, jmx);
  if (e.IsError()) return e;
  CassandraPriamOptionsBuilder options(StyleOf(variant), priamAdditionalParameters);
  options.AddJmxHostOption(jmx.host);
  priamAdditionalParameters = options.jvmOptions();
  return CQiError::Success();
}

CQiError CassandraPriamSetup::ReadSslSettings(Variant variant, const std::string& authConfigXml,
                                              PriamSslSettings& ssl) {
  ssl = PriamSslSettings();
  if (authConfigXml.empty()) return CQiError::Success();
  App::AuthConfig auth;
  int parsed = auth.unserialize(authConfigXml);
  if (parsed != 0) TQLOG(1, "Authentication configuration not readable (%d)", parsed);
  std::optional<App::CassandraSSLConfig> record = auth.getSsl();
  if (!record || record->getSslEnabled() == 0) return CQiError::Success();

  ssl.keystorePath = record->getKeystorePath();
  if (!DecryptToBase64(record->getKeystorePassword().getPlainPassword(), ssl.keystorePassword)) {
    return DecryptFailure(FXLOC, variant, "Keystore password",
                          "Failed to decrypt the keystore password");
  }
  ssl.truststorePath = record->getTruststorePath();
  if (!DecryptToBase64(record->getTruststorePassword().getPlainPassword(),
                       ssl.truststorePassword)) {
    return DecryptFailure(FXLOC, variant, "Truststore password",
                          "Failed to decrypt the truststore password");
  }
  ssl.enabled = true;
  return CQiError::Success();
}

CQiError CassandraPriamSetup::ConfigureNodePriam(CassandraPriamOptionsBuilder::Style style,
                                                 const std::string& jmxConfig,
                                                 const std::string& authConfig,
                                                 TqCassandra::PriamUtil& priam) {
  PriamJmxSettings jmx;
  CQiError e = ReadJmxSettings(kNode, jmxConfig, jmx);
  if (e.IsError()) return e.Push(FXLOC);
  CassandraPriamOptionsBuilder options(style);
  if (!jmxConfig.empty()) options.AddJmxHostOption(jmx.host);
  options.AddJmxProperties(priam.getJMXport(), jmx.user, jmx.token);
  PriamSslSettings ssl;
  e = ReadSslSettings(kNode, authConfig, ssl);
  if (e.IsError()) return e.Push(FXLOC);
  options.AddSsl(ssl);
  options.ApplyTo(priam);
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
  CassandraPriamOptionsBuilder options(CassandraPriamOptionsBuilder::kCoordinatorStyle,
                                       priamAdditionalParameters);
  std::string cqlHost = priam.getCQLhost();
  std::string cqlPort = priam.getCQLport();
  if (cqlHost.empty() || cqlPort.empty()) {
    if (!inputs.gatewayHost.empty()) cqlHost = inputs.gatewayHost;
    if (inputs.gatewayCqlPort != 0) cqlPort = std::to_string(inputs.gatewayCqlPort);
  }
  // The coordinator always names its CQL endpoint and JMX port.
  options.SetProperty("priam.cqlhost", cqlHost);
  options.SetProperty("priam.cqlport", cqlPort);
  options.AddProperty("priam.cqlusername", inputs.gatewayUser);
  options.AddProperty("priam.cqluserpassword", inputs.gatewayPassword);
  options.SetProperty("priam.jmx.port", priam.getJMXport());
  options.AddProperty("priam.jmx.user", inputs.jmxUser);
  options.AddProperty("priam.jmx.token", inputs.jmxPassword);
  if (CassandraPriamOptionsBuilder::ReadSwitch("nCaptureCassandraTypes", nullptr) != 0) {
    TQLOG(0, "Enabling capture of Cassandra types");
    options.SetProperty("priam.capture.types", "true");
  }
  PriamSslSettings ssl;
  CQiError e = ReadSslSettings(kCoordinator, inputs.authConfigXml, ssl);
  if (e.IsError()) return e;
  options.AddSsl(ssl);
  priamAdditionalParameters = options.jvmOptions();
  // The JVM options are handed over by SetPriamParameters.
  options.WriteProperties(priam);
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

std::string CassandraPriamSetup::WorkingDirectoryName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") {
    std::string escaped = "%";
    for (size_t i = 0; i < name.size(); ++i) escaped += "%2E";
    return escaped;
  }
  std::string escaped;
  for (char c : name) {
    if (c == '%') {
      escaped += "%25";
    } else if (c == '/') {
      escaped += "%2F";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

CQiError CassandraPriamSetup::MakeNodePriam(const std::string& javaHome,
                                            const std::string& jobResultsDirectory,
                                            const std::string& clientName, const std::string& name,
                                            const std::string& confLocation, PriamUtilPtr& priam) {
  const std::string javaPath = JavaPath(javaHome);
  std::string baseDirectory;
  CQiError e = ReadBaseDirectory(baseDirectory);
  if (e.IsError()) return e;
  std::string workingDirectory;
  e = MakeWorkingDirectory({jobResultsDirectory, clientName, WorkingDirectoryName(name)},
                           workingDirectory);
  if (e.IsError()) return e.Push(FXLOC);
  TQLOG(0, "Initialize Priam - instance %s, javaPath %s, cassandraConfDir %s, priamFileDir %s",
        name.c_str(), javaPath.c_str(), confLocation.c_str(), workingDirectory.c_str());
  priam = NewPriamUtil(javaPath, baseDirectory, workingDirectory, confLocation);
  if (!priam) return FXErrorUtil::ErrorWin32(FXLOC, 8, "Memory allocation failed for Priam object");
  return CQiError::Success();
}

bool CassandraPriamSetup::RaiseNodeStartFailure(const CQiError& error) {
  if (FXErrorUtil::IsWin32(error, 5)) {
    EvEvent().MajorEvent(kEvPriamAccessDenied);
    return true;
  }
  EvEvent event;
  event << error.AsString(2);
  event.MajorEvent(kEvPriamStartFailed);
  return false;
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

    PriamUtilPtr priam;
    CQiError e = MakeNodePriam(instance.javaHome, jobResultsDirectory, clientName, name,
                               NodeConfigurationLocation(instance.configDirectory), priam);
    if (e.IsError()) return e;
    // Kept at once, so that an instance whose later steps fail still has its
    // (not running) utility.
    priamByInstance[name] = priam;
    if (!start) continue;

    e = ConfigureNodePriam(CassandraPriamOptionsBuilder::kNodeStyle, jmxConfig, authConfig, *priam);
    if (e.IsError()) return e.Push(FXLOC);

    e = priam->startPriam();
    // An instance whose Priam did not start stays behind, not running, and
    // the others still start; a refused start ends the walk.
    if (e.IsError() && RaiseNodeStartFailure(e)) return e.Push(FXLOC);
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
