#include "sim/lib/SimRemoteUtility.h"

#include <algorithm>
#include <iostream>
#include <set>

#include "platform/app/AppRecordLayout.h"
#include "platform/base/CommandLineArguments.h"
#include "platform/msg/NMessageBase.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/SuiteStore.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimFiles.h"
#include "sim/lib/SimLogReplay.h"
#include "sim/lib/SimNodeConfig.h"
#include "sim/lib/SimSystemKeyCopy.h"

namespace TqSim {

namespace L = AppRecordLayout;

std::string SimRemoteUtility::LocalConfDir(const std::string& stored) {
  std::string dir = stored;
  const size_t colon = stored.find(':');
  if (colon != std::string::npos) {
    dir = stored.substr(0, colon);
    const std::string hostView = stored.substr(colon + 1);
    if (!IsDir(dir) && !hostView.empty()) dir = hostView;
  }
  if (IsFile(dir)) dir = ParentPath(dir);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::vector<SimUtilityNode> SimRemoteUtility::ClientNodes(int64_t jobId, std::string& error) {
  std::vector<SimUtilityNode> nodes;
  const CSuiteStore store = CSuiteStore::Default();
  const std::string clientName = CClientContext::ClientName();
  std::vector<SClientRecord> clients;
  CQiError e = store.LoadClients(clients);
  if (e.IsError()) {
    error = e.AsString(2);
    return nodes;
  }
  auto client = std::find_if(clients.begin(), clients.end(),
                             [&](const SClientRecord& c) { return c.name == clientName; });
  if (client == clients.end()) {
    error = "Client " + clientName + " is not registered";
    return nodes;
  }
  std::vector<SInstanceRecord> instances;
  e = store.LoadInstances(instances);
  if (e.IsError()) {
    error = e.AsString(2);
    return nodes;
  }
  const uint64_t destination = EvRstTask(jobId, 0, nullptr, false, false).getDestInstanceId();
  std::set<std::string> seen;
  for (const SInstanceRecord& instance : instances) {
    if (destination != 0 && instance.id != destination) continue;
    for (const std::string& xml : instance.nodeXmls) {
      CNMessageBase node(L::kCassandraNode.ns, L::kCassandraNode.cls);
      if (node.unserialize(xml) != 0) continue;
      const CNMessageBase* entity =
          node.getObjectAccessor(L::kNodeClient.field, L::kNodeClient.index);
      const std::string address = node.getstring(L::kNodeAddress.field, L::kNodeAddress.index);
      const bool byId =
          entity && static_cast<uint64_t>(entity->getint64(L::kClientId.index)) == client->id;
      const bool byAddress = std::find(client->addresses.begin(), client->addresses.end(),
                                       address) != client->addresses.end();
      if (!byId && !byAddress) continue;
      SimUtilityNode n;
      n.confDir = LocalConfDir(
          node.getstring(L::kNodeConfigDirectory.field, L::kNodeConfigDirectory.index));
      if (n.confDir.empty() || !seen.insert(n.confDir).second) continue;
      std::string ignored;
      SimNodeConfig(n.confDir).ReadPointer(n.clusterFile, n.address, ignored);
      if (n.address.empty()) n.address = address;
      nodes.push_back(n);
    }
  }
  if (nodes.empty()) error = "Client " + clientName + " runs no Cassandra node";
  return nodes;
}

std::string SimRemoteUtility::FaultAction(const std::vector<SimUtilityNode>& nodes,
                                          const std::string& mode) {
  SimFault fault;
  return FindFault(nodes, mode, fault) ? fault.action : "";
}

bool SimRemoteUtility::FindFault(const std::vector<SimUtilityNode>& nodes, const std::string& mode,
                                 SimFault& fault) {
  for (const SimUtilityNode& node : nodes) {
    if (node.clusterFile.empty()) continue;
    SimCluster cluster;
    std::string error;
    if (!SimClusterFile(node.clusterFile).Load(cluster, error)) continue;
    for (const SimFault& f : cluster.faults) {
      if (f.when == "utility" && (f.request.empty() || f.request == mode) &&
          (f.node.empty() || f.node == node.address)) {
        fault = f;
        return true;
      }
    }
  }
  return false;
}

int SimRemoteUtility::Main(int argc, char** argv) {
  CCommandLineArguments arguments;
  if (!arguments.Parse(argc, argv).IsError() && arguments.HasOption(SimLogReplay::kConfOption)) {
    SimLogReplay::Arguments replay;
    std::string error;
    if (!SimLogReplay::ParseArguments(arguments, replay, error)) {
      std::cerr << error << "\n";
      return 2;
    }
    CTqRemoteCommandPeer peer;
    CQiError e = peer.Connect();
    if (e.IsError()) {
      std::cerr << e.AsString(2) << "\n";
      return 1;
    }
    std::vector<SimUtilityNode> nodes = ClientNodes(replay.jobId, error);
    if (nodes.empty()) std::cerr << error << "\n";
    return SimLogReplay::Run(peer, replay, nodes);
  }
  if (arguments.Parse(argc, argv).IsError() || arguments.GetPlainArguments().empty()) {
    std::cerr << "usage: " << (argc > 0 ? argv[0] : "utility") << " <job id> -"
              << SimSystemKeyCopy::kMode << "\n";
    return 2;
  }
  const std::string jobText = arguments.GetPlainArguments().front();
  char* end = nullptr;
  const long long jobId = std::strtoll(jobText.c_str(), &end, 10);
  if (jobText.empty() || *end != '\0') {
    std::cerr << "not a job id: " << jobText << "\n";
    return 2;
  }
  if (!arguments.HasOption(SimSystemKeyCopy::kMode)) {
    std::cerr << "no mode requested\n";
    return 2;
  }

  CTqRemoteCommandPeer peer;
  CQiError e = peer.Connect();
  if (e.IsError()) {
    std::cerr << e.AsString(2) << "\n";
    return 1;
  }
  std::string error;
  std::vector<SimUtilityNode> nodes = ClientNodes(jobId, error);
  if (nodes.empty()) std::cerr << error << "\n";
  return SimSystemKeyCopy::Run(peer, nodes, FaultAction(nodes, SimSystemKeyCopy::kMode));
}

}  // namespace TqSim
