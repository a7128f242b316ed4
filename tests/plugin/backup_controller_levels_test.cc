// Full or incremental per keyspace from the last backup status, through a
// scripted Priam (so that "info" can answer anything). The requests say
// "CreateCollectFiles" = "n", which stops the handling right after the
// choice.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "tests/support/DockerTestSupport.h"

namespace {

using bctest::JobArguments;
using bctest::Option;
using bctest::ScriptedControllerTest;
using TqCassandra::ScopedPriamTransportFactory;
using TqCassandra::ScriptedPriam;
using Names = std::vector<std::string>;

constexpr uint32_t kEvConvertedToFull = 0x60003D9;
constexpr uint32_t kEvIncrementalDisabled = 0x60003E7;

enum class Status { kAbsent, kEmptyText, kNoInstances, kInstanceA, kMalformed, kNoList };

struct LevelCase {
  const char* name;
  int level;
  Status status;
  const char* info;  // reply of "info"; nullptr: the request fails
  // Expected outcome.
  const char* error;  // nullptr: success
  int levelAfter;
  bool convertedEvent;
  bool disabledEvent;
  int infoRequests;
  Names fullA;
  Names fullB;
};

const LevelCase kLevelCases[] = {
    {"NoStatusTurnsTheNodeFull",
     2,
     Status::kAbsent,
     R"({"incrementalEnabled": true})",
     nullptr,
     1,
     true,
     false,
     0,
     {},
     {}},
    {"EmptyStatusTurnsTheNodeFull",
     2,
     Status::kEmptyText,
     R"({"incrementalEnabled": true})",
     nullptr,
     1,
     true,
     false,
     0,
     {},
     {}},
    {"StatusWithoutThisNodeTakesEveryKeyspaceFull", 2, Status::kNoInstances,
     R"({"incrementalEnabled": true})", nullptr, 2, false, false, 2,
     Names{"ks1", "ks2", "ks3", "ks4"}, Names{"ks1", "ks2", "ks3", "ks4"}},
    {"NewAndFailedKeyspacesAreFull", 2, Status::kInstanceA, R"({"incrementalEnabled": true})",
     nullptr, 2, false, false, 2, Names{"ks2", "ks3"}, Names{"ks1", "ks2", "ks3", "ks4"}},
    {"IncrementalBackupOff",
     2,
     Status::kInstanceA,
     R"({"incrementalEnabled": false})",
     "Incremental backup is not enabled on Cassandra",
     2,
     false,
     true,
     1,
     Names{"ks2", "ks3"},
     {}},
    {"IncrementalFlagOfAnotherType",
     2,
     Status::kInstanceA,
     R"({"incrementalEnabled": "true"})",
     "Incremental backup is not enabled on Cassandra",
     2,
     false,
     true,
     1,
     Names{"ks2", "ks3"},
     {}},
    {"IncrementalFlagMissing",
     2,
     Status::kInstanceA,
     "not json",
     "Incremental backup is not enabled on Cassandra",
     2,
     false,
     true,
     1,
     Names{"ks2", "ks3"},
     {}},
    {"InfoRequestFails",
     2,
     Status::kInstanceA,
     nullptr,
     "Failed to check if Incremental backup is enabled",
     2,
     false,
     false,
     1,
     Names{"ks2", "ks3"},
     {}},
    {"MalformedStatus",
     2,
     Status::kMalformed,
     R"({"incrementalEnabled": true})",
     "Unserialize of CassandraLastBackupStatus failed with an error",
     2,
     false,
     false,
     0,
     {},
     {}},
    {"StatusWithoutNodeList",
     2,
     Status::kNoList,
     R"({"incrementalEnabled": true})",
     "Failed to fetch node last backup status",
     2,
     false,
     false,
     0,
     {},
     {}},
    {"FullJobReadsNoInfo",
     1,
     Status::kInstanceA,
     R"({"incrementalEnabled": false})",
     nullptr,
     1,
     false,
     false,
     0,
     {},
     {}},
};

class LevelChoiceTest : public ScriptedControllerTest,
                        public ::testing::WithParamInterface<LevelCase> {
 protected:
  std::string StatusText(Status status) const {
    switch (status) {
      case Status::kAbsent:
      case Status::kEmptyText:
        return "";
      case Status::kNoInstances:
        return LastStatus({});
      case Status::kInstanceA:
        // ks3 is missing, ks4 has no status field.
        return LastStatus({{InstanceName(0), {{"ks1", 1}, {"ks2", 0}, {"ks4", -1}}},
                           {"host9_10.9.9.9", {{"ks1", 1}, {"ks2", 1}, {"ks3", 1}, {"ks4", 1}}}});
      case Status::kMalformed:
        return "<CassandraLastBackupStatus";
      case Status::kNoList: {
        std::string xml;
        EXPECT_EQ(App::CassandraLastBackupStatus().serialize(xml), 0);
        return xml;
      }
    }
    return "";
  }
};

TEST_P(LevelChoiceTest, ChoosesFromTheLastBackupStatus) {
  const LevelCase& c = GetParam();
  if (c.info) {
    priam_->SetReply("info", c.info);
  } else {
    priam_->SetError("info", FXErrorUtil::ErrorWin32(FXLOC, 774, "connection refused"), "");
  }
  JobArguments job;
  job.level = c.level;
  bctest::Controller& controller = StartController(job);
  std::vector<DistributedQEL::DINameValue> options = {Option("CreateCollectFiles", "n")};
  if (c.status != Status::kAbsent)
    options.push_back(Option("LastBackupStatus", StatusText(c.status)));

  CLogCapture log;
  ASSERT_FALSE(Send(Request(2, options)).IsError());
  EXPECT_EQ(controller.collectFileCreationFailed, c.error != nullptr);
  if (c.error) {
    EXPECT_TRUE(log.Contains(std::string("Failed to create collect files: ")));
    EXPECT_TRUE(log.Contains(c.error)) << c.error;
  }
  EXPECT_EQ(controller.Config()->getBackupLevel(), c.levelAfter);
  EXPECT_EQ(CEventJournal::Instance().Find(kEvConvertedToFull).size(), c.convertedEvent ? 1u : 0u);
  auto disabled = CEventJournal::Instance().Find(kEvIncrementalDisabled);
  ASSERT_EQ(disabled.size(), c.disabledEvent ? 1u : 0u);
  if (c.disabledEvent) {
    EXPECT_EQ(disabled[0].severity, CEventJournal::kInfo);
    EXPECT_TRUE(disabled[0].args.empty());
  }
  if (c.convertedEvent) {
    auto converted = CEventJournal::Instance().Find(kEvConvertedToFull);
    EXPECT_EQ(converted[0].severity, CEventJournal::kMinor);
    EXPECT_TRUE(converted[0].args.empty());
  }
  EXPECT_EQ(Requests("info"), c.infoRequests);
  EXPECT_EQ(controller.fullKeyspaces[InstanceName(0)], c.fullA);
  EXPECT_EQ(controller.fullKeyspaces[InstanceName(1)], c.fullB);
  // The request stopped after the choice: no flush, no snapshot.
  EXPECT_EQ(Requests("flush"), 0);
  EXPECT_FALSE(bctest::fs::exists(JR("CassandraCleanupInfoFile")));
}

INSTANTIATE_TEST_SUITE_P(Cases, LevelChoiceTest, ::testing::ValuesIn(kLevelCases),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ScriptedControllerTest, AKeyspaceListedTwiceIsTakenFullOnce) {
  JobArguments job;
  job.level = 2;
  bctest::Controller& controller = StartController(job);
  std::vector<DistributedQEL::CassandraKeyspace> keyspaces = Keyspaces();
  keyspaces.push_back(keyspaces[2]);
  ASSERT_FALSE(Send(Request({Entry(NodeRecord(0), keyspaces)},
                            {Option("CreateCollectFiles", "n"),
                             Option("LastBackupStatus",
                                    LastStatus({{InstanceName(0), {{"ks1", 1}, {"ks2", 1}}}}))}))
                   .IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(controller.fullKeyspaces[InstanceName(0)], (Names{"ks3", "ks4"}));
}

TEST_F(ScriptedControllerTest, ACommitLogJobMakesNoChoice) {
  JobArguments job;
  job.level = 2;
  job.commitLog = true;
  bctest::Controller& controller = StartController(job);
  ASSERT_TRUE(controller.Config()->commitLogJob);
  ASSERT_FALSE(Send(Request(2, {Option("CreateCollectFiles", "n")})).IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_TRUE(controller.collectFilesSkipped);
  EXPECT_EQ(controller.Config()->getBackupLevel(), 2);
  EXPECT_FALSE(CEventJournal::Instance().Has(kEvConvertedToFull));
  EXPECT_EQ(Requests("info"), 0);
  // The Priams run and the subclient's old snapshots are still looked at.
  EXPECT_EQ(Requests("ListSnaps"), 2);
}

// A commit-log job takes its options and lists the archive instead of
// flushing and snapshotting.
TEST_F(ScriptedControllerTest, ACommitLogJobNeitherFlushesNorSnapshots) {
  dockertest::ScopedDockerStandIn noEngine(std::nullopt);
  const std::string archive = cluster_.nodes[0].commitLogArchiveDir;
  JobArguments job;
  job.commitLog = true;
  bctest::Controller& controller = StartController(job);
  ASSERT_FALSE(
      Send(Request(2, {Option("CommitLogBackupDir", archive), Option("CommitLogBackupCmd", "cp")}))
          .IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(controller.Config()->commitLogBackupDir, archive);
  EXPECT_EQ(controller.Config()->commitLogBackupCmd, "cp");
  EXPECT_EQ(Requests("flush"), 0);
  EXPECT_EQ(controller.backupStartTime, 0);
  EXPECT_FALSE(CollectFileNames().empty());
}

}  // namespace
