// What a backup protects and on which nodes: the subclient's own content
// rows, and for a subclient without content everything the other subclients
// of the backup set leave uncovered, over the Priam stand-in.
//
// The cluster: dc1 holds node1 and node2, dc2 node3 and node4; ks1 and ks3
// use NetworkTopologyStrategy, ks2 and ks4 SimpleStrategy.

#include <map>

#include "BackupJobStartFixture.h"

namespace jobstart {
namespace {

using Keyspaces = std::map<std::string, std::vector<std::string>>;

struct ContentCase {
  const char* name;
  // The job's subclient: without content (the default subclient's remainder)
  // or with these rows.
  std::vector<SContentRow> own;
  // Contents of the other subclients of the backup set.
  std::vector<std::vector<SContentRow>> others;
  bool metaAsked;
  bool noContent;
  Keyspaces keyspaces;  // node key -> keyspaces; every registered node
  std::vector<std::string> fullNodes;
  bool fullCluster;
};

void PrintTo(const ContentCase& c, std::ostream* os) { *os << c.name; }

class Content : public JobStartTest, public ::testing::WithParamInterface<ContentCase> {};

TEST_P(Content, SelectsNodesAndKeyspaces) {
  const ContentCase& c = GetParam();
  Generate(Options(4, 2, 4));
  NodeClients();
  Instance(ClusterInstance());
  if (!c.metaAsked) {
    EditCluster([](TqSim::SimCluster& cluster) {
      cluster.faults = {{"request", "getMeta", "", "fail", 500, "not to be asked"}};
    });
  }
  uint64_t subclient = Subclient(c.own, 8, c.own.empty(), "job");
  for (const auto& other : c.others) Subclient(other);

  CoordinatorProbe& coordinator = Coordinator(subclient);
  CQiError e = coordinator.loadNodeConfiguration();
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvPriamRequestFailed));
  EXPECT_EQ(coordinator.noBackupContent, c.noContent);
  if (c.noContent) {
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsEvent(e, kEvNoBackupContent)) << e.AsString(2);
    EXPECT_TRUE(coordinator.getNodes().empty());
    // The stored node list was rewritten before the content was chosen.
    std::vector<App::CassandraNode> stored = StoredNodes();
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_FALSE(stored[0].getHostId().empty());
    return;
  }
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  Keyspaces keyspaces;
  for (const auto& entry : coordinator.nodeKeyspaces) {
    keyspaces[entry.first].assign(entry.second.begin(), entry.second.end());
  }
  EXPECT_EQ(keyspaces, c.keyspaces);
  std::vector<std::string> expectedNodes;
  for (const auto& entry : c.keyspaces) expectedNodes.push_back(entry.first);
  // Registered in the order the rows chose them.
  std::vector<std::string> names = RegisteredNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expectedNodes);
  EXPECT_EQ(
      std::vector<std::string>(coordinator.fullNodeKeys.begin(), coordinator.fullNodeKeys.end()),
      c.fullNodes);
  EXPECT_EQ(coordinator.fullClusterBackup, c.fullCluster);
  EXPECT_FALSE(coordinator.nodeSkipped);
  // Each client serves one node, attached once however many rows chose it.
  for (const auto& node : Registered()) EXPECT_EQ(node.addresses.size(), 1u) << node.clientName;
}

const std::vector<std::string> kAll = {"ks1", "ks2", "ks3", "ks4"};

Keyspaces PerDc(const std::vector<std::string>& dc1, const std::vector<std::string>& dc2) {
  return {{"node1", dc1}, {"node2", dc1}, {"node3", dc2}, {"node4", dc2}};
}

INSTANTIATE_TEST_SUITE_P(
    DefaultSubclient, Content,
    ::testing::Values(
        ContentCase{"NothingCovered", {}, {}, true, false, PerDc(kAll, kAll), {}, false},
        ContentCase{"ClusterCovered", {}, {{WholeCluster()}}, false, true, {}, {}, false},
        ContentCase{"Dc1Covered",
                    {},
                    {{Row("", "dc1")}},
                    true,
                    false,
                    PerDc({"ks2", "ks4"}, kAll),
                    {},
                    false},
        ContentCase{"Ks1CoveredEverywhere",
                    {},
                    {{Row("ks1", "")}},
                    true,
                    false,
                    PerDc({"ks2", "ks3", "ks4"}, {"ks2", "ks3", "ks4"}),
                    {},
                    false},
        ContentCase{"Ks1CoveredInDc1",
                    {},
                    {{Row("ks1", "dc1")}},
                    true,
                    false,
                    PerDc({"ks2", "ks3", "ks4"}, kAll),
                    {},
                    false},
        // Named once without and once with a data centre, the keyspace counts
        // as covered only in that data centre.
        ContentCase{"Ks1CoveredEverywhereAndInDc1",
                    {},
                    {{Row("ks1", "")}, {Row("ks1", "dc1")}},
                    true,
                    false,
                    PerDc({"ks2", "ks3", "ks4"}, kAll),
                    {},
                    false},
        // SimpleStrategy keyspaces are still taken in a covered data centre.
        ContentCase{"Dc2AndSimpleKs2InDc1Covered",
                    {},
                    {{Row("", "dc2"), Row("ks2", "dc1")}},
                    true,
                    false,
                    PerDc({"ks1", "ks3", "ks4"}, {"ks2", "ks4"}),
                    {},
                    false},
        ContentCase{"EverythingCovered",
                    {},
                    {{Row("ks1", ""), Row("ks2", "")}, {Row("ks3", ""), Row("ks4", "")}},
                    true,
                    true,
                    {},
                    {},
                    false}),
    [](const ::testing::TestParamInfo<ContentCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    OwnContent, Content,
    ::testing::Values(ContentCase{"WholeCluster",
                                  {WholeCluster()},
                                  {{Row("ks1", "")}},
                                  false,
                                  false,
                                  PerDc({}, {}),
                                  {},
                                  true},
                      // Beside another row the cluster-name row is ignored.
                      ContentCase{"ClusterRowAndKeyspaceRow",
                                  {WholeCluster(), Row("ks3", "")},
                                  {},
                                  false,
                                  false,
                                  PerDc({"ks3"}, {"ks3"}),
                                  {},
                                  false},
                      ContentCase{"DataCentreWithoutKeyspace",
                                  {Row("", "dc2")},
                                  {},
                                  false,
                                  false,
                                  {{"node3", {}}, {"node4", {}}},
                                  {"node3", "node4"},
                                  false},
                      ContentCase{"DataCentreTwiceWithoutKeyspace",
                                  {Row("", "dc1"), Row("", "dc1")},
                                  {},
                                  false,
                                  false,
                                  {{"node1", {}}, {"node2", {}}},
                                  {"node1", "node2", "node1", "node2"},
                                  false},
                      ContentCase{"TwoKeyspacesInOneDataCentre",
                                  {Row("ks1", "dc1"), Row("ks3", "dc1")},
                                  {},
                                  false,
                                  false,
                                  {{"node1", {"ks1", "ks3"}}, {"node2", {"ks1", "ks3"}}},
                                  {},
                                  false},
                      ContentCase{"KeyspaceRows",
                                  {Row("ks2", ""), Row("ks4", "")},
                                  {},
                                  false,
                                  false,
                                  PerDc({"ks2", "ks4"}, {"ks2", "ks4"}),
                                  {},
                                  false}),
    [](const ::testing::TestParamInfo<ContentCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace jobstart
