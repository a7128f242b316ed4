// The restore node controller's argument line, its start (the restore job
// client), the workers it hands out and when it is done.

#include <limits>

#include "RestoreControllerFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientConfig.h"
#include "restore/CassandraRestoreWorker.h"

namespace rctest {
namespace {

using TQCassandra::CCassandraRestoreWorker;

TEST_F(RestoreControllerTest, EveryRestoreOptionIsRequiredAndAMissingOneStopsTheSetUp) {
  const std::vector<std::string> options = {"CassInst",      "DestInstance", "ReplaceDeadNode",
                                            "CrossInstance", "Recover",      "UseSSTableLaoder",
                                            "runDR",         "stagePath",    "StageFreeRestore"};
  for (const std::string& missing : options) {
    SCOPED_TRACE(missing);
    // The line without the option and its value.
    std::vector<std::string> tokens;
    CProgramArgumentsPtr full;
    ASSERT_FALSE(CProgramArguments::Parse(Arguments().Line(), full).IsError());
    std::vector<std::string> all = full->getArguments();
    for (size_t i = 0; i < all.size(); ++i) {
      if (all[i] == "-" + missing) {
        ++i;
        continue;
      }
      tokens.push_back(all[i]);
    }
    controller_.reset(new Controller());
    controller_->setProgramArguments(CProgramArgumentsPtr(new CProgramArguments(tokens)));
    DistributedQEL::NodeInit init = Payload({}, std::nullopt);
    CQiError error = controller_->processNodeInit(&init);
    ASSERT_TRUE(error.IsError());
    // The lookup's own error: the option is absent.
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 259)) << error.AsString(2);
    EXPECT_TRUE(priam_->Sessions().empty());
  }
}

TEST_F(RestoreControllerTest, ArgumentValuesAreReadAsTheCoordinatorWritesThem) {
  struct Case {
    const char* name;
    Arguments arguments;
    const char* forceLoader;  // registry nUseSSTableLoader, "" for none
    uint64_t source, dest;
    bool recover, loader, dead, runDR;
    std::string stagePath;
  };
  Arguments plain;
  Arguments big = plain;
  big.sourceInstance = "18446744073709551615";
  big.destInstance = "4294967296";
  Arguments words = plain;
  words.sourceInstance = "abc";
  Arguments flags = plain;
  flags.recover = 0;
  flags.replaceDeadNode = 1;
  flags.runDR = 7;
  Arguments blank = plain;
  blank.stagePath = "/stage area/with \"quote\"/77";
  const Case cases[] = {
      {"plain", plain, "", 5, 6, true, false, false, false, "/stage/77"},
      {"unsigned 64-bit ids", big, "", std::numeric_limits<uint64_t>::max(), 4294967296ull, true,
       false, false, false, "/stage/77"},
      {"a word reads as 0", words, "", 0, 6, true, false, false, false, "/stage/77"},
      {"flags", flags, "", 5, 6, false, false, true, true, "/stage/77"},
      {"registry forces the loader", plain, "1", 5, 6, true, true, false, false, "/stage/77"},
      {"any other registry value leaves it", plain, "2", 5, 6, true, false, false, false,
       "/stage/77"},
      {"staging path with a blank and a quote", blank, "", 5, 6, true, false, false, false,
       "/stage area/with \"quote\"/77"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    if (*k.forceLoader) {
      CRegistry::Instance().Set("Cassandra", "nUseSSTableLoader", k.forceLoader);
    } else {
      CRegistry::Instance().Remove("Cassandra", "nUseSSTableLoader");
    }
    Controller& c = Make(k.arguments);
    ASSERT_FALSE(c.ParseArgs().IsError());
    EXPECT_EQ(c.sourceInstanceId, k.source);
    EXPECT_EQ(c.destInstanceId, k.dest);
    EXPECT_EQ(c.recover, k.recover);
    EXPECT_EQ(c.useSSTableLoader, k.loader);
    EXPECT_EQ(c.replaceDeadNode, k.dead);
    EXPECT_EQ(c.runDR, k.runDR);
    EXPECT_EQ(c.stagePath, k.stagePath);
    EXPECT_EQ(c.cassandraSleepTime, 3u);
  }
}

TEST_F(RestoreControllerTest, TheOptionsLineAndTheDefaultPause) {
  CRegistry::Instance().Remove("Cassandra", "nCassandraSleepTime");
  Arguments arguments;
  arguments.stageFree = 1;
  CLogCapture log;
  Controller& c = Make(arguments);
  ASSERT_FALSE(c.ParseArgs().IsError());
  EXPECT_EQ(c.cassandraSleepTime, 10u);
  EXPECT_EQ(log.Texts(-1), std::vector<std::string>{" Failed to read the registry value "});
  EXPECT_TRUE(log.Contains(
      "Options: Recover [1] Staging Path [/stage/77] Replace Dead Node [0] UseSStableLoader [0] "
      "Run DR [0]  Source Instance [5] destination [6] Stage Free Restore [1]"));
}

TEST_F(RestoreControllerTest, TheJobClientOfAnUnknownJobFailsTheStart) {
  Controller& c = Make(Arguments());
  DistributedQEL::CClientConfigPtr config;
  ASSERT_FALSE(c.getClientConfigObject(config).IsError());
  ASSERT_FALSE(config->parseArguments(c.getProgramArguments()).IsError());
  ASSERT_FALSE(c.ParseArgs().IsError());
  CLogCapture log;
  CQiError error = c.OnControllerStarted();
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.AsString(2).find("Failed to initialize job clinet object"), std::string::npos);
  EXPECT_TRUE(log.Contains("Failed to initialize job client object"));
  EXPECT_TRUE(c.rstJobClient);
}

TEST_F(RestoreControllerTest, WorkersCarryTheSetUpAndStageFreeRestoresHaveNone) {
  Controller& c = Make(Arguments());
  ASSERT_FALSE(c.ParseArgs().IsError());
  c.dataDirBySource = {{"node1", "/d1"}};
  c.stagingBySource = {{"node1", "/s1"}};
  DistributedQEL::IRestoreWorkerPtr first, second;
  ASSERT_FALSE(c.GetRestoreWorker(first).IsError());
  ASSERT_FALSE(c.GetRestoreWorker(second).IsError());
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get());
  auto* worker = dynamic_cast<CCassandraRestoreWorker*>(first.get());
  ASSERT_NE(worker, nullptr);
  std::string options;
  ASSERT_FALSE(worker->GetExtendedOptions(options).IsError());
  EXPECT_NE(options.find("CassandraRestoreDataDirectory=node1:/d1##;"), std::string::npos)
      << options;

  // Outside a stage-free restore the base decides.
  EXPECT_FALSE(c.isControllerDone());
  c.setStopRequested(true);
  EXPECT_TRUE(c.isControllerDone());

  c.stageFreeRestore = true;
  EXPECT_EQ(c.getNumberOfWorkers(), 0);
  c.setStopRequested(false);
  c.stageFreeFinished = true;
  EXPECT_FALSE(c.isControllerDone());  // not asked to stop yet
  c.setStopRequested(true);
  CLogCapture log;
  EXPECT_TRUE(c.isControllerDone());
  EXPECT_TRUE(log.Contains("Stage free restore completed. Controller done"));
}

}  // namespace
}  // namespace rctest
