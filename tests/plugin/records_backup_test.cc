#include <gtest/gtest.h>

#include "common/BackupRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;
using DistributedQEL::CassandraCreateCollectFiles;
using DistributedQEL::CassandraKeyspace;
using DistributedQEL::CassandraNodeKeyspace;
using DistributedQEL::CassandraTable;
using DistributedQEL::DINameValue;

App::CassandraNode Node(const std::string& client, const std::string& address) {
  TqEntities::ClientEntity entity;
  entity.setClientId(7);
  entity.setClientName(client);
  App::CassandraNode node;
  node.setClient(entity);
  node.setClientName(client);
  node.setAddress(address);
  node.setAgentInstanceName(client + "_" + address);
  return node;
}

CassandraTable Table(const std::string& name, const std::string& id) {
  CassandraTable t;
  t.setTableName(name);
  t.setTableId(id);
  return t;
}

CassandraKeyspace Keyspace(const std::string& name, const std::vector<CassandraTable>& tables) {
  CassandraKeyspace k;
  k.setKeyspaceName(name);
  k.setTables(tables);
  return k;
}

App::CassandraKeyspaceStatus KeyspaceStatus(const std::string& name, int64_t status) {
  App::CassandraKeyspaceStatus s;
  s.setKeyspaceName(name);
  s.setStatus(status);
  return s;
}

std::string Xml(const CNMessageBase& record) {
  std::string xml;
  EXPECT_EQ(record.serialize(xml, false), 0);
  return xml;
}

TEST(BackupRecords, KeyspacesAndTables) {
  CassandraTable t =
      ExpectLayout(Table("orders", "5bc52802de2535edaeab188eecebb090"), {{1, 1, S}, {2, 5, S}});
  EXPECT_EQ(t.getTableName(), "orders");
  EXPECT_EQ(t.getTableId(), "5bc52802de2535edaeab188eecebb090");
  CassandraKeyspace k = ExpectLayout(Keyspace("shop", {t, t}), {{1, 1, S}, {2, 5, L}});
  EXPECT_EQ(k.getKeyspaceName(), "shop");
  EXPECT_EQ(k.getTables().size(), 2u);
  CassandraNodeKeyspace nk;
  nk.setNode(Node("node1", "10.0.0.1"));
  nk.setKeyspaces({k});
  CassandraNodeKeyspace n = ExpectLayout(nk, {{1, 1, O}, {2, 2, L}});
  EXPECT_EQ(*n.getNode(), Node("node1", "10.0.0.1"));
  EXPECT_EQ(n.getKeyspaces().front(), k);
}

TEST(BackupRecords, LastBackupStatus) {
  App::CassandraNodeStatus node;
  node.setInstanceName("node1");
  node.setKeyspaceStatuses({KeyspaceStatus("shop", 1), KeyspaceStatus("logs", 0)});
  App::CassandraLastBackupStatus last;
  last.setNodeStatuses({node});
  App::CassandraLastBackupStatus l = ExpectLayout(last, {{1, 1, L}});
  App::CassandraNodeStatus n = ExpectLayout(l.getNodeStatuses().front(), {{1, 1, S}, {2, 5, L}});
  EXPECT_EQ(n.getInstanceName(), "node1");
  App::CassandraKeyspaceStatus failed =
      ExpectLayout(n.getKeyspaceStatuses()[1], {{1, 1, S}, {2, 5, I}});
  EXPECT_EQ(failed.getKeyspaceName(), "logs");
  EXPECT_TRUE(failed.hasStatus());
  EXPECT_EQ(failed.getStatus(), 0);
  App::CassandraKeyspaceStatus unknown;
  unknown.setKeyspaceName("new");
  EXPECT_FALSE(ExpectLayout(unknown, {{1, 1, S}}).hasStatus()) << "no status is not a failure";
}

// The request of a data job with extent backup, two instances of one client
// in containers, a JMX and an authentication configuration.
CassandraCreateCollectFiles DataJobRequest() {
  App::JMXConnection jmx;
  jmx.setJmxHost("10.0.0.1");
  jmx.setJmxPort(7199);
  App::CassandraSSLConfig ssl;
  ssl.setSslEnabled(0);
  App::AuthConfig auth;
  auth.setSsl(ssl);
  App::CassandraNodeStatus previous;
  previous.setInstanceName("node1_10.0.0.1");
  previous.setKeyspaceStatuses({KeyspaceStatus("shop", 1)});
  App::CassandraLastBackupStatus last;
  last.setNodeStatuses({previous});

  CassandraNodeKeyspace first;
  first.setNode(Node("node1", "10.0.0.1"));
  first.setKeyspaces({Keyspace("shop", {Table("orders", "5bc52802de2535edaeab188eecebb090"),
                                        Table("items", "0e1f2a3b4c5d6e7f8091a2b3c4d5e6f7")}),
                      Keyspace("empty", {})});
  CassandraNodeKeyspace second;
  second.setNode(Node("node1", "10.0.0.2"));
  second.setKeyspaces({});

  CassandraCreateCollectFiles request;
  request.setNodeKeyspaces({first, second});
  request.setClusterName("Test Cluster");
  request.setOptions(
      {DINameValue("CreateCollectFiles", "y"), DINameValue("JMXConfig", Xml(jmx)),
       DINameValue("AuthConfig", Xml(auth)), DINameValue("LastBackupStatus", Xml(last)),
       DINameValue("ExtentSize", "1073741824"), DINameValue("LargeFileThreshold", "1048576")});
  return request;
}

TEST(BackupRecords, CollectFileRequestReadsBackFieldForField) {
  const std::string xml = Xml(DataJobRequest());
  CNMessageBase received(119, 52);
  ASSERT_EQ(received.unserialize(xml), 0);
  EXPECT_EQ(received.getTagID(), 0x77AAFA51u) << "how the controller recognises it";
  std::optional<CassandraCreateCollectFiles> request =
      RecordAs<CassandraCreateCollectFiles>(received);
  ASSERT_TRUE(request.has_value());
  ExpectLayout(*request, {{3, 3, S}, {4, 7, L}, {5, 8, L}});
  EXPECT_EQ(request->getClusterName(), "Test Cluster");

  std::vector<DINameValue> options = request->getOptions();
  const char* const names[] = {"CreateCollectFiles", "JMXConfig",  "AuthConfig",
                               "LastBackupStatus",   "ExtentSize", "LargeFileThreshold"};
  ASSERT_EQ(options.size(), 6u);
  for (size_t i = 0; i < options.size(); ++i) EXPECT_EQ(options[i].getName(), names[i]);
  EXPECT_EQ(options[0].getValue(), "y");
  EXPECT_EQ(options[4].getValue(), "1073741824");
  EXPECT_EQ(options[5].getValue(), "1048576");
  // Nested records travel as XML text inside the values.
  App::JMXConnection jmx;
  ASSERT_EQ(jmx.unserialize(options[1].getValue()), 0);
  EXPECT_EQ(jmx.getJmxPort(), 7199);
  App::AuthConfig auth;
  ASSERT_EQ(auth.unserialize(options[2].getValue()), 0);
  EXPECT_EQ(auth.getSsl()->getSslEnabled(), 0);
  App::CassandraLastBackupStatus last;
  ASSERT_EQ(last.unserialize(options[3].getValue()), 0);
  ASSERT_EQ(last.getNodeStatuses().size(), 1u);
  EXPECT_EQ(last.getNodeStatuses()[0].getInstanceName(), "node1_10.0.0.1");
  EXPECT_EQ(last.getNodeStatuses()[0].getKeyspaceStatuses()[0].getStatus(), 1);

  std::vector<CassandraNodeKeyspace> nodes = request->getNodeKeyspaces();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].getNode()->getAgentInstanceName(), "node1_10.0.0.1");
  EXPECT_EQ(nodes[1].getNode()->getAgentInstanceName(), "node1_10.0.0.2");
  EXPECT_EQ(nodes[0].getNode()->getClient()->getClientName(), "node1");
  std::vector<CassandraKeyspace> keyspaces = nodes[0].getKeyspaces();
  ASSERT_EQ(keyspaces.size(), 2u);
  EXPECT_EQ(keyspaces[0].getKeyspaceName(), "shop");
  ASSERT_EQ(keyspaces[0].getTables().size(), 2u);
  EXPECT_EQ(keyspaces[0].getTables()[0].getTableName(), "orders");
  EXPECT_EQ(keyspaces[0].getTables()[0].getTableId(), "5bc52802de2535edaeab188eecebb090");
  EXPECT_EQ(keyspaces[0].getTables()[1].getTableName(), "items");
  EXPECT_EQ(keyspaces[1].getKeyspaceName(), "empty");
  EXPECT_TRUE(keyspaces[1].getTables().empty());
  EXPECT_TRUE(keyspaces[1].isSet(2)) << "an empty table list stays present";
  EXPECT_TRUE(nodes[1].getKeyspaces().empty());
  EXPECT_TRUE(nodes[1].isSet(2));
  EXPECT_EQ(*request, DataJobRequest());
}

// The restore side reuses the record: no cluster name, one node entry
// without a node.
TEST(BackupRecords, TableMetadataFormReadsBack) {
  CassandraNodeKeyspace all;
  all.setKeyspaces({Keyspace("system", {Table("local", "7ad54392bcdd35a684174e047860b377")})});
  CassandraCreateCollectFiles metadata;
  metadata.setNodeKeyspaces({all});
  metadata.setOptions({DINameValue("cqlhost", ""), DINameValue("cqlport", "0")});
  CassandraCreateCollectFiles read = ExpectLayout(metadata, {{4, 7, L}, {5, 8, L}});
  EXPECT_FALSE(read.isSet(3));
  ASSERT_EQ(read.getNodeKeyspaces().size(), 1u);
  EXPECT_FALSE(read.getNodeKeyspaces()[0].getNode().has_value());
  EXPECT_EQ(read.getOptions()[0].getValue(), "");
}

}  // namespace
