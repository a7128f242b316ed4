// How a phase copes with failing tasks and how it ends when it cannot go on:
// reassignment from the committed offset, TakeAction, added workers, the quit
// flag, lack of progress, the time limit, and a rerun with restart entries.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/suite/TQJobCtrlClient.h"

using TqRunner::CJobRunner;
using TqRunner::JobResult;
using TqRunner::PhaseResult;

namespace {

class RunnerFailures : public RunnerTest {
 protected:
  // Node A alone: two collect files of three files each.
  TqRunner::JobSpec NodeA(int streams) {
    TqRunner::JobSpec spec = Spec();
    world().nodes = {"nodeA"};
    world().collectFiles.erase("nodeB");
    world().streamsPerNode = streams;
    spec.nodeClients.resize(1);
    return spec;
  }
  // Source file `f` of collect file `c` of node A.
  std::string File(int c, int f) { return world().collectFiles["nodeA"][c][f]; }
  // Where entry `f` of collect file `c` begins in its numbered collect file.
  int64_t Offset(int c, int f) {
    int64_t offset = 0;
    for (int i = 0; i < f; ++i) offset += File(c, i).size() + 1;
    return offset;
  }
  std::vector<std::string> PayloadsOf(int task) {
    std::vector<std::string> payloads;
    for (const auto& seen : world().TasksSeen()) {
      if (seen.taskId == task) payloads.push_back(seen.payload);
    }
    return payloads;
  }
  int Count(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }
};

TEST_F(RunnerFailures, FailedTaskIsReassignedAndResumesFromItsCommittedOffset) {
  TqRunner::JobSpec spec = NodeA(2);
  world().failOnce = {File(1, 1)};  // the second file of task 2 fails once
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.status, PHASE_COMPLETE);
  EXPECT_EQ(phase.endReason, "complete");

  const TqRunner::TaskRecord* task = Task(phase, 2);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(task->attempts, 2);
  EXPECT_EQ(task->failedStreams, 1);
  // Handed out first from the start, then from the first entry not stored.
  EXPECT_EQ(PayloadsOf(2), (std::vector<std::string>{"2|-1", "2|" + std::to_string(Offset(1, 1))}));
  // The entry before the failure is not stored again; the one after it, whose
  // store was never committed, is.
  EXPECT_EQ(world().StoredCount(File(1, 0)), 1);
  EXPECT_EQ(world().StoredCount(File(1, 1)), 1);
  EXPECT_EQ(world().StoredCount(File(1, 2)), 2);
  EXPECT_EQ(task->commitOffset, Offset(1, 3));
  ExpectEveryFileStored();
}

TEST_F(RunnerFailures, ExceptionFromPlugInCodeFailsTheTaskAndNotTheRunner) {
  TqRunner::JobSpec spec = NodeA(2);
  world().throwOnce = {1};
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.status, PHASE_COMPLETE);
  EXPECT_EQ(Task(phase, 1)->attempts, 2);
  EXPECT_EQ(Task(phase, 1)->failedStreams, 1);
  EXPECT_EQ(PayloadsOf(1), (std::vector<std::string>{"1|-1", "1|0"}));
  ExpectEveryFileStored();
}

TEST_F(RunnerFailures, TaskFailedOnTheOnlyStreamEndsThePhaseForLackOfProgress) {
  TqRunner::JobSpec spec = NodeA(1);
  world().failAlways = {File(1, 1)};
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.endReason, "no progress");
  EXPECT_NE(phase.message.find("task 2 failed (status 6, node nodeA)"), std::string::npos)
      << phase.message;
  EXPECT_NE(phase.message.find("node nodeA still running"), std::string::npos) << phase.message;
  EXPECT_EQ(phase.status, PHASE_COMPLETE_WITH_WARNINGS);
  EXPECT_EQ(Task(phase, 1)->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(Task(phase, 2)->status, DistributedQEL::TASK_FAILED);
  EXPECT_EQ(Task(phase, 2)->attempts, 1);
  // The runner stopped the node itself: its done report and its stop ran.
  EXPECT_EQ(phase.nodes.at(0).state, DistributedQEL::NODE_STOPPED);
  EXPECT_EQ(Count(world().NodeCalls(), "nodeA: OnAgentStopped"), 1);
  EXPECT_EQ(Count(world().CoordinatorCalls(), "NodeStop nodeA"), 0);
}

struct ActionCase {
  const char* name;
  int streams;
  int action;
  int finalStatus;
  int attempts;
};

class RunnerTakeAction : public RunnerFailures, public ::testing::WithParamInterface<ActionCase> {};

TEST_P(RunnerTakeAction, RunnerFollowsTheActionOfOnTaskChange) {
  const ActionCase& c = GetParam();
  TqRunner::JobSpec spec = NodeA(c.streams);
  world().failOnce = {File(0, 0)};
  world().actionFor[1] = c.action;
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(Task(phase, 1)->status, c.finalStatus);
  EXPECT_EQ(Task(phase, 1)->attempts, c.attempts);
  EXPECT_EQ(phase.endReason,
            c.finalStatus == DistributedQEL::TASK_COMPLETE ? "complete" : "no progress");
}

INSTANTIATE_TEST_SUITE_P(
    Actions, RunnerTakeAction,
    ::testing::Values(
        // The coordinator leaves the task failed (one stream); the action
        // hands it out again, to a worker added for it.
        ActionCase{"ReassignAFailedTask", 1, TqRunner::kTaskActionReassign,
                   DistributedQEL::TASK_COMPLETE, 2},
        // The coordinator reassigns it (two streams); the action fails it.
        ActionCase{"FailAReassignedTask", 2, TqRunner::kTaskActionFail, DistributedQEL::TASK_FAILED,
                   1},
        // No action: the coordinator's reassignment stands.
        ActionCase{"NoAction", 2, TqRunner::kTaskActionNone, DistributedQEL::TASK_COMPLETE, 2}),
    [](const ::testing::TestParamInfo<ActionCase>& info) { return info.param.name; });

TEST_F(RunnerFailures, AddedWorkersTakeATaskEveryStreamFailedUpToTheLimit) {
  TqRunner::JobSpec spec = NodeA(1);
  spec.limits.maxAddedWorkersPerNode = 2;
  world().reassignAlways = true;
  world().failAlways = {File(0, 0)};
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  // Each added stream tried task 1 once; then no worker could be added.
  EXPECT_EQ(phase.nodes.at(0).streams, 3);
  EXPECT_EQ(Task(phase, 1)->attempts, 3);
  EXPECT_EQ(Task(phase, 1)->failedStreams, 3);
  EXPECT_EQ(Task(phase, 1)->status, DistributedQEL::TASK_REASSIGN);
  EXPECT_EQ(Task(phase, 2)->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(phase.endReason, "no progress");
  EXPECT_NE(phase.message.find("task 1 waiting (status 7, node nodeA)"), std::string::npos)
      << phase.message;
  EXPECT_EQ(phase.status, PHASE_COMPLETE_WITH_WARNINGS);
}

TEST_F(RunnerFailures, AddedWorkerRunsTheTaskTheOnlyStreamFailed) {
  TqRunner::JobSpec spec = NodeA(1);
  world().reassignAlways = true;
  world().failOnce = {File(0, 1)};
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.status, PHASE_COMPLETE);
  EXPECT_GE(phase.nodes.at(0).streams, 2);
  EXPECT_EQ(Task(phase, 1)->attempts, 2);
  EXPECT_EQ(PayloadsOf(1), (std::vector<std::string>{"1|-1", "1|" + std::to_string(Offset(0, 1))}));
  ExpectEveryFileStored();
}

TEST_F(RunnerFailures, QuitFlagRaisedDuringThePhaseEndsItFailed) {
  TqRunner::JobSpec spec = NodeA(1);
  spec.jobCtrlClient.reset(new TQJobCtrlClient(spec.jobId));
  world().quitClient = spec.jobCtrlClient;
  world().quitAt = File(0, 1);
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.phases.size(), 2u);
  const PhaseResult& phase = result.phases[1];
  EXPECT_EQ(phase.endReason, "quit");
  EXPECT_EQ(phase.message, "The job was asked to stop");
  EXPECT_EQ(phase.status, PHASE_FAILED);
  EXPECT_EQ(result.status, PHASE_FAILED);
  // The failed task is not reassigned and task 2 is never handed out.
  EXPECT_EQ(Task(phase, 1)->status, DistributedQEL::TASK_FAILED);
  EXPECT_EQ(Task(phase, 1)->attempts, 1);
  EXPECT_EQ(Task(phase, 2)->attempts, 0);
  // The worker stopped at the failure: the file after it was not stored.
  EXPECT_EQ(world().StoredCount(File(0, 2)), 0);
  // The node was still stopped and the coordinator completed, with the job's
  // pending cause.
  EXPECT_EQ(Count(world().NodeCalls(), "nodeA: OnAgentStopped"), 1);
  EXPECT_EQ(world().CoordinatorCalls().back(), "OnComplete");
  ASSERT_EQ(result.pendingCauses.size(), 1u);
  EXPECT_EQ(result.pendingCauses[0].id, 0x6000469u);
}

// The flag raised while the runner makes its round (here from the
// coordinator's OnIdle, in the round after the only stream failed the last
// task) ends the phase as one that was asked to stop, also when that round
// is the quiet one that would end it for lack of progress.
TEST_F(RunnerFailures, QuitFlagRaisedInTheLastQuietRoundWinsOverLackOfProgress) {
  for (int run = 0; run < 5; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    world().Reset();
    TqRunner::JobSpec spec = NodeA(1);
    spec.limits.stallRounds = 1;
    world().failAlways = {File(1, 1)};
    spec.jobCtrlClient.reset(new TQJobCtrlClient(spec.jobId));
    world().quitClient = spec.jobCtrlClient;
    world().quitOnIdleAfterFailure = 2;
    JobResult result = CJobRunner(spec).Run();
    ASSERT_EQ(Count(world().CoordinatorCalls(), "quit"), 1);
    const PhaseResult& phase = *Phase(result, "backup");
    EXPECT_EQ(phase.endReason, "quit");
    EXPECT_EQ(phase.message, "The job was asked to stop");
    EXPECT_EQ(phase.status, PHASE_FAILED);
    EXPECT_EQ(Task(phase, 2)->status, DistributedQEL::TASK_FAILED);
  }
}

TEST_F(RunnerFailures, PhaseThatStartsWithTheQuitFlagRaisedIsNotCutShort) {
  TqRunner::JobSpec spec = NodeA(1);
  spec.jobCtrlClient.reset(new TQJobCtrlClient(spec.jobId));
  spec.jobCtrlClient->setQuitFlag(true);
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  // Every task ran and the nodes stopped as usual; the coordinator, which
  // reads the flag itself, failed the phase.
  EXPECT_EQ(phase.endReason, "complete");
  for (const auto& task : phase.tasks) EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(phase.status, PHASE_FAILED);
  ExpectEveryFileStored();
}

TEST_F(RunnerFailures, ControllerThatNeverReportsItsFilesEndsThePhaseForLackOfProgress) {
  TqRunner::JobSpec spec = Spec();
  world().silentNodes = {"nodeB"};
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.endReason, "no progress");
  EXPECT_EQ(phase.message, "No progress: node nodeB still running");
  // The coordinator counted every task complete; a node left hanging still
  // makes the phase one with warnings.
  EXPECT_EQ(phase.status, PHASE_COMPLETE_WITH_WARNINGS);
  EXPECT_EQ(phase.tasks.size(), 2u);
  EXPECT_EQ(Count(world().CoordinatorCalls(), "NodeStop nodeA"), 1);
  EXPECT_EQ(Count(world().CoordinatorCalls(), "NodeStop nodeB"), 0);
  EXPECT_EQ(Count(world().NodeCalls(), "nodeB: OnAgentStopped"), 1);
  for (const auto& node : phase.nodes) EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED);
}

TEST_F(RunnerFailures, WorkerThatNeverReturnsEndsThePhaseAtItsTimeLimit) {
  TqRunner::JobSpec spec = NodeA(1);
  spec.limits.phaseTimeout = std::chrono::milliseconds(300);
  spec.limits.stopGrace = std::chrono::milliseconds(200);
  spec.jobCtrlClient.reset(new TQJobCtrlClient(spec.jobId));
  world().blockAt = File(0, 0);
  JobResult result = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.endReason, "timeout");
  EXPECT_EQ(phase.status, PHASE_FAILED);
  EXPECT_NE(phase.message.find("did not end within its time limit"), std::string::npos);
  EXPECT_NE(phase.message.find("did not return"), std::string::npos) << phase.message;
  EXPECT_TRUE(spec.jobCtrlClient->checkQuitFlag());
  // Let the worker go; the phase's objects go when its last thread ends.
  ASSERT_TRUE(world().WaitBlocked(1000));
  world().Release();
  EXPECT_TRUE(world().WaitCoordinatorsDestroyed(1, 20000));
}

TEST_F(RunnerFailures, RerunWithRestartEntriesSkipsCompleteTasksAndResumesTheOthers) {
  TqRunner::JobSpec spec = NodeA(1);
  world().failAlways = {File(1, 1)};
  JobResult first = CJobRunner(spec).Run();
  ASSERT_EQ(Phase(first, "backup")->endReason, "no progress");
  EXPECT_EQ(first.restartString, "-o 1|-1 -o 2|" + std::to_string(Offset(1, 1)));
  EXPECT_EQ(first.attempt, 1);

  world().failAlways.clear();
  spec.restartString = first.restartString;
  JobResult second = CJobRunner(spec).Run();
  const PhaseResult& phase = *Phase(second, "backup");
  EXPECT_EQ(phase.status, PHASE_COMPLETE);
  EXPECT_EQ(second.attempt, 2);
  std::vector<std::string> calls = world().CoordinatorCalls();
  EXPECT_EQ(Count(calls, "restart " + first.restartString), 1);
  // Task 1 was complete and is not handed out again; task 2 resumes at the
  // entry that failed.
  EXPECT_EQ(PayloadsOf(1), std::vector<std::string>{"1|-1"});
  EXPECT_EQ(PayloadsOf(2), (std::vector<std::string>{"2|-1", "2|" + std::to_string(Offset(1, 1))}));
  EXPECT_EQ(Task(phase, 1)->attempts, 0);
  EXPECT_EQ(world().StoredCount(File(1, 0)), 1);
  EXPECT_EQ(world().StoredCount(File(1, 1)), 1);
  EXPECT_EQ(world().StoredCount(File(1, 2)), 2);
  EXPECT_EQ(second.restartString, "-o 1|-1 -o 2|-1");
  ExpectEveryFileStored();
}

}  // namespace
