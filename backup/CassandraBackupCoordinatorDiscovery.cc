// The backup coordinator's cluster discovery, content choice and node
// registration: the ring from Priam's "status", the suite clients of the node
// addresses, the instance's stored node list (read, merged and rewritten),
// the subclient's content (for a subclient without content: everything the
// other subclients of the backup set leave uncovered), and the registration
// of every selected node with the framework.

#include <algorithm>
#include <cstring>
#include <functional>
#include <list>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "backup/CassandraMetaKeyspace.h"
#include "backup/CassandraNodeInfo.h"
#include "common/CassandraClientLookup.h"
#include "platform/app/App_ExecuteSP.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/app/ClientApplicationList.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/SuiteRecordTypes.h"

namespace TQCassandra {

namespace {

constexpr uint32_t EV_NODE_SKIPPED = 0x60003DB;
constexpr uint32_t EV_NO_BACKUP_CONTENT = 0x600046E;
constexpr uint32_t SP_DISTRIBUTED_CLUSTER_INSTANCE = 0x1E4FDD52;

// The job event of a Priam request that failed or answered what cannot be
// read: the request and the error with the reply.
void RaiseRequestFailed(const char* request, const CQiError& error, const std::string& reply) {
  EvEvent event;
  event << request << error.AsString(2) + ": " + reply;
  event.MajorEvent(CassandraBackupCoordinator::kEvPriamRequestFailed);
}

void RaiseNodeSkipped(const std::string& node, const char* reason) {
  EvEvent event;
  event << node << reason;
  event.CriticalEvent(EV_NODE_SKIPPED);
}

CQiError NoPriam(const FXCodeLocation& location) {
  return FXErrorUtil::ErrorWin32(location, 87, "The coordinator's Priam utility was not made");
}

// Sends Priam the GET request `resource` and hands each object of the JSON
// array it answers to `row`. A reply that is not an array, or whose objects
// hold members of other types than `row` reads, is error 13: taken for an
// empty answer it would pass for an empty ring or a cluster without keyspaces.
CQiError ReadPriamRows(TqCassandra::PriamUtil& priam, const char* resource, CQiString& reply,
                       const std::function<void(const TqJson::Object&)>& row) {
  CQiError e = priam.get(0, CQiString(resource), reply, CQiString(""));
  if (e.IsError()) return e;
  TqJson::Array elements;
  if (!TqJson::Unserialize(reply.str(), elements)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to %s is not a JSON array", resource);
  }
  try {
    for (const TqJson::Value& element : elements) {
      if (element.isObject()) row(element.getObject());
    }
  } catch (const std::runtime_error& typeError) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Priam reply to %s is not readable: %s", resource,
                                   typeError.what());
  }
  return CQiError::Success();
}

// Runs the cluster-instance stored procedure with `request`; `verb` ("get"
// or "set") names the operation in the error. The set's request is logged.
CQiError RunClusterInstanceProcedure(App_ExecuteSP& executor,
                                     const App::DistributedClusterInstanceReq& request,
                                     const char* verb, std::string& responseXml) {
  std::string requestXml;
  if (request.serialize(requestXml) != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13,
        "Distributed cluster instance XML serialization failed with an error. Please check the "
        "logs");
  }
  if (std::strcmp(verb, "set") == 0) TQLOG(2, "Set instance xml: %s", requestXml.c_str());
  int r = executor.executeStoredProcedure(SP_DISTRIBUTED_CLUSTER_INSTANCE, requestXml, responseXml,
                                          nullptr);
  if (r != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13,
        "Stored procedure to %s instance properties failed with an error [%d], response Str [%s]",
        verb, r, executor.getErrorString().c_str());
  }
  return CQiError::Success();
}

}  // namespace

// One row of Priam's "status" reply.
struct CassandraNodeProperties {
  std::string dataCenter;  // "data_center"
  std::string address;     // "node"
  std::string nodeStatus;  // "nodestatus"
  std::string state;       // "state"
  std::string rack;        // "rack"
  std::string token;       // "token"
  std::string hostId;      // "hostid"
};

// A node record of the instance's stored node list, and whether the ring
// still holds its address.
struct cassandraUIprop {
  App::CassandraNode node;
  bool seen = false;
};

// The working collections of one loadBackupContent run.
struct ClusterDiscovery {
  // Ring addresses in reply order (a repeated address stands twice).
  std::list<std::string> statusAddresses;
  // The row of each address (a repeated address keeps its last row).
  std::map<std::string, CassandraNodeProperties> statusProps;
  std::set<std::string> statusDataCenters;
  // Addresses whose node is not "Up" or not "Normal", in reply order.
  std::vector<std::string> downAddresses;
  // The instance's stored node records by address (the first one wins).
  std::map<std::string, cassandraUIprop> storedNodes;
  // The get request and the instance record it received; the set sends the
  // same request back with the edited record.
  App::DistributedClusterInstanceReq request;
  App::ClusterInstanceInfo instanceInfo;
  std::vector<TqEntities::ClientEntity> suiteClients;
  // One record per status address, same order.
  std::vector<App::CassandraNode> discoveredNodes;
  // The discovered records that have a suite client, by address.
  std::map<std::string, App::CassandraNode> mappedNodes;

  bool isDown(const std::string& address) const {
    return std::find(downAddresses.begin(), downAddresses.end(), address) != downAddresses.end();
  }
};

CQiError CassandraBackupCoordinator::loadBackupContent(unsigned long instanceId,
                                                       unsigned long backupSetId) {
  TQ_DEBUG_FUNCTION();
  ClusterDiscovery run;
  App_ExecuteSP executor;

  CQiError e = readRingStatus(run);
  if (e.IsError()) return e.Push(FXLOC);
  e = readStoredNodes(instanceId, executor, run);
  if (e.IsError()) return e.Push(FXLOC);
  e = getTQclientsForIPs(run.statusAddresses, run.suiteClients);
  if (e.IsError()) return e.Push(FXLOC);
  buildNodeRecords(run);
  if (run.statusAddresses.empty()) {
    // A ring without nodes tells nothing about the stored ones: the list
    // stays as it is and the job fails for lack of nodes.
    TQLOG(-1, "Priam's ring lists no node; the stored node list is kept");
  } else {
    e = writeStoredNodes(executor, run);
    if (e.IsError()) return e.Push(FXLOC);
  }

  // The subclient's own content; without any, the default-subclient content.
  TQLOG(2, "Fetching Cassandra node details");
  std::string contentXml;
  if (subclient) subclient->getCassandraContent(contentXml, nullptr);
  App::CassandraSubclientProps props;
  props.unserialize(contentXml);
  std::vector<App::CassandraContent> content = props.getContents();
  if (content.empty()) {
    e = defaultSubclientContent(backupSetId, run, content);
    if (e.IsError()) return e.Push(FXLOC);
  }
  if (content.empty()) {
    TQLOG(0, "No backup content. Completing the job");
    noBackupContent = true;
    return FXErrorUtil::ErrorEventMessage(FXLOC, EV_NO_BACKUP_CONTENT);
  }
  e = registerContentNodes(content, run);
  if (e.IsError()) return e.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::readRingStatus(ClusterDiscovery& run) {
  if (!priam) return NoPriam(FXLOC);
  CQiString reply;
  std::vector<CassandraNodeProperties> rows;
  CQiError e = ReadPriamRows(*priam, "status", reply, [&rows](const TqJson::Object& object) {
    CassandraNodeProperties row;
    row.dataCenter = TqJson::GetStringValue(object, "data_center");
    row.address = TqJson::GetStringValue(object, "node");
    row.nodeStatus = TqJson::GetStringValue(object, "nodestatus");
    row.state = TqJson::GetStringValue(object, "state");
    row.rack = TqJson::GetStringValue(object, "rack");
    row.token = TqJson::GetStringValue(object, "token");
    row.hostId = TqJson::GetStringValue(object, "hostid");
    rows.push_back(row);
  });
  if (e.IsError()) {
    TQLOG(-1, "Failed to fetch Cassandra status to get the list of datacenters");
    RaiseRequestFailed("status", e, reply.str());
    return e.Push(FXLOC);
  }

  for (const CassandraNodeProperties& row : rows) {
    run.statusProps[row.address] = row;
    run.statusAddresses.push_back(row.address);
    run.statusDataCenters.insert(row.dataCenter);
    TQLOG(0, "Cassandra reporting node ip %s dc %s", row.address.c_str(), row.dataCenter.c_str());
    if (row.nodeStatus != "Up" || row.state != "Normal") {
      TQLOG(-1, "Adding cassandra ip %s to failed nodes list", row.address.c_str());
      run.downAddresses.push_back(row.address);
    }
  }
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::readStoredNodes(unsigned long instanceId,
                                                     App_ExecuteSP& executor,
                                                     ClusterDiscovery& run) {
  TqEntities::InstanceEntity entity;
  entity.setInstanceId(static_cast<int64_t>(instanceId));
  App::ClusterInstanceInfo query;
  query.setInstance(entity);
  query.setOperation(App::ClusterInstanceInfo::kOperationGet);
  query.setClusterType(App::ClusterInstanceInfo::kClusterTypeCassandra);
  run.request.setInstanceInfo(query);

  std::string responseXml;
  CQiError called = RunClusterInstanceProcedure(executor, run.request, "get", responseXml);
  if (called.IsError()) return called.Push(FXLOC);
  App::DistributedClusterInstanceResp response;
  int r = response.unserialize(responseXml);
  if (r != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "Unserialize of Stored procedure response failed with an error %d", r);
  }
  std::optional<App::ClusterInstanceInfo> received = response.getInstanceInfo();
  std::optional<App::DistributedClusterConfig> cluster;
  std::optional<App::CassandraConfig> cassandra;
  if (received) cluster = received->getClusterConfig();
  if (cluster) cassandra = cluster->getCassandraConfig();
  if (!cassandra) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Null Cassandra config");
  run.instanceInfo = *received;

  for (const App::CassandraNode& node : cassandra->getNodes()) {
    TQLOG(0, "Found node %s from instance properties", node.getAddress().c_str());
    run.storedNodes.emplace(node.getAddress(), cassandraUIprop{node, false});
  }
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::getTQclientsForIPs(
    std::list<std::string> addresses, std::vector<TqEntities::ClientEntity>& clients) {
  return CassandraClientLookup::ClientsForAddresses(addresses, clients);
}

int CassandraBackupCoordinator::getClientObj(const std::vector<TqEntities::ClientEntity>& clients,
                                             const std::string& address,
                                             TqEntities::ClientEntity& out) {
  for (const TqEntities::ClientEntity& client : clients) {
    if (client.getHostName() == address) {
      out = client;
      return 0;
    }
  }
  return -1;
}

bool CassandraBackupCoordinator::isClientAdded(const std::vector<App::CassandraNode>* nodes,
                                               const std::string& clientName) {
  if (nodes == nullptr) return false;
  for (const App::CassandraNode& node : *nodes) {
    std::optional<TqEntities::ClientEntity> client = node.getClient();
    if (client && client->getClientName() == clientName) return true;
  }
  return false;
}

bool CassandraBackupCoordinator::nodeInNodeInfo(const std::vector<App::CassandraNode>& nodes,
                                                const std::string& address) {
  for (const App::CassandraNode& node : nodes) {
    if (node.getAddress() == address) return true;
  }
  return false;
}

App::CassandraNodeState CassandraBackupCoordinator::getStatus(const std::string& state) {
  App::CassandraNodeState value;
  if (!App::NodeStateFromText(state, value)) TQLOG(-1, "Invalid Cassandra node status");
  return value;
}

void CassandraBackupCoordinator::buildNodeRecords(ClusterDiscovery& run) {
  // Several addresses of one client: the nodes run in containers of one
  // machine and are told apart by their agent instance names.
  std::set<std::string> clientNames;
  for (const TqEntities::ClientEntity& client : run.suiteClients) {
    if (!clientNames.insert(client.getClientName()).second) {
      TQLOG(0, "Docker config");
      dockerConfig = true;
      break;
    }
  }

  for (const std::string& address : run.statusAddresses) {
    TQLOG(2, "Cassandra IP : %s", address.c_str());
    App::CassandraNode node;
    TqEntities::ClientEntity client;
    if (getClientObj(run.suiteClients, address, client) == 0) {
      TQLOG(2, "Found client node : %s", client.getClientName().c_str());
      node.setClientName(client.getClientName());
      node.setClient(client);
    }
    if (dockerConfig) {
      TQLOG(2, "Setting agent instance name");
      node.setAgentInstanceName(client.getClientName() + "_" + address);
    }
    const CassandraNodeProperties& row = run.statusProps[address];
    node.setAddress(address);
    node.setConfigDirectory(clientConfig ? clientConfig->cassandraConfigFile : std::string());
    node.setJavaHome(clientConfig ? clientConfig->javaHome : std::string());
    node.setDataCenter(row.dataCenter);
    node.setRack(row.rack);
    node.setTokens(row.token);
    node.setState(static_cast<int64_t>(getStatus(row.state)));
    node.setDown(row.nodeStatus == "Down" ? 1 : 0);
    node.setHostId(row.hostId);

    auto stored = run.storedNodes.find(address);
    if (stored != run.storedNodes.end()) {
      TQLOG(0, "Found properties for %s in instance", address.c_str());
      const App::CassandraNode& kept = stored->second.node;
      if (!kept.getConfigDirectory().empty()) node.setConfigDirectory(kept.getConfigDirectory());
      if (!kept.getDataDirectories().empty()) node.setDataDirectories(kept.getDataDirectories());
      if (!kept.getJavaHome().empty()) node.setJavaHome(kept.getJavaHome());
      stored->second.seen = true;
    }
    run.discoveredNodes.push_back(node);
  }
}

CQiError CassandraBackupCoordinator::writeStoredNodes(App_ExecuteSP& executor,
                                                      ClusterDiscovery& run) {
  // The get answered with the whole chain (readStoredNodes checked it).
  App::DistributedClusterConfig cluster = *run.instanceInfo.getClusterConfig();
  App::CassandraConfig cassandra = *cluster.getCassandraConfig();

  std::vector<App::CassandraNode> nodes;
  for (const App::CassandraNode& node : run.discoveredNodes) {
    TQLOG(0, "Pushing node %s onto instance properties", node.getAddress().c_str());
    nodes.push_back(node);
  }
  // Stored nodes the ring no longer has stay in the list as down, unless
  // their client is in the list already.
  for (const auto& entry : run.storedNodes) {
    if (entry.second.seen) continue;
    const App::CassandraNode& stale = entry.second.node;
    std::optional<TqEntities::ClientEntity> client = stale.getClient();
    if (client && isClientAdded(&nodes, client->getClientName())) continue;
    TQLOG(0, "Found node %s not present in the cluster", entry.first.c_str());
    App::CassandraNode copy = stale;
    copy.setDataCenter("");
    copy.setTokens("");
    copy.setRack("");
    copy.setHostId("");
    copy.setDown(1);
    nodes.push_back(copy);
    RaiseNodeSkipped(copy.getClientName(), "Node is not part of the cluster");
  }
  cassandra.setNodes(nodes);
  cluster.setCassandraConfig(cassandra);
  run.instanceInfo.setClusterConfig(cluster);
  run.instanceInfo.setOperation(App::ClusterInstanceInfo::kOperationSet);
  run.request.setInstanceInfo(run.instanceInfo);

  std::string responseXml;
  CQiError called = RunClusterInstanceProcedure(executor, run.request, "set", responseXml);
  if (called.IsError()) return called.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::readKeyspaceReplication(
    std::vector<std::pair<std::string, std::string>>& keyspaces) {
  if (!priam) return NoPriam(FXLOC);
  CQiString reply;
  CQiError e = priam->get(0, CQiString("getMeta"), reply, CQiString(""));
  std::vector<CassandraMetaKeyspace> read;
  if (!e.IsError()) e = CassandraMetaKeyspace::ReadReply(reply.str(), read);
  for (const CassandraMetaKeyspace& keyspace : read) {
    keyspaces.emplace_back(keyspace.name, keyspace.replicationClass);
  }
  if (e.IsError()) {
    TQLOG(-1, "Error while getting metadata from the Cassandra cluster. Error: %s, Response: %s",
          e.AsString(2).c_str(), reply.c_str());
    RaiseRequestFailed("getMeta", e, reply.str());
    keyspaces.clear();
    return e.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::defaultSubclientContent(
    unsigned long backupSetId, const ClusterDiscovery& run,
    std::vector<App::CassandraContent>& content) {
  std::vector<uint64_t> ids;
  std::vector<std::string> names;
  if (ClientApplicationList::getSubclientList(ids, names, kCassandraApplicationType, backupSetId,
                                              nullptr, 5) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to retrieve list of subclients");
  }

  // What the other subclients of the backup set cover.
  std::unordered_map<std::string, std::vector<std::string>> coveredKeyspaces;
  std::set<std::string> coveredDataCenters;
  bool clusterCovered = false;
  for (uint64_t id : ids) {
    CassandraSubclient other(id);
    std::string xml;
    other.getCassandraContent(xml, nullptr);
    TQLOG(2, "Subclient id: %lu, content: %s", static_cast<unsigned long>(id), xml.c_str());
    App::CassandraSubclientProps props;
    props.unserialize(xml);
    for (const App::CassandraContent& row : props.getContents()) {
      const std::string keyspace = row.hasKeyspaceName() ? row.getKeyspaceName() : std::string();
      const std::string dataCenter = row.hasDataCenter() ? row.getDataCenter() : std::string();
      TQLOG(2, "Subclient: %lu - keyspace %s DC %s", static_cast<unsigned long>(id),
            keyspace.c_str(), dataCenter.c_str());
      if (!keyspace.empty()) {
        coveredKeyspaces[keyspace].push_back(dataCenter);
      } else if (!dataCenter.empty()) {
        coveredDataCenters.insert(dataCenter);
      } else if (row.hasClusterName()) {
        clusterCovered = true;
      }
    }
  }
  if (clusterCovered) return CQiError::Success();

  std::vector<std::pair<std::string, std::string>> keyspaces;
  CQiError e = readKeyspaceReplication(keyspaces);
  if (e.IsError()) return e.Push(FXLOC);

  auto add = [&content](const std::string& keyspace, const std::string& dataCenter) {
    App::CassandraContent row;
    row.setKeyspaceName(keyspace);
    row.setDataCenter(dataCenter);
    content.push_back(row);
  };
  for (const auto& keyspace : keyspaces) {
    const std::string& name = keyspace.first;
    const bool simpleStrategy = keyspace.second.find("SimpleStrategy") != std::string::npos;
    auto covered = coveredKeyspaces.find(name);
    if (covered != coveredKeyspaces.end()) {
      const std::vector<std::string> dataCenters = covered->second;
      // Named without a data centre: covered everywhere.
      if (dataCenters.size() == 1 && dataCenters.front().empty()) continue;
      for (const std::string& dataCenter : run.statusDataCenters) {
        if (std::find(dataCenters.begin(), dataCenters.end(), dataCenter) != dataCenters.end()) {
          continue;
        }
        if (simpleStrategy || coveredDataCenters.count(dataCenter) == 0) {
          TQLOG(2, "Adding keyspace %s for dc %s", name.c_str(), dataCenter.c_str());
          add(name, dataCenter);
        }
      }
      continue;
    }
    for (const std::string& dataCenter : run.statusDataCenters) {
      if (simpleStrategy) {
        TQLOG(2, "Adding SimpleStrategy keyspace %s for dc %s", name.c_str(), dataCenter.c_str());
        add(name, dataCenter);
      } else if (coveredDataCenters.count(dataCenter) == 0) {
        TQLOG(2, "Adding keyspace %s for dc %s", name.c_str(), dataCenter.c_str());
        add(name, dataCenter);
      }
    }
  }
  return CQiError::Success();
}

std::string CassandraBackupCoordinator::nodeKey(const App::CassandraNode& record) const {
  if (dockerConfig) return record.getAgentInstanceName();
  std::optional<TqEntities::ClientEntity> client = record.getClient();
  return client ? client->getClientName() : std::string();
}

bool CassandraBackupCoordinator::acceptNode(const std::string& address,
                                            const ClusterDiscovery& run) {
  if (run.mappedNodes.count(address) == 0) {
    TQLOG(2, "Skipping node %s", address.c_str());
    RaiseNodeSkipped(address, "Could not map Cassandra node to Torvanell node");
    nodeSkipped = true;
    return false;
  }
  if (run.isDown(address)) {
    TQLOG(0, "Skipping node %s. Cassandra services are down.", address.c_str());
    RaiseNodeSkipped(address, "Cassandra services are down");
    nodeSkipped = true;
    return false;
  }
  return true;
}

CQiError CassandraBackupCoordinator::registerNode(const App::CassandraNode& record, bool onceOnly) {
  const TqEntities::ClientEntity client = record.getClient().value_or(TqEntities::ClientEntity());
  const std::string clientName = client.getClientName();
  const uint32_t clientId = static_cast<uint32_t>(client.getClientId());
  if (!findNodeInfoByNodeName(clientName)) {
    TQLOG(0, "adding access node %d %s", static_cast<int>(clientId), clientName.c_str());
    CQiError added = addNode(clientId);
    if (added.IsError()) TQLOG(2, "addNode: %s", added.AsString(2).c_str());
  }
  DistributedQEL::CNodeInfoPtr node = findNodeInfoByNodeName(clientName);
  if (!node) return CQiError::Success();
  CassandraNodeInfoPtr info = CassandraNodeInfo::Of(node);
  if (!info) {
    info.reset(new (std::nothrow) CassandraNodeInfo());
    if (!info) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 8, "Unable to create CassandraNodeInfo object. Memory alllocation error.");
    }
    node->setCustomInfo(info);
  }
  if (!onceOnly || !nodeInNodeInfo(info->cassandraNodes, record.getAddress())) {
    info->cassandraNodes.push_back(record);
  }
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::registerContentNodes(
    const std::vector<App::CassandraContent>& content, ClusterDiscovery& run) {
  for (const App::CassandraNode& node : run.discoveredNodes) {
    if (node.getClient()) run.mappedNodes.emplace(node.getAddress(), node);
  }
  TQLOG(2, "Content list size: %lu", static_cast<unsigned long>(content.size()));

  const App::CassandraContent& first = content.front();
  const bool wholeCluster = content.size() == 1 && first.hasClusterName() &&
                            first.getKeyspaceName().empty() && first.getDataCenter().empty();
  if (wholeCluster) {
    fullClusterBackup = true;
    for (const std::string& address : run.statusAddresses) {
      if (!acceptNode(address, run)) continue;
      const App::CassandraNode& record = run.mappedNodes.at(address);
      CQiError e = registerNode(record, false);
      if (e.IsError()) return e.Push(FXLOC);
      const std::string key = nodeKey(record);
      nodeKeyspaces[key] = std::list<std::string>();
      TQLOG(0, "Empty keyspace list for node %s as part of full cluster backup", key.c_str());
    }
    return CQiError::Success();
  }

  for (const App::CassandraContent& row : content) {
    const std::string keyspace = row.getKeyspaceName();
    const std::string dataCenter = row.getDataCenter();
    if (row.hasDataCenter() && !dataCenter.empty()) {
      for (const std::string& address : run.statusAddresses) {
        if (run.statusProps.at(address).dataCenter != dataCenter) continue;
        if (!acceptNode(address, run)) continue;
        const App::CassandraNode& record = run.mappedNodes.at(address);
        CQiError e = registerNode(record, true);
        if (e.IsError()) return e.Push(FXLOC);
        const std::string key = nodeKey(record);
        std::list<std::string>& keyspaces = nodeKeyspaces[key];
        if (row.hasKeyspaceName() && !keyspace.empty()) {
          keyspaces.push_back(keyspace);
          TQLOG(2, "Adding keyspace %s for node %s agent instance %s %lu", keyspace.c_str(),
                record.getClientName().c_str(), key.c_str(),
                static_cast<unsigned long>(keyspaces.size()));
        } else {
          TQLOG(0, "Full node backup for %s", key.c_str());
          fullNodeKeys.push_back(key);
        }
      }
    } else if (row.hasKeyspaceName()) {
      // Under keyspace content a node reported down is still registered.
      for (const std::string& address : run.statusAddresses) {
        auto mapped = run.mappedNodes.find(address);
        if (mapped == run.mappedNodes.end()) {
          TQLOG(2, "Skipping node %s", address.c_str());
          continue;
        }
        const App::CassandraNode& record = mapped->second;
        CQiError e = registerNode(record, true);
        if (e.IsError()) return e.Push(FXLOC);
        const std::string key = nodeKey(record);
        std::list<std::string>& keyspaces = nodeKeyspaces[key];
        keyspaces.push_back(keyspace);
        TQLOG(2, "Adding keyspace %s for node %s agent %s %lu", keyspace.c_str(),
              record.getClientName().c_str(), key.c_str(),
              static_cast<unsigned long>(keyspaces.size()));
      }
    }
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
