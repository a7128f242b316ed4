#pragma once

#include <string>
#include <vector>

#include "common/RestoreOptionRecords.h"
#include "tools/lib/HarnessTypes.h"

namespace TqHarness {

// The XML text of a restore job's options as the suite hands them to the
// restore coordinator: `cassandra` inside the distributed-apps restore
// options, inside the restore options of the job option record. Empty when
// the record cannot be written.
std::string RestoreJobOptionsXml(const App::CassandraRestoreOptions& cassandra);

// A node map entry: the source node's client (name and id) restored by the
// target node's client.
App::CassandraClientMap NodeMapEntry(const HarnessNode& source, const HarnessNode& target);

// The restore options of a restore onto another instance with `map`
// (source node -> target node): the cross-instance option and the node map.
void SetCrossInstanceMap(App::CassandraRestoreOptions& options,
                         const std::vector<std::pair<HarnessNode, HarnessNode>>& map);

}  // namespace TqHarness
