#pragma once

#include <cstdint>
#include <string>

#include "common/CassandraNodeRecords.h"

namespace TQCassandra {

// The get and set forms of the central server's cluster-instance procedure
// (SP_DISTRIBUTED_CLUSTER_INSTANCE) for one instance: what the restore side
// reads of an instance (its node list and cluster name) and writes back. Each caller reports
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
  // Set when `step` is kOk: the Cassandra configuration, and the whole
  // instance record it came in (what a set form sends back).
  App::CassandraConfig config;
  App::ClusterInstanceInfo instance;

  // Runs the procedure for `instanceId` (carried as a signed 32-bit value).
  static ClusterInstanceConfig Get(int32_t instanceId);
  // Runs the set form of the procedure with `instance` (whose operation is
  // made the set operation): kOk, kSerialize or kProcedure. The request
  // text sent goes to `sentXml` when given.
  static ClusterInstanceConfig Set(App::ClusterInstanceInfo instance,
                                   std::string* sentXml = nullptr);
};

}  // namespace TQCassandra
