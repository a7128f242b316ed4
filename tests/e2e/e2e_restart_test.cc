// A backup job run again under its own job id with the restart entries of
// its first run: the node keeps the collect files and snapshot it made, the
// coordinator the mapping file, only the unfinished work runs, and the store
// ends with every file of the snapshot.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "E2eFixture.h"
#include "FaultyStreams.h"
#include "JobChecks.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace {

using e2e::E2eTest;
namespace fs = std::filesystem;

constexpr uint32_t kEvKeyspaceBackupFailed = 0x60003D1;

// How the first run ends.
enum class FirstEnd {
  kFileKeptFailing,  // a file in the middle of a task fails on every stream
  kAskedToStop,      // the quit flag, once two tasks are complete
};

struct RestartCase {
  const char* name;
  FirstEnd end;
  const char* endReason;  // of the first run's backup phase
  int status;             // of the first run
};

class RestartTest : public E2eTest, public ::testing::WithParamInterface<RestartCase> {
 protected:
  std::string CollectFileOf(int64_t jobId, int task) const {
    return harness_->JobResultsOf("node1", jobId) + "/CollectTot" + std::to_string(task) + ".tqf";
  }
};

TEST_P(RestartTest, RerunKeepsCollectFilesAndMappingAndCompletesTheStore) {
  const RestartCase& c = GetParam();
  MakeCluster(e2e::SmallCluster(1));
  TqHarness::BackupRequest request;
  request.numberOfStreams = 2;

  // First run: an interrupted job, which never reaches its post-operations.
  TqRunner::JobSpec spec = harness_->MakeSpec(request);
  const int64_t jobId = spec.jobId;
  spec.phases = {"scan", "backup"};
  auto faults = std::make_shared<e2e::StreamFaults>();
  auto fault = std::make_shared<e2e::MidFileFault>(
      faults, [this, jobId](const std::string&, int task) { return CollectFileOf(jobId, task); },
      -1);
  spec.streamFactory = e2e::FaultyStreams(harness_->StoreStreams(spec), faults);
  spec.jobCtrlClient.reset(new TQJobCtrlClient(jobId));
  TQJobCtrlClientPtr control = spec.jobCtrlClient;
  const FirstEnd end = c.end;
  spec.observer = [fault, control, end](const TqRunner::RunnerEvent& event) {
    if (end == FirstEnd::kFileKeptFailing) fault->See(event);
    if (end == FirstEnd::kAskedToStop && event.kind == TqRunner::RunnerEvent::kTask &&
        event.tasksComplete >= 2) {
      control->setQuitFlag(true);
    }
  };
  TqRunner::JobResult first;
  ASSERT_FALSE(harness_->Run(spec, first).IsError());
  EXPECT_EQ(first.status, c.status) << TqRunner::PhaseStatusName(first.status);
  const TqRunner::PhaseResult* firstBackup = Phase(first, "backup");
  ASSERT_TRUE(firstBackup);
  EXPECT_EQ(firstBackup->endReason, c.endReason) << firstBackup->message;

  // What the first run left: its restart entries name the complete tasks
  // and the failed one's committed offset.
  std::set<int> done, open;
  std::map<int, int64_t> resumeAt;
  for (const auto& task : firstBackup->tasks) {
    if (task.status == DistributedQEL::TASK_COMPLETE) {
      done.insert(task.taskId);
    } else {
      open.insert(task.taskId);
      if (task.commitOffset >= 0) resumeAt[task.taskId] = task.commitOffset;
    }
  }
  ASSERT_FALSE(done.empty());
  ASSERT_FALSE(open.empty());
  if (c.end == FirstEnd::kFileKeptFailing) {
    ASSERT_EQ(open, std::set<int>{fault->Task()});
    EXPECT_EQ(resumeAt, (std::map<int, int64_t>{{fault->Task(), fault->TargetLine().offset}}));
  }
  std::string entries;
  for (const auto& task : firstBackup->tasks) {
    std::string entry;
    if (done.count(task.taskId)) entry = std::to_string(task.taskId) + "|-1";
    if (resumeAt.count(task.taskId)) {
      entry = std::to_string(task.taskId) + "|" + std::to_string(resumeAt[task.taskId]);
    }
    if (!entry.empty()) entries += (entries.empty() ? "-o " : " -o ") + entry;
  }
  EXPECT_EQ(first.restartString, entries);
  const std::string mappingAfterFirst = simtest::ReadFile(MappingFile(jobId));
  e2e::Mapping mapping = e2e::ParseMapping(mappingAfterFirst);
  ASSERT_EQ(mapping.size(), 1u);
  for (const auto& entry : mapping.begin()->second) {
    EXPECT_EQ(entry.second, done.count(entry.first) ? -1 : 0) << entry.first;
  }
  const std::string nodeResults = harness_->JobResultsOf("node1", jobId);
  const std::map<std::string, std::string> nodeFilesAfterFirst = e2e::FolderState(nodeResults);
  std::vector<std::string> snapshot =
      TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId);
  ASSERT_FALSE(snapshot.empty());
  // The rerun's post-operations phase clears the snapshot: its content now.
  std::map<std::string, std::string> snapshotContent;
  for (const std::string& path : snapshot) snapshotContent[path] = simtest::ReadFile(path);
  const std::map<std::string, int> recordsAfterFirst =
      e2e::RecordCounts(harness_->SuiteHome(), jobId);

  // The rerun: same job id, the restart entries, streams that do not fail.
  TqRunner::JobSpec again = harness_->MakeSpec(request);
  again.jobId = jobId;
  again.restartString = first.restartString;
  auto payloads = std::make_shared<e2e::PayloadLog>();
  std::string createRequest, mappingAtStart, mappingAfterBackup;
  std::map<std::string, std::string> nodeFilesAfterBackup;
  std::vector<std::string> snapshotAfterBackup;
  again.observer = [&, payloads](const TqRunner::RunnerEvent& event) {
    payloads->See(event);
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "postop" &&
        event.text == "start") {
      snapshotAfterBackup = TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId);
    }
    if (event.kind == TqRunner::RunnerEvent::kMessage &&
        event.recordName == "CassandraCreateCollectFiles") {
      createRequest = event.xml;
    }
    if (event.kind == TqRunner::RunnerEvent::kPhase && event.phase == "backup") {
      if (event.text == "start") {
        mappingAtStart = simtest::ReadFile(MappingFile(jobId));
      } else {
        mappingAfterBackup = simtest::ReadFile(MappingFile(jobId));
        nodeFilesAfterBackup = e2e::FolderState(nodeResults);
      }
    }
  };
  TqRunner::JobResult second;
  ASSERT_FALSE(harness_->Run(again, second).IsError());
  EXPECT_EQ(second.jobId, jobId);
  EXPECT_EQ(second.attempt, 2);
  EXPECT_EQ(second.status, PHASE_COMPLETE) << TqRunner::PhaseStatusName(second.status);
  const TqRunner::PhaseResult* backup = Phase(second, "backup");
  ASSERT_TRUE(backup);
  EXPECT_EQ(backup->endReason, "complete") << backup->message;

  // The node was told not to make its collect files again: they, the
  // snapshot and the mapping file are those of the first run.
  EXPECT_NE(createRequest.find(R"(<f n="1" i="1" t="string">CreateCollectFiles</f>)"
                               R"(<f n="2" i="5" t="string">n</f>)"),
            std::string::npos)
      << createRequest;
  EXPECT_EQ(mappingAtStart, mappingAfterFirst);
  for (const auto& file : nodeFilesAfterFirst) {
    if (file.first.rfind("Collect", 0) != 0) continue;
    auto it = nodeFilesAfterBackup.find(file.first);
    ASSERT_NE(it, nodeFilesAfterBackup.end()) << file.first;
    EXPECT_EQ(it->second, file.second) << file.first << " was made again";
  }
  EXPECT_EQ(snapshotAfterBackup, snapshot);
  // ... and the rerun's post-operations phase cleared it.
  EXPECT_TRUE(TqHarness::CJobVerifier::SnapshotFiles(harness_->State(), jobId).empty());

  // Only the open tasks ran, each from where the first run left it.
  EXPECT_EQ(payloads->Tasks(), open);
  for (int task : open) {
    const int64_t offset = resumeAt.count(task) ? resumeAt[task] : -1;
    EXPECT_EQ(payloads->Of(task),
              std::vector<std::string>{std::to_string(task) + "|" + std::to_string(offset)});
  }
  for (const auto& task : backup->tasks) {
    EXPECT_EQ(task.status, DistributedQEL::TASK_COMPLETE) << task.taskId;
    EXPECT_EQ(task.attempts, done.count(task.taskId) ? 0 : 1) << task.taskId;
  }
  // The mapping file one line, every task complete; the rerun entries too.
  mapping = e2e::ParseMapping(mappingAfterBackup);
  ASSERT_EQ(mapping.size(), 1u);
  EXPECT_EQ(mapping.begin()->second.size(), done.size() + open.size());
  for (const auto& entry : mapping.begin()->second) EXPECT_EQ(entry.second, -1) << entry.first;
  std::set<int> all(done);
  all.insert(open.begin(), open.end());
  std::string complete;
  for (int task : all)
    complete += (complete.empty() ? "-o " : " -o ") + std::to_string(task) + "|-1";
  EXPECT_EQ(second.restartString, complete);

  // Files the first run stored are not sent again, but for the failed
  // task's entries from its committed offset on.
  std::map<std::string, int> records = e2e::RecordCounts(harness_->SuiteHome(), jobId);
  std::set<std::string> resent;
  for (int task : open) {
    for (const auto& line : e2e::ReadCollectFile(CollectFileOf(jobId, task))) {
      const int64_t from = resumeAt.count(task) ? resumeAt[task] : 0;
      if (line.offset >= from && snapshotContent.count(line.path)) resent.insert(line.path);
    }
  }
  for (const auto& file : recordsAfterFirst) {
    EXPECT_EQ(records[file.first], file.second + (resent.count(file.first) ? 1 : 0)) << file.first;
  }

  // The store holds every file of the snapshot, byte for byte, and no other.
  std::map<std::string, SStoredItem> stored = StoredFiles(jobId);
  std::vector<std::string> storedPaths;
  for (const auto& file : stored) storedPaths.push_back(file.first);
  EXPECT_EQ(storedPaths, snapshot);
  for (const std::string& path : snapshot) {
    auto it = stored.find(path);
    if (it == stored.end()) continue;
    EXPECT_TRUE(it->second.complete) << path;
    EXPECT_EQ(StoredContent(it->second), snapshotContent[path]) << path;
  }
  EXPECT_TRUE(e2e::StoreLeftovers(harness_->SuiteHome(), jobId).empty());
  TqHarness::VerifyReport report;
  ASSERT_FALSE(harness_->Verify(jobId, report).IsError());
  EXPECT_TRUE(report.Ok()) << report.problems.front().path << " " << report.problems.front().text;
  EXPECT_EQ(report.filesChecked, static_cast<int>(snapshot.size()));
  EXPECT_TRUE(second.pendingCauses.empty());

  // Events: a file that failed in the first run stays on the node's
  // failures list, so its keyspace is reported again.
  std::set<uint32_t> events;
  if (c.end == FirstEnd::kFileKeptFailing) events.insert(kEvKeyspaceBackupFailed);
  EXPECT_EQ(e2e::EventIds(second), events);

  // Each run wrote the index views at its end: the node, the keyspaces and
  // tables; the rerun's node entry, the newest, carries the time of the
  // snapshot the first run made (the node made none this time).
  std::vector<std::string> views{"NodeMetaData /node1", "DBView /ks1", "DBView /ks1/t1",
                                 "DBView /ks1/t2",      "DBView /ks2", "DBView /ks2/t1",
                                 "DBView /ks2/t2"};
  const std::vector<std::string> once = views;
  views.insert(views.end(), once.begin(), once.end());
  EXPECT_EQ(e2e::Views(harness_->SuiteHome(), jobId), views);
  const int64_t time = e2e::NodeBackupTime(harness_->SuiteHome(), jobId, "node1");
  EXPECT_GE(time, first.startTime);
  EXPECT_LE(time, first.endTime);
}

INSTANTIATE_TEST_SUITE_P(
    FirstRuns, RestartTest,
    ::testing::Values(RestartCase{"AfterAFileKeptFailing", FirstEnd::kFileKeptFailing,
                                  "no progress", PHASE_COMPLETE_WITH_WARNINGS},
                      RestartCase{"AfterTheJobWasAskedToStop", FirstEnd::kAskedToStop, "quit",
                                  PHASE_FAILED}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

}  // namespace
