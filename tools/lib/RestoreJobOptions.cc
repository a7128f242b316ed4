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

}  // namespace TqHarness
