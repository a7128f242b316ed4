// The log writer's file: lines at or below the level only, in the
// "<pid> <thread> <mm/dd hh:mm:ss> <level> <function>:<line> <text>" form, and
// the function trace's "Entering"/"Leaving" pair at level 2.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/TqProcess.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    oldLevel_ = g_ptrLogWriter->GetLevel();
    oldFile_ = g_ptrLogWriter->GetLogFile();
    ASSERT_TRUE(g_ptrLogWriter->SetLogFile(path_));
  }
  void TearDown() override {
    g_ptrLogWriter->SetLogFile(oldFile_);
    g_ptrLogWriter->SetLevel(oldLevel_);
  }
  void Traced() { TQ_DEBUG_FUNCTION(); }

  TempDir dir_;
  std::string path_ = dir_.Sub("job.log");
  int oldLevel_ = 0;
  std::string oldFile_;
};

TEST_F(LogFile, LinesAboveTheLevelAreLeftOut) {
  g_ptrLogWriter->SetLevel(1);
  TQLOG(-1, "error %d", 5);
  TQLOG(1, "kept %s", "one");
  TQLOG(2, "dropped");
  TQLOG(6, "dropped too");
  std::vector<std::string> lines = Lines(path_);
  ASSERT_EQ(lines.size(), 2u);
  const std::regex form(std::to_string(::getpid()) +
                        R"( [0-9a-f]+ \d\d/\d\d \d\d:\d\d:\d\d (-?\d) .+:\d+ (.*))");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, form)) << lines[0];
  EXPECT_EQ(match[1], "-1");
  EXPECT_EQ(match[2], "error 5");
  ASSERT_TRUE(std::regex_match(lines[1], match, form)) << lines[1];
  EXPECT_EQ(match[1], "1");
  EXPECT_EQ(match[2], "kept one");
}

TEST_F(LogFile, FunctionTraceWritesEnteringAndLeavingAtLevelTwoOnly) {
  g_ptrLogWriter->SetLevel(1);
  Traced();
  EXPECT_TRUE(Lines(path_).empty());
  g_ptrLogWriter->SetLevel(2);
  Traced();
  std::vector<std::string> lines = Lines(path_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("Traced"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" 2 "), std::string::npos);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 9), " Entering");
  EXPECT_EQ(lines[1].substr(lines[1].size() - 8), " Leaving");
}

TEST_F(LogFile, AnUnwritableFileIsRefusedAndNothingIsWritten) {
  EXPECT_FALSE(g_ptrLogWriter->SetLogFile(dir_.Sub("missing/job.log")));
  EXPECT_EQ(g_ptrLogWriter->GetLogFile(), "");
  TQLOG(-1, "goes nowhere");
  EXPECT_TRUE(Lines(path_).empty());
}

TEST_F(LogFile, CommandsRunByTheProcessDoNotInheritTheLogFile) {
  TQLOG(-1, "before the command");
  std::string out, err;
  ASSERT_EQ(TqProcess::system("ls -l /proc/$$/fd", out, err), 0) << err;
  EXPECT_NE(out.find("/dev/null"), std::string::npos) << out;  // the listing is real
  EXPECT_EQ(out.find(path_), std::string::npos) << out;
}

}  // namespace
