// Whole backup jobs that meet failures: a node that is down, a Priam that
// does not start, a worker that fails in the middle of a file, and a job
// asked to stop while it runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "E2eFixture.h"
#include "FaultyStreams.h"
#include "JobChecks.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace {

using e2e::AfterBackup;
using e2e::E2eTest;
namespace fs = std::filesystem;

constexpr uint32_t kEvKeyspaceBackupFailed = 0x60003D1;
constexpr uint32_t kEvControllerDetailsMissing = 0x60003D2;
constexpr uint32_t kEvPriamRequestFailed = 0x60003D3;
constexpr uint32_t kEvPriamStartFailed = 0x60003D4;
constexpr uint32_t kEvNodeSkipped = 0x60003DB;
constexpr uint32_t kEvJobFailed = 0x6000469;

class FailureTest : public E2eTest {
 protected:
  std::string CollectFileOf(int64_t jobId, const std::string& client, int task) const {
    return harness_->JobResultsOf(client, jobId) + "/CollectTot" + std::to_string(task) + ".tqf";
  }

  uint64_t ClientIdOf(const std::string& node) const {
    for (const auto& n : harness_->State().nodes) {
      if (n.name == node) return n.clientId;
    }
    ADD_FAILURE() << "no node " << node;
    return 0;
  }

  // The node whose data directories hold `path`.
  std::string NodeOf(const std::string& path) const {
    for (const auto& node : harness_->State().nodes) {
      for (const auto& dir : node.dataDirs) {
        if (path.rfind(dir + "/", 0) == 0) return node.name;
      }
    }
    return "";
  }

  // The index views of a job of the one-node cluster: the node, with the
  // time of this job's snapshot, then its keyspaces and tables.
  void ExpectViewsOfTheNode(const TqRunner::JobResult& job) {
    EXPECT_EQ(e2e::Views(harness_->SuiteHome(), job.jobId),
              (std::vector<std::string>{"NodeMetaData /node1", "DBView /ks1", "DBView /ks1/t1",
                                        "DBView /ks1/t2", "DBView /ks2", "DBView /ks2/t1",
                                        "DBView /ks2/t2"}));
    const int64_t time = e2e::NodeBackupTime(harness_->SuiteHome(), job.jobId, "node1");
    EXPECT_GE(time, job.startTime);
    EXPECT_LE(time, job.endTime);
  }

  // The files listed in the collect files of `tasks` of node1, by path with
  // their content.
  std::map<std::string, std::string> FilesOfTasks(int64_t jobId, const std::set<int>& tasks) const {
    std::map<std::string, std::string> files;
    for (int task : tasks) {
      for (const auto& line : e2e::ReadCollectFile(CollectFileOf(jobId, "node1", task))) {
        std::string content;
        if (ContentOf(line.path, content)) files[line.path] = content;
      }
    }
    return files;
  }

  // Keeps the job's snapshot files as they were when its post-operations
  // phase, which clears them, started.
  void KeepSnapshotAtPostop(TqRunner::JobSpec& spec) {
    auto inner = spec.observer;
    const int64_t jobId = spec.jobId;
    spec.observer = [this, inner, jobId](const TqRunner::RunnerEvent& event) {
      if (inner) inner(event);
      if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "postop" &&
          event.text == "start") {
        for (const auto& path : TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId)) {
          snapshotAtPostop_[path] = simtest::ReadFile(path);
        }
      }
    };
  }

  // A regular file's content: as kept by KeepSnapshotAtPostop, else from
  // the disk.
  bool ContentOf(const std::string& path, std::string& content) const {
    auto it = snapshotAtPostop_.find(path);
    if (it != snapshotAtPostop_.end()) {
      content = it->second;
      return true;
    }
    if (!fs::is_regular_file(path)) return false;
    content = simtest::ReadFile(path);
    return true;
  }

  std::map<std::string, std::string> snapshotAtPostop_;

  // The node's one mapping line marks exactly the `complete` tasks done.
  static void ExpectMappingMarksComplete(const std::string& mappingText,
                                         const std::set<int>& complete) {
    e2e::Mapping mapping = e2e::ParseMapping(mappingText);
    ASSERT_EQ(mapping.size(), 1u);
    for (const auto& entry : mapping.begin()->second) {
      EXPECT_EQ(entry.second, complete.count(entry.first) ? -1 : 0) << entry.first;
    }
  }

  // The store holds exactly `expected` (path -> content) for the job.
  void ExpectStoreHoldsExactly(int64_t jobId, const std::map<std::string, std::string>& expected) {
    std::map<std::string, SStoredItem> stored = StoredFiles(jobId);
    std::set<std::string> storedPaths, expectedPaths;
    for (const auto& s : stored) storedPaths.insert(s.first);
    for (const auto& e : expected) expectedPaths.insert(e.first);
    EXPECT_EQ(storedPaths, expectedPaths);
    for (const auto& file : expected) {
      auto it = stored.find(file.first);
      if (it == stored.end()) continue;
      EXPECT_TRUE(it->second.complete) << file.first;
      EXPECT_EQ(StoredContent(it->second), file.second) << file.first;
    }
    EXPECT_TRUE(e2e::StoreLeftovers(harness_->SuiteHome(), jobId).empty());
  }
};

// A node the ring reports down, a node Priam that exits at start or answers
// no request, and the node whose Priam the coordinator asks being down.
struct NodeFaultCase {
  const char* name;
  std::function<void(TqSim::SimCluster&)> edit;
  int status;                         // of the job
  const char* endReason;              // of the backup phase
  std::vector<std::string> nodes;     // of the backup phase
  std::vector<std::string> storing;   // nodes whose snapshot is stored
  std::map<uint32_t, size_t> events;  // every event id of the job, how often
  uint32_t keyEvent;                  // and what the first of this one says
  std::vector<std::string> keyArgs;   // (each a part of its argument)
  std::string keyClient;              // raised in this client's context
};

class NodeFaults : public FailureTest, public ::testing::WithParamInterface<NodeFaultCase> {};

TEST_P(NodeFaults, JobGoesOnWithoutTheNodeOrFailsAtStart) {
  const NodeFaultCase& c = GetParam();
  MakeCluster();
  ASSERT_FALSE(harness_->EditCluster(c.edit).IsError());
  AfterBackup after;
  TqRunner::JobResult job = Backup(TQBkpLevel_Full, &after);
  EXPECT_EQ(job.status, c.status) << TqRunner::PhaseStatusName(job.status);

  const TqRunner::PhaseResult* backup = Phase(job, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->endReason, c.endReason) << backup->message;
  std::vector<std::string> nodes;
  for (const auto& node : backup->nodes) {
    nodes.push_back(node.clientName);
    EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED) << node.clientName;
  }
  EXPECT_EQ(nodes, c.nodes);

  // Events.
  std::map<uint32_t, size_t> events;
  for (const auto& event : job.events) ++events[event.id];
  EXPECT_EQ(events, c.events);
  std::vector<CEventJournal::Entry> key = e2e::EventsWith(job, c.keyEvent);
  ASSERT_FALSE(key.empty());
  ASSERT_EQ(key[0].args.size(), c.keyArgs.size());
  for (size_t i = 0; i < c.keyArgs.size(); ++i) {
    EXPECT_NE(key[0].args[i].find(c.keyArgs[i]), std::string::npos) << key[0].args[i];
  }
  EXPECT_EQ(key[0].client, c.keyClient);
  const bool failed = c.status == PHASE_FAILED;
  ASSERT_EQ(job.pendingCauses.size(), failed ? 1u : 0u);
  if (failed) {
    EXPECT_EQ(job.pendingCauses[0].id, kEvJobFailed);
  }

  // Every task done, one mapping line per storing node with every task
  // complete, and rerun entries that say so.
  for (const auto& task : backup->tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
    EXPECT_NE(std::find(c.storing.begin(), c.storing.end(), task.reservedNode), c.storing.end())
        << task.reservedNode;
  }
  ASSERT_TRUE(after.seen);
  e2e::Mapping mapping = e2e::ParseMapping(after.mappingFile);
  std::set<uint64_t> mapped, storing;
  size_t entries = 0;
  for (const auto& line : mapping) {
    mapped.insert(line.first);
    for (const auto& entry : line.second) {
      EXPECT_EQ(entry.second, -1) << entry.first;
      ++entries;
    }
  }
  for (const auto& node : c.storing) storing.insert(ClientIdOf(node));
  EXPECT_EQ(mapped, storing) << after.mappingFile;
  EXPECT_EQ(entries, backup->tasks.size());
  if (failed) {
    EXPECT_FALSE(fs::exists(MappingFile(job.jobId)));
    EXPECT_TRUE(job.restartString.empty());
  }

  // Index views: one node entry per node of the phase, with this job's
  // backup time for a node that stored and 0 for one that did not; the
  // keyspaces and tables when any node stored.
  std::vector<std::string> views;
  for (const auto& node : c.nodes) views.push_back("NodeMetaData /" + node);
  if (!c.storing.empty()) {
    for (const char* view : {"DBView /ks1", "DBView /ks1/t1", "DBView /ks1/t2", "DBView /ks2",
                             "DBView /ks2/t1", "DBView /ks2/t2"}) {
      views.push_back(view);
    }
  }
  EXPECT_EQ(e2e::Views(harness_->SuiteHome(), job.jobId), views);
  for (const auto& node : c.nodes) {
    const int64_t time = e2e::NodeBackupTime(harness_->SuiteHome(), job.jobId, node);
    if (std::find(c.storing.begin(), c.storing.end(), node) != c.storing.end()) {
      EXPECT_GE(time, job.startTime) << node;
      EXPECT_LE(time, job.endTime) << node;
    } else {
      EXPECT_EQ(time, 0) << node;
    }
  }

  // The store holds exactly the snapshots of the storing nodes.
  std::set<std::string> snapshotNodes;
  for (const auto& file : after.snapshotFiles) snapshotNodes.insert(NodeOf(file.first));
  EXPECT_EQ(snapshotNodes, std::set<std::string>(c.storing.begin(), c.storing.end()));
  ExpectStoreHoldsExactly(job.jobId, after.snapshotFiles);
  if (!failed) {
    TqHarness::VerifyReport report;
    ASSERT_FALSE(harness_->Verify(job.jobId, report).IsError());
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].text, "the job ended Completed w/ one or more errors");
    EXPECT_EQ(report.filesChecked, static_cast<int>(after.snapshotFiles.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NodeFaults,
    ::testing::Values(
        // The ring reports node2 down: it is skipped once per keyspace that
        // the default subclient backs up in its data centre.
        NodeFaultCase{"NodeDown",
                      [](TqSim::SimCluster& c) {
                        c.nodes[1].status = "Down";
                        c.nodes[1].running = false;
                      },
                      PHASE_COMPLETE_WITH_WARNINGS,
                      "complete",
                      {"node1", "node3"},
                      {"node1", "node3"},
                      {{kEvNodeSkipped, 2}},
                      kEvNodeSkipped,
                      {"10.0.1.2", "Cassandra services are down"},
                      "cluster1"},
        // node2's Priam exits at start: the node takes part, makes no
        // collect files and is stopped.
        NodeFaultCase{"PriamDoesNotStart",
                      [](TqSim::SimCluster& c) {
                        TqSim::SimFault fault;
                        fault.when = "start";
                        fault.node = c.nodes[1].address;
                        fault.action = "exit";
                        fault.status = 3;
                        fault.text = "port in use";
                        c.faults.push_back(fault);
                      },
                      PHASE_COMPLETE_WITH_WARNINGS,
                      "complete",
                      {"node1", "node2", "node3"},
                      {"node1", "node3"},
                      {{kEvPriamStartFailed, 1}, {kEvControllerDetailsMissing, 1}},
                      kEvPriamStartFailed,
                      {"Priam exited with status 3 during start-up: priam-standin: port in use"},
                      "node2"},
        // node2's Priam starts but answers every request with an error: the
        // node makes no snapshot and no collect files and is stopped.
        NodeFaultCase{"PriamAnswersNothing",
                      [](TqSim::SimCluster& c) {
                        TqSim::SimFault fault;
                        fault.when = "request";
                        fault.node = c.nodes[1].address;
                        fault.action = "fail";
                        fault.status = 503;
                        c.faults.push_back(fault);
                      },
                      PHASE_COMPLETE_WITH_WARNINGS,
                      "complete",
                      {"node1", "node2", "node3"},
                      {"node1", "node3"},
                      {{kEvControllerDetailsMissing, 1}},
                      kEvControllerDetailsMissing,
                      {"node2"},
                      "cluster1"},
        // node1, whose Priam the coordinator starts, is down: the job fails
        // before any node is asked for anything.
        NodeFaultCase{"CoordinatorPriamNodeDown",
                      [](TqSim::SimCluster& c) {
                        c.nodes[0].status = "Down";
                        c.nodes[0].running = false;
                      },
                      PHASE_FAILED,
                      "start failed",
                      {},
                      {},
                      {{kEvPriamRequestFailed, 1}},
                      kEvPriamRequestFailed,
                      {"clusterDetails", "Cassandra is not running on 10.0.1.1"},
                      "cluster1"}),
    [](const ::testing::TestParamInfo<NodeFaultCase>& info) { return info.param.name; });

// A worker fails partway through a file in the middle of its task's collect
// file: the task goes to the node's other stream, which resumes at that
// file; the entries before it are not sent again, the file and those after
// it are, and the store ends with every file whole.
TEST_F(FailureTest, WorkerFailingMidFileHandsItsTaskOnFromTheCommittedOffset) {
  MakeCluster(e2e::SmallCluster(1));
  TqHarness::BackupRequest request;
  request.numberOfStreams = 2;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t jobId = spec.jobId;
  auto faults = std::make_shared<e2e::StreamFaults>();
  auto fault = std::make_shared<e2e::MidFileFault>(
      faults,
      [this, jobId](const std::string& client, int task) {
        return CollectFileOf(jobId, client, task);
      },
      1);
  auto payloads = std::make_shared<e2e::PayloadLog>();
  AfterBackup after;
  spec.streamFactory = e2e::FaultyStreams(harness_->StoreStreams(spec), faults);
  spec.observer = [&, fault, payloads](const TqRunner::RunnerEvent& event) {
    fault->See(event);
    payloads->See(event);
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "postop" &&
        event.text == "start") {
      after.seen = true;
      for (const auto& path : TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId)) {
        after.snapshotFiles[path] = simtest::ReadFile(path);
      }
      after.mappingFile = simtest::ReadFile(MappingFile(jobId));
    }
  };
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());
  ASSERT_GE(fault->Task(), 0) << "no task was seen running";
  const int taskId = fault->Task();
  const e2e::CollectLine target = fault->TargetLine();

  // The job completed; the one failure went to one stream, partway.
  EXPECT_EQ(job.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(job.status);
  const TqRunner::PhaseResult* backup = Phase(job, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->endReason, "complete");
  std::vector<e2e::StreamFaults::Failure> failures = faults->Failures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].sourcePath, target.path);

  // The task ran twice, the second time from the failed entry, and
  // committed up to the end of its collect file.
  const TqRunner::TaskRecord* task = nullptr;
  for (const auto& t : backup->tasks) {
    if (t.taskId == taskId) task = &t;
    EXPECT_EQ(t.status, DistributedQEL::TASK_COMPLETE) << t.taskId;
  }
  ASSERT_TRUE(task);
  EXPECT_EQ(task->attempts, 2);
  EXPECT_EQ(task->failedStreams, 1);
  EXPECT_GT(target.offset, 0);
  EXPECT_EQ(payloads->Of(taskId), (std::vector<std::string>{std::to_string(taskId) + "|-1",
                                                            std::to_string(taskId) + "|" +
                                                                std::to_string(target.offset)}));
  EXPECT_EQ(task->commitOffset,
            static_cast<int64_t>(fs::file_size(CollectFileOf(jobId, fault->Client(), taskId))));
  for (int other : payloads->Tasks()) {
    if (other != taskId) {
      EXPECT_EQ(payloads->Of(other).size(), 1u) << other;
    }
  }
  std::string restart;
  for (const auto& t : backup->tasks) {
    restart += (restart.empty() ? "" : " ") + std::string("-o ") + std::to_string(t.taskId) + "|-1";
  }
  EXPECT_EQ(job.restartString, restart);

  // Entries before the failed one were sent once, those after it by both
  // streams; the failed one once, its failed attempt leaving nothing behind.
  std::map<std::string, int> counts = e2e::RecordCounts(harness_->SuiteHome(), jobId);
  const std::vector<e2e::CollectLine>& lines = fault->Lines();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (after.snapshotFiles.count(lines[i].path) == 0) continue;
    EXPECT_EQ(counts[lines[i].path], i <= fault->Target() ? 1 : 2) << lines[i].path;
  }

  // The mapping file has every task complete.
  ASSERT_TRUE(after.seen);
  e2e::Mapping mapping = e2e::ParseMapping(after.mappingFile);
  ASSERT_EQ(mapping.size(), 1u);
  EXPECT_EQ(mapping.begin()->first, harness_->State().nodes[0].clientId);
  EXPECT_EQ(mapping.begin()->second.size(), backup->tasks.size());
  for (const auto& entry : mapping.begin()->second) EXPECT_EQ(entry.second, -1) << entry.first;

  // The failed attempt stays on the node's failures list: its keyspace is
  // reported as not backed up.
  EXPECT_EQ(e2e::EventIds(job), std::set<uint32_t>{kEvKeyspaceBackupFailed});
  std::vector<CEventJournal::Entry> reported = e2e::EventsWith(job, kEvKeyspaceBackupFailed);
  ASSERT_EQ(reported.size(), 1u);
  const std::string keyspace =
      fs::path(target.path).parent_path().parent_path().parent_path().parent_path().filename();
  EXPECT_NE(reported[0].args.at(0).find(keyspace + " on node node1"), std::string::npos)
      << reported[0].args.at(0);
  EXPECT_TRUE(job.pendingCauses.empty());

  ExpectViewsOfTheNode(job);

  // Every snapshot file stored whole, nothing else.
  ExpectStoreHoldsExactly(jobId, after.snapshotFiles);
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(jobId, report).IsError());
  EXPECT_TRUE(report.Ok()) << report.problems.front().path << " " << report.problems.front().text;
}

// The job's quit flag, raised once two tasks are complete, ends the backup
// phase as asked to stop: no task is handed out after it, the job fails with
// its pending cause, and what was stored is exactly the finished tasks.
TEST_F(FailureTest, QuitFlagRaisedWhileTheJobRunsStopsItFailed) {
  MakeCluster(e2e::SmallCluster(1));
  TqHarness::BackupRequest request;
  request.numberOfStreams = 2;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t jobId = spec.jobId;
  spec.jobCtrlClient.reset(new TQJobCtrlClient(jobId));
  TQJobCtrlClientPtr control = spec.jobCtrlClient;
  auto payloads = std::make_shared<e2e::PayloadLog>();
  std::string mappingAfterBackup;
  int handedOutAfterQuit = 0;
  spec.observer = [&, control, payloads](const TqRunner::RunnerEvent& event) {
    payloads->See(event);
    if (event.kind == TqRunner::RunnerEvent::kTask &&
        event.status == DistributedQEL::TASK_RUNNING && control->checkQuitFlag()) {
      ++handedOutAfterQuit;
    }
    if (event.kind == TqRunner::RunnerEvent::kTask && event.tasksComplete >= 2) {
      control->setQuitFlag(true);
    }
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "backup" &&
        event.text != "start") {
      mappingAfterBackup = simtest::ReadFile(MappingFile(jobId));
    }
  };
  KeepSnapshotAtPostop(spec);
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());

  EXPECT_EQ(job.status, PHASE_FAILED) << TqRunner::PhaseStatusName(job.status);
  const TqRunner::PhaseResult* backup = Phase(job, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->endReason, "quit");
  EXPECT_EQ(backup->message, "The job was asked to stop");
  EXPECT_EQ(backup->status, PHASE_FAILED);
  for (const auto& node : backup->nodes) EXPECT_EQ(node.state, DistributedQEL::NODE_STOPPED);
  EXPECT_EQ(handedOutAfterQuit, 0);

  // At least the two tasks, not all of them; the others never ran.
  std::set<int> complete;
  std::string restart;
  for (const auto& task : backup->tasks) {
    if (task.status == DistributedQEL::TASK_COMPLETE) {
      complete.insert(task.taskId);
      restart +=
          (restart.empty() ? "" : " ") + std::string("-o ") + std::to_string(task.taskId) + "|-1";
    } else {
      EXPECT_EQ(task.status, DistributedQEL::TASK_NEW) << task.taskId;
      EXPECT_EQ(task.attempts, 0) << task.taskId;
      EXPECT_TRUE(payloads->Of(task.taskId).empty()) << task.taskId;
    }
  }
  EXPECT_GE(complete.size(), 2u);
  EXPECT_LT(complete.size(), backup->tasks.size());
  EXPECT_EQ(job.restartString, restart);
  ASSERT_EQ(job.pendingCauses.size(), 1u);
  EXPECT_EQ(job.pendingCauses[0].id, kEvJobFailed);
  EXPECT_TRUE(job.events.empty());

  // The mapping file marks exactly the finished tasks complete.
  ASSERT_EQ(e2e::ParseMapping(mappingAfterBackup).size(), 1u);
  EXPECT_EQ(e2e::ParseMapping(mappingAfterBackup).begin()->second.size(), backup->tasks.size());
  ExpectMappingMarksComplete(mappingAfterBackup, complete);

  // The job's end still wrote the index views.
  ExpectViewsOfTheNode(job);

  // The store holds the files of the finished tasks' collect files, byte
  // for byte, and nothing else.
  std::map<std::string, std::string> expected = FilesOfTasks(jobId, complete);
  ASSERT_FALSE(expected.empty());
  ExpectStoreHoldsExactly(jobId, expected);
}

// The quit flag raised as a file fails: the worker stops at that file, the
// task stays failed with its committed offset and goes to no other stream,
// and the phase ends as asked to stop.
TEST_F(FailureTest, QuitFlagRaisedAsAFileFailsStopsTheWorkerAtThatFile) {
  MakeCluster(e2e::SmallCluster(1));
  TqHarness::BackupRequest request;
  request.numberOfStreams = 2;
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t jobId = spec.jobId;
  spec.jobCtrlClient.reset(new TQJobCtrlClient(jobId));
  TQJobCtrlClientPtr control = spec.jobCtrlClient;
  auto faults = std::make_shared<e2e::StreamFaults>();
  faults->OnFailure([control] { control->setQuitFlag(true); });
  auto fault = std::make_shared<e2e::MidFileFault>(
      faults,
      [this, jobId](const std::string& client, int task) {
        return CollectFileOf(jobId, client, task);
      },
      -1);
  auto payloads = std::make_shared<e2e::PayloadLog>();
  std::string mappingAfterBackup;
  spec.streamFactory = e2e::FaultyStreams(harness_->StoreStreams(spec), faults);
  spec.observer = [&, fault, payloads](const TqRunner::RunnerEvent& event) {
    fault->See(event);
    payloads->See(event);
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "backup" &&
        event.text != "start") {
      mappingAfterBackup = simtest::ReadFile(MappingFile(jobId));
    }
  };
  KeepSnapshotAtPostop(spec);
  TqRunner::JobResult job;
  ASSERT_FALSE(harness_->Run(spec, job).IsError());
  ASSERT_GE(fault->Task(), 0);
  const int taskId = fault->Task();

  EXPECT_EQ(job.status, PHASE_FAILED) << TqRunner::PhaseStatusName(job.status);
  const TqRunner::PhaseResult* backup = Phase(job, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->endReason, "quit");
  EXPECT_EQ(faults->Failures().size(), 1u);
  ASSERT_EQ(job.pendingCauses.size(), 1u);
  EXPECT_EQ(job.pendingCauses[0].id, kEvJobFailed);
  EXPECT_EQ(e2e::EventIds(job), std::set<uint32_t>{kEvKeyspaceBackupFailed});

  // The task failed once and stays failed at the entry that failed.
  std::set<int> complete;
  for (const auto& task : backup->tasks) {
    if (task.status == DistributedQEL::TASK_COMPLETE) complete.insert(task.taskId);
    if (task.taskId != taskId) continue;
    EXPECT_EQ(task.status, DistributedQEL::TASK_FAILED);
    EXPECT_EQ(task.attempts, 1);
    EXPECT_EQ(task.commitOffset, fault->TargetLine().offset);
  }
  EXPECT_EQ(payloads->Of(taskId), std::vector<std::string>{std::to_string(taskId) + "|-1"});
  EXPECT_NE(job.restartString.find("-o " + std::to_string(taskId) + "|" +
                                   std::to_string(fault->TargetLine().offset)),
            std::string::npos)
      << job.restartString;
  ExpectMappingMarksComplete(mappingAfterBackup, complete);

  ExpectViewsOfTheNode(job);

  // Stored: the complete tasks' files and the failed task's files before
  // the one that failed; nothing after it.
  std::map<std::string, std::string> expected = FilesOfTasks(jobId, complete);
  const std::vector<e2e::CollectLine>& lines = fault->Lines();
  for (size_t i = 0; i < fault->Target(); ++i) {
    std::string content;
    if (ContentOf(lines[i].path, content)) expected[lines[i].path] = content;
  }
  ExpectStoreHoldsExactly(jobId, expected);
}

}  // namespace
