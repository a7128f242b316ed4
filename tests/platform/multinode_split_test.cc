// Splitting the flat collect file into the numbered collect files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/QiDirectory.h"
#include "platform/multinode/UnixFlatCollectFile.h"
#include "platform/multinode/UnixSplitCollectFiles.h"
#include "platform/suite/PlatformInfo.h"
#include "tests/platform/MultinodeFiles.h"
#include "tests/platform/TempDir.h"

using multinode_test::ListNames;
using multinode_test::ReadNumbered;
using multinode_test::ReadText;
using multinode_test::WriteText;
using MultiNodeBackupOps::CCollectFileEntry;

namespace {

class SplitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedRegistry_ = CRegistry::Instance().GetFile();
    CRegistry::Instance().SetFile("");
  }
  void TearDown() override {
    CRegistry::Instance().ClearMemory();
    CRegistry::Instance().SetFile(savedRegistry_);
  }

  // The flat collect file "CollectTot1.tqf" (level 1) or "CollectInc1.tqf"
  // holding `entries`.
  CUnixFlatCollectFilePtr MakeFlat(const std::vector<CCollectFileEntry>& entries, int level = 1) {
    CUnixFlatCollectFilePtr flat(new CUnixFlatCollectFile(
        7, CUnixFileNameFactory(level, dir_.path()).GetCollectFilePath(1), "w"));
    for (const auto& entry : entries) EXPECT_FALSE(flat->AddEntry(entry).IsError());
    return flat;
  }

  static std::vector<CCollectFileEntry> Entries(int count, int64_t size = 100) {
    std::vector<CCollectFileEntry> entries;
    for (int i = 0; i < count; ++i) entries.emplace_back("/d/ks/t/f" + std::to_string(i), size);
    return entries;
  }

  // Splits `flat` into about `splitCount` files; returns the split's error.
  CQiError Split(const CItemConsumerPtr& flat, int splitCount, int level = 1,
                 uint64_t maxEntries = 0) {
    CPostProcessingOptionsPtr options(new CPostProcessingOptions());
    options->setNumberOfStreamsConfigured(splitCount);
    options->SetMaxEntriesPerCollectFile(maxEntries);
    COutputResources output;
    output.outputId = 1;
    output.collectFileConsumer = flat;
    CUnixSplitCollectFiles split(
        options, CUnixFileNameFactoryPtr(new CUnixFileNameFactory(level, dir_.path())), {output},
        1);
    CQiError error = split.SplitCollectFiles();
    lastIndex_ = split.GetLastCollectFileIndex();
    return error;
  }

  // The paths of numbered files 1 to n, file by file.
  std::vector<std::vector<std::string>> ReadFiles(int n, int level = 1) {
    std::vector<std::vector<std::string>> files;
    CUnixFileNameFactory names(level, dir_.path());
    for (int i = 1; i <= n; ++i) {
      files.emplace_back();
      for (const auto& entry : ReadNumbered(names.GetCollectFilePath(i)))
        files.back().push_back(entry.path);
    }
    return files;
  }

  TempDir dir_;
  int lastIndex_ = -2;
  std::string savedRegistry_;
};

// The flat file and numbered file 1 share a name: every entry still ends up
// in exactly one numbered file, in order, one path per line.
TEST_F(SplitTest, SplitsIntoNumberedFilesWithThePathAlonePerLine) {
  CUnixFlatCollectFilePtr flat = MakeFlat(Entries(6));
  ASSERT_FALSE(Split(flat, 3).IsError());
  EXPECT_EQ(lastIndex_, 2);
  EXPECT_EQ(ListNames(dir_.path()),
            (std::vector<std::string>{"CollectTot1.tqf", "CollectTot2.tqf", "CollectTot3.tqf"}));
  EXPECT_EQ(ReadText(dir_.Sub("CollectTot1.tqf")), "/d/ks/t/f0\n/d/ks/t/f1\n");
  EXPECT_EQ(ReadText(dir_.Sub("CollectTot2.tqf")), "/d/ks/t/f2\n/d/ks/t/f3\n");
  EXPECT_EQ(ReadText(dir_.Sub("CollectTot3.tqf")), "/d/ks/t/f4\n/d/ks/t/f5\n");
}

TEST_F(SplitTest, IncrementalFilesAreNamedInc) {
  CUnixFlatCollectFilePtr flat = MakeFlat(Entries(2), 2);
  ASSERT_FALSE(Split(flat, 2, 2).IsError());
  EXPECT_EQ(ListNames(dir_.path()),
            (std::vector<std::string>{"CollectInc1.tqf", "CollectInc2.tqf"}));
}

TEST_F(SplitTest, FileCountFollowsSplitCountEntriesAndBound) {
  struct Case {
    int entries;
    int splitCount;
    uint64_t maxEntries;
    std::vector<size_t> perFile;
  };
  const Case cases[] = {
      {6, 3, 0, {2, 2, 2}},
      {7, 3, 0, {2, 3, 2}},
      {2, 4, 0, {1, 1}},  // no empty file
      {1, 8, 0, {1}},
      {0, 4, 0, {0}},               // one empty file
      {5, 0, 0, {5}},               // a split count below 1 asks for one file
      {10, 4, 2, {2, 2, 2, 2, 2}},  // the bound makes a fifth file
      {9, 2, 4, {3, 3, 3}},
      {10, 4, 3, {2, 3, 2, 3}},
      {8, 2, 1, {1, 1, 1, 1, 1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.entries << " entries, split " << c.splitCount << ", bound " << c.maxEntries);
    CQiDirectory::Remove(dir_.path().c_str(), true, true);
    CQiDirectory::Create(dir_.path().c_str(), false);
    std::vector<CCollectFileEntry> entries = Entries(c.entries);
    ASSERT_FALSE(Split(MakeFlat(entries), c.splitCount, 1, c.maxEntries).IsError());
    ASSERT_EQ(lastIndex_ + 1, static_cast<int>(c.perFile.size()));
    EXPECT_EQ(ListNames(dir_.path()).size(), c.perFile.size());
    std::vector<std::string> all;
    std::vector<size_t> perFile;
    for (const auto& file : ReadFiles(lastIndex_ + 1)) {
      perFile.push_back(file.size());
      all.insert(all.end(), file.begin(), file.end());
    }
    EXPECT_EQ(perFile, c.perFile);
    ASSERT_EQ(all.size(), entries.size());
    for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], entries[i].path);
  }
}

// Files carry about the same number of bytes: one large file fills a
// collect file of its own.
TEST_F(SplitTest, BalancesBytesNotEntryCounts) {
  std::vector<CCollectFileEntry> entries{{"/d/big", 100LL << 20}};
  for (int i = 0; i < 10; ++i) entries.emplace_back("/d/small" + std::to_string(i), 0);
  ASSERT_FALSE(Split(MakeFlat(entries), 2).IsError());
  ASSERT_EQ(lastIndex_, 1);
  std::vector<std::vector<std::string>> files = ReadFiles(2);
  EXPECT_EQ(files[0], std::vector<std::string>{"/d/big"});
  EXPECT_EQ(files[1].size(), 10u);
}

TEST_F(SplitTest, OddPathsComeBackExactly) {
  std::vector<CCollectFileEntry> entries = {
      {"/data dir/ks 1/t-1/snapshots/S/na-1-big-Data.db", 10},
      {"/d/a|b|c", 10},
      {"/d/new\nline\r", 10},
      {"/d/%EXTENT%x", 10},
      {"/d/100%", 10},
      {"/données/表/ключ", 10},
  };
  ASSERT_FALSE(Split(MakeFlat(entries), 2).IsError());
  std::vector<std::string> all;
  for (const auto& file : ReadFiles(lastIndex_ + 1))
    all.insert(all.end(), file.begin(), file.end());
  ASSERT_EQ(all.size(), entries.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], entries[i].path);
  // One line per entry: the newline inside a path is escaped.
  std::string text = ReadText(dir_.Sub("CollectTot1.tqf")) + ReadText(dir_.Sub("CollectTot2.tqf"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST_F(SplitTest, FindsTheFlatFileBehindAChainAndWritesWhatItBuffered) {
  CUnixFlatCollectFilePtr flat = MakeFlat(Entries(4));  // still buffered, not closed
  CItemConsumerPtr chain(new CItemConsumerChain(flat));
  ASSERT_FALSE(Split(chain, 2).IsError());
  EXPECT_EQ(ReadFiles(2), (std::vector<std::vector<std::string>>{{"/d/ks/t/f0", "/d/ks/t/f1"},
                                                                 {"/d/ks/t/f2", "/d/ks/t/f3"}}));
}

// The surplus of the split keeps the temporary names once the node's share
// takes its numbers (what the controller does with the split's result).
TEST_F(SplitTest, NumberedShareAndSurplusGetTheirNames) {
  ASSERT_FALSE(Split(MakeFlat(Entries(12)), 4, 1, 2).IsError());
  const int n = lastIndex_ + 1;
  ASSERT_EQ(n, 6);
  CUnixFileNameFactory names(1, dir_.path());
  const int share = 4, start = 9;
  for (int i = 1; i <= n; ++i)
    ASSERT_FALSE(FXFile::TQMoveFileEx(names.GetCollectFilePath(i).c_str(),
                                      names.GetTempCollectFilePath(i).c_str(), 1)
                     .IsError());
  for (int j = 1; j <= share; ++j)
    ASSERT_FALSE(FXFile::TQMoveFileEx(names.GetTempCollectFilePath(j).c_str(),
                                      names.GetCollectFilePath(start + j - 1).c_str(), 1)
                     .IsError());
  EXPECT_EQ(
      ListNames(dir_.path()),
      (std::vector<std::string>{"CollectTot10.tqf", "CollectTot11.tqf", "CollectTot12.tqf",
                                "CollectTot5tmp.tqf", "CollectTot6tmp.tqf", "CollectTot9.tqf"}));
  EXPECT_EQ(CUnixFileNameFactory::CollectFileName(2, 12), "CollectInc12.tqf");
  EXPECT_EQ(CUnixFileNameFactory::TempCollectFileName(2, 3), "CollectInc3tmp.tqf");
}

TEST_F(SplitTest, BoundFromTheRegistry) {
  CRegistry::Instance().Set(CPostProcessingOptions::kRegistrySection,
                            CPostProcessingOptions::kMaxEntriesValue, "3");
  ASSERT_FALSE(Split(MakeFlat(Entries(9)), 1).IsError());
  EXPECT_EQ(lastIndex_, 2);

  CRegistry::Instance().Set(CPostProcessingOptions::kRegistrySection,
                            CPostProcessingOptions::kMaxEntriesValue, "3x");
  // A malformed bound is logged; the split goes on without it.
  CQiDirectory::Remove(dir_.path().c_str(), true, true);
  CQiDirectory::Create(dir_.path().c_str(), false);
  ASSERT_FALSE(Split(MakeFlat(Entries(9)), 1).IsError());
  EXPECT_EQ(lastIndex_, 0);
  CPostProcessingOptions options;
  options.SetMaxEntriesPerCollectFile(5);
  EXPECT_TRUE(FXErrorUtil::IsWin32(options.LoadConfiguration(), 13));
  EXPECT_EQ(options.GetMaxEntriesPerCollectFile(), 5u);
  options.setNumberOfStreamsConfigured(6);
  EXPECT_EQ(options.GetCollectFileSplitCount(), 6);
}

TEST_F(SplitTest, RefusesOutputsWithoutAFlatFile) {
  CItemConsumerPtr none(new CItemConsumerChain(CItemConsumerPtr()));
  EXPECT_TRUE(FXErrorUtil::IsWin32(Split(none, 2), 87));
  EXPECT_EQ(lastIndex_, -1);

  CPostProcessingOptionsPtr options(new CPostProcessingOptions());
  CUnixFileNameFactoryPtr names(new CUnixFileNameFactory(1, dir_.path()));
  COutputResources output;
  output.collectFileConsumer = MakeFlat(Entries(1));
  CUnixSplitCollectFiles wrongCount(options, names, {output, output}, 1);
  EXPECT_TRUE(FXErrorUtil::IsWin32(wrongCount.SplitCollectFiles(), 87));
}

// A malformed flat file fails the split before anything is replaced.
TEST_F(SplitTest, AMalformedEntryReplacesNothing) {
  const std::string flatText = "/d/a|1\n\n/d/b|x\n\n";
  WriteText(dir_.Sub("CollectTot1.tqf"), flatText);
  WriteText(dir_.Sub("CollectTot2.tqf"), "/earlier\n");
  CUnixFlatCollectFilePtr flat(new CUnixFlatCollectFile(7, dir_.Sub("CollectTot1.tqf"), "a"));
  CQiError error = Split(flat, 2);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString(2);
  EXPECT_NE(error.GetMessage().find("Line 3 of collect file"), std::string::npos)
      << error.GetMessage();
  EXPECT_EQ(ReadText(dir_.Sub("CollectTot1.tqf")), flatText);
  EXPECT_EQ(ReadText(dir_.Sub("CollectTot2.tqf")), "/earlier\n");
  EXPECT_EQ(ListNames(dir_.path()).size(), 2u);
}

// A full target fails the split; the flat file keeps its content and no
// partial file is left behind.
TEST_F(SplitTest, AFullTargetIsReportedAndLeavesNoHalfFile) {
  std::vector<CCollectFileEntry> entries = Entries(3000);
  CUnixFlatCollectFilePtr flat = MakeFlat(entries);
  ASSERT_FALSE(flat->Close().IsError());
  const std::string flatText = ReadText(flat->GetPath());
  CQiError error;
  {
    multinode_test::FileSizeLimit limit(20000);
    error = Split(flat, 2);
  }
  EXPECT_TRUE(FXErrorUtil::IsErrNo(error, EFBIG)) << error.AsString(2);
  EXPECT_EQ(lastIndex_, -1);
  EXPECT_EQ(ReadText(flat->GetPath()), flatText);
  EXPECT_EQ(ListNames(dir_.path()), std::vector<std::string>{"CollectTot1.tqf"});
}

// A numbered file that cannot be put in place fails the split.
TEST_F(SplitTest, AFileThatCannotBePutInPlaceIsReported) {
  ASSERT_FALSE(CQiDirectory::Create(dir_.Sub("CollectTot2.tqf").c_str(), false).IsError());
  CQiError error = Split(MakeFlat(Entries(4)), 2);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(lastIndex_, -1);
  for (const auto& name : ListNames(dir_.path()))
    EXPECT_EQ(name.find(".partial"), std::string::npos);
}

}  // namespace
