// Collect-file entries: the escaped path, the flat and numbered forms, and
// what a malformed line gives.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/FXErrorUtil.h"
#include "platform/multinode/CollectFileEntry.h"

using MultiNodeBackupOps::CCollectFileEntry;

namespace {

struct PathCase {
  const char* name;
  std::string path;
  std::string written;  // the escaped form
};

const PathCase kPaths[] = {
    {"plain", "/d/ks/t-1a2b/snapshots/12TQsnapshot7/na-1-big-Data.db",
     "/d/ks/t-1a2b/snapshots/12TQsnapshot7/na-1-big-Data.db"},
    {"blanks", "/data dir/my ks/ tbl /file  .db ", "/data dir/my ks/ tbl /file  .db "},
    {"bar", "/d/a|b/c|12", "/d/a%7Cb/c%7C12"},
    {"newline", "/d/line\nbreak\n", "/d/line%0Abreak%0A"},
    {"carriage return", "/d/x\r", "/d/x%0D"},
    {"percent", "/d/100%/%25/%", "/d/100%25/%2525/%25"},
    {"unicode", "/données/ключ/表-é", "/données/ключ/表-é"},
    {"looks like an extent", "%EXTENT%0|1|2|/x", "%25EXTENT%250%7C1%7C2%7C/x"},
    {"tab and backslash", "/d/a\tb\\c", "/d/a\tb\\c"},
};

TEST(CollectFileEntry, PathsComeBackExactlyThroughBothForms) {
  for (const auto& c : kPaths) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CCollectFileEntry::EncodePath(c.path), c.written);

    CCollectFileEntry entry(c.path, 4096);
    EXPECT_EQ(entry.FormatFlatLine(), c.written + "|4096");
    EXPECT_EQ(entry.FormatNumberedLine(), c.written);

    CCollectFileEntry flat;
    ASSERT_FALSE(CCollectFileEntry::ParseFlatLine(entry.FormatFlatLine(), flat).IsError());
    EXPECT_EQ(flat.path, c.path);
    EXPECT_EQ(flat.size, 4096);
    EXPECT_FALSE(flat.isExtent);

    CCollectFileEntry numbered;
    ASSERT_FALSE(
        CCollectFileEntry::ParseNumberedLine(entry.FormatNumberedLine(), numbered).IsError());
    EXPECT_EQ(numbered.path, c.path);
    EXPECT_FALSE(numbered.isExtent);
  }
}

TEST(CollectFileEntry, DecodingAcceptsEitherHexCase) {
  std::string path;
  ASSERT_FALSE(CCollectFileEntry::DecodePath("/a%7cb%0a%41", path).IsError());
  EXPECT_EQ(path, "/a|b\nA");
}

TEST(CollectFileEntry, SizesAreSignedDecimal) {
  CCollectFileEntry entry;
  ASSERT_FALSE(CCollectFileEntry::ParseFlatLine("/d/x|0", entry).IsError());
  EXPECT_EQ(entry.size, 0);
  ASSERT_FALSE(CCollectFileEntry::ParseFlatLine("/d/x|-1", entry).IsError());
  EXPECT_EQ(entry.size, -1);
  ASSERT_FALSE(CCollectFileEntry::ParseFlatLine("/d/x|9223372036854775807", entry).IsError());
  EXPECT_EQ(entry.size, INT64_MAX);
  EXPECT_EQ(CCollectFileEntry("/d/x", -1).FormatFlatLine(), "/d/x|-1");
}

TEST(CollectFileEntry, ExtentFormsCarryOffsetLengthAndFileSize) {
  CCollectFileEntry extent;
  extent.path = "/d/big file|1";
  extent.isExtent = true;
  extent.extentOffset = 4194304;
  extent.extentLength = 1000;
  extent.fileSize = 4195304;
  extent.size = 1000;
  EXPECT_EQ(extent.FormatNumberedLine(), "%EXTENT%4194304|1000|4195304|/d/big file%7C1");
  EXPECT_EQ(extent.FormatFlatLine(), "%EXTENT%4194304|1000|4195304|/d/big file%7C1|1000");

  for (bool flat : {true, false}) {
    SCOPED_TRACE(flat ? "flat" : "numbered");
    CCollectFileEntry back;
    CQiError error = flat ? CCollectFileEntry::ParseFlatLine(extent.FormatFlatLine(), back)
                          : CCollectFileEntry::ParseNumberedLine(extent.FormatNumberedLine(), back);
    ASSERT_FALSE(error.IsError()) << error.AsString(2);
    EXPECT_TRUE(back.isExtent);
    EXPECT_EQ(back.path, extent.path);
    EXPECT_EQ(back.extentOffset, 4194304u);
    EXPECT_EQ(back.extentLength, 1000u);
    EXPECT_EQ(back.fileSize, 4195304u);
    EXPECT_EQ(back.size, 1000);
  }
}

TEST(CollectFileEntry, MalformedLinesAreError13) {
  struct Case {
    const char* line;
    bool flat;
  };
  const Case cases[] = {
      {"", false},
      {"", true},
      {"|12", true},                       // empty path
      {"/d/x", true},                      // no size
      {"/d/x|12k", true},                  // size not decimal
      {"/d/x|", true},                     // empty size
      {"/d/a|b", false},                   // raw "|" inside a path
      {"/d/%zz", false},                   // bad escape
      {"/d/%4", false},                    // cut escape
      {"/d/%", false},                     // lone percent
      {"%EXTENT%0|10|100", false},         // three extent fields
      {"%EXTENT%0|10|100|/x|5", false},    // five
      {"%EXTENT%0|0|100|/x", false},       // empty extent
      {"%EXTENT%95|10|100|/x", false},     // ends beyond its file
      {"%EXTENT%101|1|100|/x", false},     // starts beyond its file
      {"%EXTENT%-1|10|100|/x", false},     // negative offset
      {"%EXTENT%0|10|100|", false},        // no path
      {"%CONTAINER%c1:/data/x:y", false},  // never written here
      {"%CONTAINER%c1:/data/x:y|10", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    CCollectFileEntry entry;
    entry.path = "untouched";
    CQiError error = c.flat ? CCollectFileEntry::ParseFlatLine(c.line, entry)
                            : CCollectFileEntry::ParseNumberedLine(c.line, entry);
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13)) << error.AsString(2);
    EXPECT_EQ(entry.path, "untouched");
  }
}

}  // namespace
