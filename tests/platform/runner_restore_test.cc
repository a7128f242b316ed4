// The job runner drives a restore phase as the framework does: the restore
// coordinator's calls in their order, one task per restore record handed to
// the nodes' restore workers, NodeStop only after a controller has started,
// what OnAgentStopped sends before the done report, and the phase status of
// the restore coordinator base (with warnings when an SSTable was left out).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RunnerRestoreFakes.h"
#include "RunnerTestSupport.h"
#include "StoreTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/datamover/RestoreGenerations.h"
#include "platform/index/StoreDataStream.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/TQJobCtrlClient.h"

using TqRunner::CJobRunner;
using TqRunner::JobResult;

namespace {

using runner_test::IndexOf;
using runner_test::Mentioning;

class RunnerRestore : public RunnerTest {
 protected:
  void SetUp() override {
    RunnerTest::SetUp();
    runner_test::RestoreWorld::Get().Reset();
    world().nodes = {"nodeA", "nodeB"};
    restore().nodes = {"nodeA", "nodeB"};
    restore().staging = home_.Sub("staging");
    restore().sourcePaths = {"/c1"};
    // Two archive files per node, two files each.
    for (const std::string node : {"nodeA", "nodeB"}) {
      for (int stream = 1; stream <= 2; ++stream) {
        SStreamJob job;
        job.jobId = 90;
        job.clientName = node;
        job.kind = "backup";
        job.streamNumber = stream;
        CStoreDataStream data(job);
        for (int file = 1; file <= 2; ++file) {
          const std::string name = "nb-" + std::to_string(stream * 10 + file) + "-big-Data.db";
          ASSERT_FALSE(StoreTest::Store(data, "/c1/dc1/" + node + "/ks/t/" + name, node + name,
                                        "/src/" + node + "/" + name)
                           .IsError());
        }
        restore().records.push_back({node, data.GetArchiveFileId()});
      }
    }
  }

  runner_test::RestoreWorld& restore() { return runner_test::RestoreWorld::Get(); }

  TqRunner::JobSpec RestoreSpec() {
    TqRunner::JobSpec spec = Spec();
    spec.jobType = "restore";
    spec.phases = {"restore"};
    spec.jobId = 4712;
    spec.coordinatorFactory = &runner_test::CreateRestoreCoordinator;
    spec.controllerFactory = &runner_test::CreateRestoreController;
    return spec;
  }

  std::string Staged(const std::string& node, const std::string& name) {
    // <node's staging folder>/<node>/<keyspace>/<table>
    std::ifstream in(restore().staging + "/" + node + "/" + node + "/ks/t/" + name,
                     std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return content;
  }
};

TEST_F(RunnerRestore, CoordinatorIsStartedInTheFrameworkOrderAndEveryRecordIsRestored) {
  restore().nodesLate = true;
  JobResult result = CJobRunner(RestoreSpec()).Run();
  ASSERT_EQ(result.error, "");
  std::vector<std::string> calls = restore().CoordinatorCalls();
  const std::string line =
      "-ombrel 2 -appid 57 -j 4712 -numstreams 4 -d MA1 -jr " + JobResults("cs", 4712);
  std::vector<std::string> start = {"getClientConfigObject",  "parseArguments " + line,
                                    "loadNodeConfiguration",  "initialize",
                                    "loadNodeConfiguration",  "PrepareRestoreParameters",
                                    "CalculateStreams 2",     "CreateTaskCreatePolicy",
                                    "CreateTaskAssignPolicy", "arguments nodeA",
                                    "arguments nodeB"};
  ASSERT_GE(calls.size(), start.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + start.size()), start);

  const TqRunner::PhaseResult& phase = result.phases.at(0);
  EXPECT_EQ(phase.endReason, "complete") << phase.message;
  EXPECT_EQ(phase.status, PHASE_COMPLETE);
  ASSERT_EQ(phase.tasks.size(), 4u);
  for (const auto& task : phase.tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE);
    EXPECT_EQ(task.reservedNode, task.taskId <= 2 ? "nodeA" : "nodeB");
    EXPECT_EQ(task.runningNode, task.reservedNode);
  }
  for (const std::string node : {"nodeA", "nodeB"}) {
    for (const std::string name :
         {"nb-11-big-Data.db", "nb-12-big-Data.db", "nb-21-big-Data.db", "nb-22-big-Data.db"}) {
      EXPECT_EQ(Staged(node, name), node + name) << node << " " << name;
    }
    std::vector<std::string> mine = Mentioning(restore().NodeCalls(), node + ": ");
    EXPECT_EQ(IndexOf(mine, node + ": processNodeInit") + 1,
              IndexOf(mine, node + ": OnControllerStarted"));
    EXPECT_EQ(Mentioning(mine, "OnTask").size(), 2u);
    EXPECT_GE(Mentioning(mine, "GetRestoreWorker").size(), 1u);
    EXPECT_EQ(mine.back(), node + ": OnAgentStopped");
  }
  // Truncation once every task had ended, then the stop; the counters add up.
  EXPECT_LT(IndexOf(calls, "truncate"), IndexOf(calls, "NodeStop nodeA"));
  EXPECT_EQ(Mentioning(calls, "restored 8 of").size(), 1u);
  // Each node had its share of the 4 streams, which it hands on when it stops.
  std::vector<std::string> stopped = Mentioning(calls, "stopped ");
  std::sort(stopped.begin(), stopped.end());
  EXPECT_EQ(stopped,
            (std::vector<std::string>{"stopped nodeA workers 2", "stopped nodeB workers 2"}));
  EXPECT_EQ(calls[calls.size() - 2], "OnComplete");
}

TEST_F(RunnerRestore, WhatOnAgentStoppedSendsReachesTheCoordinatorBeforeTheDoneReport) {
  restore().reloadFailed = {"nodeB"};
  restore().jobStatus = 3;
  JobResult result = CJobRunner(RestoreSpec()).Run();
  ASSERT_EQ(result.error, "");
  std::vector<std::string> calls = restore().CoordinatorCalls();
  const size_t status = IndexOf(calls, "processMessage AgentStoppedStatus 1");
  ASSERT_LT(status, calls.size());
  EXPECT_LT(status, IndexOf(calls, "ControllerDone nodeB 0"));
  // Job status 3 with its flag: complete with warnings.
  EXPECT_EQ(result.phases.at(0).status, PHASE_COMPLETE_WITH_WARNINGS);
}

TEST_F(RunnerRestore, OnTaskAndOnAgentStoppedRunOnTheControllerThreadWhicheverStreamTookTheTask) {
  restore().taskMillis = 100;  // both streams of a node hold a task at once
  JobResult result = CJobRunner(RestoreSpec()).Run();
  ASSERT_EQ(result.error, "");
  const TqRunner::PhaseResult& phase = result.phases.at(0);
  ASSERT_EQ(phase.status, PHASE_COMPLETE) << phase.message;
  const std::vector<runner_test::RestoreWorld::ThreadSeen> seen = restore().ThreadsSeen();
  for (const std::string node : {"nodeA", "nodeB"}) {
    std::set<int> streams;
    for (const auto& task : phase.tasks) {
      if (task.reservedNode == node) streams.insert(task.streamId);
    }
    ASSERT_EQ(streams.size(), 2u) << node << ": its two tasks went to one stream";
    // The controller's thread is the one processNodeInit ran on.
    auto first = std::find_if(seen.begin(), seen.end(), [&](const auto& s) {
      return s.node == node && s.call == "processNodeInit";
    });
    ASSERT_NE(first, seen.end()) << node;
    const std::thread::id controller = first->thread;
    std::map<std::string, int> calls;
    std::set<std::thread::id> workerThreads;
    for (const auto& s : seen) {
      if (s.node != node) continue;
      ++calls[s.call];
      if (s.call == "GetRestoreWorker") {
        // Each stream asks for its worker on its own thread.
        EXPECT_NE(s.thread, controller) << node;
        workerThreads.insert(s.thread);
      } else {
        EXPECT_EQ(s.thread, controller) << node << ": " << s.call;
      }
    }
    EXPECT_EQ(calls["OnTask"], 2) << node;
    EXPECT_EQ(calls["OnAgentStopped"], 1) << node;
    EXPECT_EQ(workerThreads.size(), 2u) << node;
    // Each task reached OnTask before any worker restored it, and the agent
    // stopped after the last task.
    std::vector<std::string> mine = Mentioning(restore().NodeCalls(), node + ": ");
    const std::vector<std::string> tasks = Mentioning(mine, "OnTask");
    ASSERT_EQ(tasks.size(), 2u) << node;
    EXPECT_LT(IndexOf(mine, tasks.front()), IndexOf(mine, node + ": GetRestoreWorker")) << node;
    EXPECT_EQ(mine.back(), node + ": OnAgentStopped");
  }
}

TEST_F(RunnerRestore, StageFreeRestoreTruncatesBeforeAnyNodeLoadsAndStopsNodesOnlyAfterTheirStart) {
  restore().stageFree = true;
  restore().startMillis = 100;
  JobResult result = CJobRunner(RestoreSpec()).Run();
  ASSERT_EQ(result.error, "");
  const TqRunner::PhaseResult& phase = result.phases.at(0);
  EXPECT_TRUE(phase.tasks.empty());
  EXPECT_EQ(phase.endReason, "complete") << phase.message;
  std::vector<std::string> all = restore().AllCalls();
  const size_t truncate = IndexOf(all, "truncate");
  ASSERT_LT(truncate, all.size());
  for (const std::string node : {"nodeA", "nodeB"}) {
    EXPECT_LT(truncate, IndexOf(all, node + ": OnControllerStarted")) << node;
    EXPECT_LT(IndexOf(all, node + ": OnControllerStarted returns"),
              IndexOf(all, node + ": OnAgentStopped"))
        << node;
  }
  EXPECT_EQ(Mentioning(all, "truncate").size(), 1u);
  EXPECT_TRUE(Mentioning(restore().NodeCalls(), "GetRestoreWorker").empty());
}

TEST_F(RunnerRestore, RerunLeavesTheTasksItsRestartEntriesCompleteAlone) {
  TqRunner::JobSpec spec = RestoreSpec();
  spec.restartString = "-o 1|-1 -o 3|-1";
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  std::vector<std::string> calls = restore().CoordinatorCalls();
  EXPECT_EQ(Mentioning(calls, "ProcessRestartString"),
            std::vector<std::string>{"ProcessRestartString 1|-1 3|-1"});
  const TqRunner::PhaseResult& phase = result.phases.at(0);
  ASSERT_EQ(phase.tasks.size(), 4u);
  for (const auto& task : phase.tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE);
    EXPECT_EQ(task.attempts, task.taskId % 2 == 1 ? 0 : 1) << task.taskId;
  }
  // Tasks 1 and 3 (the first archive file of each node) were not restored.
  EXPECT_EQ(Staged("nodeA", "nb-11-big-Data.db"), "");
  EXPECT_EQ(Staged("nodeA", "nb-21-big-Data.db"), "nodeAnb-21-big-Data.db");
  EXPECT_EQ(result.restartString, "-o 1|-1 -o 2|-1 -o 3|-1 -o 4|-1");
}

TEST_F(RunnerRestore, FailedTaskOfANodeWithOneStreamGoesToAStreamAddedForIt) {
  TqRunner::JobSpec spec = RestoreSpec();
  spec.numberOfStreams = 2;  // one stream per node
  std::mutex mutex;
  std::set<int> failedOn;
  spec.restoreWriteHook = [&](const std::string& client, int stream, const std::string& header,
                              uint64_t) {
    std::lock_guard<std::mutex> lock(mutex);
    if (client != "nodeB" || header.find("nb-12-") == std::string::npos || !failedOn.empty()) {
      return CQiError::Success();
    }
    failedOn.insert(stream);
    return FXErrorUtil::ErrorWin32(FXLOC, 5, "Injected failure");
  };
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  const TqRunner::PhaseResult& phase = result.phases.at(0);
  EXPECT_EQ(phase.status, PHASE_COMPLETE) << phase.message;
  ASSERT_EQ(failedOn.size(), 1u);
  const TqRunner::TaskRecord* retried = Task(phase, 3);
  ASSERT_NE(retried, nullptr);
  EXPECT_EQ(retried->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(retried->attempts, 2);
  EXPECT_NE(retried->streamId, *failedOn.begin());
  for (const auto& node : phase.nodes) {
    EXPECT_EQ(node.streams, node.clientName == "nodeB" ? 2 : 1) << node.clientName;
  }
  EXPECT_EQ(Staged("nodeB", "nb-12-big-Data.db"), "nodeBnb-12-big-Data.db");
}

TEST_F(RunnerRestore, FailedTaskStaysFailedWhenTheJobIsAskedToStop) {
  TqRunner::JobSpec spec = RestoreSpec();
  TQJobCtrlClientPtr quit(new TQJobCtrlClient(spec.jobId));
  spec.jobCtrlClient = quit;
  spec.restoreWriteHook = [quit](const std::string&, int, const std::string&, uint64_t) {
    quit->setQuitFlag(true);
    return FXErrorUtil::ErrorWin32(FXLOC, 5, "Injected failure");
  };
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  const TqRunner::PhaseResult& phase = result.phases.at(0);
  EXPECT_EQ(phase.endReason, "quit");
  EXPECT_EQ(phase.status, PHASE_FAILED);
  for (const auto& task : phase.tasks) EXPECT_LE(task.attempts, 1) << task.taskId;
  for (const auto& node : phase.nodes) {
    EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED) << node.clientName;
  }
}

TEST_F(RunnerRestore, LogRestorePhaseFollowsInTheSameJobWithTasksNumberedOn) {
  TqRunner::JobSpec spec = RestoreSpec();
  spec.phases = {"restore", "CassandraLogRestore"};
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  ASSERT_EQ(result.phases.size(), 2u);
  std::vector<int> ids;
  for (const auto& phase : result.phases) {
    EXPECT_EQ(phase.status, PHASE_COMPLETE) << phase.name << ": " << phase.message;
    for (const auto& task : phase.tasks) ids.push_back(task.taskId);
  }
  EXPECT_EQ(ids, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(result.restartString,
            "-o 1|-1 -o 2|-1 -o 3|-1 -o 4|-1 -o 5|-1 -o 6|-1 -o 7|-1 -o 8|-1");
  // Both phases leave their result files (and the journals of what they
  // placed) in the node's one results folder; what the first placed, the
  // second does not place again.
  std::error_code ec;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(
           JobResults("nodeA", 4712) + "/TQ_JobResults/2/0/4712", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("placed.", 0) == 0) continue;
    EXPECT_EQ(name.rfind("restore.", 0), 0u) << name;
    ++files;
  }
  EXPECT_GE(files, 2);
  EXPECT_EQ(Staged("nodeA", "nb-11-big-Data.db"), "nodeAnb-11-big-Data.db");
  std::error_code none;
  EXPECT_EQ(std::distance(
                std::filesystem::directory_iterator(restore().staging + "/nodeA/nodeA/ks/t", none),
                std::filesystem::directory_iterator()),
            4);
}

}  // namespace

namespace {

// A rerun that restores only one of the two archive files an SSTable was
// split over: its component waits for the other, which never comes; at the
// end of the node's streams the SSTable is left out, and the phase that
// would read Completed reads Completed with warnings, with the event.
TEST_F(RunnerRestore, AnSSTableNeverWholeByTheEndIsLeftOutAndThePhaseWarns) {
  for (const std::string component : {"Data.db", "Index.db"}) {
    SStreamJob job;
    job.jobId = 90;
    job.clientName = "nodeA";
    job.kind = "backup";
    job.streamNumber = component == "Data.db" ? 3 : 4;
    CStoreDataStream data(job);
    const std::string name = "nb-40-big-" + component;
    ASSERT_FALSE(
        StoreTest::Store(data, "/c1/dc1/nodeA/ks/t/" + name, "nodeA" + name, "/src/nodeA/" + name)
            .IsError());
    restore().records.push_back({"nodeA", data.GetArchiveFileId()});
  }
  TqRunner::JobSpec spec = RestoreSpec();
  spec.restartString = "-o 5|-1";  // the Data.db's task ended in an earlier run
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.error, "");
  const TqRunner::PhaseResult& phase = result.phases.at(0);
  EXPECT_EQ(phase.status, PHASE_COMPLETE_WITH_WARNINGS) << phase.message;
  for (const auto& task : phase.tasks) EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(Staged("nodeA", "nb-40-big-Index.db"), "");
  EXPECT_EQ(Staged("nodeA", "nb-11-big-Data.db"), "nodeAnb-11-big-Data.db");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(restore().staging)) {
    EXPECT_EQ(entry.path().filename().string().find(".tqrestore-"), std::string::npos)
        << entry.path();
  }
  std::vector<std::vector<std::string>> leftOut;
  for (const auto& event : result.events) {
    if (event.id == TqDataMover::CRestoreGenerations::kEvSSTableLeftOut) {
      leftOut.push_back(event.args);
    }
  }
  EXPECT_EQ(
      leftOut,
      (std::vector<std::vector<std::string>>{{restore().staging + "/nodeA/nodeA/ks/t", "nb-40-big",
                                              "no copy of nb-40-big-Data.db arrived"}}));
}

}  // namespace
