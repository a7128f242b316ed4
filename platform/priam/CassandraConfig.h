#pragma once

#include <string>
#include <vector>

#include "platform/base/QiError.h"

namespace TqCassandra {

// What the plug-in's Priam utility reads from a node's Cassandra
// configuration: cassandra.yaml (or scylla.yaml) and, for the JMX port,
// cassandra-env.sh beside it.
class CassandraConfig {
 public:
  // Turns a configuration location into the configuration directory and the
  // configuration file. A location "a:b" counts by its first part; a
  // directory names its cassandra.yaml (scylla.yaml when only that exists);
  // anything else is taken as the file itself.
  static void ResolveLocation(const std::string& location, std::string& confDir,
                              std::string& confFile);

  // Reads the configuration at `location`. Fails when the file cannot be read
  // or is not YAML; the members then keep what could be resolved.
  CQiError Load(const std::string& location);

  std::string confDir;
  std::string confFile;
  std::string flavour;                // "cassandra" or "scylla"
  std::vector<std::string> dataDirs;  // data_file_directories
  std::vector<std::string> seeds;     // seed_provider parameters "seeds"
  std::string cqlHost;                // rpc/broadcast/listen address
  std::string cqlPort;                // native_transport_port
  std::string jmxPort;                // JMX_PORT of cassandra-env.sh
  bool loaded = false;
};

}  // namespace TqCassandra
