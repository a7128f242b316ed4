// Failures of a node backup through the real Priam stand-in: the failures
// list keeps every failed keyspace for the done report, a collect-file entry
// that cannot be written fails the generation, a restarted node keeps the
// backup time of its earlier run, and extent backup with only a threshold.

#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/EventJournal.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/ExtentCollectFile.h"

namespace {

using bctest::JobArguments;
using bctest::kSnapshot;
using bctest::Option;

// The controller with the failures-list writer open to the tests.
class FailuresController : public bctest::Controller {
 public:
  using CassandraBackupController::addToFailuresList;
};

class NodeFailuresTest : public bctest::ControllerTest {
 protected:
  void Make(int sstablesPerTable, int keyspaces, int dataDirs) {
    TqSim::FixtureOptions options;
    options.nodes = 1;
    options.keyspaces = keyspaces;
    options.tablesPerKeyspace = 1;
    options.sstablesPerTable = sstablesPerTable;
    options.sstableSize = 64;
    options.dataDirsPerNode = dataDirs;
    // No flush recreates a table directory that a test removed.
    options.unflushedData = false;
    Generate(options);
  }
};

TEST_F(NodeFailuresTest, TheFailuresListKeepsEveryFailedKeyspaceOfThisJob) {
  Make(2, 3, 2);
  const auto& data = cluster_.nodes[0].dataDirs;
  bctest::fs::remove_all(data[1] + "/ks1");
  bctest::fs::remove_all(data[0] + "/ks3");
  // A list left by an earlier job.
  simtest::WriteFile(JR("Failures.tqf"), "host1_10.0.0.9 ks7\n");

  bctest::Controller& controller = StartController(JobArguments());
  CLogCapture log;
  ASSERT_FALSE(Send(Request(1, {})).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  EXPECT_TRUE(log.Contains("Failed to open directory " + data[1] +
                           "/ks1. Adding keyspace ks1 "
                           "into failed file. Continuing"));
  // Both failures, one line each, still there for the done report.
  EXPECT_EQ(simtest::ReadFile(JR("Failures.tqf")),
            InstanceName(0) + " ks1\n" + InstanceName(0) + " ks3\n");
  // The other directories are listed as usual.
  std::vector<std::string> listed = CollectEntries("Tot", 5, 8);
  EXPECT_NE(std::find(listed.begin(), listed.end(), data[0] + "/ks1"), listed.end());
  EXPECT_NE(std::find(listed.begin(), listed.end(), data[1] + "/ks3"), listed.end());
}

// A keyspace or table whose name cannot be a folder name ("..", ".", "",
// one holding "/") is refused with its name: nothing of it is listed or
// snapshotted, its keyspace goes to the failures list and reads failed in
// the done report, and the other keyspaces and tables back up as usual.
TEST_F(NodeFailuresTest, ANameThatCannotBeAFolderNameFailsItsKeyspaceAlone) {
  Make(1, 2, 2);
  const auto& data = cluster_.nodes[0].dataDirs;
  std::vector<DistributedQEL::CassandraKeyspace> keyspaces = Keyspaces();
  ASSERT_EQ(keyspaces.size(), 2u);
  ASSERT_EQ(keyspaces[0].getKeyspaceName(), "ks1");
  DistributedQEL::CassandraTable table;
  table.setTableName("t");
  table.setTableId("5f3a");
  // Tables of ks1 that cannot be folders, beside its real one.
  std::vector<DistributedQEL::CassandraTable> tables = keyspaces[0].getTables();
  for (const char* name : {"..", "a/b"}) {
    DistributedQEL::CassandraTable bad = table;
    bad.setTableName(name);
    tables.push_back(bad);
  }
  keyspaces[0].setTables(tables);
  const std::vector<std::string> badKeyspaces = {"..", ".", "", "a/b"};
  for (const std::string& name : badKeyspaces) {
    DistributedQEL::CassandraKeyspace bad;
    bad.setKeyspaceName(name);
    bad.setTables({table});
    keyspaces.push_back(bad);
  }

  CEventJournal::Instance().Clear();
  bctest::Controller& controller = StartController(JobArguments());
  CLogCapture log;
  ASSERT_FALSE(Send(Request({Entry(NodeRecord(0), keyspaces)}, {})).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  const std::string instance = InstanceName(0);
  std::string failures = instance + " ks1\n";
  for (const std::string& name : badKeyspaces) {
    EXPECT_TRUE(log.Contains("Keyspace \"" + name + "\" of instance " + instance +
                             " cannot be a folder name. Adding keyspace " + name +
                             " into failed file. Continuing"))
        << name;
    failures += instance + " " + name + "\n";
  }
  for (const char* name : {"..", "a/b"}) {
    EXPECT_TRUE(log.Contains("Table \"" + std::string(name) + "\" of keyspace ks1 of instance " +
                             instance +
                             " cannot be a folder name. Adding keyspace ks1 into "
                             "failed file. Continuing"))
        << name;
  }
  EXPECT_EQ(simtest::ReadFile(JR("Failures.tqf")), failures);

  // The snapshot was taken, and only the real keyspaces' folders and files
  // are listed.
  EXPECT_EQ(Snapshots(0).count(kSnapshot), 1u);
  const std::vector<std::string> listed = CollectEntries("Tot", 5, 8);
  size_t snapshotFiles = 0;
  for (const std::string& path : listed) {
    EXPECT_EQ(path.find("/../"), std::string::npos) << path;
    EXPECT_NE(path.substr(path.size() - 3), "/..") << path;
    EXPECT_NE(path.substr(path.size() - 2), "/.") << path;
    EXPECT_EQ(path.find("/a/b"), std::string::npos) << path;
    if (path.find("/snapshots/") != std::string::npos) ++snapshotFiles;
  }
  for (const std::string& dir : data) {
    for (const char* keyspace : {"/ks1", "/ks2"}) {
      EXPECT_NE(std::find(listed.begin(), listed.end(), dir + keyspace), listed.end())
          << dir + keyspace;
    }
  }
  EXPECT_GT(snapshotFiles, 0u);

  // The done report: every refused keyspace and ks1 read failed, ks2 not.
  DistributedQEL::ControllerDone done;
  ASSERT_FALSE(controller.SetAdditionalCtrlDoneValues(done).IsError());
  std::string statusXml;
  for (const auto& value : done.getValues()) {
    if (value.getName() == "CassandraKeyspaceStatus") statusXml = value.getValue();
  }
  App::CassandraLastBackupStatus status;
  ASSERT_EQ(status.unserialize(statusXml), 0) << statusXml;
  ASSERT_EQ(status.getNodeStatuses().size(), 1u);
  std::map<std::string, int> byKeyspace;
  for (const auto& k : status.getNodeStatuses()[0].getKeyspaceStatuses()) {
    byKeyspace[k.getKeyspaceName()] = k.getStatus();
  }
  const std::map<std::string, int> expected = {{"ks1", 0}, {"ks2", 1}, {"..", 0},
                                               {".", 0},   {"", 0},    {"a/b", 0}};
  EXPECT_EQ(byKeyspace, expected);
  EXPECT_TRUE(CEventJournal::Instance().Has(
      TQCassandra::CassandraBackupController::kEvKeyspaceBackupFailed));
}

TEST_F(NodeFailuresTest, WithoutAFailuresListTheJobSucceedsAndMakesNone) {
  Make(1, 1, 1);
  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(bctest::fs::exists(JR("Failures.tqf")));
  ASSERT_FALSE(Send(Request(1, {})).IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);
  EXPECT_FALSE(bctest::fs::exists(JR("Failures.tqf")));
}

TEST_F(NodeFailuresTest, AFailedKeyspaceThatCannotBeRecordedIsAnError) {
  Make(1, 1, 1);
  controller_.reset(new FailuresController());
  FailuresController& controller = static_cast<FailuresController&>(*controller_);
  TQDC_FileSystem::CFSClientConfigPtr config;
  ASSERT_FALSE(controller.getClientConfigObject(config).IsError());
  controller.Config()->setFailuresFilePath(JR("missing/Failures.tqf"));
  CQiError error = controller.addToFailuresList("host1_a", "ks9");
  ASSERT_TRUE(error.IsError());
  EXPECT_NE(error.GetMessage().find("Failed to record failed keyspace ks9 of instance host1_a"),
            std::string::npos)
      << error.AsString();
  controller.Config()->setFailuresFilePath(JR("Failures.tqf"));
  ASSERT_FALSE(controller.addToFailuresList("host1_a", "ks9").IsError());
  ASSERT_FALSE(controller.addToFailuresList("host1_b", "ks8").IsError());
  EXPECT_EQ(simtest::ReadFile(JR("Failures.tqf")), "host1_a ks9\nhost1_b ks8\n");
}

TEST_F(NodeFailuresTest, AnEntryThatCannotBeWrittenFailsTheCollectFiles) {
  // Enough snapshot files that the flat collect file is written while the
  // walk runs, onto a device that is always full.
  Make(80, 1, 1);
  ASSERT_EQ(::symlink("/dev/full", JR("CollectTot1.tqf").c_str()), 0);
  bctest::Controller& controller = StartController(JobArguments());
  CLogCapture log;
  ASSERT_FALSE(Send(Request(1, {})).IsError());
  EXPECT_TRUE(controller.collectFileCreationFailed);
  EXPECT_TRUE(log.Contains("Failed to create collect files: "));
  EXPECT_TRUE(log.Contains("to collect file " + JR("CollectTot1.tqf")));
  EXPECT_EQ(controller.Config()->getCollectFileCount(), 0u);
  EXPECT_FALSE(bctest::fs::exists(JR("CollectTot5.tqf")));
}

TEST_F(NodeFailuresTest, ARestartedNodeKeepsTheBackupTimeAndFailuresOfItsEarlierRun) {
  Make(1, 2, 1);
  bctest::fs::remove_all(cluster_.nodes[0].dataDirs[0] + "/ks2");
  {
    bctest::Controller& first = StartController(JobArguments());
    ASSERT_FALSE(Send(Request(1, {Option("CreateCollectFiles", "y")})).IsError());
    ASSERT_FALSE(first.collectFileCreationFailed);
    first.uninitializePriam();
    controller_.reset();
  }
  const std::string info = simtest::ReadFile(JR("CassandraCleanupInfoFile"));
  int64_t firstTime = 0;
  {
    // The first run keeps the time it took before its flush.
    const std::string kept = simtest::ReadFile(JR("CassandraBackupTime"));
    ASSERT_FALSE(kept.empty());
    firstTime = std::stoll(kept);
    EXPECT_EQ(kept, std::to_string(firstTime) + "\n");
    EXPECT_LE(firstTime, std::stoll(info.substr(0, info.find('\n'))));
  }
  // The rerun reports the kept time, not the snapshot time after the flush.
  firstTime -= 3600;
  simtest::WriteFile(JR("CassandraBackupTime"), std::to_string(firstTime) + "\n");
  const std::string collectFile = simtest::ReadFile(JR("CollectTot5.tqf"));
  const std::string failures = simtest::ReadFile(JR("Failures.tqf"));
  ASSERT_EQ(failures, InstanceName(0) + " ks2\n");
  ChangeCluster([](TqSim::SimCluster& c) { c.nodes[0].unflushed = {"ks1.t1"}; });

  // The job restarts; the coordinator tells the node its collect files exist.
  bctest::Controller& second = StartController(JobArguments());
  ASSERT_FALSE(Send(Request(1, {Option("CreateCollectFiles", "n")})).IsError());
  EXPECT_FALSE(second.collectFileCreationFailed);
  EXPECT_TRUE(second.collectFilesSkipped);
  EXPECT_EQ(second.backupStartTime, firstTime);
  EXPECT_EQ(simtest::ReadFile(JR("Failures.tqf")), failures);
  EXPECT_EQ(simtest::ReadFile(JR("CollectTot5.tqf")), collectFile);
  EXPECT_EQ(simtest::ReadFile(JR("CassandraCleanupInfoFile")), info);
  TqSim::SimClusterFile file(cluster_.clusterFile);
  std::string error;
  ASSERT_TRUE(file.Load(sim_, error)) << error;
  EXPECT_EQ(sim_.nodes[0].unflushed, (std::vector<std::string>{"ks1.t1"}));
  EXPECT_EQ(Snapshots(0), (std::set<std::string>{kSnapshot}));
}

TEST_F(NodeFailuresTest, ASkippingNodeWithoutAnEarlierRunOfThisJobHasNoBackupTime) {
  Make(1, 1, 1);
  // Nothing at all; then the files of another job's run.
  for (bool otherJob : {false, true}) {
    SCOPED_TRACE(otherJob ? "files of job 204" : "no files");
    if (otherJob) {
      simtest::WriteFile(JR("SubclientdirState.tqf"), "204");
      simtest::WriteFile(JR("CassandraCleanupInfoFile"), "1700000000\n");
      simtest::WriteFile(JR("CassandraBackupTime"), "1700000000\n");
    }
    bctest::Controller& controller = StartController(JobArguments());
    CLogCapture log;
    ASSERT_FALSE(Send(Request(1, {Option("CreateCollectFiles", "n")})).IsError());
    EXPECT_TRUE(controller.collectFilesSkipped);
    EXPECT_EQ(controller.backupStartTime, 0);
    EXPECT_TRUE(log.Contains("no backup time of an earlier run"));
    controller_->uninitializePriam();
    controller_.reset();
  }
}

// A rerun of this job whose first run left no backup time (only the
// snapshot time beside its collect files) reports 0.
TEST_F(NodeFailuresTest, ARerunWithoutTheKeptBackupTimeReportsZero) {
  Make(1, 1, 1);
  {
    bctest::Controller& first = StartController(JobArguments());
    ASSERT_FALSE(Send(Request(1, {Option("CreateCollectFiles", "y")})).IsError());
    first.uninitializePriam();
    controller_.reset();
  }
  ASSERT_TRUE(bctest::fs::remove(JR("CassandraBackupTime")));
  bctest::Controller& second = StartController(JobArguments());
  CLogCapture log;
  ASSERT_FALSE(Send(Request(1, {Option("CreateCollectFiles", "n")})).IsError());
  EXPECT_TRUE(second.collectFilesSkipped);
  EXPECT_EQ(second.backupStartTime, 0);
  EXPECT_TRUE(log.Contains("No backup time of an earlier run in " + JR("CassandraBackupTime")));
}

struct ExtentCase {
  const char* name;
  const char* extentSize;  // nullptr: not sent
  uint64_t expectedExtentSize;
  size_t extentsPerDataFile;
};

class ExtentBackupTest : public NodeFailuresTest,
                         public ::testing::WithParamInterface<ExtentCase> {};

TEST_P(ExtentBackupTest, LargeFilesAreListedInExtents) {
  const ExtentCase& c = GetParam();
  Make(1, 1, 1);
  std::vector<DistributedQEL::DINameValue> options = {Option("LargeFileThreshold", "32")};
  if (c.extentSize) options.push_back(Option("ExtentSize", c.extentSize));
  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(Send(Request(1, options)).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(controller.Config()->extentSize, c.expectedExtentSize);

  // Data.db (64 bytes) is above the threshold, the small components are not.
  size_t dataExtents = 0, wholeData = 0;
  for (int i = 5; i <= 8; ++i) {
    std::string text = simtest::ReadFile(JR("CollectTot" + std::to_string(i) + ".tqf"));
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      std::string line = text.substr(start, end - start);
      start = end == std::string::npos ? text.size() : end + 1;
      if (line.empty()) continue;
      MultiNodeBackupOps::CCollectFileEntry entry;
      ASSERT_FALSE(MultiNodeBackupOps::CCollectFileEntry::ParseNumberedLine(line, entry).IsError())
          << line;
      if (entry.path.find("/snapshots/") == std::string::npos ||
          entry.path.find("-Data.db") == std::string::npos) {
        continue;
      }
      if (entry.isExtent) {
        ++dataExtents;
        EXPECT_EQ(entry.fileSize, 64u);
      } else {
        ++wholeData;
      }
    }
  }
  EXPECT_EQ(wholeData, 0u);
  EXPECT_EQ(dataExtents, c.extentsPerDataFile);
}

const ExtentCase kExtentCases[] = {
    {"ThresholdAloneUsesTheDefaultExtentSize", nullptr,
     MultiNodeBackupOps::CExtentCollectFile::kDefaultExtentSize, 1},
    {"ExtentSizeGiven", "16", 16, 4},
};

INSTANTIATE_TEST_SUITE_P(Cases, ExtentBackupTest, ::testing::ValuesIn(kExtentCases),
                         [](const ::testing::TestParamInfo<ExtentCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
