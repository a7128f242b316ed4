#include <gtest/gtest.h>

#include <regex>

#include "platform/base/FXErrorUtil.h"
#include "platform/index/IndexMetaDataHelper.h"
#include "platform/index/ObjectGuid.h"

namespace {

std::string Guid(const char* text) {
  std::string out;
  EXPECT_FALSE(GetObjectGuid(text, 0, '/', out).IsError());
  return out;
}

TEST(ObjectGuid, SameTextSameGuidInTheGuidForm) {
  std::string root = Guid("/");
  EXPECT_TRUE(std::regex_match(
      root, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << root;
  EXPECT_EQ(Guid("/"), root);
  CQiString asQi;
  ASSERT_FALSE(GetObjectGuid("/ks/tbl", 0, '/', asQi).IsError());
  EXPECT_EQ(asQi.str(), Guid("/ks/tbl"));
}

TEST(ObjectGuid, PathsNamingTheSameObjectShareTheGuid) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  for (const Case& c :
       {Case{"/ks", "/ks/", true}, Case{"/ks", "//ks", true}, Case{"/ks/tbl", "/ks//tbl/", true},
        Case{"//", "/", true}, Case{"/ks", "/KS", false}, Case{"/ks", "ks", false},
        Case{"/ks/tbl", "/ks/tbl.1", false}, Case{"/", "", false}, Case{"/n1", "/n10", false}}) {
    EXPECT_EQ(Guid(c.a) == Guid(c.b), c.same) << c.a << " vs " << c.b;
  }
  std::string untouched = "keep";
  EXPECT_TRUE(FXErrorUtil::IsWin32(GetObjectGuid(nullptr, 0, '/', untouched), 87));
  EXPECT_EQ(untouched, "keep");
}

TEST(IndexMetaDataHelper, EncodesAndDecodesValues) {
  int32_t negative = -5;
  uint32_t type = 4;
  int64_t big = 1700000000123;
  uint64_t huge = 18446744073709551615ULL;
  EXPECT_EQ(INDEXINGDATA_CASSANDRA_FILE_TYPE, 0x7E2929A9u);
  EXPECT_EQ(IndexMetaDataHelper::encodeData(INDEXINGDATA_CASSANDRA_FILE_TYPE, &negative), "-5");
  EXPECT_EQ(IndexMetaDataHelper::encodeData(INDEXINGDATA_CASSANDRA_FILE_TYPE, &type), "4");
  EXPECT_EQ(IndexMetaDataHelper::encodeData(1, &big), "1700000000123");
  EXPECT_EQ(IndexMetaDataHelper::encodeData(1, &huge), "18446744073709551615");
  EXPECT_EQ(IndexMetaDataHelper::encodeData(1, "text"), "text");
  EXPECT_EQ(IndexMetaDataHelper::encodeData(1, static_cast<const int32_t*>(nullptr)), "");

  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  };
  for (const Case& c :
       {Case{"4", true, 4}, Case{"-5", true, -5}, Case{"", false, 0}, Case{"4x", false, 0},
        Case{" 4", false, 0}, Case{"abc", false, 0}, Case{"99999999999999999999", false, 0}}) {
    int64_t value = 0;
    EXPECT_EQ(IndexMetaDataHelper::decodeData(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

}  // namespace
