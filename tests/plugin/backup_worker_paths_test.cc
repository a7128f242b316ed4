// The backup worker's header paths: which instance and data directory hold
// a file, and where under cluster, data centre, instance, keyspace and table
// each listed path is recorded.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "tests/plugin/BackupWorkerTestSupport.h"

namespace {

using workertest::FileTypeOf;
using workertest::WorkerFixture;

class WorkerPaths : public WorkerFixture {
 protected:
  // (header path, file type) of every stored item, in order.
  std::vector<std::pair<std::string, int>> Stored() const {
    std::vector<std::pair<std::string, int>> stored;
    for (const auto& item : stream_->Items())
      stored.emplace_back(item.header.headerPath, FileTypeOf(item.header));
    return stored;
  }
};

TEST_F(WorkerPaths, ANodeRunRecordsEachLevelUnderItsHeaderPathAndType) {
  ASSERT_FALSE(
      Run({dataDir_, dataDir_ + "/ks", tableDir_, snapshotFiles_[0], snapshotFiles_[1]}).IsError());
  const std::vector<std::pair<std::string, int>> expected = {
      {"/Cl", 6},
      {"/Cl/dc1", 1},
      {"/Cl/dc1/inst1", 0},
      {"/Cl/dc1/inst1/ks", 3},
      {"/Cl/dc1/inst1/ks/tbl", 2},
      {"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db", 4},
      {"/Cl/dc1/inst1/ks/tbl/na-1-big-Index.db", 4},
  };
  EXPECT_EQ(Stored(), expected);
  const auto items = stream_->Items();
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(items[i].header.sourcePath, dataDir_);
    EXPECT_TRUE(items[i].header.isDirectory);
  }
  EXPECT_EQ(items[5].data, simtest::ReadFile(snapshotFiles_[0]));
  EXPECT_EQ(items[6].data, simtest::ReadFile(snapshotFiles_[1]));
  for (const auto& item : items) EXPECT_EQ(item.header.itemFlags, 0u);
  EXPECT_FALSE(std::filesystem::exists(params_->failedFilePath));
}

// Directories listed with a final "/", table directory names with no or
// several "-", files at any depth below the table directory.
TEST_F(WorkerPaths, NamesOfDirectoriesAndTables) {
  const struct {
    std::string relative;  // below the data directory; "" is the directory itself
    std::vector<std::string> headerPaths;
  } cases[] = {
      {"/", {"/Cl", "/Cl/dc1", "/Cl/dc1/inst1"}},
      {"/ks/", {"/Cl/dc1/inst1/ks"}},
      {"/ks/tbl-5f3a/", {"/Cl/dc1/inst1/ks/tbl"}},
      {"/ks/plain", {"/Cl/dc1/inst1/ks/plain"}},
      {"/ks/a-b-c", {"/Cl/dc1/inst1/ks/a"}},
      {"/ks/x-y-z/f.db", {"/Cl/dc1/inst1/ks/x/f.db"}},
      {"/ks/tbl-5f3a/backups/na-2-big-Data.db", {"/Cl/dc1/inst1/ks/tbl/na-2-big-Data.db"}},
      {"/ks/tbl-5f3a/snapshots/S/deeper/x.db", {"/Cl/dc1/inst1/ks/tbl/x.db"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.relative);
    const std::string path = dataDir_ + c.relative;
    if (path.back() == '/')
      std::filesystem::create_directories(path);
    else
      simtest::WriteFile(path, "x");
    stream_.reset(new workertest::CInMemoryDataStream());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
    ASSERT_FALSE(Run({path}).IsError());
    EXPECT_EQ(HeaderPaths(), c.headerPaths);
    for (const auto& item : stream_->Items()) EXPECT_EQ(item.header.sourcePath, path);
  }
}

// A data directory configured with a final "/" gives the same header paths.
TEST_F(WorkerPaths, ADataDirectoryConfiguredWithAFinalSlash) {
  params_->instanceParams[0].dataDirectories = {dataDir_ + "/"};
  ASSERT_FALSE(Run({dataDir_ + "/", dataDir_ + "/ks", tableDir_, snapshotFiles_[0]}).IsError());
  EXPECT_EQ(HeaderPaths(), (std::vector<std::string>{"/Cl", "/Cl/dc1", "/Cl/dc1/inst1",
                                                     "/Cl/dc1/inst1/ks", "/Cl/dc1/inst1/ks/tbl",
                                                     "/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db"}));
}

// Data directories are matched by whole components, the longest first: a file
// under /d10 belongs to the instance of /d10 even though "/d1" is a prefix of
// its text, whichever was seen first.
TEST_F(WorkerPaths, AFileBelongsToTheLongestDataDirectoryThatHoldsItWhole) {
  const std::string d10 = dir_.Sub("d10");
  const std::string nested = dataDir_ + "/ks2";
  params_->instanceParams.push_back(CassandraNodeInstanceParams("dc2", "r", "inst10", {d10}, ""));
  params_->instanceParams.push_back(
      CassandraNodeInstanceParams("dc3", "r", "instNested", {nested}, ""));
  const std::string in1 = dataDir_ + "/ks/t-1/a.db";
  const std::string in10 = d10 + "/ks/t-1/b.db";
  const std::string inNested = nested + "/ks/t-1/c.db";
  for (const auto& path : {in1, in10, inNested}) simtest::WriteFile(path, path);
  ASSERT_FALSE(Run({in1, in10, in1, inNested, d10, in10}).IsError());
  EXPECT_EQ(HeaderPaths(), (std::vector<std::string>{
                               "/Cl/dc1/inst1/ks/t/a.db",
                               "/Cl/dc2/inst10/ks/t/b.db",
                               "/Cl/dc1/inst1/ks/t/a.db",
                               "/Cl/dc3/instNested/ks/t/c.db",
                               "/Cl",
                               "/Cl/dc2",
                               "/Cl/dc2/inst10",
                               "/Cl/dc2/inst10/ks/t/b.db",
                           }));
}

// A file that lies in no data directory fails alone, with a clear error; it is
// never recorded under the instance of the file before it.
TEST_F(WorkerPaths, AFileOutsideEveryDataDirectoryFailsAlone) {
  const std::string outside = dir_.Sub("d1x/ks/t-1/f.db");
  simtest::WriteFile(outside, "x");
  CLogCapture log;
  CQiError error = Run({snapshotFiles_[0], outside, snapshotFiles_[1]});
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774)) << error.AsString(2);
  EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + collectFile_);
  EXPECT_EQ(HeaderPaths(), (std::vector<std::string>{"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db",
                                                     "/Cl/dc1/inst1/ks/tbl/na-1-big-Index.db"}));
  EXPECT_TRUE(stream_->ItemsOf(outside).empty());
  EXPECT_TRUE(
      log.Contains(outside + " lies in no data directory of this node's Cassandra instances"));
  EXPECT_FALSE(std::filesystem::exists(params_->failedFilePath));
}

// A name that is empty or holds a "/" would shift every later field of the
// header path: each item it reaches is refused with a clear error, a failed
// keyspace-level item is listed, and nothing is stored under a shifted path.
TEST_F(WorkerPaths, ANameThatCannotBeAComponentRefusesTheItem) {
  const struct {
    const char* name;
    std::string cluster, dataCenter, instance;
    const char* field;
  } cases[] = {
      {"no data centre", "Cl", "", "inst1", "data centre"},
      {"data centre with a slash", "Cl", "dc/1", "inst1", "data centre"},
      {"no cluster", "", "dc1", "inst1", "cluster"},
      {"no instance", "Cl", "dc1", "", "instance"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(params_->failedFilePath);
    params_->clusterName = c.cluster;
    params_->instanceParams = {
        CassandraNodeInstanceParams(c.dataCenter, "rack1", c.instance, {dataDir_}, "")};
    worker_.reset(new CassandraBackupWorker(3));
    ASSERT_FALSE(worker_->Initialize(params_).IsError());
    stream_.reset(new workertest::CInMemoryDataStream());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
    CLogCapture log;
    CQiError error = Run({dataDir_, snapshotFiles_[0]});
    EXPECT_TRUE(error.IsError());
    // Only the levels above the bad name are stored.
    for (const std::string& path : HeaderPaths()) {
      EXPECT_TRUE(path == "/Cl" || path == "/Cl/dc1") << path;
    }
    EXPECT_TRUE(stream_->ItemsOf(snapshotFiles_[0]).empty());
    EXPECT_TRUE(log.Contains("Cannot back up " + snapshotFiles_[0] + ": its " + c.field +
                             " name \"" +
                             (c.field == std::string("cluster")    ? c.cluster
                              : c.field == std::string("instance") ? c.instance
                                                                   : c.dataCenter) +
                             "\" is empty, \".\" or \"..\", or holds a \"/\""));
    EXPECT_EQ(simtest::ReadFile(params_->failedFilePath), c.instance + " ks\n");
  }
}

// A keyspace or table folder named "." or ".." (a path that climbs out of
// the data directory or stays in place) is refused with its name, and its
// keyspace is listed as failed; the other items are stored.
TEST_F(WorkerPaths, AKeyspaceOrTableNamedDotOrDotDotIsRefused) {
  const struct {
    std::string relative;  // below the data directory
    const char* field;
    const char* name;
    const char* failedLine;  // the failures list after the run
  } cases[] = {
      {"/..", "keyspace", "..", "inst1 ..\n"},
      {"/.", "keyspace", ".", "inst1 .\n"},
      {"/../d1/ks", "keyspace", "..", "inst1 ..\n"},
      {"/ks/..", "table", "..", "inst1 ks\n"},
      {"/ks/.", "table", ".", "inst1 ks\n"},
      {"/ks/../ks/tbl-5f3a", "table", "..", "inst1 ks\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.relative);
    std::filesystem::remove(params_->failedFilePath);
    stream_.reset(new workertest::CInMemoryDataStream());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
    const std::string path = dataDir_ + c.relative;
    CLogCapture log;
    CQiError error = Run({path, snapshotFiles_[0]});
    EXPECT_TRUE(error.IsError());
    EXPECT_TRUE(log.Contains("Cannot back up " + path + ": its " + c.field + " name \"" + c.name +
                             "\" is empty, \".\" or \"..\", or holds a \"/\""));
    EXPECT_TRUE(stream_->ItemsOf(path).empty());
    EXPECT_EQ(HeaderPaths(), std::vector<std::string>{"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db"});
    EXPECT_EQ(simtest::ReadFile(params_->failedFilePath), c.failedLine);
  }
}

// An entry that is not an absolute path is never read against the working
// directory: it fails alone, also when a data directory is listed relative.
TEST_F(WorkerPaths, ARelativeEntryFailsAlone) {
  params_->instanceParams.push_back(
      CassandraNodeInstanceParams("dc1", "rack1", "inst2", {"relative"}, ""));
  worker_.reset(new CassandraBackupWorker(3));
  ASSERT_FALSE(worker_->Initialize(params_).IsError());
  ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  CLogCapture log;
  CQiError error = Run({"relative/ks/t-1/f.db", snapshotFiles_[0]});
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(HeaderPaths(), std::vector<std::string>{"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db"});
  EXPECT_TRUE(log.Contains(
      "relative/ks/t-1/f.db lies in no data directory of this node's Cassandra instances"));
}

// At the default log level (2) a stored item writes no log line of its own:
// the per-item lines are debug detail.
TEST_F(WorkerPaths, StoredItemsWriteNoLineAtTheDefaultLevel) {
  CLogCapture log;
  g_ptrLogWriter->SetLevel(2);
  ASSERT_FALSE(Run({dataDir_ + "/ks", tableDir_, snapshotFiles_[0], snapshotFiles_[1]}).IsError());
  EXPECT_EQ(HeaderPaths().size(), 4u);
  for (const auto& line : log.Lines()) {
    EXPECT_EQ(line.text.find(snapshotFiles_[0]), std::string::npos) << line.text;
    EXPECT_EQ(line.text.find("ks/tbl"), std::string::npos) << line.text;
  }
}

// Extents of a large file are recorded under the file's header path, each
// with its range; every item starts from the worker's extent size.
class ExtentSizeSpy : public CassandraBackupWorker {
 public:
  using CassandraBackupWorker::CassandraBackupWorker;
  CQiError BackupFile() override {
    sizes.push_back(GetItemExtentParams().extentSize);
    return CassandraBackupWorker::BackupFile();
  }
  std::vector<uint64_t> sizes;
};

TEST_F(WorkerPaths, ExtentsAndTheExtentSize) {
  const std::string big = tableDir_ + "/snapshots/S/na-9-big-Data.db";
  simtest::WriteFile(big, "0123456789abcdefghijKLMNO");
  const std::string escaped = MultiNodeBackupOps::CCollectFileEntry::EncodePath(big);
  const std::vector<std::string> lines = {"%EXTENT%0|10|25|" + escaped,
                                          "%EXTENT%10|10|25|" + escaped,
                                          "%EXTENT%20|5|25|" + escaped, snapshotFiles_[1]};
  auto spy = boost::shared_ptr<ExtentSizeSpy>(new ExtentSizeSpy(4));
  ASSERT_FALSE(spy->Initialize(params_).IsError());
  ASSERT_FALSE(spy->SetupPipeline(stream_).IsError());
  EXPECT_EQ(spy->getExtentSize(), 0x400000u);  // never set: the default
  workertest::WriteCollectFile(collectFile_, lines);
  ASSERT_FALSE(spy->DoBackup(collectFile_, 12, "", "s").IsError());
  EXPECT_EQ(spy->sizes, std::vector<uint64_t>(4, 0x400000u));

  std::string rebuilt;
  for (const auto& item : stream_->ItemsOf(big)) {
    EXPECT_EQ(item.header.headerPath, "/Cl/dc1/inst1/ks/tbl/na-9-big-Data.db");
    EXPECT_EQ(item.header.pieceOffset, rebuilt.size());
    EXPECT_EQ(FileTypeOf(item.header), 4);
    rebuilt += item.data;
  }
  EXPECT_EQ(rebuilt, simtest::ReadFile(big));

  CLogCapture log;
  spy->setExtentSize(0x1000);
  EXPECT_TRUE(log.Contains("Using extent size: 4096"));
  spy->sizes.clear();
  ASSERT_FALSE(spy->DoBackup(collectFile_, 12, "", "s").IsError());
  EXPECT_EQ(spy->sizes, std::vector<uint64_t>(4, 0x1000u));
}

// A task resumed at its committed offset starts with the entry there.
TEST_F(WorkerPaths, AResumedTaskStartsAtItsOffset) {
  const std::vector<std::string> lines = {dataDir_, dataDir_ + "/ks", tableDir_, snapshotFiles_[0],
                                          snapshotFiles_[1]};
  workertest::WriteCollectFile(collectFile_, lines);
  const std::vector<int64_t> offsets = workertest::LineOffsets(collectFile_);
  ASSERT_EQ(offsets.size(), 5u);
  ASSERT_FALSE(
      worker_->DoBackup(collectFile_, 12, "12|" + std::to_string(offsets[3]), "s").IsError());
  EXPECT_EQ(HeaderPaths(), (std::vector<std::string>{"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db",
                                                     "/Cl/dc1/inst1/ks/tbl/na-1-big-Index.db"}));
}

TEST_F(WorkerPaths, ParametersThatAreNotCassandrasFailEveryFile) {
  boost::shared_ptr<MultiNodeBackupOps::MultiNodeBackupOpsWorkerParams> plain(
      new MultiNodeBackupOps::MultiNodeBackupOpsWorkerParams());
  CassandraBackupWorker worker(1);
  ASSERT_FALSE(worker.Initialize(plain).IsError());
  ASSERT_FALSE(worker.SetupPipeline(stream_).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(worker.BackupFile(), 774));
  EXPECT_EQ(worker.BackupFile().GetMessage(), "Invalid Cassandra config object");
  workertest::WriteCollectFile(collectFile_, {snapshotFiles_[0], snapshotFiles_[1]});
  CQiError error = worker.DoBackup(collectFile_, 12, "", "s");
  EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + collectFile_);
  EXPECT_TRUE(stream_->Items().empty());
}

TEST_F(WorkerPaths, EmptyLinesAloneBackUpNothing) {
  simtest::WriteFile(collectFile_, "\n\n\n");
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "", "s").IsError());
  EXPECT_TRUE(stream_->Items().empty());
}

}  // namespace
