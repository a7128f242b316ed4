// An incremental backup on two instances through the real Priam stand-in:
// backed-up keyspaces are listed from backups/, a keyspace without last
// status from the job's snapshot, and incremental backup must be on.

#include <set>
#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"

namespace {

using bctest::JobArguments;
using bctest::kSnapshot;
using bctest::Option;

constexpr uint32_t kEvKeyspacesTakenFull = 0x60003D8;
constexpr uint32_t kEvIncrementalDisabled = 0x60003E7;

class IncrementalBackupTest : public bctest::ControllerTest {
 protected:
  void Make(bool incrementalBackups) {
    TqSim::FixtureOptions options;
    options.nodes = 2;
    options.keyspaces = 2;
    options.tablesPerKeyspace = 2;
    options.sstablesPerTable = 2;
    options.sstableSize = 64;
    options.dataDirsPerNode = 2;
    options.incrementalBackups = incrementalBackups;
    Generate(options);
  }

  // A backed up ks1 and has no status for ks2; B backed up both.
  std::string Status() const {
    return LastStatus(
        {{InstanceName(0), {{"ks1", 1}}}, {InstanceName(1), {{"ks1", 1}, {"ks2", 1}}}});
  }
};

TEST_F(IncrementalBackupTest, ListsBackupsAndTakesANewKeyspaceFull) {
  Make(true);
  JobArguments job;
  job.level = 2;
  bctest::Controller& controller = StartController(job);
  ASSERT_FALSE(Send(Request(2, {Option("LastBackupStatus", Status())})).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(controller.Config()->getBackupLevel(), 2);

  // Only ks2 of A is snapshotted, with its event.
  auto events = CEventJournal::Instance().Find(kEvKeyspacesTakenFull);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].args, (std::vector<std::string>{"ks2"}));
  EXPECT_EQ(Snapshots(0), (std::set<std::string>{kSnapshot}));
  EXPECT_TRUE(Snapshots(1).empty());
  std::string info = simtest::ReadFile(JR("CassandraCleanupInfoFile"));
  EXPECT_EQ(info.substr(info.find('\n') + 1), InstanceName(0) + " ;" +
                                                  cluster_.nodes[0].dataDirs[0] + ";" +
                                                  cluster_.nodes[0].dataDirs[1] + "\n");

  std::vector<std::string> expected =
      ExpectedEntries({0, 1}, [](size_t node, const std::string& keyspace) {
        return node == 0 && keyspace == "ks2" ? std::string("snapshots/") + kSnapshot
                                              : std::string("backups");
      });
  std::set<std::string> names;
  for (int i = 5; i <= 8; ++i) names.insert("CollectInc" + std::to_string(i) + ".tqf");
  EXPECT_EQ(CollectFileNames(), names);
  std::vector<std::string> listed = CollectEntries("Inc", 5, 8);
  EXPECT_EQ(listed, expected);

  // The flush linked a new generation of every table into backups/, and it
  // is listed for the incremental keyspaces.
  int flushedBackups = 0;
  for (const auto& path : listed) {
    if (path.find("/backups/") != std::string::npos &&
        path.find("-3-big-Data.db") != std::string::npos) {
      ++flushedBackups;
    }
  }
  EXPECT_EQ(flushedBackups, 2 + 4);
}

TEST_F(IncrementalBackupTest, NeedsIncrementalBackupOnEveryInstance) {
  Make(false);
  JobArguments job;
  job.level = 2;
  bctest::Controller& controller = StartController(job);
  ASSERT_FALSE(Send(Request(2, {Option("LastBackupStatus", Status())})).IsError());
  EXPECT_TRUE(controller.collectFileCreationFailed);
  EXPECT_TRUE(CEventJournal::Instance().Has(kEvIncrementalDisabled));
  // Nothing was flushed, snapshotted or listed.
  TqSim::SimClusterFile file(cluster_.clusterFile);
  std::string error;
  ASSERT_TRUE(file.Load(sim_, error)) << error;
  EXPECT_FALSE(sim_.nodes[0].unflushed.empty());
  EXPECT_TRUE(Snapshots(0).empty());
  EXPECT_TRUE(CollectFileNames().empty());
}

TEST_F(IncrementalBackupTest, WithoutLastStatusTheNodeRunsFull) {
  Make(false);
  JobArguments job;
  job.level = 2;
  bctest::Controller& controller = StartController(job);
  ASSERT_FALSE(Send(Request(2, {Option("LastBackupStatus", "")})).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  EXPECT_EQ(controller.Config()->getBackupLevel(), 1);
  EXPECT_EQ(CollectEntries("Tot", 5, 8), ExpectedEntries({0, 1}, bctest::FromSnapshot));
}

}  // namespace
