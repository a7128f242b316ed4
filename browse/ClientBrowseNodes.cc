// The cluster browser's node browse: the ring from Priam's "clusterDetails"
// and "status", and the suite client of every node address.

#include <set>
#include <stdexcept>
#include <vector>

#include "browse/ClientBrowse.h"
#include "common/CassandraClientLookup.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"

namespace TQCassandra {

namespace {

const char* const kStatusFailed = "Failed to fetch status node status from Cassandra";

// One object element of Priam's "status" reply.
struct StatusRow {
  std::string node, state, nodeStatus, dataCenter, rack, token, hostId;
};

// Reads the "status" reply; elements that are not objects are skipped. False
// for a reply that is not an array or whose members are not texts.
bool ReadStatusRows(const std::string& reply, std::vector<StatusRow>& rows) {
  TqJson::Array elements;
  if (!TqJson::Unserialize(reply, elements)) return false;
  try {
    for (const TqJson::Value& element : elements) {
      if (!element.isObject()) continue;
      const TqJson::Object& o = element.getObject();
      rows.push_back({TqJson::GetStringValue(o, "node"), TqJson::GetStringValue(o, "state"),
                      TqJson::GetStringValue(o, "nodestatus"),
                      TqJson::GetStringValue(o, "data_center"), TqJson::GetStringValue(o, "rack"),
                      TqJson::GetStringValue(o, "token"), TqJson::GetStringValue(o, "hostid")});
    }
  } catch (const std::runtime_error& typeError) {
    TQLOG(-1, "Priam status reply not readable: %s", typeError.what());
    return false;
  }
  return true;
}

}  // namespace

CQiError CClientBrowse::nodeBrowse(App::MachineBrowseItem& item, std::string& reason) {
  TQLOG(0, "Cassandra node browse request");
  CQiString reply;
  std::string clusterName;
  std::string version;
  CQiError e = requestClusterDetails(reply, clusterName, version, reason);
  if (e.IsError()) {
    EvEvent event;
    event << "clusterDetails" << e.AsString(2);
    event.MajorEvent(kEvPriamRequestFailed);
    return e.Push(FXLOC);
  }

  std::vector<StatusRow> rows;
  e = priamUtil->get(0, CQiString("status"), reply, CQiString(""));
  if (e.IsError() || !ReadStatusRows(reply.str(), rows)) {
    TQLOG(-1, "%s: %s, Response: %s", kStatusFailed, e.AsString(2).c_str(), reply.c_str());
    reason = kStatusFailed;
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "%s%s", kFailurePrefix, kStatusFailed);
  }

  App::CassandraBrowseItem browseItem;
  browseItem.setClusterName(clusterName);
  browseItem.setVersion(version);
  std::vector<App::CassandraNode> nodes;
  std::list<std::string> addresses;
  for (const StatusRow& row : rows) {
    TQLOG(0, "%s %s %s %s %s %s %s", row.node.c_str(), row.state.c_str(), row.nodeStatus.c_str(),
          row.dataCenter.c_str(), row.rack.c_str(), row.token.c_str(), row.hostId.c_str());
    App::CassandraNode node;
    node.setAddress(row.node);
    node.setDataCenter(row.dataCenter);
    node.setRack(row.rack);
    node.setTokens(row.token);
    node.setState(static_cast<int64_t>(getStatus(row.state)));
    node.setDown(row.nodeStatus == "Down" ? 1 : 0);
    node.setHostId(row.hostId);
    addresses.push_back(row.node);
    nodes.push_back(node);
  }

  std::map<std::string, std::string> clients;
  e = getTQclientsForIPs(addresses, clients);
  if (e.IsError()) {
    reason = e.GetMessage();
    return e.Push(FXLOC);
  }
  if (dockerConfig) {
    for (App::CassandraNode& node : nodes) {
      auto found = clients.find(node.getAddress());
      const std::string client = found == clients.end() ? std::string() : found->second;
      TQLOG(0, "Setting agent instance name with client %s", client.c_str());
      node.setAgentInstanceName(client + "_" + node.getAddress());
    }
  }
  browseItem.setNodes(nodes);
  item.setCassandraItem(browseItem);
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() >= 3) {
    std::string xml;
    item.serialize(xml);
    TQLOG(2, "MachineBrowseItem: %s", xml.c_str());
  }
  return CQiError::Success();
}

App::CassandraNodeState CClientBrowse::getStatus(const std::string& state) {
  App::CassandraNodeState value;
  if (!App::NodeStateFromText(state, value)) TQLOG(-1, "Invalid Cassandra node status");
  return value;
}

CQiError CClientBrowse::getTQclientsForIPs(std::list<std::string> addresses,
                                           std::map<std::string, std::string>& clients) {
  std::vector<TqEntities::ClientEntity> entities;
  CQiError e = CassandraClientLookup::ClientsForAddresses(addresses, entities);
  if (e.IsError()) return e.Push(FXLOC);

  // An entity names its address as host name; one without names the address
  // at its own position. An address without a client has no entity.
  const std::vector<std::string> ordered(addresses.begin(), addresses.end());
  const std::set<std::string> requested(addresses.begin(), addresses.end());
  for (size_t i = 0; i < entities.size(); ++i) {
    std::string address = entities[i].getHostName();
    if (address.empty() && i < ordered.size()) address = ordered[i];
    if (requested.count(address) == 0) continue;
    clients[address] = entities[i].getClientName();
  }
  // Nodes are told apart by agent instance name when one client hosts
  // several of them; addresses without a client say nothing.
  std::map<std::string, std::set<std::string>> addressesOf;
  for (const auto& entry : clients) {
    if (entry.second.empty()) continue;
    std::set<std::string>& hosted = addressesOf[entry.second];
    hosted.insert(entry.first);
    if (hosted.size() > 1) dockerConfig = true;
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
