#pragma once

#include <string>

#include "common/RestoreOptionRecords.h"

namespace TqHarness {

// The XML text of a restore job's options as the suite hands them to the
// restore coordinator: `cassandra` inside the distributed-apps restore
// options, inside the restore options of the job option record. Empty when
// the record cannot be written.
std::string RestoreJobOptionsXml(const App::CassandraRestoreOptions& cassandra);

}  // namespace TqHarness
