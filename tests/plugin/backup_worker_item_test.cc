// The Cassandra item: the file type of a header path, the metadata entry and
// the object flags it sends, and its bytes.
#include <gtest/gtest.h>

#include <string>

#include "backup/BackupCassandraItem.h"
#include "backup/BackupCassandraItemPrivate.h"
#include "platform/log/LogWriter.h"
#include "tests/plugin/BackupWorkerTestSupport.h"

namespace {

using OBJECTOPSAPI::BackupCassandraItem;
using OBJECTOPSAPI::ExtentBackupParams;
using workertest::CInMemoryDataStream;
using workertest::FileTypeOf;

TEST(CassandraFileType, FollowsTheHeaderPathsDepthAndTheCommitLogComponent) {
  const struct {
    const char* headerPath;
    int type;  // -1: none
  } cases[] = {
      {"/Cl", 6},
      {"/Cl/dc1", 1},
      {"/Cl/dc1/inst1", 0},
      {"/Cl/dc1/inst1/ks", 3},
      {"/Cl/dc1/inst1/ks/tbl", 2},
      {"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db", 4},
      {"/Cl/dc1/inst1/#COMMITLOG#", 5},
      {"/Cl/dc1/inst1/#COMMITLOG#/CommitLog-7-1.log", 5},
      {"/Cl/dc1/inst1/ks/#COMMITLOG#", 2},  // only the fifth field counts
      {"/Cl/dc1/inst1/ks/tbl/a/b", -1},     // a component holding "/"
      {"Cl", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.headerPath);
    int32_t type = -7;
    bool found = OBJECTOPSAPI::GetCassandraFileType(c.headerPath, type);
    EXPECT_EQ(found, c.type >= 0);
    if (found) {
      EXPECT_EQ(type, c.type);
    }
  }
}

// Every level but a data file carries the object flag 0x4000, and the metadata
// id 0x7E2929A9 with the decimal text of the type.
TEST(CassandraItem, SendsItsFileTypeAndFlagsWithTheBytesOfTheFile) {
  simtest::TempDir dir;
  const std::string file = dir.Sub("na-1-big-Data.db");
  simtest::WriteFile(file, "sstable bytes");
  const struct {
    std::string headerPath;
    int type;
    bool notDataFileFlag;
  } cases[] = {
      {"/Cl", 6, true},
      {"/Cl/dc1", 1, true},
      {"/Cl/dc1/inst1", 0, true},
      {"/Cl/dc1/inst1/ks", 3, true},
      {"/Cl/dc1/inst1/ks/tbl", 2, true},
      {"/Cl/dc1/inst1/ks/tbl/na-1-big-Data.db", 4, false},
      {"/Cl/dc1/inst1/#COMMITLOG#/CommitLog-7-1.log", 5, true},
      {"/Cl/dc1/inst1/ks/tbl/x/na-1-big-Data.db", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.headerPath);
    CInMemoryDataStream stream;
    CLogCapture log;
    BackupCassandraItem item(file, c.headerPath, 0x40, ExtentBackupParams(0));
    ASSERT_NE(dynamic_cast<OBJECTOPSAPI::BackupCassandraItemPrivate*>(item.getPrivate()), nullptr);
    ASSERT_FALSE(item.backup(&stream, OBJECTOPSAPI::AbortCheck()).IsError());
    const auto items = stream.Items();
    ASSERT_EQ(items.size(), 1u);
    const auto& header = items[0].header;
    EXPECT_EQ(header.headerPath, c.headerPath);
    EXPECT_EQ(header.sourcePath, file);
    EXPECT_EQ(header.itemFlags, 0x40u);
    EXPECT_EQ((header.objectFlags & 0x4000u) != 0, c.notDataFileFlag);
    EXPECT_EQ(items[0].data, "sstable bytes");
    if (c.type < 0) {
      EXPECT_TRUE(header.metadata.empty());
      continue;
    }
    ASSERT_EQ(header.metadata.size(), 1u);
    EXPECT_EQ(header.metadata[0].id, 0x7E2929A9u);
    EXPECT_EQ(header.metadata[0].value, std::to_string(c.type));
    EXPECT_EQ(FileTypeOf(header), c.type);
    EXPECT_TRUE(log.Contains(
        "Sending Metadata [INDEXINGDATA_CASSANDRA_FILE_TYPE] = " + std::to_string(c.type) +
        " for file " + c.headerPath + ", as string: " + std::to_string(c.type)));
  }
}

// An extent item keeps its header path and carries only its range.
TEST(CassandraItem, AnExtentKeepsTheHeaderPathAndCarriesItsRange) {
  simtest::TempDir dir;
  const std::string file = dir.Sub("big");
  simtest::WriteFile(file, "0123456789abcdefghij");
  ExtentBackupParams extent(0);
  extent.isExtent = true;
  extent.offset = 10;
  extent.length = 5;
  extent.isLastExtent = false;
  CInMemoryDataStream stream;
  BackupCassandraItem item(file, "/Cl/dc1/inst1/ks/tbl/big", 0, extent);
  ASSERT_FALSE(item.backup(&stream, OBJECTOPSAPI::AbortCheck()).IsError());
  ASSERT_EQ(stream.Items().size(), 1u);
  EXPECT_EQ(stream.Items()[0].header.headerPath, "/Cl/dc1/inst1/ks/tbl/big");
  EXPECT_EQ(stream.Items()[0].header.pieceOffset, 10u);
  EXPECT_EQ(stream.Items()[0].data, "abcde");
  EXPECT_EQ(FileTypeOf(stream.Items()[0].header), 4);
}

}  // namespace
