#include <gtest/gtest.h>

#include "platform/msg/SuiteServiceRecords.h"
#include "support/RecordLayout.h"

namespace {

using namespace record_test;

TEST(ServiceRecords, RemoteCommand) {
  CNSession::tqsExecuteRemoteCommandType command;
  command.setField1(0);
  command.setProgram("RoVerodaruvErad");
  command.setArguments("42 -systemKeyCopy");
  command.setWaitFlag(1);
  command.setField5(0);
  CNSession::tqsExecuteRemoteCommandType r =
      ExpectLayout(command, {{1, 1, I}, {2, 2, S}, {3, 3, S}, {4, 4, I}, {5, 5, I}});
  EXPECT_EQ(r.getField1(), 0);
  EXPECT_EQ(r.getProgram(), "RoVerodaruvErad");
  EXPECT_EQ(r.getArguments(), "42 -systemKeyCopy");
  EXPECT_EQ(r.getWaitFlag(), 1);
  EXPECT_EQ(r.getField5(), 0);
}

TEST(ServiceRecords, ClientsForAddresses) {
  App::GetClientsForIPAddressRequest request;
  request.setIpAddresses({"10.0.0.1", "10.0.0.2", "10.0.0.1"});
  EXPECT_EQ(ExpectLayout(request, {{1, 1, LS}}).getIpAddresses(),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.1"}));

  TqEntities::ClientEntity a;
  a.setClientName("node1");
  TqEntities::ClientEntity b;
  b.setClientName("node2");
  App::GetClientsForIPAddressResponse response;
  response.setClients({a, b});
  std::vector<TqEntities::ClientEntity> clients = ExpectLayout(response, {{1, 1, L}}).getClients();
  ASSERT_EQ(clients.size(), 2u);
  EXPECT_EQ(clients[0].getClientName(), "node1");
  EXPECT_EQ(clients[1].getClientName(), "node2");
}

TEST(ServiceRecords, ShareRequestAndReply) {
  TqEntities::MediaAgentEntity agent;
  agent.setClientId(3);
  agent.setClientName("ma1");
  TqEntities::SubClientEntity subclient;
  subclient.setBackupsetId(4);
  subclient.setSubclientId(5);
  TqEntities::BackupSetEntity backupSet;
  backupSet.setBackupSetId(4);
  TqEntities::TimeEntity to;
  to.setTime(2000);
  TqEntities::TimeEntity from;
  from.setTime(1000);
  App::ZELKShareInfo info;
  info.setShareName("share42");
  info.setMediaAgent(agent);
  info.setSubclient(subclient);
  info.setBackupSet(backupSet);
  info.setServingMediaAgent(agent);
  info.setHosts({"host1", "host2", "mahost"});
  info.setFromTime(from);
  info.setToTime(to);
  info.setField12(0);
  info.setField11("0");
  info.setField14(0);
  info.setField13(0);
  info.setField19(0);
  info.setProperties({App::KeyValueInfo("uid", "1001"), App::KeyValueInfo("gid", "1002"),
                      App::KeyValueInfo("accessPerm", "700:600")});
  App::SetZELKSharePropsReq request;
  request.setShareInfo(info);
  request.setOperation(4);

  App::SetZELKSharePropsReq r = ExpectLayout(request, {{5, 5, O}, {6, 6, I}});
  EXPECT_EQ(r.getOperation(), 4);
  App::ZELKShareInfo i = ExpectLayout(*r.getShareInfo(), {{3, 3, O},
                                                          {4, 4, O},
                                                          {5, 5, O},
                                                          {6, 6, O},
                                                          {7, 7, O},
                                                          {8, 8, O},
                                                          {9, 9, LS},
                                                          {10, 10, S},
                                                          {11, 11, S},
                                                          {12, 12, I},
                                                          {13, 13, I},
                                                          {14, 14, I},
                                                          {19, 19, I},
                                                          {20, 20, L}});
  EXPECT_EQ(i.getShareName(), "share42");
  EXPECT_EQ(i.getMediaAgent()->getClientName(), "ma1");
  EXPECT_EQ(i.getServingMediaAgent()->getClientId(), 3);
  EXPECT_EQ(i.getSubclient()->getSubclientId(), 5);
  EXPECT_EQ(i.getBackupSet()->getBackupSetId(), 4);
  EXPECT_EQ(i.getToTime()->getTime(), 2000);
  EXPECT_EQ(i.getFromTime()->getTime(), 1000);
  EXPECT_EQ(i.getHosts().back(), "mahost");
  EXPECT_EQ(i.getField11(), "0");
  std::vector<App::KeyValueInfo> properties = i.getProperties();
  ASSERT_EQ(properties.size(), 3u);
  App::KeyValueInfo perm = ExpectLayout(properties[2], {{1, 1, S}, {2, 2, S}});
  EXPECT_EQ(perm.getKey(), "accessPerm");
  EXPECT_EQ(perm.getValue(), "700:600");

  App::SetZELKSharePropsResp reply;
  EXPECT_FALSE(reply.hasShareId());
  reply.setShareId(17);
  App::SetZELKSharePropsResp rr = ExpectLayout(reply, {{2, 2, I}});
  EXPECT_TRUE(rr.hasShareId());
  EXPECT_EQ(rr.getShareId(), 17);
}

}  // namespace
