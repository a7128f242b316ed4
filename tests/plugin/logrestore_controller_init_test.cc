// The point-in-time node controller's start: the commit-log entries of the
// node start payload (restore command, point in time in Cassandra's
// unpadded form, backup reference time) and the workers it hands out.

#include <gtest/gtest.h>

#include "RestoreControllerFixture.h"
#include "logrestore/CassandraLogRestoreWorker.h"
#include "logrestore/CassandraLogRestoresController.h"

namespace rctest {
namespace {

using TQCassandra::CCassandraLogRestoreController;

class LogProbe : public CCassandraLogRestoreController {
 public:
  using CCassandraLogRestoreController::backupRefTime;
  using CCassandraLogRestoreController::cassandraPointInTime;
  using CCassandraLogRestoreController::restoreCommand;
};

TEST(LogRestorePointInTime, FieldsAreUtcAndNeverPadded) {
  struct Case {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "1970:1:1 0:0:0"},          {5, "1970:1:1 0:0:5"},
      {1609459205, "2021:1:1 0:0:5"}, {1700000000, "2023:11:14 22:13:20"},
      {951782400, "2000:2:29 0:0:0"}, {-1, "1969:12:31 23:59:59"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CCassandraLogRestoreController::CassandraPointInTime(c.seconds), c.text) << c.seconds;
  }
  // A time the calendar cannot hold gives no text rather than a wrong one.
  EXPECT_EQ(CCassandraLogRestoreController::CassandraPointInTime(INT64_MAX), "");
}

class LogRestoreInit : public RestoreControllerTest {
 protected:
  // This machine's node restored onto itself in place.
  DistributedQEL::NodeInit LogPayload(
      const std::vector<std::pair<std::string, std::string>>& entries) {
    const std::string data = DataDir("data");
    App::CassandraNode node = Node(kClient, 3, ConfDir("conf", {data}), data);
    DistributedQEL::NodeInit init = Payload({Mapping(node, node)}, TableMetadata({}));
    std::vector<DistributedQEL::DINameValue> values = init.getValues();
    for (const auto& entry : entries) values.emplace_back(entry.first, entry.second);
    init.setValues(values);
    return init;
  }

  LogProbe& InitLog(const Arguments& arguments, const DistributedQEL::NodeInit& init) {
    log_.reset(new LogProbe());
    CProgramArgumentsPtr parsed;
    EXPECT_FALSE(CProgramArguments::Parse(arguments.Line(), parsed).IsError());
    log_->setProgramArguments(parsed);
    DistributedQEL::NodeInit copy = init;
    CQiError error = log_->processNodeInit(&copy);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    return *log_;
  }

  void TearDown() override {
    log_.reset();
    RestoreControllerTest::TearDown();
  }

  std::unique_ptr<LogProbe> log_;
};

TEST_F(LogRestoreInit, WithRecoverThePayloadGivesCommandPointInTimeAndReferenceTime) {
  LogProbe& c = InitLog(Arguments(), LogPayload({{"BackupReferenceTime", "1609459100"},
                                                 {"CommitLogRestoreCmd", "/bin/cp"},
                                                 {"CommitLogRestoreTime", "1609459205"}}));
  EXPECT_EQ(c.restoreCommand, "/bin/cp");
  EXPECT_EQ(c.cassandraPointInTime, "2021:1:1 0:0:5");
  EXPECT_EQ(c.backupRefTime, 1609459100);
}

TEST_F(LogRestoreInit, AReferenceTimeWithItsLineEndIsStillItsNumber) {
  LogProbe& c = InitLog(Arguments(), LogPayload({{"BackupReferenceTime", "1609459100\r\n"}}));
  EXPECT_EQ(c.backupRefTime, 1609459100);
}

TEST_F(LogRestoreInit, TextsThatAreNoNumberReadAsZero) {
  LogProbe& c = InitLog(Arguments(), LogPayload({{"BackupReferenceTime", "12abc"},
                                                 {"CommitLogRestoreCmd", "/bin/cp"},
                                                 {"CommitLogRestoreTime", "soon"}}));
  EXPECT_EQ(c.cassandraPointInTime, "1970:1:1 0:0:0");
  EXPECT_EQ(c.backupRefTime, 0);
}

TEST_F(LogRestoreInit, WithoutRecoverTheCommitLogEntriesAreIgnored) {
  Arguments arguments;
  arguments.recover = 0;
  LogProbe& c = InitLog(arguments, LogPayload({{"BackupReferenceTime", "1609459100"},
                                               {"CommitLogRestoreCmd", "/bin/cp"},
                                               {"CommitLogRestoreTime", "1609459205"}}));
  EXPECT_EQ(c.restoreCommand, "");
  EXPECT_EQ(c.cassandraPointInTime, "");
  EXPECT_EQ(c.backupRefTime, 0);
}

TEST_F(LogRestoreInit, AFailedRestoreSetUpIsReturned) {
  log_.reset(new LogProbe());
  CProgramArgumentsPtr parsed;
  ASSERT_FALSE(CProgramArguments::Parse("-j 77", parsed).IsError());
  log_->setProgramArguments(parsed);
  DistributedQEL::NodeInit init = LogPayload({{"CommitLogRestoreCmd", "/bin/cp"}});
  EXPECT_TRUE(log_->processNodeInit(&init).IsError());
  EXPECT_EQ(log_->restoreCommand, "");
}

// The data phase took the source's tokens and restored the data; the
// commit-log phase must not take them again, whatever Priam would answer.
TEST_F(LogRestoreInit, TheTokenRuleIsNotAppliedAgainAndNoDataDirectoryIsEmptied) {
  priam_->SetReply("ReplaceTokens", "Tokens replaced");
  priam_->SetReply("stop", "Success");
  const std::string d1 = DataDir("d1"), d2 = DataDir("d2");
  const std::string conf = ConfDir("conf", {d1});
  DistributedQEL::NodeInit init =
      Payload({Mapping(Node("node9", 9, "/c9", "", "5"), Node(kClient, 3, conf, d1 + ";" + d2))},
              TableMetadata({}));
  std::vector<DistributedQEL::DINameValue> values = init.getValues();
  values.emplace_back("CommitLogRestoreCmd", "/bin/cp");
  values.emplace_back("CommitLogRestoreTime", "1609459205");
  init.setValues(values);
  InitLog(Arguments(), init);
  EXPECT_TRUE(priam_->AllRequests().empty());
  EXPECT_TRUE(fs::exists(d1 + "/ks1/t1-0a1b/mc-1-big-Data.db"));
  EXPECT_TRUE(fs::exists(d2 + "/ks1/t1-0a1b/mc-1-big-Data.db"));
  EXPECT_TRUE(sleeps_.Sleeps().empty());
}

TEST_F(LogRestoreInit, WorkersCarryTheBackupReferenceTime) {
  LogProbe& c = InitLog(Arguments(), LogPayload({{"BackupReferenceTime", "1609459100"}}));
  DistributedQEL::IRestoreWorkerPtr worker;
  ASSERT_FALSE(c.GetRestoreWorker(worker).IsError());
  auto* logWorker = dynamic_cast<TQCassandra::CCassandraLogRestoreWorker*>(worker.get());
  ASSERT_NE(logWorker, nullptr);
  EXPECT_EQ(logWorker->getBackupRefTime(), 1609459100);
}

}  // namespace
}  // namespace rctest
