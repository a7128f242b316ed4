#include <gtest/gtest.h>

#include <map>

#include "IndexTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/IdxBrowseClient.h"

namespace {

using namespace index_test;
using databrowse::BrowseData;

// A request as the index readers build it.
databrowse::BrowseRequest Request(const std::string& view, const std::vector<std::string>& paths,
                                  int64_t instanceId = 7) {
  databrowse::BrowseRequest request;
  request.setRequestType(1);
  TqEntities::AppIdEntity app;
  app.setOmbrelId(2);
  app.setSubclientId(-1);
  app.setBackupsetId(8);
  app.setInstanceId(instanceId);
  app.setAppType(64);
  app.setClientId(5);
  request.setAppId(app);
  std::vector<databrowse::BrowsePath> list;
  for (const auto& p : paths) list.emplace_back(p);
  request.setPaths(list);
  databrowse::BrowseOptions options;
  options.setField2(1);
  options.setIncludeMetadata(1);
  options.setField18(2);
  request.setOptions(options);
  databrowse::BrowseViewSpec spec;
  spec.setViewName(view);
  databrowse::BrowseFlags flags;
  flags.setField14(2);
  spec.setFlags(flags);
  request.setViewSpec(spec);
  databrowse::QueryRange range;
  range.setField3(4294967295LL);
  databrowse::QueryFilter filter;
  filter.setRange(range);
  databrowse::Query query;
  query.setQueryType(0);
  query.setFilter(filter);
  request.setQueries({query});
  return request;
}

// Every item of the answer, in order.
std::vector<BrowseData> BrowseAll(const databrowse::BrowseRequest& request, int* rc = nullptr) {
  IdxBrowseClient client;
  std::vector<BrowseData> items;
  int init = client.Initialize(request, nullptr, 2000, nullptr, nullptr);
  EXPECT_EQ(init, 0);
  EXPECT_FALSE(client.isInitFailed());
  EXPECT_TRUE(client.isIndexingV2BrowseRequest());
  client.setCreateRestorVectorFlag(false);
  databrowse::BrowseResponseList responses;
  int result = client.Browse(nullptr, &responses);
  if (rc) *rc = result;
  EXPECT_EQ(result, 0);
  for (const auto& response : responses.getResponses()) {
    EXPECT_EQ(response.getStatus(), 0);
    auto browseResult = response.getResult();
    EXPECT_TRUE(browseResult.has_value());
    if (!browseResult) continue;
    EXPECT_TRUE(browseResult->hasData());
    for (const auto& item : browseResult->getData()) items.push_back(item);
  }
  return items;
}

std::vector<std::string> Paths(const std::vector<BrowseData>& items) {
  std::vector<std::string> paths;
  for (const auto& item : items) paths.push_back(item.getPath());
  return paths;
}

int64_t NodeTime(const BrowseData& item) {
  auto details = item.getDetails();
  if (!details) return -1;
  auto metadata = details->getMetadata();
  if (!metadata || !metadata->getNodeMetadata()) return -1;
  return metadata->getNodeMetadata()->getBackupTime();
}

class IndexBrowseTest : public StoreTest {
 protected:
  // Writes the views of one job's end: node times, then keyspaces and tables.
  void WriteViews(int64_t jobId, const std::map<std::string, int64_t>& nodes,
                  const std::map<std::string, std::vector<std::string>>& keyspaces,
                  uint64_t instanceId = 7) {
    SStreamJob job = Job(jobId);
    job.instanceId = instanceId;
    ArchiveFileId_t afile = MakeArchiveFile(job);
    IndexingConnection connection;
    ASSERT_EQ(connection.initialize(2, 9, 64, 1, "", "", nullptr, 0), 0);
    ASSERT_EQ(connection.sendAfileInfo(afile, false), 0);
    std::vector<std::pair<std::string, IdxMetadata::IdxMetaData>> entries;
    for (const auto& node : nodes)
      entries.emplace_back("/" + node.first, NodeEntry(node.first, node.second));
    for (const auto& ks : keyspaces) {
      entries.emplace_back("/" + ks.first, KeyspaceEntry(ks.first));
      for (const auto& table : ks.second) {
        entries.emplace_back("/" + ks.first + "/" + table, TableEntry(ks.first, table));
      }
    }
    ASSERT_EQ(SendEntries(connection, entries), 0);
    ASSERT_EQ(connection.updateRestartInfo(-1), 0);
    ASSERT_EQ(connection.backupDone(1), 0);
    afiles_[jobId] = afile.archiveFileId;
  }

  std::map<int64_t, uint32_t> afiles_;
};

TEST_F(IndexBrowseTest, NodeTimesWrittenByTheConnectionAreFound) {
  WriteViews(40, {{"n1", 1700000001}, {"n2", 1700000002}, {"n3", 1700000003}}, {});
  std::vector<BrowseData> items = BrowseAll(Request("NodeMetaData", {"/n1", "/n2", "/n3", "/n4"}));
  ASSERT_EQ(Paths(items), (std::vector<std::string>{"/n1", "/n2", "/n3"}));
  EXPECT_EQ(NodeTime(items[0]), 1700000001);
  EXPECT_EQ(NodeTime(items[1]), 1700000002);
  EXPECT_EQ(NodeTime(items[2]), 1700000003);
  auto details = items[0].getDetails();
  ASSERT_TRUE(details.has_value());
  EXPECT_EQ(details->getArchiveFileId(), afiles_[40]);
  EXPECT_EQ(details->getArchiveGroup(), 1);
  EXPECT_EQ(details->getFileCount(), 1);
  EXPECT_GT(details->getBackupTime(), 0);
  ASSERT_TRUE(details->getOmbrel().has_value());
  EXPECT_EQ(details->getOmbrel()->getOmbrelId(), 2);
  EXPECT_EQ(items[0].getName(), "n1");
}

TEST_F(IndexBrowseTest, DBViewEntriesOfAKeyspaceAndItsTables) {
  WriteViews(41, {{"n1", 1}}, {{"shop", {"orders", "items"}}, {"other", {"t"}}});
  std::vector<BrowseData> items = BrowseAll(Request("DBView", {"/shop", "/shop/*"}));
  ASSERT_EQ(Paths(items), (std::vector<std::string>{"/shop", "/shop/items", "/shop/orders"}));
  auto keyspace = items[0].getDetails()->getMetadata();
  ASSERT_TRUE(keyspace.has_value());
  ASSERT_TRUE(keyspace->getHeader().has_value());
  EXPECT_EQ(keyspace->getHeader()->getObjectGuid(), Guid("/shop"));
  auto ks = keyspace->getKeyspaceMetadata();
  ASSERT_TRUE(ks.has_value());
  EXPECT_EQ(ks->getCql(), KeyspaceEntry("shop").getKeyspaceMetadata()->getCql());
  ASSERT_EQ(ks->getReplication().size(), 2u);
  EXPECT_EQ(ks->getReplication()[1].getDataCenter(), "dc2");
  EXPECT_EQ(ks->getReplication()[1].getReplicationFactor(), 2);
  auto table = items[2].getDetails()->getMetadata()->getTableMetadata();
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->getTableName(), "orders");
  EXPECT_EQ(table->getTableId(), "5bc52802-de25-35ed-aeab-188eecebb090");
  EXPECT_EQ(table->getCql(), "CREATE TABLE shop.orders (id int PRIMARY KEY);");

  EXPECT_EQ(Paths(BrowseAll(Request("DBView", {"/*"}))),
            (std::vector<std::string>{"/other", "/shop"}))
      << "children of the root: keyspaces only, not the other view's node entries";
  EXPECT_EQ(
      Paths(BrowseAll(Request("DBView", {"/**/*"}))),
      (std::vector<std::string>{"/other", "/other/t", "/shop", "/shop/items", "/shop/orders"}));
  EXPECT_EQ(Paths(BrowseAll(Request("DBView", {"/shop/**"}))),
            (std::vector<std::string>{"/shop/items", "/shop/orders"}));
  EXPECT_EQ(Paths(BrowseAll(Request("DBView", {"/shop/*", "/shop/orders", "/shop/orders/*"}))),
            (std::vector<std::string>{"/shop/items", "/shop/orders"}))
      << "an entry matched twice is returned once";
  EXPECT_TRUE(BrowseAll(Request("NodeMetaData", {"/shop"})).empty()) << "views stay apart";
}

TEST_F(IndexBrowseTest, NewestEntryOfEveryPathCounts) {
  WriteViews(42, {{"n1", 100}, {"n2", 150}}, {{"shop", {"orders"}}});
  WriteViews(43, {{"n1", 200}}, {{"shop", {}}});
  std::vector<BrowseData> items = BrowseAll(Request("NodeMetaData", {"/n1", "/n2"}));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(NodeTime(items[0]), 200);
  EXPECT_EQ(NodeTime(items[1]), 150) << "a node the later job did not write keeps its time";
  EXPECT_EQ(items[0].getDetails()->getArchiveFileId(), afiles_[43]);
  EXPECT_EQ(Paths(BrowseAll(Request("DBView", {"/shop", "/shop/*"}))),
            (std::vector<std::string>{"/shop", "/shop/orders"}));
}

TEST_F(IndexBrowseTest, ScopeAndTimeRangeChooseTheJobs) {
  WriteViews(44, {{"n1", 100}}, {});
  WriteViews(45, {{"n1", 999}}, {}, 8);  // another instance
  struct Case {
    const char* name;
    int64_t instance;
    int64_t fromTime;
    int64_t toTime;
    int64_t expected;  // -1: nothing found
  };
  const int64_t now = static_cast<int64_t>(time(nullptr));
  for (const Case& c : {Case{"own instance", 7, 0, 0, 100}, Case{"other instance", 8, 0, 0, 999},
                        Case{"any instance", 0, 0, 0, 999}, Case{"before every entry", 7, 0, 1, -1},
                        Case{"after every entry", 7, now + 3600, 0, -1},
                        Case{"around the entries", 7, now - 3600, now + 3600, 100}}) {
    databrowse::BrowseRequest request = Request("NodeMetaData", {"/n1"}, c.instance);
    if (c.fromTime || c.toTime) {
      databrowse::TimeRange range;
      range.setFromTime(c.fromTime);
      range.setToTime(c.toTime);
      request.setTimeRange(range);
    }
    std::vector<BrowseData> items = BrowseAll(request);
    if (c.expected < 0) {
      EXPECT_TRUE(items.empty()) << c.name;
    } else {
      ASSERT_EQ(items.size(), 1u) << c.name;
      EXPECT_EQ(NodeTime(items[0]), c.expected) << c.name;
    }
  }
}

TEST_F(IndexBrowseTest, EntryWithoutItsFileRecordIsFoundByItsPath) {
  ArchiveFileId_t afile = MakeArchiveFile(Job(46));
  IndexingConnection connection;
  ASSERT_EQ(connection.initialize(2, 9, 64, 1, "", "", nullptr, 0), 0);
  ASSERT_EQ(connection.sendAfileInfo(afile, false), 0);
  ASSERT_EQ(connection.sendMetaDataInfo(NodeEntry("lonely", 5)), 0);
  std::vector<BrowseData> items = BrowseAll(Request("NodeMetaData", {"/lonely"}));
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].getPath(), "/lonely");
  EXPECT_EQ(NodeTime(items[0]), 5);
}

TEST_F(IndexBrowseTest, BrowseThatCannotStartIsAnError) {
  std::string blocker = WriteData("not-a-folder", "x");
  IdxBrowseClient broken(blocker);
  EXPECT_NE(broken.Initialize(Request("NodeMetaData", {"/n1"}), nullptr, 2000, nullptr, nullptr),
            0);
  EXPECT_TRUE(broken.isInitFailed());
  EXPECT_FALSE(broken.isIndexingV2BrowseRequest());
  databrowse::BrowseResponseList responses;
  EXPECT_NE(broken.Browse(nullptr, &responses), 0);
  EXPECT_TRUE(broken.getLastError().IsError());

  IdxBrowseClient idle;
  EXPECT_NE(idle.Browse(nullptr, &responses), 0) << "not initialised";

  IdxBrowseClient client;
  databrowse::BrowseRequest request = Request("NodeMetaData", {"/n1"});
  ASSERT_EQ(client.Initialize(request, nullptr, 2000, nullptr, nullptr), 0);
  EXPECT_NE(client.Browse(nullptr, nullptr), 0);
  request.setRequestType(0);
  ASSERT_EQ(client.Initialize(request, nullptr, 2000, nullptr, nullptr), 0);
  EXPECT_FALSE(client.isIndexingV2BrowseRequest());
}

class ItemBrowseTest : public IndexBrowseTest {
 protected:
  void SetUp() override {
    IndexBrowseTest::SetUp();
    CStoreDataStream s1(Job(50, 1)), s2(Job(50, 2));
    dir(s1, "/c/dc1/n1/ks");
    dir(s1, "/c/dc1/n1/ks/tbl");
    ASSERT_FALSE(Store(s1, "/c/dc1/n1/ks/tbl/f1", "one", "/data/ks/tbl-1/f1").IsError());
    ASSERT_FALSE(Store(s1, "/c/dc1/n1/ks/tbl/f2", "two").IsError());
    ASSERT_FALSE(Store(s1, "/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", "log").IsError());
    // f3 in two extents from the second stream.
    for (uint64_t offset : {0, 2}) {
      OBJECTOPSAPI::StreamItemHeader header;
      header.headerPath = "/c/dc1/n2/ks/tbl/f3";
      header.fileSize = 4;
      header.pieceOffset = offset;
      header.pieceLength = 2;
      ASSERT_FALSE(s2.BeginItem(header).IsError());
      ASSERT_FALSE(s2.WriteExtent(offset, "abcd" + offset, 2).IsError());
      ASSERT_FALSE(s2.CommitItem().IsError());
    }
    // Half of f4: never a whole file.
    OBJECTOPSAPI::StreamItemHeader half;
    half.headerPath = "/c/dc1/n2/ks/tbl/f4";
    half.fileSize = 4;
    half.pieceLength = 2;
    ASSERT_FALSE(s2.BeginItem(half).IsError());
    ASSERT_FALSE(s2.WriteExtent(0, "ab", 2).IsError());
    ASSERT_FALSE(s2.CommitItem().IsError());
    afile1_ = s1.GetArchiveFileId();
    afile2_ = s2.GetArchiveFileId();
  }

  // Stores a directory item.
  static void dir(CStoreDataStream& stream, const std::string& path) {
    OBJECTOPSAPI::StreamItemHeader header;
    header.headerPath = path;
    header.isDirectory = true;
    ASSERT_FALSE(stream.BeginItem(header).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
  }

  static int64_t Total(const databrowse::BrowseRequest& request) {
    IdxBrowseClient client;
    EXPECT_EQ(client.Initialize(request, nullptr, 2000, nullptr, nullptr), 0);
    databrowse::BrowseResponseList responses;
    EXPECT_EQ(client.Browse(nullptr, &responses), 0);
    auto result = responses.getResponses().at(0).getResult();
    EXPECT_TRUE(result->hasAggregates());
    return result->getAggregates().at(0).getExpectedItemTotal();
  }

  int64_t afile1_ = 0;
  int64_t afile2_ = 0;
};

TEST_F(ItemBrowseTest, ItemsUnderAPath) {
  std::vector<BrowseData> items = BrowseAll(Request("", {"/c/dc1/n1/ks"}));
  EXPECT_EQ(Paths(items), (std::vector<std::string>{"/c/dc1/n1/ks", "/c/dc1/n1/ks/tbl",
                                                    "/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2"}));
  EXPECT_EQ(Total(Request("", {"/c/dc1/n1/ks"})), 4);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[2].getName(), "f1");
  EXPECT_EQ(items[2].getField8(), "/data/ks/tbl-1/f1");
  auto details = items[2].getDetails();
  EXPECT_EQ(details->getArchiveFileId(), afile1_);
  EXPECT_EQ(details->getFileCount(), 1);
  EXPECT_EQ(details->getExtentCount(), 0);
  EXPECT_FALSE(details->getMetadata().has_value());

  EXPECT_EQ(Paths(BrowseAll(Request("", {"/c/dc1/n1/ks/tbl/*"}))),
            (std::vector<std::string>{"/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2"}));
  std::vector<BrowseData> n2 = BrowseAll(Request("", {"/c/dc1/n2"}));
  ASSERT_EQ(Paths(n2), (std::vector<std::string>{"/c/dc1/n2/ks/tbl/f3"}))
      << "an item missing an extent is left out";
  EXPECT_EQ(n2[0].getDetails()->getExtentCount(), 2);
  EXPECT_EQ(Total(Request("", {"/**/*"})), 6);
  EXPECT_EQ(Total(Request("", {"/c/dc1/n1/ks", "/c/dc1/n1/ks/tbl"})), 4) << "each item once";
}

TEST_F(ItemBrowseTest, PerArchiveFileAnswerSumsItsItems) {
  databrowse::BrowseRequest request = Request("", {"/**/*"});
  databrowse::BrowseOptions options = *request.getOptions();
  options.setField62(1);
  request.setOptions(options);
  std::vector<BrowseData> groups = BrowseAll(request);
  ASSERT_EQ(groups.size(), 3u);
  std::map<std::string, std::pair<int64_t, int64_t>> byPath;  // path -> (archive file, count)
  for (const auto& g : groups) {
    byPath[g.getPath()] = {g.getDetails()->getArchiveFileId(), g.getDetails()->getFileCount()};
  }
  EXPECT_EQ(byPath["/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log"], std::make_pair(afile1_, int64_t{1}));
  EXPECT_EQ(byPath["/c/dc1/n1/ks"], std::make_pair(afile1_, int64_t{4}));
  EXPECT_EQ(byPath["/c/dc1/n2/ks/tbl/f3"], std::make_pair(afile2_, int64_t{1}));
  EXPECT_EQ(Total(request), 6);
}

TEST_F(ItemBrowseTest, ItemsAboveTheInstancesCountWithTheirArchiveFilesInstance) {
  int64_t withInstance = 0, withoutInstance = 0;
  {
    CStoreDataStream stream(Job(52));
    dir(stream, "/c");
    dir(stream, "/c/dc1");
    dir(stream, "/c/dc1/n3");
    ASSERT_FALSE(Store(stream, "/c/dc1/n3/ks/tbl/f5", "five").IsError());
    withInstance = stream.GetArchiveFileId();
  }
  {
    CStoreDataStream stream(Job(53));
    dir(stream, "/c/dc2");
    withoutInstance = stream.GetArchiveFileId();
  }
  databrowse::BrowseRequest request = Request("", {"/c"});
  databrowse::BrowseOptions options = *request.getOptions();
  options.setField62(1);
  request.setOptions(options);
  std::map<std::string, std::pair<int64_t, int64_t>> byPath;  // path -> (archive file, count)
  int64_t files = 0;
  for (const auto& g : BrowseAll(request)) {
    byPath[g.getPath()] = {g.getDetails()->getArchiveFileId(), g.getDetails()->getFileCount()};
    files += g.getDetails()->getFileCount();
  }
  // "/c" and "/c/dc1" count in n3's group, whose name is its own first item.
  EXPECT_EQ(byPath["/c/dc1/n3"], std::make_pair(withInstance, int64_t{4}));
  EXPECT_EQ(byPath["/c/dc2"], std::make_pair(withoutInstance, int64_t{1}));
  EXPECT_EQ(byPath.count("/c"), 0u);
  EXPECT_EQ(byPath.size(), 5u);  // and the three groups of the fixture
  EXPECT_EQ(files, Total(request));
}

TEST_F(ItemBrowseTest, NewestJobOfEveryItemCounts) {
  int64_t later = 0;
  {
    CStoreDataStream stream(Job(51));
    ASSERT_FALSE(Store(stream, "/c/dc1/n1/ks/tbl/f1", "one, again").IsError());
    later = stream.GetArchiveFileId();
  }
  std::vector<BrowseData> items = BrowseAll(Request("", {"/c/dc1/n1/ks/tbl/*"}));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].getDetails()->getArchiveFileId(), later);
  EXPECT_EQ(items[1].getDetails()->getArchiveFileId(), afile1_);

  databrowse::BrowseRequest otherInstance = Request("", {"/**/*"}, 70);
  EXPECT_TRUE(BrowseAll(otherInstance).empty());
}

TEST_F(ItemBrowseTest, ItemsOneAtATimeAreTheAnswersItemsEachOnce) {
  // Request paths that overlap, repeat, or name a prefix that is not a whole
  // component: the items handed on one at a time are those of the browse's
  // answer, in its order, each once.
  const struct {
    std::vector<std::string> paths;
    std::vector<std::string> expected;
  } cases[] = {
      {{"/c/dc1/n1/ks", "/c/dc1/n1/ks/tbl"},
       {"/c/dc1/n1/ks", "/c/dc1/n1/ks/tbl", "/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2"}},
      {{"/c/dc1/n1/ks/tbl/*", "/c/dc1/n1"},
       {"/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2", "/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log",
        "/c/dc1/n1/ks", "/c/dc1/n1/ks/tbl"}},
      {{"/**/*", "/c/dc1/n2/ks/tbl/f3", "/c/dc1/n1/ks/tbl/*"},
       {"/c/dc1/n1/#COMMITLOG#/CommitLog-7-1.log", "/c/dc1/n1/ks", "/c/dc1/n1/ks/tbl",
        "/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2", "/c/dc1/n2/ks/tbl/f3"}},
      {{"/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f1"}, {"/c/dc1/n1/ks/tbl/f1"}},
      {{"/c/dc1/n1/ks/tb", "/c/dc1/n1/ks/tbl/f", "/c/dc1/n1/ks/tbl/*"},
       {"/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2"}},
      {{"/c/dc1/n1/ks/tbl", "/c/dc1/n1/ks/*"},
       {"/c/dc1/n1/ks/tbl", "/c/dc1/n1/ks/tbl/f1", "/c/dc1/n1/ks/tbl/f2"}},
      {{"/c/dc1/n2/*"}, {}},
  };
  for (const auto& c : cases) {
    const databrowse::BrowseRequest request = Request("", c.paths);
    IdxBrowseClient client;
    ASSERT_EQ(client.Initialize(request, nullptr, 2000, nullptr, nullptr), 0);
    std::vector<std::string> visited;
    std::vector<int64_t> archiveFiles;
    CQiError error = client.ForEachItem([&](const SStoredItem& item) {
      visited.push_back(item.headerPath);
      archiveFiles.push_back(client.ItemEntry(item).getDetails()->getArchiveFileId());
      return CQiError::Success();
    });
    EXPECT_FALSE(error.IsError()) << error.AsString();
    EXPECT_EQ(visited, c.expected) << c.paths.front();
    std::vector<BrowseData> answer = BrowseAll(request);
    EXPECT_EQ(Paths(answer), visited) << c.paths.front();
    for (size_t i = 0; i < answer.size() && i < archiveFiles.size(); ++i) {
      EXPECT_EQ(answer[i].getDetails()->getArchiveFileId(), archiveFiles[i]) << visited[i];
    }
  }
}

TEST_F(ItemBrowseTest, AnErrorOfTheVisitEndsTheWalk) {
  IdxBrowseClient client;
  ASSERT_EQ(client.Initialize(Request("", {"/**/*"}), nullptr, 2000, nullptr, nullptr), 0);
  int visits = 0;
  CQiError error = client.ForEachItem([&](const SStoredItem&) {
    ++visits;
    return visits == 2 ? FXErrorUtil::ErrorWin32(FXLOC, 1223, "stop here") : CQiError::Success();
  });
  EXPECT_EQ(visits, 2);
  EXPECT_EQ(error.GetValue(), 1223u);

  IdxBrowseClient idle;
  EXPECT_TRUE(idle.ForEachItem([](const SStoredItem&) { return CQiError::Success(); }).IsError())
      << "not initialised";
}

}  // namespace
