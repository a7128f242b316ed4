// The restore coordinator's node map: the options it reads, the map from
// source to target nodes and the nodes it registers, by name.

#include <gtest/gtest.h>

#include "RestoreCoordinatorFixture.h"
#include "platform/base/FXErrorUtil.h"

namespace restoretest {
namespace {

TqEntities::ClientEntity ClientOf(int64_t id, const std::string& name) {
  TqEntities::ClientEntity client;
  client.setClientId(id);
  client.setClientName(name);
  return client;
}

App::CassandraClientMap MapEntry(int64_t sourceId, const std::string& source, int64_t targetId,
                                 const std::string& target) {
  App::CassandraClientMap entry;
  entry.setSource(ClientOf(sourceId, source));
  entry.setTarget(ClientOf(targetId, target));
  return entry;
}

App::CassandraDockerClientMap DockerEntry(int64_t sourceId, const std::string& source,
                                          const std::string& sourceContainer, int64_t targetId,
                                          const std::string& target) {
  App::CassandraClientMapEntity s, t;
  s.setClient(ClientOf(sourceId, source));
  if (!sourceContainer.empty()) s.setContainerName(sourceContainer);
  t.setClient(ClientOf(targetId, target));
  App::CassandraDockerClientMap entry;
  entry.setSource(s);
  entry.setTarget(t);
  return entry;
}

// The names of a node map: "source>target" per entry.
std::vector<std::string> Pairs(const std::vector<App::CassandraDockerClientMap>& map) {
  std::vector<std::string> out;
  for (const auto& entry : map) {
    out.push_back(entry.getSource()->getClient()->getClientName() + ">" +
                  entry.getTarget()->getClient()->getClientName());
  }
  return out;
}

class NodeMapTest : public RestoreCoordinatorTest {
 protected:
  static constexpr int64_t kJobId = 47;

  // A coordinator of job kJobId whose job carries these Cassandra restore
  // options.
  RestoresProbe& CoordinatorFor(const App::CassandraRestoreOptions& options,
                                int64_t subclientId = -1) {
    StoreJobOptions(kJobId, options, subclientId);
    RestoresProbe& c = NewCoordinator();
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(c.getClientConfigObject(config).IsError());
    c.restoreClientConfig->setJobId(kJobId);
    c.restoreClientConfig->setOmbrelId(2);
    return c;
  }
};

TEST_F(NodeMapTest, OptionMapsDecideTheEntriesAndTheNodes) {
  for (const char* name : {"t1", "t2", "s1", "s2", "s3"}) Client(name);
  struct Case {
    const char* name;
    bool crossInstance;
    std::vector<App::CassandraClientMap> nodeMap;
    std::vector<App::CassandraDockerClientMap> dockerMap;
    std::vector<std::string> pairs;
    std::vector<std::string> nodes;
  } cases[] = {
      {"no map", true, {}, {}, {}, {}},
      {"node map across instances",
       true,
       {MapEntry(11, "s1", 21, "t1"), MapEntry(12, "s2", 22, "t2")},
       {},
       {"s1>t1", "s2>t2"},
       {"t1", "t2"}},
      {"target id 0 makes the source the node",
       true,
       {MapEntry(11, "s1", 0, "t1"), MapEntry(12, "s2", 22, "t2")},
       {},
       {"s1>t1", "s2>t2"},
       {"s1", "t2"}},
      {"within the instance the source is the node",
       false,
       {MapEntry(11, "s1", 21, "t1")},
       {},
       {"s1>t1"},
       {"s1"}},
      {"two entries with one target give one node",
       true,
       {MapEntry(11, "s1", 21, "t1"), MapEntry(12, "s2", 21, "t1")},
       {},
       {"s1>t1", "s2>t1"},
       {"t1"}},
      {"the docker node map wins",
       true,
       {MapEntry(11, "s1", 21, "t1")},
       {DockerEntry(13, "s3", "cass-3", 22, "t2")},
       {"s3>t2"},
       {"t2"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    App::CassandraRestoreOptions options;
    options.setCrossInstance(k.crossInstance ? 1 : 0);
    if (!k.nodeMap.empty()) options.setNodeMap(k.nodeMap);
    if (!k.dockerMap.empty()) options.setDockerNodeMap(k.dockerMap);
    RestoresProbe& c = CoordinatorFor(options);
    CLogCapture log;
    CQiError e = c.loadNodeConfiguration();
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(c.crossInstance, k.crossInstance);
    EXPECT_TRUE(c.restoreTask);
    EXPECT_EQ(Pairs(c.nodeMap), k.pairs);
    EXPECT_EQ(RegisteredNames(), k.nodes);
    EXPECT_EQ(c.getNodeMapFlag(), !k.pairs.empty());
    if (!k.pairs.empty()) {
      EXPECT_TRUE(log.Contains("added [" + std::to_string(k.nodes.size()) + "] access nodes for [" +
                               std::to_string(k.pairs.size()) + "] client maps"));
    }
  }
}

TEST_F(NodeMapTest, DockerEntriesKeepTheirContainerNames) {
  Client("t1");
  App::CassandraRestoreOptions options;
  options.setCrossInstance(1);
  options.setDockerNodeMap({DockerEntry(13, "s3", "cass-3", 0, "t1")});
  RestoresProbe& c = CoordinatorFor(options);
  Client("s3");
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  ASSERT_EQ(c.nodeMap.size(), 1u);
  EXPECT_EQ(c.nodeMap[0].getSource()->getContainerName(), "cass-3");
  EXPECT_EQ(RegisteredNames(), std::vector<std::string>{"s3"});
  EXPECT_EQ(c.sourceClientNames, std::set<std::string>{"s3"});
}

TEST_F(NodeMapTest, ASecondCallRegistersNothingMoreAndKeepsARestoreTask) {
  for (const char* name : {"t1", "t2"}) Client(name);
  App::CassandraRestoreOptions options;
  options.setCrossInstance(1);
  options.setNodeMap({MapEntry(11, "s1", 21, "t1")});
  RestoresProbe& c = CoordinatorFor(options);
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  boost::shared_ptr<EvRstTask> first = c.restoreTask;
  ASSERT_TRUE(first);

  // The options now name another target; the job has nodes, so nothing moves.
  options.setNodeMap({MapEntry(12, "s2", 22, "t2")});
  StoreJobOptions(kJobId, options);
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  EXPECT_EQ(RegisteredNames(), std::vector<std::string>{"t1"});
  EXPECT_EQ(Pairs(c.nodeMap), std::vector<std::string>{"s1>t1"});
  EXPECT_EQ(c.restoreTask, first);

  // A rerun of a phase whose nodes exist (the record is gone): a restore task
  // record is made again, so that initialize can read it.
  c.restoreTask.reset();
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  ASSERT_TRUE(c.restoreTask);
  EXPECT_EQ(RegisteredNames(), std::vector<std::string>{"t1"});
}

TEST_F(NodeMapTest, JobOptionsThatCannotBeReadFail) {
  struct Case {
    const char* name;
    std::string xml;
    bool store;
    std::string message;
  } cases[] = {
      {"no options", "", false, "Failed to get the xml options"},
      {"not a record", "<not-xml", true, "Failed to unserialize restore job options [<not-xml]"},
      {"no restore options", JobOptionXml(false, false), true, "Failed to get restore Options"},
      {"no distributed options", JobOptionXml(true, false), true,
       "Failed to get distributedAppsRestoreOptions"},
  };
  int64_t jobId = 100;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    ++jobId;
    if (k.store) StoreJobOptionsXml(jobId, k.xml);
    RestoresProbe& c = NewCoordinator();
    DistributedQEL::CClientConfigPtr config;
    ASSERT_FALSE(c.getClientConfigObject(config).IsError());
    c.restoreClientConfig->setJobId(jobId);
    CQiError e = c.loadNodeConfiguration();
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627)) << e.AsString();
    EXPECT_EQ(e.GetMessage(), k.message);
    EXPECT_TRUE(RegisteredNames().empty());
  }
}

// ---- subclient-level restores: the map from the cluster node lists ----

class SubclientNodeMapTest : public NodeMapTest {
 protected:
  // Nodes of a configuration: client name and data centre.
  static std::vector<App::CassandraNode> Nodes(
      const std::vector<std::pair<std::string, std::string>>& list, int64_t firstId) {
    std::vector<App::CassandraNode> nodes;
    for (const auto& n : list) {
      App::CassandraNode node;
      node.setClient(ClientOf(firstId++, n.first));
      node.setDataCenter(n.second);
      nodes.push_back(node);
    }
    return nodes;
  }

  // A coordinator as a second loadNodeConfiguration finds it after
  // initialize: subclient restore set and both node lists loaded.
  RestoresProbe& SubclientCoordinator(bool crossInstance, int64_t subclientId) {
    App::CassandraRestoreOptions options;
    options.setCrossInstance(crossInstance ? 1 : 0);
    options.setSubclientRestore(1);
    RestoresProbe& c = CoordinatorFor(options, subclientId);
    c.subclientRestore = true;
    c.destConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    c.sourceConfig = crossInstance
                         ? boost::shared_ptr<TQCassandra::CassandraCoordinatorClientConfig>(
                               new TQCassandra::CassandraCoordinatorClientConfig())
                         : c.destConfig;
    return c;
  }
};

TEST_F(SubclientNodeMapTest, FiveSourcesOverTwoTargetsRoundRobin) {
  for (const char* name : {"d1", "d2"}) Client(name);
  RestoresProbe& c = SubclientCoordinator(true, -1);
  c.sourceConfig->clusterNodes =
      Nodes({{"s1", "dc1"}, {"s2", "dc1"}, {"s3", "dc1"}, {"s4", "dc2"}, {"s5", "dc2"}}, 101);
  c.destConfig->clusterNodes = Nodes({{"d1", "dc1"}, {"d2", "dc1"}}, 201);
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  EXPECT_EQ(Pairs(c.nodeMap),
            (std::vector<std::string>{"s1>d1", "s2>d2", "s3>d1", "s4>d2", "s5>d1"}));
  EXPECT_EQ(RegisteredNames(), (std::vector<std::string>{"d1", "d2"}));
  EXPECT_EQ(c.sourceClientNames, (std::set<std::string>{"s1", "s2", "s3", "s4", "s5"}));
}

TEST_F(SubclientNodeMapTest, AnEmptyDestinationListIsAClearError) {
  RestoresProbe& c = SubclientCoordinator(true, -1);
  c.sourceConfig->clusterNodes = Nodes({{"s1", "dc1"}}, 101);
  CQiError e = c.loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());
  EXPECT_NE(e.GetMessage().find("The destination instance lists no node"), std::string::npos)
      << e.AsString();
  EXPECT_TRUE(RegisteredNames().empty());
}

TEST_F(SubclientNodeMapTest, DataCentreFilterOfANonDefaultSubclient) {
  for (const char* name : {"n1", "n2", "n3"}) Client(name);
  const uint64_t instance = Instance(InstanceSettings("inst", {}));
  SContentRow row;
  row.clusterName = "c";
  row.keyspaceName = "ks";
  row.dataCenter = "dc2";
  struct Case {
    const char* name;
    int64_t subclient;
    std::vector<std::string> pairs;
  } cases[] = {
      {"non-default subclient of dc2",
       static_cast<int64_t>(Subclient(instance, {row}, false)),
       {"n2>n2"}},
      {"default subclient",
       static_cast<int64_t>(Subclient(instance, {}, true)),
       {"n1>n1", "n2>n2", "n3>n3"}},
      {"no subclient", -1, {"n1>n1", "n2>n2", "n3>n3"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    RestoresProbe& c = SubclientCoordinator(false, k.subclient);
    c.destConfig->clusterNodes = Nodes({{"n1", "dc1"}, {"n2", "dc2"}, {"n3", "dc1"}}, 301);
    CLogCapture log;
    ASSERT_FALSE(c.loadNodeConfiguration().IsError());
    EXPECT_EQ(Pairs(c.nodeMap), k.pairs);
    EXPECT_EQ(RegisteredNames().size(), k.pairs.size());
    // Every node is logged, also one the filter drops.
    EXPECT_TRUE(log.Contains("subclient restore: " + std::string(k.pairs.size() == 1 ? "1" : "0") +
                             " Node n1"));
  }
}

TEST_F(SubclientNodeMapTest, AnUnknownSubclientFailsTheDefaultCheck) {
  RestoresProbe& c = SubclientCoordinator(false, 123456);
  c.destConfig->clusterNodes = Nodes({{"n1", "dc1"}}, 301);
  CQiError e = c.loadNodeConfiguration();
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 1627)) << e.AsString();
  EXPECT_EQ(e.GetMessage(), "Failed to check if the restore is from default subclient");
}

TEST_F(SubclientNodeMapTest, ContainerNodesCarryTheirAgentInstanceName) {
  Client("host1");
  RestoresProbe& c = SubclientCoordinator(false, -1);
  std::vector<App::CassandraNode> nodes = Nodes({{"host1", "dc1"}, {"host1", "dc1"}}, 401);
  nodes[0].setAgentInstanceName("host1_10.0.0.1");
  nodes[1].setAgentInstanceName("host1_10.0.0.2");
  c.destConfig->clusterNodes = nodes;
  ASSERT_FALSE(c.loadNodeConfiguration().IsError());
  ASSERT_EQ(c.nodeMap.size(), 2u);
  EXPECT_EQ(c.nodeMap[1].getSource()->getContainerName(), "host1_10.0.0.2");
  EXPECT_EQ(c.nodeMap[1].getTarget()->getContainerName(), "host1_10.0.0.2");
  EXPECT_EQ(RegisteredNames(), std::vector<std::string>{"host1"});
}

}  // namespace
}  // namespace restoretest
