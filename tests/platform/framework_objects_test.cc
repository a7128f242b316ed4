// Client configurations handed out by the framework objects, the restore
// worker chain and the ready-made restore-by-job objects.

#include <gtest/gtest.h>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/Backup.h"
#include "platform/framework/FSBackupController.h"
#include "platform/framework/FSRestoreByJobController.h"
#include "platform/framework/FSRestoreWorker.h"
#include "platform/framework/MultiNodeBackupOpsController.h"
#include "platform/framework/MultiNodeBackupOpsControllerClientConfig.h"
#include "platform/framework/RestoreByJob.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/framework/RestoreItemCallBack.h"
#include "platform/framework/StartClientRestoreDistributed.h"
#include "platform/framework/TaskBase.h"
#include "platform/framework/UnixFSClientConfig.h"

using namespace DistributedQEL;

namespace {

TEST(FrameworkObjects, CoordinatorsHandOutOneConfigurationOfTheirKind) {
  TQDC_FileSystem::CBackup backup;
  CClientConfigPtr first, second;
  ASSERT_FALSE(backup.getClientConfigObject(first).IsError());
  ASSERT_FALSE(backup.getClientConfigObject(second).IsError());
  EXPECT_EQ(first, second);
  EXPECT_EQ(backup.getClientConfig(), first);
  EXPECT_TRUE(boost::dynamic_pointer_cast<TQDC_FileSystem::CUnixFSClientConfig>(first));

  TQDC_FileSystem::CRestore restore(true);
  CClientConfigPtr restoreConfig;
  ASSERT_FALSE(restore.getClientConfigObject(restoreConfig).IsError());
  EXPECT_TRUE(boost::dynamic_pointer_cast<TQDC_FileSystem::CRestoreClientConfig>(restoreConfig));
  EXPECT_EQ(restoreConfig->getKind(), 2);
  EXPECT_TRUE(restore.isCleanupRestore());
}

TEST(FrameworkObjects, InitializeKeepsConfigurationArgumentsAndClients) {
  ICoordinator coordinator;
  CClientConfigPtr config(new CClientConfig(1));
  CProgramArgumentsPtr arguments;
  ASSERT_FALSE(
      coordinator.initialize(config, arguments, TQJobClientPtr(), TQJobCtrlClientPtr()).IsError());
  EXPECT_EQ(coordinator.getClientConfig(), config);
  CClientConfigPtr none;
  ASSERT_FALSE(
      coordinator.initialize(none, arguments, TQJobClientPtr(), TQJobCtrlClientPtr()).IsError());
  EXPECT_EQ(coordinator.getClientConfig(), config);  // an empty one does not replace it
}

TEST(FrameworkObjects, BackupControllersMakeTheirConfigurationOnce) {
  MultiNodeBackupOps::MultiNodeBackupOpsController controller;
  TQDC_FileSystem::CFSClientConfigPtr fsConfig;
  ASSERT_FALSE(controller.getClientConfigObject(fsConfig).IsError());
  EXPECT_TRUE(
      boost::dynamic_pointer_cast<MultiNodeBackupOps::MultiNodeBackupOpsControllerClientConfig>(
          fsConfig));
  CClientConfigPtr viaFramework;
  ASSERT_FALSE(static_cast<CController&>(controller).getClientConfigObject(viaFramework).IsError());
  EXPECT_EQ(viaFramework, fsConfig);
  EXPECT_EQ(controller.getClientConfig(), fsConfig);

  TQDC_FileSystem::CFSBackupController plain;
  CClientConfigPtr plainConfig;
  ASSERT_FALSE(static_cast<CController&>(plain).getClientConfigObject(plainConfig).IsError());
  EXPECT_TRUE(boost::dynamic_pointer_cast<TQDC_FileSystem::CFSClientConfig>(plainConfig));

  plainConfig->setNumberOfStreams(4);
  EXPECT_EQ(plain.getNumberOfWorkers(), 4);
  EXPECT_EQ(CController().getNumberOfWorkers(), 0);
}

TEST(FrameworkObjects, BackupControllerBaseHasNoWorkerOfItsOwn) {
  MultiNodeBackupOps::MultiNodeBackupOpsController controller;
  MultiNodeBackupOps::IBackupWorkerPtr worker;
  MultiNodeBackupOps::CBackupWorkerParamsPtr params;
  EXPECT_TRUE(controller.GetBackupWorker(worker, nullptr).IsError());
  EXPECT_TRUE(controller.GetBackupWorkerParams(params).IsError());
  EXPECT_TRUE(FXErrorUtil::IsWin32(controller.InitializeBackupWorkerParams(params), 87));
}

TEST(FrameworkObjects, RestoreControllerMakesWorkersThatFilterNothing) {
  TQDC_FileSystem::CFSRestoreByJobController controller;
  IRestoreWorkerPtr first, second;
  ASSERT_FALSE(controller.GetRestoreWorker(first).IsError());
  ASSERT_FALSE(controller.GetRestoreWorker(second).IsError());
  ASSERT_TRUE(first);
  EXPECT_NE(first, second);
  auto fsWorker = boost::dynamic_pointer_cast<TQDC_FileSystem::CFSRestoreWorker>(first);
  ASSERT_TRUE(fsWorker);
  EXPECT_EQ(fsWorker->getController(), &controller);

  CRestoreItemCallBackPtr callBack;
  ASSERT_FALSE(fsWorker->GetBrowseResponseCallBack(callBack).IsError());
  ASSERT_TRUE(callBack);
  EXPECT_EQ(callBack->getWorker(), fsWorker.get());
  EXPECT_FALSE(callBack->ShouldSkipItem(CRestoreItemCallBack::BrowseDataIterator()));

  std::string options = "opt";
  EXPECT_FALSE(fsWorker->GetExtendedOptions(options).IsError());
  EXPECT_EQ(options, "opt");
  long size = 123;
  fsWorker->SetRestoreOptions(RestoreTaskInfoPtr(), size);
  EXPECT_EQ(fsWorker->getRestoreTaskSize(), 123);
  CRestoreStatistics statistics;
  statistics.bytesRestored = 55;
  EXPECT_FALSE(fsWorker->UpdateProgress(statistics).IsError());
  EXPECT_EQ(fsWorker->getLastStatistics().bytesRestored, 55);

  CClientConfigPtr config;
  ASSERT_FALSE(controller.getClientConfigObject(config).IsError());
  EXPECT_TRUE(boost::dynamic_pointer_cast<TQDC_FileSystem::CRestoreClientConfig>(config));

  TQJobCtrlClientPtr jobCtrl;
  EXPECT_TRUE(controller.GetJobControllerObj(jobCtrl).IsError());
  EXPECT_TRUE(DistributedQEL::CRestoreController().GetRestoreWorker(first).IsError());
}

TEST(FrameworkObjects, RestoreByJobIsACoordinatorThroughItsVirtualBase) {
  ICoordinator* coordinator = new TQDC_FileSystem::CRestoreByJob(false);
  EXPECT_FALSE(coordinator->isBackupJob());
  EXPECT_FALSE(coordinator->isArchiveIndexRequired());
  auto* restore = dynamic_cast<TQDC_FileSystem::CRestore*>(coordinator);
  ASSERT_NE(restore, nullptr);
  EXPECT_FALSE(restore->isCleanupRestore());
  delete coordinator;
}

TEST(FrameworkObjects, RestoreTaskCompletionCountsFinalStates) {
  TQDC_FileSystem::CRestore restore;
  EXPECT_TRUE(restore.IsAllTaskDone());
  EXPECT_TRUE(restore.IsAllTaskCompletedForCurrentPhase());
  const int finals[] = {TASK_COMPLETE, TASK_FAILED, TASK_FINAL};
  for (int status : finals) {
    TaskBasePtr task(new TaskBase());
    task->status = status;
    restore.addTask(task);
  }
  EXPECT_TRUE(restore.IsAllTaskDone());
  TaskBasePtr running(new TaskBase());
  running->status = TASK_RUNNING;
  restore.addTask(running);
  EXPECT_FALSE(restore.IsAllTaskDone());
  EXPECT_FALSE(restore.IsAllTaskCompletedForCurrentPhase());
  EXPECT_TRUE(restore.CanChangeTaskState(running, RESTORE_PHASE_REGULAR));

  TQDC_FileSystem::CTaskCreatePolicyPtr create;
  TQDC_FileSystem::CTaskAssignPolicyPtr assign;
  EXPECT_FALSE(restore.CreateTaskCreatePolicy(create).IsError());
  EXPECT_FALSE(restore.CreateTaskAssignPolicy(assign).IsError());
  EXPECT_TRUE(create);
  EXPECT_TRUE(assign);
}

TEST(FrameworkObjects, DistributedLauncherKeepsItsStart) {
  TQDC_FileSystem::CStartClientRestoreDistributed launcher(nullptr, nullptr, true, false);
  EXPECT_TRUE(launcher.getBaseFlag());
  ASSERT_FALSE(launcher.Initialize(64, 4711, "text", CProgramArgumentsPtr()).IsError());
  EXPECT_EQ(launcher.getAppType(), 64);
  EXPECT_EQ(launcher.getJobId(), 4711);
  EXPECT_EQ(launcher.getInitText(), "text");
  long toTime = 99;
  EXPECT_FALSE(launcher.getToTime(toTime, true).IsError());
  EXPECT_EQ(toTime, 99);
}

}  // namespace
