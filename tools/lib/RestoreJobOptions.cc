#include "tools/lib/RestoreJobOptions.h"

namespace TqHarness {

std::string RestoreJobOptionsXml(const App::CassandraRestoreOptions& cassandra) {
  App::DistributedAppsRestoreOptions distributed;
  distributed.setCassandraRestoreOptions(cassandra);
  TMMsg::RestoreOptions restore;
  restore.setDistributedAppsRestoreOptions(distributed);
  TMMsg::JobOption job;
  job.setRestoreOptions(restore);
  std::string xml;
  if (job.serialize(xml) != 0) return std::string();
  return xml;
}

namespace {

TqEntities::ClientEntity ClientOf(const HarnessNode& node) {
  TqEntities::ClientEntity client;
  client.setClientId(static_cast<int64_t>(node.clientId));
  client.setClientName(node.name);
  return client;
}

}  // namespace

App::CassandraClientMap NodeMapEntry(const HarnessNode& source, const HarnessNode& target) {
  App::CassandraClientMap entry;
  entry.setSource(ClientOf(source));
  entry.setTarget(ClientOf(target));
  return entry;
}

void SetCrossInstanceMap(App::CassandraRestoreOptions& options,
                         const std::vector<std::pair<HarnessNode, HarnessNode>>& map) {
  std::vector<App::CassandraClientMap> entries;
  for (const auto& pair : map) entries.push_back(NodeMapEntry(pair.first, pair.second));
  options.setCrossInstance(1);
  options.setNodeMap(entries);
}

}  // namespace TqHarness
