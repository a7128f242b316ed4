// The backup coordinator object: its client configuration and argument
// parsing, the framework hooks it answers itself, and the Priam error events.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "platform/TempDir.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ExtentCollectFile.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace {

using TQCassandra::CassandraBackupCoordinator;
using TQCassandra::CassandraCoordinatorClientConfig;
using TQCassandra::CassandraCoordinatorClientConfigPtr;

// Opens the coordinator's protected parts to the tests.
class CoordinatorProbe : public CassandraBackupCoordinator {
 public:
  using CassandraBackupCoordinator::handlePriamError;
  const CassandraCoordinatorClientConfigPtr& ownConfig() const { return clientConfig; }
};

CProgramArgumentsPtr Arguments(const std::string& line) {
  CProgramArgumentsPtr arguments;
  CQiError error = CProgramArguments::Parse(line, arguments);
  EXPECT_FALSE(error.IsError()) << error.AsString();
  return arguments;
}

// Registry values set by a test, removed again when it ends.
class RegistryValues {
 public:
  ~RegistryValues() {
    for (const auto& v : set_) CRegistry::Instance().Remove(v.first, v.second);
  }
  void Set(const std::string& section, const std::string& name, const std::string& value) {
    CRegistry::Instance().Set(section, name, value);
    set_.push_back({section, name});
  }

 private:
  std::vector<std::pair<std::string, std::string>> set_;
};

TEST(BackupCoordinatorObject, FrameworkFlagsAndDefaultAnswers) {
  CassandraBackupCoordinator coordinator;
  EXPECT_TRUE(coordinator.getStartAllNodesAtOnce());
  EXPECT_TRUE(coordinator.getStreamReservationCheckRequired());
  EXPECT_FALSE(coordinator.getStartAllNodes());
  EXPECT_FALSE(coordinator.shouldDistributeSubclientDirectory());
  EXPECT_FALSE(coordinator.shouldFailOnIncompleteTask());
  // Framework defaults it keeps.
  EXPECT_TRUE(coordinator.isBackupJob());
  EXPECT_FALSE(coordinator.shouldSkipThisPhase());
  EXPECT_EQ(coordinator.getJMControlRole(), 1);
  EXPECT_TRUE(coordinator.isArchiveIndexRequired());
}

TEST(BackupCoordinatorObject, ConfigurationIsMadeOnceAndSharedWithTheBase) {
  CoordinatorProbe coordinator;
  DistributedQEL::CClientConfigPtr first, second;
  ASSERT_FALSE(coordinator.getClientConfigObject(first).IsError());
  ASSERT_TRUE(first);
  EXPECT_TRUE(boost::dynamic_pointer_cast<CassandraCoordinatorClientConfig>(first));
  ASSERT_FALSE(coordinator.getClientConfigObject(second).IsError());
  EXPECT_EQ(first, second);
  EXPECT_EQ(coordinator.getClientConfig(), first);
  EXPECT_EQ(coordinator.ownConfig(), first);

  // A base configuration replaced by someone else is set back on the next call.
  coordinator.setClientConfig(DistributedQEL::CClientConfigPtr());
  DistributedQEL::CClientConfigPtr third;
  ASSERT_FALSE(coordinator.getClientConfigObject(third).IsError());
  EXPECT_EQ(third, first);
  EXPECT_EQ(coordinator.getClientConfig(), first);
}

TEST(BackupCoordinatorObject, InitializeKeepsOnlyTheJobClients) {
  CassandraBackupCoordinator coordinator;
  DistributedQEL::CClientConfigPtr own;
  ASSERT_FALSE(coordinator.getClientConfigObject(own).IsError());
  DistributedQEL::CClientConfigPtr other(new DistributedQEL::CClientConfig(1));
  CProgramArgumentsPtr arguments = Arguments("-j 5");
  TQJobClientPtr jobClient(new TQJobClient(5));
  TQJobCtrlClientPtr jobCtrlClient(new TQJobCtrlClient(5));
  ASSERT_FALSE(coordinator.initialize(other, arguments, jobClient, jobCtrlClient).IsError());
  EXPECT_EQ(coordinator.getJobClient(), jobClient);
  EXPECT_EQ(coordinator.getJobCtrlClient(), jobCtrlClient);
  EXPECT_EQ(coordinator.getClientConfig(), own);
  EXPECT_FALSE(coordinator.getProgramArguments());
}

class ConfigurationArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(jobResults_.path().empty());
    SClientIdentity identity;
    identity.clientName = "coordinator1";
    identity.clientId = 3;
    identity.jobResultsDirectory = jobResults_.path();
    scope_.reset(new CClientContextScope(identity));
  }

  TempDir jobResults_;
  std::unique_ptr<CClientContextScope> scope_;
};

TEST_F(ConfigurationArguments, JobResultsPathIsClientDirectoryOmbrelIdApplicationId) {
  CassandraCoordinatorClientConfig config;
  // The -jr argument is the framework's field; the path comes from this
  // client's own job results directory.
  ASSERT_FALSE(
      config.parseArguments(Arguments("-ombrel 2 -appid 57 -j 1001 -jr /elsewhere")).IsError());
  EXPECT_EQ(config.getJobResultsPath(), jobResults_.path() + "/2/57");
  EXPECT_EQ(config.getOmbrelId(), 2u);
  EXPECT_EQ(config.getApplicationId(), 57u);
  EXPECT_EQ(config.getJobId(), 1001);
}

TEST_F(ConfigurationArguments, IdsAreWrittenAsUnsignedNumbers) {
  CassandraCoordinatorClientConfig config;
  ASSERT_FALSE(config.parseArguments(Arguments("-ombrel 4294967295 -appid 0")).IsError());
  EXPECT_EQ(config.getJobResultsPath(), jobResults_.path() + "/4294967295/0");
}

TEST_F(ConfigurationArguments, LogFlagMarksACommitLogJob) {
  struct {
    const char* line;
    bool commitLogJob;
  } cases[] = {
      {"-ombrel 2 -appid 57", false},     {"-ombrel 2 -appid 57 log", true},
      {"log -ombrel 2 -appid 57", true},  {"-ombrel 2 -appid 57 logs", false},
      {"-ombrel 2 -appid 57 LOG", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    CassandraCoordinatorClientConfig config;
    ASSERT_FALSE(config.parseArguments(Arguments(c.line)).IsError());
    EXPECT_EQ(config.commitLogJob, c.commitLogJob);
  }
}

TEST_F(ConfigurationArguments, FrameworkParseErrorStopsEverythingElse) {
  CassandraCoordinatorClientConfig config;
  config.setJobResultsPath("/before");
  CQiError error = config.parseArguments(Arguments("-ombrel notanumber log"));
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_EQ(config.getJobResultsPath(), "/before");
  EXPECT_FALSE(config.commitLogJob);

  EXPECT_TRUE(config.parseArguments(CProgramArgumentsPtr()).IsError());
  EXPECT_EQ(config.getJobResultsPath(), "/before");
}

TEST_F(ConfigurationArguments, ExtentSettingsComeFromTheRegistry) {
  using MultiNodeBackupOps::CExtentCollectFile;
  {
    RegistryValues registry;
    registry.Set(CExtentCollectFile::kRegistrySection, CExtentCollectFile::kEnableValue, "1");
    registry.Set(CExtentCollectFile::kRegistrySection, CExtentCollectFile::kExtentSizeValue,
                 "1048576");
    registry.Set(CExtentCollectFile::kRegistrySection, CExtentCollectFile::kThresholdValue,
                 "8388608");
    CassandraCoordinatorClientConfig config;
    ASSERT_FALSE(config.parseArguments(Arguments("-ombrel 2 -appid 57")).IsError());
    EXPECT_TRUE(config.extentBackup);
    EXPECT_EQ(config.extentSize, 1048576u);
    EXPECT_EQ(config.largeFileThreshold, 8388608u);
  }
  {
    // A bad value is logged and the parse still succeeds with what was read.
    RegistryValues registry;
    registry.Set(CExtentCollectFile::kRegistrySection, CExtentCollectFile::kEnableValue, "1");
    registry.Set(CExtentCollectFile::kRegistrySection, CExtentCollectFile::kExtentSizeValue, "big");
    CLogCapture log;
    CassandraCoordinatorClientConfig config;
    ASSERT_FALSE(config.parseArguments(Arguments("-ombrel 2 -appid 57 log")).IsError());
    EXPECT_TRUE(config.extentBackup);
    EXPECT_EQ(config.extentSize, CExtentCollectFile::kDefaultExtentSize);
    EXPECT_TRUE(config.commitLogJob);
    bool logged = false;
    for (const std::string& text : log.Texts(-1)) {
      logged = logged || text.rfind("Failed to read extent parameters from registry. ", 0) == 0;
    }
    EXPECT_TRUE(logged);
  }
}

TEST(BackupCoordinatorObject, GeoMediaAgentOnlyWhenTheRegistrySaysOne) {
  struct {
    const char* value;  // null: absent
    bool supported;
  } cases[] = {{nullptr, false}, {"0", false}, {"1", true}, {"2", false}, {"-1", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(absent)");
    RegistryValues registry;
    if (c.value) registry.Set("Cassandra", "nEnableGeoMediaAgentSupport", c.value);
    CassandraBackupCoordinator coordinator;
    EXPECT_EQ(coordinator.supportsGeoMediaAgent(), c.supported);
  }
}

class PriamErrors : public ::testing::Test {
 protected:
  void SetUp() override { CEventJournal::Instance().Clear(); }
  void TearDown() override { CEventJournal::Instance().Clear(); }
};

TEST_F(PriamErrors, SuccessRaisesNothing) {
  CoordinatorProbe coordinator;
  CQiError result =
      coordinator.handlePriamError(CQiError::Success(), 0x60003D3, std::string("getMeta"));
  EXPECT_FALSE(result.IsError());
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(PriamErrors, OneMajorEventPerFailureAndTheErrorUnchanged) {
  struct {
    uint32_t code;
    uint32_t eventId;
    const char* detail;
    uint32_t raised;
    std::vector<std::string> args;
  } cases[] = {
      // Access denied: always the access-denied event, without arguments.
      {5, 0x60003D4, "", 0x6000485, {}},
      {5, 0x60003D3, "getMeta", 0x6000485, {}},
      {5, 0x12345, "anything", 0x6000485, {}},
      // Anything else: the caller's event, with the detail when there is one.
      {774, 0x60003D3, "getMeta", 0x60003D3, {"getMeta"}},
      {774, 0x60003D4, "", 0x60003D4, {}},
      {1359, 0x60003D4, "", 0x60003D4, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    CEventJournal::Instance().Clear();
    CoordinatorProbe coordinator;
    CQiError error = FXErrorUtil::ErrorWin32(FXLOC, c.code, "Priam step failed");
    const size_t chainBefore = error.detail()->chain.size();
    CQiError result = coordinator.handlePriamError(error, c.eventId, c.detail);
    EXPECT_EQ(result.GetCode(), error.GetCode());
    EXPECT_EQ(result.GetMessage(), "Priam step failed");
    EXPECT_EQ(result.detail()->chain.size(), chainBefore);
    std::vector<CEventJournal::Entry> entries = CEventJournal::Instance().Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, CEventJournal::kEvent);
    EXPECT_EQ(entries[0].severity, CEventJournal::kMajor);
    EXPECT_EQ(entries[0].id, c.raised);
    EXPECT_EQ(entries[0].args, c.args);
  }
}

}  // namespace
