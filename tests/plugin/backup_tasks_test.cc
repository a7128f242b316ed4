// The backup coordinator's tasks: made from each node's collect-file report,
// restored from the restart entries and the mapping file of a resumed job,
// handed to the node's own streams, reassigned after a failure, recorded as
// complete in the mapping file; nodes stopped once their work is done.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "plugin/BackupTasksFixture.h"
#include "support/SimTestSupport.h"

namespace {

using backuptest::BackupTasksFixture;
using backuptest::FileInfo;
using backuptest::Startup;
using DistributedQEL::CNodeInfoPtr;
using DistributedQEL::CStreamInfoPtr;
using DistributedQEL::TaskBasePtr;
using DistributedQEL::TaskInfoPtr;

constexpr uint32_t kDetailsMissing = 0x60003D2;

class BackupTasks : public BackupTasksFixture {
 protected:
  // Asks for a task for the stream; the payload, or "" with the error.
  CQiError GetTask(CNodeInfoPtr node, CStreamInfoPtr stream, std::string& payload,
                   int64_t* taskId = nullptr) {
    TaskInfoPtr info(new DistributedQEL::TaskInfo());
    CQiError error = coordinator.getTask(node, stream, info);
    payload = info ? info->getPayload() : "";
    if (taskId && info && info->getTaskId()) *taskId = info->getTaskId()->getTaskId();
    return error;
  }
  // The framework accepts a handed-out task.
  void Accept(int id, const std::string& node, int stream) {
    TaskBasePtr task = Task(id);
    ASSERT_TRUE(task);
    task->status = DistributedQEL::TASK_RUNNING;
    task->runningNode = node;
    task->streamId = stream;
  }
  CQiError Change(int id, int status) {
    TaskBasePtr task = Task(id);
    task->status = status;
    DistributedQEL::TakeAction action;
    action.action = 42;
    CQiError error = coordinator.OnTaskChange(task, action);
    lastAction = action.action;
    return error;
  }
  void WriteMapping(const std::string& text) { simtest::WriteFile(MappingPath(), text); }
  std::string Mapping() const { return simtest::ReadFile(MappingPath()); }
  size_t NodeStops(const std::string& node) const {
    size_t n = 0;
    for (const auto& m : services->nodeMessages()) {
      n += m.clientName == node && m.message &&
           m.message->getClassId() == DistributedQEL::NodeStop::kClassId &&
           m.message->getNamespaceId() == DistributedQEL::NodeStop::kNamespaceId;
    }
    return n;
  }

  int lastAction = -1;
};

// --- start-up reports and task creation ---------------------------------

TEST_F(BackupTasks, FirstReportOnlyAnnouncesTheController) {
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  auto report =
      Startup({{"CassandraStartup", ""}, {"CollectFileCount", "4"}, {"CollectFileStart", "1"}});
  coordinator.ControllerStarted(node, &report);
  EXPECT_TRUE(coordinator.getTasks().empty());
  EXPECT_FALSE(Info(node)->collectReportReceived);
  EXPECT_FALSE(Info(node)->tasksSettled);
  EXPECT_FALSE(coordinator.nodeSkipped);
}

TEST_F(BackupTasks, TenCollectFilesGiveEightNumberedTasksAndTwoSurplusOnes) {
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  coordinator.tasksPerNode = 8;
  coordinator.nextTaskId = 17;
  ReportCollectFiles(node, 10, 1);

  EXPECT_EQ(TaskIds(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 17, 18}));
  std::vector<int> collectFiles;
  for (const auto& task : coordinator.getTasks()) {
    EXPECT_EQ(task->status, DistributedQEL::TASK_NEW);
    EXPECT_EQ(task->priority, 50);
    EXPECT_EQ(task->taskKind, 1);
    EXPECT_EQ(task->reservedNode, "node1");
    ASSERT_TRUE(FileInfo(task));
    EXPECT_EQ(FileInfo(task)->resumeOffset, -1);
    collectFiles.push_back(FileInfo(task)->collectFileNumber);
  }
  EXPECT_EQ(collectFiles, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(coordinator.nextTaskId, 19u);
  EXPECT_EQ(Mapping(), "11 1:0|2:0|3:0|4:0|5:0|6:0|7:0|8:0|17:0|18:0|\n");
  EXPECT_TRUE(Info(node)->tasksSettled);
  EXPECT_TRUE(Info(node)->collectReportReceived);
  EXPECT_TRUE(coordinator.clientConfig->getTasksCreated());

  // Lines of later nodes are appended.
  CNodeInfoPtr second = AddNode(12, "node2", 9);
  ReportCollectFiles(second, 2, 9);
  EXPECT_EQ(Mapping(),
            "11 1:0|2:0|3:0|4:0|5:0|6:0|7:0|8:0|17:0|18:0|\n"
            "12 9:0|10:0|\n");
}

TEST_F(BackupTasks, ReportWithoutValuesSkipsTheNode) {
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  DistributedQEL::ControllerStartup bare;
  coordinator.ControllerStarted(node, &bare);
  EXPECT_TRUE(coordinator.nodeSkipped);
  auto events = CEventJournal::Instance().Find(kDetailsMissing);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].severity, CEventJournal::kCritical);
  EXPECT_EQ(events[0].args, std::vector<std::string>{"node1"});
  EXPECT_TRUE(coordinator.getTasks().empty());
  EXPECT_FALSE(Info(node)->tasksSettled);
  EXPECT_EQ(NodeStops("node1"), 0u);

  CLogCapture log;
  coordinator.ControllerStarted(node, nullptr);
  EXPECT_TRUE(log.Contains("NULL ControllerStartup message"));
}

TEST_F(BackupTasks, FailedInstancesWarnButTheWrittenCollectFilesStillBecomeTasks) {
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  coordinator.tasksPerNode = 4;
  auto report = Startup(
      {{"FailedInstances", "node1_b"}, {"CollectFileCount", "2"}, {"CollectFileStart", "1"}});
  coordinator.ControllerStarted(node, &report);
  EXPECT_TRUE(coordinator.nodeSkipped);
  EXPECT_EQ(TaskIds(), (std::vector<int>{1, 2}));

  CNodeInfoPtr other = AddNode(12, "node2", 5);
  coordinator.nodeSkipped = false;
  auto clean =
      Startup({{"FailedInstances", ""}, {"CollectFileCount", "1"}, {"CollectFileStart", "5"}});
  coordinator.ControllerStarted(other, &clean);
  EXPECT_FALSE(coordinator.nodeSkipped);
}

TEST_F(BackupTasks, NodeWithoutCollectFileDetailsIsStopped) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> values;
    bool sendFails;
  } cases[] = {
      {"no details", {{"Other", "1"}}, false},
      {"count 0", {{"CollectFileCount", "0"}, {"CollectFileStart", "1"}}, false},
      {"start not a number", {{"CollectFileCount", "3"}, {"CollectFileStart", "x"}}, false},
      {"send fails", {}, true},
  };
  uint32_t id = 20;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = "lost" + std::to_string(++id);
    CNodeInfoPtr node = AddNode(id, name, 1);
    if (c.sendFails) {
      services->failSendsTo(name, FXErrorUtil::ErrorWin32(FXLOC, 1236, "gone"));
    }
    coordinator.nodeSkipped = false;
    CEventJournal::Instance().Clear();
    CLogCapture log;
    auto report = Startup(c.values);
    coordinator.ControllerStarted(node, &report);
    EXPECT_TRUE(coordinator.nodeSkipped);
    EXPECT_TRUE(Info(node)->tasksSettled);
    EXPECT_TRUE(Info(node)->collectReportReceived);
    EXPECT_EQ(CEventJournal::Instance().Find(kDetailsMissing).size(), 1u);
    EXPECT_TRUE(log.Contains("Could not fetch collect file details from mapping file either"));
    if (c.sendFails) {
      EXPECT_EQ(node->getState(), DistributedQEL::NODE_RUNNING);
      EXPECT_TRUE(log.Contains("Failed to send NodeStop to node " + name));
    } else {
      EXPECT_EQ(NodeStops(name), 1u);
      EXPECT_EQ(node->getState(), DistributedQEL::NODE_STOPPING);
    }
  }
  EXPECT_TRUE(coordinator.getTasks().empty());
}

TEST_F(BackupTasks, RestartedNodeGetsItsTasksBackFromTheMappingFile) {
  WriteMapping("12 17:0|18:-1|19:0|\n");
  coordinator.taskStatusByClient[12] = "17:0|18:-1|19:0|";
  coordinator.tasksPerNode = 6;
  coordinator.nextTaskId = 31;
  CNodeInfoPtr node = AddNode(12, "node2", 17);
  auto report = Startup({{"FailedInstances", ""}});
  coordinator.ControllerStarted(node, &report);

  EXPECT_EQ(TaskIds(), (std::vector<int>{17, 18, 19}));
  EXPECT_EQ(Task(17)->status, DistributedQEL::TASK_NEW);
  EXPECT_EQ(Task(18)->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(Task(19)->status, DistributedQEL::TASK_NEW);
  EXPECT_EQ(Mapping(), "12 17:0|18:-1|19:0|\n");  // no second line
  EXPECT_FALSE(coordinator.nodeSkipped);
}

TEST_F(BackupTasks, RestartEntriesCompleteTasksAndSetResumeOffsets) {
  jobClient->setRestartString("-o 9|-1 -o 10|4096 -o 11|-1|7 -o x|5");
  WriteMapping("7 9:0|10:0|11:0|\n");
  coordinator.taskStatusByClient[7] = "9:0|10:0|11:0|";
  coordinator.tasksPerNode = 8;
  CNodeInfoPtr node = AddNode(7, "node7", 9);
  ReportCollectFiles(node, 3, 9);
  EXPECT_EQ(Task(9)->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(FileInfo(Task(9))->resumeOffset, -1);
  EXPECT_EQ(Task(10)->status, DistributedQEL::TASK_NEW);
  EXPECT_EQ(FileInfo(Task(10))->resumeOffset, 4096);
  EXPECT_EQ(Task(11)->status, DistributedQEL::TASK_NEW);  // three fields: ignored
  EXPECT_EQ(FileInfo(Task(11))->resumeOffset, -1);

  CStreamInfoPtr stream = Stream("node7", 1);
  std::string payload;
  ASSERT_FALSE(GetTask(node, stream, payload).IsError());
  EXPECT_EQ(payload, "10|4096");
}

// On a rerun every node keeps the numbers its own line recorded, surplus
// ones included (their collect files keep their ordinals), and a restart
// entry or a completion applies only to the node whose line holds the task:
// never to a node new to the rerun, whose numbers come after every recorded
// one, nor to another node's task of the same number.
TEST_F(BackupTasks, ARerunKeepsEachNodesRecordedNumbersAndItsOwnCompletions) {
  // First run: node1 took 1..4 and the surplus 10 and 11, node2 5..8; node3
  // was down. Task 2 of node1 completed; node2 stopped at 6.
  WriteMapping("11 1:0|2:-1|3:0|4:0|10:0|11:-1|\n12 5:0|6:0|7:-1|\n");
  coordinator.taskStatusByClient[11] = "1:0|2:-1|3:0|4:0|10:0|11:-1|";
  coordinator.taskStatusByClient[12] = "5:0|6:0|7:-1|";
  jobClient->setRestartString("-o 3|-1 -o 6|2048 -o 21|-1 -o 22|512");
  coordinator.tasksPerNode = 2;  // the rerun's own share is narrower
  coordinator.nextTaskId = 27;
  CNodeInfoPtr node1 = AddNode(11, "node1", 1);
  CNodeInfoPtr node2 = AddNode(12, "node2", 5);
  CNodeInfoPtr node3 = AddNode(13, "node3", 21);
  Info(node1)->rangeWidth = 4;
  Info(node2)->rangeWidth = 4;
  auto report = Startup({{"FailedInstances", ""}});
  coordinator.ControllerStarted(node1, &report);
  coordinator.ControllerStarted(node2, &report);
  ReportCollectFiles(node3, 3, 21);

  EXPECT_EQ(TaskIds(), (std::vector<int>{1, 2, 3, 4, 10, 11, 5, 6, 7, 21, 22, 27}));
  const struct {
    int task;
    int collectFile;
    int status;
    int64_t offset;
  } expected[] = {
      {1, 1, DistributedQEL::TASK_NEW, -1},      {2, 2, DistributedQEL::TASK_COMPLETE, -1},
      {3, 3, DistributedQEL::TASK_COMPLETE, -1}, {4, 4, DistributedQEL::TASK_NEW, -1},
      {10, 5, DistributedQEL::TASK_NEW, -1},     {11, 6, DistributedQEL::TASK_COMPLETE, -1},
      {5, 5, DistributedQEL::TASK_NEW, -1},      {6, 6, DistributedQEL::TASK_NEW, 2048},
      {7, 7, DistributedQEL::TASK_COMPLETE, -1}, {21, 21, DistributedQEL::TASK_NEW, -1},
      {22, 22, DistributedQEL::TASK_NEW, -1},    {27, 3, DistributedQEL::TASK_NEW, -1},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.task);
    ASSERT_TRUE(Task(e.task));
    EXPECT_EQ(FileInfo(Task(e.task))->collectFileNumber, e.collectFile);
    EXPECT_EQ(Task(e.task)->status, e.status);
    EXPECT_EQ(FileInfo(Task(e.task))->resumeOffset, e.offset);
  }
  EXPECT_EQ(Task(21)->reservedNode, "node3");
  // The new node's line is added; the restored lines stay.
  EXPECT_EQ(Mapping(), "11 1:0|2:-1|3:0|4:0|10:0|11:-1|\n12 5:0|6:0|7:-1|\n13 21:0|22:0|27:0|\n");
}

TEST_F(BackupTasks, NodeWhoseMappingLineIsAllCompleteStopsAtOnce) {
  WriteMapping("12 5:-1|6:-1|\n");
  coordinator.taskStatusByClient[12] = "5:-1|6:-1|";
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr node = AddNode(12, "node2", 5);
  auto report = Startup({{"FailedInstances", ""}});
  coordinator.ControllerStarted(node, &report);
  EXPECT_EQ(Task(5)->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(Task(6)->status, DistributedQEL::TASK_COMPLETE);
  coordinator.OnIdle();
  EXPECT_EQ(NodeStops("node2"), 1u);
  EXPECT_EQ(node->getState(), DistributedQEL::NODE_STOPPING);
}

// --- hand-out ---------------------------------------------------------------

TEST_F(BackupTasks, StreamsTakeOnlyTheirNodesTasks) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr node1 = AddNode(11, "node1", 1);
  CNodeInfoPtr node2 = AddNode(12, "node2", 5);
  ReportCollectFiles(node1, 2, 1);
  ReportCollectFiles(node2, 2, 5);
  // An unreserved task is never handed out by the backup either.
  TaskBasePtr loose(new DistributedQEL::TaskBase());
  loose->taskId = 99;
  loose->status = DistributedQEL::TASK_NEW;
  loose->priority = 1;
  coordinator.addTask(loose);

  CStreamInfoPtr stream = Stream("node1", 1);
  std::string payload;
  int64_t id = 0;
  ASSERT_FALSE(GetTask(node1, stream, payload, &id).IsError());
  EXPECT_EQ(payload, "1|-1");
  EXPECT_EQ(id, 1);
  Accept(1, "node1", 1);
  ASSERT_FALSE(GetTask(node1, stream, payload, &id).IsError());
  EXPECT_EQ(payload, "2|-1");
  Accept(2, "node1", 1);

  CQiError error = GetTask(node1, stream, payload);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 259));
  EXPECT_EQ(error.GetMessage(), "no more tasks found");

  // The other node's stream gets the other node's tasks.
  ASSERT_FALSE(GetTask(node2, Stream("node2", 2), payload, &id).IsError());
  EXPECT_EQ(id, 5);
}

TEST_F(BackupTasks, StreamGetsOnlyTheTaskKindItAsksFor) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  ReportCollectFiles(node, 1, 1);
  struct Case {
    int kind;
    bool gets;
  } cases[] = {{2, false}, {1, true}, {0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    CStreamInfoPtr stream = Stream("node1", 10 + c.kind);
    stream->setRequestedTaskKind(c.kind);
    std::string payload;
    CQiError error = GetTask(node, stream, payload);
    EXPECT_EQ(!error.IsError(), c.gets);
    if (!c.gets) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 259));
    }
  }
}

TEST_F(BackupTasks, TaskOrderUnreservedThenPriorityThenFewerFailures) {
  auto make = [](const std::string& reserved, int priority, std::vector<int> failed) {
    TaskBasePtr t(new DistributedQEL::TaskBase());
    t->reservedNode = reserved;
    t->priority = priority;
    for (size_t i = 0; i < failed.size(); ++i)
      t->failedStreams["n" + std::to_string(i % 2)].insert(failed[i]);
    return t;
  };
  struct Case {
    const char* name;
    TaskBasePtr a, b;
    bool aFirst, bFirst;
  } cases[] = {
      {"unreserved first", make("", 90, {1, 2}), make("n", 10, {}), true, false},
      {"lower priority value", make("n", 10, {1, 2}), make("n", 50, {}), true, false},
      {"fewer failed streams over all nodes", make("n", 50, {1}), make("n", 50, {1, 2}), true,
       false},
      {"equal", make("n", 50, {3}), make("m", 50, {4}), false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(TQCassandra::CassandraTaskByPriorityAndReservation(c.a, c.b), c.aFirst);
    EXPECT_EQ(TQCassandra::CassandraTaskByPriorityAndReservation(c.b, c.a), c.bFirst);
  }
}

TEST_F(BackupTasks, ReassignedTaskGoesToAStreamThatDidNotFailIt) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  node->setStreamCount(1, 2);
  ReportCollectFiles(node, 2, 1);
  Accept(2, "node1", 3);  // task 2 is busy elsewhere
  TaskBasePtr task = Task(1);
  task->status = DistributedQEL::TASK_REASSIGN;
  task->failedStreams["node1"] = {1};
  FileInfo(task)->resumeOffset = 512;
  CStreamInfoPtr failedIt = Stream("node1", 1);
  CStreamInfoPtr other = Stream("node1", 2);
  std::string payload;
  EXPECT_TRUE(FXErrorUtil::IsWin32(GetTask(node, failedIt, payload), 259));
  ASSERT_FALSE(GetTask(node, other, payload).IsError());
  EXPECT_EQ(payload, "1|512");
  EXPECT_TRUE(services->workerRequests().empty());
}

TEST_F(BackupTasks, TaskFailedByEveryStreamOfTheNodeAsksForAWorker) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  node->setStreamCount(1, 2);
  ReportCollectFiles(node, 2, 1);  // task 2 stays new
  TaskBasePtr task = Task(1);
  task->status = DistributedQEL::TASK_REASSIGN;
  task->failedStreams["node1"] = {1, 2};
  CStreamInfoPtr stream = Stream("node1", 1);

  TaskInfoPtr info(new DistributedQEL::TaskInfo());
  ASSERT_FALSE(coordinator.getTask(node, stream, info).IsError());
  EXPECT_FALSE(info);  // no task this time, though task 2 waits
  auto requests = services->workerRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].clientName, "node1");
  EXPECT_TRUE(requests[0].backupWorker);
  EXPECT_TRUE(requests[0].properties.empty());

  services->setAddWorkerResult(FXErrorUtil::ErrorWin32(FXLOC, 1450, "no room"));
  info.reset(new DistributedQEL::TaskInfo());
  EXPECT_TRUE(FXErrorUtil::IsWin32(coordinator.getTask(node, stream, info), 1450));
}

// --- status changes -------------------------------------------------------

class TaskChanges : public BackupTasks {
 protected:
  void SetUp() override {
    BackupTasks::SetUp();
    coordinator.tasksPerNode = 4;
    node = AddNode(7, "node7", 9);
    ReportCollectFiles(node, 2, 9);
    ASSERT_EQ(Mapping(), "7 9:0|10:0|\n");
  }
  CNodeInfoPtr node;
};

TEST_F(TaskChanges, CompletionIsRecordedInTheNodesLine) {
  WriteMapping("3 1:0|\n7 9:-1|10:0|\n");
  Accept(10, "node7", 1);
  ASSERT_FALSE(Change(10, DistributedQEL::TASK_COMPLETE).IsError());
  EXPECT_EQ(Mapping(), "3 1:0|\n7 9:-1|10:-1|\n");
}

TEST_F(TaskChanges, CompletionIsRecordedAlsoAfterTheQuitFlag) {
  jobCtrlClient->setQuitFlag(true);
  Accept(9, "node7", 1);
  ASSERT_FALSE(Change(9, DistributedQEL::TASK_COMPLETE).IsError());
  EXPECT_EQ(Mapping(), "7 9:-1|10:0|\n");
}

TEST_F(TaskChanges, CompletionThatCannotBeRecordedIsLoggedAsAnError) {
  struct Case {
    const char* name;
    const char* file;  // null: no mapping file
    const char* message;
  } cases[] = {
      {"no mapping file", nullptr, "Failed to access mapping file"},
      {"task not in the line", "7 9:0|\n", "Task 10 is not in the mapping file line of node node7"},
      {"node has no line", "3 1:0|\n", "Task 10 is not in the mapping file line of node node7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(MappingPath().c_str());
    if (c.file) WriteMapping(c.file);
    Accept(10, "node7", 1);
    CLogCapture log;
    EXPECT_FALSE(Change(10, DistributedQEL::TASK_COMPLETE).IsError());
    EXPECT_EQ(Task(10)->status, DistributedQEL::TASK_COMPLETE);
    bool logged = false;
    for (const auto& text : log.Texts(-1)) {
      logged |=
          text.find("Task 10 of node node7 is complete but is not recorded") != std::string::npos &&
          text.find(c.message) != std::string::npos;
    }
    EXPECT_TRUE(logged);
    if (c.file) {
      EXPECT_EQ(Mapping(), c.file);
    } else {
      EXPECT_FALSE(std::ifstream(MappingPath()).good());
    }
  }
}

TEST_F(TaskChanges, FailedTaskMovesToAnotherActiveStreamWithItsCommittedOffset) {
  struct Case {
    const char* name;
    int64_t committed;  // -1: never committed
    int64_t resume;
  } cases[] = {{"nothing committed", -1, 0}, {"start", 0, 0}, {"committed", 4096, 4096}};
  Stream("node7", 1);
  CStreamInfoPtr second = Stream("node7", 2);
  Stream("node8", 3);
  int failures = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.committed >= 0) services->CommitTaskOffset(9, c.committed);
    Task(9)->failedStreams.clear();
    Accept(9, "node7", 1);
    ASSERT_FALSE(Change(9, DistributedQEL::TASK_FAILED).IsError());
    TaskBasePtr task = Task(9);
    EXPECT_EQ(task->status, DistributedQEL::TASK_REASSIGN);
    EXPECT_EQ(task->runningNode, "");
    EXPECT_EQ(task->failedStreams["node7"], std::set<int>{1});
    EXPECT_EQ(FileInfo(task)->resumeOffset, c.resume);
    EXPECT_EQ(FileInfo(task)->failureCount, ++failures);
  }
  Accept(10, "node7", 3);
  std::string payload;
  ASSERT_FALSE(GetTask(node, second, payload).IsError());
  EXPECT_EQ(payload, "9|4096");
}

TEST_F(TaskChanges, FailedTaskStaysFailedWithoutAnotherActiveStream) {
  Stream("node7", 1);
  Stream("node7", 2, DistributedQEL::STREAM_STOPPED);
  Stream("node8", 3);
  Accept(9, "node7", 1);
  CLogCapture log;
  ASSERT_FALSE(Change(9, DistributedQEL::TASK_FAILED).IsError());
  EXPECT_EQ(Task(9)->status, DistributedQEL::TASK_FAILED);
  EXPECT_EQ(Task(9)->runningNode, "node7");
  EXPECT_EQ(FileInfo(Task(9))->failureCount, 1);
  EXPECT_EQ(lastAction, 0);
  EXPECT_EQ(log.Texts(-1), std::vector<std::string>{"Task 9 failed"});

  // The second stream then fails it too: both are noted for the node.
  Stream("node7", 4);
  Accept(9, "node7", 4);
  ASSERT_FALSE(Change(9, DistributedQEL::TASK_FAILED).IsError());
  EXPECT_EQ(Task(9)->failedStreams["node7"], (std::set<int>{1, 4}));
  EXPECT_EQ(Task(9)->status, DistributedQEL::TASK_FAILED);
}

TEST_F(TaskChanges, QuitFlagStopsReassignment) {
  Stream("node7", 1);
  Stream("node7", 2);
  for (bool processWide : {false, true}) {
    SCOPED_TRACE(processWide);
    if (processWide) {
      jobCtrlClient->setQuitFlag(false);
      TQJobCtrlClient::SetProcessQuitFlag(true);
    } else {
      jobCtrlClient->setQuitFlag(true);
    }
    Accept(9, "node7", 1);
    ASSERT_FALSE(Change(9, DistributedQEL::TASK_FAILED).IsError());
    EXPECT_EQ(Task(9)->status, DistributedQEL::TASK_FAILED);
    EXPECT_TRUE(Task(9)->failedStreams.empty());
    EXPECT_EQ(FileInfo(Task(9))->failureCount, 0);
  }
  TQJobCtrlClient::SetProcessQuitFlag(false);
}

// --- idle, done reports and node changes ------------------------------------

TEST_F(BackupTasks, IdleStopsOnlyFinishedNodesWithoutRunningStreams) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr busy = AddNode(11, "busy", 1);
  CNodeInfoPtr done = AddNode(12, "done", 5);
  CNodeInfoPtr unsettled = AddNode(13, "unsettled", 9);
  CNodeInfoPtr stopping = AddNode(14, "stopping", 13);
  busy->setStreamCount(1, 1);
  busy->setStreamCount(2, 0);
  done->setStreamCount(1, 0);
  stopping->setState(DistributedQEL::NODE_STOPPING);
  Info(stopping)->tasksSettled = true;

  coordinator.OnIdle();  // no tasks made yet
  EXPECT_TRUE(services->nodeMessages().empty());

  ReportCollectFiles(busy, 1, 1);
  ReportCollectFiles(done, 1, 5);
  Task(5)->status = DistributedQEL::TASK_COMPLETE;
  for (int status : {DistributedQEL::TASK_NEW, DistributedQEL::TASK_RUNNING,
                     DistributedQEL::TASK_FAILED, DistributedQEL::TASK_REASSIGN}) {
    Task(1)->status = status;
    coordinator.OnIdle();
    EXPECT_TRUE(services->nodeMessages().empty()) << status;
  }

  Task(1)->status = DistributedQEL::TASK_COMPLETE;
  CLogCapture log;
  coordinator.OnIdle();
  EXPECT_EQ(NodeStops("done"), 1u);
  EXPECT_EQ(done->getState(), DistributedQEL::NODE_STOPPING);
  EXPECT_EQ(NodeStops("busy"), 0u);
  EXPECT_EQ(busy->getState(), DistributedQEL::NODE_RUNNING);
  EXPECT_TRUE(log.Contains("node busy has 1 running streams. "));
  EXPECT_TRUE(log.Contains("node done has 0 running streams. will stop the node"));
  EXPECT_EQ(NodeStops("unsettled"), 0u);
  EXPECT_EQ(NodeStops("stopping"), 0u);

  // Once its stream ends the busy node is stopped too, and nobody twice.
  busy->setStreamCount(1, 0);
  coordinator.OnIdle();
  EXPECT_EQ(NodeStops("busy"), 1u);
  EXPECT_EQ(NodeStops("done"), 1u);
}

TEST_F(BackupTasks, IdleMarksANodeStoppingEvenWhenTheStopCannotBeSent) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  ReportCollectFiles(node, 1, 1);
  Task(1)->status = DistributedQEL::TASK_COMPLETE;
  services->failSendsTo("node1", FXErrorUtil::ErrorWin32(FXLOC, 1236, "connection gone"));
  CLogCapture log;
  coordinator.OnIdle();
  EXPECT_EQ(node->getState(), DistributedQEL::NODE_STOPPING);
  ASSERT_EQ(log.Texts(-1).size(), 1u);
  EXPECT_NE(log.Texts(-1)[0].find("connection gone"), std::string::npos);
}

TEST_F(BackupTasks, GivenUpNodeIsStoppedAgainOnceEveryTaskIsComplete) {
  coordinator.tasksPerNode = 4;
  CNodeInfoPtr worker = AddNode(11, "node1", 1);
  CNodeInfoPtr lost = AddNode(12, "node2", 5);
  ReportCollectFiles(worker, 1, 1);
  services->failSendsTo("node2", FXErrorUtil::ErrorWin32(FXLOC, 1236, "gone"));
  auto report = Startup({{"FailedInstances", ""}});
  coordinator.ControllerStarted(lost, &report);
  EXPECT_EQ(lost->getState(), DistributedQEL::NODE_RUNNING);
  EXPECT_TRUE(Info(lost)->tasksSettled);
  coordinator.OnIdle();
  EXPECT_EQ(lost->getState(), DistributedQEL::NODE_RUNNING);  // task 1 still open

  Task(1)->status = DistributedQEL::TASK_COMPLETE;
  coordinator.OnIdle();
  EXPECT_EQ(lost->getState(), DistributedQEL::NODE_STOPPING);
  EXPECT_EQ(NodeStops("node1"), 1u);
}

TEST_F(BackupTasks, DoneReportKeepsKeyspaceStatusesAndBackupTimes) {
  CNodeInfoPtr node = AddNode(11, "node1", 1);
  DistributedQEL::ControllerDone done;
  done.setValues({DistributedQEL::DINameValue("CassandraKeyspaceStatus", "<a/>"),
                  DistributedQEL::DINameValue("CassandraNodeBackupTime", "1700000000"),
                  DistributedQEL::DINameValue("Other", "x"),
                  DistributedQEL::DINameValue("CassandraKeyspaceStatus", "<b/>")});
  coordinator.ControllerDone(node, &done);
  EXPECT_EQ(coordinator.keyspaceStatusXmls, (std::list<std::string>{"<a/>", "<b/>"}));
  EXPECT_EQ(coordinator.nodeBackupTime.at("node1"), 1700000000);

  DistributedQEL::ControllerDone later;
  later.setValues({DistributedQEL::DINameValue("CassandraNodeBackupTime", "")});
  coordinator.ControllerDone(node, &later);
  EXPECT_EQ(coordinator.nodeBackupTime.at("node1"), 1700000000);  // empty: no time
  later.setValues({DistributedQEL::DINameValue("CassandraNodeBackupTime", "0")});
  coordinator.ControllerDone(node, &later);
  EXPECT_EQ(coordinator.nodeBackupTime.at("node1"), 1700000000);  // 0: no time either

  CNodeInfoPtr restarted = AddNode(12, "node2", 3);
  coordinator.ControllerDone(restarted, &later);
  EXPECT_EQ(coordinator.nodeBackupTime.count("node2"), 0u);  // read back from the index later

  DistributedQEL::ControllerDone replaced;
  replaced.setValues({DistributedQEL::DINameValue("CassandraNodeBackupTime", "1700000100")});
  coordinator.ControllerDone(node, &replaced);
  EXPECT_EQ(coordinator.nodeBackupTime.at("node1"), 1700000100);

  CLogCapture log;
  DistributedQEL::ControllerDone bare;
  coordinator.ControllerDone(node, &bare);
  coordinator.ControllerDone(node, nullptr);
  EXPECT_EQ(log.Texts(-1), (std::vector<std::string>{"Did not receive Cassandra specific details",
                                                     "NULL ControllerDone message"}));
  EXPECT_EQ(coordinator.keyspaceStatusXmls.size(), 2u);
}

TEST_F(BackupTasks, NodeThatFailedToStartOrAbortedMarksTheJob) {
  struct Case {
    bool startFailed, aborted, skipped;
  } cases[] = {{false, false, false}, {true, false, true}, {false, true, true}};
  uint32_t id = 30;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.startFailed << c.aborted);
    coordinator.nodeSkipped = false;
    ++id;
    CNodeInfoPtr node = AddNode(id, "change" + std::to_string(id), 1);
    node->setStartFailed(c.startFailed);
    node->setAborted(c.aborted);
    DistributedQEL::TakeAction action;
    action.action = 9;
    EXPECT_FALSE(coordinator.OnNodeChange(node, action).IsError());
    EXPECT_EQ(action.action, 0);
    EXPECT_EQ(coordinator.nodeSkipped, c.skipped);
  }
}

}  // namespace
