// The point-in-time coordinator's start-up: the point in time (the restore's
// to-time, else the job's start time), the destination's commit-log archive
// command, no network share, and the commit-log launcher.

#include <gtest/gtest.h>

#include "RestoreCoordinatorFixture.h"
#include "logrestore/CassandraLogRestoresCoordinator.h"
#include "logrestore/StartClientRestoreCassandraLog.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace restoretest {
namespace {

constexpr int64_t kJob = 48;
constexpr uint64_t kDest = 15;

class LogStartProbe : public TQCassandra::CCassandraLogRestores {
 public:
  LogStartProbe()
      : TQDC_FileSystem::CRestore(false), CCassandraRestores(false), CCassandraLogRestores(false) {}
  using CCassandraLogRestores::pointInTime;
  using CCassandraRestores::destConfig;
  using CCassandraRestores::stageFreeRestore;
};

class LogStartTest : public RestoreCoordinatorTest {
 protected:
  void SetUp() override {
    RestoreCoordinatorTest::SetUp();
    const std::string conf = home_.Sub("conf");
    simtest::WriteFile(conf + "/cassandra.yaml",
                       "cluster_name: Dest\nrpc_address: 10.0.0.5\nnative_transport_port: 9042\n");
    SInstanceSettings settings = InstanceSettings("dest", {Node("d1", "10.0.0.1", "dc1")});
    settings.id = kDest;
    settings.cassandraConfigFile = conf + "/cassandra.yaml";
    settings.archiveCommand = "/usr/local/bin/fetch-log";
    Instance(settings);
  }
  void TearDown() override {
    probe_.reset();
    RestoreCoordinatorTest::TearDown();
  }

  void StoreJob(int64_t toTime, int64_t startTime, bool stageFree,
                const std::string& staging = "/stage") {
    App::CassandraRestoreOptions options;
    options.setRecover(1);
    options.setStagingLocation(staging);
    options.setStageFreeRestore(stageFree ? 1 : 0);
    TqRunner::JobDescription d = Description(kJob);
    d.sourceInstanceId = kDest;
    d.destInstanceId = kDest;
    d.toTime = toTime;
    d.startTime = startTime;
    d.xmlOptions = JobOptionXml(true, true, &options);
    StoreDescription(d);
  }

  CQiError Start() {
    probe_.reset(new LogStartProbe());
    probe_->setFrameworkServices(services_);
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(probe_->getClientConfigObject(config).IsError());
    CProgramArgumentsPtr arguments;
    EXPECT_FALSE(
        CProgramArguments::Parse(
            "-ombrel 2 -appid 1 -j " + std::to_string(kJob) + " -jr " + home_.Sub("jr"), arguments)
            .IsError());
    EXPECT_FALSE(config->parseArguments(arguments).IsError());
    CQiError e = probe_->loadNodeConfiguration();
    if (e.IsError()) return e;
    return probe_->initialize(config, arguments, TQJobClientPtr(new TQJobClient(kJob)),
                              TQJobCtrlClientPtr(new TQJobCtrlClient(kJob)));
  }

  std::unique_ptr<LogStartProbe> probe_;
};

TEST_F(LogStartTest, ThePointInTimeIsTheToTimeElseTheJobStart) {
  struct Case {
    const char* name;
    int64_t toTime;
    int64_t startTime;
    int64_t pointInTime;  // 0: start-up fails
  } cases[] = {
      {"to-time", 1700000500, 1700009999, 1700000500},
      {"no to-time: the job's start", 0, 1700009999, 1700009999},
      {"neither", 0, 0, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Scripted();
    StoreJob(k.toTime, k.startTime, false);
    CQiError e = Start();
    if (k.pointInTime == 0) {
      ASSERT_TRUE(e.IsError());
      EXPECT_TRUE(FXErrorUtil::IsWin32(e, 774)) << e.AsString();
      EXPECT_EQ(e.GetMessage(), "Failed to fetch job start time");
      continue;
    }
    ASSERT_FALSE(e.IsError()) << e.AsString();
    EXPECT_EQ(probe_->pointInTime, k.pointInTime);
    EXPECT_EQ(probe_->destConfig->archiveCommand, "/usr/local/bin/fetch-log");
  }
}

TEST_F(LogStartTest, NoShareAndTheCommitLogLauncher) {
  Scripted();
  StoreJob(1700000500, 0, true);
  CQiError e = Start();
  ASSERT_FALSE(e.IsError()) << e.AsString();
  EXPECT_FALSE(probe_->stageFreeRestore);
  ASSERT_FALSE(
      probe_->initailizeStartClientRestoreObject(probe_->getJobClient(), probe_->getJobCtrlClient())
          .IsError());
  EXPECT_NE(dynamic_cast<TQCassandra::CStartClientRestoreCassandraLog*>(
                probe_->getStartClientRestore().get()),
            nullptr);
}

// The staging folder reaches each node's "restore_directories" and the
// nodes' restart requests; one they cannot carry is refused at start-up,
// before any node controller starts.
TEST_F(LogStartTest, AStagingFolderTheReplayCannotCarryIsRefused) {
  struct Case {
    const char* staging;
    const char* why;  // nullptr: accepted
  } cases[] = {
      {"/stage/a b", "holds a blank"}, {"/stage/a;b", "holds \";\""}, {"/stage/a,b", "holds \",\""},
      {"/stage/a##b", "holds \"##\""}, {"/stage/a:b", "holds \":\""}, {"/stage/a#b-c_d.e", nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.staging);
    Scripted();
    StoreJob(1700000500, 0, false, k.staging);
    CQiError e = Start();
    if (!k.why) {
      EXPECT_FALSE(e.IsError()) << e.AsString();
      continue;
    }
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, 87)) << e.AsString();
    EXPECT_NE(e.GetMessage().find("cannot be used to replay commit logs: it " + std::string(k.why)),
              std::string::npos)
        << e.GetMessage();
  }
}

}  // namespace
}  // namespace restoretest
