#pragma once

#include <cstdint>
#include <string>

#include "common/CassandraNodeRecords.h"

namespace TQCassandra {

// The get form of the central server's cluster-instance procedure
// (SP_DISTRIBUTED_CLUSTER_INSTANCE) for one instance: what the restore side
// reads of an instance (its node list and cluster name). Each caller reports
// a failure in its own words, so the outcome names the step that failed.
struct ClusterInstanceConfig {
  enum Step {
    kOk = 0,
    kSerialize,  // the request could not be serialised
    kProcedure,  // the procedure failed: `code` and `errorText`
    kParse,      // the reply does not parse: `code` is the parser's result
    kNoConfig,   // the reply holds no Cassandra configuration
  };
  Step step = kOk;
  int code = 0;
  std::string errorText;
  // Set when `step` is kOk.
  App::CassandraConfig config;

  // Runs the procedure for `instanceId` (carried as a signed 32-bit value).
  static ClusterInstanceConfig Get(int32_t instanceId);
};

}  // namespace TQCassandra
