// Reading a collect file line by line from a byte offset.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/multinode/CollectFileReader.h"
#include "tests/platform/MultinodeFiles.h"
#include "tests/platform/TempDir.h"

using multinode_test::WriteText;

namespace {

struct Line {
  std::string text;
  int64_t offset;
  int64_t next;
};

std::vector<Line> ReadAll(CCollectFileReader& reader) {
  std::vector<Line> lines;
  std::string text;
  while (!reader.IsEndOfFile()) {
    CQiError error = reader.GetNextLine(text);
    EXPECT_FALSE(error.IsError()) << error.AsString(2);
    if (error.IsError()) break;
    lines.push_back({text, reader.GetLineOffset(), reader.GetNextLineOffset()});
  }
  return lines;
}

class CollectFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteText(path_, "/a\n\n/bb c\n/ccc"); }
  TempDir dir_;
  std::string path_ = dir_.Sub("CollectTot3.tqf");
};

TEST_F(CollectFileReaderTest, GivesEveryLineWithItsOffsets) {
  CCollectFileReader reader;
  ASSERT_FALSE(reader.Open(path_, 0).IsError());
  EXPECT_TRUE(reader.IsOpen());
  EXPECT_EQ(reader.GetNextLineOffset(), 0);
  std::vector<Line> lines = ReadAll(reader);
  ASSERT_EQ(lines.size(), 4u);
  const Line expected[] = {{"/a", 0, 3}, {"", 3, 4}, {"/bb c", 4, 10}, {"/ccc", 10, 14}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lines[i].text, expected[i].text);
    EXPECT_EQ(lines[i].offset, expected[i].offset);
    EXPECT_EQ(lines[i].next, expected[i].next);
  }
  std::string line = "kept";
  EXPECT_TRUE(FXErrorUtil::IsWin32(reader.GetNextLine(line), 38));
  EXPECT_EQ(line, "kept");
}

TEST_F(CollectFileReaderTest, ResumesAtEachEntryStart) {
  const struct {
    int64_t offset;
    std::vector<std::string> lines;
  } cases[] = {
      {0, {"/a", "", "/bb c", "/ccc"}},
      {3, {"", "/bb c", "/ccc"}},
      {4, {"/bb c", "/ccc"}},
      {10, {"/ccc"}},
      {14, {}},  // the file's size: nothing left
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    CCollectFileReader reader;
    ASSERT_FALSE(reader.Open(path_, c.offset).IsError());
    EXPECT_EQ(reader.GetNextLineOffset(), c.offset);
    std::vector<std::string> got;
    for (const auto& line : ReadAll(reader)) got.push_back(line.text);
    EXPECT_EQ(got, c.lines);
  }
}

TEST_F(CollectFileReaderTest, RefusesOffsetsThatAreNoEntryStart) {
  const struct {
    int64_t offset;
    uint32_t code;
  } cases[] = {{-1, 87}, {1, 13}, {5, 13}, {11, 13}, {15, 13}, {1000, 13}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    CCollectFileReader reader;
    EXPECT_TRUE(FXErrorUtil::IsWin32(reader.Open(path_, c.offset), c.code));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_TRUE(reader.IsEndOfFile());
  }
  CCollectFileReader reader;
  EXPECT_TRUE(FXErrorUtil::IsErrNo(reader.Open(dir_.Sub("CollectTot4.tqf"), 0), ENOENT));
  EXPECT_TRUE(reader.IsEndOfFile());
}

TEST_F(CollectFileReaderTest, DropsTheCarriageReturnOfALineEnd) {
  WriteText(path_, "/a\r\n/b\n");
  CCollectFileReader reader;
  ASSERT_FALSE(reader.Open(path_, 0).IsError());
  std::vector<Line> lines = ReadAll(reader);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "/a");
  EXPECT_EQ(lines[1].offset, 4);
  EXPECT_EQ(lines[1].text, "/b");
}

// Lines longer than the reader's buffer, many of them, keep exact offsets.
TEST_F(CollectFileReaderTest, LongLinesAndManyLinesKeepExactOffsets) {
  std::string content;
  std::vector<Line> expected;
  for (int i = 0; i < 300; ++i) {
    std::string text = "/" + std::string(i % 7 == 0 ? 150000 : i, 'a' + i % 26);
    expected.push_back({text, static_cast<int64_t>(content.size()), 0});
    content += text + "\n";
    expected.back().next = static_cast<int64_t>(content.size());
  }
  WriteText(path_, content);
  CCollectFileReader reader;
  ASSERT_FALSE(reader.Open(path_, 0).IsError());
  std::vector<Line> lines = ReadAll(reader);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].text, expected[i].text) << i;
    ASSERT_EQ(lines[i].offset, expected[i].offset) << i;
    ASSERT_EQ(lines[i].next, expected[i].next) << i;
  }
  // And from the middle.
  ASSERT_FALSE(reader.Open(path_, expected[150].offset).IsError());
  std::string line;
  ASSERT_FALSE(reader.GetNextLine(line).IsError());
  EXPECT_EQ(line, expected[150].text);
}

TEST(CollectFileReaderClosed, ReportsTheEndAndNoLine) {
  CCollectFileReader reader;
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_TRUE(reader.IsEndOfFile());
  std::string line;
  EXPECT_TRUE(reader.GetNextLine(line).IsError());
}

}  // namespace
