// Node backup times read back from the "NodeMetaData" view: a node that
// reported no time in this job keeps the time of its last data backup, a
// reported time is never replaced, and a browse that cannot start is an error.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BackupCompleteFixture.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/index/IndexingConnection.h"
#include "platform/index/ObjectGuid.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/BrowseRecords.h"

namespace {

using backup_complete::CompletionTest;

std::string Guid(const std::string& path) {
  std::string guid;
  GetObjectGuid(path.c_str(), 0, '/', guid);
  return guid;
}

class NodeTimeReadBack : public CompletionTest {
 protected:
  void SetUp() override {
    CompletionTest::SetUp();
    AddNodes({"node1", "node2", "node3"});
  }

  // An earlier job of `instanceId` that wrote these node times.
  void EarlierJob(int64_t jobId, uint64_t instanceId,
                  const std::vector<std::pair<std::string, int64_t>>& times) {
    StoreJobItem(jobId, instanceId);
    GetArchFileListForJobArgsCC_t args;
    args.ombrelId = kOmbrelId;
    args.jobId = jobId;
    std::vector<GetArchFileListForJobRetCC_t> list;
    ASSERT_EQ(ArMgrClientAPI::getArchFileListForJob(args, list), 0);
    IndexingConnection index;
    ASSERT_EQ(
        index.initialize(kOmbrelId, static_cast<uint32_t>(subclientId_), 64, 1, "", "", nullptr, 0),
        0);
    ASSERT_EQ(index.sendAfileInfo(ArMgrClientAPI::ArchiveFileIdOf(list.front()), false), 0);
    CXFileHeader header;
    std::memset(&header, 0, sizeof header);
    int64_t sequence = 0;
    for (const auto& t : times) {
      const std::string path = "/" + t.first;
      IdxMetadata::IdxViewInfo view;
      view.setViewName("NodeMetaData");
      view.setComponentId(Guid("/"));
      IdxMetadata::IdxObjectHeader objectHeader;
      objectHeader.setView(view);
      objectHeader.setObjectGuid(Guid(path));
      objectHeader.setParentGuid(Guid("/"));
      IdxMetadata::CassandraNodeMetadata node;
      node.setClientName(t.first);
      node.setBackupTime(t.second);
      IdxMetadata::IdxMetaData entry;
      entry.setHeader(objectHeader);
      entry.setNodeMetadata(node);
      ASSERT_EQ(index.sendMetaDataInfo(entry), 0);
      header.SetPath(path);
      ASSERT_EQ(index.sendFileInfo(header, ++sequence, nullptr, 0), 0);
    }
    ASSERT_EQ(index.updateRestartInfo(-1), 0);
    ASSERT_EQ(index.backupDone(1), 0);
  }

  // Runs the write of this job (no keyspaces) and gives the node times it
  // wrote, by node.
  std::map<std::string, int64_t> WrittenTimes() {
    if (!script_) UseScriptedPriam();
    script_->SetReply("getMeta", "[]");
    script_->SetReply("status", R"([{"data_center":"dc1"}])");
    CQiError error = coordinator_->createCassandraMetadataInIndex();
    EXPECT_FALSE(error.IsError()) << error.AsString();
    std::map<std::string, int64_t> times;
    for (const auto& record : Metadata()) {
      auto node = Parse(record).getNodeMetadata();
      if (node) times[node->getClientName()] = node->getBackupTime();
    }
    return times;
  }
};

TEST_F(NodeTimeReadBack, JobWithoutReportedTimesCarriesTheLastTimesForward) {
  EarlierJob(900, kInstanceId, {{"node1", 1000}, {"node2", 2000}});
  StoreJobItem();
  // A commit-log job: no controller reports a time.
  std::map<std::string, int64_t> expected = {{"node1", 1000}, {"node2", 2000}, {"node3", 0}};
  EXPECT_EQ(WrittenTimes(), expected);
  EXPECT_EQ(coordinator_->nodeBackupTime.at("node3"), 0);
}

TEST_F(NodeTimeReadBack, OnlySilentNodesAreReadBackAndReportedTimesStay) {
  EarlierJob(900, kInstanceId, {{"node1", 1000}, {"node2", 2000}, {"node3", 3000}});
  StoreJobItem();
  coordinator_->nodeBackupTime["node1"] = 5000;
  CLogCapture log;
  std::map<std::string, int64_t> expected = {{"node1", 5000}, {"node2", 2000}, {"node3", 3000}};
  EXPECT_EQ(WrittenTimes(), expected);
  EXPECT_TRUE(log.Contains(" path [/node2] "));
  EXPECT_TRUE(log.Contains(" path [/node3] "));
  EXPECT_FALSE(log.Contains(" path [/node1] "));
}

TEST_F(NodeTimeReadBack, NoReadBackWhenEveryNodeReported) {
  EarlierJob(900, kInstanceId, {{"node1", 1000}, {"node2", 2000}, {"node3", 3000}});
  StoreJobItem();
  coordinator_->nodeBackupTime = {{"node1", 7}, {"node2", 8}, {"node3", 9}};
  CLogCapture log;
  std::map<std::string, int64_t> expected = {{"node1", 7}, {"node2", 8}, {"node3", 9}};
  EXPECT_EQ(WrittenTimes(), expected);
  EXPECT_FALSE(log.Contains("Fetching backup time from index"));
}

TEST_F(NodeTimeReadBack, TimesOfAnotherInstanceDoNotCount) {
  EarlierJob(900, 99, {{"node1", 777}});
  StoreJobItem();
  std::map<std::string, int64_t> expected = {{"node1", 0}, {"node2", 0}, {"node3", 0}};
  EXPECT_EQ(WrittenTimes(), expected);
}

TEST_F(NodeTimeReadBack, RequestNamesTheJobsApplicationAndTheSilentNodes) {
  coordinator_->nodeBackupTime["node2"] = 5;
  CLogCapture log;
  ASSERT_FALSE(coordinator_->fetchLastBackupTimeFromIndex().IsError());
  std::string xml;
  for (const auto& line : log.Lines()) {
    if (line.text.rfind("input:\n", 0) == 0) xml = line.text.substr(7);
  }
  ASSERT_FALSE(xml.empty());
  databrowse::BrowseRequest request;
  ASSERT_EQ(request.unserialize(xml), 0) << xml;
  EXPECT_EQ(request.getRequestType(), 1);
  auto app = request.getAppId();
  ASSERT_TRUE(app);
  EXPECT_EQ(app->getOmbrelId(), 2);
  EXPECT_EQ(app->getSubclientId(), -1);
  EXPECT_EQ(app->getBackupsetId(), static_cast<int64_t>(kBackupSetId));
  EXPECT_EQ(app->getInstanceId(), static_cast<int64_t>(kInstanceId));
  EXPECT_EQ(app->getAppType(), 64);
  EXPECT_EQ(app->getClientId(), 100);
  std::vector<std::string> paths;
  for (const auto& p : request.getPaths()) paths.push_back(p.getPath());
  EXPECT_EQ(paths, (std::vector<std::string>{"/node1", "/node3"}));
  auto options = request.getOptions();
  ASSERT_TRUE(options);
  EXPECT_EQ(options->getField2(), 1);
  EXPECT_EQ(options->getIncludeMetadata(), 1);
  EXPECT_EQ(options->getField18(), 2);
  auto view = request.getViewSpec();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->getViewName(), "NodeMetaData");
  ASSERT_TRUE(view->getFlags());
  EXPECT_EQ(view->getFlags()->getField14(), 2);
  auto queries = request.getQueries();
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_EQ(queries[0].getQueryType(), 0);
  auto range = queries[0].getFilter()->getRange();
  ASSERT_TRUE(range);
  EXPECT_EQ(range->getField1(), 0);
  EXPECT_EQ(range->getField2(), 0);
  EXPECT_EQ(range->getField3(), 4294967295LL);
}

TEST_F(NodeTimeReadBack, BrowseThatCannotStartIsAnError) {
  // The index cannot be opened: its folder is a plain file.
  std::ofstream(home_->Sub("index")) << "not a folder";
  CQiError error = coordinator_->fetchLastBackupTimeFromIndex();
  ASSERT_TRUE(error.IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1627));
  EXPECT_NE(error.AsString().find(
                "Browse init failed: unable to check whether super browse is applicable"),
            std::string::npos)
      << error.AsString();
  EXPECT_TRUE(coordinator_->nodeBackupTime.empty());
}

}  // namespace
