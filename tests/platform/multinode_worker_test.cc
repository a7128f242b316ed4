// The backup worker base: the item loop over a numbered collect file, offset
// commits, resume, failures and the quit flag; and the controller's part of
// the worker parameters.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/MultiNodeBackupOpsWorker.h"
#include "platform/objectops/InMemoryDataStream.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "tests/platform/MultinodeFiles.h"
#include "tests/platform/TempDir.h"

using multinode_test::ReadText;
using multinode_test::WriteText;
using MultiNodeBackupOps::CBackupWorkerParamsPtr;
using MultiNodeBackupOps::CCollectFileEntry;
using MultiNodeBackupOps::MultiNodeBackupOpsWorker;
using MultiNodeBackupOps::MultiNodeBackupOpsWorkerParams;
using MultiNodeBackupOps::MultiNodeBackupOpsWorkerParamsPtr;
using OBJECTOPSAPI::CInMemoryDataStream;
using OBJECTOPSAPI::ExtentBackupParams;

namespace {

// Framework services that keep every commit, and can refuse them.
class RecordingServices : public DistributedQEL::CInMemoryFrameworkServices {
 public:
  CQiError CommitTaskOffset(int taskId, int64_t offset) override {
    std::lock_guard<std::mutex> lock(mutex_);
    commits.emplace_back(taskId, offset);
    if (refuse) return FXErrorUtil::ErrorWin32(FXLOC, 1460, "Commit refused");
    return CInMemoryFrameworkServices::CommitTaskOffset(taskId, offset);
  }
  std::mutex mutex_;
  std::vector<std::pair<int, int64_t>> commits;
  bool refuse = false;
};

// A worker that notes what the loop handed it and stores each entry through
// the base (the file's bytes, its extent for an extent entry, under its own
// path).
class StoringWorker : public MultiNodeBackupOpsWorker {
 public:
  struct Seen {
    std::string path;
    uint64_t flags;
    ExtentBackupParams extent;
  };

  using MultiNodeBackupOpsWorker::MultiNodeBackupOpsWorker;

  CQiError BackupFile() override {
    seen.push_back({GetCurrentFilePath(), GetItemFlags(), GetItemExtentParams()});
    CQiError error = MultiNodeBackupOpsWorker::BackupFile();
    // What one entry sets must not reach the next.
    SetItemFlags(GetItemFlags() | 0x40);
    GetItemExtentParams().extentSize = 1;
    if (error.IsError()) return error.Push(FXLOC);
    return CQiError::Success();
  }

  using MultiNodeBackupOpsWorker::GetTask;
  std::vector<Seen> seen;
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; ++i) {
      files_.push_back(dir_.Sub("f" + std::to_string(i)));
      WriteText(files_.back(), "content of file " + std::to_string(i));
    }
    WriteCollectFile(files_);
    services_.reset(new RecordingServices());
    quit_.reset(new TQJobCtrlClient(100));
    params_.reset(new MultiNodeBackupOpsWorkerParams());
    params_->jobId = 100;
    params_->frameworkServices = services_;
    params_->jobCtrlClient = quit_;
    stream_.reset(new CInMemoryDataStream());
    worker_.reset(new StoringWorker(3));
    ASSERT_FALSE(worker_->Initialize(params_).IsError());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  }

  // The numbered collect file of task 12, one line per path; `offsets_`
  // gets where each line begins (and, last, the file's size).
  void WriteCollectFile(const std::vector<std::string>& lines) {
    std::string text;
    offsets_.clear();
    for (const auto& line : lines) {
      offsets_.push_back(static_cast<int64_t>(text.size()));
      text += line.empty() || line[0] != '/' ? line : CCollectFileEntry::EncodePath(line);
      text += "\n";
    }
    offsets_.push_back(static_cast<int64_t>(text.size()));
    WriteText(collectFile_, text);
  }

  std::vector<std::string> StoredPaths() const {
    std::vector<std::string> paths;
    for (const auto& item : stream_->Items()) paths.push_back(item.header.sourcePath);
    return paths;
  }

  std::vector<int64_t> CommittedOffsets() const {
    std::vector<int64_t> offsets;
    for (const auto& commit : services_->commits) {
      EXPECT_EQ(commit.first, 12);
      offsets.push_back(commit.second);
    }
    return offsets;
  }

  TempDir dir_;
  std::string collectFile_ = dir_.Sub("CollectTot12.tqf");
  std::vector<std::string> files_;
  std::vector<int64_t> offsets_;
  boost::shared_ptr<RecordingServices> services_;
  TQJobCtrlClientPtr quit_;
  MultiNodeBackupOpsWorkerParamsPtr params_;
  boost::shared_ptr<CInMemoryDataStream> stream_;
  boost::shared_ptr<StoringWorker> worker_;
};

TEST_F(WorkerTest, StoresEveryEntryAndCommitsTheNextOffsetAfterEach) {
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "12|-1", "stream 3").IsError());
  EXPECT_EQ(StoredPaths(), files_);
  for (const auto& item : stream_->Items()) {
    EXPECT_EQ(item.data, ReadText(item.header.sourcePath));
    EXPECT_EQ(item.header.headerPath, item.header.sourcePath);
    EXPECT_EQ(item.header.itemFlags, 0u);
    EXPECT_FALSE(item.header.isDirectory);
  }
  EXPECT_EQ(CommittedOffsets(), std::vector<int64_t>(offsets_.begin() + 1, offsets_.end()));
  EXPECT_EQ(services_->GetTaskCommitOffset(12), offsets_.back());
  EXPECT_EQ(worker_->getStreamNumber(), 3);
}

TEST_F(WorkerTest, ResumesAtThePayloadsOffset) {
  const struct {
    std::string payload;
    size_t firstEntry;
  } cases[] = {
      {"12|-1", 0},
      {"", 0},
      {"12|0", 0},
      {"12|" + std::to_string(offsets_[2]), 2},
      {"12|" + std::to_string(offsets_[5]), 5},  // everything was stored already
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    stream_.reset(new CInMemoryDataStream());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
    ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, c.payload, "s").IsError());
    EXPECT_EQ(StoredPaths(), std::vector<std::string>(files_.begin() + c.firstEntry, files_.end()));
  }
  stream_.reset(new CInMemoryDataStream());
  ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12).IsError());
  EXPECT_EQ(StoredPaths(), files_);
}

// A failed entry: the loop goes on, the committed offset stays at the failed
// entry, and a resume from that offset stores it and nothing is lost.
TEST_F(WorkerTest, AFailedEntryKeepsTheCommitAtItAndAResumeStoresIt) {
  stream_->FailItem(files_[1], FXErrorUtil::ErrorWin32(FXLOC, 1117, "Media error"));
  CQiError error = worker_->DoBackup(collectFile_, 12, "12|-1", "s");
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + collectFile_);
  EXPECT_EQ(StoredPaths(), (std::vector<std::string>{files_[0], files_[2], files_[3], files_[4]}));
  EXPECT_EQ(CommittedOffsets(), std::vector<int64_t>{offsets_[1]});

  // The task handed out again, on a healthy stream, from the committed offset.
  auto retry = boost::shared_ptr<CInMemoryDataStream>(new CInMemoryDataStream());
  StoringWorker other(4);
  ASSERT_FALSE(other.Initialize(params_).IsError());
  ASSERT_FALSE(other.SetupPipeline(retry).IsError());
  const int64_t committed = services_->GetTaskCommitOffset(12);
  ASSERT_FALSE(other.DoBackup(collectFile_, 12, "12|" + std::to_string(committed), "s").IsError());
  std::vector<std::string> paths;
  for (const auto& item : retry->Items()) paths.push_back(item.header.sourcePath);
  EXPECT_EQ(paths, std::vector<std::string>(files_.begin() + 1, files_.end()));
  EXPECT_EQ(services_->GetTaskCommitOffset(12), offsets_.back());
}

// A stream that confirms its items in batches of two: at each commit the
// offsets committed never pass an entry whose item is not confirmed.
class BatchingStream : public CInMemoryDataStream {
 public:
  CQiError CommitItem() override {
    CQiError error = CInMemoryDataStream::CommitItem();
    if (error.IsError()) return error;
    ++pending_;
    if (pending_ == 2) RecordFlush();
    return error;
  }
  CQiError Flush() override {
    RecordFlush();
    return CQiError::Success();
  }
  uint64_t PendingItems() const override { return pending_; }
  size_t confirmed = 0;  // items confirmed so far

 private:
  void RecordFlush() {
    confirmed = Items().size();
    pending_ = 0;
  }
  uint64_t pending_ = 0;
};

TEST_F(WorkerTest, OffsetsAreCommittedOnlyOverConfirmedItems) {
  auto batching = boost::shared_ptr<BatchingStream>(new BatchingStream());
  ASSERT_FALSE(worker_->SetupPipeline(batching).IsError());
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "12|-1", "s").IsError());
  // Five entries in batches of two: offsets after entries 2 and 4, then the
  // task's end confirms the fifth and commits the end.
  EXPECT_EQ(CommittedOffsets(), (std::vector<int64_t>{offsets_[2], offsets_[4], offsets_[5]}));
  EXPECT_EQ(batching->PendingItems(), 0u);
  EXPECT_EQ(batching->confirmed, 5u);

  // A failed entry confirms what came before it and keeps the offset there.
  services_->commits.clear();
  batching.reset(new BatchingStream());
  batching->FailItem(files_[3], FXErrorUtil::ErrorWin32(FXLOC, 1117, "Media error"));
  ASSERT_FALSE(worker_->SetupPipeline(batching).IsError());
  EXPECT_TRUE(worker_->DoBackup(collectFile_, 12, "12|-1", "s").IsError());
  EXPECT_EQ(CommittedOffsets(), (std::vector<int64_t>{offsets_[2], offsets_[3]}));
}

TEST_F(WorkerTest, TheQuitFlagStopsTheLoopAfterAFailure) {
  quit_->setQuitFlag(true);
  {
    // Without a failure the flag is not read: the whole file is processed.
    ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "", "s").IsError());
    EXPECT_EQ(StoredPaths(), files_);
  }
  stream_.reset(new CInMemoryDataStream());
  ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  stream_->FailItem(files_[1], FXErrorUtil::ErrorWin32(FXLOC, 1117, "Media error"));
  CLogCapture log;
  CQiError error = worker_->DoBackup(collectFile_, 12, "", "s");
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(StoredPaths(), std::vector<std::string>{files_[0]});
  EXPECT_EQ(worker_->seen.size(), 5u + 2u);
  EXPECT_TRUE(log.Contains("Quit flag set. Stopping backup now"));
}

TEST_F(WorkerTest, AParseErrorEndsTheRunAtOnceWithItsOwnError) {
  stream_->FailItem(files_[1], FXErrorUtil::ErrorWin32(FXLOC, 1117, "Media error"));
  WriteCollectFile({files_[0], files_[1], "bad%zz", files_[3]});
  CQiError error = worker_->DoBackup(collectFile_, 12, "", "s");
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString(2);
  EXPECT_EQ(StoredPaths(), std::vector<std::string>{files_[0]});
}

TEST_F(WorkerTest, EmptyLinesAreSkippedAndEveryEntryStartsFromTheSameFlagsAndExtentSize) {
  const std::string big = dir_.Sub("big file");
  WriteText(big, std::string(10, 'x') + std::string(10, 'y') + std::string(5, 'z'));
  WriteCollectFile({"", files_[0], "", "%EXTENT%0|10|25|" + CCollectFileEntry::EncodePath(big),
                    "%EXTENT%10|10|25|" + CCollectFileEntry::EncodePath(big),
                    "%EXTENT%20|5|25|" + CCollectFileEntry::EncodePath(big), files_[1]});
  worker_->SetItemExtentSize(0x1000);
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "", "s").IsError());
  ASSERT_EQ(worker_->seen.size(), 5u);
  for (const auto& seen : worker_->seen) {
    EXPECT_EQ(seen.flags, 0u) << seen.path;
    EXPECT_EQ(seen.extent.extentSize, 0x1000u) << seen.path;
  }
  const struct {
    bool isExtent;
    uint64_t offset, length;
    bool last;
  } expected[] = {{false, 0, 0, true},
                  {true, 0, 10, false},
                  {true, 10, 10, false},
                  {true, 20, 5, true},
                  {false, 0, 0, true}};
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(worker_->seen[i].extent.isExtent, expected[i].isExtent);
    EXPECT_EQ(worker_->seen[i].extent.offset, expected[i].offset);
    EXPECT_EQ(worker_->seen[i].extent.length, expected[i].length);
    EXPECT_EQ(worker_->seen[i].extent.isLastExtent, expected[i].last);
  }
  std::string rebuilt;
  for (const auto& item : stream_->ItemsOf(big)) {
    EXPECT_EQ(item.header.pieceOffset, rebuilt.size());
    EXPECT_EQ(item.header.fileSize, 25u);
    rebuilt += item.data;
  }
  EXPECT_EQ(rebuilt, ReadText(big));
  // Commits after each stored entry: the next line's start each time.
  EXPECT_EQ(CommittedOffsets(), (std::vector<int64_t>{offsets_[2], offsets_[4], offsets_[5],
                                                      offsets_[6], offsets_[7]}));
}

TEST_F(WorkerTest, OddPathsReachTheStreamExactly) {
  std::vector<std::string> odd = {dir_.Sub("with blank "), dir_.Sub("a|b"), dir_.Sub("new\nline"),
                                  dir_.Sub("données-表"), dir_.Sub("100%")};
  for (const auto& path : odd) WriteText(path, "bytes of " + path);
  WriteCollectFile(odd);
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "", "s").IsError());
  EXPECT_EQ(StoredPaths(), odd);
  for (const auto& item : stream_->Items())
    EXPECT_EQ(item.data, "bytes of " + item.header.sourcePath);
}

TEST_F(WorkerTest, ARefusedCommitDoesNotStopTheRun) {
  services_->refuse = true;
  ASSERT_FALSE(worker_->DoBackup(collectFile_, 12, "", "s").IsError());
  EXPECT_EQ(StoredPaths(), files_);
  EXPECT_EQ(services_->commits.size(), 5u);
}

TEST_F(WorkerTest, PreparationErrors) {
  const struct {
    const char* name;
    std::string payload;
    uint32_t code;
  } payloads[] = {
      {"one field", "12", 87},
      {"letters", "x|1", 87},
      {"three fields", "12|1|2", 87},
      {"below -1", "12|-2", 87},
      {"blank", "12| 1", 87},
      {"inside a line", "12|1", 13},
      {"beyond the end", "12|100000", 13},
  };
  for (const auto& c : payloads) {
    SCOPED_TRACE(c.name);
    CQiError error = worker_->DoBackup(collectFile_, 12, c.payload, "s");
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.code)) << error.AsString(2);
  }
  EXPECT_TRUE(
      FXErrorUtil::IsErrNo(worker_->DoBackup(dir_.Sub("CollectTot13.tqf"), 13, "", "s"), ENOENT));
  EXPECT_TRUE(stream_->Items().empty());
  EXPECT_TRUE(services_->commits.empty());

  StoringWorker fresh;
  EXPECT_TRUE(FXErrorUtil::IsWin32(fresh.DoBackup(collectFile_, 12, "", "s"), 87));
  ASSERT_FALSE(fresh.Initialize(params_).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(fresh.DoBackup(collectFile_, 12, "", "s"), 87));  // no stream
  EXPECT_TRUE(FXErrorUtil::IsWin32(fresh.SetupPipeline(OBJECTOPSAPI::IDataStreamPtr()), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(fresh.Initialize(CBackupWorkerParamsPtr()), 87));
  CBackupWorkerParamsPtr otherKind(new MultiNodeBackupOps::CBackupWorkerParams());
  EXPECT_TRUE(FXErrorUtil::IsWin32(fresh.Initialize(otherKind), 87));
}

TEST_F(WorkerTest, TheTaskComesFromThePayload) {
  ASSERT_FALSE(
      worker_->DoBackup(collectFile_, 12, "3|" + std::to_string(offsets_[4]), "s").IsError());
  EXPECT_EQ(worker_->GetTask().collectFile, collectFile_);
  EXPECT_EQ(worker_->GetTask().taskId, 12);
  EXPECT_EQ(worker_->GetTask().collectFileNumber, 3);
  EXPECT_EQ(worker_->GetTask().resumeOffset, offsets_[4]);
  EXPECT_EQ(MultiNodeBackupOps::BackupTaskParams::FormatPayload(12, 1024), "12|1024");
  EXPECT_EQ(MultiNodeBackupOps::BackupTaskParams::FormatPayload(7, -1), "7|-1");
}

// The base stores every file under its own path; a file that cannot be read
// fails alone, leaves nothing of itself in the stream and holds the commit.
TEST_F(WorkerTest, TheBaseWorkerStoresEachFileUnderItsOwnPath) {
  MultiNodeBackupOpsWorker base(1);
  ASSERT_FALSE(base.Initialize(params_).IsError());
  ASSERT_FALSE(base.SetupPipeline(stream_).IsError());
  ASSERT_FALSE(base.DoBackup(collectFile_, 12, "", "s").IsError());
  EXPECT_EQ(StoredPaths(), files_);
  for (const auto& item : stream_->Items()) {
    EXPECT_EQ(item.header.headerPath, item.header.sourcePath);
    EXPECT_EQ(item.data, ReadText(item.header.sourcePath));
  }

  stream_.reset(new CInMemoryDataStream());
  ASSERT_FALSE(base.SetupPipeline(stream_).IsError());
  services_->commits.clear();
  ASSERT_EQ(::unlink(files_[2].c_str()), 0);
  CQiError error = base.DoBackup(collectFile_, 12, "", "s");
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(StoredPaths(), (std::vector<std::string>{files_[0], files_[1], files_[3], files_[4]}));
  EXPECT_EQ(CommittedOffsets(), (std::vector<int64_t>{offsets_[1], offsets_[2]}));
  EXPECT_EQ(stream_->AbortedCount(), 0);
  ASSERT_FALSE(base.Finalize().IsError());
}

// The in-memory stream keeps only wholly written pieces, so the worker tests
// above would see a short or misplaced item.
TEST(InMemoryDataStream, KeepsOnlyWhollyWrittenPieces) {
  CInMemoryDataStream stream;
  OBJECTOPSAPI::StreamItemHeader header;
  header.headerPath = "/a";
  header.sourcePath = "/src/a";
  header.fileSize = 10;
  header.pieceOffset = 4;
  header.pieceLength = 4;
  ASSERT_FALSE(stream.BeginItem(header).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(stream.WriteExtent(2, "xx", 2), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(stream.WriteExtent(6, "xyz", 3), 87));
  ASSERT_FALSE(stream.WriteExtent(6, "gh", 2).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(stream.CommitItem(), 13));
  ASSERT_FALSE(stream.WriteExtent(4, "ef", 2).IsError());
  ASSERT_FALSE(stream.CommitItem().IsError());
  ASSERT_EQ(stream.Items().size(), 1u);
  EXPECT_EQ(stream.Items()[0].data, "efgh");

  ASSERT_FALSE(stream.BeginItem(header).IsError());
  ASSERT_FALSE(stream.BeginItem(header).IsError());  // the open one is dropped
  stream.AbortItem();
  EXPECT_EQ(stream.AbortedCount(), 2);
  EXPECT_EQ(stream.Items().size(), 1u);
}

// A preparation that leaves the reader closed.
class NoReaderWorker : public StoringWorker {
 public:
  CQiError PrepareForBackup(const std::string&, int64_t, const std::string&,
                            const std::string&) override {
    return CQiError::Success();
  }
};

TEST_F(WorkerTest, AClosedCollectFileIsError774) {
  NoReaderWorker worker;
  ASSERT_FALSE(worker.Initialize(params_).IsError());
  CQiError error = worker.DoBackup(collectFile_, 12, "", "s");
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(error.GetMessage(), "Collect file not open");
}

TEST(WorkerParamsFromController, TheControllerFillsTheFrameworksPart) {
  MultiNodeBackupOps::MultiNodeBackupOpsController controller;
  TQDC_FileSystem::CFSClientConfigPtr fsConfig;
  ASSERT_FALSE(controller.getClientConfigObject(fsConfig).IsError());
  auto config =
      boost::dynamic_pointer_cast<MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfig>(
          fsConfig);
  ASSERT_TRUE(config);
  config->setJobId(4711);
  config->setBackupLevel(TQBkpLevel_Incremental);
  config->setJobResultsDirectory("/jr/node1");
  config->setFailuresFilePath("/jr/node1/Failures.tqf");
  controller.setClientName("node1");
  DistributedQEL::IFrameworkServicesPtr services(new DistributedQEL::CInMemoryFrameworkServices());
  controller.setFrameworkServices(services);

  CBackupWorkerParamsPtr params(new MultiNodeBackupOpsWorkerParams());
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  auto own = boost::dynamic_pointer_cast<MultiNodeBackupOpsWorkerParams>(params);
  EXPECT_EQ(own->jobId, 4711);
  EXPECT_EQ(own->backupLevel, TQBkpLevel_Incremental);
  EXPECT_EQ(own->jobResultsDirectory, "/jr/node1");
  EXPECT_EQ(own->failedFilePath, "/jr/node1/Failures.tqf");
  EXPECT_EQ(own->clientName, "node1");
  EXPECT_EQ(own->frameworkServices, services);
  ASSERT_TRUE(own->jobCtrlClient);
  EXPECT_EQ(own->jobCtrlClient->getJobId(), 4711);
  EXPECT_EQ(own->GetCollectFilePath(12), "/jr/node1/CollectInc12.tqf");

  TQJobCtrlClientPtr jobControl(new TQJobCtrlClient(4711));
  controller.setJobCtrlClient(jobControl);
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  EXPECT_EQ(own->jobCtrlClient, jobControl);

  CBackupWorkerParamsPtr otherKind(new MultiNodeBackupOps::CBackupWorkerParams());
  EXPECT_TRUE(FXErrorUtil::IsWin32(controller.InitializeBackupWorkerParams(otherKind), 87));
}

}  // namespace
