// The job's record: written where a later process reads it back, with the
// phase statuses, nodes, tasks, events, pending causes, reference time and
// restart entries; and the plug-in library loaded as the suite loads it.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RunnerTestSupport.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/FrameworkTypes.h"
#include "platform/index/IndexCatalog.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/runner/PluginLibrary.h"
#include "platform/suite/TQJobClient.h"

using TqRunner::CJobRecordStore;
using TqRunner::CJobRunner;
using TqRunner::JobResult;

namespace {

class RunnerRecords : public RunnerTest {};

TEST_F(RunnerRecords, JobRecordIsWrittenUnderTheSuiteHomeAndReadsBack) {
  TqRunner::JobSpec spec = Spec();
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  CJobRecordStore store;
  EXPECT_EQ(store.GetDirectory(), home_.Sub("suite") + "/Jobs");
  EXPECT_EQ(result.recordPath, home_.Sub("suite") + "/Jobs/4711.json");
  EXPECT_EQ(store.List(), std::vector<int64_t>{4711});

  JobResult read;
  ASSERT_FALSE(store.Read(4711, read).IsError());
  EXPECT_EQ(read.jobId, 4711);
  EXPECT_EQ(read.jobType, "backup");
  EXPECT_EQ(read.status, PHASE_COMPLETE);
  EXPECT_EQ(read.attempt, 1);
  EXPECT_EQ(read.referenceTime, 1700000000);
  EXPECT_EQ(read.phaseParams, " -r 1700000000  -bypass -cassandra");
  EXPECT_EQ(read.restartString, "-o 1|-1 -o 2|-1 -o 5|-1 -o 6|-1");
  EXPECT_EQ(read.startTime, result.startTime);
  ASSERT_EQ(read.phases.size(), 2u);
  EXPECT_EQ(read.phases[0].name, "scan");
  EXPECT_TRUE(read.phases[0].skipped);
  const TqRunner::PhaseResult& backup = read.phases[1];
  EXPECT_EQ(backup.status, PHASE_COMPLETE);
  EXPECT_EQ(backup.statusWord, 1);
  EXPECT_EQ(backup.endReason, "complete");
  ASSERT_EQ(backup.nodes.size(), 2u);
  EXPECT_EQ(backup.nodes[0].clientName, "nodeA");
  EXPECT_EQ(backup.nodes[0].clientId, 11u);
  EXPECT_EQ(backup.nodes[0].state, DistributedQEL::NODE_STOPPED);
  EXPECT_EQ(backup.nodes[0].arguments, result.phases[1].nodes[0].arguments);
  EXPECT_EQ(backup.nodes[0].streams, 2);
  ASSERT_EQ(backup.tasks.size(), 4u);
  const TqRunner::TaskRecord* task = Task(backup, 5);
  ASSERT_NE(task, nullptr);
  EXPECT_EQ(task->reservedNode, "nodeB");
  EXPECT_EQ(task->runningNode, "nodeB");
  EXPECT_EQ(task->status, DistributedQEL::TASK_COMPLETE);
  EXPECT_EQ(task->attempts, 1);
  EXPECT_GT(task->commitOffset, 0);
  // The coordinator's event, raised while the job ran.
  ASSERT_EQ(read.events.size(), 1u);
  EXPECT_EQ(read.events[0].id, 0x7001u);
  EXPECT_EQ(read.events[0].severity, CEventJournal::kInfo);
  EXPECT_EQ(read.events[0].args, std::vector<std::string>{"4 of 4"});
  EXPECT_EQ(read.events[0].client, "cs");
  EXPECT_TRUE(read.pendingCauses.empty());

  // The file names the statuses in words for a reader without the enum.
  std::ifstream in(result.recordPath);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("\"statusName\": \"Completed\""), std::string::npos);
  EXPECT_NE(text.find("\"statusName\": \"Skipped\""), std::string::npos);
}

TEST_F(RunnerRecords, FailedJobRecordsItsPendingCauseAndARerunCountsAsAnotherAttempt) {
  TqRunner::JobSpec spec = Spec();
  spec.jobCtrlClient.reset(new TQJobCtrlClient(spec.jobId));
  world().quitClient = spec.jobCtrlClient;
  world().quitAt = world().collectFiles["nodeA"][0][0];
  JobResult first = CJobRunner(spec).Run();
  ASSERT_EQ(first.status, PHASE_FAILED);
  JobResult read;
  ASSERT_FALSE(CJobRecordStore().Read(4711, read).IsError());
  EXPECT_EQ(read.status, PHASE_FAILED);
  EXPECT_EQ(read.phases.back().endReason, "quit");
  ASSERT_EQ(read.pendingCauses.size(), 1u);
  EXPECT_EQ(read.pendingCauses[0].id, 0x6000469u);

  spec.jobCtrlClient.reset(new TQJobCtrlClient(spec.jobId));
  world().quitAt.clear();
  spec.restartString = first.restartString;
  JobResult second = CJobRunner(spec).Run();
  EXPECT_EQ(second.status, PHASE_COMPLETE);
  ASSERT_FALSE(CJobRecordStore().Read(4711, read).IsError());
  EXPECT_EQ(read.attempt, 2);
  EXPECT_EQ(read.status, PHASE_COMPLETE);
  EXPECT_TRUE(read.pendingCauses.empty());
}

TEST_F(RunnerRecords, JobHasItsRowInTheIndexCatalog) {
  TqRunner::JobSpec spec = Spec();
  spec.instanceId = 9;
  spec.backupSetId = 3;
  spec.appType = 64;
  spec.backupLevel = 2;
  JobResult first = CJobRunner(spec).Run();
  ASSERT_EQ(first.status, PHASE_COMPLETE);
  CIndexCatalog catalog;
  ASSERT_FALSE(catalog.Open().IsError());
  EXPECT_EQ(catalog.GetPath(), home_.Sub("suite") + "/index/catalog.db");
  SJobRecord job;
  bool found = false;
  ASSERT_FALSE(catalog.GetJob(4711, job, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_EQ(job.ombrelId, 2u);
  EXPECT_EQ(job.clientName, "cs");
  EXPECT_EQ(job.clientId, 1u);
  EXPECT_EQ(job.instanceId, 9u);
  EXPECT_EQ(job.subclientId, 57u);
  EXPECT_EQ(job.backupsetId, 3u);
  EXPECT_EQ(job.appType, 64);
  EXPECT_EQ(job.kind, "backup");
  EXPECT_EQ(job.level, 2);
  EXPECT_EQ(job.startTime, first.startTime);
  EXPECT_EQ(job.endTime, first.endTime);
  EXPECT_EQ(job.status, "Completed");

  // A rerun keeps the job's row and gives it the rerun's end.
  spec.commitLogJob = true;
  world().failAlways = {world().collectFiles["nodeA"][0][0]};
  JobResult second = CJobRunner(spec).Run();
  ASSERT_FALSE(catalog.GetJob(4711, job, found).IsError());
  EXPECT_EQ(job.kind, "backup");
  EXPECT_EQ(job.startTime, first.startTime);
  EXPECT_EQ(job.endTime, second.endTime);
  EXPECT_EQ(job.status, TqRunner::PhaseStatusName(second.status));
  EXPECT_EQ(job.status, "Completed w/ one or more errors");

  // A commit-log job is of kind "log".
  spec.jobId = 4712;
  CJobRunner(spec).Run();
  ASSERT_FALSE(catalog.GetJob(4712, job, found).IsError());
  ASSERT_TRUE(found);
  EXPECT_EQ(job.kind, "log");
}

TEST_F(RunnerRecords, NodesTheSpecDoesNotListComeFromTheClientDirectory) {
  TqRunner::JobSpec spec = Spec();
  spec.nodeClients.clear();
  CClientDirectory::Instance().Add(SClientRecord{11, "nodeA", "a.host", "", 0, {}});
  CClientDirectory::Instance().Add(SClientRecord{12, "nodeB", "b.host", "", 0, {}});
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.status, PHASE_COMPLETE);
  const TqRunner::PhaseResult& phase = *Phase(result, "backup");
  ASSERT_EQ(phase.nodes.size(), 2u);
  EXPECT_EQ(phase.nodes[0].clientId, 11u);
  EXPECT_EQ(phase.nodes[1].clientId, 12u);
  ExpectEveryFileStored();
}

TEST_F(RunnerRecords, NodeThatNoDirectoryKnowsFailsTheCoordinatorStart) {
  TqRunner::JobSpec spec = Spec();
  spec.nodeClients.resize(1);
  JobResult result = CJobRunner(spec).Run();
  const TqRunner::PhaseResult& phase = *Phase(result, "backup");
  EXPECT_EQ(phase.endReason, "start failed");
  EXPECT_NE(phase.message.find("Unknown client nodeB"), std::string::npos) << phase.message;
  EXPECT_EQ(result.status, PHASE_FAILED);
}

TEST_F(RunnerRecords, LaterPhasesGetThePhaseParametersOfTheEarlierOnes) {
  TqRunner::JobSpec spec = Spec();
  spec.phases = {"scan", "backup", "backup"};
  JobResult result = CJobRunner(spec).Run();
  ASSERT_EQ(result.phases.size(), 3u);
  const std::string line =
      "parseArguments -ombrel 2 -appid 57 -j 4711 -t 1 -numstreams 4 -d MA1 -jr " +
      JobResults("cs");
  std::vector<std::string> parses;
  for (const auto& call : world().CoordinatorCalls()) {
    if (call.rfind("parseArguments", 0) == 0) parses.push_back(call);
  }
  EXPECT_EQ(parses, (std::vector<std::string>{line, line + " -r 1700000000  -bypass -cassandra"}));
  // What the job manager holds after the last phase.
  EXPECT_EQ(result.phaseParams,
            " -r 1700000000  -bypass -cassandra -r 1700000000  -bypass -cassandra");
}

TEST_F(RunnerRecords, RecordFolderCanBeChosenOrLeftOut) {
  TqRunner::JobSpec spec = Spec();
  spec.recordsDirectory = home_.Sub("records");
  JobResult result = CJobRunner(spec).Run();
  EXPECT_EQ(result.recordPath, home_.Sub("records") + "/4711.json");
  EXPECT_EQ(CJobRecordStore(home_.Sub("records")).List(), std::vector<int64_t>{4711});

  spec.writeRecord = false;
  spec.jobId = 4712;
  result = CJobRunner(spec).Run();
  EXPECT_EQ(result.recordPath, "");
  EXPECT_EQ(CJobRecordStore(home_.Sub("records")).List(), std::vector<int64_t>{4711});
}

TEST_F(RunnerRecords, StoreReportsMissingAndDamagedRecords) {
  CJobRecordStore store(home_.Sub("records"));
  JobResult read;
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.Read(1, read), 2));
  CQiDirectory::Create(home_.Sub("records").c_str(), true);
  std::ofstream(store.PathOf(1)) << "{\"jobId\": 1, \"phases\": [";
  std::ofstream(store.PathOf(2)) << "{\"jobId\": 2}";
  std::ofstream(home_.Sub("records") + "/notes.json") << "{}";
  std::ofstream(home_.Sub("records") + "/3.json.tmp") << "{}";
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.Read(1, read), 13));
  EXPECT_TRUE(FXErrorUtil::IsWin32(store.Read(2, read), 13));
  EXPECT_EQ(store.List(), (std::vector<int64_t>{1, 2}));
}

// A number of a record is taken only when it is a whole number that its
// field holds: each field below, given each bad value, makes the record
// unreadable with the field named, where a conversion would have been
// undefined (a float beyond the range) or wrapped.
TEST_F(RunnerRecords, RecordNumbersOutOfRangeAreRefused) {
  CJobRecordStore store(home_.Sub("records"));
  // Each field holds a number of its own, to be found in the text.
  JobResult result;
  result.jobId = 5;
  result.startTime = 1000001;
  TqRunner::PhaseResult phase;
  phase.name = "backup";
  phase.statusWord = 1000002;
  TqRunner::NodeRecord node;
  node.clientName = "node1";
  node.clientId = 1000003;
  phase.nodes.push_back(node);
  TqRunner::TaskRecord task;
  task.taskId = 1000004;
  task.commitOffset = 1000005;
  phase.tasks.push_back(task);
  result.phases.push_back(phase);
  CEventJournal::Entry event{};
  event.kind = CEventJournal::kEvent;
  event.severity = CEventJournal::kMajor;
  event.id = 1000006;
  event.time = 1000007;
  result.events.push_back(event);
  ASSERT_FALSE(store.Write(result).IsError());
  std::string written;
  {
    std::ifstream in(store.PathOf(5));
    written.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const struct {
    const char* field;
    const char* number;  // its number in the written text
  } fields[] = {
      {"startTime", "1000001"}, {"statusWord", "1000002"},   {"clientId", "1000003"},
      {"taskId", "1000004"},    {"commitOffset", "1000005"}, {"id", "1000006"},
      {"time", "1000007"},
  };
  const char* values[] = {
      "1e300",   "-1e300", "1e400", "9223372036854775808", "18446744073709551616",
      "-9.3e18", "2.5",    "\"7\""};
  for (const auto& f : fields) {
    for (const char* value : values) {
      SCOPED_TRACE(std::string(f.field) + " = " + value);
      std::string text = written;
      const size_t at = text.find(f.number);
      ASSERT_NE(at, std::string::npos);
      text.replace(at, strlen(f.number), value);
      std::ofstream(store.PathOf(5), std::ios::trunc) << text;
      JobResult read;
      CQiError error = store.Read(5, read);
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 13));
      // (1e400 is beyond a double: the text itself does not parse.)
      if (std::string(value) != "1e400") {
        EXPECT_NE(error.AsString(2).find(std::string("\"") + f.field + "\" is "), std::string::npos)
            << error.AsString(2);
      }
    }
  }
  // Fields of 32 bits refuse what only 64 bits hold; a severity must be one.
  const struct {
    const char* from;
    const char* to;
  } narrow[] = {
      {"1000003", "4294967296"}, {"1000003", "-1"},
      {"1000004", "2147483648"}, {"1000006", "-1"},
      {"1000002", "1e10"},       {"\"severityValue\": 2", "\"severityValue\": 7"},
  };
  for (const auto& n : narrow) {
    SCOPED_TRACE(std::string(n.from) + " -> " + n.to);
    std::string text = written;
    const size_t at = text.find(n.from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, strlen(n.from), n.to);
    std::ofstream(store.PathOf(5), std::ios::trunc) << text;
    JobResult read;
    EXPECT_TRUE(FXErrorUtil::IsWin32(store.Read(5, read), 13));
  }
  // Whole numbers written as floats, within range, are taken.
  std::string text = written;
  text.replace(text.find("1000005"), 7, "-9.223372036854775808e18");
  text.replace(text.find("1000004"), 7, "12.0");
  std::ofstream(store.PathOf(5), std::ios::trunc) << text;
  JobResult read;
  ASSERT_FALSE(store.Read(5, read).IsError());
  ASSERT_EQ(read.phases.size(), 1u);
  ASSERT_EQ(read.phases[0].tasks.size(), 1u);
  EXPECT_EQ(read.phases[0].tasks[0].commitOffset, INT64_MIN);
  EXPECT_EQ(read.phases[0].tasks[0].taskId, 12);
  ASSERT_EQ(read.events.size(), 1u);
  EXPECT_EQ(read.events[0].severity, CEventJournal::kMajor);
  EXPECT_EQ(read.events[0].time, 1000007);
}

TEST_F(RunnerRecords, PluginLibraryIsLoadedAndItsScanPhaseSkipped) {
  TqRunner::CoordinatorFactory coordinator = nullptr;
  TqRunner::ControllerFactory controller = nullptr;
  ASSERT_FALSE(TqRunner::CPluginLibrary::Load(TQ_PLUGIN_PATH, coordinator, controller).IsError());
  EXPECT_NE(coordinator, nullptr);
  EXPECT_NE(controller, nullptr);
  // Loading again finds the same library.
  TqRunner::CoordinatorFactory again = nullptr;
  ASSERT_FALSE(TqRunner::CPluginLibrary::Load(TQ_PLUGIN_PATH, again, controller).IsError());
  EXPECT_EQ(again, coordinator);

  TqRunner::JobSpec spec = Spec();
  spec.coordinatorFactory = nullptr;
  spec.controllerFactory = nullptr;
  spec.pluginPath = TQ_PLUGIN_PATH;
  spec.phases = {"scan"};
  JobResult result = CJobRunner(spec).Run();
  EXPECT_EQ(result.error, "");
  ASSERT_EQ(result.phases.size(), 1u);
  EXPECT_TRUE(result.phases[0].skipped);
  EXPECT_EQ(result.status, PHASE_COMPLETE);
}

TEST_F(RunnerRecords, JobWithoutAPlugInFailsWithoutRunningAPhase) {
  struct Case {
    const char* name;
    std::string path;
    bool factories;
    const char* error;
  } cases[] = {
      {"missing library", home_.Sub("nothing.so"), false, "Failed to load plug-in"},
      {"library without factories", "libc.so.6", false,
       "does not export createICoordinatorInstance"},
      {"nothing given", "", false, "No plug-in"},
  };
  for (const auto& c : cases) {
    TqRunner::JobSpec spec = Spec();
    spec.coordinatorFactory = nullptr;
    spec.controllerFactory = nullptr;
    spec.pluginPath = c.path;
    JobResult result = CJobRunner(spec).Run();
    EXPECT_NE(result.error.find(c.error), std::string::npos) << c.name << ": " << result.error;
    EXPECT_EQ(result.status, PHASE_FAILED) << c.name;
    EXPECT_TRUE(result.phases.empty()) << c.name;
    JobResult read;
    ASSERT_FALSE(CJobRecordStore().Read(4711, read).IsError()) << c.name;
    EXPECT_EQ(read.error, result.error) << c.name;
  }
}

}  // namespace
