// The backup controller's tasks and workers: the collect file of each task
// (surplus collect files renamed to the task's number, the node's own
// numbered files never replaced), the workers and their parameters, the
// stop, and a node whose split makes more files than its range, from the
// coordinator's tasks to the workers' items.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "BackupControllerTestSupport.h"
#include "backup/CassandraBackupWorker.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/log/LogWriter.h"
#include "platform/objectops/InMemoryDataStream.h"
#include "plugin/BackupTasksFixture.h"
#include "sim/lib/SimTableDir.h"

namespace {

using bctest::JobArguments;
using bctest::Option;

class Tasks : public bctest::ControllerTest {
 protected:
  // Hands the task (number, payload) to the controller; the payload after it.
  CQiError Task(int number, const std::string& payload, std::string& after) {
    DistributedQEL::TaskInfo task;
    DistributedQEL::TaskID id;
    id.setTaskId(number);
    task.setTaskId(id);
    task.setPayload(payload);
    bool flag = false;
    CQiError error = controller_->OnTask(&task, flag);
    after = task.getPayload();
    return error;
  }
};

TEST_F(Tasks, ASurplusCollectFileTakesTheTasksNumber) {
  const struct {
    const char* name;
    int level;
    int task;
    std::string payload;
    std::vector<std::string> before;  // collect files present
    std::string after;                // payload after
    std::vector<std::string> files;   // collect files after
  } cases[] = {
      {"own file in place", 2, 7, "7|-1", {"CollectInc7.tqf"}, "7|-1", {"CollectInc7.tqf"}},
      {"surplus", 2, 12, "3|1024", {"CollectInc3tmp.tqf"}, "12|1024", {"CollectInc12.tqf"}},
      {"full backup", 1, 12, "3|-1", {"CollectTot3tmp.tqf"}, "12|-1", {"CollectTot12.tqf"}},
      {"same number outside the range",
       2,
       40,
       "40|-1",
       {"CollectInc40tmp.tqf"},
       "40|-1",
       {"CollectInc40.tqf"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bctest::fs::remove_all(jobResults_);
    bctest::fs::create_directories(jobResults_);
    for (const auto& name : c.before) simtest::WriteFile(JR(name), "content of " + name + "\n");
    JobArguments job;
    job.level = c.level;
    StartController(job);  // the node's own numbers: 5 to 8
    CLogCapture log;
    std::string after;
    ASSERT_FALSE(Task(c.task, c.payload, after).IsError());
    EXPECT_EQ(after, c.payload == c.after ? c.payload : c.after);
    EXPECT_EQ(CollectFileNames(), std::set<std::string>(c.files.begin(), c.files.end()));
    EXPECT_EQ(simtest::ReadFile(JR(c.files[0])), "content of " + c.before[0] + "\n");
    EXPECT_TRUE(log.Contains(" Recived task payload : " + c.payload));
    if (c.before[0] != c.files[0]) {
      EXPECT_TRUE(log.Contains("Moved " + JR(c.before[0]) + " to " + JR(c.files[0])));
      EXPECT_TRUE(log.Contains("New task payload: " + c.after));
    }
    controller_.reset();
  }
}

// A payload of one field names collect file 0: its temporary file is moved,
// and when it does not exist the task fails with the move's error.
TEST_F(Tasks, ATaskWhoseCollectFileCannotBeMovedIsNotHandedOn) {
  JobArguments job;
  job.level = 2;
  StartController(job);
  CLogCapture log;
  std::string after;
  CQiError error = Task(9, "5", after);
  EXPECT_TRUE(error.IsError());
  EXPECT_EQ(after, "5");
  EXPECT_TRUE(log.Contains("Failed to rename collect file " + JR("CollectInc0tmp.tqf") + ": "));

  simtest::WriteFile(JR("CollectInc0tmp.tqf"), "x\n");
  ASSERT_FALSE(Task(9, "a|b|c", after).IsError());
  EXPECT_EQ(after, "9|-1");
  EXPECT_EQ(CollectFileNames(), std::set<std::string>{"CollectInc9.tqf"});
}

// A surplus ordinal that falls into the node's own range: the numbered file
// of that number stays its own task's, and the surplus file goes to the
// surplus task; handed out again (reassigned or resumed), the surplus task
// finds its file in place.
TEST_F(Tasks, TheNodesOwnNumberedFilesAreNeverReplaced) {
  StartController(JobArguments());  // full, own numbers 5 to 8
  simtest::WriteFile(JR("CollectTot5.tqf"), "numbered 5\n");
  simtest::WriteFile(JR("CollectTot6.tqf"), "numbered 6\n");
  simtest::WriteFile(JR("CollectTot5tmp.tqf"), "surplus 5\n");
  std::string after;
  ASSERT_FALSE(Task(5, "5|-1", after).IsError());
  EXPECT_EQ(after, "5|-1");
  EXPECT_EQ(simtest::ReadFile(JR("CollectTot5.tqf")), "numbered 5\n");

  ASSERT_FALSE(Task(20, "5|-1", after).IsError());
  EXPECT_EQ(after, "20|-1");
  EXPECT_EQ(simtest::ReadFile(JR("CollectTot20.tqf")), "surplus 5\n");
  EXPECT_FALSE(bctest::fs::exists(JR("CollectTot5tmp.tqf")));

  ASSERT_FALSE(Task(20, "5|300", after).IsError());
  EXPECT_EQ(after, "20|300");
  EXPECT_EQ(simtest::ReadFile(JR("CollectTot20.tqf")), "surplus 5\n");

  // A move onto a numbered file of the range is refused.
  simtest::WriteFile(JR("CollectTot9tmp.tqf"), "surplus 9\n");
  CQiError error = Task(6, "9|-1", after);
  EXPECT_TRUE(FXErrorUtil::IsWin32(error, 183));
  EXPECT_EQ(simtest::ReadFile(JR("CollectTot6.tqf")), "numbered 6\n");
  EXPECT_TRUE(bctest::fs::exists(JR("CollectTot9tmp.tqf")));
}

class Workers : public bctest::ScriptedControllerTest {};

TEST_F(Workers, ParametersNameTheClusterAndEveryInstance) {
  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(Send(Request(2, {})).IsError());
  controller.Config()->commitLogBackupDir = "/archive";
  controller.Config()->nodeProperties[InstanceName(1)].commitLogArchiveHostPath = "/host/archive";

  MultiNodeBackupOps::CBackupWorkerParamsPtr params;
  ASSERT_FALSE(controller.GetBackupWorkerParams(params).IsError());
  auto own = boost::dynamic_pointer_cast<CassandraBackupWorkerParams>(params);
  ASSERT_TRUE(own);
  CLogCapture log;
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  EXPECT_EQ(own->clusterName, sim_.name);
  EXPECT_EQ(own->commitLogJob, 0);
  EXPECT_EQ(own->jobId, bctest::kJob);
  EXPECT_EQ(own->failedFilePath, JR("Failures.tqf"));
  EXPECT_EQ(own->jobResultsDirectory, jobResults_);
  ASSERT_EQ(own->instanceParams.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const CassandraNodeInstanceParams& instance = own->instanceParams[i];
    EXPECT_EQ(instance.instanceName, InstanceName(i));
    EXPECT_EQ(instance.dataCenter, cluster_.nodes[i].dataCenter);
    EXPECT_EQ(instance.rack, "rack1");
    EXPECT_EQ(instance.dataDirectories, cluster_.nodes[i].dataDirs);
    EXPECT_TRUE(log.Contains("Setting up params for instance " + InstanceName(i)));
  }
  EXPECT_EQ(own->instanceParams[0].commitLogDirectory, "/archive");
  EXPECT_EQ(own->instanceParams[1].commitLogDirectory, "/host/archive");

  // Made again, the parameters hold each instance once.
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  EXPECT_EQ(own->instanceParams.size(), 2u);
}

TEST_F(Workers, AWorkerPerStreamWithTheExtentSizeWhenExtentBackupIsOn) {
  for (bool extents : {false, true}) {
    SCOPED_TRACE(extents);
    bctest::Controller& controller = StartController(JobArguments());
    std::vector<DistributedQEL::DINameValue> options = {Option("CreateCollectFiles", "n")};
    if (extents) options.push_back(Option("ExtentSize", "65536"));
    ASSERT_FALSE(Send(Request(2, options)).IsError());
    MultiNodeBackupOps::IBackupWorkerPtr worker;
    DistributedQEL::StreamInfo stream;
    stream.setStreamNumber(7);
    ASSERT_FALSE(controller.GetBackupWorker(worker, &stream).IsError());
    auto own = boost::dynamic_pointer_cast<CassandraBackupWorker>(worker);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->getStreamNumber(), 7);
    EXPECT_EQ(own->getExtentSize(), extents ? 65536u : 0x400000u);
    controller_->uninitializePriam();
    controller_.reset();
  }
}

TEST_F(Workers, TheStopStopsThePriams) {
  bctest::Controller& controller = StartController(JobArguments());
  ASSERT_FALSE(Send(Request(2, {Option("CreateCollectFiles", "n")})).IsError());
  for (const auto& entry : controller.priamByInstance) ASSERT_TRUE(entry.second->getIsConnected());
  controller.OnAgentStopped();
  for (const auto& entry : controller.priamByInstance) EXPECT_FALSE(entry.second->getIsConnected());
}

// A node whose split makes more collect files than its range (start 2, one
// stream: numbers 2 and 3; the surplus ordinals 3 and up stay temporary, the
// first of them under the number of a numbered file). The coordinator makes
// the tasks from the node's report, each task goes through the controller to
// a worker, and every listed entry is backed up exactly once.
class SurplusRun : public bctest::ScriptedControllerTest {};

TEST_F(SurplusRun, EveryCollectFileIsBackedUpExactlyOnce) {
  CRegistry::Instance().Set(CPostProcessingOptions::kRegistrySection,
                            CPostProcessingOptions::kMaxEntriesValue, "4");
  for (size_t node : {0u, 1u}) {
    for (const auto& table : TableDirs(node)) {
      std::string error;
      ASSERT_TRUE(TqSim::SimTableDir(table, "mc").Snapshot(bctest::kSnapshot, "schema", error))
          << error;
    }
  }

  // The coordinator sized the node's range for one stream.
  backuptest::CoordinatorProbe coordinator;
  auto coordinatorServices = boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices>(
      new DistributedQEL::CInMemoryFrameworkServices());
  coordinator.setFrameworkServices(coordinatorServices);
  DistributedQEL::CClientConfigPtr coordinatorConfig;
  ASSERT_FALSE(coordinator.getClientConfigObject(coordinatorConfig).IsError());
  coordinatorConfig->setJobId(bctest::kJob);
  coordinatorConfig->setJobResultsDirectory(dir_.Sub("coordinator"));
  coordinatorConfig->setNumberOfStreams(8);
  bctest::fs::create_directories(dir_.Sub("coordinator"));
  coordinator.tasksPerNode = 2;
  coordinator.nextTaskId = 100;
  coordinatorServices->registerClient(3, bctest::kClient);
  ASSERT_FALSE(coordinator.addNode(3).IsError());
  DistributedQEL::CNodeInfoPtr node = coordinator.findNodeInfoByNodeName(bctest::kClient);
  ASSERT_TRUE(node);
  TQCassandra::CassandraNodeInfoPtr info(new TQCassandra::CassandraNodeInfo());
  info->collectFileStart = 2;
  node->setCustomInfo(info);
  node->setState(DistributedQEL::NODE_RUNNING);
  ASSERT_FALSE(coordinator.getStreamReservationInfoForNode(node).IsError());
  std::string arguments;
  ASSERT_FALSE(coordinator.getCommandArgumentsForNode(node, arguments).IsError());
  ASSERT_EQ(arguments.rfind("-numstreams 1 -t 1 -d ", 0), 0u) << arguments;

  JobArguments job;
  job.streams = 1;
  job.collectFileStart = 2;
  bctest::Controller& controller = StartController(job);
  DistributedQEL::ControllerStartup first;
  ASSERT_FALSE(controller.SetAdditionalStartupValues(first).IsError());
  coordinator.ControllerStarted(node, &first);
  ASSERT_FALSE(Send(Request(2, {})).IsError());
  ASSERT_FALSE(controller.collectFileCreationFailed);
  const int count = static_cast<int>(controller.Config()->getCollectFileCount());
  ASSERT_GT(count, 4);
  EXPECT_TRUE(bctest::fs::exists(JR("CollectTot3.tqf")));
  EXPECT_TRUE(bctest::fs::exists(JR("CollectTot3tmp.tqf")));
  DistributedQEL::ControllerStartup second;
  ASSERT_FALSE(controller.SetAdditionalStartupValues(second).IsError());
  coordinator.ControllerStarted(node, &second);
  ASSERT_EQ(coordinator.getTasks().size(), static_cast<size_t>(count));

  MultiNodeBackupOps::CBackupWorkerParamsPtr params;
  ASSERT_FALSE(controller.GetBackupWorkerParams(params).IsError());
  ASSERT_FALSE(controller.InitializeBackupWorkerParams(params).IsError());
  auto own = boost::dynamic_pointer_cast<CassandraBackupWorkerParams>(params);
  MultiNodeBackupOps::IBackupWorkerPtr worker;
  DistributedQEL::StreamInfo streamInfo;
  streamInfo.setStreamNumber(1);
  ASSERT_FALSE(controller.GetBackupWorker(worker, &streamInfo).IsError());
  boost::shared_ptr<OBJECTOPSAPI::CInMemoryDataStream> stream(
      new OBJECTOPSAPI::CInMemoryDataStream());
  ASSERT_FALSE(worker->Initialize(params).IsError());
  ASSERT_FALSE(worker->SetupPipeline(stream).IsError());

  DistributedQEL::CStreamInfoPtr coordinatorStream(
      new DistributedQEL::CStreamInfo(bctest::kClient, 1, 1));
  std::vector<std::string> listed;
  int handedOut = 0;
  while (true) {
    DistributedQEL::TaskInfoPtr task(new DistributedQEL::TaskInfo());
    CQiError error = coordinator.getTask(node, coordinatorStream, task);
    if (error.IsError()) {
      EXPECT_TRUE(FXErrorUtil::IsWin32(error, 259)) << error.AsString(2);
      break;
    }
    ASSERT_LT(++handedOut, 1000);
    const int number = static_cast<int>(task->getTaskId()->getTaskId());
    for (const auto& t : coordinator.getTasks())
      if (t->taskId == number) t->status = DistributedQEL::TASK_COMPLETE;
    bool flag = false;
    ASSERT_FALSE(controller.OnTask(task.get(), flag).IsError()) << "task " << number;
    const std::string file = own->GetCollectFilePath(number);
    const auto entries = bctest::ReadNumberedFile(file);
    listed.insert(listed.end(), entries.begin(), entries.end());
    ASSERT_FALSE(worker->DoBackup(file, number, task->getPayload(), "stream 1").IsError())
        << "task " << number;
  }
  EXPECT_EQ(handedOut, count);

  std::vector<std::string> expected = ExpectedEntries({0, 1}, bctest::FromSnapshot);
  std::sort(expected.begin(), expected.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
  // Each data directory gives three items, every other entry one.
  std::map<std::string, int> items;
  for (const auto& item : stream->Items()) ++items[item.header.sourcePath];
  for (const auto& entry : expected) {
    const bool dataDirectory =
        entry == cluster_.nodes[0].dataDirs[0] || entry == cluster_.nodes[1].dataDirs[0];
    EXPECT_EQ(items[entry], dataDirectory ? 3 : 1) << entry;
  }
  for (const auto& name : CollectFileNames())
    EXPECT_EQ(name.find("tmp"), std::string::npos) << name;
}

}  // namespace
