// A job of several nodes run again under its own job id after its first run
// was stopped while one node was down: every node restored from the mapping
// file keeps its task numbers and only its own restart entries, the node new
// to the rerun gets numbers no recorded line holds, and the store ends with
// every file of every node's snapshot. The rerun runs in this process, or in
// a fresh one, whose collect-file numbers start again from 1.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>

#include "E2eFixture.h"
#include "JobChecks.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace {

using e2e::E2eTest;

constexpr const char* kHomeVariable = "TQ_E2E_RERUN_HOME";
constexpr const char* kJobVariable = "TQ_E2E_RERUN_JOB";
constexpr const char* kRestartVariable = "TQ_E2E_RERUN_RESTART";
constexpr int kStreams = 3;

// The rerun: same job id, the first run's restart entries. It runs without
// the post-operations phase, which would delete the mapping file the test
// reads afterwards.
CQiError Rerun(TqHarness::CJobHarness& harness, int64_t jobId, const std::string& restart,
               TqRunner::JobResult& result) {
  TqHarness::BackupRequest request;
  request.numberOfStreams = kStreams;
  TqRunner::JobSpec again = harness.MakeSpec(request);
  again.jobId = jobId;
  again.phases = {"scan", "backup"};
  again.restartString = restart;
  return harness.Run(again, result);
}

struct RerunCase {
  const char* name;
  int nodes;
  bool freshProcess;
};

class RerunNodesTest : public E2eTest, public ::testing::WithParamInterface<RerunCase> {
 protected:
  // Runs the rerun in a process of its own over this test's home.
  void RerunInFreshProcess(int64_t jobId, const std::string& restart) {
    harness_.reset();
    ::setenv(kHomeVariable, dir_.Sub("home").c_str(), 1);
    ::setenv(kJobVariable, std::to_string(jobId).c_str(), 1);
    ::setenv(kRestartVariable, restart.c_str(), 1);
    std::string text;
    const bool passed = simtest::RunOwnTestInFreshProcess("RerunNodes.DISABLED_RerunInFreshProcess",
                                                          dir_.Sub("rerun.txt"), text);
    ::unsetenv(kHomeVariable);
    ::unsetenv(kJobVariable);
    ::unsetenv(kRestartVariable);
    EXPECT_TRUE(passed) << text;
    harness_.reset(new TqHarness::CJobHarness(dir_.Sub("home"), e2e::Paths()));
    ASSERT_FALSE(harness_->Open().IsError());
  }
};

TEST_P(RerunNodesTest, ANodeDownInTheFirstRunJoinsTheRerunWithoutTakingRecordedNumbers) {
  const RerunCase& c = GetParam();
  MakeCluster(e2e::SmallCluster(c.nodes));
  const std::string lastNode = "node" + std::to_string(c.nodes);
  ASSERT_FALSE(
      harness_
          ->EditCluster([](TqSim::SimCluster& cluster) { cluster.nodes.back().status = "Down"; })
          .IsError());

  // First run: the last node is down; the job is stopped once two tasks are
  // complete, so every node up has open tasks left.
  TqHarness::BackupRequest request;
  request.numberOfStreams = kStreams;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t jobId = spec.jobId;
  spec.phases = {"scan", "backup"};
  spec.jobCtrlClient.reset(new TQJobCtrlClient(jobId));
  TQJobCtrlClientPtr control = spec.jobCtrlClient;
  // Stopped only once every node up has tasks (and with them its mapping-file
  // line): on a busy machine one node may finish two tasks before another
  // node's tasks exist.
  auto nodesWithTasks = std::make_shared<std::set<std::string>>();
  auto seenMutex = std::make_shared<std::mutex>();
  const size_t nodesUp = static_cast<size_t>(c.nodes - 1);
  spec.observer = [control, nodesWithTasks, seenMutex,
                   nodesUp](const TqRunner::RunnerEvent& event) {
    if (event.kind != TqRunner::RunnerEvent::kTask) return;
    std::lock_guard<std::mutex> lock(*seenMutex);
    if (!event.clientName.empty()) nodesWithTasks->insert(event.clientName);
    if (event.tasksComplete >= 2 && nodesWithTasks->size() >= nodesUp) {
      control->setQuitFlag(true);
    }
  };
  TqRunner::JobResult first;
  ASSERT_FALSE(harness_->Run(spec, first).IsError());
  ASSERT_FALSE(first.restartString.empty());
  const e2e::Mapping recorded = e2e::ParseMapping(simtest::ReadFile(MappingFile(jobId)));
  ASSERT_EQ(recorded.size(), static_cast<size_t>(c.nodes - 1));
  std::set<int> recordedNumbers;
  for (const auto& line : recorded) {
    for (const auto& entry : line.second) recordedNumbers.insert(entry.first);
  }

  // The rerun with every node up.
  ASSERT_FALSE(
      harness_->EditCluster([](TqSim::SimCluster& cluster) { cluster.nodes.back().status = "Up"; })
          .IsError());
  TqRunner::JobResult second;
  if (c.freshProcess) {
    RerunInFreshProcess(jobId, first.restartString);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_FALSE(harness_->ReadJob(jobId, second).IsError());
  } else {
    ASSERT_FALSE(Rerun(*harness_, jobId, first.restartString, second).IsError());
  }
  EXPECT_EQ(second.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(second.status);
  const TqRunner::PhaseResult* backup = Phase(second, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->endReason, "complete") << backup->message;

  // The restored lines keep their numbers, every task now complete; the new
  // node's line holds none of the recorded numbers; no number is twice.
  const e2e::Mapping after = e2e::ParseMapping(simtest::ReadFile(MappingFile(jobId)));
  ASSERT_EQ(after.size(), static_cast<size_t>(c.nodes));
  std::set<int> seen;
  for (const auto& line : after) {
    auto before = recorded.find(line.first);
    std::vector<int> numbers;
    for (const auto& entry : line.second) {
      numbers.push_back(entry.first);
      EXPECT_TRUE(seen.insert(entry.first).second) << "task " << entry.first << " twice";
      EXPECT_EQ(entry.second, -1) << "task " << entry.first << " of client " << line.first;
    }
    if (before != recorded.end()) {
      std::vector<int> was;
      for (const auto& entry : before->second) was.push_back(entry.first);
      EXPECT_EQ(numbers, was) << "client " << line.first;
    } else {
      for (int number : numbers) EXPECT_EQ(recordedNumbers.count(number), 0u) << number;
    }
  }
  std::set<int> taskIds;
  for (const auto& task : backup->tasks) {
    EXPECT_TRUE(taskIds.insert(task.taskId).second) << "task " << task.taskId << " twice";
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
  }

  // Every file of every node's snapshot is stored whole.
  std::vector<std::string> snapshot =
      TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId);
  std::map<std::string, SStoredItem> stored = StoredFiles(jobId);
  std::vector<std::string> storedPaths;
  for (const auto& file : stored) storedPaths.push_back(file.first);
  EXPECT_EQ(storedPaths, snapshot);
  bool lastNodeStored = false;
  for (const std::string& path : snapshot) {
    lastNodeStored |= path.find("/" + lastNode + "/") != std::string::npos;
  }
  EXPECT_TRUE(lastNodeStored);
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(jobId, report).IsError());
  EXPECT_TRUE(report.Ok()) << report.problems.front().path << " " << report.problems.front().text;
}

INSTANTIATE_TEST_SUITE_P(Reruns, RerunNodesTest,
                         ::testing::Values(RerunCase{"TwoNodes", 2, false},
                                           RerunCase{"ThreeNodes", 3, false},
                                           RerunCase{"ThreeNodesInAFreshProcess", 3, true}),
                         [](const ::testing::TestParamInfo<RerunCase>& info) {
                           return info.param.name;
                         });

// The rerun half of the fresh-process case, over the home the parent names.
TEST(RerunNodes, DISABLED_RerunInFreshProcess) {
  const char* home = std::getenv(kHomeVariable);
  const char* job = std::getenv(kJobVariable);
  const char* restart = std::getenv(kRestartVariable);
  ASSERT_TRUE(home && job && restart);
  TqHarness::CJobHarness harness(home, e2e::Paths());
  ASSERT_FALSE(harness.Open().IsError());
  TqRunner::JobResult result;
  CQiError error = Rerun(harness, std::stoll(job), restart, result);
  ASSERT_FALSE(error.IsError()) << error.AsString(2);
}

}  // namespace
