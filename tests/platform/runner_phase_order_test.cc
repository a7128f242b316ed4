// The job runner drives a backup job's phases through the coordinator and the
// controllers in the framework's order, with the framework's argument lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "platform/framework/FrameworkTypes.h"

using TqRunner::CJobRunner;
using TqRunner::JobResult;

namespace {

std::vector<std::string> Mentioning(const std::vector<std::string>& calls,
                                    const std::string& text) {
  std::vector<std::string> out;
  for (const auto& call : calls) {
    if (call.find(text) != std::string::npos) out.push_back(call);
  }
  return out;
}

size_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i] == call) return i;
  }
  return calls.size();
}

class RunnerPhaseOrder : public RunnerTest {};

TEST_F(RunnerPhaseOrder, BackupJobCallsTheCoordinatorInTheFrameworkOrder) {
  JobResult result = CJobRunner(Spec()).Run();
  ASSERT_EQ(result.error, "");
  std::vector<std::string> calls = world().CoordinatorCalls();

  // Start-up: the scan phase is skipped before anything else is asked of it.
  const std::string line =
      "-ombrel 2 -appid 57 -j 4711 -t 1 -numstreams 4 -d MA1 -jr " + JobResults("cs");
  std::vector<std::string> start = {
      "scan OnSkipPhase", "getClientConfigObject", "parseArguments " + line,
      "initialize",       "loadNodeConfiguration", "reserve nodeA",
      "arguments nodeA",  "reserve nodeB",         "arguments nodeB"};
  ASSERT_GE(calls.size(), start.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + start.size()), start);
  EXPECT_EQ(calls.back(), "OnComplete");

  // Each node: running, first report and the request, the collect-file report
  // and NodeInit, NodeStop once every task is complete, done report, stopped.
  for (const std::string node : {"nodeA", "nodeB"}) {
    const std::string first = node == "nodeA" ? "1" : "5";
    std::vector<std::string> expected = {
        "OnNodeChange " + node + " 4",
        "ControllerStarted " + node + " CassandraStartup=y",
        "ack " + node,
        "ControllerStarted " + node + " CollectFileCount=2,CollectFileStart=" + first,
        "ack " + node,
        "NodeStop " + node,
        "ControllerDone " + node + " 0 CassandraNodeBackupTime=1700000000",
        "OnNodeChange " + node + " 6",
    };
    std::vector<std::string> seen = Mentioning(calls, " " + node);
    // "reserve" and "arguments" were checked above.
    seen.erase(seen.begin(), seen.begin() + 2);
    EXPECT_EQ(seen, expected) << node;
  }

  // Tasks run after their node reported its collect files and are complete
  // before the node is stopped: running (3), then complete (5).
  for (int task : {1, 2, 5, 6}) {
    const std::string node = task < 5 ? "nodeA" : "nodeB";
    std::vector<std::string> changes = Mentioning(calls, "OnTaskChange " + std::to_string(task));
    EXPECT_EQ(changes, (std::vector<std::string>{"OnTaskChange " + std::to_string(task) + " 3",
                                                 "OnTaskChange " + std::to_string(task) + " 5"}));
    size_t running = IndexOf(calls, changes.front());
    EXPECT_GT(running,
              IndexOf(calls, "ControllerStarted " + node +
                                 " CollectFileCount=2,CollectFileStart=" + (task < 5 ? "1" : "5")));
    EXPECT_LT(IndexOf(calls, changes.back()), IndexOf(calls, "NodeStop " + node));
  }

  // The phases and what was backed up.
  ASSERT_EQ(result.phases.size(), 2u);
  EXPECT_TRUE(result.phases[0].skipped);
  EXPECT_EQ(result.phases[0].endReason, "skipped");
  EXPECT_EQ(result.phases[1].status, PHASE_COMPLETE);
  EXPECT_EQ(result.phases[1].endReason, "complete");
  EXPECT_EQ(result.phases[1].message, "");
  EXPECT_EQ(result.status, PHASE_COMPLETE);
  ASSERT_EQ(result.phases[1].tasks.size(), 4u);
  for (const auto& task : result.phases[1].tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
    EXPECT_EQ(task.attempts, 1) << task.taskId;
  }
  ASSERT_EQ(result.phases[1].nodes.size(), 2u);
  for (const auto& node : result.phases[1].nodes) {
    EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED);
    EXPECT_FALSE(node.startFailed);
  }
  ExpectEveryFileStored();
  EXPECT_EQ(world().Stored().size(), 12u);
  // Every node's controller stopped.
  std::vector<std::string> nodeCalls = world().NodeCalls();
  EXPECT_EQ(Mentioning(nodeCalls, "OnAgentStopped").size(), 2u);
}

struct ArgumentCase {
  const char* name;
  bool commitLog;
  int level;
  const char* coordinatorTail;  // after -jr <directory>
  const char* controllerTail;   // after -jr <directory>
};

class RunnerArguments : public RunnerTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(RunnerArguments, CoordinatorAndControllerLines) {
  const ArgumentCase& c = GetParam();
  TqRunner::JobSpec spec = Spec();
  spec.commitLogJob = c.commitLog;
  spec.backupLevel = c.level;
  spec.instanceId = 9;
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  const std::string level = std::to_string(c.level);
  EXPECT_EQ(world().CoordinatorCalls().at(2),
            "parseArguments -ombrel 2 -appid 57 -instance 9 -j 4711 -t " + level +
                " -numstreams 4 -d MA1 -jr " + JobResults("cs") + c.coordinatorTail);
  std::vector<runner_test::StartSeen> starts = world().StartsSeen();
  ASSERT_EQ(starts.size(), 2u);
  for (const auto& start : starts) {
    const std::string first = start.controller == "nodeA" ? "1" : "5";
    EXPECT_EQ(start.arguments, "-ombrel 2 -appid 57 -instance 9 -j 4711 -jr " +
                                   JobResults(start.controller) + c.controllerTail +
                                   " -numstreams 2 -t " + level + " -d MA1 -collectFileStart " +
                                   first);
  }
  // The recorded node arguments are the same lines.
  for (const auto& node : Phase(result, "backup")->nodes) {
    EXPECT_NE(node.arguments.find("-j 4711 -jr " + JobResults(node.clientName)), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Jobs, RunnerArguments,
                         ::testing::Values(ArgumentCase{"Full", false, 1, "", ""},
                                           ArgumentCase{"Incremental", false, 2, "", ""},
                                           ArgumentCase{"CommitLog", true, 1, " log", " log"}),
                         [](const ::testing::TestParamInfo<ArgumentCase>& info) {
                           return info.param.name;
                         });

TEST_F(RunnerPhaseOrder, EveryControllerIsStartedAfterItsFirstNodeInit) {
  TqRunner::JobSpec spec = Spec();
  spec.phases = {"scan", "backup", "postop"};
  spec.backupLevel = 2;
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(Phase(result, "backup")->status, PHASE_COMPLETE);
  EXPECT_EQ(Phase(result, "postop")->status, PHASE_COMPLETE);
  std::vector<std::string> nodeCalls = world().NodeCalls();
  for (const std::string node : {"nodeA", "nodeB"}) {
    std::vector<std::string> mine = Mentioning(nodeCalls, node + ": ");
    // The backup controller gets NodeInit once its collect files are
    // reported; OnControllerStarted follows it, once, before its tasks end.
    std::vector<std::string> backup = Mentioning(mine, ": OnControllerStarted");
    EXPECT_EQ(backup, std::vector<std::string>{node + ": OnControllerStarted"});
    EXPECT_EQ(IndexOf(mine, node + ": processNodeInit") + 1,
              IndexOf(mine, node + ": OnControllerStarted"));
    // The post-operations controller reads its level from "-t" in
    // processNodeInit and works in OnControllerStarted, which ends it.
    std::vector<std::string> postop = Mentioning(mine, "postop");
    EXPECT_EQ(postop, (std::vector<std::string>{node + ": postop processNodeInit",
                                                node + ": postop OnControllerStarted level 2",
                                                node + ": postop OnAgentStopped"}));
  }
  std::vector<runner_test::StartSeen> starts = world().StartsSeen();
  ASSERT_EQ(starts.size(), 4u);
  for (const auto& start : starts) {
    const bool backupController = start.arguments.find("-collectFileStart") != std::string::npos;
    // Only the post-operations controllers carry the level of their own.
    EXPECT_EQ(start.arguments.rfind(" -jr ") > start.arguments.find(" -t 2 "), !backupController)
        << start.arguments;
    if (!backupController) {
      EXPECT_EQ(start.arguments,
                "-ombrel 2 -appid 57 -j 4711 -t 2 -jr " + JobResults(start.controller))
          << start.arguments;
    }
  }
  std::vector<std::string> calls = world().CoordinatorCalls();
  EXPECT_EQ(Mentioning(calls, "postop ControllerDone").size(), 2u);
  EXPECT_EQ(Mentioning(calls, "postop ControllerDone nodeA 0").size(), 1u);
}

TEST_F(RunnerPhaseOrder, ControllerWhoseStartFailsStopsAndReportsItFailedToInitialise) {
  TqRunner::JobSpec spec = Spec();
  spec.phases = {"postop"};
  world().nodes = {"nodeA", "nodeB"};
  world().failPostOpStart = {"nodeB"};
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  std::vector<std::string> calls = world().CoordinatorCalls();
  EXPECT_EQ(Mentioning(calls, "postop ControllerDone nodeA 0").size(), 1u);
  EXPECT_EQ(Mentioning(calls, "postop ControllerDone nodeB 3").size(), 1u);
  std::vector<std::string> nodeCalls = world().NodeCalls();
  EXPECT_TRUE(Mentioning(nodeCalls, "nodeB: postop OnControllerStarted").empty());
  EXPECT_EQ(Mentioning(nodeCalls, "nodeB: postop OnAgentStopped").size(), 1u);
  const TqRunner::PhaseResult* phase = Phase(result, "postop");
  ASSERT_NE(phase, nullptr);
  EXPECT_EQ(phase->endReason, "complete");
  for (const auto& node : phase->nodes) {
    EXPECT_EQ(node.failure.find("Injected processNodeInit failure") != std::string::npos,
              node.clientName == "nodeB")
        << node.clientName;
  }
}

TEST_F(RunnerPhaseOrder, CoordinatorThatFailsToStartStillCompletesAndStartsNoNode) {
  world().failLoad = true;
  JobResult result = CJobRunner(Spec()).Run();
  const TqRunner::PhaseResult* phase = Phase(result, "backup");
  ASSERT_NE(phase, nullptr);
  EXPECT_EQ(phase->endReason, "start failed");
  EXPECT_NE(phase->message.find("Injected load failure"), std::string::npos);
  // OnComplete runs so that the coordinator can release what it started.
  std::vector<std::string> calls = world().CoordinatorCalls();
  EXPECT_EQ(calls.back(), "OnComplete");
  EXPECT_TRUE(Mentioning(calls, "reserve").empty());
  EXPECT_TRUE(world().StartsSeen().empty());
  EXPECT_EQ(phase->status, PHASE_FAILED);
  EXPECT_EQ(result.status, PHASE_FAILED);
}

TEST_F(RunnerPhaseOrder, PhaseWithoutCoordinatorFailsAndTheLaterPhasesStillRun) {
  TqRunner::JobSpec spec = Spec();
  spec.phases = {"scan", "nosuchkind", "backup"};
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.phases.size(), 3u);
  EXPECT_EQ(result.phases[1].endReason, "no coordinator");
  EXPECT_EQ(result.phases[1].status, PHASE_FAILED);
  EXPECT_NE(result.phases[1].message.find("nosuchkind"), std::string::npos);
  EXPECT_EQ(result.phases[2].status, PHASE_COMPLETE);
  // The job is as bad as its worst phase.
  EXPECT_EQ(result.status, PHASE_FAILED);
}

}  // namespace
