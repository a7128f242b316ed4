#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TqSim {

// What the generator makes. Everything but the root path follows from these
// options, so the same options give the same cluster.
struct FixtureOptions {
  std::string clusterName = "TestCluster";
  std::string version = "3.11.4";
  std::string flavour = "cassandra";  // "cassandra" or "dse"
  int nodes = 3;
  int dataCenters = 1;          // nodes are spread over them in blocks
  int keyspaces = 2;            // "ks1".. ; odd ones NetworkTopologyStrategy
  int tablesPerKeyspace = 2;    // "t1"..
  int sstablesPerTable = 2;     // per node
  uint64_t sstableSize = 4096;  // bytes of each Data.db
  int dataDirsPerNode = 1;
  int tokensPerNode = 1;
  int replicationFactor = 3;         // capped by the nodes of a data centre
  bool incrementalBackups = false;   // incremental_backups in cassandra.yaml
  bool archivingConfigured = false;  // archive_command set up already
  // Archived segments per node (and one active segment in the commit-log
  // folder); each holds one timestamped write of every table (SimCommitLog),
  // filled up to the segment size.
  int commitLogSegments = 2;
  uint64_t commitLogSegmentSize = 1024;
  int encryptedTablesPerKeyspace = 0;  // DSE only: the first n tables of each keyspace
  bool unflushedData = true;           // every table has data for the next flush
  // Further tables of the first keyspace, after "t1".., by these names. A
  // real Cassandra takes quoted identifiers, so a name may hold quotes,
  // blanks and any other character but "/" (it names a folder); "", "." and
  // ".." are refused too.
  std::vector<std::string> quotedTables;
  // Every node runs in a Docker container of its own (see docker.json); its
  // configuration and node directories are mounted at kContainerConfDir and
  // kContainerNodeDir, so the commit-log archive is kContainerArchiveDir in
  // the container.
  bool docker = false;
  uint64_t seed = 1;
  // Node names are this prefix and a number ("node1"..), and addresses
  // "10.<addressNetwork>.<data centre>.<n>": a second cluster in the same
  // home takes other names and addresses, so that its clients and nodes
  // never clash with the first one's.
  std::string nodePrefix = "node";
  int addressNetwork = 0;
};

struct FixtureNode {
  std::string name;  // "<nodePrefix>1"..
  std::string address;
  std::string dataCenter;
  std::string confDir;
  std::vector<std::string> dataDirs;
  std::string commitLogDir;
  std::string commitLogArchiveDir;
  std::string systemKeyDir;  // DSE only
  // With the docker option: the node's container and its archive directory
  // as Cassandra inside the container sees it.
  std::string containerName;
  std::string containerArchiveDir;
};

struct FixtureResult {
  std::string root;
  std::string clusterFile;  // <root>/cluster.json
  std::string dockerWorld;  // <root>/docker.json with the docker option, else ""
  std::vector<FixtureNode> nodes;
};

// Generates a simulated cluster under `root`:
//   cluster.json                       the cluster description
//   nodes/<node>/conf/                 cassandra.yaml, cassandra-env.sh,
//                                      cassandra-rackdc.properties,
//                                      commitlog_archiving.properties,
//                                      tqsim-node.json, dse.yaml (DSE)
//   nodes/<node>/data<i>/<ks>/<table>-<id>/   SSTables (+ backups/)
//   nodes/<node>/commitlog/, commitlog_archive/, saved_caches/, hints/
//   nodes/<node>/systemkeys/system_key (DSE)
//   docker.json                        with the docker option: the docker
//                                      stand-in's world (SimDockerWorld), an
//                                      unrelated container first, then one
//                                      container per node
class ClusterFixture {
 public:
  static constexpr const char* kContainerConfDir = "/etc/cassandra";
  static constexpr const char* kContainerNodeDir = "/var/lib/cassandra";
  static constexpr const char* kContainerArchiveDir = "/var/lib/cassandra/commitlog_archive";

  static bool Generate(const std::string& root, const FixtureOptions& options,
                       FixtureResult& result, std::string& error);

  // The archived segment name "CommitLog-<version>-<id>.log".
  static std::string SegmentName(int version, uint64_t id);
  // Commit-log version of a Cassandra version (6 for 3.x, 7 from 4.0).
  static int CommitLogVersion(const std::string& cassandraVersion);
};

}  // namespace TqSim
