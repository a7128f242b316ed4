#pragma once

#include <string>
#include <vector>

namespace TqSim {

// The settings of one simulated node's cassandra.yaml (and cassandra-env.sh
// for the JMX port).
struct SimNodeSettings {
  std::string clusterName;
  std::string listenAddress;
  std::string rpcAddress;
  int cqlPort = 9042;
  int jmxPort = 7199;
  std::vector<std::string> seeds;
  std::vector<std::string> dataDirs;
  std::string commitLogDir;
  std::string savedCachesDir;
  std::string hintsDir;
  bool incrementalBackups = false;
  int numTokens = 1;
  std::vector<std::string> initialTokens;
};

// A simulated node's configuration directory: cassandra.yaml,
// cassandra-env.sh, cassandra-rackdc.properties,
// commitlog_archiving.properties, for DSE dse.yaml, and "tqsim-node.json",
// which tells the Priam stand-in which cluster file and node it serves.
class SimNodeConfig {
 public:
  static constexpr const char* kPointerFile = "tqsim-node.json";

  explicit SimNodeConfig(std::string confDir) : confDir_(std::move(confDir)) {}
  const std::string& confDir() const { return confDir_; }

  bool WriteCassandraYaml(const SimNodeSettings& settings, std::string& error) const;
  // Reads cassandra.yaml (and the JMX port of cassandra-env.sh).
  bool Read(SimNodeSettings& settings, std::string& error) const;
  // Rewrites initial_token (and num_tokens) in cassandra.yaml.
  bool SetInitialTokens(const std::vector<std::string>& tokens, std::string& error) const;

  bool WriteEnv(int jmxPort, std::string& error) const;
  bool WriteRackDc(const std::string& dataCenter, const std::string& rack,
                   std::string& error) const;
  // `archiveCommand` empty leaves commit-log archiving unconfigured.
  bool WriteCommitLogArchiving(const std::string& archiveCommand, std::string& error) const;
  bool WriteDseYaml(const std::string& systemKeyDirectory, std::string& error) const;

  bool WritePointer(const std::string& clusterFile, const std::string& address,
                    std::string& error) const;
  bool ReadPointer(std::string& clusterFile, std::string& address, std::string& error) const;

  // Adds or removes the replace_address JVM option in cassandra-env.sh.
  bool SetReplaceAddress(const std::string& address, std::string& error) const;

 private:
  std::string confDir_;
};

}  // namespace TqSim
