// The backup worker in a commit-log job: the instance of each archived log by
// its commit-log directory, the #COMMITLOG# header paths, file type 5 and the
// commit-log flags, and failures that never reach the failures list.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "tests/plugin/BackupWorkerTestSupport.h"

namespace {

// Two instances whose archives are /<tmp>/arch and /<tmp>/arch2 (one name a
// prefix of the other), in data centres dc1 and dc2.
class CommitLogWorker : public workertest::WorkerFixture {
 protected:
  void SetUp() override {
    WorkerFixture::SetUp();
    archive1_ = dir_.Sub("arch");
    archive2_ = dir_.Sub("arch2");
    simtest::WriteFile(archive1_ + "/CommitLog-7-1.log", "first segment");
    simtest::WriteFile(archive1_ + "/CommitLog-7-2.log", "second segment");
    simtest::WriteFile(archive2_ + "/CommitLog-7-1.log", "other instance");
    params_->commitLogJob = 1;
    params_->instanceParams = {
        CassandraNodeInstanceParams("dc1", "rack1", "inst1", {dataDir_}, archive1_),
        CassandraNodeInstanceParams("dc2", "rack1", "inst2", {}, archive2_ + "/")};
  }
  std::string archive1_;
  std::string archive2_;
};

TEST_F(CommitLogWorker, ArchivedLogsAreKeptUnderTheirInstancesCommitLogPath) {
  ASSERT_FALSE(Run({archive1_, archive1_ + "/CommitLog-7-1.log", archive2_ + "/",
                    archive2_ + "/CommitLog-7-1.log", archive1_ + "/CommitLog-7-2.log"})
                   .IsError());
  EXPECT_EQ(HeaderPaths(), (std::vector<std::string>{
                               "/Cl/dc1/inst1/#COMMITLOG#",
                               "/Cl/dc1/inst1/#COMMITLOG#/CommitLog-7-1.log",
                               "/Cl/dc2/inst2/#COMMITLOG#",
                               "/Cl/dc2/inst2/#COMMITLOG#/CommitLog-7-1.log",
                               "/Cl/dc1/inst1/#COMMITLOG#/CommitLog-7-2.log",
                           }));
  const auto items = stream_->Items();
  ASSERT_EQ(items.size(), 5u);
  for (const auto& item : items) {
    SCOPED_TRACE(item.header.headerPath);
    EXPECT_EQ(workertest::FileTypeOf(item.header), 5);
    EXPECT_EQ(item.header.itemFlags & 0x40, 0x40u);
    EXPECT_EQ(item.header.objectFlags & 0x4000, 0x4000u);
  }
  EXPECT_EQ(items[3].data, "other instance");
}

TEST_F(CommitLogWorker, FailuresAreReportedButNeverListedAsKeyspaces) {
  CQiError error = Run({archive1_ + "/CommitLog-7-9.log",  // listed, then gone
                        dir_.Sub("elsewhere/CommitLog-7-1.log"), archive1_ + "/CommitLog-7-1.log"});
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 774));
  EXPECT_EQ(error.GetMessage(), "Failed to backup some files in file " + collectFile_);
  EXPECT_EQ(HeaderPaths(),
            (std::vector<std::string>{"/Cl/dc1/inst1/#COMMITLOG#/CommitLog-7-1.log"}));
  EXPECT_FALSE(std::filesystem::exists(params_->failedFilePath));
}

// The same parameters in a data job look for data directories again.
TEST_F(CommitLogWorker, ADataJobAfterwardsFindsDataDirectoriesAgain) {
  ASSERT_FALSE(Run({archive1_ + "/CommitLog-7-1.log"}).IsError());
  params_->commitLogJob = 0;
  ASSERT_FALSE(Run({snapshotFiles_[0]}).IsError());
  EXPECT_EQ(HeaderPaths().back(), "/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db");
  EXPECT_EQ(stream_->Items().back().header.itemFlags & 0x40, 0u);
}

}  // namespace
