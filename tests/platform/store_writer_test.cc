#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "StoreTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArchiveItemWriter.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/SqliteDb.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Names(const std::string& directory) {
  CQiDirectory listing;
  std::set<std::string> names;
  if (listing.Open(directory.c_str()).IsError()) return names;
  SQiDirEntry entry;
  bool done = false;
  while (!listing.GetEntry(entry, done).IsError() && !done) names.insert(entry.name.str());
  return names;
}

class ArchiveItemWriterTest : public StoreTest {};

TEST_F(ArchiveItemWriterTest, PlaceNeverReplacesAnotherFile) {
  const std::string directory = Home() + "/afile";
  ASSERT_FALSE(CQiDirectory::Create(directory.c_str(), true).IsError());
  std::ofstream(directory + "/1") << "committed";

  CArchiveItemWriter writer(directory, true);
  ASSERT_FALSE(writer.Begin(0, 5).IsError());
  ASSERT_FALSE(writer.Write(0, "fresh", 5).IsError());
  std::string sha;
  ASSERT_FALSE(writer.Finish(sha).IsError());
  CQiError error = writer.Place("1");
  EXPECT_TRUE(FXErrorUtil::IsErrNo(error, EEXIST)) << error.AsString();
  EXPECT_EQ(ReadAll(directory + "/1"), "committed");

  // The piece is still there to be placed under a free name.
  ASSERT_FALSE(writer.Place("2").IsError());
  EXPECT_EQ(ReadAll(directory + "/2"), "fresh");
  EXPECT_EQ(Names(directory), (std::set<std::string>{"1", "2"}));
}

TEST_F(ArchiveItemWriterTest, StepsOutOfOrderAreRefused) {
  const std::string directory = Home() + "/afile";
  ASSERT_FALSE(CQiDirectory::Create(directory.c_str(), true).IsError());
  struct Case {
    const char* name;
    bool finish;  // Finish before the step
    bool place;   // the step: Place, else Write
  };
  const Case cases[] = {
      {"place before finish", false, true},
      {"write after finish", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CArchiveItemWriter writer(directory, false);
    ASSERT_FALSE(writer.Begin(0, 3).IsError());
    ASSERT_FALSE(writer.Write(0, "abc", 3).IsError());
    std::string sha;
    if (c.finish) {
      ASSERT_FALSE(writer.Finish(sha).IsError());
    }
    CQiError error = c.place ? writer.Place("x") : writer.Write(0, "xyz", 3);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << error.AsString();
  }
  EXPECT_TRUE(Names(directory).empty()) << "nothing placed, no temporary left";
}

class StorePieceNamesTest : public StoreTest {};

TEST_F(StorePieceNamesTest, EachStreamNumbersThePiecesOfItsOwnArchiveFile) {
  int64_t firstFile = 0, secondFile = 0;
  {
    CStoreDataStream first(Job(7, 1));
    CStoreDataStream second(Job(7, 2));
    ASSERT_FALSE(Store(first, "/a", "first a").IsError());
    ASSERT_FALSE(Store(second, "/b", "second b").IsError());
    ASSERT_FALSE(Store(first, "/c", "first c").IsError());
    firstFile = first.GetArchiveFileId();
    secondFile = second.GetArchiveFileId();
  }
  ASSERT_NE(firstFile, secondFile);
  CArchiveStore store;
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(7, items).IsError());
  std::map<std::string, std::string> contentOf;
  for (const auto& item : items) contentOf[item.headerPath] = item.pieces.at(0).content;
  const std::string first = "7/" + std::to_string(firstFile) + "/";
  const std::string second = "7/" + std::to_string(secondFile) + "/";
  EXPECT_EQ(contentOf, (std::map<std::string, std::string>{
                           {"/a", first + "1"}, {"/b", second + "1"}, {"/c", first + "2"}}));
  std::string back;
  ASSERT_FALSE(store.ReadItem(7, "/c", back).IsError());
  EXPECT_EQ(back, "first c");
}

// With a commit batch, committed items are handed to the batch: no reader
// sees them (nor their rows) until the batch is full or flushed, then every
// item of the batch is there, whole; the stream's end confirms what is left.
TEST_F(StorePieceNamesTest, ABatchIsConfirmedWholeWhenFullOrFlushed) {
  auto headers = [] {
    CArchiveStore store;
    std::vector<SStoredItem> items;
    EXPECT_FALSE(store.ListItems(8, items).IsError());
    std::vector<std::string> paths;
    for (const auto& item : items) paths.push_back(item.headerPath);
    return paths;
  };
  {
    SStreamJob job = Job(8, 1);
    job.commitBatch = 3;
    CStoreDataStream stream(job);
    ASSERT_FALSE(Store(stream, "/a", "content a").IsError());
    ASSERT_FALSE(Store(stream, "/b", "content b").IsError());
    EXPECT_EQ(stream.PendingItems(), 2u);
    EXPECT_EQ(stream.ItemsCommitted(), 0u);
    EXPECT_TRUE(headers().empty());
    ASSERT_FALSE(Store(stream, "/c", "content c").IsError());  // the batch is full
    EXPECT_EQ(stream.PendingItems(), 0u);
    EXPECT_EQ(stream.ItemsCommitted(), 3u);
    EXPECT_EQ(headers(), (std::vector<std::string>{"/a", "/b", "/c"}));
    ASSERT_FALSE(Store(stream, "/d", "content d").IsError());
    EXPECT_EQ(headers().size(), 3u);
    ASSERT_FALSE(stream.Flush().IsError());
    EXPECT_EQ(headers().size(), 4u);
    ASSERT_FALSE(stream.Flush().IsError());  // nothing pending: nothing to do
    ASSERT_FALSE(Store(stream, "/e", "content e").IsError());
  }
  EXPECT_EQ(headers(), (std::vector<std::string>{"/a", "/b", "/c", "/d", "/e"}));
  CArchiveStore store;
  std::string back;
  ASSERT_FALSE(store.ReadItem(8, "/e", back).IsError());
  EXPECT_EQ(back, "content e");
}

// A batch that cannot be confirmed leaves no row; the Flush that meets it
// fails (its items had been handed over), and the next one has nothing left.
TEST_F(StorePieceNamesTest, ALostBatchIsToldByTheNextFlush) {
  SStreamJob job = Job(9, 1);
  job.commitBatch = 3;
  CStoreDataStream stream(job);
  ASSERT_FALSE(Store(stream, "/a", "content a").IsError());
  ASSERT_FALSE(Store(stream, "/b", "content b").IsError());
  // The archive file's folder goes: the batch's flush cannot open it.
  std::filesystem::remove_all(CArchiveStore::RootUnder(Home()) + "/9/" +
                              std::to_string(stream.GetArchiveFileId()));
  EXPECT_TRUE(Store(stream, "/c", "content c").IsError());  // no temporary file either
  EXPECT_EQ(stream.PendingItems(), 2u);
  EXPECT_TRUE(stream.Flush().IsError());
  EXPECT_EQ(stream.PendingItems(), 0u);
  EXPECT_FALSE(stream.Flush().IsError());
  CArchiveStore store;
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(9, items).IsError());
  EXPECT_TRUE(items.empty());
}

// Ends a write transaction of one connection in `end`, then starts one on a
// second connection of the same file from the same thread: the second must
// not wait for the first.
class CatalogWriterTest : public StoreTest {};

TEST_F(CatalogWriterTest, EveryEndOfAWriteTransactionLetsTheNextWriterIn) {
  const std::string path = Home() + "/gate.db";
  struct Case {
    const char* name;
    std::function<void(CSqliteDb&)> end;
  };
  const Case cases[] = {
      {"commit", [](CSqliteDb& db) { EXPECT_FALSE(db.Commit().IsError()); }},
      {"rollback", [](CSqliteDb& db) { db.Rollback(); }},
      {"close", [](CSqliteDb& db) { db.Close(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> result = done->get_future();
    std::thread([path, c, done] {
      CSqliteDb first, second;
      bool ok = !first.Open(path).IsError() && !second.Open(path).IsError() &&
                !first.BeginImmediate().IsError();
      if (ok) c.end(first);
      ok = ok && !second.BeginImmediate().IsError() && !second.Commit().IsError();
      done->set_value(ok);
    }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the second writer still waits";
    EXPECT_TRUE(result.get());
  }
}

}  // namespace
