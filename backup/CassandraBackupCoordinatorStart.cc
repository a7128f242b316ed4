// The backup coordinator's job start: application objects, last backup
// status, instance settings, the coordinator's Priam, the cluster name,
// discovery and registration of the nodes, the mapping file of a restarted
// job, and the collect-file ranges of the nodes.

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>

#include "backup/CassandraBackupCoordinator.h"
#include "backup/CassandraNodeInfo.h"
#include "backup/CollectFileMapping.h"
#include "common/BackupRecords.h"
#include "common/CassandraPriamSetup.h"
#include "platform/app/ApplicationId.h"
#include "platform/app/AutoStreamHandler.h"
#include "platform/app/CassandraInstance.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"

namespace TQCassandra {

namespace {

constexpr uint32_t EV_SUBCLIENT_INIT_FAILED = 0x6000479;
constexpr uint32_t EV_COMMIT_LOG_NOT_CONFIGURED = 0x600046C;

// The coordinator's Priam inputs, as the job start filled them.
CoordinatorPriamInputs PriamInputs(const CassandraCoordinatorClientConfig& config,
                                   const std::string& authConfigXml) {
  CoordinatorPriamInputs inputs;
  inputs.javaHome = config.javaHome;
  inputs.cassandraConfigFile = config.cassandraConfigFile;
  inputs.jobResultsPath = config.getJobResultsPath();
  inputs.gatewayHost = config.gatewayHost;
  inputs.gatewayCqlPort = config.gatewayCqlPort;
  inputs.gatewayUser = config.gatewayUser;
  inputs.gatewayPassword = config.gatewayPassword;
  inputs.jmxUser = config.jmxUser;
  inputs.jmxPassword = config.jmxPassword;
  inputs.authConfigXml = authConfigXml;
  return inputs;
}

CQiError NoPriam(const FXCodeLocation& location) {
  return FXErrorUtil::ErrorWin32(location, 87, "The coordinator's Priam utility was not made");
}

}  // namespace

CQiError CassandraBackupCoordinator::setAdditionalPriamValues() {
  if (!priam || !clientConfig) return NoPriam(FXLOC);
  CQiError e = CassandraPriamSetup::SetCoordinatorPriamValues(
      PriamInputs(*clientConfig, authConfigXml), *priam, priamAdditionalParameters);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::setAdditionalPriamParameters() {
  if (!priam) return NoPriam(FXLOC);
  return CassandraPriamSetup::SetPriamParameters(priamAdditionalParameters, *priam);
}

CQiError CassandraBackupCoordinator::loadNodeConfiguration() {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraCoordinatorClientConfig");
  }
  CassandraCoordinatorClientConfig& config = *clientConfig;

  // 1. Application.
  if (config.getOmbrelId() == 0 || config.getApplicationId() == 0) {
    TQLOG(-1, "Failed to initialize Cassandra client/instance/subclient objects");
    return FXErrorUtil::ErrorWin32(
        FXLOC, 774, "Failed to initialize Cassandra client/instance/subclient objects");
  }
  application.reset(new (std::nothrow)
                        ApplicationId(config.getOmbrelId(), config.getApplicationId()));
  if (!application) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 8, "Unable to create ApplicationId object. Memory alllocation error.");
  }
  subclient = dynamic_cast<CassandraSubclient*>(application->getSubclient());
  if (subclient == nullptr) return FXErrorUtil::ErrorEventMessage(FXLOC, EV_SUBCLIENT_INIT_FAILED);

  // 2. Ids and the instance.
  const unsigned long instanceId =
      application->getInstance() ? application->getInstance()->getInstanceId() : 0;
  const unsigned long backupSetId =
      application->getBackupSet() ? application->getBackupSet()->getBackupSetId() : 0;
  if (application->getClient()) {
    uint64_t clientId = 0;
    if (!application->getClient()->getClientId(clientId).IsError()) {
      config.clientId = static_cast<int64_t>(clientId);
    }
  }
  instance.reset(new (std::nothrow) CassandraInstance(instanceId));
  if (!instance) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 8, "Unable to create CassandraInstance object. Memoryalllocation error.");
  }

  // 3. The per-node keyspace status of the previous job.
  std::string backedUpXml;
  subclient->getBackedupContentXML(backedUpXml);
  App::CassandraLastBackupStatus lastStatus;
  lastStatus.unserialize(backedUpXml);
  for (const App::CassandraNodeStatus& nodeStatus : lastStatus.getNodeStatuses()) {
    std::string xml;
    nodeStatus.serialize(xml);
    TQLOG(2, "Status from last job - %s : %s", nodeStatus.getInstanceName().c_str(), xml.c_str());
    lastStatusXml.emplace(nodeStatus.getInstanceName(), xml);
  }

  // 4. Cassandra configuration file.
  instance->getCassandraConfigFile(config.cassandraConfigFile);
  if (config.cassandraConfigFile.empty()) {
    std::string path;
    if (TQPlatformInfo().getString("Cassandra", "sCassandraiConfigFilePath", path)) {
      TQLOG(2, "Cassandra Config file location set to %s", path.c_str());
      config.cassandraConfigFile = path;
    }
  }
  if (config.cassandraConfigFile.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Cassandra config file path is not set");
  }

  // 5. Gateway.
  instance->getJavaHome(config.javaHome);
  instance->getGatewayHost(config.gatewayHost);
  int cqlPort = 0;
  instance->getGatewayCQLPort(cqlPort);
  config.gatewayCqlPort = static_cast<uint32_t>(cqlPort);
  instance->getGatewayUser(config.gatewayUser);
  if (!config.gatewayUser.empty()) {
    std::string encrypted;
    instance->getGatewayPassword(encrypted);
    if (!CassandraPriamSetup::DecryptToBase64(encrypted, config.gatewayPassword)) {
      TQLOG(-1, "Failed to decrypt the CQL password");
      return FXErrorUtil::ErrorEventMessage(FXLOC, CassandraPriamSetup::kEvPasswordDecryptFailed,
                                            "CQL password");
    }
  }

  // 6. JMX.
  instance->getJMXConfig(jmxConfigXml);
  PriamJmxSettings jmx;
  CQiError e = CassandraPriamSetup::ReadJmxConfig(CassandraPriamSetup::kCoordinator, jmxConfigXml,
                                                  jmx, priamAdditionalParameters);
  if (e.IsError()) return e.Push(FXLOC);
  if (!jmxConfigXml.empty()) {
    config.jmxHost = jmx.host;
    config.jmxPort = jmx.port;
    config.jmxUser = jmx.user;
    config.jmxPassword = jmx.token;
    config.jmxService = jmx.service;
  }

  // 7. Authentication.
  instance->getAuthConfig(authConfigXml);
  TQLOG(2, "Gateway properties: %s %d %s %s %d", config.gatewayHost.c_str(),
        static_cast<int>(config.gatewayCqlPort), config.gatewayUser.c_str(), config.jmxHost.c_str(),
        static_cast<int>(config.jmxPort));

  // 8. Commit-log job: the instance must back up commit logs.
  if (config.commitLogJob) {
    bool enabled = false;
    instance->getEnableCommitLogBackup(enabled);
    if (!enabled) {
      commitLogNotConfigured = true;
      TQLOG(0, "Commit log backup is not configured at the instance level. Failing the job");
      return FXErrorUtil::ErrorEventMessage(FXLOC, EV_COMMIT_LOG_NOT_CONFIGURED);
    }
    instance->getCassArchiveLogPath(config.archiveDirectory);
    instance->getCassArchiveCommand(config.archiveCommand);
    TQLOG(2, "Commit log config - archive directory: %s, archive command: %s",
          config.archiveDirectory.c_str(), config.archiveCommand.c_str());
  }

  // 9. The coordinator's Priam.
  e = CassandraPriamSetup::MakeCoordinatorPriam(PriamInputs(config, authConfigXml), priam);
  if (e.IsError()) return e.Push(FXLOC);
  e = setAdditionalPriamValues();
  if (e.IsError()) return e.Push(FXLOC);
  setAdditionalPriamParameters();
  e = priam->startPriam();
  if (e.IsError()) {
    handlePriamError(e, CassandraPriamSetup::kEvPriamStartFailed, std::string());
    return e.Push(FXLOC);
  }

  // 10. Cluster name and version.
  CQiString reply;
  e = priam->get(0, CQiString("clusterDetails"), reply, CQiString(""));
  std::string clusterName, version;
  if (!e.IsError()) {
    // A reply that is not a JSON object holding both names changes nothing
    // stored: blank names would reach the instance and every header path.
    TqJson::Object details;
    TqJson::Value name, number;
    if (!TqJson::Unserialize(reply.str(), details) ||
        !TqJson::FindValue(details, "ClusterName", name) ||
        !TqJson::FindValue(details, "Version", number)) {
      e = FXErrorUtil::ErrorWin32(FXLOC, 13,
                                  "Priam reply to clusterDetails is not a JSON object holding "
                                  "ClusterName and Version");
    } else {
      try {
        clusterName = TqJson::GetStringValue(details, "ClusterName");
        version = TqJson::GetStringValue(details, "Version");
      } catch (const std::runtime_error& typeError) {
        e = FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to clusterDetails is not readable: %s",
                                    typeError.what());
      }
    }
  }
  if (e.IsError()) {
    TQLOG(-1,
          "Error while getting cluster Details from the Cassandra cluster. Error: %s, Response: %s",
          e.AsString(2).c_str(), reply.c_str());
    EvEvent event;
    event << "clusterDetails" << e.AsString(2) + ": " + reply.str();
    event.MajorEvent(kEvPriamRequestFailed);
    return e.Push(FXLOC);
  }
  config.clusterName = clusterName;
  instance->setClusterName(clusterName);
  instance->setVersion(version);

  // 11. Discovery, content and node registration.
  e = loadBackupContent(instanceId, backupSetId);
  if (e.IsError()) return e.Push(FXLOC);
  const std::vector<DistributedQEL::CNodeInfoPtr> nodes = getNodes();
  if (nodes.empty()) {
    // Nothing selected a node that could be registered; there is nobody to
    // share the streams with.
    TQLOG(-1, "No Cassandra node was registered for the backup");
    return FXErrorUtil::ErrorWin32(FXLOC, 1627,
                                   "No Cassandra node could be registered for the backup: the "
                                   "content selected no node whose client is known and whose "
                                   "services are up");
  }

  // 12. Mapping file of a restarted job, and the highest number any of its
  // lines holds.
  int32_t recordedEnd = 0;
  const std::string mappingFile = mappingFilePath();
  struct stat info;
  if (::stat(mappingFile.c_str(), &info) == 0) {
    TQLOG(2, "Reading from mapping file %s", mappingFile.c_str());
    std::vector<std::string> lines;
    if (S_ISDIR(info.st_mode) || CollectFileMapping::ReadLines(mappingFile, lines).IsError()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to read from the mapping file");
    }
    for (const std::string& line : lines) {
      uint32_t clientId = 0;
      std::string status;
      if (CollectFileMapping::ParseLine(line, clientId, status)) {
        taskStatusByClient.emplace(clientId, status);
        for (int number : CollectFileMapping::TaskNumbers(status)) {
          recordedEnd = std::max(recordedEnd, number);
        }
      }
    }
  }

  // 13. Stream share.
  int streams = 0;
  e = AutoStreamHandler::GetMaxNumberOfStreams(subclient, streams, true,
                                               static_cast<int>(nodes.size()), 0, nullptr);
  if (e.IsError()) TQLOG(-1, "Failed to get the number of streams: %s", e.AsString(2).c_str());
  const int nodeCount = static_cast<int>(nodes.size());
  const int streamsPerNode = (streams + nodeCount - 1) / nodeCount;
  TQLOG(0, "Assigning %d streams to each node", streamsPerNode);

  // 14. Collect-file ranges, reserved in one block for the nodes in list
  // order.
  // The numbers are shared by the whole process: a second backup phase run
  // by the same process continues where the first stopped. A rerun's block
  // begins after every number the mapping file holds, so a node new to the
  // rerun never takes a number of a node restored from its line.
  static std::atomic<int32_t> refId{1};
  const int32_t width = 2 * streamsPerNode;
  int32_t next = refId.load();
  int32_t blockStart = 0;
  do {
    blockStart = std::max(next, recordedEnd + 1);
  } while (!refId.compare_exchange_weak(next, blockStart + width * nodeCount + 1));
  next = blockStart;
  for (const DistributedQEL::CNodeInfoPtr& node : nodes) {
    const std::string& clientName = node->getClientName();
    CassandraNodeInfoPtr nodeInfo = CassandraNodeInfo::Of(findNodeInfoByNodeName(clientName));
    if (nodeInfo) {
      auto restarted = taskStatusByClient.find(node->getClientID());
      if (restarted != taskStatusByClient.end()) {
        // The node keeps the numbers its line recorded, and the width of the
        // range its collect files were split into: the leading numbers that
        // follow on from the first one (surplus numbers never do).
        const std::vector<int> recorded = CollectFileMapping::TaskNumbers(restarted->second);
        nodeInfo->collectFileStart = CollectFileMapping::FirstTaskNumber(restarted->second);
        int32_t numbered = 0;
        while (numbered < static_cast<int32_t>(recorded.size()) &&
               recorded[numbered] == nodeInfo->collectFileStart + numbered) {
          ++numbered;
        }
        nodeInfo->rangeWidth = numbered > 0 ? numbered + numbered % 2 : width;
        TQLOG(2, "Assigned collect file ID %d to node %s from mapping file",
              nodeInfo->collectFileStart, clientName.c_str());
      } else {
        nodeInfo->collectFileStart = next;
        nodeInfo->rangeWidth = width;
        TQLOG(2, "Assigned collect file ID %d to node %s", next, clientName.c_str());
      }
    }
    next += width;
    config.setLastCollectFileNumber(static_cast<uint32_t>(next - 1));
  }

  // 15. Surplus collect files are numbered after every node's range, one
  // number apart from it, so that no surplus number continues a range and a
  // rerun can tell the two apart in a mapping-file line.
  nextTaskId = static_cast<uint32_t>(next + 1);
  tasksPerNode = static_cast<uint32_t>(width);
  return CQiError::Success();
}

}  // namespace TQCassandra
