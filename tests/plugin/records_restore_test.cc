#include <gtest/gtest.h>

#include "common/CleanupRecords.h"
#include "common/RestoreOptionRecords.h"
#include "common/RestoreRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;
using namespace DistributedQEL;

TqEntities::ClientEntity Client(int64_t id, const std::string& name) {
  TqEntities::ClientEntity c;
  c.setClientId(id);
  c.setClientName(name);
  return c;
}

App::CassandraNode Node(const std::string& address) {
  App::CassandraNode node;
  node.setAddress(address);
  node.setClient(Client(1, "node-" + address));
  return node;
}

TEST(RestoreRecords, SourceTargetMapping) {
  CassandraSourceTargetMapping mapping;
  mapping.setSource(Node("10.0.0.1"));
  mapping.setTarget(Node("10.0.1.1"));
  CassandraSourceTargetMapping m = ExpectLayout(mapping, {{1, 1, O}, {2, 2, O}});
  EXPECT_EQ(m.getSource()->getAddress(), "10.0.0.1");
  EXPECT_EQ(m.getTarget()->getAddress(), "10.0.1.1");
  CassandraSourceTargetMappingList list;
  list.setMappings({mapping, mapping});
  EXPECT_EQ(ExpectLayout(list, {{1, 1, L}}).getMappings().size(), 2u);
}

TEST(RestoreRecords, StageFreeParameters) {
  CassandraTable table;
  table.setTableName("orders");
  CassandraKeyspace keyspace;
  keyspace.setKeyspaceName("shop");
  keyspace.setTables({table});
  CassandraZelkRestoreOptions options;
  options.setShareName("share42");
  options.setServerHost("localhost");
  options.setMountDirectory("/TqCassandraMountDir42");
  options.setSourcePrefixes({"Test Cluster/dc1/node1"});
  options.setKeyspaces({keyspace});
  options.setTunnelingPort(2049);
  CassandraZelkRestoreOptions o =
      ExpectLayout(options, {{1, 1, S}, {2, 2, S}, {3, 3, S}, {4, 4, LS}, {5, 5, L}, {6, 6, I}});
  EXPECT_EQ(o.getShareName(), "share42");
  EXPECT_EQ(o.getServerHost(), "localhost");
  EXPECT_EQ(o.getMountDirectory(), "/TqCassandraMountDir42");
  EXPECT_EQ(o.getSourcePrefixes(), std::vector<std::string>{"Test Cluster/dc1/node1"});
  EXPECT_EQ(o.getKeyspaces().front().getTables().front().getTableName(), "orders");
  EXPECT_TRUE(o.hasTunnelingPort());
  EXPECT_EQ(o.getTunnelingPort(), 2049);
  EXPECT_FALSE(CassandraZelkRestoreOptions().hasTunnelingPort());
}

TEST(RestoreRecords, SystemKeysAndAgentStatus) {
  CassandraSystemKey key;
  key.setKeyFilePath("/etc/dse/keys/system_key");
  key.setContent("ENC(content)");
  CassandraSystemKey k = ExpectLayout(key, {{1, 1, S}, {2, 2, S}});
  EXPECT_EQ(k.getKeyFilePath(), "/etc/dse/keys/system_key");
  EXPECT_EQ(k.getContent(), "ENC(content)");
  CassandraSystemKeyInfo info;
  info.setKeys({key});
  EXPECT_EQ(ExpectLayout(info, {{1, 1, L}}).getKeys().front(), key);

  AgentStoppedStatus failure;
  failure.setFailed(1);
  AgentStoppedStatus f = ExpectLayout(failure, {{1, 1, I}});
  EXPECT_EQ(f.getFailed(), 1);
  EXPECT_TRUE(f.getValues().empty());
  AgentStoppedStatus restart;
  restart.setFailed(0);
  restart.setValues({DINameValue("CassandraRestart", "1"), DINameValue("NodeName", "node1")});
  AgentStoppedStatus r = ExpectLayout(restart, {{1, 1, I}, {2, 2, L}});
  EXPECT_EQ(r.getValues()[1].getValue(), "node1");
}

TEST(CleanupRecords, PostOpParams) {
  CassandraPostOpParams params;
  params.setNodeName("node1_10.0.0.1");
  params.setJavaHome("/jvm");
  params.setConfigDirectory("/etc/cassandra");
  CassandraPostOpParams p = ExpectLayout(params, {{1, 1, S}, {2, 2, S}, {3, 3, S}});
  EXPECT_EQ(p.getNodeName(), "node1_10.0.0.1");
  EXPECT_EQ(p.getJavaHome(), "/jvm");
  EXPECT_EQ(p.getConfigDirectory(), "/etc/cassandra");
  CassandraPostOpParamsList list;
  list.setParams({params});
  EXPECT_EQ(ExpectLayout(list, {{1, 1, L}}).getParams().front(), params);
}

// The options text of a restore job, read back as the coordinator reads it:
// job option, restore options, distributed-apps options, Cassandra options.
TEST(RestoreOptionRecords, JobOptionsChain) {
  App::CassandraClientMap map;
  map.setSource(Client(1, "src"));
  map.setTarget(Client(2, "dst"));
  App::CassandraClientMap m = ExpectLayout(map, {{1, 1, O}, {2, 2, O}});
  EXPECT_EQ(m.getSource()->getClientName(), "src");
  EXPECT_EQ(m.getTarget()->getClientName(), "dst");

  App::CassandraClientMapEntity source;
  source.setClient(Client(1, "src"));
  source.setContainerName("cassandra-1");
  App::CassandraClientMapEntity s = ExpectLayout(source, {{1, 1, O}, {2, 2, S}});
  EXPECT_EQ(s.getClient()->getClientId(), 1);
  EXPECT_EQ(s.getContainerName(), "cassandra-1");
  App::CassandraDockerClientMap docker;
  docker.setSource(source);
  docker.setTarget(source);
  App::CassandraDockerClientMap d = ExpectLayout(docker, {{1, 1, O}, {2, 2, O}});
  EXPECT_EQ(*d.getSource(), source);
  EXPECT_EQ(*d.getTarget(), source);

  App::CassandraRestoreOptions cassandra;
  cassandra.setCrossInstance(1);
  cassandra.setNodeMap({map});
  cassandra.setDockerNodeMap({docker});
  cassandra.setReplaceDeadNode(1);
  cassandra.setRecover(1);
  cassandra.setStagingLocation("/stage");
  cassandra.setUseSSTableLoader(1);
  cassandra.setRunDR(1);
  cassandra.setSubclientRestore(1);
  cassandra.setTruncateTables(1);
  cassandra.setStageFreeRestore(1);
  App::DistributedAppsRestoreOptions apps;
  apps.setCassandraRestoreOptions(cassandra);
  TMMsg::RestoreOptions restore;
  restore.setDistributedAppsRestoreOptions(apps);
  TMMsg::JobOption job;
  job.setRestoreOptions(restore);

  TMMsg::JobOption j = ExpectLayout(job, {{2, 2, O}});
  TMMsg::RestoreOptions r = ExpectLayout(*j.getRestoreOptions(), {{50, 50, O}});
  App::DistributedAppsRestoreOptions a =
      ExpectLayout(*r.getDistributedAppsRestoreOptions(), {{7, 7, O}});
  App::CassandraRestoreOptions c = ExpectLayout(*a.getCassandraRestoreOptions(), {{1, 1, I},
                                                                                  {2, 2, L},
                                                                                  {3, 3, L},
                                                                                  {4, 4, I},
                                                                                  {5, 5, I},
                                                                                  {6, 6, S},
                                                                                  {7, 7, I},
                                                                                  {8, 8, I},
                                                                                  {9, 9, I},
                                                                                  {10, 10, I},
                                                                                  {15, 15, I}});
  EXPECT_EQ(c.getCrossInstance(), 1);
  EXPECT_TRUE(c.hasNodeMap());
  EXPECT_EQ(c.getNodeMap().front(), map);
  EXPECT_TRUE(c.hasDockerNodeMap());
  EXPECT_EQ(c.getDockerNodeMap().front(), docker);
  EXPECT_EQ(c.getReplaceDeadNode(), 1);
  EXPECT_EQ(c.getRecover(), 1);
  EXPECT_EQ(c.getStagingLocation(), "/stage");
  EXPECT_EQ(c.getUseSSTableLoader(), 1);
  EXPECT_EQ(c.getRunDR(), 1);
  EXPECT_EQ(c.getSubclientRestore(), 1);
  EXPECT_EQ(c.getTruncateTables(), 1);
  EXPECT_EQ(c.getStageFreeRestore(), 1);

  // An option that is not set reads as 0, and missing maps are told apart.
  App::CassandraRestoreOptions none;
  EXPECT_EQ(none.getTruncateTables(), 0);
  EXPECT_FALSE(none.hasNodeMap());
  EXPECT_FALSE(none.hasDockerNodeMap());
  EXPECT_FALSE(TMMsg::JobOption().getRestoreOptions().has_value());
}

}  // namespace
