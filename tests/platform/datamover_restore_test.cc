// The data mover puts a task's items back from the archive store: in place,
// staged and as a file-system restore, with its result file, the item
// callback, fresh SSTable generations for taken names, whole extents, and
// nothing half written or written outside its folder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "StoreTestSupport.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/datamover/RestoreDataMover.h"
#include "platform/datamover/RestoreGenerations.h"
#include "platform/datamover/RestoreTargets.h"
#include "platform/framework/FSRestoreWorker.h"
#include "platform/framework/RestoreItemCallBack.h"
#include "platform/msg/BrowseRecords.h"
#include "platform/msg/FrameworkRecords.h"

namespace {

using TqDataMover::CRestoreDataMover;
using TqDataMover::SDataMoverSetup;

// Skips the items whose header path ends in one of `names`.
class SkipNames : public DistributedQEL::CRestoreItemCallBack {
 public:
  SkipNames(DistributedQEL::IRestoreWorker* worker, std::set<std::string> names)
      : CRestoreItemCallBack(worker), names_(std::move(names)) {}
  bool ShouldSkipItem(BrowseDataIterator item) override {
    std::string xml;
    item->serialize(xml);
    databrowse::BrowseData data;
    data.unserialize(xml);
    const std::string path = data.getPath();
    return names_.count(path.substr(path.rfind('/') + 1)) > 0;
  }

 private:
  std::set<std::string> names_;
};

// A restore worker whose extended options the test chooses.
class ScriptedWorker : public TQDC_FileSystem::CFSRestoreWorker {
 public:
  explicit ScriptedWorker(std::string options) : CFSRestoreWorker(nullptr), options_(options) {}
  CQiError GetExtendedOptions(std::string& options) override {
    calls.push_back("GetExtendedOptions");
    options = options_;
    return CQiError::Success();
  }
  void SetTaskInfo(DistributedQEL::TaskInfo* task) override {
    calls.push_back("SetTaskInfo");
    CFSRestoreWorker::SetTaskInfo(task);
  }
  void SetRestoreOptions(DistributedQEL::RestoreTaskInfoPtr task, long& size) override {
    calls.push_back("SetRestoreOptions " + std::to_string(size));
    CFSRestoreWorker::SetRestoreOptions(task, size);
  }
  CQiError GetBrowseResponseCallBack(
      boost::shared_ptr<DistributedQEL::CRestoreItemCallBack>& callBack) override {
    calls.push_back("GetBrowseResponseCallBack");
    callBack.reset(new SkipNames(this, skip));
    return CQiError::Success();
  }

  std::vector<std::string> calls;
  std::set<std::string> skip;

 private:
  std::string options_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Every name below `folder`, recursively, relative to it.
std::set<std::string> Tree(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored)) {
    names.insert(entry.path().string().substr(folder.size() + 1));
  }
  return names;
}

// Big enough to be read back from the store in two pieces.
constexpr size_t kDataSize = 3 << 19;

class DataMover : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    data_ = Pattern(kDataSize, 3);
    index_ = Pattern(300, 4);
    log_ = Pattern(900, 5);
    CStoreDataStream stream(Job(100));
    Directory(stream, "/c1/dc1/node1", "/src/n1");
    Directory(stream, "/c1/dc1/node1/ks1", "/src/n1/ks1");
    Directory(stream, "/c1/dc1/node1/ks1/t1", "/src/n1/ks1/t1-0a0b");
    ASSERT_FALSE(Store(stream, "/c1/dc1/node1/ks1/t1/nb-1-big-Data.db", data_,
                       "/src/n1/ks1/t1-0a0b/snapshots/s/nb-1-big-Data.db")
                     .IsError());
    ASSERT_FALSE(Store(stream, "/c1/dc1/node1/ks1/t1/nb-1-big-Index.db", index_,
                       "/src/n1/ks1/t1-0a0b/snapshots/s/nb-1-big-Index.db")
                     .IsError());
    Directory(stream, "/c1/dc1/node1/#COMMITLOG#", "/src/n1/archive");
    ASSERT_FALSE(Store(stream, "/c1/dc1/node1/#COMMITLOG#/CommitLog-7-1.log", log_,
                       "/src/n1/archive/CommitLog-7-1.log")
                     .IsError());
    archiveFile_ = stream.GetArchiveFileId();
    ASSERT_NE(archiveFile_, 0);
    results_ = DataPath("results");
  }

  void TearDown() override {
    TqDataMover::CRestoreTargets::Instance().ForgetJob(500);
    TqDataMover::CRestoreGenerations::Instance().ForgetJob(500);
    StoreTest::TearDown();
  }

  static void Directory(CStoreDataStream& stream, const std::string& header,
                        const std::string& source) {
    OBJECTOPSAPI::StreamItemHeader item;
    item.headerPath = header;
    item.sourcePath = source;
    item.isDirectory = true;
    ASSERT_FALSE(stream.BeginItem(item).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
  }

  std::string InPlace(const std::string& dataDir) {
    CExtendedOptions options;
    options.setOption("CassandraRestore", 1);
    options.setOption("CassandraRestoreDataDirectory", "node1:" + dataDir + "##");
    options.setOption("CassandraMeta", "~KEYSPACE~ks1~BEGIN~~TABLEMETA~t1~TABLEID~0a-0b");
    std::string text;
    options.getOptions(text);
    return text;
  }

  std::string Staged(const std::string& staging) {
    CExtendedOptions options;
    options.setOption("CassandraStagedRestore", 1);
    options.setOption("CassandraStagedRestoreStagingLoc", "node1:" + staging + "##");
    std::string text;
    options.getOptions(text);
    return text;
  }

  DistributedQEL::TaskInfo Task(const std::vector<std::string>& paths = {"/c1/dc1/node1"},
                                const std::string& destination = "") {
    DistributedQEL::RestoreTaskInfo restore;
    restore.setSourcePaths(paths);
    restore.setArchiveFileId(archiveFile_);
    restore.setDestinationPath(destination);
    DistributedQEL::RestoreTaskStats stats;
    stats.setSourcePathCount(static_cast<int64_t>(paths.size()));
    restore.setStats(stats);
    std::string xml;
    restore.serialize(xml);
    DistributedQEL::TaskInfo task;
    task.setPayload(xml);
    return task;
  }

  SDataMoverSetup Setup(int stream = 1) {
    SDataMoverSetup setup;
    setup.jobId = 500;
    setup.streamNumber = stream;
    setup.jobResultsDirectory = results_;
    return setup;
  }

  // The lines of every result file of job 500 (the journals beside them
  // left out).
  std::vector<std::string> ResultLines() {
    std::vector<std::string> lines;
    const std::string folder = results_ + "/TQ_JobResults/2/0/500";
    for (const std::string& name : Tree(folder)) {
      if (name.size() > 8 && name.compare(name.size() - 8, 8, ".journal") == 0) continue;
      EXPECT_EQ(name.rfind("restore", 0), 0u) << name;
      std::istringstream in(ReadFile(folder + "/" + name));
      for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
  }

  // Stores two folders and a file with the modes given (permission bits).
  static void StoreWithModes(int64_t job, uint32_t folderMode, uint32_t fileMode,
                             int64_t& archiveFile) {
    CStoreDataStream stream(Job(job));
    for (const char* header : {"/c1/dc1/node1/ks1", "/c1/dc1/node1/ks1/t1"}) {
      OBJECTOPSAPI::StreamItemHeader item;
      item.headerPath = header;
      item.sourcePath = std::string("/src") + header;
      item.isDirectory = true;
      item.mode = S_IFDIR | folderMode;
      ASSERT_FALSE(stream.BeginItem(item).IsError());
      ASSERT_FALSE(stream.CommitItem().IsError());
    }
    OBJECTOPSAPI::StreamItemHeader file;
    file.headerPath = "/c1/dc1/node1/ks1/t1/nb-7-big-Data.db";
    file.sourcePath = "/src/nb-7-big-Data.db";
    file.fileSize = 5;
    file.pieceLength = 5;
    file.mode = S_IFREG | fileMode;
    ASSERT_FALSE(stream.BeginItem(file).IsError());
    ASSERT_FALSE(stream.WriteExtent(0, "bytes", 5).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
    archiveFile = stream.GetArchiveFileId();
  }

  std::string data_, index_, log_;
  int64_t archiveFile_ = 0;
  std::string results_;
};

TEST_F(DataMover, InPlaceRestoreWritesIntoTheTableFolderAndListsEachFile) {
  const std::string dataDir = DataPath("data");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(InPlace(dataDir)));
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo task = Task();
  // Commit logs cannot be restored in place: their folder and file fail
  // alone.
  CQiError error = mover.RunTask(task);
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
  ASSERT_FALSE(mover.Finish().IsError());

  const std::string table = dataDir + "/ks1/t1-0a0b";
  EXPECT_EQ(ReadFile(table + "/nb-1-big-Data.db"), data_);
  EXPECT_EQ(ReadFile(table + "/nb-1-big-Index.db"), index_);
  EXPECT_EQ(Tree(dataDir),
            (std::set<std::string>{"ks1", "ks1/t1-0a0b", "ks1/t1-0a0b/nb-1-big-Data.db",
                                   "ks1/t1-0a0b/nb-1-big-Index.db"}));
  EXPECT_EQ(worker->calls,
            (std::vector<std::string>{"SetTaskInfo", "GetExtendedOptions", "SetRestoreOptions 1",
                                      "GetBrowseResponseCallBack"}));
  // The SSTable's components are placed together, Data.db last.
  EXPECT_EQ(ResultLines(), (std::vector<std::string>{
                               "BeginDistributedRestore",
                               table + "/nb-1-big-Index.db  DATA  300",
                               table + "/nb-1-big-Data.db  DATA  " + std::to_string(kDataSize),
                               "EndDistributedRestore",
                           }));
  EXPECT_EQ(mover.Progress().files, 2);
  EXPECT_EQ(mover.Progress().bytes, static_cast<int64_t>(kDataSize + 300));
  EXPECT_EQ(mover.Progress().failed, 2);
  EXPECT_EQ(worker->getLastStatistics().bytesRestored, static_cast<int64_t>(kDataSize + 300));
  EXPECT_EQ(worker->getLastStatistics().itemsFailed, 2);
}

TEST_F(DataMover, TakenSSTableGenerationGetsAFreshOneForEveryComponent) {
  const std::string dataDir = DataPath("data");
  const std::string table = dataDir + "/ks1/t1-0a0b";
  // Live SSTables of the table: generation 1 (the restored one's) and 4.
  WriteData("data/ks1/t1-0a0b/nb-1-big-Data.db", "live one");
  WriteData("data/ks1/t1-0a0b/nb-4-big-TOC.txt", "live four");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(InPlace(dataDir)));
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo task = Task({"/c1/dc1/node1/ks1"});
  ASSERT_FALSE(mover.RunTask(task).IsError());
  // The live files are untouched; both restored components are generation 5.
  EXPECT_EQ(ReadFile(table + "/nb-1-big-Data.db"), "live one");
  EXPECT_EQ(ReadFile(table + "/nb-4-big-TOC.txt"), "live four");
  EXPECT_EQ(ReadFile(table + "/nb-5-big-Data.db"), data_);
  EXPECT_EQ(ReadFile(table + "/nb-5-big-Index.db"), index_);
  EXPECT_EQ(Tree(table).size(), 4u);

  // A second stream of the job renumbers a component the same way and does
  // not place again what the first placed.
  CRestoreDataMover second(Setup(2), worker);
  DistributedQEL::TaskInfo again = Task({"/c1/dc1/node1/ks1"});
  ASSERT_FALSE(second.RunTask(again).IsError());
  EXPECT_EQ(second.Progress().files, 0);
  EXPECT_EQ(Tree(table).size(), 4u);
}

// An earlier restore left the snapshot's records in the live table folder:
// a later restore replaces them, while any other taken name that is no
// SSTable is still refused and kept.
TEST_F(DataMover, SnapshotRecordsReplaceAnEarlierRestoresCopiesOtherTakenNamesAreRefused) {
  {
    CStoreDataStream stream(Job(103));
    for (const char* name : {"manifest.json", "schema.cql", "notes.txt"}) {
      ASSERT_FALSE(Store(stream, std::string("/c1/dc1/node1/ks1/t1/") + name,
                         std::string("backed-up ") + name,
                         std::string("/src/n1/ks1/t1-0a0b/snapshots/s/") + name)
                       .IsError());
    }
    archiveFile_ = stream.GetArchiveFileId();
  }
  const std::string dataDir = DataPath("data");
  const std::string table = dataDir + "/ks1/t1-0a0b";
  for (const char* name : {"manifest.json", "schema.cql", "notes.txt"}) {
    WriteData(std::string("data/ks1/t1-0a0b/") + name, "earlier");
  }
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(InPlace(dataDir)));
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo task = Task({"/c1/dc1/node1/ks1"});
  CQiError error = mover.RunTask(task);
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 80)) << error.AsString();
  EXPECT_EQ(mover.Progress().failed, 1);
  EXPECT_EQ(ReadFile(table + "/manifest.json"), "backed-up manifest.json");
  EXPECT_EQ(ReadFile(table + "/schema.cql"), "backed-up schema.cql");
  EXPECT_EQ(ReadFile(table + "/notes.txt"), "earlier");
  EXPECT_EQ(Tree(table).size(), 3u);
}

TEST_F(DataMover, StagedRestoreSeparatesTablesAndCommitLogs) {
  const std::string staging = DataPath("stage");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(Staged(staging)));
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo task = Task();
  ASSERT_FALSE(mover.RunTask(task).IsError());
  EXPECT_EQ(ReadFile(staging + "/node1/ks1/t1/nb-1-big-Data.db"), data_);
  EXPECT_EQ(ReadFile(staging + "/node1/ks1/t1/nb-1-big-Index.db"), index_);
  EXPECT_EQ(ReadFile(staging + "/node1/#COMMITLOG#/CommitLog-7-1.log"), log_);
  EXPECT_EQ(Tree(staging).size(), 7u);
}

// Segments of different source nodes share names; staged into one folder
// they stay apart, each below its node's folder. A segment of a node found
// already staged with other content is not replaced; the same segment
// backed up again is left as it is.
TEST_F(DataMover, CommitLogsOfNodesSharingAStagingFolderStayApart) {
  const std::string other = Pattern(700, 6);
  int64_t node2File = 0;
  {
    CStoreDataStream stream(Job(103));
    Directory(stream, "/c1/dc1/node2", "/src/n2");
    Directory(stream, "/c1/dc1/node2/#COMMITLOG#", "/src/n2/archive");
    ASSERT_FALSE(Store(stream, "/c1/dc1/node2/#COMMITLOG#/CommitLog-7-1.log", other,
                       "/src/n2/archive/CommitLog-7-1.log")
                     .IsError());
    node2File = stream.GetArchiveFileId();
  }
  const int64_t node1File = archiveFile_;
  const std::string staging = DataPath("stage");
  CExtendedOptions options;
  options.setOption("CassandraStagedRestore", 1);
  options.setOption("CassandraStagedRestoreStagingLoc",
                    "node1:" + staging + "##node2:" + staging + "##");
  std::string text;
  options.getOptions(text);
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(text));
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo first = Task({"/c1/dc1/node1/#COMMITLOG#"});
  ASSERT_FALSE(mover.RunTask(first).IsError());
  archiveFile_ = node2File;
  DistributedQEL::TaskInfo second = Task({"/c1/dc1/node2/#COMMITLOG#"});
  ASSERT_FALSE(mover.RunTask(second).IsError());
  EXPECT_EQ(ReadFile(staging + "/node1/#COMMITLOG#/CommitLog-7-1.log"), log_);
  EXPECT_EQ(ReadFile(staging + "/node2/#COMMITLOG#/CommitLog-7-1.log"), other);

  // Another job staging into the same folder.
  struct Case {
    const char* name;
    std::string there;
    bool fails;
  } cases[] = {{"another segment of that name", "other content", true},
               {"the same segment", log_, false}};
  int64_t job = 600;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteData("stage/node1/#COMMITLOG#/CommitLog-7-1.log", c.there);
    SDataMoverSetup setup = Setup();
    setup.jobId = ++job;
    archiveFile_ = node1File;
    CRestoreDataMover again(setup, worker);
    DistributedQEL::TaskInfo task = Task({"/c1/dc1/node1/#COMMITLOG#"});
    CQiError error = again.RunTask(task);
    EXPECT_EQ(error.IsError(), c.fails) << error.AsString();
    if (c.fails) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 80)) << error.AsString();
    }
    EXPECT_EQ(ReadFile(staging + "/node1/#COMMITLOG#/CommitLog-7-1.log"), c.there);
    TqDataMover::CRestoreTargets::Instance().ForgetJob(job);
  }
  for (const std::string& name : Tree(staging)) {
    EXPECT_EQ(name.find(".tqrestore-"), std::string::npos) << name;
  }
}

TEST_F(DataMover, FileSystemRestoreUnderADestinationKeepsSourcePaths) {
  const std::string destination = DataPath("dest");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(""));
  worker->skip = {"nb-1-big-Index.db", "CommitLog-7-1.log"};
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo task = Task({"/c1/dc1/node1"}, destination);
  ASSERT_FALSE(mover.RunTask(task).IsError());
  EXPECT_EQ(ReadFile(destination + "/src/n1/ks1/t1-0a0b/snapshots/s/nb-1-big-Data.db"), data_);
  EXPECT_FALSE(Exists(destination + "/src/n1/ks1/t1-0a0b/snapshots/s/nb-1-big-Index.db"));
  EXPECT_FALSE(Exists(destination + "/src/n1/archive/CommitLog-7-1.log"));
  EXPECT_TRUE(Exists(destination + "/src/n1/archive"));
  EXPECT_EQ(mover.Progress().skipped, 2);
  EXPECT_EQ(mover.Progress().files, 1);
  // The task's figures: 4 folders and one file; what the callback skipped is
  // the worker's to report.
  EXPECT_EQ(mover.TaskStatistics().itemsRestored, 5);
  EXPECT_EQ(mover.TaskStatistics().skippedFilesCount, 0);

  // A second task reports only its own figures.
  DistributedQEL::TaskInfo again = Task({"/c1/dc1/node1/ks1"}, destination);
  ASSERT_FALSE(mover.RunTask(again).IsError());
  EXPECT_EQ(mover.TaskStatistics().itemsRestored, 0);
  EXPECT_EQ(mover.TaskStatistics().bytesRestored, 0);
}

TEST_F(DataMover, ItemsOfOverlappingPathsArePlacedOnceAndOnlyThoseOfTheTasksArchiveFile) {
  // Another archive file holds another file of the same table.
  {
    CStoreDataStream other(Job(101));
    ASSERT_FALSE(Store(other, "/c1/dc1/node1/ks1/t1/nb-2-big-Data.db", "other",
                       "/src/n1/ks1/t1-0a0b/snapshots/s/nb-2-big-Data.db")
                     .IsError());
  }
  const std::string destination = DataPath("dest");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(""));
  CRestoreDataMover mover(Setup(), worker);
  const std::vector<std::string> paths = {"/c1/dc1/node1", "/c1/dc1/node1/ks1",
                                          "/c1/dc1/node1/ks1/t1/*", "/c1/dc1/node1/#COMMITLOG#"};
  DistributedQEL::RestoreTaskInfo restore;
  restore.setSourcePaths(paths);
  restore.setFilterPaths({"/c1/dc1/node1/#COMMITLOG#"});
  restore.setArchiveFileId(archiveFile_);
  restore.setDestinationPath(destination);
  std::string xml;
  restore.serialize(xml);
  DistributedQEL::TaskInfo task;
  task.setPayload(xml);
  ASSERT_FALSE(mover.RunTask(task).IsError());
  ASSERT_FALSE(mover.Finish().IsError());

  const std::string table = destination + "/src/n1/ks1/t1-0a0b/snapshots/s";
  EXPECT_EQ(ResultLines(), (std::vector<std::string>{
                               "BeginDistributedRestore",
                               table + "/nb-1-big-Data.db  DATA  " + std::to_string(kDataSize),
                               table + "/nb-1-big-Index.db  DATA  300",
                               "EndDistributedRestore",
                           }));
  EXPECT_FALSE(Exists(table + "/nb-2-big-Data.db"));
  EXPECT_FALSE(Exists(destination + "/src/n1/archive"));
  EXPECT_EQ(mover.Progress().files, 2);
  EXPECT_EQ(mover.Progress().directories, 3);
  EXPECT_EQ(mover.TaskStatistics().itemsRestored, 5);
}

TEST_F(DataMover, ExtentsArePutBackWhole) {
  const std::string big = Pattern(10000, 9);
  {
    CStoreDataStream stream(Job(101));
    for (uint64_t offset : {6000u, 0u}) {
      OBJECTOPSAPI::StreamItemHeader header;
      header.headerPath = "/c1/dc1/node1/ks1/t1/nb-9-big-Data.db";
      header.sourcePath = "/src/n1/ks1/t1-0a0b/nb-9-big-Data.db";
      header.fileSize = big.size();
      header.pieceOffset = offset;
      header.pieceLength = offset ? big.size() - offset : 6000;
      ASSERT_FALSE(stream.BeginItem(header).IsError());
      ASSERT_FALSE(stream.WriteExtent(offset, big.data() + offset, header.pieceLength).IsError());
      ASSERT_FALSE(stream.CommitItem().IsError());
    }
    archiveFile_ = stream.GetArchiveFileId();
  }
  const std::string staging = DataPath("stage");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(Staged(staging)));
  CRestoreDataMover mover(Setup(), worker);
  DistributedQEL::TaskInfo task = Task();
  ASSERT_FALSE(mover.RunTask(task).IsError());
  EXPECT_EQ(ReadFile(staging + "/node1/ks1/t1/nb-9-big-Data.db"), big);
  // Only the task's archive file is restored.
  EXPECT_FALSE(Exists(staging + "/node1/ks1/t1/nb-1-big-Data.db"));
}

TEST_F(DataMover, FailureMidFileLeavesNoHalfFileAndARetryCompletesTheTask) {
  const std::string staging = DataPath("stage");
  boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(Staged(staging)));
  SDataMoverSetup setup = Setup();
  int failures = 0;
  setup.beforeWrite = [&](const std::string& header, uint64_t offset) {
    if (header.find("Data.db") != std::string::npos && offset > 0 && failures++ == 0) {
      return FXErrorUtil::ErrorWin32(FXLOC, 5, "Injected disk failure");
    }
    return CQiError::Success();
  };
  CRestoreDataMover mover(setup, worker);
  DistributedQEL::TaskInfo task = Task();
  CQiError error = mover.RunTask(task);
  ASSERT_TRUE(error.IsError());
  EXPECT_EQ(failures, 1);
  EXPECT_NE(error.AsString().find("Injected disk failure"), std::string::npos);
  EXPECT_FALSE(Exists(staging + "/node1/ks1/t1/nb-1-big-Data.db"));
  // The other items of the task were placed, but the other component of
  // the SSTable waits for it, hidden.
  EXPECT_EQ(ReadFile(staging + "/node1/#COMMITLOG#/CommitLog-7-1.log"), log_);
  EXPECT_FALSE(Exists(staging + "/node1/ks1/t1/nb-1-big-Index.db"));
  for (const std::string& name : Tree(staging)) {
    if (name.find(".tqrestore-") == std::string::npos) continue;
    EXPECT_NE(name.find("/.nb-1-big-Index.db.tqrestore-"), std::string::npos) << name;
  }
  CRestoreDataMover retry(Setup(2), worker);
  DistributedQEL::TaskInfo again = Task();
  ASSERT_FALSE(retry.RunTask(again).IsError());
  ASSERT_FALSE(mover.Finish().IsError());
  ASSERT_FALSE(retry.Finish().IsError());
  EXPECT_EQ(ReadFile(staging + "/node1/ks1/t1/nb-1-big-Data.db"), data_);
  EXPECT_EQ(ReadFile(staging + "/node1/ks1/t1/nb-1-big-Index.db"), index_);
  for (const std::string& name : Tree(staging)) {
    EXPECT_EQ(name.find(".tqrestore-"), std::string::npos) << name;
  }
  // Each file is listed once over both result files.
  std::multiset<std::string> listed;
  for (const std::string& line : ResultLines()) {
    if (line.find("  DATA  ") != std::string::npos) listed.insert(line.substr(0, line.find("  ")));
  }
  EXPECT_EQ(listed, (std::multiset<std::string>{staging + "/node1/ks1/t1/nb-1-big-Data.db",
                                                staging + "/node1/ks1/t1/nb-1-big-Index.db",
                                                staging + "/node1/#COMMITLOG#/CommitLog-7-1.log"}));
}

TEST_F(DataMover, RefusedItemsWriteNothingOutsideTheirFolder) {
  // Items whose paths would leave the folder they belong to.
  {
    CStoreDataStream stream(Job(102));
    ASSERT_FALSE(Store(stream, "/c1/dc1/node1/ks1/../../../../escaped", "x", "/src/a").IsError());
    ASSERT_FALSE(
        Store(stream, "/c1/dc1/node1/ks1/t1/ok-file", "fine", "/src/../../escaped2").IsError());
    // A name the result file could not list.
    ASSERT_FALSE(
        Store(stream, "/c1/dc1/node1/ks1/t1/a  DATA  b", "x", "/src/a  DATA  b").IsError());
    archiveFile_ = stream.GetArchiveFileId();
  }
  struct Case {
    const char* name;
    std::string options;
    std::string destination;
  };
  const std::string root = DataPath("root");
  const std::vector<Case> cases = {
      {"staged", Staged(root + "/stage"), ""},
      {"file system", "", root + "/dest"},
  };
  for (const Case& c : cases) {
    boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(c.options));
    CRestoreDataMover mover(Setup(), worker);
    DistributedQEL::TaskInfo task = Task({"/c1/dc1/node1"}, c.destination);
    CQiError error = mover.RunTask(task);
    ASSERT_TRUE(error.IsError()) << c.name;
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << c.name << ": " << error.AsString();
    EXPECT_GE(mover.Progress().failed, 1) << c.name;
    TqDataMover::CRestoreTargets::Instance().ForgetJob(500);
    TqDataMover::CRestoreGenerations::Instance().ForgetJob(500);
  }
  EXPECT_FALSE(Exists(DataPath("escaped")));
  EXPECT_FALSE(Exists(DataPath("escaped2")));
  EXPECT_FALSE(Exists("/escaped2"));
  // The staged restore still placed the plain file, and nothing else.
  EXPECT_EQ(ReadFile(root + "/stage/node1/ks1/t1/ok-file"), "fine");
  EXPECT_EQ(Tree(root + "/stage"),
            (std::set<std::string>{"node1", "node1/ks1", "node1/ks1/t1", "node1/ks1/t1/ok-file"}));
  EXPECT_FALSE(Exists(root + "/dest/src/a  DATA  b"));
}

}  // namespace

namespace {

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

}  // namespace

TEST_F(DataMover, StagedFoldersAndFilesKeepTheirStoredModes) {
  struct Case {
    uint32_t folder;
    uint32_t file;
  };
  int64_t job = 110;
  for (const Case& c : {Case{0700, 0600}, Case{0750, 0640}}) {
    int64_t archiveFile = 0;
    ASSERT_NO_FATAL_FAILURE(StoreWithModes(job++, c.folder, c.file, archiveFile));
    archiveFile_ = archiveFile;
    const std::string staging = DataPath("stage" + std::to_string(c.folder));
    boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(Staged(staging)));
    CRestoreDataMover mover(Setup(), worker);
    DistributedQEL::TaskInfo task = Task();
    ASSERT_FALSE(mover.RunTask(task).IsError());
    EXPECT_EQ(ModeOf(staging + "/node1/ks1"), c.folder) << std::oct << c.folder;
    EXPECT_EQ(ModeOf(staging + "/node1/ks1/t1"), c.folder) << std::oct << c.folder;
    EXPECT_EQ(ModeOf(staging + "/node1/ks1/t1/nb-7-big-Data.db"), c.file) << std::oct << c.file;
    EXPECT_EQ(ReadFile(staging + "/node1/ks1/t1/nb-7-big-Data.db"), "bytes");
    TqDataMover::CRestoreTargets::Instance().ForgetJob(500);
    TqDataMover::CRestoreGenerations::Instance().ForgetJob(500);
  }
}

TEST_F(DataMover, ALinkWhereARestoreFolderBelongsIsNeverFollowed) {
  // A link planted at the staging folder itself, at a folder below it, and
  // at a table folder; each points at a folder whose content must stay.
  struct Case {
    const char* name;
    const char* link;  // below the case's folder; "" is the staging folder
  };
  for (const Case& c : {Case{"staging folder", ""}, Case{"node folder", "/node1"},
                        Case{"table folder", "/node1/ks1/t1"}}) {
    const std::string base = DataPath(std::string("links-") + (c.link[0] ? c.link + 1 : "root"));
    const std::string elsewhere = base + "-elsewhere";
    std::filesystem::create_directories(elsewhere);
    const std::string staging = base + "/stage";
    const std::string link = staging + c.link;
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    std::filesystem::create_directory_symlink(elsewhere, link);

    boost::shared_ptr<ScriptedWorker> worker(new ScriptedWorker(Staged(staging)));
    CRestoreDataMover mover(Setup(), worker);
    DistributedQEL::TaskInfo task = Task();
    CQiError error = mover.RunTask(task);
    ASSERT_TRUE(error.IsError()) << c.name;
    EXPECT_TRUE(FXErrorUtil::IsErrNo(error, ELOOP)) << c.name << ": " << error.AsString();
    EXPECT_NE(error.AsString().find(link + " is a symbolic link"), std::string::npos)
        << c.name << ": " << error.AsString();
    EXPECT_GE(mover.Progress().failed, 1) << c.name;
    // Nothing went through the link, and the link is still the link.
    EXPECT_TRUE(Tree(elsewhere).empty()) << c.name;
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << c.name;
    TqDataMover::CRestoreTargets::Instance().ForgetJob(500);
    TqDataMover::CRestoreGenerations::Instance().ForgetJob(500);
  }
}
