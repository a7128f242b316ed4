// The flat collect file as an item consumer, and finding it along a chain.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/multinode/UnixFlatCollectFile.h"
#include "tests/platform/MultinodeFiles.h"
#include "tests/platform/TempDir.h"

using multinode_test::ReadText;
using multinode_test::WriteText;

namespace {

class FlatCollectFileTest : public ::testing::Test {
 protected:
  std::string Flat() const { return dir_.Sub("CollectTot1.tqf"); }
  TempDir dir_;
};

TEST_F(FlatCollectFileTest, EachEntryIsPathBarSizeFollowedByAnEmptyLine) {
  WriteText(Flat(), "stale content of an earlier job\n");
  CUnixFlatCollectFile flat(7, Flat(), "w");
  EXPECT_EQ(flat.GetProcessedItemsCount(), 0u);
  ASSERT_FALSE(flat.AddEntry("/d", 4096).IsError());
  ASSERT_FALSE(flat.AddEntry("/d/ks", 4096).IsError());
  ASSERT_FALSE(flat.AddEntry("/d/ks/t-1a2b/snapshots/S/na-1-big-Data.db", 0).IsError());
  EXPECT_EQ(flat.GetProcessedItemsCount(), 3u);
  ASSERT_FALSE(flat.Close().IsError());
  EXPECT_EQ(ReadText(Flat()),
            "/d|4096\n\n/d/ks|4096\n\n/d/ks/t-1a2b/snapshots/S/na-1-big-Data.db|0\n\n");
}

TEST_F(FlatCollectFileTest, EntriesAfterCloseAreAppended) {
  CUnixFlatCollectFile flat(7, Flat(), "w");
  ASSERT_FALSE(flat.AddEntry("/a", 1).IsError());
  ASSERT_FALSE(flat.Close().IsError());
  ASSERT_FALSE(flat.AddEntry("/b", 2).IsError());
  ASSERT_FALSE(flat.Close().IsError());
  EXPECT_EQ(ReadText(Flat()), "/a|1\n\n/b|2\n\n");
  EXPECT_EQ(flat.GetProcessedItemsCount(), 2u);
}

TEST_F(FlatCollectFileTest, AppendModeKeepsWhatIsThere) {
  WriteText(Flat(), "/a|1\n\n");
  CUnixFlatCollectFile flat(7, Flat(), "a");
  ASSERT_FALSE(flat.AddEntry("/b", 2).IsError());
  ASSERT_FALSE(flat.Close().IsError());
  EXPECT_EQ(ReadText(Flat()), "/a|1\n\n/b|2\n\n");
}

// A reader must never find older content under the flat file's name.
TEST_F(FlatCollectFileTest, CloseWithoutEntriesLeavesAnEmptyFile) {
  WriteText(Flat(), "/old|1\n\n");
  CUnixFlatCollectFile flat(7, Flat(), "w");
  ASSERT_FALSE(flat.Close().IsError());
  EXPECT_EQ(ReadText(Flat()), "");
  EXPECT_EQ(flat.GetProcessedItemsCount(), 0u);
}

TEST_F(FlatCollectFileTest, ManyEntriesArriveWholeAndInOrder) {
  CUnixFlatCollectFile flat(7, Flat(), "w");
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    std::string path = "/data/ks/tbl-0123456789abcdef/snapshots/S/file number " + std::to_string(i);
    ASSERT_FALSE(flat.AddEntry(path, i).IsError());
    expected += path + "|" + std::to_string(i) + "\n\n";
  }
  ASSERT_FALSE(flat.Close().IsError());
  EXPECT_EQ(ReadText(Flat()), expected);
  EXPECT_EQ(flat.GetProcessedItemsCount(), 5000u);
}

TEST_F(FlatCollectFileTest, BadInputIsRefusedAndNotCounted) {
  CUnixFlatCollectFile flat(7, Flat(), "w");
  EXPECT_TRUE(FXErrorUtil::IsWin32(flat.AddEntry("", 1), 87));
  EXPECT_EQ(flat.GetProcessedItemsCount(), 0u);

  CUnixFlatCollectFile badMode(7, dir_.Sub("x.tqf"), "r+");
  EXPECT_TRUE(FXErrorUtil::IsWin32(badMode.AddEntry("/a", 1), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(badMode.Close(), 87));
  EXPECT_EQ(badMode.GetProcessedItemsCount(), 0u);
}

TEST_F(FlatCollectFileTest, AFileThatCannotBeOpenedIsAnErrorForEveryEntry) {
  CUnixFlatCollectFile flat(7, dir_.Sub("missing/CollectTot1.tqf"), "w");
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(FXErrorUtil::IsErrNo(flat.AddEntry("/a", 1), ENOENT));
  }
  EXPECT_EQ(flat.GetProcessedItemsCount(), 0u);
  EXPECT_TRUE(flat.Close().IsError());
}

// A full target: the failed write is reported, only entries wholly written
// stay counted, and every later call reports the failure.
TEST_F(FlatCollectFileTest, AFullTargetIsReportedAndNothingUnwrittenStaysCounted) {
  {
    CUnixFlatCollectFile flat(7, "/dev/full", "w");
    ASSERT_FALSE(flat.AddEntry("/a", 1).IsError());  // buffered
    CQiError error = flat.Close();
    EXPECT_TRUE(FXErrorUtil::IsErrNo(error, ENOSPC)) << error.AsString(2);
    EXPECT_EQ(flat.GetProcessedItemsCount(), 0u);
    EXPECT_TRUE(FXErrorUtil::IsErrNo(flat.AddEntry("/b", 1), ENOSPC));
    EXPECT_EQ(flat.GetProcessedItemsCount(), 0u);
  }
  {
    // A limit in the middle of the entries: the count matches the file.
    multinode_test::FileSizeLimit limit(100000);
    CUnixFlatCollectFile flat(7, Flat(), "w");
    CQiError error;
    int added = 0;
    for (; added < 10000 && !error.IsError(); ++added) {
      error = flat.AddEntry("/data/ks/tbl/snapshots/S/file-" + std::to_string(added), added);
    }
    EXPECT_TRUE(FXErrorUtil::IsErrNo(error, EFBIG)) << error.AsString(2);
    EXPECT_TRUE(flat.Close().IsError());
    std::string content = ReadText(Flat());
    size_t complete = 0;
    for (size_t at = content.find("\n\n"); at != std::string::npos;
         at = content.find("\n\n", at + 2)) {
      ++complete;
    }
    EXPECT_EQ(flat.GetProcessedItemsCount(), complete);
    EXPECT_GT(complete, 0u);
    EXPECT_LT(complete, static_cast<size_t>(added));
  }
}

class OtherConsumer : public CItemConsumer {};

TEST(ItemConsumerChain, FindsTheFlatFileDirectlyOrAlongAChain) {
  CItemConsumerPtr flat(new CUnixFlatCollectFile(1, "/tmp/unused-flat-file", "w"));
  EXPECT_EQ(getItemConsumerInstanceOf<CFlatCollectFile>(flat), flat);

  CItemConsumerPtr chain(new CItemConsumerChain(CItemConsumerPtr(new CItemConsumerChain(flat))));
  EXPECT_EQ(getItemConsumerInstanceOf<CFlatCollectFile>(chain), flat);

  CItemConsumerPtr other(new OtherConsumer());
  EXPECT_FALSE(getItemConsumerInstanceOf<CFlatCollectFile>(other));
  CItemConsumerPtr otherChain(new CItemConsumerChain(other));
  EXPECT_FALSE(getItemConsumerInstanceOf<CFlatCollectFile>(otherChain));
  CItemConsumerPtr endOfChain(new CItemConsumerChain(CItemConsumerPtr()));
  EXPECT_FALSE(getItemConsumerInstanceOf<CFlatCollectFile>(endOfChain));
  EXPECT_FALSE(getItemConsumerInstanceOf<CFlatCollectFile>(CItemConsumerPtr()));

  other->IncrementProcessedItemsCount();
  EXPECT_EQ(other->GetProcessedItemsCount(), 1u);
}

}  // namespace
