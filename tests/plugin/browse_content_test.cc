// The content browse: keyspace rows of the Priam stand-in over generated
// clusters, and of a scripted Priam for the replication classes, factor
// texts, failed requests and replies of the wrong shape.

#include "BrowseFixture.h"
#include "platform/base/FXErrorUtil.h"

namespace browsetest {
namespace {

const char* const kSimple = "org.apache.cassandra.locator.SimpleStrategy";
const char* const kTopology = "org.apache.cassandra.locator.NetworkTopologyStrategy";
const char* const kEverywhere = "org.apache.cassandra.locator.EverywhereStrategy";

// One row as text: "keyspace|dc|factor|class", "-" for an unset field.
std::string RowText(const App::CassandraContent& row) {
  return row.getKeyspaceName() + "|" + (row.hasDataCenter() ? row.getDataCenter() : "-") + "|" +
         (row.isSet(4) ? std::to_string(row.getReplicationFactor()) : "-") + "|" +
         row.getReplicationClass();
}

class ContentBrowseTest : public BrowseTest {
 protected:
  std::vector<std::string> Rows(const Outcome& outcome, const std::string& clusterName) {
    EXPECT_FALSE(outcome.Failed()) << outcome.Message();
    std::vector<std::string> rows;
    const App::CassandraBrowseItem item = outcome.Item();
    EXPECT_TRUE(item.getNodes().empty());
    EXPECT_FALSE(item.isSet(3));
    for (const auto& row : item.getContents()) {
      EXPECT_EQ(row.getClusterName(), clusterName);
      rows.push_back(RowText(row));
    }
    return rows;
  }
  Outcome ScriptedContent(const std::string& meta) {
    Scripted().SetReply("getMeta", meta);
    GatewaySettings gateway;
    gateway.configFile = ScriptedConf();
    return Browse(Request(-1, std::nullopt, &gateway));
  }
};

TEST_F(ContentBrowseTest, GeneratedClusterGivesRowsPerKeyspaceInOrder) {
  Generate(Options(4, 2, 2));
  EditCluster([](TqSim::SimCluster& c) {
    TqSim::SimKeyspace everywhere;
    everywhere.name = "dse_system";
    everywhere.replication = {{"class", kEverywhere}};
    c.keyspaces.push_back(everywhere);
  });
  Instance(InstanceSettings());
  EXPECT_EQ(Rows(Browse(InstanceRequest(-1)), "TestCluster"),
            (std::vector<std::string>{
                std::string("ks1|dc1|2|") + kTopology,
                std::string("ks1|dc2|2|") + kTopology,
                std::string("ks2|-|3|") + kSimple,
                std::string("dse_system|dc1|-|") + kEverywhere,
                std::string("dse_system|dc2|-|") + kEverywhere,
            }));
}

TEST_F(ContentBrowseTest, OneDataCentreClusterThroughAnExistingSubclient) {
  Generate(Options(3, 1, 3));
  Instance(InstanceSettings());
  App::MachineBrowseReq request = InstanceRequest(5);
  WithGatewayClient(request);
  EXPECT_EQ(Rows(Browse(request), "TestCluster"),
            (std::vector<std::string>{std::string("ks1|dc1|3|") + kTopology,
                                      std::string("ks2|-|3|") + kSimple,
                                      std::string("ks3|dc1|3|") + kTopology}));
  EXPECT_FALSE(std::filesystem::exists(CClientContext::JobResultsDirectory("cluster1") + "/2"));
}

TEST_F(ContentBrowseTest, ReplicationClassesGiveTheirRows) {
  Scripted().SetReply("status", "[" + StatusRow("10.0.1.1", "west") + "," +
                                    StatusRow("10.0.2.1", "east") + ",\"x\"," +
                                    StatusRow("10.0.1.2", "west") + "]");
  const std::string meta =
      std::string("[") + R"({"KEYSPACE":"a","REPLICATION":{"class":"x.y.SimpleStrategy",)" +
      R"("replication_factor":"3"}},)" + R"(7,)" +
      R"({"KEYSPACE":"b","REPLICATION":{"zeta":"2","class":"NetworkTopologyStrategy",)" +
      R"("alpha":"1","nowhere":" 4x"}},)" +
      R"({"KEYSPACE":"c","REPLICATION":{"class":"LocalStrategy"}},)" +
      R"({"KEYSPACE":"d","REPLICATION":{"class":"SimpleStrategy","replication_factor":"many"}}])";
  EXPECT_EQ(Rows(ScriptedContent(meta), "Scripted"), (std::vector<std::string>{
                                                         "a|-|3|x.y.SimpleStrategy",
                                                         "b|alpha|1|NetworkTopologyStrategy",
                                                         "b|nowhere|4|NetworkTopologyStrategy",
                                                         "b|zeta|2|NetworkTopologyStrategy",
                                                         "c|east|-|LocalStrategy",
                                                         "c|west|-|LocalStrategy",
                                                         "d|-|0|SimpleStrategy",
                                                     }));
}

TEST_F(ContentBrowseTest, AnEmptySchemaGivesAnEmptyContentList) {
  EXPECT_TRUE(Rows(ScriptedContent("[]"), "Scripted").empty());
}

TEST_F(ContentBrowseTest, AFailedStatusMattersOnlyToKeyspacesThatNeedTheDataCentres) {
  Scripted().SetError("status", FXErrorUtil::ErrorWin32(FXLOC, 1359, "no ring"), "");
  const std::string strategies =
      R"([{"KEYSPACE":"a","REPLICATION":{"class":"SimpleStrategy","replication_factor":"1"}},)"
      R"({"KEYSPACE":"b","REPLICATION":{"class":"NetworkTopologyStrategy","dc1":"2"}}])";
  EXPECT_EQ(Rows(ScriptedContent(strategies), "Scripted"),
            (std::vector<std::string>{"a|-|1|SimpleStrategy", "b|dc1|2|NetworkTopologyStrategy"}));

  Outcome outcome = ScriptedContent(
      R"([{"KEYSPACE":"a","REPLICATION":{"class":"SimpleStrategy","replication_factor":"1"}},)"
      R"({"KEYSPACE":"c","REPLICATION":{"class":"LocalStrategy"}}])");
  EXPECT_EQ(outcome.error.GetCode(), kWin32_1359);
  EXPECT_EQ(
      outcome.Message(),
      std::string(kPrefix) + "Failed to fetch Cassandra status to get the list of datacenters");
  EXPECT_TRUE(outcome.items.empty());

  // A status reply that cannot be read counts as a failed one.
  Scripted().SetReply("status", R"({"data_center":"dc1"})");
  outcome = ScriptedContent(R"([{"KEYSPACE":"c","REPLICATION":{"class":"LocalStrategy"}}])");
  EXPECT_EQ(
      outcome.Message(),
      std::string(kPrefix) + "Failed to fetch Cassandra status to get the list of datacenters");
}

TEST_F(ContentBrowseTest, FailedRequestsGiveTheirReasons) {
  struct Case {
    const char* resource;
    CQiError error;
    std::string reason;
    uint32_t code;
  };
  const std::vector<Case> cases = {
      {"getMeta", FXErrorUtil::ErrorWin32(FXLOC, 5, "denied"), "Cassandra CQL authentication error",
       kWin32_1359},
      {"getMeta", FXErrorUtil::ErrorWin32(FXLOC, 500, "broken"),
       "Failed to get Cassandra metadata from Priam service", kWin32_1359},
      // The request's own error comes back unchanged.
      {"clusterDetails", FXErrorUtil::ErrorWin32(FXLOC, 1460, "slow"),
       "Error while getting cluster Details from the Cassandra cluster.", 0x800005B4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    Scripted().ClearScript();
    Scripted().SetReply("clusterDetails", R"({"ClusterName":"Scripted","Version":"4.0.1"})");
    Scripted().SetReply("status", "[]");
    Scripted().SetError(c.resource, c.error, "");
    GatewaySettings gateway;
    gateway.configFile = ScriptedConf();
    Outcome outcome = Browse(Request(-1, std::nullopt, &gateway));
    EXPECT_EQ(outcome.error.GetCode(), c.code);
    EXPECT_EQ(outcome.Message(), kPrefix + c.reason);
    EXPECT_TRUE(outcome.items.empty());
  }
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(ContentBrowseTest, SchemaRepliesOfTheWrongShapeAreBrowseErrors) {
  for (const std::string& meta :
       {std::string("{}"), std::string("[{\"KEYSPACE\":\"a\""),
        std::string(R"([{"KEYSPACE":1,"REPLICATION":{"class":"SimpleStrategy"}}])"),
        std::string(R"([{"KEYSPACE":"a","REPLICATION":"SimpleStrategy"}])"),
        std::string(R"([{"KEYSPACE":"a","REPLICATION":{"class":"SimpleStrategy",)"
                    R"("replication_factor":3}}])")}) {
    SCOPED_TRACE(meta);
    Outcome outcome = ScriptedContent(meta);
    EXPECT_EQ(outcome.error.GetCode(), kWin32_1359);
    EXPECT_EQ(outcome.Message(),
              std::string(kPrefix) + "Failed to get Cassandra metadata from Priam service");
  }
}

}  // namespace
}  // namespace browsetest
