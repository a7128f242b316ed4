#include <gtest/gtest.h>

#include "StoreTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/index/IndexCatalog.h"

namespace {

class IndexCatalogTest : public StoreTest {};

TEST_F(IndexCatalogTest, OneSharedFileInWriteAheadLogMode) {
  CIndexCatalog first, second;
  EXPECT_EQ(first.GetPath(), Home() + "/index/catalog.db");
  ASSERT_FALSE(first.Open().IsError());
  ASSERT_FALSE(second.Open().IsError()) << "a second connection opens the same file";
  SJobRecord job;
  job.jobId = 60;
  job.clientName = "cluster1";
  job.kind = "backup";
  job.status = "running";
  ASSERT_FALSE(first.RegisterJob(job, false).IsError());
  SJobRecord seen;
  bool found = false;
  ASSERT_FALSE(second.GetJob(60, seen, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_EQ(seen.clientName, "cluster1");
  // Write-ahead logging keeps its log beside the database while it is in use.
  EXPECT_TRUE(FXPath::DoesPathExist((first.GetPath() + "-wal").c_str()));
}

TEST_F(IndexCatalogTest, JobsAreKeptOrReplacedAsAsked) {
  CIndexCatalog catalog;
  ASSERT_FALSE(catalog.Open().IsError());
  SJobRecord job;
  job.jobId = 61;
  job.clientName = "first";
  job.level = 1;
  ASSERT_FALSE(catalog.RegisterJob(job, false).IsError());
  job.clientName = "second";
  ASSERT_FALSE(catalog.RegisterJob(job, false).IsError());
  SJobRecord seen;
  bool found = false;
  ASSERT_FALSE(catalog.GetJob(61, seen, found).IsError());
  EXPECT_EQ(seen.clientName, "first") << "kept";
  job.clientName = "third";
  job.instanceId = 7;
  job.startTime = 1000;
  ASSERT_FALSE(catalog.RegisterJob(job, true).IsError());
  ASSERT_FALSE(catalog.SetJobStatus(61, "completed", 2000).IsError());
  ASSERT_FALSE(catalog.GetJob(61, seen, found).IsError());
  EXPECT_EQ(seen.clientName, "third");
  EXPECT_EQ(seen.instanceId, 7u);
  EXPECT_EQ(seen.startTime, 1000);
  EXPECT_EQ(seen.endTime, 2000);
  EXPECT_EQ(seen.status, "completed");
  EXPECT_TRUE(FXErrorUtil::IsWin32(catalog.SetJobStatus(62, "failed", 1), 1168));
  ASSERT_FALSE(catalog.GetJob(62, seen, found).IsError());
  EXPECT_FALSE(found);

  job.jobId = 5;
  ASSERT_FALSE(catalog.RegisterJob(job, false).IsError());
  std::vector<SJobRecord> jobs;
  ASSERT_FALSE(catalog.ListJobs(jobs).IsError());
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].jobId, 5);
  EXPECT_EQ(jobs[1].jobId, 61);
}

TEST_F(IndexCatalogTest, ArchiveFilesBelongToAKnownJob) {
  CIndexCatalog catalog;
  ASSERT_FALSE(catalog.Open().IsError());
  SArchiveFileRecord orphan;
  orphan.jobId = 63;
  EXPECT_TRUE(catalog.CreateArchiveFile(orphan, nullptr).IsError()) << "no such job";
  EXPECT_EQ(orphan.archiveFileId, 0);

  SJobRecord job;
  job.jobId = 63;
  ASSERT_FALSE(catalog.RegisterJob(job, false).IsError());
  SArchiveFileRecord afile;
  afile.jobId = 63;
  afile.ombrelId = 2;
  afile.archiveGroupId = 4;
  afile.streamNumber = 3;
  ASSERT_FALSE(
      catalog.CreateArchiveFile(afile, [](int64_t id) { return "63/" + std::to_string(id); })
          .IsError());
  EXPECT_GT(afile.archiveFileId, 0);
  SArchiveFileRecord seen;
  bool found = false;
  ASSERT_FALSE(catalog.GetArchiveFile(afile.archiveFileId, seen, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_EQ(seen.directory, "63/" + std::to_string(afile.archiveFileId));
  EXPECT_EQ(seen.archiveGroupId, 4u);
  EXPECT_EQ(seen.streamNumber, 3);
}

TEST_F(IndexCatalogTest, CatalogThatCannotBeMadeFailsToOpen) {
  std::string blocker = WriteData("file", "x");
  CIndexCatalog catalog(CIndexCatalog::PathUnder(blocker));
  EXPECT_TRUE(catalog.Open().IsError());
  EXPECT_FALSE(catalog.IsOpen());
  std::vector<SJobRecord> jobs;
  EXPECT_TRUE(catalog.ListJobs(jobs).IsError());
}

}  // namespace
