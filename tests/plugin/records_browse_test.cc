#include <gtest/gtest.h>

#include "common/ClusterBrowseRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;
using namespace App;

TEST(ClusterBrowseRecords, Request) {
  TqEntities::SubClientEntity subclient;
  subclient.setSubclientId(-1);
  subclient.setInstanceId(21);
  CassandraConfig config;
  config.setClusterName("Test Cluster");
  DistributedClusterConfig cluster;
  cluster.setCassandraConfig(config);
  DistributedAppsBrowseProperties properties;
  properties.setSubclient(subclient);
  properties.setClusterConfig(cluster);
  TqEntities::ClientEntity gateway;
  gateway.setClientId(5);
  MachineBrowseReq request;
  request.setGatewayClient(gateway);
  request.setBrowseProperties(properties);

  MachineBrowseReq r = ExpectLayout(request, {{1, 1, O}, {5, 5, O}});
  EXPECT_EQ(r.getGatewayClient()->getClientId(), 5);
  DistributedAppsBrowseProperties p =
      ExpectLayout(*r.getBrowseProperties(), {{1, 1, O}, {3, 3, O}});
  EXPECT_EQ(p.getSubclient()->getSubclientId(), -1);
  EXPECT_EQ(p.getClusterConfig()->getCassandraConfig()->getClusterName(), "Test Cluster");
  EXPECT_FALSE(MachineBrowseReq().getBrowseProperties().has_value());
}

TEST(ClusterBrowseRecords, ResponseItems) {
  CassandraNode node;
  node.setAddress("10.0.0.1");
  CassandraContent row;
  row.setKeyspaceName("shop");
  CassandraBrowseItem item;
  item.setNodes({node});
  item.setContents({row});
  item.setClusterName("Test Cluster");
  item.setVersion("4.0.1");
  MachineBrowseItem machine;
  machine.setCassandraItem(item);
  MachineBrowseResp response;
  response.setBrowseItems({machine});

  MachineBrowseResp r = ExpectLayout(response, {{2, 2, L}});
  ASSERT_EQ(r.getBrowseItems().size(), 1u);
  MachineBrowseItem m = ExpectLayout(r.getBrowseItems()[0], {{7, 7, O}});
  CassandraBrowseItem i =
      ExpectLayout(*m.getCassandraItem(), {{1, 1, L}, {2, 2, L}, {3, 3, S}, {4, 4, S}});
  EXPECT_EQ(i.getNodes().front().getAddress(), "10.0.0.1");
  EXPECT_EQ(i.getContents().front().getKeyspaceName(), "shop");
  EXPECT_EQ(i.getClusterName(), "Test Cluster");
  EXPECT_EQ(i.getVersion(), "4.0.1");

  GenericResp error;
  error.setErrorCode(1);
  error.setErrorMessage("Failed to fetch nodes/schemas from the Cassandra cluster: reason");
  GenericResp e = ExpectLayout(error, {{1, 1, I}, {2, 2, S}});
  EXPECT_EQ(e.getErrorCode(), 1);
  EXPECT_EQ(e.getErrorMessage(),
            "Failed to fetch nodes/schemas from the Cassandra cluster: reason");
}

}  // namespace
