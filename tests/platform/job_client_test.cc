// The quit flag and the job's pending causes.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

class QuitFlagTest : public ::testing::Test {
 protected:
  void TearDown() override { TQJobCtrlClient::SetProcessQuitFlag(false); }
};

TEST_F(QuitFlagTest, ProcessFlagStopsEveryJobAndAJobFlagOnlyItsJob) {
  TQJobCtrlClientPtr first = boost::make_shared<TQJobCtrlClient>(1);
  TQJobCtrlClientPtr second = boost::make_shared<TQJobCtrlClient>(2);
  EXPECT_FALSE(first->checkQuitFlag());
  first->setQuitFlag();
  EXPECT_TRUE(first->checkQuitFlag());
  EXPECT_FALSE(second->checkQuitFlag());
  first->setQuitFlag(false);
  TQJobCtrlClient::SetProcessQuitFlag(true);
  EXPECT_TRUE(TQJobCtrlClient::GetProcessQuitFlag());
  EXPECT_TRUE(first->checkQuitFlag());
  EXPECT_TRUE(second->checkQuitFlag());
  TQJobCtrlClient::SetProcessQuitFlag(false);
  EXPECT_FALSE(second->checkQuitFlag());
  EXPECT_EQ(second->getJobId(), 2);
}

class PendingCauseTest : public ::testing::Test {
 protected:
  void SetUp() override { CEventJournal::Instance().Clear(); }
  void TearDown() override { CEventJournal::Instance().Clear(); }
};

TEST_F(PendingCauseTest, RecordsTheCauseWithItsArgumentsThenClearsThem) {
  TQJobClientPtr job = boost::make_shared<TQJobClient>(345);
  CLogCapture log;
  {
    SClientIdentity identity;
    identity.clientName = "coordinator";
    CClientContextScope scope(identity);
    *job << "keyspace" << std::string("CREATE KEYSPACE ks") << CQiString("Priam said no");
    job->setPendingCauseAndEvent(0x60003F2, 6, 0, false, 300, 0, 0, 0, 0, 0);
  }
  job->setPendingCauseAndEvent(0x6000469, 6, 0, false, 300, false, 0, 0, 0, 0);

  auto entries = CEventJournal::Instance().Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, CEventJournal::kPendingCause);
  EXPECT_EQ(entries[0].id, 0x60003F2u);
  EXPECT_EQ(entries[0].args,
            (std::vector<std::string>{"keyspace", "CREATE KEYSPACE ks", "Priam said no"}));
  EXPECT_EQ(entries[0].client, "coordinator");
  EXPECT_EQ(entries[1].id, 0x6000469u);
  EXPECT_TRUE(entries[1].args.empty());  // arguments went with the first cause
  EXPECT_TRUE(CEventJournal::Instance().Has(0x6000469, CEventJournal::kPendingCause));
  EXPECT_FALSE(CEventJournal::Instance().Has(0x6000469, CEventJournal::kEvent));
  EXPECT_EQ(job->getPendingCause(), 0x6000469u);
  EXPECT_TRUE(log.Contains("0x60003F2 [keyspace] [CREATE KEYSPACE ks] [Priam said no]"));
}

TEST_F(PendingCauseTest, RaisesEventsAsAnEvEvent) {
  TQJobClient job;
  EvEvent& event = job;
  event << "/var/lib/cassandra";
  event.MajorEvent(0x6000470);
  EXPECT_TRUE(CEventJournal::Instance().Has(0x6000470, CEventJournal::kEvent));
  EXPECT_EQ(CEventJournal::Instance().Find(0x6000470)[0].args[0], "/var/lib/cassandra");
}

TEST_F(PendingCauseTest, RestartString) {
  TQJobClient job(7);
  CQiString restart("stale");
  ASSERT_FALSE(job.getRestartString(restart, 0).IsError());
  EXPECT_STREQ(restart.c_str(), "");
  job.setRestartString("-o 9|-1 -o 10|4096");
  ASSERT_FALSE(job.getRestartString(restart, 0).IsError());
  EXPECT_STREQ(restart.c_str(), "-o 9|-1 -o 10|4096");
  EXPECT_EQ(job.getJobId(), 7);
}
