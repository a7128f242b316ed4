// The collect file mapping file under stress: completions from many streams
// at once are all recorded, a rewrite that dies half way leaves the old file,
// and lines the coordinator cannot read survive its rewrites.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backup/CollectFileMapping.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "plugin/BackupTasksFixture.h"
#include "support/SimTestSupport.h"

namespace {

using backuptest::BackupTasksFixture;
using DistributedQEL::CNodeInfoPtr;
using DistributedQEL::CStreamInfoPtr;
using DistributedQEL::TaskBasePtr;
using TQCassandra::CollectFileMapping;

class MappingFile : public BackupTasksFixture {
 protected:
  std::string Mapping() const { return simtest::ReadFile(MappingPath()); }
  bool Exists(const std::string& path) const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  bool LoggedError(const CLogCapture& log, const std::string& part) const {
    for (const auto& text : log.Texts(-1)) {
      if (text.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

TEST(CollectFileMappingText, LinesAndStatusStrings) {
  struct Line {
    const char* text;
    bool parses;
    uint32_t id;
    const char* status;
  } lines[] = {
      {"7 9:0|", true, 7, "9:0|"},
      {" \t7 9:-1|10:0|\t ", true, 7, "9:-1|10:0|"},
      {"4294967295 1:0|", true, 4294967295u, "1:0|"},
      {"7", false, 0, ""},
      {"7 9:0| 10:0|", false, 0, ""},
      {"x7 9:0|", false, 0, ""},
      {"-1 9:0|", false, 0, ""},
      {"4294967296 1:0|", false, 0, ""},
      {"", false, 0, ""},
  };
  for (const Line& l : lines) {
    SCOPED_TRACE(l.text);
    uint32_t id = 0;
    std::string status;
    ASSERT_EQ(CollectFileMapping::ParseLine(l.text, id, status), l.parses);
    if (l.parses) {
      EXPECT_EQ(id, l.id);
      EXPECT_EQ(status, l.status);
    }
  }

  struct Mark {
    const char* status;
    int task;
    bool found;
    const char* out;
  } marks[] = {
      {"9:-1|10:0|", 10, true, "9:-1|10:-1|"}, {"9:-1|10:0|", 9, true, "9:-1|10:0|"},
      {"9:-1|10:0|", 11, false, "9:-1|10:0|"}, {"9:0|odd|10:0|", 10, true, "9:0|odd|10:-1|"},
      {"9:0|10:0", 10, false, "9:0|10:0"},  // text after the last "|" is no entry
      {"1:0|11:0|", 1, true, "1:-1|11:0|"},    {"", 1, false, ""},
  };
  for (const Mark& m : marks) {
    SCOPED_TRACE(testing::Message() << m.status << " " << m.task);
    std::string out;
    EXPECT_EQ(CollectFileMapping::MarkComplete(m.status, m.task, out), m.found);
    EXPECT_EQ(out, m.out);
  }

  const struct {
    const char* status;
    int first;
  } firsts[] = {{"5:0|6:-1|", 5}, {"12:-1|", 12}, {"7|8|", 7},
                {"", 0},          {"x:0|", 0},    {"99999999999:0|", 2147483647}};
  for (const auto& f : firsts) {
    EXPECT_EQ(CollectFileMapping::FirstTaskNumber(f.status), f.first) << f.status;
  }

  const struct {
    const char* status;
    std::vector<int> numbers;
    std::vector<int> complete;
  } lists[] = {
      {"5:0|6:-1|", {5, 6}, {6}},
      {"1:-1|2:0|30:-1|31:0|", {1, 2, 30, 31}, {1, 30}},
      {"9:0|odd|10:-1|", {9, 10}, {10}},
      {"9:0|10:-1", {9}, {}},  // text after the last "|" is no entry
      {"", {}, {}},
      {"99999999999:0|4:0|", {4}, {}},
  };
  for (const auto& l : lists) {
    SCOPED_TRACE(l.status);
    std::vector<int> complete{42};
    EXPECT_EQ(CollectFileMapping::TaskNumbers(l.status, &complete), l.numbers);
    EXPECT_EQ(complete, l.complete);
  }
}

TEST_F(MappingFile, NoCompletionIsLostWhenManyStreamsFinishAtOnce) {
  constexpr int kTasks = 96;
  constexpr int kStreams = 12;
  coordinator.tasksPerNode = kTasks;
  coordinator.nextTaskId = 1000;
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  ReportCollectFiles(node, kTasks, 1);
  std::vector<CNodeInfoPtr> later;
  for (uint32_t id = 12; id < 18; ++id) later.push_back(AddNode(id, "node" + std::to_string(id)));

  std::map<int, int> handedOut;
  std::mutex handedOutMutex;
  std::atomic<int> errors{0};
  std::vector<std::thread> threads;
  for (int s = 1; s <= kStreams; ++s) {
    CStreamInfoPtr stream = Stream("node1", s);
    threads.emplace_back([&, stream, s]() mutable {
      while (true) {
        DistributedQEL::TaskInfoPtr info(new DistributedQEL::TaskInfo());
        TaskBasePtr task;
        {
          // The framework records the hand-out under the coordinator lock.
          auto_lock lock(coordinator.getCoordinatorLock());
          CQiError error = coordinator.getTask(node, stream, info);
          if (error.IsError()) {
            if (!FXErrorUtil::IsWin32(error, 259)) ++errors;
            return;
          }
          task = Task(static_cast<int>(info->getTaskId()->getTaskId()));
          task->status = DistributedQEL::TASK_RUNNING;
          task->runningNode = "node1";
          task->streamId = s;
        }
        {
          std::lock_guard<std::mutex> guard(handedOutMutex);
          ++handedOut[task->taskId];
        }
        {
          auto_lock lock(coordinator.getCoordinatorLock());
          task->status = DistributedQEL::TASK_COMPLETE;
        }
        DistributedQEL::TakeAction action;
        if (coordinator.OnTaskChange(task, action).IsError()) ++errors;
      }
    });
  }
  // Meanwhile the other nodes report their collect files.
  threads.emplace_back([&] {
    int start = 200;
    for (auto& n : later) {
      ReportCollectFiles(n, 3, start);
      start += 10;
    }
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(errors.load(), 0);
  EXPECT_EQ(handedOut.size(), static_cast<size_t>(kTasks));
  for (const auto& h : handedOut) EXPECT_EQ(h.second, 1) << "task " << h.first;

  std::string expected = "11 ";
  for (int i = 1; i <= kTasks; ++i) expected += std::to_string(i) + ":-1|";
  std::vector<std::string> lines;
  ASSERT_FALSE(CollectFileMapping::ReadLines(MappingPath(), lines).IsError());
  ASSERT_EQ(lines.size(), 1 + later.size());
  EXPECT_EQ(lines[0], expected);
  int start = 200;
  for (size_t i = 0; i < later.size(); ++i, start += 10) {
    EXPECT_EQ(lines[1 + i], later[i]->getClientName().substr(4) + " " + std::to_string(start) +
                                ":0|" + std::to_string(start + 1) + ":0|" +
                                std::to_string(start + 2) + ":0|");
  }
  EXPECT_EQ(coordinator.getTasks().size(), kTasks + 3 * later.size());
}

TEST_F(MappingFile, RewriteThatDiesHalfWayLeavesTheOldFile) {
  coordinator.tasksPerNode = 8;
  CNodeInfoPtr node = AddNode(7, "node7", 1);
  ReportCollectFiles(node, 8, 1);
  const std::string before = Mapping();
  ASSERT_GT(before.size(), 16u);

  pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    // Files of this process may not grow past 16 bytes: the write of the new
    // contents kills it with SIGXFSZ part way.
    struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    struct rlimit small = {16, 16};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::signal(SIGXFSZ, SIG_DFL);
    coordinator.markTaskCompleteInMappingFile("node7", 3);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(::access((MappingPath() + ".tmp").c_str(), F_OK), 0);  // died while writing it
  EXPECT_EQ(Mapping(), before);

  // The next completion replaces the leftover and records the task.
  ASSERT_FALSE(coordinator.markTaskCompleteInMappingFile("node7", 3).IsError());
  EXPECT_EQ(Mapping(), "7 1:0|2:0|3:-1|4:0|5:0|6:0|7:0|8:0|\n");
  EXPECT_FALSE(Exists(MappingPath() + ".tmp"));
}

TEST_F(MappingFile, RewriteThatCannotStartLeavesTheFileAndIsLogged) {
  coordinator.tasksPerNode = 8;
  CNodeInfoPtr node = AddNode(7, "node7", 1);
  ReportCollectFiles(node, 2, 1);
  const std::string before = Mapping();
  ASSERT_EQ(::mkdir((MappingPath() + ".tmp").c_str(), 0755), 0);  // in the way

  TaskBasePtr task = Task(2);
  task->status = DistributedQEL::TASK_COMPLETE;
  task->runningNode = "node7";
  CLogCapture log;
  DistributedQEL::TakeAction action;
  EXPECT_FALSE(coordinator.OnTaskChange(task, action).IsError());
  EXPECT_EQ(Mapping(), before);
  EXPECT_TRUE(LoggedError(log, "Failed to open mapping file"));
  EXPECT_EQ(task->status, DistributedQEL::TASK_COMPLETE);
}

TEST_F(MappingFile, LinesItCannotReadAreKeptAsTheyWere) {
  coordinator.tasksPerNode = 8;
  CNodeInfoPtr node = AddNode(7, "node7", 9);
  ReportCollectFiles(node, 2, 9);
  simtest::WriteFile(MappingPath(),
                     "garbage without blank\n"
                     "  3 1:0|  \n"
                     "x7 9:0|\n"
                     "7 9:0|10:0|\n"
                     "12 1:0|  2:0|\n"
                     "\t\n"
                     "7 5:0|\n");
  ASSERT_FALSE(coordinator.markTaskCompleteInMappingFile("node7", 10).IsError());
  EXPECT_EQ(Mapping(),
            "garbage without blank\n"
            "3 1:0|\n"
            "x7 9:0|\n"
            "7 9:0|10:-1|\n"
            "12 1:0|  2:0|\n");
}

TEST_F(MappingFile, LineThatCannotBeAppendedIsLoggedAndTheJobGoesOn) {
  DistributedQEL::CClientConfigPtr config = coordinator.getClientConfig();
  config->setJobResultsDirectory(jobResults.Sub("missing"));
  coordinator.tasksPerNode = 8;
  CNodeInfoPtr node = AddNode(7, "node7", 1);
  CLogCapture log;
  ReportCollectFiles(node, 2, 1);
  EXPECT_EQ(TaskIds(), (std::vector<int>{1, 2}));
  EXPECT_TRUE(Info(node)->tasksSettled);
  EXPECT_TRUE(LoggedError(log, "Failed to open mapping file"));
}

}  // namespace
