// A full backup on a node machine that hosts two Cassandra instances of a
// generated cluster, through the real Priam stand-in: Priams, snapshot
// clean-up, flush, snapshot, the cleanup info file, the state file and the
// collect files split into the node's numbered range.

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "sim/lib/SimTableDir.h"

namespace {

using bctest::ControllerTest;
using bctest::JobArguments;
using bctest::kSnapshot;
using bctest::Option;

constexpr uint32_t kEvPriamStartFailed = 0x60003D4;

class FullBackupTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    TqSim::FixtureOptions options;
    options.nodes = 3;
    options.keyspaces = 2;
    options.tablesPerKeyspace = 2;
    options.sstablesPerTable = 2;
    options.sstableSize = 64;
    options.dataDirsPerNode = 2;
    Generate(options);
  }

  // Snapshots that earlier jobs left on node i.
  void LeaveEarlierSnapshots(size_t i) {
    for (const char* name : {"12TQsnapshot100", "123TQsnapshot7", "7TQsnapshot12"}) {
      TqSim::SimReply reply = SimRequest(i, std::string("snapshot?SnapID=") + name);
      ASSERT_EQ(reply.status, 200) << reply.text;
    }
  }

  // Every file under a snapshots/<job snapshot>/ directory of node i.
  std::multiset<std::string> SnapshotFilesOnDisk(size_t i) const {
    std::multiset<std::string> files;
    for (const auto& data : cluster_.nodes[i].dataDirs) {
      for (const auto& e : bctest::fs::recursive_directory_iterator(data)) {
        const std::string path = e.path().string();
        if (e.is_regular_file() &&
            path.find(std::string("/snapshots/") + kSnapshot + "/") != std::string::npos) {
          files.insert(path);
        }
      }
    }
    return files;
  }
};

// The split's bound of entries per collect file: none keeps the node's four
// numbered files; a bound of one entry makes more files than the node's
// range, and the rest stay temporary.
class FullBackupSplitTest : public FullBackupTest, public ::testing::WithParamInterface<int> {};

TEST_P(FullBackupSplitTest, TwoInstancesAreSnapshottedAndListedInTheNodesRange) {
  const int cap = GetParam();
  if (cap > 0) {
    CRegistry::Instance().Set(CPostProcessingOptions::kRegistrySection,
                              CPostProcessingOptions::kMaxEntriesValue, std::to_string(cap));
  }
  LeaveEarlierSnapshots(0);
  LeaveEarlierSnapshots(1);
  LeaveEarlierSnapshots(2);

  JobArguments job;  // full, 2 streams, first collect file 5
  bctest::Controller& controller = StartController(job);
  const int64_t before = std::time(nullptr);
  ASSERT_FALSE(Send(Request(2, {Option("CreateCollectFiles", "y")})).IsError());
  const int64_t after = std::time(nullptr);
  ASSERT_FALSE(controller.collectFileCreationFailed);

  // One Priam per instance, both running as child processes.
  ASSERT_EQ(controller.priamByInstance.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    auto priam = controller.priamByInstance[InstanceName(i)];
    ASSERT_TRUE(priam);
    EXPECT_TRUE(priam->getIsConnected());
  }
  EXPECT_EQ(simtest::ChildrenOf(::getpid()).size(), 2u);

  // Only this subclient's earlier snapshots are cleared, only on this node.
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Snapshots(i),
              (std::set<std::string>{"123TQsnapshot7", "12TQsnapshot205", "7TQsnapshot12"}))
        << "node " << i;
  }
  EXPECT_EQ(Snapshots(2),
            (std::set<std::string>{"123TQsnapshot7", "12TQsnapshot100", "7TQsnapshot12"}));

  // Both instances flushed (the third node is no instance of this machine).
  TqSim::SimClusterFile file(cluster_.clusterFile);
  std::string error;
  ASSERT_TRUE(file.Load(sim_, error)) << error;
  EXPECT_TRUE(sim_.nodes[0].unflushed.empty());
  EXPECT_TRUE(sim_.nodes[1].unflushed.empty());
  EXPECT_FALSE(sim_.nodes[2].unflushed.empty());

  // Every live SSTable component, the flushed ones included, is hard-linked
  // into the job's snapshot.
  for (size_t i = 0; i < 2; ++i) {
    for (const std::string& table : TableDirs(i)) {
      std::vector<std::string> live = bctest::FilesIn(table);
      ASSERT_FALSE(live.empty()) << table;
      for (const std::string& name : live) {
        if (name == TqSim::SimTableDir::kLiveRecord) continue;  // the stand-in's own record
        const std::string link = table + "/snapshots/" + kSnapshot + "/" + name;
        EXPECT_EQ(bctest::Inode(link), bctest::Inode(table + "/" + name)) << link;
      }
    }
  }

  // CassandraCleanupInfoFile: the snapshot time, then each instance with its
  // data directories.
  std::string info = simtest::ReadFile(JR("CassandraCleanupInfoFile"));
  size_t eol = info.find('\n');
  ASSERT_NE(eol, std::string::npos) << info;
  int64_t snapshotTime = std::stoll(info.substr(0, eol));
  EXPECT_GE(snapshotTime, before);
  EXPECT_LE(snapshotTime, after);
  std::string expectedLines;
  for (size_t i = 0; i < 2; ++i) {
    expectedLines += InstanceName(i) + " ";
    for (const auto& d : cluster_.nodes[i].dataDirs) expectedLines += ";" + d;
    expectedLines += "\n";
  }
  EXPECT_EQ(info.substr(eol + 1), expectedLines);
  EXPECT_GE(controller.backupStartTime, before);
  EXPECT_LE(controller.backupStartTime, snapshotTime);

  EXPECT_EQ(simtest::ReadFile(JR("SubclientdirState.tqf")), "205");

  // The collect files: the node's numbers 5 to 8, then the surplus under
  // their temporary names, together listing every entry once, in order.
  std::vector<std::string> expected = ExpectedEntries({0, 1}, bctest::FromSnapshot);
  const int n = static_cast<int>(controller.Config()->getCollectFileCount());
  EXPECT_EQ(controller.Config()->getCollectFileStart(), 5u);
  std::set<std::string> names;
  for (int i = 5; i <= 8; ++i) names.insert("CollectTot" + std::to_string(i) + ".tqf");
  if (cap == 0) {
    EXPECT_EQ(n, 4);
  } else {
    EXPECT_EQ(n, static_cast<int>((expected.size() + cap - 1) / cap));
    for (int i = 5; i <= n; ++i) names.insert("CollectTot" + std::to_string(i) + "tmp.tqf");
  }
  EXPECT_EQ(CollectFileNames(), names);
  std::vector<std::string> listed = CollectEntries("Tot", 5, 8, 5, cap == 0 ? 0 : n);
  EXPECT_EQ(listed, expected);

  // Every file of both snapshots exactly once.
  std::multiset<std::string> snapshotFiles = SnapshotFilesOnDisk(0);
  for (const auto& f : SnapshotFilesOnDisk(1)) snapshotFiles.insert(f);
  std::multiset<std::string> listedFiles;
  for (const auto& path : listed) {
    if (path.find("/snapshots/") != std::string::npos) listedFiles.insert(path);
  }
  EXPECT_EQ(listedFiles, snapshotFiles);
  // The flush wrote generation 3 of each of the four tables per instance
  // before the snapshot was taken.
  int flushedData = 0;
  for (const auto& path : snapshotFiles) {
    flushedData += path.size() > 14 && path.compare(path.size() - 14, 14, "-3-big-Data.db") == 0;
  }
  EXPECT_EQ(flushedData, 8);
}

INSTANTIATE_TEST_SUITE_P(Caps, FullBackupSplitTest, ::testing::Values(0, 1, 7));

TEST_F(FullBackupTest, APriamThatFailsToStartLeavesItsInstanceOutAndTheOtherRuns) {
  ChangeCluster([this](TqSim::SimCluster& c) {
    TqSim::SimFault fault;
    fault.when = "start";
    fault.node = cluster_.nodes[1].address;
    fault.action = "exit";
    fault.status = 3;
    fault.text = "cannot reach JMX";
    c.faults.push_back(fault);
  });
  LeaveEarlierSnapshots(1);

  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(Send(Request(2, {Option("CreateCollectFiles", "y")})).IsError());
  EXPECT_FALSE(controller.collectFileCreationFailed);

  ASSERT_EQ(controller.priamByInstance.size(), 2u);
  EXPECT_TRUE(controller.priamByInstance[InstanceName(0)]->getIsConnected());
  ASSERT_TRUE(controller.priamByInstance[InstanceName(1)]);
  EXPECT_FALSE(controller.priamByInstance[InstanceName(1)]->getIsConnected());
  auto events = CEventJournal::Instance().Find(kEvPriamStartFailed);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kMajor);
  ASSERT_EQ(events[0].args.size(), 1u);

  // The failed instance is neither cleaned, snapshotted nor listed.
  EXPECT_EQ(Snapshots(1),
            (std::set<std::string>{"123TQsnapshot7", "12TQsnapshot100", "7TQsnapshot12"}));
  EXPECT_EQ(Snapshots(0), (std::set<std::string>{"12TQsnapshot205"}));
  std::string info = simtest::ReadFile(JR("CassandraCleanupInfoFile"));
  EXPECT_EQ(info.substr(info.find('\n') + 1), InstanceName(0) + " ;" +
                                                  cluster_.nodes[0].dataDirs[0] + ";" +
                                                  cluster_.nodes[0].dataDirs[1] + "\n");
  std::vector<std::string> expected = ExpectedEntries({0}, bctest::FromSnapshot);
  EXPECT_EQ(CollectEntries("Tot", 5, 8), expected);
}

TEST_F(FullBackupTest, OnlyTheRequestsTablesAreListedAndOldLayoutDirectoriesAreNoted) {
  // ks1 with its first table only, ks2 without tables; instance 2 has no
  // keyspaces and no data directories in its record.
  std::vector<DistributedQEL::CassandraKeyspace> keyspaces = Keyspaces();
  std::vector<DistributedQEL::CassandraTable> tables = keyspaces[0].getTables();
  keyspaces[0].setTables({tables[0]});
  keyspaces[1].setTables({});
  const std::string ks1 = cluster_.nodes[0].dataDirs[0] + "/ks1";
  const std::string t1Dir = ks1 + "/t1-" + tables[0].getTableId();
  ASSERT_TRUE(bctest::fs::is_directory(t1Dir));
  // Names that stand for no table of the request: another id, too many
  // dashes, and a directory of the old layout without id.
  for (const char* other : {"t1-00000000000000000000000000000000", "t1-a-b", "oldtable"}) {
    bctest::fs::create_directories(ks1 + "/" + other);
  }

  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(Send(Request({Entry(NodeRecord(0), keyspaces), Entry(NodeRecord(1, false), {})}, {}))
                   .IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  EXPECT_TRUE(controller.legacyTableDirs);
  // The record without data directories got them from the configuration.
  EXPECT_EQ(controller.Config()->nodeProperties[InstanceName(1)].dataDirectories,
            cluster_.nodes[1].dataDirs);

  std::vector<std::string> expected;
  for (const auto& d : cluster_.nodes[0].dataDirs) expected.push_back(d);
  std::vector<std::string> files;
  for (const auto& d : cluster_.nodes[0].dataDirs) {
    expected.push_back(d + "/ks1");
    const std::string table = d + "/ks1/t1-" + tables[0].getTableId();
    expected.push_back(table);
    for (const auto& f : bctest::FilesIn(table + "/snapshots/" + kSnapshot)) {
      files.push_back(table + "/snapshots/" + kSnapshot + "/" + f);
    }
  }
  ASSERT_FALSE(files.empty());
  expected.insert(expected.end(), files.begin(), files.end());
  EXPECT_EQ(CollectEntries("Tot", 5, 8), expected);

  // Once a directory of the old layout was seen, the clean-up no longer
  // lists snapshots: a post-backup clean-up clears the job's by name.
  EXPECT_TRUE(Snapshots(0).count(kSnapshot));
  CLogCapture log;
  controller.deleteSnapshots(true);
  EXPECT_TRUE(log.Contains("Not listing snapshots"));
  EXPECT_FALSE(Snapshots(0).count(kSnapshot));
}

}  // namespace
