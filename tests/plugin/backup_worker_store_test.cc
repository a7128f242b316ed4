// A node run over a generated table: the table's snapshot listed in collect
// files and split, each task backed up by its own worker into the archive
// store, and what a later reader finds there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/index/ArchiveStore.h"
#include "platform/index/StoreDataStream.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/multinode/UnixFlatCollectFile.h"
#include "platform/multinode/UnixSplitCollectFiles.h"
#include "platform/suite/ClientContext.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/SimTableDir.h"
#include "tests/plugin/BackupWorkerTestSupport.h"

namespace {

constexpr int64_t kJobId = 4711;
const char* const kSnapshot = "12TQsnapshot4711";

class WorkerStore : public ::testing::Test {
 protected:
  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    TqSim::FixtureOptions options;
    options.clusterName = "Cluster One";
    options.nodes = 1;
    options.keyspaces = 1;
    options.tablesPerKeyspace = 1;
    options.sstablesPerTable = 3;
    options.sstableSize = 200000;
    TqSim::FixtureResult result;
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(world_.Sub("cluster"), options, result, error))
        << error;
    node_ = result.nodes[0];
    ASSERT_EQ(node_.dataDirs.size(), 1u);
    for (const auto& entry : std::filesystem::directory_iterator(node_.dataDirs[0] + "/ks1"))
      tableDir_ = entry.path().string();
    ASSERT_FALSE(tableDir_.empty());
    TqSim::SimTableDir table(tableDir_, "mc");
    ASSERT_TRUE(table.Snapshot(kSnapshot, "CREATE TABLE ks1.t1 (k int PRIMARY KEY);", error))
        << error;
    for (const auto& entry :
         std::filesystem::directory_iterator(tableDir_ + "/snapshots/" + kSnapshot))
      snapshotFiles_.push_back(entry.path().string());
    std::sort(snapshotFiles_.begin(), snapshotFiles_.end());
    ASSERT_GE(snapshotFiles_.size(), 3u);
    jobResults_ = world_.Sub("jr");
    std::filesystem::create_directories(jobResults_);
  }
  void TearDown() override { CClientContext::SetSuiteHome(""); }

  // The node's collect files as the controller makes them: one flat file of
  // the directories and the snapshot's files, split into `files` numbered
  // files; how many the split made.
  int MakeCollectFiles(int files) {
    const std::string flat = jobResults_ + "/CollectTot1.tqf";
    auto flatFile =
        boost::shared_ptr<CUnixFlatCollectFile>(new CUnixFlatCollectFile(kJobId, flat, "w"));
    std::vector<std::string> paths = {node_.dataDirs[0], node_.dataDirs[0] + "/ks1", tableDir_};
    paths.insert(paths.end(), snapshotFiles_.begin(), snapshotFiles_.end());
    for (const auto& path : paths) {
      const int64_t size = std::filesystem::is_directory(path)
                               ? 4096
                               : static_cast<int64_t>(std::filesystem::file_size(path));
      EXPECT_FALSE(flatFile->AddEntry(path, size).IsError());
    }
    CPostProcessingOptionsPtr options(new CPostProcessingOptions());
    options->setNumberOfStreamsConfigured(files);
    COutputResources output;
    output.outputId = 1;
    output.collectFileConsumer = flatFile;
    CUnixSplitCollectFiles split(
        options, CUnixFileNameFactoryPtr(new CUnixFileNameFactory(1, jobResults_)), {output}, 1);
    EXPECT_FALSE(split.SplitCollectFiles().IsError());
    return split.GetLastCollectFileIndex() + 1;
  }

  CassandraBackupWorkerParamsPtr Params() {
    CassandraBackupWorkerParamsPtr params(new CassandraBackupWorkerParams());
    params->jobId = kJobId;
    params->backupLevel = 1;
    params->jobResultsDirectory = jobResults_;
    params->failedFilePath = jobResults_ + "/Failures.tqf";
    params->jobCtrlClient.reset(new TQJobCtrlClient(kJobId));
    params->clusterName = "Cluster One";
    params->instanceParams.push_back(CassandraNodeInstanceParams(
        node_.dataCenter, "rack1", node_.name, node_.dataDirs, node_.commitLogArchiveDir));
    return params;
  }

  simtest::TempDir home_;
  simtest::TempDir world_;
  TqSim::FixtureNode node_;
  std::string tableDir_;
  std::vector<std::string> snapshotFiles_;
  std::string jobResults_;
};

// Two tasks on two streams at once; a reader of the store then finds the
// header paths and file types of every level and every snapshot file byte for byte.
TEST_F(WorkerStore, EverySnapshotFileArrivesWholeUnderItsHeaderPath) {
  const int files = MakeCollectFiles(2);
  ASSERT_EQ(files, 2);
  CassandraBackupWorkerParamsPtr params = Params();
  std::vector<CQiError> results(files);
  std::vector<std::thread> threads;
  for (int n = 1; n <= files; ++n) {
    threads.emplace_back([&, n] {
      SStreamJob job;
      job.jobId = kJobId;
      job.clientName = "node1";
      job.kind = "backup";
      job.level = 1;
      job.streamNumber = n;
      boost::shared_ptr<CStoreDataStream> stream(new CStoreDataStream(job));
      CassandraBackupWorker worker(n);
      CQiError error = worker.Initialize(params);
      if (!error.IsError()) error = worker.SetupPipeline(stream);
      if (!error.IsError())
        error = worker.DoBackup(jobResults_ + "/CollectTot" + std::to_string(n) + ".tqf", n,
                                std::to_string(n) + "|-1", "stream " + std::to_string(n));
      results[n - 1] = error;
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) ASSERT_FALSE(result.IsError()) << result.AsString(2);

  CArchiveStore store;
  ASSERT_FALSE(store.Open().IsError());
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(kJobId, items).IsError());
  const std::string instance = "/Cluster One/" + node_.dataCenter + "/" + node_.name;
  std::map<std::string, int64_t> types;
  for (const auto& item : items) {
    EXPECT_TRUE(item.complete) << item.headerPath << ": " << item.problem;
    ASSERT_FALSE(item.pieces.empty());
    EXPECT_TRUE(item.pieces[0].hasFileType) << item.headerPath;
    types[item.headerPath] = item.pieces[0].fileType;
  }
  std::map<std::string, int64_t> expected = {{"/Cluster One", 6},
                                             {"/Cluster One/" + node_.dataCenter, 1},
                                             {instance, 0},
                                             {instance + "/ks1", 3},
                                             {instance + "/ks1/t1", 2}};
  for (const auto& file : snapshotFiles_)
    expected[instance + "/ks1/t1/" + std::filesystem::path(file).filename().string()] = 4;
  EXPECT_EQ(types, expected);

  for (const auto& file : snapshotFiles_) {
    const std::string headerPath =
        instance + "/ks1/t1/" + std::filesystem::path(file).filename().string();
    CQiError error = store.VerifyItem(kJobId, headerPath, file);
    EXPECT_FALSE(error.IsError()) << headerPath << ": " << error.AsString(2);
  }
  EXPECT_FALSE(std::filesystem::exists(jobResults_ + "/Failures.tqf"));
}

}  // namespace
