// Coordinators and controllers reach the framework through its services; the
// in-memory services record what was asked and answer from their state.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/Backup.h"
#include "platform/framework/Controller.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"

using namespace DistributedQEL;

namespace {

// A non-null message pointer that nothing dereferences.
FrameworkMessagePtr SomeMessage() {
  static int anchor;
  static boost::shared_ptr<int> owner(&anchor, [](int*) {});
  return FrameworkMessagePtr(owner, reinterpret_cast<CNMessageBase*>(&anchor));
}

class FrameworkServices : public ::testing::Test {
 protected:
  void SetUp() override {
    services.reset(new CInMemoryFrameworkServices());
    services->registerClient(7, "node7", "node7.host", 16);
    services->registerClient(8, "node8", "node8.host", 0);
    coordinator.setFrameworkServices(services);
  }
  boost::shared_ptr<CInMemoryFrameworkServices> services;
  TQDC_FileSystem::CBackup coordinator;
};

TEST_F(FrameworkServices, AddNodeRegistersEachClientOnce) {
  EXPECT_FALSE(coordinator.addNode(7u).IsError());
  EXPECT_FALSE(coordinator.addNode(7u).IsError());
  EXPECT_FALSE(coordinator.addNode(std::string("node7")).IsError());
  EXPECT_FALSE(coordinator.addNode(std::string("node8")).IsError());
  std::vector<CNodeInfoPtr> nodes = coordinator.getNodes();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0]->getClientName(), "node7");
  EXPECT_EQ(nodes[0]->getClientID(), 7u);
  EXPECT_EQ(nodes[0]->getHostName(), "node7.host");
  EXPECT_EQ(nodes[0]->getCPUCount(), 16);
  EXPECT_EQ(nodes[0]->getState(), NODE_NEW);
  EXPECT_EQ(coordinator.findNodeInfoByNodeName("node8"), nodes[1]);
  EXPECT_FALSE(coordinator.findNodeInfoByNodeName("node9"));
  EXPECT_FALSE(coordinator.findNodeInfoByNodeName("NODE7"));
}

TEST_F(FrameworkServices, UnknownClientIsAnErrorAndAddsNothing) {
  EXPECT_TRUE(FXErrorUtil::IsWin32(coordinator.addNode(99u), 87));
  EXPECT_TRUE(FXErrorUtil::IsWin32(coordinator.addNode(std::string("nobody")), 87));
  EXPECT_TRUE(coordinator.getNodes().empty());
}

TEST_F(FrameworkServices, ConcurrentRegistrationKeepsOneRecord) {
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([this, i] {
      if (i % 2) {
        coordinator.addNode(7u);
      } else {
        coordinator.addNode(std::string("node7"));
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(coordinator.getNodes().size(), 1u);
}

TEST_F(FrameworkServices, WithoutServicesEveryCallFails) {
  TQDC_FileSystem::CBackup bare;
  std::vector<CStreamInfoPtr> streams;
  EXPECT_TRUE(FXErrorUtil::IsWin32(bare.addNode(7u), 1359));
  EXPECT_TRUE(FXErrorUtil::IsWin32(bare.addWorker("node7", true, {}), 1359));
  EXPECT_TRUE(FXErrorUtil::IsWin32(bare.getStreams(streams, CNodeInfoPtr(), 8, -1), 1359));
  EXPECT_TRUE(FXErrorUtil::IsWin32(bare.sendMessageToNode("node7", SomeMessage()), 1359));
  TaskBasePtr task(new TaskBase());
  task->taskId = 3;
  EXPECT_EQ(bare.GetTaskCommitOffset(task), -1);
}

TEST_F(FrameworkServices, StreamsAreFilteredByNodeStateAndKind) {
  struct Spec {
    const char* node;
    int number, kind, state;
  };
  const Spec specs[] = {{"node7", 1, 1, STREAM_RUNNING},
                        {"node7", 2, 1, STREAM_STOPPED},
                        {"node7", 3, 2, STREAM_WAITING},
                        {"node8", 4, 1, STREAM_STARTING}};
  for (const auto& s : specs) {
    CStreamInfoPtr stream(new CStreamInfo(s.node, s.number, s.kind));
    stream->setState(s.state);
    services->addStream(stream);
  }
  ASSERT_FALSE(coordinator.addNode(7u).IsError());
  CNodeInfoPtr node7 = coordinator.findNodeInfoByNodeName("node7");
  struct Case {
    CNodeInfoPtr node;
    int status, kind;
    std::vector<int> numbers;
  };
  const std::vector<Case> cases = {
      {CNodeInfoPtr(), STREAM_STATUS_ANY, STREAM_KIND_ANY, {1, 2, 3, 4}},
      {node7, STREAM_STATUS_ANY, STREAM_KIND_ANY, {1, 2, 3}},
      {node7, STREAM_STATUS_ANY, 1, {1, 2}},
      {CNodeInfoPtr(), STREAM_RUNNING, STREAM_KIND_ANY, {1}},
      {CNodeInfoPtr(), STREAM_FAILED, STREAM_KIND_ANY, {}},
  };
  for (const auto& c : cases) {
    std::vector<CStreamInfoPtr> streams(3);  // replaced, not appended to
    ASSERT_FALSE(coordinator.getStreams(streams, c.node, c.status, c.kind).IsError());
    std::vector<int> numbers;
    for (const auto& s : streams) numbers.push_back(s->getStreamNumber());
    EXPECT_EQ(numbers, c.numbers) << c.status << " " << c.kind;
  }
}

TEST_F(FrameworkServices, MessagesToNodesAreRecordedOrFail) {
  FrameworkMessagePtr message = SomeMessage();
  EXPECT_FALSE(coordinator.sendMessageToNode("node7", message).IsError());
  services->failSendsTo("node8", FXErrorUtil::ErrorWin32(FXLOC, 1627, "link down"));
  CQiError error = coordinator.sendMessageToNode("node8", message);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 1627));
  EXPECT_TRUE(
      FXErrorUtil::IsWin32(coordinator.sendMessageToNode("node7", FrameworkMessagePtr()), 87));
  auto sent = services->nodeMessages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].clientName, "node7");
  EXPECT_EQ(sent[0].message, message);
}

TEST_F(FrameworkServices, WorkerRequestsAreRecordedWithTheirResult) {
  EXPECT_FALSE(coordinator.addWorker("node7", true, {{"k", "v"}}).IsError());
  services->setAddWorkerResult(FXErrorUtil::ErrorWin32(FXLOC, 1359, "no slot"));
  EXPECT_TRUE(FXErrorUtil::IsWin32(coordinator.addWorker("node8", false, {}), 1359));
  auto requests = services->workerRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].clientName, "node7");
  EXPECT_TRUE(requests[0].backupWorker);
  EXPECT_EQ(requests[0].properties.at("k"), "v");
  EXPECT_EQ(requests[1].clientName, "node8");
  EXPECT_FALSE(requests[1].backupWorker);
}

TEST_F(FrameworkServices, CommitOffsetIsTheLastCommitOfTheTask) {
  TaskBasePtr task(new TaskBase());
  task->taskId = 10;
  EXPECT_EQ(coordinator.GetTaskCommitOffset(task), -1);
  EXPECT_FALSE(services->CommitTaskOffset(10, 0).IsError());
  EXPECT_EQ(coordinator.GetTaskCommitOffset(task), 0);
  EXPECT_FALSE(services->CommitTaskOffset(10, 4096).IsError());
  EXPECT_FALSE(services->CommitTaskOffset(11, 77).IsError());
  EXPECT_EQ(coordinator.GetTaskCommitOffset(task), 4096);
  EXPECT_TRUE(FXErrorUtil::IsWin32(services->CommitTaskOffset(10, -5), 87));
  EXPECT_EQ(coordinator.GetTaskCommitOffset(task), 4096);
  EXPECT_EQ(coordinator.GetTaskCommitOffset(TaskBasePtr()), -1);
}

TEST_F(FrameworkServices, ConcurrentCommitsFromStreamsAreAllKept) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this, t] {
      for (int64_t offset = 0; offset <= 1000; ++offset) services->CommitTaskOffset(t, offset);
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(services->GetTaskCommitOffset(t), 1000) << t;
}

TEST_F(FrameworkServices, TaskListIsGuardedByTheCoordinatorLock) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 200; ++i) {
        TaskBasePtr task(new TaskBase());
        task->taskId = t * 1000 + i;
        coordinator.addTask(task);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(coordinator.getTasks().size(), 1600u);
  // The lock is recursive: a holder may take it again.
  auto_lock outer(coordinator.getCoordinatorLock());
  coordinator.addTask(TaskBasePtr(new TaskBase()));
  EXPECT_EQ(coordinator.getTaskList().size(), 1601u);
}

TEST_F(FrameworkServices, ControllerTalksToItsCoordinatorUnderItsClientName) {
  CController controller;
  EXPECT_FALSE(controller.SendMsgToServer(SomeMessage()));  // no services yet
  controller.setFrameworkServices(services);
  controller.setClientName("node7");
  EXPECT_TRUE(controller.SendMsgToServer(SomeMessage()));
  EXPECT_FALSE(controller.SendMsgToServer(FrameworkMessagePtr()));
  controller.OnAgentStarted();
  controller.OnAgentStarted();
  auto sent = services->serverMessages();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].clientName, "node7");
  EXPECT_EQ(services->startupReportRequests(), (std::vector<std::string>{"node7", "node7"}));
}

}  // namespace
