// Failed files in the backup worker: the failures list lines, the error of
// the run, the quit flag, and appends of workers running at the same time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "tests/plugin/BackupWorkerTestSupport.h"

namespace {

using workertest::Lines;
using workertest::WorkerFixture;

class WorkerFailures : public WorkerFixture {
 protected:
  CQiError MediaError() { return FXErrorUtil::ErrorWin32(FXLOC, 1117, "Media error"); }
};

// A failed data file adds its instance and keyspace to the failures list,
// once per failure; the run goes on and ends with 774 naming the collect file.
TEST_F(WorkerFailures, AFailedFileAddsItsKeyspaceAndTheRunEndsWith774) {
  const std::string other = dataDir_ + "/ks2/t-1/snapshots/S/f.db";
  simtest::WriteFile(other, "other");
  stream_->FailItem(snapshotFiles_[0], MediaError());
  stream_->FailItem(snapshotFiles_[1], MediaError());
  CLogCapture log;
  CQiError error = Run({snapshotFiles_[0], snapshotFiles_[1], other});
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + collectFile_);
  EXPECT_EQ(Lines(params_->failedFilePath), (std::vector<std::string>{"inst1 ks", "inst1 ks"}));
  EXPECT_EQ(HeaderPaths(), std::vector<std::string>{"/Cl/dc1/inst1/ks2/t/f.db"});
  EXPECT_TRUE(log.Contains("Failed to backup file " + snapshotFiles_[0] + ". Error: "));

  const auto failed = CassandraHandleFailedFiles::ReadFailedKeyspaces(params_->failedFilePath);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed.at("inst1"), std::set<std::string>{"ks"});
}

// Keyspace and table directories add their keyspace; the data directory's
// own items (cluster, data centre, instance) add nothing. A file that is gone
// when its turn comes fails like any other.
TEST_F(WorkerFailures, WhichLevelsAddALine) {
  const struct {
    std::string path;
    std::vector<std::string> lines;
  } cases[] = {
      {dataDir_, {}},
      {dataDir_ + "/ks", {"inst1 ks"}},
      {tableDir_, {"inst1 ks"}},
      {snapshotFiles_[0], {"inst1 ks"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::filesystem::remove(params_->failedFilePath);
    stream_.reset(new workertest::CInMemoryDataStream());
    ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
    stream_->FailItem(c.path, MediaError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(Run({c.path}), 774));
    EXPECT_EQ(Lines(params_->failedFilePath), c.lines);
  }
  std::filesystem::remove(params_->failedFilePath);
  std::filesystem::remove(snapshotFiles_[1]);
  stream_.reset(new workertest::CInMemoryDataStream());
  ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(Run({snapshotFiles_[1]}), 774));
  EXPECT_EQ(Lines(params_->failedFilePath), std::vector<std::string>{"inst1 ks"});
}

// The data directory's three items stop at the first failure.
TEST_F(WorkerFailures, TheDataDirectoryStopsAtItsFirstFailedItem) {
  stream_->FailItem(dataDir_, MediaError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(Run({dataDir_, dataDir_ + "/ks"}), 774));
  EXPECT_EQ(HeaderPaths(), std::vector<std::string>{"/Cl/dc1/inst1/ks"});
}

// A failures list that cannot be opened is passed over; the run still fails.
TEST_F(WorkerFailures, AFailuresListThatDoesNotOpenIsPassedOver) {
  params_->failedFilePath = dir_.Sub("no such dir/Failures.tqf");
  stream_->FailItem(snapshotFiles_[0], MediaError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(Run({snapshotFiles_[0], snapshotFiles_[1]}), 774));
  EXPECT_EQ(stream_->Items().size(), 1u);
  params_->failedFilePath.clear();
  EXPECT_TRUE(FXErrorUtil::IsWin32(Run({snapshotFiles_[0]}), 774));
}

// The quit flag is read only after a failed file, and then ends the run.
TEST_F(WorkerFailures, TheQuitFlagEndsTheRunAfterAFailedFile) {
  quit_->setQuitFlag(true);
  ASSERT_FALSE(Run({dataDir_ + "/ks", snapshotFiles_[0], snapshotFiles_[1]}).IsError());
  EXPECT_EQ(stream_->Items().size(), 3u);

  stream_.reset(new workertest::CInMemoryDataStream());
  ASSERT_FALSE(worker_->SetupPipeline(stream_).IsError());
  stream_->FailItem(snapshotFiles_[0], MediaError());
  CLogCapture log;
  CQiError error = Run({dataDir_ + "/ks", snapshotFiles_[0], snapshotFiles_[1]});
  EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + collectFile_);
  EXPECT_EQ(HeaderPaths(), std::vector<std::string>{"/Cl/dc1/inst1/ks"});
  EXPECT_TRUE(log.Contains("Quit flag set. Stopping backup now"));
  EXPECT_EQ(Lines(params_->failedFilePath), std::vector<std::string>{"inst1 ks"});
}

// A line that does not parse ends the run with its own error, also after a
// failed file.
TEST_F(WorkerFailures, AParseErrorAfterAFailedFileIsTheResult) {
  stream_->FailItem(snapshotFiles_[0], MediaError());
  CQiError error = Run({snapshotFiles_[0], "%zz", snapshotFiles_[1]});
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString(2);
  EXPECT_TRUE(stream_->Items().empty());
}

// Workers of several streams failing at the same time append whole lines.
TEST_F(WorkerFailures, ConcurrentWorkersAppendWholeLines) {
  constexpr int kWorkers = 6;
  constexpr int kFiles = 150;
  std::vector<std::string> collectFiles;
  for (int w = 0; w < kWorkers; ++w) {
    std::vector<std::string> lines;
    // Files listed but never written: each one fails on open.
    for (int f = 0; f < kFiles; ++f)
      lines.push_back(dataDir_ + "/keyspace_" + std::to_string(w) + "/t-1/gone" +
                      std::to_string(f));
    collectFiles.push_back(dir_.Sub("jr/CollectTot" + std::to_string(20 + w) + ".tqf"));
    workertest::WriteCollectFile(collectFiles.back(), lines);
  }
  std::vector<CQiError> results(kWorkers);
  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&, w] {
      CassandraBackupWorker worker(w + 1);
      boost::shared_ptr<workertest::CInMemoryDataStream> stream(
          new workertest::CInMemoryDataStream());
      CQiError error = worker.Initialize(params_);
      if (!error.IsError()) error = worker.SetupPipeline(stream);
      if (!error.IsError()) error = worker.DoBackup(collectFiles[w], 20 + w, "", "s");
      results[w] = error;
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_TRUE(FXErrorUtil::IsWin32(result, 774));

  const std::vector<std::string> lines = Lines(params_->failedFilePath);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kWorkers * kFiles));
  std::vector<int> perKeyspace(kWorkers, 0);
  for (const auto& line : lines) {
    ASSERT_EQ(line.rfind("inst1 keyspace_", 0), 0u) << line;
    const std::string number = line.substr(15);
    ASSERT_EQ(number.size(), 1u) << line;
    ++perKeyspace[number[0] - '0'];
  }
  EXPECT_EQ(perKeyspace, std::vector<int>(kWorkers, kFiles));
}

TEST(FailuresList, ReadsLinesOfExactlyTwoFields) {
  simtest::TempDir dir;
  const std::string list = dir.Sub("Failures.tqf");
  simtest::WriteFile(list,
                     "I1 ks1\n\nI1 ks1\nonlyKeyspace\nI1 ks2 extra\nI2 k2\nI1 ks3\n"
                     "I3  double\n");
  const auto failed = CassandraHandleFailedFiles::ReadFailedKeyspaces(list);
  CassandraHandleFailedFiles::FailedKeyspaces expected = {{"I1", {"ks1", "ks3"}}, {"I2", {"k2"}}};
  EXPECT_EQ(failed, expected);
  EXPECT_TRUE(CassandraHandleFailedFiles::ReadFailedKeyspaces(dir.Sub("missing")).empty());

  ASSERT_FALSE(CassandraHandleFailedFiles::AddFailedKeyspace(list, "I2", "k9").IsError());
  EXPECT_EQ(CassandraHandleFailedFiles::ReadFailedKeyspaces(list).at("I2"),
            (std::set<std::string>{"k2", "k9"}));
  EXPECT_EQ(CassandraHandleFailedFiles::FormatLine("I2", "k9"), "I2 k9\n");
  EXPECT_TRUE(CassandraHandleFailedFiles::AddFailedKeyspace("", "I2", "k9").IsError());
}

// A line the list takes only in part (the file reaches its size limit) is
// taken back: otherwise the next line would join it and the reader would
// give the next failure to a wrong instance.
TEST(FailuresList, ALineWrittenInPartIsTakenBack) {
  simtest::TempDir dir;
  const std::string list = dir.Sub("Failures.tqf");
  simtest::WriteFile(list, "I1 ks1\n");  // 7 bytes
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  struct rlimit small = saved;
  small.rlim_cur = 10;  // room for 3 bytes of the next line
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  CQiError error = CassandraHandleFailedFiles::AddFailedKeyspace(list, "I2", "ks2");
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(simtest::ReadFile(list), "I1 ks1\n");

  ASSERT_FALSE(CassandraHandleFailedFiles::AddFailedKeyspace(list, "I3", "ks3").IsError());
  CassandraHandleFailedFiles::FailedKeyspaces expected = {{"I1", {"ks1"}}, {"I3", {"ks3"}}};
  EXPECT_EQ(CassandraHandleFailedFiles::ReadFailedKeyspaces(list), expected);
}

}  // namespace
