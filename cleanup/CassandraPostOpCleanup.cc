#include "cleanup/CassandraPostOpCleanup.h"

#include <fstream>
#include <new>

#include "backup/CassandraBackupCoordinator.h"
#include "backup/CollectFileMapping.h"
#include "common/CassandraPriamSetup.h"
#include "common/CleanupRecords.h"
#include "common/ClusterInstanceProcedure.h"
#include "platform/app/ApplicationId.h"
#include "platform/app/CassandraInstance.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/base/QiPath.h"
#include "platform/framework/NodeInfo.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace TQCassandra {

namespace {

// Calls `visit(client id, task status)` for every counting line of a mapping
// file, in file order, until it returns false. False when the file cannot be
// opened.
template <typename Visit>
bool ReadMappingFile(const std::string& path, Visit visit) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    uint32_t clientId = 0;
    std::string status;
    if (!CollectFileMapping::ParseLine(line, clientId, status)) continue;
    if (!visit(clientId, status)) break;
  }
  return true;
}

}  // namespace

CassandraPostOpCleanup::CassandraPostOpCleanup() { setStartAllNodes(true); }

CassandraPostOpCleanup::~CassandraPostOpCleanup() = default;

CQiError CassandraPostOpCleanup::getClientConfigObject(DistributedQEL::CClientConfigPtr& config) {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) {
    clientConfig.reset(new (std::nothrow) CassandraCoordinatorClientConfig());
    if (!clientConfig) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 8,
          "Unable to create CassandraCoordinatorClientConfig object. Memory alllocation error.");
    }
  }
  config = clientConfig;
  return CQiError::Success();
}

CQiError CassandraPostOpCleanup::initialize(DistributedQEL::CClientConfigPtr&,
                                            CProgramArgumentsPtr&, TQJobClientPtr jobClient,
                                            TQJobCtrlClientPtr jobCtrlClient) {
  this->jobClient = jobClient;
  this->jobCtrlClient = jobCtrlClient;
  return CQiError::Success();
}

std::string CassandraPostOpCleanup::mappingFilePath() const {
  return CollectFileMapping::Path(clientConfig->getJobResultsDirectory(), clientConfig->getJobId());
}

CQiError CassandraPostOpCleanup::loadNodeConfiguration() {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraCoordinatorClientConfig");
  }
  CassandraCoordinatorClientConfig& config = *clientConfig;

  // 1. The instance: the application's when both ids are known, else the
  // configuration's own instance id.
  uint64_t instanceId = config.getInstanceId();
  const bool byApplication = config.getOmbrelId() != 0 && config.getApplicationId() != 0;
  if (byApplication) {
    ApplicationId application(config.getOmbrelId(), config.getApplicationId());
    instanceId = application.getInstance() ? application.getInstance()->getInstanceId() : 0;
  }
  instance.reset(new (std::nothrow) CassandraInstance(instanceId));
  if (!instance) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 8,
        byApplication ? "Unable to create CassandraInstance object. Memoryalllocation error."
                      : "Unable to create CAssandraInstance object. Memory alllocation error.");
  }

  // 2. Configuration file, Java home, JMX and authentication settings.
  std::string configFile;
  instance->getCassandraConfigFile(configFile);
  if (configFile.empty())
    TQPlatformInfo().getString("Cassandra", "sCassandraiConfigFilePath", configFile);
  if (configFile.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Cassandra config file path is not set");
  }
  config.cassandraConfigFile = configFile;
  TQLOG(2, "Cassandra Config file location set to %s", configFile.c_str());
  instance->getJavaHome(config.javaHome);
  instance->getJMXConfig(jmxConfig);
  instance->getAuthConfig(authConfig);
  TQLOG(2, "Java home: %s", config.javaHome.c_str());
  TQLOG(2, "Fetching node details [%lu] ", static_cast<unsigned long>(instanceId));

  // 3. The instance's node list from the central server.
  const ClusterInstanceConfig stored = ClusterInstanceConfig::Get(static_cast<int32_t>(instanceId));
  switch (stored.step) {
    case ClusterInstanceConfig::kOk:
      break;
    case ClusterInstanceConfig::kSerialize:
      return FXErrorUtil::ErrorErrNo(
          FXLOC, -1,
          "Distributed cluster instance XML serialization failed with an error. Please check the "
          "logs");
    case ClusterInstanceConfig::kProcedure:
    case ClusterInstanceConfig::kParse: {
      const int r = stored.step == ClusterInstanceConfig::kParse ? -1 : stored.code;
      TQLOG(-1, " Executing stored procedure failed with an error retCode [%d] response Str [%s]",
            r, stored.errorText.c_str());
      return FXErrorUtil::ErrorErrNo(
          FXLOC, -1,
          "Stored procedure to save instance properties failed with an error [%d], response Str "
          "[%s]",
          r, stored.errorText.c_str());
    }
    case ClusterInstanceConfig::kNoConfig:
      return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Null Cassandra config");
  }
  nodes = stored.config.getNodes();

  // 4. The clients that took part in the backup.
  const std::string mappingFile = mappingFilePath();
  TQLOG(2, "Reading from mapping file %s", mappingFile.c_str());
  const bool opened = ReadMappingFile(mappingFile, [this](uint32_t clientId, const std::string&) {
    TQLOG(2, "adding access node with client id %d", static_cast<int>(clientId));
    addNode(clientId);
    return true;
  });
  if (!opened) return FXErrorUtil::ErrorWin32(FXLOC, 774, "Not able to determine the access nodes");
  return CQiError::Success();
}

std::vector<DistributedQEL::CassandraPostOpParams> CassandraPostOpCleanup::NodeParamsFor(
    const std::vector<App::CassandraNode>& nodes, const std::string& clientName,
    const std::string& defaultJavaHome, const std::string& defaultConfigFile) {
  std::vector<DistributedQEL::CassandraPostOpParams> params;
  for (const App::CassandraNode& node : nodes) {
    std::optional<TqEntities::ClientEntity> client = node.getClient();
    if (!client || client->getClientName() != clientName) continue;
    DistributedQEL::CassandraPostOpParams entry;
    entry.setNodeName(node.hasAgentInstanceName() ? node.getAgentInstanceName() : clientName);
    const std::string javaHome = node.getJavaHome();
    entry.setJavaHome(javaHome.empty() ? defaultJavaHome : javaHome);
    const std::string configDirectory = node.getConfigDirectory();
    entry.setConfigDirectory(configDirectory.empty() ? defaultConfigFile
                                                     : NodeConfigurationLocation(configDirectory));
    params.push_back(entry);
  }
  return params;
}

CQiError CassandraPostOpCleanup::getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                                                FrameworkMessagePtr& message) {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig || !node) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraCoordinatorClientConfig or node");
  }
  std::vector<DistributedQEL::DINameValue> values;

  DistributedQEL::CassandraPostOpParamsList list;
  list.setParams(NodeParamsFor(nodes, node->getClientName(), clientConfig->javaHome,
                               clientConfig->cassandraConfigFile));
  std::string listXml;
  list.serialize(listXml);
  TQLOG(2, "PostOp params list: %s", listXml.c_str());
  values.emplace_back("NodeConfig", listXml);
  if (!jmxConfig.empty()) values.emplace_back("JMXConfig", jmxConfig);
  if (!authConfig.empty()) values.emplace_back("AuthConfig", authConfig);

  const uint32_t clientId = node->getClientID();
  ReadMappingFile(mappingFilePath(), [&](uint32_t id, const std::string& status) {
    if (id != clientId) return true;
    values.emplace_back("taskStatus", status);
    return false;
  });
  if (jobCtrlClient && jobCtrlClient->checkQuitFlag()) values.emplace_back("JobKill", "1");

  boost::shared_ptr<DistributedQEL::NodeInit> init(new DistributedQEL::NodeInit());
  init->setValues(values);
  message = init;
  return CQiError::Success();
}

CQiError CassandraPostOpCleanup::OnTaskComplete(DistributedQEL::TaskBasePtr&,
                                                DistributedQEL::TaskComplete*) {
  return CQiError::Success();
}

CQiError CassandraPostOpCleanup::OnComplete() {
  TQ_DEBUG_FUNCTION();
  CQiError e = DistributedQEL::ICoordinator::OnComplete();
  if (e.IsError()) return e.Push(FXLOC);
  if (!clientConfig) return CQiError::Success();
  const std::string directory = clientConfig->getJobResultsDirectory();
  if (!CQiPath::IsDirectory(directory.c_str())) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to open Job results directory: %s",
                                   directory.c_str());
  }
  // This job's mapping file, and the temporary file a rewrite of it may have
  // left. The mapping files of other jobs stay: a restarted job reads its
  // own to resume.
  const std::string mappingFile = mappingFilePath();
  for (const std::string& path : {mappingFile, mappingFile + ".tmp"}) {
    if (!FXPath::DoesPathExist(path.c_str())) continue;
    TQLOG(2, "Deleting mapping file %s", path.c_str());
    if (CQiFile::Delete(path.c_str()).IsError()) {
      TQLOG(-1, "Failed to delete the collectFileMapping file");
    }
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
