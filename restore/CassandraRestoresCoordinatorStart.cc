// The restore coordinator's start-up: its framework configuration, the
// initialisation before any node controller starts, the client restore
// launcher, the node argument line and the task policies.

#include <algorithm>
#include <cinttypes>
#include <new>
#include <optional>
#include <stdexcept>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraPriamSetup.h"
#include "common/CassandraRestoreClientConfig.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQRstJobClient.h"
#include "restore/CassandraRestoresCoordinator.h"
#include "restore/StartClientRestoreCassandra.h"

namespace TQCassandra {

namespace {

// A registry switch of section "Cassandra", 0 when absent; `absentLog` is
// logged at `level` for an absent value.
int64_t ReadSwitch(const char* name, int level, const char* absentLog) {
  int64_t value = 0;
  if (!TQPlatformInfo().getNumber("Cassandra", name, value)) TQLOG(level, "%s", absentLog);
  return value;
}

// A staging path is carried on the node's argument line and used there as a
// directory: a control character (a line end above all) would not come
// through whole.
bool IsCarriableStagePath(const std::string& path) {
  return std::none_of(path.begin(), path.end(), [](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

}  // namespace

CQiError CCassandraRestores::getClientConfigObject(DistributedQEL::CClientConfigPtr& config) {
  TQ_DEBUG_FUNCTION();
  if (restoreClientConfig) return CQiError::Success();
  restoreClientConfig.reset(new (std::nothrow) CCassandraRestoreClientConfig());
  if (!restoreClientConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 14, "Failed to allocate the restore client config");
  }
  config = restoreClientConfig;
  setClientConfig(restoreClientConfig);
  return CQiError::Success();
}

std::string CCassandraRestores::restoreNodeArguments() const {
  char line[512];
  snprintf(line, sizeof line,
           " -CassInst %lu -DestInstance %lu -ReplaceDeadNode %d -CrossInstance %d "
           "-UseSSTableLaoder %d -Recover %d -runDR %d -stagePath ",
           static_cast<unsigned long>(sourceInstanceId), static_cast<unsigned long>(destInstanceId),
           replaceDeadNode ? 1 : 0, crossInstance ? 1 : 0, useSSTableLoader ? 1 : 0,
           recover ? 1 : 0, runDR ? 1 : 0);
  // The node reads its arguments as blank-separated tokens, double-quoted
  // tokens keeping their blanks: a path is quoted only when it must be.
  return std::string(line) + CProgramArguments::Quote(stagePath) + " -StageFreeRestore " +
         (stageFreeRestore ? "1" : "0");
}

CQiError CCassandraRestores::getCommandArgumentsForNode(DistributedQEL::CNodeInfoPtr& node,
                                                        std::string& arguments) {
  TQ_DEBUG_FUNCTION();
  CQiError e = TQDC_FileSystem::CRestore::getCommandArgumentsForNode(node, arguments);
  if (e.IsError()) {
    TQLOG(-1, "getCommandArgumentsForNode failed");
    return e.Push(FXLOC);
  }
  e = GetCassandraConfigParams();
  if (e.IsError()) {
    TQLOG(-1, "Get Cassandra Config Params failed");
    return e.Push(FXLOC);
  }
  arguments += restoreNodeArguments();
  return CQiError::Success();
}

CQiError CCassandraRestores::CreateTaskCreatePolicy(TQDC_FileSystem::CTaskCreatePolicyPtr& policy) {
  if (stageFreeRestore) {
    policy.reset();
    return CQiError::Success();
  }
  return TQDC_FileSystem::CRestore::CreateTaskCreatePolicy(policy);
}

CQiError CCassandraRestores::CreateTaskAssignPolicy(TQDC_FileSystem::CTaskAssignPolicyPtr& policy) {
  if (stageFreeRestore) {
    policy.reset();
    return CQiError::Success();
  }
  return TQDC_FileSystem::CRestore::CreateTaskAssignPolicy(policy);
}

CQiError CCassandraRestores::initailizeStartClientRestoreObject(TQJobClientPtr jobClient,
                                                                TQJobCtrlClientPtr jobCtrlClient) {
  TQ_DEBUG_FUNCTION();
  const bool baseFlag = restoreClientConfig && restoreClientConfig->getLauncherFlag();
  CStartClientRestorePtr launcher(new (std::nothrow) CStartClientRestoreCassandra(
      dynamic_cast<TQRstJobClient*>(jobClient.get()), jobCtrlClient.get(), baseFlag,
      subclientRestore, stageFreeRestore, sourceDCmap));
  if (!launcher) {
    return FXErrorUtil::ErrorErrNo(FXLOC, 12,
                                   "Failed to allocate memory for CStartClientRestoreCassandra");
  }
  setStartClientRestore(launcher);
  return CQiError::Success();
}

void CCassandraRestores::fillSourceDCmap() {
  if (!sourceConfig) return;
  for (const App::CassandraNode& node : sourceConfig->clusterNodes) {
    std::optional<TqEntities::ClientEntity> client = node.getClient();
    if (!client) continue;
    sourceDCmap[node.getDataCenter()].push_back(client->getClientName());
  }
}

CQiError CCassandraRestores::initialize(DistributedQEL::CClientConfigPtr& config,
                                        CProgramArgumentsPtr& arguments, TQJobClientPtr jobClient,
                                        TQJobCtrlClientPtr jobCtrlClient) {
  TQ_DEBUG_FUNCTION();
  TQLOG(0, " Initialize ");
  setJobClient(jobClient);
  setJobCtrlClient(jobCtrlClient);

  if (!restoreClientConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The restore client configuration was not made");
  }
  if (!sourceConfig) sourceConfig.reset(new CassandraCoordinatorClientConfig());
  if (!destConfig) destConfig.reset(new CassandraCoordinatorClientConfig());

  if (CreateJobResultsDirectory() != 0) {
    return FXErrorUtil::ErrorErrNo(FXLOC, 13, "Failed to create job results directory");
  }

  // The record comes from loadNodeConfiguration, which the framework calls
  // first.
  if (!restoreTask) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "No restore task record: the node configuration was not loaded");
  }
  destInstanceId = restoreTask->getDestInstanceId();
  TQLOG(0, "Destination Cassandra Instance ID=%lu", static_cast<unsigned long>(destInstanceId));
  sourceInstanceId = restoreTask->getSourceInstanceId();

  App::CassandraRestoreOptions options;
  CQiError e = readRestoreOptions(options);
  if (e.IsError()) return e.Push(FXLOC);

  e = getClusterDetails(true);
  if (e.IsError()) return e.Push(FXLOC);
  if (!crossInstance) {
    sourceConfig = destConfig;
  } else {
    e = getClusterDetails(false);
    if (e.IsError()) return e.Push(FXLOC);
  }

  std::string baseDirectory;
  if (!TQPlatformInfo().getString("Base", "dBASEHOME", baseDirectory)) {
    TQLOG(-1, "Failed to get Torvanell Base directory");
    return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to get Torvanell Base directory");
  }

  int64_t remoteJmx = 0;
  if (!TQPlatformInfo().getNumber("Cassandra", "nCassandraRemoteJMXEnabled", remoteJmx)) {
    TQLOG(4, "Failed to check if Remote JMX is enabled");
  } else if (remoteJmx != 0) {
    priamAdditionalParameters += " -Dpriam.jmx.host=" + destConfig->jmxHost;
  }

  std::string location = options.getStagingLocation();
  if (location.empty() || location.back() != '/') location += '/';
  stagePath = location + std::to_string(restoreClientConfig->getJobId());
  TQLOG(2, "Staging Path: %s", stagePath.c_str());
  if (!IsCarriableStagePath(stagePath)) {
    TQLOG(-1, "The staging path holds a control character");
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "The staging location holds a control character and cannot be "
                                   "passed to the nodes");
  }

  replaceDeadNode = options.getReplaceDeadNode() != 0;
  recover = options.getRecover() != 0;
  useSSTableLoader = options.getUseSSTableLoader() != 0;
  runDR = options.getRunDR() != 0;
  subclientRestore = options.getSubclientRestore() != 0;
  stageFreeRestore = options.getStageFreeRestore() != 0;
  truncateTables = options.getTruncateTables() != 0;

  // Without recover no node starts Priam, so a stage-free restore would load
  // nothing from the share and still report success.
  if (stageFreeRestore && !recover && !isLogRestore) {
    TQLOG(-1, "A stage-free restore needs the recover option");
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "A stage-free restore loads the data into Cassandra and needs "
                                   "the recover option");
  }

  if (recover && stageFreeRestore) {
    if (isLogRestore) {
      stageFreeRestore = false;
    } else {
      e = findStageFreeMediaAgent();
      if (e.IsError()) return e.Push(FXLOC);
    }
  }

  if (recover) {
    e = startCoordinatorPriam();
    if (e.IsError()) return e.Push(FXLOC);
  }

  return TQDC_FileSystem::CRestore::initialize(config, arguments, jobClient, jobCtrlClient);
}

CQiError CCassandraRestores::addSslSettings(std::map<std::string, std::string>& properties) {
  PriamSslSettings stores;
  CQiError e = CassandraPriamSetup::ReadSslSettings(CassandraPriamSetup::kCoordinator,
                                                    authConfigXml, stores);
  if (e.IsError()) return e.Push(FXLOC);
  if (!stores.enabled) return CQiError::Success();
  properties["priam.keystore.password"] = stores.keystorePassword;
  properties["priam.truststore.password"] = stores.truststorePassword;
  const bool cqlSslDisabled =
      ReadSwitch("nCassandraCqlSslDisabled", -1, "Failed to check if SSL is disabled for CQL") != 0;
  const bool jmxSslDisabled =
      ReadSwitch("nCassandraJmxSslDisabled", -1, "Failed to check if SSL is disabled for JMX") != 0;
  if (!jmxSslDisabled) priamAdditionalParameters += " -Dssl.enable=true ";
  if (!cqlSslDisabled) priamAdditionalParameters += " -Dcql.ssl.enable=true ";
  priamAdditionalParameters += " -Djavax.net.ssl.keyStore=" + stores.keystorePath;
  priamAdditionalParameters += " -Djavax.net.ssl.trustStore=" + stores.truststorePath;
  priamAdditionalParameters +=
      " -Dcom.sun.management.jmxremote.ssl.need.client.auth=true"
      " -Dcom.sun.management.jmxremote.registry.ssl=true";
  return CQiError::Success();
}

CQiError CCassandraRestores::startCoordinatorPriam() {
  TQ_DEBUG_FUNCTION();
  CoordinatorPriamInputs inputs;
  inputs.javaHome = destConfig->restoreJavaHome;
  inputs.cassandraConfigFile = cassandraConfigFile;
  inputs.jobResultsPath = restoreClientConfig->getJobResultsDirectory();
  inputs.restoreMode = true;
  CQiError e = CassandraPriamSetup::MakeCoordinatorPriam(inputs, priamUtil);
  if (e.IsError()) return e.Push(FXLOC);

  std::map<std::string, std::string> properties;
  properties["priam.cqlhost"] = destConfig->gatewayHost;
  properties["priam.cqlport"] = priamUtil->getCQLport();
  if (!destConfig->gatewayUser.empty()) properties["priam.cqlusername"] = destConfig->gatewayUser;
  if (!destConfig->gatewayPassword.empty()) {
    properties["priam.cqluserpassword"] = destConfig->gatewayPassword;
  }
  properties["priam.jmx.port"] = priamUtil->getJMXport();
  if (!destConfig->jmxUser.empty()) properties["priam.jmx.user"] = destConfig->jmxUser;
  if (!destConfig->jmxPassword.empty()) properties["priam.jmx.token"] = destConfig->jmxPassword;
  e = addSslSettings(properties);
  if (e.IsError()) return e.Push(FXLOC);
  // A property the coordinator does not know is left to Priam's default
  // rather than written empty.
  for (auto it = properties.begin(); it != properties.end();) {
    it = it->second.empty() ? properties.erase(it) : std::next(it);
  }
  if (!properties.empty()) {
    e = priamUtil->writePriamProperties(properties);
    if (e.IsError()) {
      TQLOG(-1, "Failed to write the Priam properties: %s", e.AsString(2).c_str());
      return e.Push(FXLOC);
    }
  }
  CassandraPriamSetup::SetPriamParameters(priamAdditionalParameters, *priamUtil);
  if (!priamAdditionalParameters.empty()) {
    TQLOG(2, "Priam additional parameters: %s", priamAdditionalParameters.c_str());
  }

  e = priamUtil->startPriam();
  if (e.IsError()) {
    e = handlePriamError(e);
    EvEvent event;
    event << e.AsString(2);
    event.MajorEvent(kEvPriamStartFailed);
    return e.Push(FXLOC);
  }

  fillSourceDCmap();

  CQiString reply;
  e = priamUtil->get(0, CQiString("clusterDetails"), reply, CQiString(""));
  if (e.IsError()) {
    TQLOG(-1, "clusterDetails failed: %s: %s", e.AsString(2).c_str(), reply.c_str());
    return e.Push(FXLOC);
  }
  TqJson::Object details;
  if (!TqJson::Unserialize(reply.str(), details)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to clusterDetails is not a JSON object");
  }
  try {
    cassandraVersion = TqJson::GetStringValue(details, "Version");
  } catch (const std::runtime_error& typeError) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to clusterDetails is not readable: %s",
                                   typeError.what());
  }
  TQLOG(2, "Cassandra version: %s", cassandraVersion.c_str());
  return CQiError::Success();
}

}  // namespace TQCassandra
