// Controllers run at the same time, each on its own thread in its own
// client's context; the coordinator is always called in the coordinating
// client's context; a node's streams get only that node's tasks.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "RunnerTestSupport.h"
#include "platform/framework/FrameworkTypes.h"

using TqRunner::CJobRunner;
using TqRunner::JobResult;

namespace {

class RunnerConcurrency : public RunnerTest {
 protected:
  TqRunner::JobSpec ThreeNodes() {
    TqRunner::JobSpec spec = Spec();
    world().nodes = {"nodeA", "nodeB", "nodeC"};
    GiveFiles("nodeC", 3, 2);
    spec.nodeClients.push_back({"nodeC", 13, "c.host", 0});
    return spec;
  }
};

TEST_F(RunnerConcurrency, ControllersStartTogetherEachInItsOwnClientContext) {
  world().barrier = 3;  // every controller waits in OnAgentStarted for the others
  JobResult result = CJobRunner(ThreeNodes()).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  std::vector<runner_test::StartSeen> starts = world().StartsSeen();
  ASSERT_EQ(starts.size(), 3u);
  std::set<std::string> names;
  for (const auto& start : starts) {
    names.insert(start.controller);
    EXPECT_TRUE(start.metOthers) << start.controller << " started alone";
    EXPECT_EQ(start.context, start.controller);
    EXPECT_EQ(start.jobResultsDirectory, JobResults(start.controller));
    EXPECT_EQ(start.configDirectory, JobResults(start.controller));
  }
  EXPECT_EQ(names, (std::set<std::string>{"nodeA", "nodeB", "nodeC"}));
  // Every controller call ran in its controller's context.
  for (const auto& call : world().NodeCalls()) {
    const std::string context = call.substr(0, call.find(':'));
    EXPECT_TRUE(names.count(context)) << call;
  }
}

TEST_F(RunnerConcurrency, CoordinatorIsAlwaysCalledInTheCoordinatingClientsContext) {
  JobResult result = CJobRunner(ThreeNodes()).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  EXPECT_EQ(world().CoordinatorContexts(), (std::set<std::string>{"cs"}));
  // getTask is asked from the streams' threads, still as the coordinator.
  EXPECT_EQ(world().GetTaskContexts(), (std::set<std::string>{"cs"}));
}

TEST_F(RunnerConcurrency, TasksGoOnlyToStreamsOfTheirNode) {
  JobResult result = CJobRunner(ThreeNodes()).Run();
  const TqRunner::PhaseResult* phase = Phase(result, "backup");
  ASSERT_NE(phase, nullptr);
  ASSERT_EQ(phase->status, PHASE_COMPLETE);
  ASSERT_EQ(phase->tasks.size(), 7u);  // 2 + 2 + 3 collect files

  std::map<int, std::string> reserved;
  for (const auto& task : phase->tasks) {
    reserved[task.taskId] = task.reservedNode;
    EXPECT_EQ(task.runningNode, task.reservedNode) << task.taskId;
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE);
  }
  std::vector<runner_test::TaskSeen> seen = world().TasksSeen();
  ASSERT_EQ(seen.size(), 7u);
  std::map<std::string, std::set<int>> byNode;
  for (const auto& task : seen) {
    EXPECT_EQ(task.controller, reserved[task.taskId]) << task.taskId;
    EXPECT_EQ(task.context, task.controller) << task.taskId;
    byNode[task.controller].insert(task.taskId);
  }
  EXPECT_EQ(byNode["nodeA"], (std::set<int>{1, 2}));
  EXPECT_EQ(byNode["nodeB"], (std::set<int>{5, 6}));
  EXPECT_EQ(byNode["nodeC"], (std::set<int>{9, 10, 11}));
  // Each node ran the two streams it reserved, and a node's files went only
  // into its own streams.
  std::map<std::string, std::set<int>> streams;
  for (const auto& item : world().Stored()) streams[item.client].insert(item.stream);
  for (const auto& node : phase->nodes) {
    EXPECT_EQ(node.streams, 2) << node.clientName;
    EXPECT_LE(streams[node.clientName].size(), 2u) << node.clientName;
  }
  for (const auto& a : streams) {
    for (const auto& b : streams) {
      if (a.first == b.first) continue;
      for (int s : a.second) EXPECT_EQ(b.second.count(s), 0u) << a.first << " " << b.first;
    }
  }
  ExpectEveryFileStored();
}

}  // namespace
