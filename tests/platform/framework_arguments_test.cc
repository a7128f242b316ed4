// The framework's program arguments and the client configurations that read
// them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/UnixFSClientConfig.h"

using MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfig;
using TQDC_FileSystem::CUnixFSClientConfig;

namespace {

CProgramArgumentsPtr ParseOk(const std::string& line) {
  CProgramArgumentsPtr args;
  CQiError error = CProgramArguments::Parse(line, args);
  EXPECT_FALSE(error.IsError()) << line << ": " << error.AsString();
  return args;
}

TEST(ProgramArguments, OptionsValuesAndBareFlags) {
  CProgramArgumentsPtr args = ParseOk("-j 4711 log -d MA1 -verbose -numstreams 3");
  std::string text;
  EXPECT_FALSE(args->getStringValue("j", text).IsError());
  EXPECT_EQ(text, "4711");
  EXPECT_FALSE(args->getStringValue("d", text).IsError());
  EXPECT_EQ(text, "MA1");
  int64_t n = 0;
  EXPECT_FALSE(args->getNumberValue("numstreams", n).IsError());
  EXPECT_EQ(n, 3);
  EXPECT_TRUE(args->isFlagSet("log"));
  EXPECT_TRUE(args->isFlagSet("verbose"));
  EXPECT_FALSE(args->isFlagSet("Log"));
  EXPECT_EQ(args->getArgumentLine(), "-j 4711 log -d MA1 -verbose -numstreams 3");
}

TEST(ProgramArguments, LookupErrors) {
  CProgramArgumentsPtr args = ParseOk("-a x -flag -n 12x -m");
  std::string text = "kept";
  CQiError error = args->getStringValue("missing", text);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 259));
  EXPECT_EQ(text, "kept");
  EXPECT_TRUE(FXErrorUtil::IsWin32(args->getStringValue("flag", text), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(args->getStringValue("m", text), 87));
  EXPECT_EQ(text, "kept");
  int64_t n = 5;
  EXPECT_TRUE(FXErrorUtil::IsWin32(args->getNumberValue("n", n), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(args->getNumberValue("a", n), 87));
  EXPECT_EQ(n, 5);
}

TEST(ProgramArguments, NegativeNumbersAreValuesAndLaterOptionsWin) {
  CProgramArgumentsPtr args = ParseOk("-o -1 -o 9 -x \"-y\"");
  int64_t n = 0;
  EXPECT_FALSE(args->getNumberValue("o", n).IsError());
  EXPECT_EQ(n, 9);
  std::string text;
  EXPECT_FALSE(args->getStringValue("x", text).IsError());
  EXPECT_EQ(text, "-y");
  EXPECT_FALSE(args->hasOption("y"));
}

TEST(ProgramArguments, UnterminatedQuoteIsRefused) {
  CProgramArgumentsPtr args;
  CQiError error = CProgramArguments::Parse("-jr \"/a b", args);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87));
  EXPECT_FALSE(args);
}

// Every value written with Quote reads back unchanged.
TEST(ProgramArguments, QuotedValuesRoundTrip) {
  const std::vector<std::string> values = {
      "plain",     "/job results/dir",   "",   "say \"hi\"", "back\\slash",
      "tab\there", "-looks-like-option", "-5", "trailing\\", "\\\"",
      "a\"b c\\d"};
  for (const auto& v : values) {
    CProgramArgumentsPtr args = ParseOk("-v " + CProgramArguments::Quote(v) + " -w 1");
    std::string text;
    EXPECT_FALSE(args->getStringValue("v", text).IsError()) << v;
    EXPECT_EQ(text, v);
    EXPECT_TRUE(args->hasOption("w")) << v;
  }
}

TEST(ProgramArguments, ArgumentVectorKeepsEachElementWhole) {
  const char* argv[] = {"-jr", "/dir with blank", "log", "-j", "7"};
  CProgramArguments args(5, argv);
  std::string text;
  EXPECT_FALSE(args.getStringValue("jr", text).IsError());
  EXPECT_EQ(text, "/dir with blank");
  EXPECT_TRUE(args.isFlagSet("log"));
  // The line made from the vector reads back alike.
  CProgramArgumentsPtr again = ParseOk(args.getArgumentLine());
  EXPECT_EQ(again->getArguments(), args.getArguments());
}

CFrameworkArguments CoordinatorArguments() {
  CFrameworkArguments a;
  a.ombrelId = 2;
  a.applicationId = 57;
  a.instanceId = 9;
  a.jobId = 4711;
  a.jobToken = "tok en";
  a.backupLevel = 2;
  a.numberOfStreams = 8;
  a.mediaAgent = "MA1";
  a.jobResultsDirectory = "/jr/with blank";
  a.flags = {"log"};
  return a;
}

TEST(FrameworkArguments, FormatsTheCoordinatorLine) {
  EXPECT_EQ(CoordinatorArguments().Format(),
            "-ombrel 2 -appid 57 -instance 9 -j 4711 -token \"tok en\" -t 2 -numstreams 8 -d MA1 "
            "-jr \"/jr/with blank\" log");
  CFrameworkArguments controller;
  controller.ombrelId = 2;
  controller.applicationId = 57;
  controller.jobId = 12;
  controller.jobResultsDirectory = "/jr";
  EXPECT_EQ(controller.Format(), "-ombrel 2 -appid 57 -j 12 -jr /jr");
}

TEST(FrameworkArguments, CoordinatorConfigurationReadsEveryField) {
  CUnixFSClientConfig config;
  ASSERT_FALSE(config.parseArguments(ParseOk(CoordinatorArguments().Format())).IsError());
  EXPECT_EQ(config.getOmbrelId(), 2u);
  EXPECT_EQ(config.getApplicationId(), 57u);
  EXPECT_EQ(config.getInstanceId(), 9u);
  EXPECT_EQ(config.getJobId(), 4711);
  EXPECT_EQ(config.getJobToken(), "tok en");
  EXPECT_EQ(config.getBackupLevel(), TQBkpLevel_Incremental);
  EXPECT_EQ(config.getNumberOfStreams(), 8);
  EXPECT_EQ(config.getMediaAgentName(), "MA1");
  EXPECT_EQ(config.getJobResultsDirectory(), "/jr/with blank");
  EXPECT_EQ(config.getJobResultsPath(), "/jr/with blank");
  EXPECT_EQ(config.GetSCStateFileJobId(), 4711);
  ASSERT_TRUE(config.getProgramArguments());
  EXPECT_TRUE(config.getProgramArguments()->isFlagSet(CFrameworkArguments::kCommitLogFlag));
}

TEST(FrameworkArguments, ControllerConfigurationReadsTheNodeLine) {
  CFrameworkArguments a;
  a.ombrelId = 2;
  a.applicationId = 12;
  a.jobId = 4711;
  a.jobResultsDirectory = "/jr/node1";
  std::string line = a.Format() + " -numstreams 3 -t 1 -d MA1 -collectFileStart 7";
  MultiNodeBackupOpsControllerClientConfig config;
  ASSERT_FALSE(config.parseArguments(ParseOk(line)).IsError());
  EXPECT_EQ(config.getNumberOfStreams(), 3);
  EXPECT_EQ(config.getBackupLevel(), TQBkpLevel_Full);
  EXPECT_EQ(config.getMediaAgentName(), "MA1");
  EXPECT_EQ(config.getCollectFileStart(), 7u);
  EXPECT_EQ(config.getCollectFileCount(), 0u);
  EXPECT_EQ(config.getSubclientId(), 12u);
  EXPECT_EQ(config.getFailuresFilePath(), "/jr/node1/Failures.tqf");
  std::string jobText;
  EXPECT_FALSE(config.getProgramArguments()->getStringValue("j", jobText).IsError());
  EXPECT_EQ(jobText, "4711");
  EXPECT_FALSE(config.getProgramArguments()->isFlagSet("log"));
}

TEST(FrameworkArguments, AbsentOptionsKeepDefaults) {
  CUnixFSClientConfig config;
  ASSERT_FALSE(config.parseArguments(ParseOk("log")).IsError());
  EXPECT_EQ(config.getOmbrelId(), 0u);
  EXPECT_EQ(config.getJobId(), 0);
  EXPECT_EQ(config.getBackupLevel(), TQBkpLevel_Full);
  EXPECT_EQ(config.getNumberOfStreams(), 0);
  EXPECT_EQ(config.getJobResultsDirectory(), "");
}

TEST(FrameworkArguments, MalformedValuesAreRefused) {
  const std::vector<std::string> lines = {"-j abc",
                                          "-j",
                                          "-t 3",
                                          "-t 0",
                                          "-ombrel -2",
                                          "-appid 4294967296",
                                          "-numstreams -1",
                                          "-numstreams 2147483648",
                                          "-instance x",
                                          "-collectFileStart -3",
                                          "-collectFileStart 1x"};
  for (const auto& line : lines) {
    MultiNodeBackupOpsControllerClientConfig config;
    CQiError error = config.parseArguments(ParseOk(line));
    EXPECT_TRUE(FXErrorUtil::IsWin32(error, 87)) << line << " " << error.AsString();
  }
  CUnixFSClientConfig config;
  EXPECT_TRUE(FXErrorUtil::IsWin32(config.parseArguments(CProgramArgumentsPtr()), 87));
}

TEST(FrameworkArguments, LargestValuesFit) {
  CUnixFSClientConfig config;
  ASSERT_FALSE(config
                   .parseArguments(ParseOk("-ombrel 4294967295 -appid 4294967295 -j "
                                           "9223372036854775807 -numstreams 2147483647"))
                   .IsError());
  EXPECT_EQ(config.getOmbrelId(), 4294967295u);
  EXPECT_EQ(config.getApplicationId(), 4294967295u);
  EXPECT_EQ(config.getJobId(), INT64_MAX);
  EXPECT_EQ(config.getNumberOfStreams(), INT32_MAX);
}

// The restore node line is read option by option by the restore controller.
TEST(FrameworkArguments, RestoreNodeLineReadsByName) {
  std::string line =
      "-ombrel 2 -appid 5 -j 77 -jr /jr -CassInst 11 -DestInstance 12 -ReplaceDeadNode 0 "
      "-CrossInstance 1 -UseSSTableLaoder 0 -Recover 1 -runDR 0 -stagePath /stage/77 "
      "-StageFreeRestore 0";
  CProgramArgumentsPtr args = ParseOk(line);
  std::string stage;
  EXPECT_FALSE(args->getStringValue("stagePath", stage).IsError());
  EXPECT_EQ(stage, "/stage/77");
  int64_t n = 0;
  EXPECT_FALSE(args->getNumberValue("DestInstance", n).IsError());
  EXPECT_EQ(n, 12);
  TQDC_FileSystem::CRestoreClientConfig config;
  ASSERT_FALSE(config.parseArguments(args).IsError());
  EXPECT_EQ(config.getJobId(), 77);
  EXPECT_EQ(config.getKind(), 2);
}

}  // namespace
