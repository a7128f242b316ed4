// The restore worker's extended options: where the framework's restore puts
// each source node's files, in place (data directories and table ids) or
// staged (staging folders).

#include <gtest/gtest.h>

#include "common/BackupRecords.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/datamover/RestorePlacement.h"
#include "platform/msg/FrameworkRecords.h"
#include "restore/CassandraRestoreWorker.h"

namespace {

using TQCassandra::CCassandraRestoreWorker;
using Map = std::unordered_map<std::string, std::string>;

boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles> Metadata() {
  DistributedQEL::CassandraTable t, u;
  t.setTableName("t");
  t.setTableId("i1");
  u.setTableName("u");
  u.setTableId("i2");
  DistributedQEL::CassandraKeyspace ks, empty;
  ks.setKeyspaceName("ks");
  ks.setTables({t, u});
  empty.setKeyspaceName("ks0");
  DistributedQEL::CassandraNodeKeyspace node;
  node.setKeyspaces({ks, empty});
  boost::shared_ptr<DistributedQEL::CassandraCreateCollectFiles> record(
      new DistributedQEL::CassandraCreateCollectFiles());
  record->setNodeKeyspaces({node});
  return record;
}

TEST(RestoreWorkerOptions, EachModeSetsExactlyItsOptions) {
  const Map data = {{"A", "/d1"}, {"B", "/d2"}};
  const Map staging = {{"A", "/s1"}, {"B", "/s 2"}};
  const std::string dataList = CCassandraRestoreWorker::NodePathList(data);
  const std::string stagingList = CCassandraRestoreWorker::NodePathList(staging);
  // Every entry once, in the map's own order, each ended by "##".
  std::string expectedData, expectedStaging;
  for (const auto& e : data) expectedData += e.first + ":" + e.second + "##";
  for (const auto& e : staging) expectedStaging += e.first + ":" + e.second + "##";
  EXPECT_EQ(dataList, expectedData);
  EXPECT_EQ(stagingList, expectedStaging);
  EXPECT_EQ(CCassandraRestoreWorker::NodePathList({}), "");

  struct Case {
    const char* name;
    bool recover, loader;
    std::vector<std::pair<std::string, std::string>> options;
  } cases[] = {
      {"in place",
       true,
       false,
       {{"prior", "x"},
        {"CassandraRestore", "1"},
        {"CassandraRestoreDataDirectory", dataList},
        {"CassandraMeta",
         "~KEYSPACE~ks~BEGIN~~TABLEMETA~t~TABLEID~i1~TABLEMETA~u~TABLEID~i2"
         "~KEYSPACE~ks0~BEGIN~"}}},
      {"loader",
       true,
       true,
       {{"prior", "x"},
        {"CassandraStagedRestore", "1"},
        {"CassandraStagedRestoreStagingLoc", stagingList}}},
      {"staged",
       false,
       false,
       {{"prior", "x"},
        {"CassandraStagedRestore", "1"},
        {"CassandraStagedRestoreStagingLoc", stagingList}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    auto metadata = Metadata();
    CCassandraRestoreWorker worker(nullptr, 6, k.recover, data, staging, false, k.loader,
                                   &metadata);
    CExtendedOptions prior;
    prior.setOption("prior", "x");
    std::string options;
    prior.getOptions(options);
    ASSERT_FALSE(worker.GetExtendedOptions(options).IsError());
    EXPECT_EQ(CExtendedOptions(options).items(), k.options);
    // The data mover reads them back.
    TqDataMover::CRestorePlacement placement;
    ASSERT_FALSE(TqDataMover::CRestorePlacement::FromOptions(options, "", placement).IsError());
    EXPECT_EQ(placement.mode(), k.recover && !k.loader ? TqDataMover::CRestorePlacement::kInPlace
                                                       : TqDataMover::CRestorePlacement::kStaged);
  }
}

TEST(RestoreWorkerOptions, MetadataWithoutANodeEntryGivesAnEmptyText) {
  EXPECT_EQ(CCassandraRestoreWorker::TableMetaText(nullptr), "");
  DistributedQEL::CassandraCreateCollectFiles none;
  EXPECT_EQ(CCassandraRestoreWorker::TableMetaText(&none), "");
}

TEST(RestoreWorkerOptions, TheTaskReachesTheFrameworkUnchanged) {
  CCassandraRestoreWorker worker(nullptr, 6, true, {}, {}, false, false, nullptr);
  DistributedQEL::RestoreTaskInfoPtr task(new DistributedQEL::RestoreTaskInfo());
  task->setSourcePaths({"/c/dc/n1/system", "/c/dc/n1"});
  long size = 42;
  worker.SetRestoreOptions(task, size);
  EXPECT_EQ(worker.getRestoreTask(), task);
  EXPECT_EQ(worker.getRestoreTask()->getSourcePaths(),
            (std::vector<std::string>{"/c/dc/n1/system", "/c/dc/n1"}));
  EXPECT_EQ(worker.getRestoreTaskSize(), 42);
}

}  // namespace
