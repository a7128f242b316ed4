// What a backup phase hands the job manager through the backup job client:
// staged changes reach it only with updateInfo, and the job-manager backup
// operations stage their requests on that client.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/suite/JMBkpOps.h"
#include "platform/suite/TQBkpJobClient.h"

namespace {

TEST(BackupJobClient, ChangesReachTheJobManagerOnlyWithUpdateInfo) {
  TQBkpJobClient client(42);
  EXPECT_TRUE(client.setReferenceTime(1700000000));
  EXPECT_TRUE(client.concatPhaseParams(" -r 1700000000 ", TQBkpJobClient::kPhaseParamsAppend));
  EXPECT_FALSE(client.getJobManagerState().hasReferenceTime);
  EXPECT_EQ(client.getStagedState().phaseParams, " -r 1700000000 ");

  EXPECT_TRUE(client.updateInfo(false, nullptr));
  TQBkpJobClient::JobManagerState state = client.getJobManagerState();
  EXPECT_TRUE(state.hasReferenceTime);
  EXPECT_EQ(state.referenceTime, 1700000000);
  EXPECT_EQ(state.phaseParams, " -r 1700000000 ");
  EXPECT_EQ(state.updates, 1);

  // Append adds, replace starts over, any other action is refused.
  EXPECT_TRUE(client.concatPhaseParams(" -bypass", TQBkpJobClient::kPhaseParamsAppend));
  EXPECT_FALSE(client.concatPhaseParams(" -x", 3));
  EXPECT_TRUE(client.updateInfo(false, nullptr));
  EXPECT_EQ(client.getJobManagerState().phaseParams, " -r 1700000000  -bypass");
  EXPECT_TRUE(client.concatPhaseParams("-new", TQBkpJobClient::kPhaseParamsReplace));
  EXPECT_TRUE(client.updateInfo(false, nullptr));
  EXPECT_EQ(client.getJobManagerState().phaseParams, "-new");
  EXPECT_EQ(client.getJobManagerState().updates, 3);
}

TEST(BackupJobClient, FailCallRefusesExactlyTheNthCall) {
  TQBkpJobClient client(42);
  client.failCall(TQBkpJobClient::kUpdateInfo, 2);
  client.failCall(TQBkpJobClient::kSetReferenceTime, 1);
  EXPECT_FALSE(client.setReferenceTime(5));
  EXPECT_TRUE(client.setReferenceTime(6));
  EXPECT_TRUE(client.updateInfo(false, nullptr));
  EXPECT_FALSE(client.updateInfo(false, nullptr));
  EXPECT_TRUE(client.updateInfo(false, nullptr));
  EXPECT_EQ(client.getJobManagerState().updates, 2);
  EXPECT_EQ(client.getJobManagerState().referenceTime, 6);
}

TEST(JobManagerBackupOps, RequestIsStagedOnTheBackupJobClient) {
  auto client = boost::make_shared<TQBkpJobClient>(42);
  auto control = boost::make_shared<TQJobCtrlClient>(42);
  JMBkpOpsPtr ops = JMBkpOpsFactory::allocObj(0, client, control);
  ASSERT_TRUE(ops);
  EXPECT_EQ(ops->sendRequest(JMBkpOps::kRequestPostOps), 0);
  EXPECT_TRUE(client->getJobManagerState().requests.empty());
  EXPECT_TRUE(client->updateInfo(false, nullptr));
  EXPECT_EQ(client->getJobManagerState().requests, std::vector<int>{2});

  // A job client of another kind cannot carry it.
  JMBkpOpsPtr plain = JMBkpOpsFactory::allocObj(0, boost::make_shared<TQJobClient>(42), control);
  ASSERT_TRUE(plain);
  EXPECT_NE(plain->sendRequest(JMBkpOps::kRequestPostOps), 0);
}

}  // namespace
