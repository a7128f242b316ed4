// The restore coordinator's options and node map: which source node is
// restored by which target node, and the registration of the target nodes.

#include <memory>
#include <new>
#include <optional>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraRestoreClientConfig.h"
#include "platform/app/ApplicationId.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/Subclient.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/EvRstTask.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

// The map entity of a node of a cluster node list: its client and, for a
// node in a container, the agent instance name as container name.
App::CassandraClientMapEntity EntityOf(const App::CassandraNode& node) {
  App::CassandraClientMapEntity entity;
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  if (client) entity.setClient(*client);
  const std::string container = node.getAgentInstanceName();
  if (!container.empty()) entity.setContainerName(container);
  return entity;
}

std::string ClientNameOf(const App::CassandraNode& node) {
  std::optional<TqEntities::ClientEntity> client = node.getClient();
  return client ? client->getClientName() : std::string();
}

App::CassandraDockerClientMap Entry(const App::CassandraClientMapEntity& source,
                                    const App::CassandraClientMapEntity& target) {
  App::CassandraDockerClientMap entry;
  entry.setSource(source);
  entry.setTarget(target);
  return entry;
}

}  // namespace

CQiError CCassandraRestores::readRestoreOptions(App::CassandraRestoreOptions& options) {
  const int64_t jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
  std::string xml;
  EvTask task(jobId);
  if (task.getXMLOptions(xml).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to get the xml options");
  }
  TMMsg::JobOption jobOption;
  if (jobOption.unserialize(xml) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to unserialize restore job options [%s]",
                                   xml.c_str());
  }
  std::optional<TMMsg::RestoreOptions> restoreOptions = jobOption.getRestoreOptions();
  if (!restoreOptions) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to get restore Options");
  }
  std::optional<App::DistributedAppsRestoreOptions> distributed =
      restoreOptions->getDistributedAppsRestoreOptions();
  if (!distributed) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1627, "Failed to get distributedAppsRestoreOptions");
  }
  // Options that are not set read as 0 (and an absent record as no option).
  std::optional<App::CassandraRestoreOptions> cassandra = distributed->getCassandraRestoreOptions();
  options = cassandra ? *cassandra : App::CassandraRestoreOptions();
  return CQiError::Success();
}

CQiError CCassandraRestores::makeRestoreTask() {
  const int64_t jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
  restoreTask.reset(new (std::nothrow) EvRstTask(jobId, 0, nullptr, false, false));
  if (!restoreTask) {
    return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate the restore task record");
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::loadNodeConfiguration() {
  TQ_DEBUG_FUNCTION();
  if (!getNodes().empty()) {
    // A rerun of a phase whose nodes exist: initialize still reads the
    // restore task record.
    if (!restoreTask) return makeRestoreTask();
    return CQiError::Success();
  }

  App::CassandraRestoreOptions options;
  CQiError e = readRestoreOptions(options);
  if (e.IsError()) return e.Push(FXLOC);
  crossInstance = options.getCrossInstance() != 0;

  e = makeRestoreTask();
  if (e.IsError()) return e.Push(FXLOC);

  nodeMap.clear();
  if (subclientRestore) {
    e = buildSubclientNodeMap();
    if (e.IsError()) return e.Push(FXLOC);
  } else if (options.hasDockerNodeMap()) {
    TQLOG(0, "Docker Node map set");
    nodeMap = options.getDockerNodeMap();
  } else if (options.hasNodeMap()) {
    TQLOG(0, "Node map set");
    for (const App::CassandraClientMap& map : options.getNodeMap()) {
      App::CassandraClientMapEntity source, target;
      std::optional<TqEntities::ClientEntity> sourceClient = map.getSource();
      std::optional<TqEntities::ClientEntity> targetClient = map.getTarget();
      if (sourceClient) source.setClient(*sourceClient);
      if (targetClient) target.setClient(*targetClient);
      TQLOG(0, "Source: %s", sourceClient ? sourceClient->getClientName().c_str() : "");
      nodeMap.push_back(Entry(source, target));
    }
  }

  if (!nodeMap.empty()) registerNodeMap();
  return CQiError::Success();
}

CQiError CCassandraRestores::buildSubclientNodeMap() {
  if (!sourceConfig || !destConfig) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The cluster node lists were not loaded");
  }
  int64_t subclientId = restoreTask->getSubclientId();
  TQLOG(0, "Subclient id received: %ld", static_cast<long>(subclientId));

  // A subclient other than the default one restores the data centre of its
  // first content row only.
  bool filterByDataCenter = false;
  std::string dataCenter;
  if (subclientId != -1) {
    bool isDefault = false;
    if (Subclient::isDefaultSubclient(static_cast<uint64_t>(subclientId), isDefault).IsError()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1627,
                                     "Failed to check if the restore is from default subclient");
    }
    if (!isDefault) {
      ApplicationId application(restoreClientConfig->getOmbrelId(),
                                static_cast<uint64_t>(subclientId));
      CassandraSubclient* subclient = dynamic_cast<CassandraSubclient*>(application.getSubclient());
      if (!subclient) {
        return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Subclient is not a Cassandra client");
      }
      std::string contentXml;
      subclient->getCassandraContent(contentXml);
      App::CassandraSubclientProps props;
      if (!contentXml.empty() && props.unserialize(contentXml) != 0) {
        TQLOG(1, "Subclient content not readable: %s", contentXml.c_str());
      }
      std::vector<App::CassandraContent> rows = props.getContents();
      if (rows.empty()) {
        // Nothing names a data centre: the subclient's whole cluster.
        TQLOG(1, "Subclient %ld has no content rows; no data centre filter",
              static_cast<long>(subclientId));
      } else {
        filterByDataCenter = true;
        dataCenter = rows.front().getDataCenter();
      }
    }
  }
  auto passes = [&](const App::CassandraNode& node) {
    return !filterByDataCenter || node.getDataCenter() == dataCenter;
  };

  if (crossInstance) {
    const std::vector<App::CassandraNode>& sources = sourceConfig->clusterNodes;
    const std::vector<App::CassandraNode>& targets = destConfig->clusterNodes;
    size_t cursor = 0;
    for (const App::CassandraNode& node : sources) {
      if (!passes(node)) continue;
      if (targets.empty()) {
        TQLOG(-1, "The destination instance lists no node to restore the source nodes to");
        return FXErrorUtil::ErrorWin32(FXLOC, 1359,
                                       "The destination instance lists no node to restore source "
                                       "node %s to",
                                       ClientNameOf(node).c_str());
      }
      nodeMap.push_back(Entry(EntityOf(node), EntityOf(targets[cursor])));
      cursor = (cursor + 1) % targets.size();
    }
  } else {
    for (const App::CassandraNode& node : destConfig->clusterNodes) {
      TQLOG(0, "subclient restore: %d Node %s", filterByDataCenter ? 1 : 0,
            ClientNameOf(node).c_str());
      if (!passes(node)) continue;
      App::CassandraClientMapEntity entity = EntityOf(node);
      nodeMap.push_back(Entry(entity, entity));
    }
  }
  return CQiError::Success();
}

void CCassandraRestores::registerNodeMap() {
  TQLOG(0, " found node map ");
  for (const App::CassandraDockerClientMap& entry : nodeMap) {
    std::optional<App::CassandraClientMapEntity> source = entry.getSource();
    std::optional<App::CassandraClientMapEntity> target = entry.getTarget();
    std::optional<TqEntities::ClientEntity> sourceClient;
    std::optional<TqEntities::ClientEntity> targetClient;
    if (source) sourceClient = source->getClient();
    if (target) targetClient = target->getClient();
    const std::string sourceName = sourceClient ? sourceClient->getClientName() : std::string();
    TQLOG(1, "adding access node [%s]", sourceName.c_str());
    sourceClientNames.insert(sourceName);

    const std::string name = registeredNodeName(entry);
    const bool byTarget = crossInstance && targetClient &&
                          (static_cast<uint64_t>(targetClient->getClientId()) & 0xFFFFFFFFu) != 0;
    if (!byTarget) {
      TQLOG(0, "Source: %s Source instance: %s", sourceName.c_str(),
            source ? source->getContainerName().c_str() : "");
    }
    if (!findNodeInfoByNodeName(name)) {
      if (byTarget) TQLOG(1, "adding access node from mapping  [%s]", name.c_str());
      CQiError e = addNode(name);
      if (e.IsError()) TQLOG(1, "addNode %s: %s", name.c_str(), e.AsString(2).c_str());
    }
  }
  TQLOG(0, "added [%lu] access nodes for [%lu] client maps",
        static_cast<unsigned long>(getNodes().size()), static_cast<unsigned long>(nodeMap.size()));
  setNodeMapFlag(true);
}

}  // namespace TQCassandra
