#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "StoreTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/IndexMetaDataHelper.h"
#include "platform/index/ObjectGuid.h"

namespace {

using OBJECTOPSAPI::StreamItemHeader;

// Names of the entries of a directory (empty when it does not exist).
std::set<std::string> Entries(const std::string& directory) {
  std::set<std::string> names;
  CQiDirectory listing;
  if (listing.Open(directory.c_str()).IsError()) return names;
  for (;;) {
    SQiDirEntry entry;
    bool done = false;
    if (listing.GetEntry(entry, done).IsError() || done) break;
    names.insert(entry.name.str());
  }
  return names;
}

StreamItemHeader Piece(const std::string& headerPath, uint64_t fileSize, uint64_t offset,
                       uint64_t length) {
  StreamItemHeader header;
  header.headerPath = headerPath;
  header.sourcePath = "/data/" + headerPath;
  header.fileSize = fileSize;
  header.pieceOffset = offset;
  header.pieceLength = length;
  return header;
}

class StoreItemTest : public StoreTest {};

TEST_F(StoreItemTest, CommittedItemIsReadBackByteForByteThroughAnotherConnection) {
  const std::string content = Pattern(3 * 1024 * 1024 + 17);
  int64_t afileId = 0;
  {
    CStoreDataStream stream(Job(41));
    StreamItemHeader header =
        Piece("/c/dc1/n1/ks/tbl/na-1-big-Data.db", content.size(), 0, content.size());
    header.itemFlags = 0x40;
    header.objectFlags = 0x4000;
    int32_t type = 4;
    header.metadata.emplace_back(
        INDEXINGDATA_CASSANDRA_FILE_TYPE,
        IndexMetaDataHelper::encodeData(INDEXINGDATA_CASSANDRA_FILE_TYPE, &type));
    ASSERT_FALSE(stream.BeginItem(header).IsError());
    ASSERT_FALSE(stream.WriteExtent(0, content.data(), content.size()).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
    EXPECT_EQ(stream.ItemsCommitted(), 1u);
    EXPECT_EQ(stream.BytesCommitted(), content.size());
    afileId = stream.GetArchiveFileId();
  }
  ASSERT_GT(afileId, 0);

  CArchiveStore store;  // a connection of its own
  std::string back;
  CQiError error = store.ReadItem(41, "/c/dc1/n1/ks/tbl/na-1-big-Data.db", back);
  ASSERT_FALSE(error.IsError()) << error.AsString();
  EXPECT_TRUE(back == content);

  std::vector<SFileRecord> records;
  ASSERT_FALSE(store.Catalog().ListFileRecords(41, records).IsError());
  ASSERT_EQ(records.size(), 1u);
  const SFileRecord& r = records[0];
  EXPECT_EQ(r.archiveFileId, afileId);
  EXPECT_EQ(r.sourcePath, "/data//c/dc1/n1/ks/tbl/na-1-big-Data.db");
  EXPECT_EQ(r.itemFlags, 0x40u);
  EXPECT_EQ(r.objectFlags, 0x4000u);
  EXPECT_TRUE(r.hasFileType);
  EXPECT_EQ(r.fileType, 4);
  EXPECT_EQ(r.metadata, "[{\"id\":2116626857,\"value\":\"4\"}]");
  EXPECT_EQ(r.fileSize, content.size());
  std::string guid;
  GetObjectGuid("/c/dc1/n1/ks/tbl/na-1-big-Data.db", 0, '/', guid);
  EXPECT_EQ(r.objectGuid, guid);
  // Layout: store/<job>/<archive file>/<piece number in the archive file>.
  std::string expected = std::to_string(41) + "/" + std::to_string(afileId) + "/1";
  EXPECT_EQ(r.content, expected);
  struct stat st;
  ASSERT_EQ(stat((Home() + "/store/" + expected).c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), content.size());
}

TEST_F(StoreItemTest, ChecksumIsTheSha256OfTheContent) {
  CStoreDataStream stream(Job(1));
  ASSERT_FALSE(Store(stream, "/abc", "abc").IsError());
  ASSERT_FALSE(Store(stream, "/empty", "").IsError());
  CArchiveStore store;
  SStoredItem abc, empty;
  ASSERT_FALSE(store.FindItem(1, "/abc", abc).IsError());
  ASSERT_FALSE(store.FindItem(1, "/empty", empty).IsError());
  EXPECT_EQ(abc.pieces.at(0).sha256,
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(empty.pieces.at(0).sha256,
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  std::string back = "x";
  ASSERT_FALSE(store.ReadItem(1, "/empty", back).IsError());
  EXPECT_EQ(back, "");
}

// How an item can end without being committed.
enum class Ending { kAbort, kStreamDestroyed, kNextItemBegun, kProcessDies };

class UncommittedItemTest : public StoreTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(UncommittedItemTest, LeavesNoVisibleItem) {
  const std::string content = Pattern(100000);
  int64_t afileId = 0;
  auto writeHalf = [&](CStoreDataStream& stream) {
    ASSERT_FALSE(Store(stream, "/kept", "kept bytes").IsError());
    ASSERT_FALSE(stream.BeginItem(Piece("/lost", content.size(), 0, content.size())).IsError());
    ASSERT_FALSE(stream.WriteExtent(0, content.data(), content.size() / 2).IsError());
  };
  switch (GetParam()) {
    case Ending::kAbort: {
      CStoreDataStream stream(Job(5));
      writeHalf(stream);
      stream.AbortItem();
      EXPECT_TRUE(stream.CommitItem().IsError()) << "nothing left to commit";
      afileId = stream.GetArchiveFileId();
      break;
    }
    case Ending::kStreamDestroyed: {
      CStoreDataStream stream(Job(5));
      writeHalf(stream);
      afileId = stream.GetArchiveFileId();
      break;
    }
    case Ending::kNextItemBegun: {
      CStoreDataStream stream(Job(5));
      writeHalf(stream);
      ASSERT_FALSE(Store(stream, "/next", "next").IsError());
      afileId = stream.GetArchiveFileId();
      break;
    }
    case Ending::kProcessDies: {
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        CStoreDataStream stream(Job(5));
        if (Store(stream, "/kept", "kept bytes").IsError()) _exit(2);
        if (stream.BeginItem(Piece("/lost", content.size(), 0, content.size())).IsError()) _exit(3);
        if (stream.WriteExtent(0, content.data(), content.size() / 2).IsError()) _exit(4);
        _exit(0);  // dies with the item open: no destructor, no abort
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      ASSERT_EQ(WEXITSTATUS(status), 0);
      std::vector<GetArchFileListForJobRetCC_t> afiles;
      GetArchFileListForJobArgsCC_t args;
      args.jobId = 5;
      ASSERT_EQ(ArMgrClientAPI::getArchFileListForJob(args, afiles), ArMgrClientAPI::kSuccess);
      afileId = afiles.at(0).archiveFileId;
      break;
    }
  }

  CArchiveStore store;
  SStoredItem item;
  CQiError error = store.FindItem(5, "/lost", item);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168)) << error.AsString();
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(5, items).IsError());
  std::set<std::string> paths;
  for (const auto& i : items) paths.insert(i.headerPath);
  EXPECT_EQ(paths.count("/lost"), 0u);
  EXPECT_EQ(paths.count("/kept"), 1u);
  std::string kept;
  ASSERT_FALSE(store.ReadItem(5, "/kept", kept).IsError());
  EXPECT_EQ(kept, "kept bytes");

  // Whatever is left on disk is a temporary name, never a record's name.
  std::set<std::string> files = Entries(Home() + "/store/5/" + std::to_string(afileId));
  for (const auto& name : files) {
    bool recorded = false;
    for (const auto& i : items) {
      for (const auto& p : i.pieces) {
        recorded = recorded || p.content == "5/" + std::to_string(afileId) + "/" + name;
      }
    }
    EXPECT_TRUE(recorded || name.rfind(".tmp-", 0) == 0) << name;
  }
  if (GetParam() != Ending::kProcessDies) {
    for (const auto& name : files) EXPECT_NE(name.rfind(".tmp-", 0), 0u) << "temporary left";
  }
}

INSTANTIATE_TEST_SUITE_P(Endings, UncommittedItemTest,
                         ::testing::Values(Ending::kAbort, Ending::kStreamDestroyed,
                                           Ending::kNextItemBegun, Ending::kProcessDies));

TEST_F(StoreItemTest, ExtentsInAnyOrderAreReassembled) {
  const std::string content = Pattern(10000, 3);
  CStoreDataStream stream(Job(2));
  ASSERT_FALSE(stream.BeginItem(Piece("/f", content.size(), 0, content.size())).IsError());
  // Reverse order, and one range written twice.
  ASSERT_FALSE(stream.WriteExtent(6000, content.data() + 6000, 4000).IsError());
  ASSERT_FALSE(stream.WriteExtent(3000, content.data() + 3000, 3000).IsError());
  ASSERT_FALSE(stream.WriteExtent(0, content.data(), 3500).IsError());
  ASSERT_FALSE(stream.CommitItem().IsError());
  CArchiveStore store;
  std::string back;
  ASSERT_FALSE(store.ReadItem(2, "/f", back).IsError());
  EXPECT_TRUE(back == content);
  // The digest read back from the file matches the one made while writing.
  CStoreDataStream inOrder(Job(3));
  ASSERT_FALSE(Store(inOrder, "/f", content).IsError());
  SStoredItem a, b;
  ASSERT_FALSE(store.FindItem(2, "/f", a).IsError());
  ASSERT_FALSE(store.FindItem(3, "/f", b).IsError());
  EXPECT_EQ(a.pieces.at(0).sha256, b.pieces.at(0).sha256);
}

TEST_F(StoreItemTest, PieceWithAGapOrStrayBytesIsRefused) {
  const std::string content = Pattern(9000);
  CStoreDataStream stream(Job(2));
  ASSERT_FALSE(stream.BeginItem(Piece("/gap", content.size(), 0, content.size())).IsError());
  ASSERT_FALSE(stream.WriteExtent(0, content.data(), 3000).IsError());
  ASSERT_FALSE(stream.WriteExtent(6000, content.data() + 6000, 3000).IsError());
  CQiError error = stream.CommitItem();
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString();
  EXPECT_NE(error.GetMessage().find("bytes from 3000 of 9000"), std::string::npos)
      << error.GetMessage();

  ASSERT_FALSE(stream.BeginItem(Piece("/stray", 100, 0, 100)).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(stream.WriteExtent(90, content.data(), 11), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(stream.BeginItem(Piece("/beyond", 100, 50, 51)), 87));
  stream.AbortItem();

  CArchiveStore store;
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(2, items).IsError());
  EXPECT_TRUE(items.empty());
  for (const auto& name :
       Entries(Home() + "/store/2/" + std::to_string(stream.GetArchiveFileId()))) {
    ADD_FAILURE() << "left behind: " << name;
  }
}

TEST_F(StoreItemTest, ExtentItemsFromSeveralStreamsMakeOneFile) {
  const std::string content = Pattern(12345, 9);
  const std::string path = "/c/dc1/n1/ks/tbl/big-Data.db";
  CStoreDataStream first(Job(8, 1)), second(Job(8, 2));
  auto piece = [&](CStoreDataStream& stream, uint64_t offset, uint64_t length) {
    ASSERT_FALSE(stream.BeginItem(Piece(path, content.size(), offset, length)).IsError());
    ASSERT_FALSE(stream.WriteExtent(offset, content.data() + offset, length).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
  };
  piece(second, 8000, 4345);
  piece(first, 0, 4000);

  CArchiveStore store;
  SStoredItem item;
  CQiError error = store.FindItem(8, path, item);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << "middle extent missing";
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(8, items).IsError());
  ASSERT_EQ(items.size(), 1u);
  EXPECT_FALSE(items[0].complete);
  EXPECT_EQ(items[0].problem, "bytes from 4000 of 12345 are missing");

  piece(first, 4000, 4000);
  std::string back;
  ASSERT_FALSE(store.ReadItem(8, path, back).IsError());
  EXPECT_TRUE(back == content);
  ASSERT_FALSE(store.FindItem(8, path, item).IsError());
  ASSERT_EQ(item.pieces.size(), 3u);
  EXPECT_NE(item.pieces[0].archiveFileId, item.pieces[2].archiveFileId);
}

TEST_F(StoreItemTest, ResentItemsAndPiecesReplaceTheirOlderCopies) {
  CStoreDataStream stream(Job(4));
  ASSERT_FALSE(Store(stream, "/whole", "first copy").IsError());
  ASSERT_FALSE(Store(stream, "/whole", "second copy!").IsError());
  const std::string a = "AAAA", b = "BBBB";
  for (const std::string* part : {&a, &b}) {
    ASSERT_FALSE(stream.BeginItem(Piece("/split", 8, 0, 4)).IsError());
    ASSERT_FALSE(stream.WriteExtent(0, part->data(), 4).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
  }
  ASSERT_FALSE(stream.BeginItem(Piece("/split", 8, 4, 4)).IsError());
  ASSERT_FALSE(stream.WriteExtent(4, "CCCC", 4).IsError());
  ASSERT_FALSE(stream.CommitItem().IsError());

  CArchiveStore store;
  std::string back;
  ASSERT_FALSE(store.ReadItem(4, "/whole", back).IsError());
  EXPECT_EQ(back, "second copy!");
  ASSERT_FALSE(store.ReadItem(4, "/split", back).IsError());
  EXPECT_EQ(back, "BBBBCCCC");
}

TEST_F(StoreItemTest, ItemsOfSeveralJobsComeOneByOneByPathThenJob) {
  // Two jobs sharing some paths, one item resent within a job, a job not
  // asked for: one entry per path and job, each once, by path then job,
  // with the newest copy of a resent item.
  {
    CStoreDataStream stream(Job(21));
    ASSERT_FALSE(Store(stream, "/b", "b of 21").IsError());
    ASSERT_FALSE(Store(stream, "/a", "a of 21").IsError());
    ASSERT_FALSE(Store(stream, "/a", "a of 21, resent").IsError());
  }
  {
    CStoreDataStream stream(Job(22));
    ASSERT_FALSE(Store(stream, "/c", "c of 22").IsError());
    ASSERT_FALSE(Store(stream, "/a", "a of 22").IsError());
  }
  {
    CStoreDataStream stream(Job(23));
    ASSERT_FALSE(Store(stream, "/a", "a of 23").IsError());
  }
  CArchiveStore store;
  std::vector<std::string> seen;
  ASSERT_FALSE(store
                   .ForEachItem({22, 21},
                                [&](const SStoredItem& item) {
                                  seen.push_back(item.headerPath + " " +
                                                 std::to_string(item.jobId) + " " +
                                                 std::to_string(item.size));
                                  return CQiError::Success();
                                })
                   .IsError());
  EXPECT_EQ(seen, (std::vector<std::string>{"/a 21 15", "/a 22 7", "/b 21 7", "/c 22 7"}));

  int visits = 0;
  CQiError stopped = store.ForEachItem({21, 22, 23}, [&](const SStoredItem&) {
    return ++visits == 2 ? FXErrorUtil::ErrorWin32(FXLOC, 1223, "stop") : CQiError::Success();
  });
  EXPECT_EQ(stopped.GetValue(), 1223u);
  EXPECT_EQ(visits, 2);
}

TEST_F(StoreItemTest, VerifyComparesWithTheFileOnDisk) {
  const std::string content = Pattern(5000, 4);
  std::string same = WriteData("same", content);
  std::string changed = content;
  changed[4321] ^= 0x01;
  std::string differs = WriteData("differs", changed);
  std::string shorter = WriteData("shorter", content.substr(0, 4999));
  CStoreDataStream stream(Job(6));
  ASSERT_FALSE(Store(stream, "/f", content).IsError());
  ASSERT_FALSE(stream
                   .BeginItem([] {
                     StreamItemHeader h;
                     h.headerPath = "/d";
                     h.isDirectory = true;
                     return h;
                   }())
                   .IsError());
  ASSERT_FALSE(stream.CommitItem().IsError());

  CArchiveStore store;
  EXPECT_FALSE(store.VerifyItem(6, "/f", same).IsError());
  CQiError error = store.VerifyItem(6, "/f", differs);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 23));
  EXPECT_NE(error.GetMessage().find("at byte 4321"), std::string::npos) << error.GetMessage();
  error = store.VerifyItem(6, "/f", shorter);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 23));
  EXPECT_NE(error.GetMessage().find("holds 4999 bytes"), std::string::npos) << error.GetMessage();
  EXPECT_TRUE(FXErrorUtil::IsErrNo(store.VerifyItem(6, "/f", DataPath("none")), ENOENT));
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.VerifyItem(6, "/missing", same), 1168));
  EXPECT_FALSE(store.VerifyItem(6, "/d", DataPath("")).IsError()) << "directory against directory";
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.VerifyItem(6, "/d", same), 23));
}

TEST_F(StoreItemTest, DamagedOrMissingContentIsReported) {
  const std::string content = Pattern(4096, 5);
  CStoreDataStream stream(Job(7));
  ASSERT_FALSE(Store(stream, "/flipped", content).IsError());
  ASSERT_FALSE(Store(stream, "/gone", content).IsError());
  CArchiveStore store;
  SStoredItem flipped, gone;
  ASSERT_FALSE(store.FindItem(7, "/flipped", flipped).IsError());
  ASSERT_FALSE(store.FindItem(7, "/gone", gone).IsError());
  {
    std::fstream file(store.Root() + "/" + flipped.pieces[0].content,
                      std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(100);
    file.put(static_cast<char>(content[100] ^ 0x20));
  }
  ASSERT_EQ(unlink((store.Root() + "/" + gone.pieces[0].content).c_str()), 0);
  std::string back;
  CQiError error = store.ReadItem(7, "/flipped", back);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 23));
  EXPECT_NE(error.GetMessage().find("does not match its checksum"), std::string::npos);
  error = store.ReadItem(7, "/gone", back);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 23));
  EXPECT_NE(error.GetMessage().find("is missing"), std::string::npos);
  EXPECT_TRUE(store.RestoreItem(7, "/flipped", DataPath("restored")).IsError());
  EXPECT_FALSE(FXPath::DoesPathExist(DataPath("restored").c_str())) << "no partial restore";
}

TEST_F(StoreItemTest, RestoreWritesTheItemBack) {
  const std::string content = Pattern(2 * 1024 * 1024 + 3, 6);
  CStoreDataStream stream(Job(9));
  StreamItemHeader header = Piece("/f", content.size(), 0, content.size());
  header.mode = 0100640;
  ASSERT_FALSE(stream.BeginItem(header).IsError());
  ASSERT_FALSE(stream.WriteExtent(0, content.data(), content.size()).IsError());
  ASSERT_FALSE(stream.CommitItem().IsError());
  StreamItemHeader dir;
  dir.headerPath = "/dir";
  dir.isDirectory = true;
  ASSERT_FALSE(stream.BeginItem(dir).IsError());
  ASSERT_FALSE(stream.CommitItem().IsError());

  CArchiveStore store;
  ASSERT_FALSE(store.RestoreItem(9, "/f", WriteData("target", "old content")).IsError());
  std::string back;
  ASSERT_FALSE(CQiFile::ReadWholeFile(DataPath("target").c_str(), back).IsError());
  EXPECT_TRUE(back == content);
  struct stat st;
  ASSERT_EQ(stat(DataPath("target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_FALSE(store.RestoreItem(9, "/dir", DataPath("a/b")).IsError());
  ASSERT_EQ(stat(DataPath("a/b").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(StoreItemTest, ConcurrentStreamsOnThreadsKeepEveryItem) {
  constexpr int kThreads = 8;
  constexpr int kItems = 15;
  std::vector<std::thread> threads;
  std::vector<std::string> failures(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CStoreDataStream stream(Job(11, t + 1));
      for (int i = 0; i < kItems; ++i) {
        std::string path = "/t" + std::to_string(t) + "/i" + std::to_string(i);
        CQiError error = Store(stream, path, Pattern(1000 + i * 37, t * 100 + i));
        if (error.IsError()) {
          failures[t] = error.AsString();
          return;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& failure : failures) EXPECT_EQ(failure, "");

  CArchiveStore store;
  std::vector<SStoredItem> items;
  ASSERT_FALSE(store.ListItems(11, items).IsError());
  EXPECT_EQ(items.size(), static_cast<size_t>(kThreads * kItems));
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kItems; ++i) {
      std::string back;
      std::string path = "/t" + std::to_string(t) + "/i" + std::to_string(i);
      ASSERT_FALSE(store.ReadItem(11, path, back).IsError()) << path;
      EXPECT_TRUE(back == Pattern(1000 + i * 37, t * 100 + i)) << path;
    }
  }
  std::vector<SArchiveFileRecord> afiles;
  ASSERT_FALSE(store.Catalog().ListArchiveFiles(11, afiles).IsError());
  EXPECT_EQ(afiles.size(), static_cast<size_t>(kThreads)) << "one archive file per stream";
}

TEST_F(StoreItemTest, ConcurrentProcessesShareTheCatalog) {
  constexpr int kProcesses = 4;
  constexpr int kItems = 10;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CStoreDataStream stream(Job(12, p + 1));
      for (int i = 0; i < kItems; ++i) {
        std::string path = "/p" + std::to_string(p) + "/i" + std::to_string(i);
        CQiError error = Store(stream, path, Pattern(500 + i, p * 10 + i));
        if (error.IsError()) {
          fprintf(stderr, "child %d: %s\n", p, error.AsString().c_str());
          _exit(1);
        }
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  CArchiveStore store;
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kItems; ++i) {
      std::string back;
      std::string path = "/p" + std::to_string(p) + "/i" + std::to_string(i);
      ASSERT_FALSE(store.ReadItem(12, path, back).IsError()) << path;
      EXPECT_TRUE(back == Pattern(500 + i, p * 10 + i)) << path;
    }
  }
}

}  // namespace
