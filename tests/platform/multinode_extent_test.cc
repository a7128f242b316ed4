// The extent pass over the flat collect file and the parser of numbered
// collect-file lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/QiDirectory.h"
#include "platform/multinode/ExtentCollectFile.h"
#include "platform/multinode/UnixSplitCollectFiles.h"
#include "tests/platform/MultinodeFiles.h"
#include "tests/platform/TempDir.h"

using multinode_test::ReadNumbered;
using multinode_test::ReadText;
using multinode_test::WriteText;
using MultiNodeBackupOps::CCollectFileEntry;
using MultiNodeBackupOps::CExtentCollectFile;
using OBJECTOPSAPI::ExtentBackupParams;

namespace {

std::string Content(size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) text += static_cast<char>('a' + (i * 7) % 26);
  return text;
}

class ExtentPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(CQiDirectory::Create(data_.c_str(), false).IsError());
    WriteText(big_, Content(250));
    WriteText(exact_, Content(100));
    WriteText(small_, Content(5));
    flat_.reset(new CUnixFlatCollectFile(7, dir_.Sub("CollectTot1.tqf"), "w"));
    // The flat file lists each file with its size (the data directory's
    // entry with a size above the threshold too).
    ASSERT_FALSE(flat_->AddEntry(data_, 4096).IsError());
    ASSERT_FALSE(flat_->AddEntry(big_, 250).IsError());
    ASSERT_FALSE(flat_->AddEntry(exact_, 100).IsError());
    ASSERT_FALSE(flat_->AddEntry(small_, 5).IsError());
  }

  TempDir dir_;
  std::string data_ = dir_.Sub("data dir");
  std::string big_ = data_ + "/big|file";
  std::string exact_ = data_ + "/exact";
  std::string small_ = data_ + "/small";
  CUnixFlatCollectFilePtr flat_;
};

TEST_F(ExtentPassTest, OffLeavesEveryFileOneEntry) {
  ASSERT_FALSE(flat_->Close().IsError());
  const std::string before = ReadText(flat_->GetPath());
  CExtentCollectFile pass(flat_, 40, 100, false);
  ASSERT_FALSE(pass.Run().IsError());
  EXPECT_EQ(ReadText(flat_->GetPath()), before);
}

TEST_F(ExtentPassTest, OnListsFilesAboveTheThresholdAsExtents) {
  CExtentCollectFile pass(flat_, 40, 100, true);
  ASSERT_FALSE(pass.Run().IsError());
  std::string expected = data_ + "|4096\n\n";
  for (uint64_t offset = 0; offset < 250; offset += 40) {
    uint64_t length = offset + 40 <= 250 ? 40 : 250 - offset;
    expected += "%EXTENT%" + std::to_string(offset) + "|" + std::to_string(length) + "|250|" +
                CCollectFileEntry::EncodePath(big_) + "|" + std::to_string(length) + "\n\n";
  }
  expected += exact_ + "|100\n\n" + small_ + "|5\n\n";
  EXPECT_EQ(ReadText(flat_->GetPath()), expected);
  EXPECT_EQ(flat_->GetProcessedItemsCount(), 4u);

  // Running again changes nothing; entries added later are appended.
  ASSERT_FALSE(pass.Run().IsError());
  EXPECT_EQ(ReadText(flat_->GetPath()), expected);
  ASSERT_FALSE(flat_->AddEntry("/late", 1).IsError());
  ASSERT_FALSE(flat_->Close().IsError());
  EXPECT_EQ(ReadText(flat_->GetPath()), expected + "/late|1\n\n");
}

TEST_F(ExtentPassTest, BadSettingsChangeNothing) {
  ASSERT_FALSE(flat_->Close().IsError());
  const std::string before = ReadText(flat_->GetPath());
  EXPECT_TRUE(FXErrorUtil::IsWin32(CExtentCollectFile(flat_, 0, 100, true).Run(), 87));
  EXPECT_TRUE(
      FXErrorUtil::IsWin32(CExtentCollectFile(CUnixFlatCollectFilePtr(), 40, 100, true).Run(), 87));
  EXPECT_EQ(ReadText(flat_->GetPath()), before);
}

// Split and parsed back, the extents of a file put it back whole.
TEST_F(ExtentPassTest, ExtentsThroughTheSplitPutTheFileBackWhole) {
  ASSERT_FALSE(CExtentCollectFile(flat_, 40, 100, true).Run().IsError());
  CPostProcessingOptionsPtr options(new CPostProcessingOptions());
  options->setNumberOfStreamsConfigured(3);
  COutputResources output;
  output.collectFileConsumer = flat_;
  CUnixFileNameFactoryPtr names(new CUnixFileNameFactory(1, dir_.path()));
  CUnixSplitCollectFiles split(options, names, {output}, 1);
  ASSERT_FALSE(split.SplitCollectFiles().IsError());

  CExtentCollectFile parser(CUnixFlatCollectFilePtr(), 0x400000, 0x40000000, true);
  std::string rebuilt(250, '\0');
  std::vector<std::string> whole;
  int extents = 0;
  for (int i = 1; i <= split.GetLastCollectFileIndex() + 1; ++i) {
    CCollectFileReader reader;
    ASSERT_FALSE(reader.Open(names->GetCollectFilePath(i), 0).IsError());
    std::string line;
    while (!reader.IsEndOfFile()) {
      ASSERT_FALSE(reader.GetNextLine(line).IsError());
      std::string path;
      uint64_t flags = 0x40;
      ExtentBackupParams params(0);
      params.extentSize = 123;
      ASSERT_FALSE(parser.ParseCollectFileEntry(line, path, flags, params).IsError()) << line;
      EXPECT_EQ(flags, 0x40u);
      EXPECT_EQ(params.extentSize, 123u);
      if (!params.isExtent) {
        EXPECT_EQ(params.offset, 0u);
        EXPECT_EQ(params.length, 0u);
        EXPECT_TRUE(params.isLastExtent);
        whole.push_back(path);
        continue;
      }
      ASSERT_EQ(path, big_);
      ++extents;
      EXPECT_EQ(params.isLastExtent, params.offset + params.length == 250) << line;
      std::string part = ReadText(path).substr(params.offset, params.length);
      rebuilt.replace(params.offset, params.length, part);
    }
  }
  EXPECT_EQ(extents, 7);
  EXPECT_EQ(rebuilt, Content(250));
  EXPECT_EQ(whole, (std::vector<std::string>{data_, exact_, small_}));
}

TEST(ExtentParser, PlainLinesAreWholeFilesAndMalformedOnesError13) {
  CExtentCollectFile parser(CUnixFlatCollectFilePtr(), 0x400000, 0x40000000, true);
  std::string path;
  uint64_t flags = 7;
  ExtentBackupParams params(0);
  params.isExtent = true;
  params.offset = 5;
  params.length = 9;
  params.isLastExtent = false;
  ASSERT_FALSE(parser.ParseCollectFileEntry("/d/ks/x%7Cy", path, flags, params).IsError());
  EXPECT_EQ(path, "/d/ks/x|y");
  EXPECT_FALSE(params.isExtent);
  EXPECT_EQ(params.offset, 0u);
  EXPECT_EQ(params.length, 0u);
  EXPECT_TRUE(params.isLastExtent);
  EXPECT_EQ(flags, 7u);

  EXPECT_TRUE(
      FXErrorUtil::IsWin32(parser.ParseCollectFileEntry("/d/x|12", path, flags, params), 13));
}

TEST(ExtentBackupParamsDefaults, WholeFileFromOffsetWithTheDefaultExtentSize) {
  ExtentBackupParams params(42);
  EXPECT_FALSE(params.isExtent);
  EXPECT_TRUE(params.isLastExtent);
  EXPECT_EQ(params.offset, 42u);
  EXPECT_EQ(params.extentSize, 0x400000u);
  EXPECT_EQ(params.length, 0u);
}

}  // namespace
