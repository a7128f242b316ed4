#include <gtest/gtest.h>

#include "common/CassandraNodeRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;
using namespace App;

UserCredentials Credentials(const std::string& user, const std::string& encrypted) {
  UserCredentials c;
  c.setUserName(user);
  c.setPassword(encrypted);
  return c;
}

CassandraNode FullNode() {
  TqEntities::ClientEntity client;
  client.setClientId(12);
  client.setClientName("node1");
  JMXConnection jmx;
  jmx.setJmxHost("10.0.0.1");
  jmx.setJmxPort(7199);
  jmx.setJmxService("service");
  jmx.setCredentials(Credentials("jmxuser", "ENC(jmx)"));
  CassandraSSLConfig ssl;
  ssl.setSslEnabled(1);
  ssl.setKeystorePath("/ks");
  ssl.setKeystorePassword("ENC(ks)");
  ssl.setTruststorePath("/ts");
  ssl.setTruststorePassword("ENC(ts)");
  AuthConfig auth;
  auth.setSsl(ssl);
  CassandraNode node;
  node.setHostId("a1b2");
  node.setClient(client);
  node.setClientName("node1");
  node.setAddress("10.0.0.1");
  node.setDataCenter("dc1");
  node.setRack("rack1");
  node.setTokens("-9223372036854775808,0");
  node.setState(static_cast<int64_t>(CassandraNodeState::Joining));
  node.setDown(1);
  node.setDataDirectories("/data1;/data2");
  node.setConfigDirectory("/etc/cassandra:/host/etc/cassandra");
  node.setJavaHome("/usr/lib/jvm/java-11");
  node.setJmx(jmx);
  node.setPlaceholder(1);
  node.setAuth(auth);
  node.setAgentInstanceName("node1_10.0.0.1");
  return node;
}

TEST(NodeRecords, CassandraNode) {
  CassandraNode n = ExpectLayout(FullNode(), {{1, 1, S},
                                              {2, 5, O},
                                              {3, 6, S},
                                              {4, 10, S},
                                              {5, 14, S},
                                              {6, 18, S},
                                              {8, 23, S},
                                              {9, 27, I},
                                              {10, 28, I},
                                              {11, 29, S},
                                              {13, 37, S},
                                              {15, 42, S},
                                              {16, 46, O},
                                              {17, 47, I},
                                              {18, 48, O},
                                              {19, 49, S}});
  EXPECT_EQ(n.getHostId(), "a1b2");
  ASSERT_TRUE(n.getClient().has_value());
  EXPECT_EQ(n.getClient()->getClientId(), 12);
  EXPECT_EQ(n.getClientName(), "node1");
  EXPECT_EQ(n.getAddress(), "10.0.0.1");
  EXPECT_EQ(n.getDataCenter(), "dc1");
  EXPECT_EQ(n.getRack(), "rack1");
  EXPECT_EQ(n.getTokens(), "-9223372036854775808,0");
  EXPECT_EQ(n.getState(), 2);
  EXPECT_EQ(n.getDown(), 1);
  EXPECT_EQ(n.getDataDirectories(), "/data1;/data2");
  EXPECT_EQ(n.getConfigDirectory(), "/etc/cassandra:/host/etc/cassandra");
  EXPECT_TRUE(n.hasJavaHome());
  EXPECT_EQ(n.getJavaHome(), "/usr/lib/jvm/java-11");
  EXPECT_EQ(n.getPlaceholder(), 1);
  EXPECT_TRUE(n.hasAgentInstanceName());
  EXPECT_EQ(n.getAgentInstanceName(), "node1_10.0.0.1");

  CassandraNode bare;
  EXPECT_FALSE(bare.hasJavaHome());
  EXPECT_FALSE(bare.hasAgentInstanceName());
  EXPECT_FALSE(bare.getJmx().has_value());
  EXPECT_FALSE(bare.getAuth().has_value());
  bare.setAgentInstanceName("");
  EXPECT_TRUE(bare.hasAgentInstanceName()) << "present but empty is set";
}

TEST(NodeRecords, ConnectionSettings) {
  CassandraNode node = FullNode();
  JMXConnection jmx = ExpectLayout(*node.getJmx(), {{1, 1, S}, {2, 5, I}, {3, 6, S}, {4, 10, O}});
  EXPECT_EQ(jmx.getJmxHost(), "10.0.0.1");
  EXPECT_EQ(jmx.getJmxPort(), 7199);
  EXPECT_EQ(jmx.getJmxService(), "service");
  UserCredentials c = ExpectLayout(*jmx.getCredentials(), {{1, 1, S}, {2, 5, P}});
  EXPECT_EQ(c.getUserName(), "jmxuser");
  EXPECT_EQ(c.getPassword().getPlainPassword(), "ENC(jmx)") << "still the encrypted text";

  AuthConfig auth = ExpectLayout(*node.getAuth(), {{1, 1, O}});
  CassandraSSLConfig ssl =
      ExpectLayout(*auth.getSsl(), {{1, 1, I}, {2, 2, S}, {3, 6, P}, {4, 7, S}, {5, 11, P}});
  EXPECT_EQ(ssl.getSslEnabled(), 1);
  EXPECT_EQ(ssl.getKeystorePath(), "/ks");
  EXPECT_EQ(ssl.getKeystorePassword().getPlainPassword(), "ENC(ks)");
  EXPECT_EQ(ssl.getTruststorePath(), "/ts");
  EXPECT_EQ(ssl.getTruststorePassword().getPlainPassword(), "ENC(ts)");
}

TEST(NodeRecords, ClusterInstanceProperties) {
  CassandraGatewayNode gateway;
  gateway.setNode(FullNode());
  gateway.setCqlCredentials(Credentials("cql", "ENC(cql)"));
  CassandraConfig config;
  config.setGatewayNode(gateway);
  config.setNodes({FullNode(), CassandraNode()});
  config.setClusterName("Test Cluster");
  config.setConfigFilePath("");
  DistributedClusterConfig cluster;
  cluster.setCassandraConfig(config);
  TqEntities::InstanceEntity instance;
  instance.setInstanceId(21);
  ClusterInstanceInfo info;
  info.setInstance(instance);
  info.setOperation(ClusterInstanceInfo::kOperationSet);
  info.setClusterType(ClusterInstanceInfo::kClusterTypeCassandra);
  info.setClusterConfig(cluster);
  DistributedClusterInstanceReq request;
  request.setInstanceInfo(info);
  DistributedClusterInstanceResp response;
  response.setInstanceInfo(info);

  ExpectLayout(response, {{1, 1, O}});
  DistributedClusterInstanceReq r = ExpectLayout(request, {{1, 1, O}});
  ClusterInstanceInfo i =
      ExpectLayout(*r.getInstanceInfo(), {{1, 1, O}, {2, 2, I}, {3, 3, I}, {4, 4, O}});
  EXPECT_EQ(i.getInstance()->getInstanceId(), 21);
  EXPECT_EQ(i.getOperation(), 2);
  EXPECT_EQ(i.getClusterType(), 9);
  DistributedClusterConfig d = ExpectLayout(*i.getClusterConfig(), {{6, 6, O}});
  CassandraConfig c =
      ExpectLayout(*d.getCassandraConfig(), {{1, 1, O}, {2, 2, L}, {4, 7, S}, {8, 20, S}});
  EXPECT_EQ(c.getClusterName(), "Test Cluster");
  EXPECT_TRUE(c.hasConfigFilePath()) << "set to an empty text is set";
  EXPECT_FALSE(CassandraConfig().hasConfigFilePath());
  ASSERT_EQ(c.getNodes().size(), 2u);
  EXPECT_EQ(c.getNodes()[0], FullNode());
  CassandraGatewayNode g = ExpectLayout(*c.getGatewayNode(), {{1, 1, O}, {3, 3, O}});
  EXPECT_EQ(*g.getNode(), FullNode());
  EXPECT_EQ(g.getCqlCredentials()->getUserName(), "cql");
}

TEST(NodeRecords, SubclientContent) {
  CassandraContent whole;
  whole.setClusterName("Test Cluster");
  CassandraContent row;
  row.setClusterName("Test Cluster");
  row.setKeyspaceName("shop");
  row.setDataCenter("dc1");
  row.setReplicationFactor(3);
  row.setReplicationClass("NetworkTopologyStrategy");
  CassandraContent r = ExpectLayout(row, {{1, 1, S}, {2, 5, S}, {3, 9, S}, {4, 13, I}, {5, 14, S}});
  EXPECT_EQ(r.getKeyspaceName(), "shop");
  EXPECT_EQ(r.getDataCenter(), "dc1");
  EXPECT_EQ(r.getReplicationFactor(), 3);
  EXPECT_EQ(r.getReplicationClass(), "NetworkTopologyStrategy");
  CassandraContent w = ExpectLayout(whole, {{1, 1, S}});
  EXPECT_TRUE(w.hasClusterName());
  EXPECT_FALSE(w.hasKeyspaceName()) << "only the cluster name: the whole cluster";
  EXPECT_FALSE(w.hasDataCenter());

  CassandraSubclientProps props;
  EXPECT_FALSE(props.hasContents());
  props.setContents({whole, row});
  CassandraSubclientProps p = ExpectLayout(props, {{1, 1, L}});
  EXPECT_TRUE(p.hasContents());
  ASSERT_EQ(p.getContents().size(), 2u);
  EXPECT_EQ(p.getContents()[1], row);
}

}  // namespace
