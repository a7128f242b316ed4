// The backup controller's configuration and messages: the argument line, the
// configuration object, the options of the collect-file request, foreign
// messages and the start-up reports the request leads to.

#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FSClientConfig.h"
#include "platform/log/LogWriter.h"

namespace {

using bctest::JobArguments;
using bctest::Option;
using bctest::ScriptedControllerTest;

struct ArgumentCase {
  const char* name;
  bool withJobId;
  bool commitLog;
  const char* snapshotName;
  std::string jobToken = "";
  std::string mediaAgent = "MA1";
};

// The whole line is read by one parser: a job token or media agent that looks
// like the flag stays a value and never makes a commit-log job.
const ArgumentCase kArgumentCases[] = {
    {"JobIdNamesTheSnapshot", true, false, "12TQsnapshot205"},
    {"NoJobIdLeavesTheNumberOut", false, false, "12TQsnapshot"},
    {"CommitLogFlag", true, true, "12TQsnapshot205"},
    {"TokenLikeTheFlag", true, false, "12TQsnapshot205", "--log"},
    {"TokenLikeTheFlagInACommitLogJob", true, true, "12TQsnapshot205", "-log"},
    {"MediaAgentWithBlanks", true, false, "12TQsnapshot205", "tok", "media agent --log"},
    {"MediaAgentLikeAnOption", true, false, "12TQsnapshot205", "", "-collectFileStart"},
    {"NoMediaAgent", true, false, "12TQsnapshot205", "", ""},
};

class ControllerArgumentsTest : public bctest::ControllerTest,
                                public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(ControllerArgumentsTest, ReadsTheSnapshotNameAndTheCommitLogFlag) {
  const ArgumentCase& c = GetParam();
  JobArguments job;
  job.withJobId = c.withJobId;
  job.commitLog = c.commitLog;
  job.jobToken = c.jobToken;
  job.mediaAgent = c.mediaAgent;
  job.level = 2;
  job.streams = 3;
  job.collectFileStart = 17;
  bctest::Controller& controller = StartController(job);
  auto config = controller.Config();
  ASSERT_TRUE(config);
  EXPECT_EQ(config->snapshotName, c.snapshotName);
  EXPECT_EQ(config->commitLogJob, c.commitLog);
  // The framework's and the coordinator's values.
  EXPECT_EQ(config->getSubclientId(), bctest::kSubclient);
  EXPECT_EQ(config->getBackupLevel(), 2);
  EXPECT_EQ(config->getNumberOfStreams(), 3);
  EXPECT_EQ(config->getCollectFileStart(), 17u);
  EXPECT_EQ(config->getMediaAgentName(), c.mediaAgent);
  EXPECT_EQ(config->getJobToken(), c.jobToken);
  EXPECT_EQ(config->getFailuresFilePath(), JR("Failures.tqf"));
}

INSTANTIATE_TEST_SUITE_P(Cases, ControllerArgumentsTest, ::testing::ValuesIn(kArgumentCases),
                         [](const ::testing::TestParamInfo<ArgumentCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(ControllerConfigTest, OneConfigurationIsMadeAndKeptAsTheFrameworks) {
  bctest::Controller controller;
  TQDC_FileSystem::CFSClientConfigPtr first;
  TQDC_FileSystem::CFSClientConfigPtr second;
  ASSERT_FALSE(controller.getClientConfigObject(first).IsError());
  ASSERT_FALSE(controller.getClientConfigObject(second).IsError());
  ASSERT_TRUE(first);
  EXPECT_EQ(first, second);
  EXPECT_EQ(controller.getClientConfig(), first);
  EXPECT_TRUE(controller.Config());
  // The framework's slot hands out the same object.
  DistributedQEL::CClientConfigPtr base;
  ASSERT_FALSE(
      static_cast<DistributedQEL::CController&>(controller).getClientConfigObject(base).IsError());
  EXPECT_EQ(base, first);
}

TEST(ControllerConfigTest, WithoutItsConfigurationTheControllerDoesNothing) {
  bctest::Controller controller;
  controller.setClientConfig(
      DistributedQEL::CClientConfigPtr(new TQDC_FileSystem::CFSClientConfig(1)));
  CLogCapture log;
  controller.OnAgentStarted();
  EXPECT_TRUE(log.Contains("NULL Cassandra controller client config object"));
  CQiError error = controller.OnMessage(DistributedQEL::CassandraCreateCollectFiles());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_EQ(error.GetMessage(), "NULL CassandraControllerClientConfig");
  EXPECT_FALSE(controller.collectFileCreationFailed);
}

TEST_F(ScriptedControllerTest, AForeignMessageIsUnhandled) {
  bctest::Controller& controller = StartController(JobArguments());
  DistributedQEL::NodeStop stop;
  CLogCapture log;
  CQiError error = controller.OnMessage(stop);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 6));
  EXPECT_EQ(error.GetMessage(), "Unhandled message " + stop.getTagName());
  EXPECT_TRUE(log.Contains("Unhandled message " + stop.getTagName()));
  // Nothing changed and no further start-up report was asked for.
  EXPECT_TRUE(controller.priamByInstance.empty());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(services_->startupReportRequests().size(), 1u);
}

TEST_F(ScriptedControllerTest, TheRequestIsFollowedByASecondStartupReportAlsoWhenItFails) {
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "failing" : "succeeding");
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    if (fail) {
      priam_->SetError("flush", FXErrorUtil::ErrorWin32(FXLOC, 774, "down"), "");
    }
    bctest::Controller& controller = StartController(JobArguments());
    EXPECT_EQ(services_->startupReportRequests().size(), 1u);
    EXPECT_FALSE(Send(Request(2, {})).IsError());
    EXPECT_EQ(controller.collectFileCreationFailed, fail);
    EXPECT_EQ(services_->startupReportRequests(),
              (std::vector<std::string>{bctest::kClient, bctest::kClient}));
    controller_->uninitializePriam();
    controller_.reset();
  }
}

TEST_F(ScriptedControllerTest, ARequestWithoutOptionsMakesCollectFiles) {
  JobArguments job;
  job.level = 2;
  bctest::Controller& controller = StartController(job);
  DistributedQEL::CassandraCreateCollectFiles request = Request(2, {});
  request.reset();
  std::vector<DistributedQEL::CassandraNodeKeyspace> entries;
  for (size_t i = 0; i < 2; ++i) entries.push_back(Entry(NodeRecord(i), Keyspaces()));
  request.setClusterName(sim_.name);
  request.setNodeKeyspaces(entries);
  ASSERT_FALSE(request.isSet(4));
  CLogCapture log;
  ASSERT_FALSE(Send(request).IsError());
  EXPECT_TRUE(log.Contains("Options not set. Will continue with creating collect files"));
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(controller.Config()->clusterName, sim_.name);
  // No last status: the node runs full.
  EXPECT_EQ(controller.Config()->getBackupLevel(), 1);
  EXPECT_TRUE(CollectFileNames().count("CollectTot5.tqf"));
  // Both Priams started without JMX or SSL options.
  ASSERT_EQ(priam_->Sessions().size(), 2u);
  for (const auto& session : priam_->Sessions()) {
    ASSERT_EQ(session.starts.size(), 1u);
    EXPECT_EQ(session.starts[0].jvmOptions, "");
  }
}

// A data directory that is not absolute, or that holds ";" (from the node
// record or from cassandra.yaml), fails the node's collect files with a clear
// error; nothing is read relative to the working directory.
TEST_F(ScriptedControllerTest, ADataDirectoryThatIsNotAbsoluteIsRefused) {
  for (const std::string& directories : {std::string("data1"), std::string("/d1;data2")}) {
    SCOPED_TRACE(directories);
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    bctest::Controller& controller = StartController(JobArguments());
    App::CassandraNode record = NodeRecord(0);
    record.setDataDirectories(directories);
    CLogCapture log;
    EXPECT_FALSE(Send(Request({Entry(record, Keyspaces())}, {})).IsError());
    EXPECT_TRUE(controller.collectFileCreationFailed);
    EXPECT_TRUE(log.Contains("is not an absolute path")) << directories;
    EXPECT_FALSE(CollectFileNames().count("CollectTot1.tqf"));
    controller_->uninitializePriam();
    controller_.reset();
  }
}

struct CreateCase {
  std::vector<const char*> values;  // "CreateCollectFiles" entries in order
  bool made;
};

TEST_F(ScriptedControllerTest, OnlyTheValueNSkipsTheCollectFiles) {
  const CreateCase cases[] = {{{"n"}, false}, {{"N"}, true},      {{"no"}, true},
                              {{"y"}, true},  {{"n", "y"}, true}, {{"y", "n"}, false},
                              {{""}, true}};
  for (const CreateCase& c : cases) {
    std::string label;
    std::vector<DistributedQEL::DINameValue> options;
    for (const char* v : c.values) {
      options.push_back(Option("CreateCollectFiles", v));
      label += std::string("[") + v + "]";
    }
    SCOPED_TRACE(label);
    bctest::fs::remove_all(jobResults_);
    bctest::fs::create_directories(jobResults_);
    bctest::Controller& controller = StartController(JobArguments());
    ASSERT_FALSE(Send(Request(1, options)).IsError());
    EXPECT_FALSE(controller.collectFileCreationFailed);
    EXPECT_EQ(controller.collectFilesSkipped, !c.made);
    EXPECT_EQ(!CollectFileNames().empty(), c.made);
    EXPECT_EQ(bctest::fs::exists(JR("SubclientdirState.tqf")), c.made);
    controller_->uninitializePriam();
    controller_.reset();
  }
}

TEST_F(ScriptedControllerTest, ExtentOptionsAreReadAsLeadingDigits) {
  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(
      Send(Request(1, {Option("CreateCollectFiles", "n"), Option("ExtentSize", "1048576kb"),
                       Option("LargeFileThreshold", "x7")}))
          .IsError());
  auto config = controller.Config();
  EXPECT_TRUE(config->extentBackup);
  EXPECT_EQ(config->extentSize, 1048576u);
  EXPECT_EQ(config->largeFileThreshold, 0u);
}

TEST_F(ScriptedControllerTest, WithoutParsedArgumentsADataJobHasNoSnapshotName) {
  controller_.reset(new bctest::Controller());
  controller_->setFrameworkServices(services_);
  DistributedQEL::CClientConfigPtr config;
  ASSERT_FALSE(controller_->getClientConfigObject(config).IsError());
  // The malformed stream count stops the parse before the job results
  // directory is read.
  config->setJobResultsDirectory(jobResults_);
  CProgramArgumentsPtr arguments;
  ASSERT_FALSE(CProgramArguments::Parse("-appid 12 -j 205 -numstreams many", arguments).IsError());
  controller_->setProgramArguments(arguments);
  CLogCapture log;
  controller_->OnAgentStarted();
  EXPECT_TRUE(controller_->Config()->snapshotName.empty());

  ASSERT_FALSE(Send(Request(1, {Option("CreateCollectFiles", "n")})).IsError());
  EXPECT_TRUE(controller_->collectFileCreationFailed);
  EXPECT_TRUE(log.Contains("Snapshot name is empty. Not proceeding."));
  EXPECT_TRUE(log.Contains("Failed to generate snapshot name."));
}

}  // namespace
