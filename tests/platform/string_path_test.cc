// Text and path helpers.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/base/QiPath.h"
#include "platform/base/TqCast.h"
#include "platform/suite/TqProcess.h"

using Parts = std::vector<std::string>;

TEST(FXStringTest, SplitKeepsEmptyTokensByDefault) {
  struct Case {
    const char* text;
    const char* separator;
    int flags;
    Parts parts;
  } cases[] = {
      {"/a/b", "/", 0, {"", "a", "b"}},
      {"a//b/", "/", 0, {"a", "", "b", ""}},
      {"a//b/", "/", FXString::kSkipEmpty, {"a", "b"}},
      {"", "/", 0, {""}},
      {"", "/", FXString::kSkipEmpty, {}},
      {"7 9:-1|10:0|", " ", 0, {"7", "9:-1|10:0|"}},
      {"k=v=w", "=", 0, {"k", "v", "w"}},
      {"a##b##", "##", 0, {"a", "b", ""}},
      {"no separator", ";", 0, {"no separator"}},
  };
  for (const auto& c : cases) {
    Parts parts{"stale"};
    EXPECT_FALSE(FXString::Split(c.text, c.separator, parts, c.flags).IsError());
    EXPECT_EQ(parts, c.parts) << c.text;
  }
}

TEST(FXStringTest, SplitReplacesTheOutputAndRejectsAnEmptySeparator) {
  Parts parts{"old", "values"};
  ASSERT_FALSE(FXString::Split(std::string("x y"), std::string(" "), parts).IsError());
  EXPECT_EQ(parts, (Parts{"x", "y"}));
  CQiError error = FXString::Split("abc", "", parts);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_TRUE(parts.empty());
  std::vector<CQiString> qparts;
  ASSERT_FALSE(FXString::Split(CQiString("a;b"), ";", qparts).IsError());
  ASSERT_EQ(qparts.size(), 2u);
  EXPECT_STREQ(qparts[1].c_str(), "b");
}

TEST(FXStringTest, TrimWhiteSpaceTrimsBlanksAndTabsOnly) {
  std::string s = " \t value with  blanks \t ";
  FXString::TrimWhiteSpace(s);
  EXPECT_EQ(s, "value with  blanks");
  std::string line = "x\n";
  FXString::TrimWhiteSpace(line);
  EXPECT_EQ(line, "x\n");
  std::string blank = " \t ";
  FXString::TrimWhiteSpace(blank);
  EXPECT_EQ(blank, "");
  CQiString q("  q ");
  FXString::TrimWhiteSpace(q);
  EXPECT_STREQ(q.c_str(), "q");
}

TEST(FXStringTest, TrimRightAndLeft) {
  CQiString path("/a/b///");
  FXString::TrimRight(path, "/");
  EXPECT_STREQ(path.c_str(), "/a/b");
  CQiString root("///");
  FXString::TrimRight(root, "/");
  EXPECT_STREQ(root.c_str(), "");
  std::string s = "--x--";
  FXString::TrimLeft(s, "-");
  EXPECT_EQ(s, "x--");
}

// A quoted word reaches a program through /bin/sh as it was, and plain words
// stay unquoted.
TEST(FXStringTest, ParseDecimalTakesOnlyWholeDecimalsInRange) {
  struct Case {
    const char* text;
    long long low, high;
    bool ok;
    long long value;
  } cases[] = {
      {"0", 0, 10, true, 0},
      {"-7", -10, 10, true, -7},
      {"10", 0, 10, true, 10},
      {"11", 0, 10, false, 0},
      {"-1", 0, 10, false, 0},
      {"", 0, 10, false, 0},
      {"-", -10, 10, false, 0},
      {" 5", 0, 10, false, 0},
      {"5 ", 0, 10, false, 0},
      {"+5", 0, 10, false, 0},
      {"0x5", 0, 10, false, 0},
      {"99999999999999999999", 0, LLONG_MAX, false, 0},
      {"9223372036854775807", 0, LLONG_MAX, true, LLONG_MAX},
  };
  for (const Case& c : cases) {
    long long value = 0;
    EXPECT_EQ(FXString::ParseDecimal(c.text, c.low, c.high, value), c.ok) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(FXStringTest, QuoteForShellKeepsEveryTextOneLiteralWord) {
  struct Case {
    std::string text;
    std::string quoted;  // "" when only the round trip is checked
  } cases[] = {
      {"cass-node_1.example:9042/a,b=c@d+e%f", "cass-node_1.example:9042/a,b=c@d+e%f"},
      {"", "''"},
      {"two words", "'two words'"},
      {"it's", "'it'\\''s'"},
      {"$(touch /nonexistent/x) `id` $HOME ${X} * ? ~ ; & | < > ( ) # ! \\ \"", ""},
      {"line\nfeed\ttab", ""},
      {"'", ""},
      {"''''", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string quoted = FXString::QuoteForShell(c.text);
    if (!c.quoted.empty()) {
      EXPECT_EQ(quoted, c.quoted);
    }
    std::string out, err;
    ASSERT_EQ(TqProcess::system(("printf %s " + quoted).c_str(), out, err), 0) << err;
    EXPECT_EQ(out, c.text);
  }
}

TEST(FXStringTest, FindString) {
  const char* text = "docker image DataStax/dse-server";
  EXPECT_EQ(FXString::FindString(text, "DataStax", false), text + 13);
  EXPECT_EQ(FXString::FindString(text, "datastax", false), nullptr);
  EXPECT_EQ(FXString::FindString(text, "datastax", true), text + 13);
  EXPECT_EQ(FXString::FindString(text, "cassandra", true), nullptr);
  const char* abc = "abc";
  EXPECT_EQ(FXString::FindString(abc, "", true), abc);
  EXPECT_EQ(FXString::FindString(nullptr, "a", true), nullptr);
  EXPECT_EQ(FXString::FindString("a", nullptr, false), nullptr);
  const char* aab = "aaB";
  EXPECT_EQ(FXString::FindString(aab, "AB", true), aab + 1);  // a restart after a partial match
}

TEST(FXStringTest, ReplaceAllDoesNotRescanReplacedText) {
  std::string s = "a.b.c";
  EXPECT_EQ(FXString::ReplaceAll(s, ".", ".."), 2u);
  EXPECT_EQ(s, "a..b..c");
  std::string restart = "-o 9|-1 -o 10|4096";
  FXString::ReplaceAll(restart, "-o ", "@");
  FXString::ReplaceAll(restart, " ", "");
  EXPECT_EQ(restart, "@9|-1@10|4096");
  std::string none = "abc";
  EXPECT_EQ(FXString::ReplaceAll(none, "", "x"), 0u);
  EXPECT_EQ(none, "abc");
  CQiString q("x-y-z");
  EXPECT_EQ(FXString::ReplaceAll(q, "-", ""), 2u);
  EXPECT_STREQ(q.c_str(), "xyz");
}

TEST(FXStringTest, Format) {
  EXPECT_EQ(FXString::Format("Collect%s%d.tqf", "Tot", 7), "CollectTot7.tqf");
  EXPECT_EQ(FXString::Format("%lld", tqcast::lld(-5000000000L)), "-5000000000");
  EXPECT_EQ(FXString::Format("%s", ""), "");
}

TEST(FXPathTest, AppendJoinsWithOneSeparator) {
  struct Case {
    const char* path;
    const char* component;
    const char* joined;
  } cases[] = {
      {"/var/lib", "data", "/var/lib/data"},
      {"/var/lib/", "data", "/var/lib/data"},
      {"/var/lib//", "/data", "/var/lib/data"},
      {"/", "cluster", "/cluster"},
      {"", "name", "name"},
      {"/cluster", "", "/cluster/"},  // an empty component gives the directory form
      {"/cluster/", "", "/cluster/"},
      {"relative", "x", "relative/x"},
      {"/a", "b/c", "/a/b/c"},
  };
  for (const auto& c : cases) {
    CQiString path(c.path);
    ASSERT_FALSE(FXPath::Append(path, c.component, 0).IsError());
    EXPECT_STREQ(path.c_str(), c.joined) << c.path << " + " << c.component;
  }
}

TEST(FXPathTest, HeaderPathWithAnEmptyComponentKeepsSingleSeparators) {
  CQiString path("/");
  for (const char* part : {"cluster", "", "instance", "ks", "table", "file.db"})
    FXPath::Append(path, part, 0);
  EXPECT_STREQ(path.c_str(), "/cluster/instance/ks/table/file.db");
  CQiString unchanged("/x");
  EXPECT_TRUE(FXPath::Append(unchanged, nullptr, 0).IsError());
  EXPECT_STREQ(unchanged.c_str(), "/x");
}

TEST(FXPathTest, SplitParentPath) {
  struct Case {
    const char* path;
    const char* parent;
    const char* name;
  } cases[] = {{"/a/b/c", "/a/b/", "c"}, {"/c", "/", "c"}, {"c", "", "c"}, {"/a/b/", "/a/b/", ""}};
  for (const auto& c : cases) {
    CQiString parent, name;
    ASSERT_FALSE(FXPath::SplitParentPath(c.path, parent, name).IsError());
    EXPECT_STREQ(parent.c_str(), c.parent) << c.path;
    EXPECT_STREQ(name.c_str(), c.name) << c.path;
  }
}

TEST(CQiPathTest, ParentAndBaseName) {
  struct Case {
    const char* path;
    const char* parent;
    const char* base;
  } cases[] = {
      {"/a/b/c", "/a/b", "c"}, {"/a/b/", "/a", "b"}, {"/a", "/", "a"},
      {"/", "/", ""},          {"a", "", "a"},       {"a/b", "a", "b"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(CQiPath::GetParent(c.path).c_str(), c.parent) << c.path;
    EXPECT_STREQ(CQiPath::GetBaseName(c.path).c_str(), c.base) << c.path;
  }
  EXPECT_STREQ(CQiPath::Append("/usr/lib/jvm", "java").c_str(), "/usr/lib/jvm/java");
  EXPECT_STREQ(CQiPath::Append("/stage/ks", "").c_str(), "/stage/ks/");
}

TEST(TqCastTest, LldKeepsTheFull64BitValue) {
  long big = 9000000000L;
  long long cast = tqcast::lld(big);
  EXPECT_EQ(cast, 9000000000LL);
  EXPECT_EQ(tqcast::lld(-1L), -1LL);
}
