// Argument lines and the extended-option string.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/CommandLineArguments.h"
#include "platform/base/ExtendedOptions.h"
#include "platform/base/FXErrorUtil.h"

namespace {

std::string Option(const CCommandLineArguments& args, const char* name) {
  std::string value = "<absent>";
  args.GetOption(name, value);
  return value;
}

}  // namespace

TEST(CommandLineArgumentsTest, BackupNodeArgumentLine) {
  CCommandLineArguments args("-numstreams 4 -t 2 -d MA1 -collectFileStart 9 -j 345 -log");
  EXPECT_EQ(Option(args, "numstreams"), "4");
  EXPECT_EQ(Option(args, "t"), "2");
  EXPECT_EQ(Option(args, "d"), "MA1");
  EXPECT_EQ(Option(args, "collectFileStart"), "9");
  EXPECT_EQ(Option(args, "j"), "345");
  bool log = false;
  ASSERT_FALSE(args.GetFlag("log", log).IsError());
  EXPECT_TRUE(log);
  bool other = true;
  ASSERT_FALSE(args.GetFlag("bypass", other).IsError());
  EXPECT_FALSE(other);
}

TEST(CommandLineArgumentsTest, RestoreArgumentLineWithAnEmptyStagePath) {
  CCommandLineArguments args(
      " -CassInst 11 -DestInstance 12 -ReplaceDeadNode 0 -CrossInstance 1 -UseSSTableLaoder 0 "
      "-Recover 1 -runDR 0 -stagePath  -StageFreeRestore 1");
  EXPECT_EQ(Option(args, "CassInst"), "11");
  EXPECT_EQ(Option(args, "stagePath"), "");
  EXPECT_EQ(Option(args, "StageFreeRestore"), "1");
  EXPECT_EQ(Option(args, "UseSSTableLaoder"), "0");
}

TEST(CommandLineArgumentsTest, ValuesNumbersQuotesAndPlainArguments) {
  CCommandLineArguments args;
  ASSERT_FALSE(
      args.Parse("345 -systemKeyCopy -offset -1 --jobId 77 -path \"/a b/c\" -dash \"-x\" -n 1 -n 2")
          .IsError());
  EXPECT_EQ(args.GetPlainArguments(), (std::vector<std::string>{"345"}));
  EXPECT_EQ(Option(args, "systemKeyCopy"), "");
  EXPECT_EQ(Option(args, "offset"), "-1");
  EXPECT_EQ(Option(args, "jobId"), "77");
  EXPECT_EQ(Option(args, "path"), "/a b/c");
  EXPECT_EQ(Option(args, "dash"), "-x");
  EXPECT_EQ(Option(args, "n"), "2");  // the last value wins
}

TEST(CommandLineArgumentsTest, MissingOptionIsNotFound) {
  CCommandLineArguments args("-t 1");
  std::string value = "kept";
  CQiError error = args.GetOption("j", value);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1168));
  EXPECT_EQ(value, "kept");
  CQiString q;
  EXPECT_TRUE(args.GetOption("j", q).IsError());
  EXPECT_TRUE(args.HasOption("t"));
  EXPECT_FALSE(args.HasOption("T"));  // names are case-sensitive
}

TEST(CommandLineArgumentsTest, ParseReplacesEarlierResultsAndRejectsAnOpenQuote) {
  CCommandLineArguments args("-a 1");
  CQiError error = args.Parse("-b 2 -c \"open");
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_FALSE(args.HasOption("a"));
  EXPECT_EQ(Option(args, "b"), "2");
  const char* argv[] = {"prog", "-j", "5", "plain"};
  ASSERT_FALSE(args.Parse(4, argv).IsError());
  EXPECT_EQ(Option(args, "j"), "5");
  EXPECT_EQ(args.GetPlainArguments(), (std::vector<std::string>{"plain"}));
}

TEST(ExtendedOptionsTest, SetAndEncode) {
  CExtendedOptions options("");
  options.setOption("CassandraRestore", 1);
  options.setOption("CassandraRestoreDataDirectory", std::string("A:/d1##B:/d2##"));
  options.setOption("CassandraMeta", "~KEYSPACE~ks~BEGIN~~TABLEMETA~t~TABLEID~i1");
  std::string text;
  options.getOptions(text);
  EXPECT_EQ(text,
            "CassandraRestore=1;CassandraRestoreDataDirectory=A:/d1##B:/d2##;"
            "CassandraMeta=~KEYSPACE~ks~BEGIN~~TABLEMETA~t~TABLEID~i1;");
}

TEST(ExtendedOptionsTest, RoundTripKeepsOrderAndEscapesSeparators) {
  CExtendedOptions first;
  first.setOption("plain", "v");
  first.setOption("odd;name=", "a=b;c%d\nline");
  first.setOption("empty", "");
  first.setOption("plain", 2);  // replaced in place
  std::string text;
  first.getOptions(text);
  EXPECT_EQ(text, "plain=2;odd%3Bname%3D=a%3Db%3Bc%25d%0Aline;empty=;");

  CExtendedOptions second(text);
  EXPECT_EQ(second.items(), first.items());
  std::string value;
  ASSERT_TRUE(second.getOption("odd;name=", value));
  EXPECT_EQ(value, "a=b;c%d\nline");
  EXPECT_FALSE(second.getOption("absent", value));
}

TEST(ExtendedOptionsTest, DecodingIsLenient) {
  CExtendedOptions options(";;flag;k=v;bad=%zz%4;");
  std::string value = "x";
  ASSERT_TRUE(options.getOption("flag", value));
  EXPECT_EQ(value, "");
  ASSERT_TRUE(options.getOption("bad", value));
  EXPECT_EQ(value, "%zz%4");
  EXPECT_EQ(options.items().size(), 3u);
}
