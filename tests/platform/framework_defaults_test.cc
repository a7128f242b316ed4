// The framework's default answers for classes that do not override them.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/framework/Backup.h"
#include "platform/framework/ClientBrowse.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/CoordinatorReports.h"
#include "platform/framework/FSBackupController.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/Restore.h"
#include "platform/framework/RestoreController.h"
#include "platform/framework/RestoreWorker.h"
#include "platform/framework/StartClientRestore.h"
#include "platform/framework/StreamInfo.h"
#include "platform/framework/TaskBase.h"

using namespace DistributedQEL;
using TQDC_FileSystem::CBackup;
using TQDC_FileSystem::CRestore;

namespace {

// A non-null pointer of a message type that is only declared here; nothing
// ever dereferences or deletes it.
template <typename T>
boost::shared_ptr<T> Sentinel() {
  static int anchor;
  static boost::shared_ptr<int> owner(&anchor, [](int*) {});
  return boost::shared_ptr<T>(owner, reinterpret_cast<T*>(&anchor));
}

struct BoolCase {
  const char* what;
  std::function<bool()> answer;
  bool expected;
};

class FrameworkDefaults : public ::testing::Test {
 protected:
  ICoordinator coordinator;
  CBackup backup;
  CRestore restore{false};
  CController controller;
  CRestoreController restoreController;
  CStartClientRestore launcher{nullptr, nullptr, false, false};
};

TEST_F(FrameworkDefaults, BooleanAnswers) {
  const std::vector<BoolCase> cases = {
      {"ICoordinator::isBackupJob", [&] { return coordinator.isBackupJob(); }, false},
      {"ICoordinator::shouldExecCommand", [&] { return coordinator.shouldExecCommand(); }, false},
      {"ICoordinator::shouldDistributeSubclientDirectory",
       [&] { return coordinator.shouldDistributeSubclientDirectory(); }, false},
      {"ICoordinator::supportsGeoMediaAgent", [&] { return coordinator.supportsGeoMediaAgent(); },
       false},
      {"ICoordinator::isArchiveIndexRequired", [&] { return coordinator.isArchiveIndexRequired(); },
       true},
      {"ICoordinator::isMAExchangeAllowed", [&] { return coordinator.isMAExchangeAllowed(); },
       false},
      {"ICoordinator::shouldFailOnIncompleteTask",
       [&] { return coordinator.shouldFailOnIncompleteTask(); }, true},
      {"ICoordinator::ShouldCompletePhaseNow", [&] { return coordinator.ShouldCompletePhaseNow(); },
       false},
      {"ICoordinator::IsTaskCommitted",
       [&] { return coordinator.IsTaskCommitted(TaskBasePtr(new TaskBase())); }, true},
      {"CBackup::isBackupJob", [&] { return backup.isBackupJob(); }, true},
      {"CBackup::shouldSkipThisPhase", [&] { return backup.shouldSkipThisPhase(); }, false},
      {"CBackup::isArchiveIndexRequired", [&] { return backup.isArchiveIndexRequired(); }, true},
      {"CRestore::isBackupJob", [&] { return restore.isBackupJob(); }, false},
      {"CRestore::shouldSkipThisPhase", [&] { return restore.shouldSkipThisPhase(); }, false},
      {"CRestore::shouldExecCommand", [&] { return restore.shouldExecCommand(); }, false},
      {"CRestore::isArchiveIndexRequired", [&] { return restore.isArchiveIndexRequired(); }, false},
      {"CRestore::isMAExchangeAllowed", [&] { return restore.isMAExchangeAllowed(); }, false},
      {"CRestore::IsParallelBrowseEnabled", [&] { return restore.IsParallelBrowseEnabled(); },
       false},
      {"CController::willReportTotalProgressReport",
       [&] { return controller.willReportTotalProgressReport(); }, false},
      {"CController::willReportStreamProgress",
       [&] { return controller.willReportStreamProgress(); }, false},
      {"CController::willReportTaskProgress", [&] { return controller.willReportTaskProgress(); },
       false},
      {"CClientConfig::AutoMountRequired", [] { return CClientConfig(1).AutoMountRequired(); },
       false},
      {"CRestoreController::IsMultiNode", [&] { return restoreController.IsMultiNode(); }, false},
      {"CStartClientRestore::IsContentIndexingJob", [&] { return launcher.IsContentIndexingJob(); },
       false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.answer(), c.expected) << c.what;
}

TEST_F(FrameworkDefaults, FlagsOfTheBaseAnswerForMediaAgentExchangeSkipAndMultiNode) {
  coordinator.setMAExchangeAllowed(true);
  restore.setMAExchangeAllowed(true);
  restore.setSkipThisPhase(true);
  restoreController.setMultiNode(true);
  EXPECT_TRUE(coordinator.isMAExchangeAllowed());
  EXPECT_TRUE(restore.isMAExchangeAllowed());
  EXPECT_TRUE(restore.shouldSkipThisPhase());
  EXPECT_TRUE(restoreController.IsMultiNode());
}

TEST_F(FrameworkDefaults, JobManagerControlRoleIsOne) {
  EXPECT_EQ(coordinator.getJMControlRole(), 1);
  EXPECT_EQ(backup.getJMControlRole(), 1);
  EXPECT_EQ(restore.getJMControlRole(), 1);
}

TEST_F(FrameworkDefaults, BackupNodeCommandNameIsEmpty) {
  EXPECT_EQ(backup.getNodeCommandName(), "");
  EXPECT_EQ(coordinator.getNodeCommandName(), "");
}

// Operations that succeed and set the action code to 0 (none).
TEST_F(FrameworkDefaults, ChangeHandlersAskForNoAction) {
  CStreamInfoPtr stream(new CStreamInfo("n1", 1, 1));
  CNodeInfoPtr node(new CNodeInfo("n1", 1));
  TaskBasePtr task(new TaskBase());
  struct Case {
    const char* what;
    std::function<CQiError(TakeAction&)> call;
  };
  const std::vector<Case> cases = {
      {"ICoordinator::OnStreamChange",
       [&](TakeAction& a) { return coordinator.OnStreamChange(stream, a); }},
      {"ICoordinator::OnTaskChange",
       [&](TakeAction& a) { return coordinator.OnTaskChange(task, a); }},
      {"ICoordinator::OnNodeChange",
       [&](TakeAction& a) { return coordinator.OnNodeChange(node, a); }},
      {"CRestore::onStreamChange",
       [&](TakeAction& a) { return restore.onStreamChange(stream, a); }},
      {"CRestore::onNodeChange", [&](TakeAction& a) { return restore.onNodeChange(node, a); }},
  };
  for (const auto& c : cases) {
    TakeAction action;
    action.action = 7;
    CQiError error = c.call(action);
    EXPECT_FALSE(error.IsError()) << c.what;
    EXPECT_EQ(action.action, 0) << c.what;
  }
}

// Operations that succeed and leave their outputs as the caller set them.
TEST_F(FrameworkDefaults, OutputsLeftUntouched) {
  CNodeInfoPtr node(new CNodeInfo("n1", 1));
  CStreamInfoPtr stream(new CStreamInfo("n1", 1, 1));
  TaskBasePtr task(new TaskBase());

  std::string name = "qel.log";
  coordinator.getQELLogFileName(name);
  EXPECT_EQ(name, "qel.log");
  controller.getQELLogFileName(name);
  EXPECT_EQ(name, "qel.log");

  std::string payload = "1|-1";
  EXPECT_FALSE(coordinator.GetTaskPayload(task, payload).IsError());
  EXPECT_EQ(payload, "1|-1");
  std::string parameters = "p";
  EXPECT_FALSE(coordinator.GetTaskParameters(parameters).IsError());
  EXPECT_EQ(parameters, "p");

  std::vector<std::string> files = {"f"};
  std::string path = "/src";
  EXPECT_FALSE(coordinator.GetFileListAndSourcePath(files, path).IsError());
  EXPECT_EQ(files, std::vector<std::string>{"f"});
  EXPECT_EQ(path, "/src");

  TaskInfoPtr taskInfo = Sentinel<TaskInfo>();
  TaskInfoPtr before = taskInfo;
  EXPECT_FALSE(coordinator.getTask(node, stream, taskInfo).IsError());
  EXPECT_EQ(taskInfo, before);
  TaskBasePtr record = task;
  EXPECT_FALSE(coordinator.getTask(node, record, taskInfo).IsError());
  EXPECT_EQ(taskInfo, before);
  EXPECT_EQ(record, task);
  TaskInfoPtr empty;
  EXPECT_FALSE(backup.getTask(node, stream, empty).IsError());
  EXPECT_FALSE(empty);

  std::string arguments = "-x 1";
  EXPECT_FALSE(coordinator.getCommandArgumentsForNode(node, arguments).IsError());
  EXPECT_EQ(arguments, "-x 1");

  FrameworkMessagePtr message = Sentinel<CNMessageBase>();
  FrameworkMessagePtr sameMessage = message;
  EXPECT_FALSE(coordinator.getNodeStartAcknowledgeMessage(node, message).IsError());
  EXPECT_EQ(message, sameMessage);

  bool flag = true;
  EXPECT_FALSE(backup.PreProcessFailedFiles(flag).IsError());
  EXPECT_TRUE(flag);
  flag = false;
  EXPECT_FALSE(backup.PreProcessFailedFiles(flag).IsError());
  EXPECT_FALSE(flag);
}

TEST_F(FrameworkDefaults, ReportsObjectIsEmptied) {
  CCoordinatorReportsPtr reports(new CCoordinatorReports());
  EXPECT_FALSE(coordinator.GetReportsObject(reports).IsError());
  EXPECT_FALSE(reports);
}

TEST_F(FrameworkDefaults, DoNothingHooksLeaveNodeAndTasksAlone) {
  CNodeInfoPtr node(new CNodeInfo("n1", 1));
  node->setState(NODE_RUNNING);
  coordinator.ControllerStarted(node, nullptr);
  coordinator.ControllerDone(node, nullptr);
  EXPECT_EQ(node->getState(), NODE_RUNNING);
  EXPECT_TRUE(coordinator.getTasks().empty());
  EXPECT_TRUE(coordinator.getNodes().empty());
}

TEST_F(FrameworkDefaults, SuccessOperations) {
  struct Case {
    const char* what;
    std::function<CQiError()> call;
  };
  const std::vector<Case> cases = {
      {"ICoordinator::Prepare", [&] { return coordinator.Prepare(); }},
      {"ICoordinator::OnSkipPhase", [&] { return coordinator.OnSkipPhase(TQJobClientPtr()); }},
      {"ICoordinator::OnComplete", [&] { return coordinator.OnComplete(); }},
      {"CBackup::RenameDirchangeFiles", [&] { return backup.RenameDirchangeFiles(); }},
      {"CController::OnControllerStarted", [&] { return controller.OnControllerStarted(); }},
      {"CController::HandleJobResultDirectorySync",
       [&] { return controller.HandleJobResultDirectorySync(nullptr); }},
      {"CController::OnWaitTask", [&] { return controller.OnWaitTask(nullptr); }},
      {"CController::OnControllerIdle", [&] { return controller.OnControllerIdle(); }},
      {"CController::OnStopWorker", [&] { return controller.OnStopWorker(3); }},
      {"CFSBackupController::OnExtentConfigProperty",
       [] { return TQDC_FileSystem::CFSBackupController().OnExtentConfigProperty(); }},
  };
  for (const auto& c : cases) EXPECT_FALSE(c.call().IsError()) << c.what;
}

TEST_F(FrameworkDefaults, RestoreWorkerKeepsTaskPointerWithoutOwningIt) {
  IRestoreWorker worker;
  EXPECT_EQ(worker.getTaskInfo(), nullptr);
  TaskInfoPtr task = Sentinel<TaskInfo>();
  worker.SetTaskInfo(task.get());
  EXPECT_EQ(worker.getTaskInfo(), task.get());
}

TEST_F(FrameworkDefaults, BrowserCreateFolderSucceeds) {
  struct Browser : IClientBrowse {
    Browser() : IClientBrowse(42) {}
    CQiError MachineBrowse(const std::string&, App::DistributedClusterType*, App::MachineBrowseReq*,
                           App::MachineBrowseResp*, App::GenericResp*) override {
      return CQiError::Success();
    }
  } browser;
  App::DistributedClusterType type = App::DistributedClusterType::Cassandra;
  App::CreateFolderRequest request{"/a"};
  EXPECT_FALSE(browser.CreateFolder("dir", &type, &request, nullptr).IsError());
  EXPECT_EQ(request.path, "/a");
  EXPECT_EQ(type, App::DistributedClusterType::Cassandra);
}

// Non-virtual accessors of the restore coordinator base.
TEST_F(FrameworkDefaults, RestorePhaseAndTaskTypeTests) {
  EXPECT_FALSE(restore.IsCurPhaseIsFileExtentPhase());
  restore.setCurrentPhase(5);
  EXPECT_TRUE(restore.IsCurPhaseIsFileExtentPhase());
  restore.setCurrentPhase(4);
  EXPECT_FALSE(restore.IsCurPhaseIsFileExtentPhase());

  using TQDC_FileSystem::RestoreTaskInfoWrapper;
  using TQDC_FileSystem::RestoreTaskInfoWrapperPtr;
  struct Case {
    int type;
    bool regular, extent, deleted, failed;
  };
  const std::vector<Case> cases = {
      {0, true, false, false, false},  {1, false, true, false, false},
      {2, false, false, true, false},  {3, false, false, false, true},
      {4, false, false, false, false},
  };
  for (const auto& c : cases) {
    RestoreTaskInfoWrapperPtr task(new RestoreTaskInfoWrapper());
    task->taskType = c.type;
    EXPECT_EQ(restore.IsRegularFileRestoreTaskType(task), c.regular) << c.type;
    EXPECT_EQ(restore.IsFileExtentTaskType(task), c.extent) << c.type;
    EXPECT_EQ(restore.IsDeletedFileProcessingTaskType(task), c.deleted) << c.type;
    EXPECT_EQ(restore.IsFailedFileRestoreTaskType(task), c.failed) << c.type;
  }
  EXPECT_FALSE(restore.IsRegularFileRestoreTaskType(RestoreTaskInfoWrapperPtr()));
}

TEST_F(FrameworkDefaults, NodeAndLauncherAccessors) {
  CNodeInfo node("client1", 17, "host1.example");
  EXPECT_EQ(node.getHostName(), "host1.example");
  EXPECT_EQ(node.getClientName(), "client1");
  EXPECT_EQ(node.getClientID(), 17u);
  EXPECT_EQ(node.getNodeWorkersLimit(), 0);
  node.setNodeWorkersLimit(3);
  EXPECT_EQ(node.getNodeWorkersLimit(), 3);

  EXPECT_EQ(launcher.getAppType(), 0);
  EXPECT_FALSE(launcher.getDoCleanup());
  EXPECT_EQ(launcher.GetRestoreTask(), nullptr);
  launcher.setAppType(64);
  launcher.setDoCleanup(true);
  EXPECT_EQ(launcher.getAppType(), 64);
  EXPECT_TRUE(launcher.getDoCleanup());

  CClientConfig config(1);
  config.setJobId(4711);
  EXPECT_EQ(config.GetSCStateFileJobId(), 4711);
}

}  // namespace
