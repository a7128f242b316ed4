// The central server's stored procedures through App_ExecuteSP, with request
// and reply as XML text, and the failure switches.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "platform/app/App_ExecuteSP.h"
#include "platform/app/CentralServerProcedures.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "tests/platform/EntitiesFixture.h"

namespace {

constexpr uint32_t kClientsForIPs = 0x1E122479;
constexpr uint32_t kClusterInstance = 0x1E4FDD52;

std::string ClientsRequest(const std::vector<std::string>& addresses) {
  App::GetClientsForIPAddressRequest request;
  request.setIpAddresses(addresses);
  std::string xml;
  EXPECT_EQ(request.serialize(xml), 0);
  return xml;
}

std::string InstanceRequest(int64_t instanceId, int64_t operation,
                            const App::DistributedClusterConfig* config = nullptr,
                            int64_t clusterType = 9) {
  TqEntities::InstanceEntity entity;
  entity.setInstanceId(instanceId);
  App::ClusterInstanceInfo info;
  info.setInstance(entity);
  info.setOperation(operation);
  info.setClusterType(clusterType);
  if (config) info.setClusterConfig(*config);
  App::DistributedClusterInstanceReq request;
  request.setInstanceInfo(info);
  std::string xml;
  EXPECT_EQ(request.serialize(xml), 0);
  return xml;
}

// The Cassandra configuration of a successful get.
App::CassandraConfig Get(int64_t instanceId) {
  App_ExecuteSP executor;
  std::string reply;
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, InstanceRequest(instanceId, 1), reply,
                                            nullptr),
            0)
      << executor.getErrorString();
  App::DistributedClusterInstanceResp response;
  EXPECT_EQ(response.unserialize(reply), 0) << reply;
  auto info = response.getInstanceInfo();
  if (!info || !info->getClusterConfig() || !info->getClusterConfig()->getCassandraConfig()) {
    ADD_FAILURE() << "no Cassandra configuration in " << reply;
    return App::CassandraConfig();
  }
  EXPECT_EQ(info->getOperation(), 1);
  EXPECT_EQ(info->getClusterType(), 9);
  EXPECT_EQ(info->getInstance()->getInstanceId(), instanceId);
  return *info->getClusterConfig()->getCassandraConfig();
}

struct ClientAnswer {
  int64_t id;
  std::string name;
  std::string hostName;
  bool operator==(const ClientAnswer& o) const {
    return id == o.id && name == o.name && hostName == o.hostName;
  }
};
std::ostream& operator<<(std::ostream& out, const ClientAnswer& a) {
  return out << a.id << "/" << a.name << "/" << a.hostName;
}

}  // namespace

using ProceduresTest = EntitiesTest;

TEST_F(ProceduresTest, ClientsForAddressesAnswerEachOwnedAddressInRequestOrder) {
  Client("node1", {"10.0.0.1"}, 11);
  Client("docker1", {"172.17.0.2", "172.17.0.3"}, 12);
  Client("named", {}, 13);  // owns its host name "named.sim"

  struct Case {
    const char* name;
    std::vector<std::string> addresses;
    std::vector<ClientAnswer> expected;
  };
  const std::vector<Case> cases = {
      {"one address", {"10.0.0.1"}, {{11, "node1", "10.0.0.1"}}},
      {"several addresses on one client",
       {"172.17.0.3", "10.0.0.1", "172.17.0.2"},
       {{12, "docker1", "172.17.0.3"}, {11, "node1", "10.0.0.1"}, {12, "docker1", "172.17.0.2"}}},
      {"unknown addresses are left out",
       {"10.9.9.9", "10.0.0.1", "", "10.0.0.2"},
       {{11, "node1", "10.0.0.1"}}},
      {"an address asked twice",
       {"10.0.0.1", "10.0.0.1"},
       {{11, "node1", "10.0.0.1"}, {11, "node1", "10.0.0.1"}}},
      {"a host name", {"named.sim"}, {{13, "named", "named.sim"}}},
      {"no address", {}, {}},
  };
  for (const Case& c : cases) {
    App_ExecuteSP executor;
    std::string reply;
    ASSERT_EQ(executor.executeStoredProcedure(kClientsForIPs, ClientsRequest(c.addresses), reply,
                                              nullptr),
              0)
        << c.name << ": " << executor.getErrorString();
    App::GetClientsForIPAddressResponse response;
    ASSERT_EQ(response.unserialize(reply), 0) << c.name;
    EXPECT_TRUE(response.isSet(1)) << c.name;
    std::vector<ClientAnswer> answers;
    for (const auto& entity : response.getClients()) {
      answers.push_back({entity.getClientId(), entity.getClientName(), entity.getHostName()});
    }
    EXPECT_EQ(answers, c.expected) << c.name;
  }
}

TEST_F(ProceduresTest, BadRequestsAndUnknownProceduresFailWithAText) {
  RegisterInstance(ThreeNodeInstance());
  struct Case {
    const char* name;
    uint32_t procedure;
    std::string request;
    int expected;
  };
  const std::vector<Case> cases = {
      {"unknown procedure", 0x1E000001, ClientsRequest({"10.0.0.1"}),
       CCentralServerProcedures::kUnknownProcedure},
      {"not XML", kClientsForIPs, "<oops", CCentralServerProcedures::kBadRequest},
      {"request of the other procedure", kClientsForIPs, InstanceRequest(7, 1),
       CCentralServerProcedures::kBadRequest},
      {"clients request to the instance procedure", kClusterInstance, ClientsRequest({"10.0.0.1"}),
       CCentralServerProcedures::kBadRequest},
      {"no instance record", kClusterInstance,
       [] {
         App::DistributedClusterInstanceReq r;
         std::string xml;
         r.serialize(xml);
         return xml;
       }(),
       CCentralServerProcedures::kBadRequest},
      {"other cluster type", kClusterInstance, InstanceRequest(7, 1, nullptr, 4),
       CCentralServerProcedures::kBadRequest},
      {"unknown operation", kClusterInstance, InstanceRequest(7, 3),
       CCentralServerProcedures::kBadRequest},
      {"unknown instance", kClusterInstance, InstanceRequest(8, 1),
       CCentralServerProcedures::kNotFound},
      {"instance id 0", kClusterInstance, InstanceRequest(0, 1),
       CCentralServerProcedures::kNotFound},
  };
  for (const Case& c : cases) {
    App_ExecuteSP executor;
    std::string reply = "untouched";
    EXPECT_EQ(executor.executeStoredProcedure(c.procedure, c.request, reply, nullptr), c.expected)
        << c.name;
    EXPECT_EQ(reply, "untouched") << c.name;
    EXPECT_FALSE(executor.getErrorString().empty()) << c.name;
  }
}

TEST_F(ProceduresTest, InstanceGetAnswersTheGatewayNodeListAndSettings) {
  SInstanceSettings settings = ThreeNodeInstance();
  settings.jmx = SJmxSettings{"10.0.0.1", 7199, "", "", ""};
  settings.ssl = SSslSettings{false, "", "", "", ""};
  RegisterInstance(settings);

  App::CassandraConfig config = Get(7);
  EXPECT_EQ(config.getClusterName(), "Test Cluster");
  ASSERT_TRUE(config.hasConfigFilePath());
  EXPECT_EQ(config.getConfigFilePath(), "/etc/cassandra/cassandra.yaml");

  auto gateway = config.getGatewayNode();
  ASSERT_TRUE(gateway);
  ASSERT_TRUE(gateway->getNode());
  EXPECT_EQ(gateway->getNode()->getAddress(), "10.0.0.1");
  EXPECT_EQ(gateway->getNode()->getJavaHome(), "/usr/lib/jvm/java-11");
  ASSERT_TRUE(gateway->getNode()->getJmx());
  EXPECT_EQ(gateway->getNode()->getJmx()->getJmxPort(), 7199);
  ASSERT_TRUE(gateway->getNode()->getAuth());
  ASSERT_TRUE(gateway->getCqlCredentials());
  EXPECT_EQ(gateway->getCqlCredentials()->getUserName(), "cassandra");
  SInstanceRecord record;
  ASSERT_FALSE(CSuiteStore::Default().LoadInstance(7, record).IsError());
  EXPECT_EQ(gateway->getCqlCredentials()->getPassword().getPlainPassword(), record.gatewayPassword);

  std::vector<App::CassandraNode> nodes = config.getNodes();
  ASSERT_EQ(nodes.size(), 3u);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(nodes[i].getAddress(), "10.0.0." + n);
    EXPECT_EQ(nodes[i].getDataCenter(), "dc1");
    EXPECT_EQ(nodes[i].getConfigDirectory(), home_.Sub("cluster/node" + n + "/conf"));
    EXPECT_EQ(nodes[i].getDataDirectories(), home_.Sub("cluster/node" + n + "/data"));
    EXPECT_FALSE(nodes[i].hasJavaHome());
    ASSERT_TRUE(nodes[i].getClient());
    EXPECT_EQ(nodes[i].getClient()->getClientName(), "node" + n);
    EXPECT_EQ(nodes[i].getClientName(), "node" + n);
  }
  EXPECT_EQ(nodes[0].getClient()->getClientId(), static_cast<int64_t>(node1_));
}

TEST_F(ProceduresTest, InstanceGetLeavesOutWhatTheInstanceDoesNotName) {
  Client("cluster1", {}, 100);
  SInstanceSettings settings;
  settings.id = 9;
  settings.clientId = 100;
  settings.gatewayHost = "10.0.0.1";
  RegisterInstance(settings);

  App::CassandraConfig config = Get(9);
  EXPECT_FALSE(config.hasConfigFilePath());
  EXPECT_FALSE(config.isSet(4));
  EXPECT_TRUE(config.isSet(2));  // the node list is present, though empty
  EXPECT_TRUE(config.getNodes().empty());
  ASSERT_TRUE(config.getGatewayNode());
  EXPECT_FALSE(config.getGatewayNode()->getCqlCredentials());
  EXPECT_FALSE(config.getGatewayNode()->getNode()->getJmx());
  EXPECT_FALSE(config.getGatewayNode()->getNode()->hasJavaHome());
}

TEST_F(ProceduresTest, InstanceSetStoresTheNodeListThatTheNextGetAnswers) {
  RegisterInstance(ThreeNodeInstance());

  // As a backup does: get, rewrite the node list in the received record, set.
  App_ExecuteSP executor;
  std::string reply;
  ASSERT_EQ(executor.executeStoredProcedure(kClusterInstance, InstanceRequest(7, 1), reply), 0);
  App::DistributedClusterInstanceResp response;
  ASSERT_EQ(response.unserialize(reply), 0);
  App::ClusterInstanceInfo info = *response.getInstanceInfo();
  App::DistributedClusterConfig cluster = *info.getClusterConfig();
  App::CassandraConfig cassandra = *cluster.getCassandraConfig();
  std::vector<App::CassandraNode> nodes = cassandra.getNodes();
  nodes.erase(nodes.begin() + 1);
  App::CassandraNode added;
  added.setAddress("10.0.0.4");
  added.setDataCenter("dc2");
  added.setRack("r1");
  added.setTokens("-9223372036854775808");
  added.setHostId("5f0b");
  added.setState(2);
  added.setDown(1);
  added.setAgentInstanceName("node4_10.0.0.4");
  nodes.push_back(added);
  nodes[0].setRack("rack9");
  cassandra.setNodes(nodes);
  cassandra.setClusterName("ignored by the set");
  cluster.setCassandraConfig(cassandra);
  info.setClusterConfig(cluster);
  info.setOperation(2);
  App::DistributedClusterInstanceReq request;
  request.setInstanceInfo(info);
  std::string requestXml;
  ASSERT_EQ(request.serialize(requestXml), 0);
  std::string setReply;
  ASSERT_EQ(executor.executeStoredProcedure(kClusterInstance, requestXml, setReply, nullptr), 0)
      << executor.getErrorString();
  App::DistributedClusterInstanceResp setResponse;
  EXPECT_EQ(setResponse.unserialize(setReply), 0);

  App::CassandraConfig after = Get(7);
  std::vector<App::CassandraNode> stored = after.getNodes();
  ASSERT_EQ(stored.size(), nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    EXPECT_TRUE(stored[i] == nodes[i]) << i;
  }
  EXPECT_EQ(after.getClusterName(), "Test Cluster");

  // An empty node list is a list too: it clears the stored one.
  cassandra.setNodes({});
  cluster.setCassandraConfig(cassandra);
  info.setClusterConfig(cluster);
  request.setInstanceInfo(info);
  ASSERT_EQ(request.serialize(requestXml), 0);
  ASSERT_EQ(executor.executeStoredProcedure(kClusterInstance, requestXml, setReply), 0);
  EXPECT_TRUE(Get(7).getNodes().empty());
}

TEST_F(ProceduresTest, ASetWithoutANodeListIsRefusedAndKeepsTheStoredList) {
  RegisterInstance(ThreeNodeInstance());
  App::CassandraConfig withoutNodes;
  withoutNodes.setClusterName("x");
  App::DistributedClusterConfig cluster;
  cluster.setCassandraConfig(withoutNodes);
  App::CassandraConfig foreign;
  foreign.setNodes({});
  App::DistributedClusterConfig foreignCluster;
  foreignCluster.setCassandraConfig(foreign);
  // A node list holding a record of another class.
  App::CassandraConfig wrongElement;
  {
    std::vector<CNMessageBase> list{App::CassandraContent()};
    wrongElement.setlistobject(2, 2, list);
  }
  App::DistributedClusterConfig wrongCluster;
  wrongCluster.setCassandraConfig(wrongElement);

  struct Case {
    const char* name;
    std::string request;
  };
  const std::vector<Case> cases = {
      {"no cluster configuration", InstanceRequest(7, 2)},
      {"no node list", InstanceRequest(7, 2, &cluster)},
      {"an element that is not a node", InstanceRequest(7, 2, &wrongCluster)},
  };
  for (const Case& c : cases) {
    App_ExecuteSP executor;
    std::string reply;
    EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, c.request, reply),
              CCentralServerProcedures::kBadRequest)
        << c.name;
    EXPECT_EQ(Get(7).getNodes().size(), 3u) << c.name;
  }
  // A set for an unknown instance changes nothing either.
  App_ExecuteSP executor;
  std::string reply;
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance,
                                            InstanceRequest(8, 2, &foreignCluster), reply),
            CCentralServerProcedures::kNotFound);
}

TEST_F(ProceduresTest, AStoredNodeThatDoesNotParseFailsTheGet) {
  RegisterInstance(ThreeNodeInstance());
  ASSERT_FALSE(CSuiteStore::Default()
                   .UpdateInstance(7, [](SInstanceRecord& r) { r.nodeXmls[1] = "<broken"; })
                   .IsError());
  App_ExecuteSP executor;
  std::string reply = "untouched";
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, InstanceRequest(7, 1), reply),
            CCentralServerProcedures::kRecordsUnavailable);
  EXPECT_EQ(reply, "untouched");
  EXPECT_NE(executor.getErrorString().find("Stored node 1"), std::string::npos);
}

TEST_F(ProceduresTest, TheFailureSwitches) {
  RegisterInstance(ThreeNodeInstance());
  const std::string get = InstanceRequest(7, 1);
  const std::string clients = ClientsRequest({"10.0.0.1"});
  App_ExecuteSP executor;
  std::string reply;

  // The next call of any procedure fails once.
  App_ExecuteSP::FailNextCall(17, "server down");
  reply = "untouched";
  EXPECT_EQ(executor.executeStoredProcedure(kClientsForIPs, clients, reply), 17);
  EXPECT_EQ(reply, "untouched");
  EXPECT_EQ(executor.getErrorString(), "server down");
  EXPECT_EQ(executor.executeStoredProcedure(kClientsForIPs, clients, reply), 0);
  EXPECT_EQ(executor.getErrorString(), "");

  // One procedure fails after its first call (the get passes, the set fails),
  // the other procedure is not affected, until the switches are cleared.
  App_ExecuteSP::FailProcedure(kClusterInstance, 5, "set refused", 1);
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, get, reply), 0);
  EXPECT_EQ(executor.executeStoredProcedure(kClientsForIPs, clients, reply), 0);
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, get, reply), 5);
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, get, reply), 5);
  EXPECT_EQ(executor.getErrorString(), "set refused");

  // A failing result of 0 still fails.
  App_ExecuteSP::FailNextCall(0, "zero");
  EXPECT_NE(executor.executeStoredProcedure(kClientsForIPs, clients, reply), 0);

  // A scripted reply.
  App_ExecuteSP::ReplyProcedure(kClusterInstance, "<not-a-record/>");
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, get, reply), 0);
  EXPECT_EQ(reply, "<not-a-record/>");

  App_ExecuteSP::ClearFailures();
  EXPECT_EQ(executor.executeStoredProcedure(kClusterInstance, get, reply), 0);
  App::DistributedClusterInstanceResp response;
  EXPECT_EQ(response.unserialize(reply), 0);

  // Every call is in the log with its request and result.
  std::vector<App_ExecuteSP::SCall> calls = App_ExecuteSP::Calls();
  ASSERT_EQ(calls.size(), 9u);
  EXPECT_EQ(calls[0].procedureId, kClientsForIPs);
  EXPECT_EQ(calls[0].requestXml, clients);
  EXPECT_EQ(calls[0].result, 17);
  EXPECT_EQ(calls[5].procedureId, kClusterInstance);
  EXPECT_EQ(calls[5].result, 5);
  App_ExecuteSP::ClearCalls();
  EXPECT_TRUE(App_ExecuteSP::Calls().empty());
}
