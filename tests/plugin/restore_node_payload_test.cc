// The restore coordinator's node start payload: its entries in order, the
// source-to-target mappings of each node, the destination's tables with the
// connection properties, the native sstableloader rule and the stage-free
// share parameters.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraRestoreClientConfig.h"
#include "common/RestoreRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/PlatformInfo.h"
#include "restore/CassandraRestoresCoordinator.h"
#include "support/SimTestSupport.h"

namespace {

namespace fs = std::filesystem;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class Probe : public TQCassandra::CCassandraRestores {
 public:
  Probe() : TQDC_FileSystem::CRestore(false), CCassandraRestores(false) {}
  using CCassandraRestores::authConfigXml;
  using CCassandraRestores::cassandraVersion;
  using CCassandraRestores::crossInstance;
  using CCassandraRestores::destConfig;
  using CCassandraRestores::keyspaceSchemas;
  using CCassandraRestores::mediaAgentHostName;
  using CCassandraRestores::nodeMap;
  using CCassandraRestores::priamAdditionalParameters;
  using CCassandraRestores::priamUtil;
  using CCassandraRestores::recover;
  using CCassandraRestores::restoreClientConfig;
  using CCassandraRestores::sourceConfig;
  using CCassandraRestores::stageFreeRestore;
  using CCassandraRestores::useSSTableLoader;
  using CCassandraRestores::zelkShareName;
};

App::CassandraNode Node(const std::string& client, int64_t id, const std::string& tokens,
                        const std::string& agentInstance = "", const std::string& dc = "dc1") {
  App::CassandraNode node;
  TqEntities::ClientEntity entity;
  entity.setClientId(id);
  entity.setClientName(client);
  node.setClient(entity);
  node.setTokens(tokens);
  node.setDataCenter(dc);
  if (!agentInstance.empty()) node.setAgentInstanceName(agentInstance);
  return node;
}

App::CassandraDockerClientMap Entry(const std::string& source, int64_t sourceId,
                                    const std::string& target, int64_t targetId,
                                    const std::string& sourceContainer = "") {
  App::CassandraClientMapEntity s, t;
  TqEntities::ClientEntity sc, tc;
  sc.setClientId(sourceId);
  sc.setClientName(source);
  tc.setClientId(targetId);
  tc.setClientName(target);
  s.setClient(sc);
  if (!sourceContainer.empty()) s.setContainerName(sourceContainer);
  t.setClient(tc);
  App::CassandraDockerClientMap entry;
  entry.setSource(s);
  entry.setTarget(t);
  return entry;
}

const char* const kMeta =
    R"([{"KEYSPACE":"ks1","Tables":[{"COLUMNSPACE":"t1","ID":"aa-bb-cc"},7,)"
    R"({"COLUMNSPACE":"t2","ID":"dd"}]},"junk",{"KEYSPACE":"system","Tables":[]}])";

class NodePayload : public ::testing::Test {
 protected:
  void SetUp() override {
    SClientIdentity identity;
    identity.clientName = "coordinator1";
    identity.clientId = 2;
    identity.jobResultsDirectory = dir_.Sub("jr");
    context_.reset(new CClientContextScope(identity));
    priam_ = std::make_shared<TqCassandra::ScriptedPriam>();
    transport_.reset(new TqCassandra::ScopedPriamTransportFactory(priam_->Factory()));
    CEventJournal::Instance().Clear();
    probe_.reset(new Probe());
    probe_->restoreClientConfig.reset(new TQCassandra::CCassandraRestoreClientConfig());
    probe_->restoreClientConfig->setJobId(42);
    probe_->destConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    probe_->sourceConfig = probe_->destConfig;
    probe_->setStateFile("/jr/DistributedQELState_42.tqf");
    probe_->recover = true;
    probe_->cassandraVersion = "3.11.4";
    probe_->destConfig->clusterNodes = {Node("node1", 11, "t1"), Node("node2", 12, "t2")};
    probe_->nodeMap = {Entry("node1", 11, "node1", 11), Entry("node2", 12, "node2", 12)};
    priam_->SetReply("getMeta", kMeta);
    StartPriam("cassandra.yaml");
  }
  void TearDown() override {
    probe_.reset();
    transport_.reset();
    for (const char* name : kRegistry) CRegistry::Instance().Remove("Cassandra", name);
  }
  static constexpr const char* kRegistry[] = {
      "sCassSystemKeyFilePath",    "sCassKeystorePassword",       "sCassTrustStorePassword",
      "nCassIgnoreNodesInOtherDC", "sCassSStableLoaderPath",      "nCassandraCqlSslDisabled",
      "nCassandraJmxSslDisabled",  "nCassUseNativeSSTableloader", "nCassandraZelkTunnelingPort"};

  void StartPriam(const std::string& file) {
    const std::string conf = dir_.Sub("conf-" + file);
    fs::create_directories(conf);
    std::ofstream(conf + "/" + file) << "cluster_name: 'c'\n";
    fs::create_directories(dir_.Sub("work"));
    probe_->priamUtil.reset(new TqCassandra::PriamUtil(0, CQiString(""), dir_.Sub("base"),
                                                       dir_.Sub("work"), conf, true));
    ASSERT_FALSE(probe_->priamUtil->startPriam().IsError());
  }

  // The payload for the node of that client.
  CQiError Ask(const std::string& client, uint32_t id, Pairs& entries) {
    DistributedQEL::CNodeInfoPtr node(new DistributedQEL::CNodeInfo(client, id));
    FrameworkMessagePtr message;
    CQiError e = probe_->getNodeStartAcknowledgeMessage(node, message);
    entries.clear();
    if (e.IsError()) {
      EXPECT_FALSE(message);
      return e;
    }
    auto* init = dynamic_cast<DistributedQEL::NodeInit*>(message.get());
    EXPECT_NE(init, nullptr);
    if (init) {
      for (const auto& v : init->getValues()) entries.emplace_back(v.getName(), v.getValue());
    }
    return e;
  }
  static std::string Value(const Pairs& entries, const std::string& name) {
    for (const auto& e : entries) {
      if (e.first == name) return e.second;
    }
    return "<absent>";
  }
  static std::vector<std::string> Names(const Pairs& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.first);
    return names;
  }
  // "<source client>:<source tokens>><target client>:<target tokens>" per mapping.
  static std::vector<std::string> Mappings(const Pairs& entries) {
    DistributedQEL::CassandraSourceTargetMappingList list;
    EXPECT_EQ(list.unserialize(Value(entries, "SourceTargetMappingList")), 0);
    std::vector<std::string> out;
    for (const auto& m : list.getMappings()) {
      out.push_back(m.getSource()->getClient()->getClientName() + ":" + m.getSource()->getTokens() +
                    ">" + m.getTarget()->getClient()->getClientName() + ":" +
                    m.getTarget()->getTokens());
    }
    return out;
  }
  static Pairs Properties(const Pairs& entries) {
    DistributedQEL::CassandraCreateCollectFiles record;
    EXPECT_EQ(record.unserialize(Value(entries, "TableMetadata")), 0);
    Pairs out;
    for (const auto& v : record.getOptions()) out.emplace_back(v.getName(), v.getValue());
    return out;
  }

  simtest::TempDir dir_;
  std::unique_ptr<CClientContextScope> context_;
  std::shared_ptr<TqCassandra::ScriptedPriam> priam_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> transport_;
  std::unique_ptr<Probe> probe_;
};

TEST_F(NodePayload, EntriesInOrderWithTheDestinationsTables) {
  Pairs entries;
  ASSERT_FALSE(Ask("node1", 11, entries).IsError());
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"MasterNodeName", "DistributedQELStateFile",
                                                      "SourceTargetMappingList", "TableMetadata"}));
  EXPECT_EQ(Value(entries, "MasterNodeName"), "coordinator1");
  EXPECT_EQ(Value(entries, "DistributedQELStateFile"), "/jr/DistributedQELState_42.tqf");
  EXPECT_EQ(Mappings(entries), std::vector<std::string>{"node1:t1>node1:t1"});

  // Every keyspace of the reply once, in reply order; ids without dashes.
  for (int call = 0; call < 2; ++call) {
    ASSERT_FALSE(Ask("node2", 12, entries).IsError());
    DistributedQEL::CassandraCreateCollectFiles record;
    ASSERT_EQ(record.unserialize(Value(entries, "TableMetadata")), 0);
    EXPECT_TRUE(record.getClusterName().empty());
    ASSERT_EQ(record.getNodeKeyspaces().size(), 1u);
    EXPECT_FALSE(record.getNodeKeyspaces()[0].getNode());
    std::vector<std::string> seen;
    for (const auto& ks : record.getNodeKeyspaces()[0].getKeyspaces()) {
      seen.push_back(ks.getKeyspaceName());
      for (const auto& t : ks.getTables()) seen.push_back(t.getTableName() + "=" + t.getTableId());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"ks1", "t1=aabbcc", "t2=dd", "system"}));
  }
}

TEST_F(NodePayload, ConnectionPropertiesInOrderAndByTheirConditions) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> registry;
    bool loader;
    bool full;  // destination with credentials, JMX, options and SSL settings
    Pairs expected;
  };
  const Case cases[] = {
      {"everything",
       {{"sCassSystemKeyFilePath", "/k"},
        {"sCassKeystorePassword", "ksp!"},
        {"sCassTrustStorePassword", "tsp!"},
        {"nCassIgnoreNodesInOtherDC", "1"},
        {"sCassSStableLoaderPath", "/l"},
        {"nCassandraCqlSslDisabled", "1"},
        {"nCassandraJmxSslDisabled", "1"},
        {"nCassUseNativeSSTableloader", "1"}},
       true,
       true,
       {{"cqlusername", "cu"},
        {"cqlp", "Y3A="},
        {"jmxport", "7199"},
        {"jmxuser", "ju"},
        {"jmxtoken", "anQ="},
        {"addparam", " -Dx=1"},
        {"cqlhost", "10.1.1.1"},
        {"cqlport", "9042"},
        {"configEncrypted", "/k"},
        {"ksp", "ksp!"},
        {"tsp", "tsp!"},
        {"nativeSSTableLoader", "true"},
        {"ignoreOtherDC", "true"},
        {"sstableloaderpath", "/l"},
        {"authConfig", "<auth/>"},
        {"CQLsslDisabled", "true"},
        {"JMXsslDisabled", "true"}}},
      {"nothing set", {}, false, false, {{"cqlhost", ""}, {"cqlport", "0"}}},
      {"switches at 0, empty texts",
       {{"nCassandraCqlSslDisabled", "0"},
        {"nCassandraJmxSslDisabled", "0"},
        {"sCassKeystorePassword", ""},
        {"nCassIgnoreNodesInOtherDC", "0"},
        {"nCassUseNativeSSTableloader", "1"}},
       false,
       false,
       {{"cqlhost", ""}, {"cqlport", "0"}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    for (const char* name : kRegistry) CRegistry::Instance().Remove("Cassandra", name);
    for (const auto& r : k.registry) CRegistry::Instance().Set("Cassandra", r.first, r.second);
    probe_->useSSTableLoader = k.loader;
    auto& dest = *probe_->destConfig;
    dest.gatewayUser = k.full ? "cu" : "";
    dest.gatewayPassword = k.full ? "Y3A=" : "";
    dest.jmxPort = k.full ? 7199 : 0;
    dest.jmxUser = k.full ? "ju" : "";
    dest.jmxPassword = k.full ? "anQ=" : "";
    dest.gatewayHost = k.full ? "10.1.1.1" : "";
    dest.gatewayCqlPort = k.full ? 9042 : 0;
    probe_->priamAdditionalParameters = k.full ? " -Dx=1" : "";
    probe_->authConfigXml = k.full ? "<auth/>" : "";
    CLogCapture log;
    Pairs entries;
    ASSERT_FALSE(Ask("node1", 11, entries).IsError());
    EXPECT_EQ(Properties(entries), k.expected);
    const bool switchesAbsent = !k.registry.count("nCassandraCqlSslDisabled");
    EXPECT_EQ(log.Contains("Failed to check if SSL is disabled for CQL"), switchesAbsent);
    EXPECT_EQ(log.Contains("Failed to check if SSL is disabled for JMX"), switchesAbsent);
  }
}

TEST_F(NodePayload, MappingsOfEachNode) {
  struct Case {
    const char* name;
    bool crossInstance;
    std::vector<App::CassandraNode> sources, targets;
    std::vector<App::CassandraDockerClientMap> map;
    std::string node;
    uint32_t nodeId;
    std::vector<std::string> expected;  // empty: error 13
  };
  const Case cases[] = {
      {"target missing: the source is the target too",
       true,
       {Node("a", 1, "ta")},
       {Node("x", 10, "tx")},
       {Entry("a", 1, "y", 20)},
       "y",
       20,
       {"a:ta>a:ta"}},
      {"source missing: dropped",
       true,
       {Node("a", 1, "ta")},
       {Node("x", 10, "tx")},
       {Entry("b", 2, "x", 10)},
       "x",
       10,
       {}},
      {"container name, never the client id",
       true,
       {Node("a", 1, "by-id"), Node("a", 1, "in-c1", "c1"), Node("a", 1, "in-c2", "c2")},
       {Node("x", 10, "tx")},
       {Entry("a", 1, "x", 10, "c1")},
       "x",
       10,
       {"a:in-c1>x:tx"}},
      {"the last match wins",
       true,
       {Node("a", 1, "first"), Node("a", 1, "second")},
       {Node("x", 10, "tx")},
       {Entry("a", 1, "x", 10)},
       "x",
       10,
       {"a:second>x:tx"}},
      {"an unmapped node",
       false,
       {Node("a", 1, "ta")},
       {Node("a", 1, "ta")},
       {Entry("a", 1, "a", 1)},
       "other",
       99,
       {}},
      // Across instances an entry belongs to its target, so a node whose
      // client id equals another entry's source gets only its own.
      {"cross instance: only the node's own entries",
       true,
       {Node("a", 1, "ta"), Node("b", 10, "tb")},
       {Node("x", 10, "tx"), Node("y", 20, "ty")},
       {Entry("a", 1, "x", 10), Entry("b", 10, "y", 20)},
       "x",
       10,
       {"a:ta>x:tx"}},
      // In place the framework's node record may know no client id: the
      // node's name finds its entries.
      {"in place with a node map and no node id",
       false,
       {Node("a", 1, "ta"), Node("b", 2, "tb")},
       {Node("a", 1, "ta"), Node("b", 2, "tb")},
       {Entry("a", 1, "b", 2), Entry("b", 2, "a", 1)},
       "a",
       0,
       {"a:ta>b:tb"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    probe_->crossInstance = k.crossInstance;
    probe_->sourceConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
    probe_->sourceConfig->clusterNodes = k.sources;
    probe_->destConfig->clusterNodes = k.targets;
    probe_->nodeMap = k.map;
    Pairs entries;
    CQiError e = Ask(k.node, k.nodeId, entries);
    if (k.expected.empty()) {
      ASSERT_TRUE(e.IsError());
      EXPECT_TRUE(FXErrorUtil::IsErrNo(e, 13)) << e.AsString(2);
      EXPECT_NE(e.AsString(2).find("Failed to create access node map for cassandra"),
                std::string::npos);
    } else {
      ASSERT_FALSE(e.IsError()) << e.AsString(2);
      EXPECT_EQ(Mappings(entries), k.expected);
    }
  }
}

TEST_F(NodePayload, WithoutRecoverNoTableMetadataAndNoPriamRequest) {
  probe_->recover = false;
  probe_->stageFreeRestore = true;
  Pairs entries;
  ASSERT_FALSE(Ask("node1", 11, entries).IsError());
  EXPECT_EQ(Names(entries),
            (std::vector<std::string>{"MasterNodeName", "DistributedQELStateFile",
                                      "SourceTargetMappingList", "ZelkRestoreParameters"}));
  EXPECT_TRUE(priam_->AllRequests().empty());
}

TEST_F(NodePayload, AFailedSchemaRequestSendsNothing) {
  priam_->SetAccessDenied("getMeta");
  DistributedQEL::CNodeInfoPtr node(new DistributedQEL::CNodeInfo("node1", 11));
  FrameworkMessagePtr message(new DistributedQEL::NodeStop());
  CQiError e = probe_->getNodeStartAcknowledgeMessage(node, message);
  ASSERT_TRUE(e.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(e, 5));
  EXPECT_EQ(message->getClassId(), DistributedQEL::NodeStop::kClassId);
  EXPECT_TRUE(CEventJournal::Instance().Has(0x6000485));
}

TEST_F(NodePayload, NativeLoaderByVersionAndFlavour) {
  struct Case {
    const char* version;
    const char* file;
    bool native;
    bool noMatchLog;
  } cases[] = {
      {"4.0.1", "cassandra.yaml", true, false},
      {"10.1", "cassandra.yaml", true, false},
      {"3.11.4", "cassandra.yaml", false, false},
      {"4.0", "cassandra.yaml", true, false},
      {"3", "cassandra.yaml", false, true},
      // Four parts: only the fourth part's first character, as a character.
      {"1.2.3.6", "cassandra.yaml", true, false},
      {"1.2.3.9", "cassandra.yaml", true, false},
      {"9.9.9.5", "cassandra.yaml", false, false},
      {"1.2.3.10", "cassandra.yaml", false, false},
      {"1.2.3.59", "cassandra.yaml", false, false},
      {"1.2.3.60", "cassandra.yaml", true, false},
      {"1.2.3.a", "cassandra.yaml", true, false},
      {"1.2.3.0", "cassandra.yaml", false, false},
      {"1.2.3.", "cassandra.yaml", false, false},
      {"4", "cassandra.yaml", false, true},
      {"1.2.3.4.5", "cassandra.yaml", false, true},
      {"", "cassandra.yaml", false, true},
      {"1.0", "scylla.yaml", true, false},
      {"1.2.3.4.5", "scylla.yaml", true, false},
  };
  probe_->useSSTableLoader = true;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.version + std::string(" ") + k.file);
    StartPriam(k.file);
    priam_->SetReply("getMeta", kMeta);
    probe_->cassandraVersion = k.version;
    CLogCapture log;
    unsigned int native = 7;
    ASSERT_FALSE(probe_->checkCassVersionForNativeSSTableloader(native).IsError());
    EXPECT_EQ(native, k.native ? 1u : 0u);
    EXPECT_EQ(log.Contains("Not able to match any existing formats. Not using native "
                           "sstableloader"),
              k.noMatchLog);
    Pairs entries;
    ASSERT_FALSE(Ask("node1", 11, entries).IsError());
    const Pairs properties = Properties(entries);
    EXPECT_EQ(std::count(properties.begin(), properties.end(),
                         std::make_pair(std::string("nativeSSTableLoader"), std::string("true"))),
              k.native ? 1 : 0);
  }
  // Without the loader or a stage-free restore the rule is not asked.
  probe_->useSSTableLoader = false;
  CRegistry::Instance().Set("Cassandra", "nCassUseNativeSSTableloader", "1");
  Pairs entries;
  ASSERT_FALSE(Ask("node1", 11, entries).IsError());
  EXPECT_EQ(Value(Properties(entries), "nativeSSTableLoader"), "<absent>");
}

TEST_F(NodePayload, StageFreeShareParameters) {
  probe_->stageFreeRestore = true;
  probe_->zelkShareName = "share42";
  probe_->mediaAgentHostName = "ma.example";
  probe_->destConfig->clusterName = "Cluster1";
  probe_->destConfig->clusterNodes = {Node("node1", 11, "t1", "", "dcA"),
                                      Node("node2", 12, "t2", "", "dcB")};
  probe_->nodeMap = {Entry("node1", 11, "node1", 11), Entry("node2", 12, "node2", 12),
                     Entry("node1", 11, "node1", 11), Entry("ghost", 13, "node1", 11)};
  TQCassandra::cassandraCqlStatements ks;
  ks.tableExists = {{"t2", true}, {"t1", false}};
  probe_->keyspaceSchemas["ks1"] = ks;
  for (int64_t port : {0, 2049}) {
    SCOPED_TRACE(port);
    CRegistry::Instance().Set("Cassandra", "nCassandraZelkTunnelingPort", std::to_string(port));
    Pairs entries;
    ASSERT_FALSE(Ask("node1", 11, entries).IsError());
    DistributedQEL::CassandraZelkRestoreOptions options;
    ASSERT_EQ(options.unserialize(Value(entries, "ZelkRestoreParameters")), 0);
    EXPECT_EQ(options.getShareName(), "share42");
    EXPECT_EQ(options.getServerHost(), port ? "localhost" : "ma.example");
    EXPECT_EQ(options.getMountDirectory(), "/TqCassandraMountDir42");
    EXPECT_EQ(options.hasTunnelingPort(), port != 0);
    if (port) {
      EXPECT_EQ(options.getTunnelingPort(), port);
    }
    // One prefix per entry of this node; the ghost source adds none.
    EXPECT_EQ(options.getSourcePrefixes(),
              (std::vector<std::string>{"Cluster1/dcA/node1", "Cluster1/dcA/node1"}));
    ASSERT_EQ(options.getKeyspaces().size(), 1u);
    EXPECT_EQ(options.getKeyspaces()[0].getKeyspaceName(), "ks1");
    std::vector<std::string> tables;
    for (const auto& t : options.getKeyspaces()[0].getTables()) {
      tables.push_back(t.getTableName());
      EXPECT_TRUE(t.getTableId().empty());
    }
    EXPECT_EQ(tables, (std::vector<std::string>{"t1", "t2"}));
  }
}

// Every node that is sent a mapping is sent the prefixes of its sources too:
// an entry belongs to the node the registration gives it (its target across
// instances when the target's id is set, else its source), so no node that
// holds a mapping loads nothing from the share.
TEST_F(NodePayload, StageFreePrefixesFollowTheNodesMappings) {
  struct Case {
    const char* name;
    bool crossInstance;
    int64_t targetId;
    const char* node;
    uint32_t nodeId;
    std::vector<std::string> prefixes;  // empty: the node has no mapping
  } cases[] = {
      {"across instances, target id set: the target", true, 20, "y", 20, {"C/dcA/a"}},
      {"across instances, target id set: not the source", true, 20, "a", 1, {}},
      {"across instances, no target id: the source", true, 0, "a", 1, {"C/dcA/a"}},
      {"across instances, no target id: not the target", true, 0, "y", 20, {}},
      {"in place: the source", false, 20, "a", 1, {"C/dcA/a"}},
  };
  probe_->stageFreeRestore = true;
  probe_->zelkShareName = "share42";
  probe_->mediaAgentHostName = "ma.example";
  probe_->recover = false;
  probe_->sourceConfig.reset(new TQCassandra::CassandraCoordinatorClientConfig());
  probe_->sourceConfig->clusterName = "C";
  probe_->sourceConfig->clusterNodes = {Node("a", 1, "ta", "", "dcA")};
  probe_->destConfig->clusterNodes = {Node("y", 20, "ty", "", "dcB"),
                                      Node("a", 1, "ta", "", "dcA")};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    probe_->crossInstance = k.crossInstance;
    probe_->nodeMap = {Entry("a", 1, "y", k.targetId)};
    Pairs entries;
    CQiError e = Ask(k.node, k.nodeId, entries);
    if (k.prefixes.empty()) {
      // A node without a mapping is sent nothing at all.
      EXPECT_TRUE(FXErrorUtil::IsErrNo(e, 13)) << e.AsString(2);
      continue;
    }
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
    EXPECT_EQ(Mappings(entries).size(), 1u);
    DistributedQEL::CassandraZelkRestoreOptions options;
    ASSERT_EQ(options.unserialize(Value(entries, "ZelkRestoreParameters")), 0);
    EXPECT_EQ(options.getSourcePrefixes(), k.prefixes);
  }
}

}  // namespace
