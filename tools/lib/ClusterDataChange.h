#pragma once

#include <cstdint>
#include <string>

#include "platform/base/QiError.h"

namespace TqHarness {

// Changes the data of a simulated cluster as writes and flushes on the live
// cluster would: every table of every node gets new SSTables (hard-linked
// into backups/ where the node has incremental backups on, as Cassandra does
// on a flush), and every table is left with unflushed data for the next
// flush.
class CClusterDataChange {
 public:
  // `round` varies the new contents from one change to the next. `added` is
  // the number of SSTables written.
  static CQiError AddSSTables(const std::string& clusterFile, int perTable, uint64_t dataSize,
                              int round, int& added);
};

}  // namespace TqHarness
