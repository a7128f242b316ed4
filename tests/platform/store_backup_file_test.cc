#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "StoreTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/ArchiveStore.h"
#include "platform/index/IndexMetaDataHelper.h"
#include "platform/objectops/BackupFile.h"
#include "platform/objectops/BackupUnixFilePrivate.h"

namespace {

using namespace OBJECTOPSAPI;

// A stream that records what it is given and passes it on to another.
class RecordingStream : public IDataStream {
 public:
  explicit RecordingStream(IDataStream* next) : next_(next) {}

  CQiError BeginItem(const StreamItemHeader& header) override {
    headers.push_back(header);
    return next_->BeginItem(header);
  }
  CQiError WriteExtent(uint64_t offset, const void* data, size_t length) override {
    extents.emplace_back(offset, length);
    if (onWrite) onWrite();
    return next_->WriteExtent(offset, data, length);
  }
  CQiError CommitItem() override {
    ++commits;
    return next_->CommitItem();
  }
  void AbortItem() override {
    ++aborts;
    next_->AbortItem();
  }

  std::vector<StreamItemHeader> headers;
  std::vector<std::pair<uint64_t, size_t>> extents;
  int commits = 0;
  int aborts = 0;
  std::function<void()> onWrite;

 private:
  IDataStream* next_;
};

// A derived private part that adds a file type, as an application's item
// does, and the item that installs it.
class TypedPrivate : public BackupUnixFilePrivate {
 public:
  using BackupUnixFilePrivate::BackupUnixFilePrivate;
  CQiError fillMetaDataList() override {
    BackupUnixFilePrivate::fillMetaDataList();
    int32_t type = 3;
    setFlags(getFlags() | 0x4000);
    getMetaDataList().emplace_back(
        INDEXINGDATA_CASSANDRA_FILE_TYPE,
        IndexMetaDataHelper::encodeData(INDEXINGDATA_CASSANDRA_FILE_TYPE, &type));
    return CQiError::Success();
  }
};

class TypedItem : public BackupFile {
 public:
  TypedItem(const std::string& file, const std::string& header, uint64_t flags,
            const ExtentBackupParams& extent)
      : BackupFile(file, header, flags, extent) {
    SetPrivate(new TypedPrivate(file, header, flags, extent));
  }
  ~TypedItem() override {
    delete m_pPrivate;
    m_pPrivate = nullptr;
  }
};

class BackupFileTest : public StoreTest {};

TEST_F(BackupFileTest, FileIsSentInExtentsAndStoredWithItsAttributes) {
  const std::string content = Pattern(300 * 1024 + 5, 2);
  std::string path = WriteData("ks/tbl-1/na-1-big-Data.db", content);
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  CStoreDataStream store(Job(20));
  RecordingStream stream(&store);
  ExtentBackupParams extent(0);
  extent.extentSize = 100 * 1024;
  BackupFile item(path, "/c/dc/n/ks/tbl/na-1-big-Data.db", 0x40, extent);
  CQiError error = item.backup(&stream, AbortCheck());
  ASSERT_FALSE(error.IsError()) << error.AsString();

  ASSERT_EQ(stream.headers.size(), 1u);
  const StreamItemHeader& h = stream.headers[0];
  EXPECT_EQ(h.headerPath, "/c/dc/n/ks/tbl/na-1-big-Data.db");
  EXPECT_EQ(h.sourcePath, path);
  EXPECT_EQ(h.itemFlags, 0x40u);
  EXPECT_FALSE(h.isDirectory);
  EXPECT_EQ(h.fileSize, content.size());
  EXPECT_EQ(h.pieceOffset, 0u);
  EXPECT_EQ(h.pieceLength, content.size());
  EXPECT_EQ(h.mode & 07777, 0604u);
  EXPECT_TRUE(h.metadata.empty());
  std::vector<std::pair<uint64_t, size_t>> expected = {
      {0, 102400}, {102400, 102400}, {204800, 102400}, {307200, 5}};
  EXPECT_EQ(stream.extents, expected);
  EXPECT_EQ(stream.commits, 1);
  EXPECT_EQ(stream.aborts, 0);

  CArchiveStore archive;
  EXPECT_FALSE(archive.VerifyItem(20, "/c/dc/n/ks/tbl/na-1-big-Data.db", path).IsError());
}

TEST_F(BackupFileTest, DerivedPrivatePartAddsItsMetadata) {
  std::string dir = DataPath("ks");
  WriteData("ks/x", "x");
  CStoreDataStream store(Job(21));
  TypedItem item(dir, "/c/dc/n/ks", 0, ExtentBackupParams(0));
  ASSERT_FALSE(item.backup(&store, AbortCheck()).IsError());
  CArchiveStore archive;
  SStoredItem stored;
  ASSERT_FALSE(archive.FindItem(21, "/c/dc/n/ks", stored).IsError());
  EXPECT_TRUE(stored.isDirectory);
  EXPECT_EQ(stored.pieces.at(0).content, "") << "a directory has no content file";
  EXPECT_TRUE(stored.pieces[0].hasFileType);
  EXPECT_EQ(stored.pieces[0].fileType, 3);
  EXPECT_EQ(stored.pieces[0].objectFlags, 0x4000u);
}

TEST_F(BackupFileTest, ExtentItemsOfOneFileAreBackedUpSeparatelyAndPutBackWhole) {
  const std::string content = Pattern(10000, 7);
  std::string path = WriteData("big", content);
  CStoreDataStream s1(Job(22, 1)), s2(Job(22, 2));
  struct Part {
    CStoreDataStream* stream;
    uint64_t offset;
    uint64_t length;
  };
  for (const Part& part : {Part{&s2, 6000, 0}, Part{&s1, 0, 3000}, Part{&s2, 3000, 3000}}) {
    ExtentBackupParams extent(part.offset);
    extent.isExtent = true;
    extent.length = part.length;
    BackupFile item(path, "/big", 0, extent);
    CQiError error = item.backup(part.stream, AbortCheck());
    ASSERT_FALSE(error.IsError()) << error.AsString();
  }
  CArchiveStore archive;
  std::string back;
  ASSERT_FALSE(archive.ReadItem(22, "/big", back).IsError());
  EXPECT_TRUE(back == content);

  ExtentBackupParams beyond(9000);
  beyond.isExtent = true;
  beyond.length = 2000;
  BackupFile item(path, "/big2", 0, beyond);
  CQiError error = item.backup(&s1, AbortCheck());
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString();
}

TEST_F(BackupFileTest, FailuresLeaveNothingInTheStore) {
  std::string file = WriteData("f", Pattern(200000));
  std::string fifo = DataPath("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  CStoreDataStream store(Job(23));

  struct Case {
    const char* name;
    std::string path;
    AbortCheck abort;
    bool shrink;
    uint32_t win32;
    int err;
  };
  int calls = 0;
  std::vector<Case> cases = {
      {"missing file", DataPath("none"), AbortCheck(), false, 0, ENOENT},
      {"pipe", fifo, AbortCheck(), false, 13, 0},
      {"stopped", file, [&] { return ++calls > 1; }, false, 1223, 0},
      {"shrinks while read", file, AbortCheck(), true, 13, 0},
  };
  for (const Case& c : cases) {
    RecordingStream stream(&store);
    if (c.shrink) {
      stream.onWrite = [&] {
        if (truncate(file.c_str(), 1000) != 0) ADD_FAILURE() << "truncate";
      };
    }
    ExtentBackupParams extent(0);
    extent.extentSize = 65536;
    BackupFile item(c.path, std::string("/") + c.name, 0, extent);
    CQiError error = item.backup(&stream, c.abort);
    ASSERT_TRUE(error.IsError()) << c.name;
    if (c.win32) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, c.win32)) << c.name << error.AsString();
    }
    if (c.err) {
      EXPECT_TRUE(FXErrorUtil::IsErrNo(error, c.err)) << c.name << error.AsString();
    }
    EXPECT_EQ(stream.commits, 0) << c.name;
  }
  EXPECT_TRUE(FXErrorUtil::IsWin32(
      BackupFile(file, "/x", 0, ExtentBackupParams(0)).backup(nullptr, AbortCheck()), 87));
  CArchiveStore archive;
  std::vector<SStoredItem> items;
  ASSERT_FALSE(archive.ListItems(23, items).IsError());
  EXPECT_TRUE(items.empty());
}

TEST_F(BackupFileTest, DefaultsOfTheParts) {
  ExtentBackupParams params(5);
  EXPECT_FALSE(params.isExtent);
  EXPECT_TRUE(params.failOnChange);
  EXPECT_EQ(params.offset, 5u);
  EXPECT_EQ(params.extentSize, 0x400000u);
  EXPECT_EQ(params.length, 0u);
  BackupFile item("/a/b", "/h", 0x4000, ExtentBackupParams(0));
  EXPECT_EQ(item.AsString(), "File [/a/b] Header [/h] Flags [0x4000]");
  std::string path = "/h";
  ASSERT_NE(item.getPrivate(), nullptr);
  EXPECT_FALSE(item.getPrivate()->formatExtentFilePath(path).IsError());
  EXPECT_EQ(path, "/h");
}

}  // namespace
