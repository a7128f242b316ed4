#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Records the suite's central server keeps (CSuiteStore) besides its clients
// (SClientRecord, ClientDirectory.h).

// Application type of the Cassandra agent.
constexpr int64_t kCassandraApplicationType = 64;

// A cluster instance of an application and its properties.
struct SInstanceRecord {
  uint64_t id = 0;
  std::string name;
  // The client the instance belongs to (for a cluster: the client that stands
  // for the cluster as a whole).
  uint64_t clientId = 0;
  int64_t applicationType = kCassandraApplicationType;

  // Cassandra's configuration file (cassandra.yaml) used when a node record
  // names no configuration location of its own.
  std::string cassandraConfigFile;
  std::string javaHome;
  std::string gatewayHost;
  int gatewayCqlPort = 0;
  std::string gatewayUser;
  // Encrypted with the suite's password cipher (TQPassword).
  std::string gatewayPassword;
  // XML text of the JMX connection record (namespace 30, class 1719); "" for
  // none.
  std::string jmxConfigXml;
  // XML text of the authentication record (namespace 30, class 1952); "" for
  // none.
  std::string authConfigXml;
  bool enableCommitLogBackup = false;
  std::string archiveLogPath;
  std::string archiveCommand;
  std::string clusterName;
  std::string version;

  // The instance's node list as the suite stores it: the XML text of one node
  // record (namespace 30, class 1720) per node, in stored order. The node
  // records of a simulated cluster name each node's own configuration
  // directory (field 13). Readers must cope with a configuration location
  // that is a file path as well as with a directory: where a node names none,
  // the backup falls back to the instance's configuration file (a path ending
  // in the file's name), and code that appends a file name to the location
  // (such as "commitlog_archiving.properties") must first take the
  // directory of such a path.
  std::vector<std::string> nodeXmls;
};

// A subclient: what one backup of an instance protects.
struct SSubclientRecord {
  uint64_t id = 0;
  std::string name;
  uint64_t instanceId = 0;
  uint64_t backupSetId = 0;
  // The default subclient protects what the other subclients of its backup
  // set do not.
  bool isDefault = false;
  // The most streams a backup of the subclient may use.
  int maxStreams = 0;
  // XML text of the content record (namespace 30, class 1800); "" for none.
  std::string contentXml;
  // XML text the last completed backup left: the per-node keyspace status
  // (namespace 30, class 2047) that the next backup reads; "" before the
  // first backup.
  std::string backedUpContentXml;
};
