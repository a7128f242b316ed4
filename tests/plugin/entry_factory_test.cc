// The exported factories: which object each job kind gives, the kinds that
// give nothing, the browser's integer, and the scan-phase coordinator.

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraBackupCoordinator.h"
#include "browse/ClientBrowse.h"
#include "cleanup/CassandraPostOpCleanup.h"
#include "cleanup/CassandraPostOpCleanupController.h"
#include "entry/Scan.h"
#include "entry/library.h"
#include "logrestore/CassandraLogRestoresController.h"
#include "logrestore/CassandraLogRestoresCoordinator.h"
#include "platform/framework/FSRestoreByJobController.h"
#include "platform/framework/RestoreByJob.h"
#include "platform/msg/FrameworkRecords.h"
#include "restore/CassandraRestoresController.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace {

using DistributedQEL::CController;
using DistributedQEL::ICoordinator;

std::unique_ptr<ICoordinator> Coordinator(const char* kind) {
  return std::unique_ptr<ICoordinator>(createICoordinatorInstance(kind));
}
std::unique_ptr<CController> Controller(const char* kind) {
  return std::unique_ptr<CController>(createIControllerInstance(kind));
}

// -1: not a restore coordinator; else the flag its framework base was built with.
int RestoreFlag(ICoordinator* coordinator) {
  auto* restore = dynamic_cast<TQDC_FileSystem::CRestore*>(coordinator);
  return restore ? static_cast<int>(restore->isCleanupRestore()) : -1;
}

struct CoordinatorCase {
  const char* kind;
  std::type_index type;
  int restoreFlag;
};

TEST(Factories, EveryCoordinatorKindGivesItsClass) {
  const CoordinatorCase cases[] = {
      {"scan", typeid(TQCassandra::CScan), -1},
      {"backup", typeid(TQCassandra::CassandraBackupCoordinator), -1},
      {"postop", typeid(TQCassandra::CassandraPostOpCleanup), -1},
      {"restore", typeid(TQCassandra::CCassandraRestores), 0},
      {"CassandraLogRestore", typeid(TQCassandra::CCassandraLogRestores), 0},
      {"ifrestore", typeid(TQDC_FileSystem::CRestoreByJob), 0},
      {"cleanup", typeid(TQDC_FileSystem::CRestore), 1},
  };
  for (const CoordinatorCase& c : cases) {
    SCOPED_TRACE(c.kind);
    std::unique_ptr<ICoordinator> coordinator = Coordinator(c.kind);
    ASSERT_NE(coordinator, nullptr);
    // The exact class, not merely one derived from it.
    EXPECT_EQ(std::type_index(typeid(*coordinator)), c.type);
    EXPECT_EQ(RestoreFlag(coordinator.get()), c.restoreFlag);
  }
}

struct ControllerCase {
  const char* kind;
  std::type_index type;
};

TEST(Factories, EveryControllerKindGivesItsClass) {
  const ControllerCase cases[] = {
      {"backup", typeid(TQCassandra::CassandraBackupController)},
      {"postop", typeid(TQCassandra::CassandraPostOpCleanupController)},
      {"restore", typeid(TQCassandra::CCassandraRestoreController)},
      {"CassandraLogRestore", typeid(TQCassandra::CCassandraLogRestoreController)},
      {"ifrestore", typeid(TQDC_FileSystem::CFSRestoreByJobController)},
  };
  for (const ControllerCase& c : cases) {
    SCOPED_TRACE(c.kind);
    std::unique_ptr<CController> controller = Controller(c.kind);
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(std::type_index(typeid(*controller)), c.type);
  }
}

TEST(Factories, ScanAndCleanupHaveNoController) {
  for (const char* kind : {"scan", "cleanup"}) {
    SCOPED_TRACE(kind);
    EXPECT_NE(Coordinator(kind), nullptr);
    EXPECT_EQ(Controller(kind), nullptr);
  }
}

TEST(Factories, KindsAreComparedByteForByte) {
  const char* kinds[] = {"Backup",
                         " backup",
                         "backup ",
                         "backup\n",
                         "",
                         "BACKUP",
                         "Restore",
                         "restore\t",
                         "ifRestore",
                         "Scan",
                         "scan\n",
                         "Cleanup",
                         "postOp",
                         "post op",
                         "cassandralogrestore",
                         "CassandraLogRestore ",
                         "backupx",
                         "backu"};
  for (const char* kind : kinds) {
    SCOPED_TRACE(std::string("[") + kind + "]");
    EXPECT_EQ(Coordinator(kind), nullptr);
    EXPECT_EQ(Controller(kind), nullptr);
  }
}

TEST(Factories, NullKindGivesNothing) {
  EXPECT_EQ(Coordinator(nullptr), nullptr);
  EXPECT_EQ(Controller(nullptr), nullptr);
}

TEST(Factories, EachCallMakesAFreshObject) {
  for (const char* kind : {"backup", "restore", "CassandraLogRestore", "postop"}) {
    SCOPED_TRACE(kind);
    std::unique_ptr<ICoordinator> a = Coordinator(kind), b = Coordinator(kind);
    EXPECT_NE(a.get(), b.get());
    std::unique_ptr<CController> c = Controller(kind), d = Controller(kind);
    EXPECT_NE(c.get(), d.get());
  }
}

TEST(Factories, BrowserKeepsTheFactoryInteger) {
  for (int value : {0, -1, INT_MIN, 12345, INT_MAX}) {
    SCOPED_TRACE(value);
    std::unique_ptr<DistributedQEL::IClientBrowse> browser(createClientBrowseInstance(value));
    ASSERT_NE(browser, nullptr);
    auto* cassandra = dynamic_cast<TQCassandra::CClientBrowse*>(browser.get());
    ASSERT_NE(cassandra, nullptr);
    EXPECT_EQ(cassandra->getFactoryValue(), value);
  }
}

TEST(ScanCoordinator, SkipsItsPhaseAndHandsOutNoTask) {
  std::unique_ptr<ICoordinator> scan = Coordinator("scan");
  ASSERT_NE(scan, nullptr);
  EXPECT_TRUE(scan->isBackupJob());
  EXPECT_TRUE(scan->shouldSkipThisPhase());
  EXPECT_FALSE(scan->shouldExecCommand());
  EXPECT_EQ(scan->getNodeCommandName(), "");

  DistributedQEL::CNodeInfoPtr node;
  DistributedQEL::CStreamInfoPtr stream;
  DistributedQEL::TaskInfoPtr none;
  EXPECT_FALSE(scan->getTask(node, stream, none).IsError());
  EXPECT_FALSE(none);

  // A task information the caller already holds is left as it is.
  DistributedQEL::TaskInfoPtr held(new DistributedQEL::TaskInfo());
  DistributedQEL::TaskInfo* before = held.get();
  held->setPayload("7|-1");
  std::string xmlBefore, xmlAfter;
  ASSERT_EQ(held->serialize(xmlBefore), 0);
  EXPECT_FALSE(scan->getTask(node, stream, held).IsError());
  EXPECT_EQ(held.get(), before);
  ASSERT_EQ(held->serialize(xmlAfter), 0);
  EXPECT_EQ(xmlAfter, xmlBefore);

  DistributedQEL::TaskBasePtr task;
  EXPECT_FALSE(scan->OnTaskComplete(task, nullptr).IsError());
}

}  // namespace
