// The cluster browser's request handling: validation, the gateway node's
// connection settings, the browse's folder and its temporary Priam.

#include "browse/ClientBrowse.h"

#include <boost/random/mersenne_twister.hpp>
#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>
#include <map>
#include <new>
#include <stdexcept>

#include "common/CassandraPriamOptionsBuilder.h"
#include "common/CassandraPriamSetup.h"
#include "platform/app/CassandraInstance.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/base/QiDirectory.h"
#include "platform/json/TqJson.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQClient.h"
#include "platform/suite/TQPI_CommClient.h"

namespace TQCassandra {

namespace {

// A failure whose reason the browse states itself: `reason` is set to it
// and the error's text is the whole message.
CQiError ErrNoFailure(const FXCodeLocation& location, int code, const char* text,
                      std::string& reason) {
  reason = text;
  return FXErrorUtil::ErrorErrNo(location, code, "%s%s", CClientBrowse::kFailurePrefix, text);
}

CQiError Win32Failure(const FXCodeLocation& location, uint32_t code, const char* text,
                      std::string& reason) {
  reason = text;
  return FXErrorUtil::ErrorWin32(location, code, "%s%s", CClientBrowse::kFailurePrefix, text);
}

// The text of an error handed on from a callee.
std::string ErrorText(const CQiError& error) {
  std::string text = error.GetMessage();
  return text.empty() ? error.AsString(2) : text;
}

// A folder name that stays one component below its parent.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The configuration file from the registry when the browse has none.
CQiError RequireConfigFile(std::string& configFile, bool useRegistry, std::string& reason) {
  if (configFile.empty() && useRegistry) {
    TQPlatformInfo().getString("Cassandra", "sCassandraiConfigFilePath", configFile);
  }
  if (configFile.empty()) {
    return ErrNoFailure(FXLOC, 22, "Cassandra config file path not set", reason);
  }
  TQLOG(2, "Cassandra Config file location set to %s", configFile.c_str());
  return CQiError::Success();
}

}  // namespace

CClientBrowse::CClientBrowse(int value) : IClientBrowse(value), factoryValue(value) {}

CClientBrowse::~CClientBrowse() = default;

CQiError CClientBrowse::MachineBrowse(const std::string&, App::DistributedClusterType*,
                                      App::MachineBrowseReq* request,
                                      App::MachineBrowseResp* response,
                                      App::GenericResp* genericResponse) {
  std::string reason;
  std::string priamFileDir;
  CQiError e;
  if (response == nullptr || genericResponse == nullptr) {
    e = ErrNoFailure(FXLOC, 22,
                     "Invalid argument pass to remoteMachineBrowse (machineBrowseResp==NULL || "
                     "genericResp==NULL)",
                     reason);
  } else if (request == nullptr) {
    e = ErrNoFailure(FXLOC, 22,
                     "Invalid argument pass to remoteMachineBrowse (MachineBrowseReq == NULL)",
                     reason);
  } else {
    createdDirs_.clear();
    e = runBrowse(*request, *response, priamFileDir, reason);
    cleanUp();
  }
  if (!e.IsError()) return e;
  if (reason.empty()) reason = ErrorText(e);
  TQLOG(-1, "%s%s", kFailurePrefix, reason.c_str());
  if (genericResponse != nullptr) {
    genericResponse->setErrorCode(1);
    genericResponse->setErrorMessage(std::string(kFailurePrefix) + reason);
  }
  return e;
}

CQiError CClientBrowse::runBrowse(const App::MachineBrowseReq& request,
                                  App::MachineBrowseResp& response, std::string& priamFileDir,
                                  std::string& reason) {
  std::optional<App::DistributedAppsBrowseProperties> properties = request.getBrowseProperties();
  if (!properties)
    return ErrNoFailure(FXLOC, 22, "Invalid DistributedAppsBrowseProperties", reason);
  std::optional<TqEntities::SubClientEntity> subclient = properties->getSubclient();
  if (!subclient) return ErrNoFailure(FXLOC, 22, "Invalid SubClientEntity", reason);

  CQiError e = readSettings(*properties, reason);
  if (e.IsError()) return e;

  std::string javaPath;
  if (!javaHome.empty()) javaPath = FXPath::Join(javaHome, "java");
  std::string base;
  if (!TQPlatformInfo().getString("Base", "dBASEHOME", base)) {
    return Win32Failure(FXLOC, 87, "Failed to get Torvanell Base directory", reason);
  }

  // Ids travel as 64-bit fields and count as 32-bit signed values.
  const int32_t subclientId =
      subclient->hasSubclientId() ? static_cast<int32_t>(subclient->getSubclientId()) : 0;
  const bool content = subclient->hasSubclientId() && (subclientId == -1 || subclientId > 0);
  if (content && subclientId > 0) {
    // An existing subclient's browse runs in its gateway client's job
    // results; no temporary folder is made.
    e = subclientPriamDirectory(request, subclientId, priamFileDir, reason);
  } else {
    e = getTempPriamDirectory(base, priamFileDir);
  }
  if (e.IsError()) return e.Push(FXLOC);

  priamUtil.reset(new (std::nothrow) TqCassandra::PriamUtil(
      0, CQiString(javaPath), base, priamFileDir, cassandraConfigFile, false));
  if (!priamUtil) return Win32Failure(FXLOC, 8, "Unable to get PriamUtil object", reason);
  cqlPort = priamUtil->getCQLport();
  jmxPort = priamUtil->getJMXport();
  setAdditionalPriamValues();
  e = startPriamService();
  if (e.IsError()) return e.Push(FXLOC);

  App::MachineBrowseItem item;
  e = content ? contentBrowse(item, reason) : nodeBrowse(item, reason);
  if (e.IsError()) return e;
  std::vector<App::MachineBrowseItem> items = response.getBrowseItems();
  items.push_back(item);
  response.setBrowseItems(items);
  return CQiError::Success();
}

CQiError CClientBrowse::readSettings(const App::DistributedAppsBrowseProperties& properties,
                                     std::string& reason) {
  priamAdditionalParameters.clear();
  cqlPassword.clear();
  jmxPassword.clear();
  keystorePassword.clear();
  truststorePassword.clear();
  // One browse's settings never leak into the next one's.
  cqlUser.clear();
  jmxHost.clear();
  jmxUser.clear();
  dockerConfig = false;
  const TqEntities::SubClientEntity subclient = *properties.getSubclient();
  const int32_t instanceId =
      subclient.hasInstanceId() ? static_cast<int32_t>(subclient.getInstanceId()) : 0;
  if (instanceId > 1) return settingsFromInstance(instanceId, reason);
  return settingsFromRequest(properties, reason);
}

CQiError CClientBrowse::settingsFromInstance(int64_t instanceId, std::string& reason) {
  TQLOG(0, "Fetching java home from instance property");
  CassandraInstance instance(static_cast<uint64_t>(instanceId));
  if (!instance.isValid()) {
    reason = FXString::Format("Cassandra instance %lld is not registered",
                              static_cast<long long>(instanceId));
    return FXErrorUtil::ErrorWin32(FXLOC, 1168, "%s%s", kFailurePrefix, reason.c_str());
  }
  std::string encryptedPassword;
  cqlHost.clear();
  cassandraConfigFile.clear();
  instance.getGatewayHost(cqlHost);
  instance.getGatewayUser(cqlUser);
  instance.getGatewayPassword(encryptedPassword);
  instance.getCassandraConfigFile(cassandraConfigFile);
  CQiError e = RequireConfigFile(cassandraConfigFile, true, reason);
  if (e.IsError()) return e;
  if (!cqlUser.empty() && !CassandraPriamSetup::DecryptToBase64(encryptedPassword, cqlPassword)) {
    return Win32Failure(FXLOC, 22, "Failed to decrypt the CQL password", reason);
  }

  std::string jmxXml;
  std::string authXml;
  instance.getJMXConfig(jmxXml);
  instance.getAuthConfig(authXml);
  e = addJmxAndSsl(jmxXml, authXml, reason);
  if (e.IsError()) return e;
  javaHome.clear();
  instance.getJavaHome(javaHome);
  return CQiError::Success();
}

CQiError CClientBrowse::settingsFromRequest(const App::DistributedAppsBrowseProperties& properties,
                                            std::string& reason) {
  std::optional<App::DistributedClusterConfig> cluster = properties.getClusterConfig();
  if (!cluster) return ErrNoFailure(FXLOC, 22, "Invalid DistributedClusterConfig", reason);
  std::optional<App::CassandraConfig> cassandra = cluster->getCassandraConfig();
  if (!cassandra) return ErrNoFailure(FXLOC, 22, "Invalid CassandraConfig", reason);
  std::optional<App::CassandraGatewayNode> gateway = cassandra->getGatewayNode();
  if (!gateway) return ErrNoFailure(FXLOC, 22, "Invalid CassandraGatewayNode", reason);
  std::optional<App::CassandraNode> node = gateway->getNode();
  if (!node) return ErrNoFailure(FXLOC, 22, "Invalid CassandraNode", reason);

  if (node->hasJavaHome()) javaHome = node->getJavaHome();
  cqlHost = node->getAddress();
  std::optional<UserCredentials> credentials = gateway->getCqlCredentials();
  if (credentials) cqlUser = credentials->getUserName();
  // The request's passwords are protected like the stored ones: Priam gets
  // the plain text.
  if (!cqlUser.empty() && !CassandraPriamSetup::DecryptToBase64(
                              credentials->getPassword().getPlainPassword(), cqlPassword)) {
    return Win32Failure(FXLOC, 22, "Failed to decrypt the CQL password", reason);
  }
  // A field set to an empty text is taken as it is.
  cassandraConfigFile = cassandra->hasConfigFilePath() ? cassandra->getConfigFilePath() : "";
  CQiError e = RequireConfigFile(cassandraConfigFile, !cassandra->hasConfigFilePath(), reason);
  if (e.IsError()) return e;
  // The request's records go the way of the stored instance's texts.
  std::string jmxXml;
  std::string authXml;
  if (node->getJmx()) node->getJmx()->serialize(jmxXml);
  if (node->getAuth()) node->getAuth()->serialize(authXml);
  return addJmxAndSsl(jmxXml, authXml, reason);
}

CQiError CClientBrowse::addJmxAndSsl(const std::string& jmxXml, const std::string& authXml,
                                     std::string& reason) {
  PriamJmxSettings jmx;
  CQiError e = CassandraPriamSetup::ReadJmxSettings(CassandraPriamSetup::kNode, jmxXml, jmx);
  if (e.IsError()) return Win32Failure(FXLOC, 13, e.GetMessage().c_str(), reason);
  CassandraPriamOptionsBuilder options(CassandraPriamOptionsBuilder::kServiceStyle,
                                       priamAdditionalParameters);
  if (!jmxXml.empty()) {
    jmxHost = jmx.host;
    jmxUser = jmx.user;
    jmxPassword = jmx.token;
    options.AddJmxHostOption(jmxHost);
  }
  PriamSslSettings ssl;
  e = CassandraPriamSetup::ReadSslSettings(CassandraPriamSetup::kNode, authXml, ssl);
  if (e.IsError()) return Win32Failure(FXLOC, 13, e.GetMessage().c_str(), reason);
  keystorePassword = ssl.keystorePassword;
  truststorePassword = ssl.truststorePassword;
  options.AddSsl(ssl);
  priamAdditionalParameters = options.jvmOptions();
  return CQiError::Success();
}

CQiError CClientBrowse::subclientPriamDirectory(const App::MachineBrowseReq& request,
                                                int64_t subclientId, std::string& dir,
                                                std::string& reason) {
  std::optional<TqEntities::ClientEntity> gateway = request.getGatewayClient();
  const int32_t clientId =
      gateway && gateway->hasClientId() ? static_cast<int32_t>(gateway->getClientId()) : 0;
  if (clientId <= 0) return ErrNoFailure(FXLOC, 22, "Invalid Client Entity object", reason);
  std::string clientName;
  CQiError e = TQClient(static_cast<uint64_t>(clientId)).getName(clientName);
  if (e.IsError()) return e.Push(FXLOC);
  TQLOG(2, "Gateway Client :%s", clientName.c_str());
  if (!IsPlainName(clientName)) {
    reason = "Gateway client name [" + clientName + "] cannot name a folder";
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s%s", kFailurePrefix, reason.c_str());
  }
  // Every level the browse creates is noted, so that all of them go again.
  std::string path = TQPI_CommClient::getJobResultsDirectory(clientName.c_str()).str();
  std::vector<std::string> created;
  for (const std::string& component :
       {std::string("2"), FXString::Format("%d", static_cast<int>(subclientId)), clientName}) {
    FXPath::Append(path, component);
    if (!FXPath::DoesPathExist(path.c_str())) created.push_back(path);
  }
  dir = path;
  e = CQiDirectory::Create(dir.c_str(), true);
  if (e.IsError()) return e.Push(FXLOC);
  createdDirs_.assign(created.rbegin(), created.rend());
  return CQiError::Success();
}

CQiError CClientBrowse::getTempPriamDirectory(const std::string& base, std::string& dir) {
  boost::uuids::basic_random_generator<boost::mt19937> generator;
  dir = base;
  FXPath::Append(dir, "Temp");
  FXPath::Append(dir, boost::uuids::to_string(generator()));
  CQiError e = CQiDirectory::Create(dir.c_str(), true);
  if (e.IsError()) return e.Push(FXLOC);
  createdDirs_.assign(1, dir);
  return CQiError::Success();
}

void CClientBrowse::cleanUp() {
  // Priam runs in the folder: it stops first.
  if (priamUtil && priamUtil->getIsConnected()) stopPriamService();
  for (size_t i = 0; i < createdDirs_.size(); ++i) {
    // The browse's own folder goes with its content; a parent the browse
    // made goes only when nothing else has come to live in it.
    CQiError e = CQiDirectory::Remove(createdDirs_[i].c_str(), i == 0, true);
    if (e.IsError() && i == 0) {
      TQLOG(0, "Failed to delete directory %s: %s", createdDirs_[i].c_str(), e.AsString(2).c_str());
    }
    if (e.IsError()) break;
  }
  createdDirs_.clear();
}

CQiError CClientBrowse::requestClusterDetails(CQiString& reply, std::string& clusterName,
                                              std::string& version, std::string& reason) {
  CQiError e = priamUtil->get(0, CQiString("clusterDetails"), reply, CQiString(""));
  TqJson::Object details;
  if (!e.IsError() && !TqJson::Unserialize(reply.str(), details)) {
    e = FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to clusterDetails is not an object");
  }
  if (!e.IsError()) {
    try {
      clusterName = TqJson::GetStringValue(details, "ClusterName");
      version = TqJson::GetStringValue(details, "Version");
    } catch (const std::runtime_error& typeError) {
      e = FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to clusterDetails is not readable: %s",
                                  typeError.what());
    }
  }
  if (e.IsError()) {
    reason = kClusterDetailsFailed;
    TQLOG(-1, "%s Error: %s, Response: %s", kClusterDetailsFailed, e.AsString(2).c_str(),
          reply.c_str());
  }
  return e;
}

CQiError CClientBrowse::setAdditionalPriamValues() {
  TQLOG(0, "Custom Priam property set. Writing priam properties");
  CassandraPriamOptionsBuilder options(CassandraPriamOptionsBuilder::kServiceStyle,
                                       priamAdditionalParameters);
  options.AddCqlProperties(cqlHost, cqlPort, cqlUser, cqlPassword);
  options.AddJmxProperties(jmxPort, jmxUser, jmxPassword);
  options.AddProperty("priam.keystore.password", keystorePassword);
  options.AddProperty("priam.truststore.password", truststorePassword);
  options.ApplyTo(*priamUtil);
  return CQiError::Success();
}

CQiError CClientBrowse::startPriamService() {
  CQiError e = priamUtil->startPriam();
  if (!e.IsError()) return e;
  TQLOG(0, "Error: %s", e.AsString(2).c_str());
  if (FXErrorUtil::IsWin32(e, 5)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 5, "JMX Authentication Error");
  }
  return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to start Priam service");
}

CQiError CClientBrowse::stopPriamService() {
  CQiError e = priamUtil->stopPriam();
  if (e.IsError()) TQLOG(-1, "Failed to stop Priam service");
  return CQiError::Success();
}

}  // namespace TQCassandra
