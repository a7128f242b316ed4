// The staged load of a loader restore: the restore result files of the job
// read into the folders to load, and each folder loaded through its node's
// Priam with "ExecuteBatch".

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "RestoreFinishFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiPath.h"
#include "platform/log/LogWriter.h"

namespace finishtest {
namespace {

using LoadSet = std::map<std::string, std::list<std::string>>;

class RestoreLoaderTest : public RestoreFinishTest {
 protected:
  void SetUp() override {
    RestoreFinishTest::SetUp();
    controller_->useSSTableLoader = true;
    controller_->taskReceived = true;
    results_ = controller_->restoreResultsDirectory();
    fs::create_directories(results_);
  }

  // A staged file; returns its path.
  std::string Staged(const std::string& path) {
    simtest::WriteFile(path, "sstable");
    return path;
  }

  static std::string Data(const std::string& path) { return path + "  DATA  7"; }

  void Result(const std::string& name, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    simtest::WriteFile(results_ + name, text);
  }

  LoadSet Collect(bool expectComplete = true) {
    LoadSet loadSet;
    EXPECT_EQ(expectComplete, controller_->collectStagedDirectories(loadSet));
    return loadSet;
  }

  // Directories of the "ExecuteBatch" requests of one Priam, checking each
  // body's form.
  std::vector<std::string> Loads(const std::string& conf) const {
    std::vector<std::string> loads;
    for (const auto& r : SessionOf(conf).requests) {
      if (r.resource != "ExecuteBatch") continue;
      EXPECT_EQ(1, r.kind);
      const std::string head = "{\"directory\":\"";
      const std::string tail = "\",\"Connections\":\"2\",\"Progress\":\"1\"}";
      EXPECT_EQ(0u, r.body.find(head)) << r.body;
      EXPECT_EQ(r.body.size() - tail.size(), r.body.rfind(tail)) << r.body;
      loads.push_back(r.body.substr(head.size(), r.body.size() - head.size() - tail.size()));
    }
    return loads;
  }

  std::string results_;
};

TEST_F(RestoreLoaderTest, ResultFilesAreReadFromTheJobsRestoreResultsFolder) {
  EXPECT_EQ(home_.Sub("host1/JobResults") + "/TQ_JobResults/2/0/77/", results_);
}

TEST_F(RestoreLoaderTest, RestoredFilesGiveTheirTableFoldersOncePerNode) {
  const std::string a = home_.Sub("stage/77/host1_a");
  const std::string b = home_.Sub("stage/77/host1_b");
  controller_->hostStagingPath["host1_a"] = a;
  controller_->hostStagingPath["host1_b"] = b + "/";
  Result("restore.1.out", {"BeginDistributedRestore", Data(Staged(a + "/ks1/t1/nb-1-big-Data.db")),
                           Data(Staged(a + "/ks1/t1/nb-1-big-Index.db")),
                           Data(Staged(b + "/ks1/t2/nb-1-big-Data.db")), "some other line",
                           Data(Staged(a + "/ks2/t1/nb-2-big-Data.db")), "EndDistributedRestore",
                           Data(Staged(a + "/ks9/t9/nb-1-big-Data.db"))});
  // Without markers the file is read to its end; a path that no longer
  // exists is dropped.
  Result("restore.2.out",
         {Data(Staged(b + "/ks1/t2/nb-2-big-Data.db")), Data(b + "/ks3/gone/nb-1-big-Data.db"),
          Data(Staged(b + "/ks1/t3/nb-1-big-Data.db"))});
  EXPECT_EQ((LoadSet{{"host1_a", {a + "/ks1/t1", a + "/ks2/t1"}},
                     {"host1_b", {b + "/ks1/t2", b + "/ks1/t3"}}}),
            Collect());
}

TEST_F(RestoreLoaderTest, AStagingFolderTakesOnlyPathsBelowItByWholeComponents) {
  const std::string job1 = home_.Sub("stage/job1");
  const std::string job12 = home_.Sub("stage/job12");
  controller_->stagePath = home_.Sub("stage");
  Staged(job12 + "/ks/t/a-Data.db");
  Staged(job1 + "/ks/t/a-Data.db");
  Result("restore.1.out", {Data(job12 + "/ks/t/a-Data.db"), Data(job1 + "/ks/t/a-Data.db")});
  // job1 alone: job12's file is not its own but lies below the argument
  // line's folder, which stands for this machine's client.
  controller_->hostStagingPath["n1"] = job1;
  EXPECT_EQ((LoadSet{{"n1", {job1 + "/ks/t"}}, {"host1", {job12 + "/ks/t"}}}), Collect());
  // Both, in either order of the map: each takes its own.
  controller_->hostStagingPath["n12"] = job12;
  EXPECT_EQ((LoadSet{{"n1", {job1 + "/ks/t"}}, {"n12", {job12 + "/ks/t"}}}), Collect());
}

TEST_F(RestoreLoaderTest, PathsThatWouldLoadOrRemoveOutsideATableFolderAreDropped) {
  const std::string stage = home_.Sub("stage/77");
  controller_->hostStagingPath["host1"] = stage;
  Staged(home_.Sub("stage/other/ks/t/a-Data.db"));
  Result("restore.1.out",
         {Data(stage + "/../other/ks/t/a-Data.db"), Data(stage + "/ks/./a-Data.db"),
          Data(stage + "//ks/a-Data.db"), Data(Staged(stage + "/a-Data.db")),
          Data(home_.Sub("elsewhere/ks/t/f")), Data("relative/ks/t/f")});
  EXPECT_EQ(LoadSet{}, Collect());
}

TEST_F(RestoreLoaderTest, LinesOfAnyLengthAreRead) {
  const std::string stage = home_.Sub("stage/77");
  controller_->hostStagingPath["host1"] = stage;
  const std::string table = stage + "/ks/" + std::string(200, 't');
  const std::string file = table + "/" + std::string(200, 'f') + "/" + std::string(200, 'g') + "/" +
                           std::string(200, 'h') + "/" + std::string(200, 'i') +
                           "/nb-1-big-Data.db";
  Result("restore.1.out",
         {"BeginDistributedRestore", Data(Staged(file)),
          Data(Staged(stage + "/ks/short/nb-1-big-Data.db")), "EndDistributedRestore"});
  ASSERT_GT(file.size(), 1024u);
  EXPECT_EQ((LoadSet{{"host1", {CQiPath::GetParent(file.c_str()).str(), stage + "/ks/short"}}}),
            Collect());
}

TEST_F(RestoreLoaderTest, OnlyRegularFilesNamedRestoreAreResultFiles) {
  const std::string stage = home_.Sub("stage/77");
  controller_->hostStagingPath["host1"] = stage;
  const std::string elsewhere = home_.Sub("other.out");
  simtest::WriteFile(elsewhere, Data(Staged(stage + "/ks/linked/f-Data.db")) + "\n");
  ASSERT_EQ(0, ::symlink(elsewhere.c_str(), (results_ + "restore.link.out").c_str()));
  fs::create_directories(results_ + "restore.dir");
  Result("results.1.out", {Data(Staged(stage + "/ks/other/f-Data.db"))});
  Result("JobResults_1.raw", {Data(Staged(stage + "/ks/raw/f-Data.db"))});
  Result("restore.1.out.1", {Data(Staged(stage + "/ks/rerun/f-Data.db"))});
  EXPECT_EQ((LoadSet{{"host1", {stage + "/ks/rerun"}}}), Collect());
}

TEST_F(RestoreLoaderTest, EachFolderIsLoadedThroughItsNodeAndRemovedAfterwards) {
  const std::string a = AddTarget("host1_a");
  const std::string b = AddTarget("host1_b");
  const std::string stageA = home_.Sub("stage/a");
  const std::string stageB = home_.Sub("stage/b");
  controller_->hostStagingPath["host1_a"] = stageA;
  controller_->hostStagingPath["host1_b"] = stageB;
  Result("restore.1.out",
         {Data(Staged(stageA + "/ks/t1/f-Data.db")), Data(Staged(stageB + "/ks/t1/f-Data.db")),
          Data(Staged(stageA + "/ks/t2/f-Data.db"))});
  CLogCapture log;
  controller_->OnAgentStopped();
  EXPECT_EQ((std::vector<std::string>{stageA + "/ks/t1", stageA + "/ks/t2"}), Loads(a));
  EXPECT_EQ(std::vector<std::string>{stageB + "/ks/t1"}, Loads(b));
  EXPECT_FALSE(fs::exists(stageA + "/ks/t1"));
  EXPECT_FALSE(fs::exists(stageA + "/ks/t2"));
  EXPECT_FALSE(fs::exists(stageB + "/ks/t1"));
  EXPECT_TRUE(log.Contains("Unable to fetch registry value name for retaining staged paths"));
  EXPECT_TRUE(log.Contains("Successfully loaded tables [" + stageA + "/ks/t1]"));
  // A loader restore refreshes nothing; the Priams stop once loaded.
  for (const auto& session : priamScript_->Sessions()) {
    for (const auto& r : session.requests) EXPECT_EQ("ExecuteBatch", r.resource);
    EXPECT_EQ(1, session.stops);
  }
  EXPECT_FALSE(controller_->reloadFailed);
  EXPECT_TRUE(StatusMessages().empty());
}

TEST_F(RestoreLoaderTest, KeepingStagingPathsFollowsTheRegistry) {
  struct Case {
    const char* keep;  // null: absent
    bool kept;
  } cases[] = {{nullptr, false}, {"0", false}, {"1", true}, {"7", true}};
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    if (c.keep) CRegistry::Instance().Set("Cassandra", "nKeepCassandraStagingPath", c.keep);
    const std::string conf = AddTarget("host1");
    const std::string stage = home_.Sub("stage/77");
    controller_->hostStagingPath["host1"] = stage;
    Result("restore.1.out", {Data(Staged(stage + "/ks/t1/f-Data.db"))});
    controller_->OnAgentStopped();
    EXPECT_EQ(std::vector<std::string>{stage + "/ks/t1"}, Loads(conf));
    EXPECT_EQ(c.kept, fs::exists(stage + "/ks/t1/f-Data.db")) << (c.keep ? c.keep : "absent");
    fs::remove_all(stage);
    fs::remove_all(results_);
  }
}

TEST_F(RestoreLoaderTest, AFailedLoadKeepsItsFolderAndTheNextIsStillLoaded) {
  struct Case {
    bool accessDenied;
  } cases[] = {{false}, {true}};
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    const std::string conf = AddTarget("host1");
    const std::string stage = home_.Sub("stage/77");
    controller_->hostStagingPath["host1"] = stage;
    if (c.accessDenied) {
      priamScript_->SetAccessDenied("ExecuteBatch");
    } else {
      priamScript_->SetError("ExecuteBatch", FXErrorUtil::ErrorWin32(FXLOC, 1627, "loader failed"),
                             "sstableloader exit 1");
    }
    Result("restore.1.out",
           {Data(Staged(stage + "/ks/t1/f-Data.db")), Data(Staged(stage + "/ks/t2/f-Data.db"))});
    CLogCapture log;
    controller_->OnAgentStopped();
    EXPECT_EQ((std::vector<std::string>{stage + "/ks/t1", stage + "/ks/t2"}), Loads(conf));
    EXPECT_TRUE(fs::exists(stage + "/ks/t1/f-Data.db"));
    EXPECT_TRUE(fs::exists(stage + "/ks/t2/f-Data.db"));
    EXPECT_EQ(2u, PendingCauses(kReloadFailed));
    EXPECT_EQ(c.accessDenied ? 2u : 0u, CEventJournal::Instance().Find(kAccessDenied).size());
    EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages());
    if (!c.accessDenied) {
      EXPECT_TRUE(log.Contains("response[sstableloader exit 1]"));
    }
    fs::remove_all(stage);
    fs::remove_all(results_);
  }
}

TEST_F(RestoreLoaderTest, AResultFolderThatCannotBeReadIsAFailedReload) {
  const std::string conf = AddTarget("host1");
  fs::remove_all(results_);
  CLogCapture log;
  controller_->OnAgentStopped();
  EXPECT_TRUE(log.Contains("Unable to access job result directory " + results_));
  EXPECT_TRUE(Loads(conf).empty());
  EXPECT_TRUE(controller_->reloadFailed);
  EXPECT_EQ(1u, PendingCauses(kReloadFailed));
  EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages());
  EXPECT_EQ(1, SessionOf(conf).stops);
}

TEST_F(RestoreLoaderTest, NoResultFileLoadsAndReportsNothing) {
  const std::string conf = AddTarget("host1");
  Result("other.out", {Data(Staged(home_.Sub("stage/77/ks/t/f")))});
  controller_->hostStagingPath["host1"] = home_.Sub("stage/77");
  controller_->OnAgentStopped();
  EXPECT_TRUE(Loads(conf).empty());
  EXPECT_FALSE(controller_->reloadFailed);
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
  EXPECT_TRUE(StatusMessages().empty());
}

TEST_F(RestoreLoaderTest, AFolderWhoseNodeHasNoRunningPriamIsAFailedReload) {
  const std::string conf = AddTarget("host1_a");
  const std::string stage = home_.Sub("stage/b");
  controller_->hostStagingPath["host1_a"] = home_.Sub("stage/a");
  controller_->hostStagingPath["host1_b"] = stage;  // no Priam for this node
  Result("restore.1.out", {Data(Staged(stage + "/ks/t/f-Data.db"))});
  controller_->OnAgentStopped();
  EXPECT_TRUE(Loads(conf).empty());
  EXPECT_TRUE(fs::exists(stage + "/ks/t/f-Data.db"));
  EXPECT_TRUE(controller_->reloadFailed);
  EXPECT_EQ(std::vector<int64_t>{1}, StatusMessages());
}

TEST_F(RestoreLoaderTest, WithoutRecoverANodeWithoutPriamIsSkippedQuietly) {
  controller_->recover = false;
  const std::string stage = home_.Sub("stage/77");
  controller_->hostStagingPath["host1"] = stage;
  AddTarget("host1", false);
  CQiString directory(stage + "/ks/t");
  EXPECT_FALSE(controller_->runSSTableLoader("host1", directory, true).IsError());
  EXPECT_FALSE(controller_->reloadFailed);
  EXPECT_TRUE(CEventJournal::Instance().Entries().empty());
}

TEST_F(RestoreLoaderTest, AQuitLoadsNothingMore) {
  const std::string conf = AddTarget("host1");
  const std::string stage = home_.Sub("stage/77");
  controller_->hostStagingPath["host1"] = stage;
  Result("restore.1.out", {Data(Staged(stage + "/ks/t1/f-Data.db"))});
  TQJobCtrlClient::SetProcessQuitFlag(true);
  CLogCapture log;
  controller_->OnAgentStopped();
  EXPECT_TRUE(log.Contains("Quit flag set. Lets error out"));
  EXPECT_TRUE(Loads(conf).empty());
  EXPECT_TRUE(fs::exists(stage + "/ks/t1/f-Data.db"));
  EXPECT_EQ(1, SessionOf(conf).stops);
}

TEST_F(RestoreLoaderTest, TheLoadBodyIsJsonWhateverTheFolderName) {
  const std::string conf = AddTarget("host1");
  CQiString directory("/stage/a \"b\"\\c");
  EXPECT_FALSE(controller_->runSSTableLoader("host1", directory, false).IsError());
  ASSERT_EQ(1u, SessionOf(conf).requests.size());
  EXPECT_EQ(R"({"directory":"/stage/a \"b\"\\c","Connections":"2","Progress":"1"})",
            SessionOf(conf).requests[0].body);
}

}  // namespace
}  // namespace finishtest
