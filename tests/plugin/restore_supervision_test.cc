// The restore coordinator while the phase runs: the idle pass that truncates
// the restored tables and stops the nodes, the hand-over of freed workers,
// node changes, the controllers' messages and done reports, and the task
// questions of the framework.

#include <gtest/gtest.h>

#include "RestoreSupervisionFixture.h"

namespace restoretest {
namespace {

using DistributedQEL::NODE_RUNNING;
using DistributedQEL::NODE_STOPPED;
using DistributedQEL::NODE_STOPPING;
using DistributedQEL::TASK_COMPLETE;
using DistributedQEL::TASK_FAILED;
using DistributedQEL::TASK_FINAL;
using DistributedQEL::TASK_NEW;
using DistributedQEL::TASK_RUNNING;

std::string Body(const std::string& keyspace, const std::string& table) {
  return "{\"keyspace\":\"" + keyspace + "\",\"table\":\"" + table + "\"}";
}

TEST_F(SupervisionTest, TruncatesEveryRestoredTableButSystemOnesThenStopsEveryNode) {
  SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
  c.recover = true;
  Task(1, "n1", TASK_COMPLETE);
  Task(2, "n2", TASK_COMPLETE);
  Schemas({{"system_auth", {"roles"}},
           {"systemx", {"a"}},
           {"dse_security", {"b"}},
           {"mysystem", {"c"}},
           {"shop", {"orders", "items"}}});
  StartPriam();
  Counters(10, 2, 12);
  CLogCapture log;

  c.OnIdle();

  // Key order of the schemas, each keyspace's tables in name order.
  EXPECT_EQ(TruncateBodies(),
            (std::vector<std::string>{Body("mysystem", "c"), Body("shop", "items"),
                                      Body("shop", "orders")}));
  for (const char* ks : {"system_auth", "systemx", "dse_security"}) {
    EXPECT_TRUE(
        log.Contains(std::string("System created keyspace. Not truncating tables under ") + ks));
  }
  EXPECT_TRUE(log.Contains("All nodes completed data restore. Truncating the tables"));
  EXPECT_TRUE(log.Contains("Truncating table shop:orders"));
  EXPECT_TRUE(log.Contains("Successfully truncated table shop.orders"));
  EXPECT_EQ(Stopped(), (std::vector<std::string>{"n1", "n2"}));
  EXPECT_EQ(Node("n1")->getState(), NODE_STOPPING);
  EXPECT_EQ(Node("n2")->getState(), NODE_STOPPING);
  EXPECT_TRUE(c.truncateFailures.empty());
  EXPECT_TRUE(c.truncationSkipped.empty());

  // Later passes neither truncate nor stop again.
  c.OnIdle();
  EXPECT_EQ(TruncateBodies().size(), 3u);
  EXPECT_EQ(Stopped().size(), 2u);
}

TEST_F(SupervisionTest, WhetherAnIdlePassTruncatesAndStops) {
  struct Case {
    const char* name;
    int secondTask;
    bool logRestore, stageFree, loader, recover, ready;
    long long restored;  // of 5 items, none skipped
    size_t truncations;
    bool stops;
    bool skipped;  // the job is to end pending
  } cases[] = {
      {"all complete, counts agree", TASK_COMPLETE, false, false, false, true, true, 5, 1, true,
       false},
      {"a failed task keeps the tables", TASK_FAILED, false, false, false, true, true, 4, 0, true,
       false},
      {"a running task waits", TASK_RUNNING, false, false, false, true, true, 4, 0, false, false},
      {"not ready yet", TASK_COMPLETE, false, false, false, true, false, 5, 0, false, false},
      {"counts disagree in place", TASK_COMPLETE, false, false, false, true, true, 4, 0, true,
       true},
      {"loader needs no count", TASK_COMPLETE, false, false, true, true, true, 4, 1, true, false},
      {"stage-free needs no count", TASK_COMPLETE, false, true, false, true, false, 4, 1, true,
       false},
      {"point-in-time never truncates", TASK_COMPLETE, true, false, false, true, true, 5, 0, true,
       false},
      {"staged files reach no table", TASK_COMPLETE, false, false, false, false, true, 5, 0, true,
       false},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    priamScript_.reset();
    scripted_.reset();
    SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
    c.isLogRestore = k.logRestore;
    c.stageFreeRestore = k.stageFree;
    c.useSSTableLoader = k.loader;
    c.recover = k.recover;
    c.setReady(k.ready);
    Task(1, "n1", TASK_COMPLETE);
    Task(2, "n2", k.secondTask);
    Schemas({{"shop", {"orders"}}});
    StartPriam();
    Counters(k.restored, 0, 5);
    CLogCapture log;

    c.OnIdle();

    EXPECT_EQ(TruncateBodies().size(), k.truncations);
    EXPECT_EQ(Stopped().size(), k.stops ? 2u : 0u);
    EXPECT_EQ(!c.truncationSkipped.empty(), k.skipped) << c.truncationSkipped;
    if (k.skipped) {
      EXPECT_TRUE(log.Contains("Truncating tables"));
      EXPECT_TRUE(log.Contains(
          "Not truncating tables as 4 items restored and 0 skipped do not make the 5 items to "
          "restore"));
    }
    if (k.secondTask == TASK_FAILED) {
      EXPECT_TRUE(log.Contains("Not truncating tables as some restore tasks failed"));
      EXPECT_FALSE(c.truncateTables);
    }
    if (k.secondTask == TASK_RUNNING) {
      EXPECT_TRUE(log.Contains("Not sending NodeStop as some nodes are in non terminal state"));
    }
  }
}

// Idle passes come many times a second: the wait for unfinished tasks is
// logged at the default level once for each set of nodes it waits for.
TEST_F(SupervisionTest, TheWaitForUnfinishedTasksIsLoggedOncePerChangeOfItsNodes) {
  SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
  Task(1, "n1", TASK_RUNNING);
  DistributedQEL::TaskBasePtr second = Task(2, "n2", TASK_COMPLETE);
  const std::string wait = "Not sending NodeStop as some nodes are in non terminal state";
  CLogCapture log;
  auto waits = [&] {
    int n = 0;
    for (const std::string& text : log.Texts(0)) n += text == wait ? 1 : 0;
    return n;
  };

  for (int pass = 0; pass < 5; ++pass) c.OnIdle();
  EXPECT_EQ(waits(), 1);
  // A task of another node still runs: the set changed.
  second->status = TASK_RUNNING;
  for (int pass = 0; pass < 5; ++pass) c.OnIdle();
  EXPECT_EQ(waits(), 2);
  EXPECT_TRUE(Stopped().empty());
}

TEST_F(SupervisionTest, ANodeThatStoppedOnItsOwnDoesNotKeepTheOthersRunning) {
  SupervisionProbe& c =
      Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_STOPPED}, {"n3", NODE_RUNNING}});
  c.recover = true;
  Task(1, "n1", TASK_COMPLETE);
  Task(2, "n2", TASK_COMPLETE);
  Task(3, "n3", TASK_RUNNING);
  Schemas({{"shop", {"orders"}}});
  StartPriam();
  Counters(3, 0, 3);

  c.OnIdle();  // a task still runs
  EXPECT_TRUE(Stopped().empty());

  probe_->getTaskList()[2]->status = TASK_COMPLETE;
  c.OnIdle();
  EXPECT_EQ(Stopped(), (std::vector<std::string>{"n1", "n3"}));
  EXPECT_EQ(Node("n2")->getState(), NODE_STOPPED);
  // n2 may have loaded its data already: nothing is truncated, and the job
  // is to end pending with the reason.
  EXPECT_TRUE(TruncateBodies().empty());
  EXPECT_EQ(c.truncationSkipped, "node n2 stopped before the tables were truncated");

  c.OnIdle();
  EXPECT_EQ(Stopped().size(), 2u);
}

TEST_F(SupervisionTest, AFailedSendStillMarksTheNodeAsToldToStop) {
  SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
  c.truncateTables = false;
  Task(1, "n1", TASK_COMPLETE);
  services_->failSendsTo("n1", FXErrorUtil::ErrorWin32(FXLOC, 64, "n1 is gone"));
  CLogCapture log;
  c.OnIdle();
  EXPECT_EQ(Node("n1")->getState(), NODE_STOPPING);
  EXPECT_EQ(Node("n2")->getState(), NODE_STOPPING);
  EXPECT_EQ(Stopped(), std::vector<std::string>{"n2"});  // the send to n1 failed
  EXPECT_TRUE(log.Contains("n1 is gone"));
}

TEST_F(SupervisionTest, TruncationFailuresAreKeptAndTheOtherTablesStillTruncated) {
  SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}});
  c.recover = true;
  Task(1, "n1", TASK_COMPLETE);
  Schemas({{"shop", {"a", "b", "c"}}});
  StartPriam();
  Counters(1, 0, 1);
  // "TruncateTable" answers by body: scripted per resource, so fail every
  // call and look at what is kept.
  priamScript_->SetError("TruncateTable", FXErrorUtil::ErrorWin32(FXLOC, 1627, "failed"),
                         "Cannot achieve consistency level ALL");
  CLogCapture log;
  c.OnIdle();
  EXPECT_EQ(TruncateBodies().size(), 3u);
  EXPECT_EQ(c.truncateFailures, (std::vector<std::string>{"shop.a", "shop.b", "shop.c"}));
  EXPECT_TRUE(log.Contains("Will still continue restoring"));
  EXPECT_TRUE(log.Contains("Response: Cannot achieve consistency level ALL"));
  EXPECT_EQ(Stopped().size(), 1u);
}

TEST_F(SupervisionTest, TruncateTableOutcomes) {
  struct Case {
    const char* name;
    int outcome;  // 0 success, 1 error, 2 access denied
    const char* reply;
    bool kept;
    const char* log;
    bool accessEvent;
  } cases[] = {
      {"success", 0, "", false, "Successfully truncated table ks.t", false},
      {"missing table", 1, "Table ks.t does not exist", false, "table does not exist", false},
      {"other failure", 1, "timeout", true, "Failed to truncate table ks.t.", false},
      {"access denied", 2, "", true, "Failed to truncate table ks.t.", true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    priamScript_.reset();
    scripted_.reset();
    CEventJournal::Instance().Clear();
    SupervisionProbe& c = Coordinator({});
    StartPriam();
    if (k.outcome == 1) {
      priamScript_->SetError("TruncateTable", FXErrorUtil::ErrorWin32(FXLOC, 1627, "x"), k.reply);
    } else if (k.outcome == 2) {
      priamScript_->SetAccessDenied("TruncateTable");
    }
    CLogCapture log;
    EXPECT_FALSE(c.cassTruncateTable("ks", "t").IsError());
    EXPECT_EQ(TruncateBodies(), std::vector<std::string>{Body("ks", "t")});
    EXPECT_EQ(c.truncateFailures.size(), k.kept ? 1u : 0u);
    EXPECT_TRUE(log.Contains(k.log));
    EXPECT_EQ(Events(kEvPriamAccessDenied).size(), k.accessEvent ? 1u : 0u);
  }
}

// Quoted identifiers may hold any character: the body carries each name as
// one JSON string, so that no name can add or replace a member and truncate
// a table of another keyspace.
TEST_F(SupervisionTest, TruncateBodyCarriesEachNameAsOneValue) {
  struct Case {
    const char* name;
    std::string keyspace;
    std::string table;
    std::string body;
  } cases[] = {
      {"a table naming another keyspace", "ks1", "t1\",\"keyspace\":\"ks2",
       R"({"keyspace":"ks1","table":"t1\",\"keyspace\":\"ks2"})"},
      {"a keyspace closing the object", "ks\"}", "t", R"({"keyspace":"ks\"}","table":"t"})"},
      {"backslash and control characters", "k\\s", "t\n\x01",
       R"({"keyspace":"k\\s","table":"t\n\u0001"})"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    priamScript_.reset();
    scripted_.reset();
    SupervisionProbe& c = Coordinator({});
    StartPriam();
    EXPECT_FALSE(c.cassTruncateTable(k.keyspace, k.table).IsError());
    EXPECT_EQ(TruncateBodies(), std::vector<std::string>{k.body});
    EXPECT_TRUE(c.truncateFailures.empty());
  }
}

// A name that is not UTF-8 cannot be carried unchanged: nothing is sent and
// the table counts as not truncated.
TEST_F(SupervisionTest, ANameThatIsNotTextIsNotTruncated) {
  SupervisionProbe& c = Coordinator({});
  StartPriam();
  CLogCapture log;
  EXPECT_FALSE(c.cassTruncateTable("ks", "t\xff").IsError());
  EXPECT_TRUE(TruncateBodies().empty());
  EXPECT_EQ(c.truncateFailures, std::vector<std::string>{"ks.t\xff"});
  EXPECT_TRUE(log.Contains("Failed to truncate table ks.t"));
}

TEST_F(SupervisionTest, FreedWorkersAreSpreadOverTheRunningNodes) {
  struct Case {
    uint32_t workers;
    int running;
    std::vector<std::pair<std::string, int>> given;
    uint32_t left;
  } cases[] = {
      {7, 3, {{"r1", 3}, {"r2", 2}, {"r3", 2}}, 0},
      {2, 5, {{"r1", 1}, {"r2", 1}}, 0},
      {6, 3, {{"r1", 2}, {"r2", 2}, {"r3", 2}}, 0},
      {4, 0, {}, 4},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.workers) + " over " + std::to_string(k.running));
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    std::vector<std::pair<std::string, int>> nodes = {{"done", NODE_STOPPED}};
    for (int i = 1; i <= k.running; ++i) nodes.push_back({"r" + std::to_string(i), NODE_RUNNING});
    SupervisionProbe& c = Coordinator(nodes);
    Task(1, "r1", TASK_RUNNING);  // no stop in this pass
    for (int i = 1; i <= k.running; ++i) Node("r" + std::to_string(i))->setNodeWorkersLimit(2);
    c.workersToReassign = k.workers;
    CLogCapture log;

    c.OnIdle();

    EXPECT_EQ(Workers(), k.given);
    for (const auto& g : k.given) EXPECT_EQ(Node(g.first)->getNodeWorkersLimit(), 2 + g.second);
    EXPECT_EQ(c.workersToReassign, k.left);
    EXPECT_TRUE(log.Contains("Workers to reassign: " + std::to_string(k.workers)));
    EXPECT_EQ(log.Contains(std::to_string(k.workers) +
                           " workers from completed nodes are assigned to active nodes"),
              k.left == 0);
  }
}

TEST_F(SupervisionTest, AFailedAddWorkerStillRaisesTheLimit) {
  SupervisionProbe& c = Coordinator({{"r1", NODE_RUNNING}});
  Task(1, "r1", TASK_RUNNING);
  services_->setAddWorkerResult(FXErrorUtil::ErrorWin32(FXLOC, 1450, "no worker slot"));
  c.workersToReassign = 2;
  CLogCapture log;
  c.OnIdle();
  EXPECT_EQ(Workers(), (std::vector<std::pair<std::string, int>>{{"r1", 2}}));
  EXPECT_EQ(Node("r1")->getNodeWorkersLimit(), 2);
  EXPECT_EQ(c.workersToReassign, 0u);
  EXPECT_TRUE(log.Contains("no worker slot"));
}

TEST_F(SupervisionTest, AStoppedNodesWorkersAreCountedOnceAndGoOnlyToNodesStillRunning) {
  SupervisionProbe& c =
      Coordinator({{"a", NODE_RUNNING}, {"b", NODE_RUNNING}, {"c", NODE_RUNNING}});
  c.truncateTables = false;
  Node("a")->setNodeWorkersLimit(3);
  Node("a")->setState(NODE_STOPPED);
  DistributedQEL::TakeAction action;
  CLogCapture log;
  ASSERT_FALSE(c.OnNodeChange(Node("a"), action).IsError());
  ASSERT_FALSE(c.OnNodeChange(Node("a"), action).IsError());  // reported again
  EXPECT_EQ(c.workersToReassign, 3u);
  EXPECT_TRUE(log.Contains("Node a stopped, Workers to reassign: 3, Total workers to reassign: 3"));

  // Every task has ended: this pass stops b and c, so nobody takes workers.
  Task(1, "b", TASK_COMPLETE);
  c.OnIdle();
  EXPECT_EQ(Stopped(), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(Workers().empty());
  EXPECT_EQ(c.workersToReassign, 3u);
}

TEST_F(SupervisionTest, ANodeThatFailedToStartFailsItsUnfinishedTasks) {
  SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
  auto running = Task(1, "n1", TASK_RUNNING);
  auto fresh = Task(2, "n1", TASK_NEW);
  auto done = Task(3, "n1", TASK_COMPLETE);
  auto final = Task(4, "n1", TASK_FINAL);
  auto other = Task(5, "n2", TASK_RUNNING);
  Node("n1")->setNodeWorkersLimit(4);
  Node("n1")->setStartFailed(true);
  Node("n1")->setState(NODE_STOPPED);
  DistributedQEL::TakeAction action;
  ASSERT_FALSE(c.OnNodeChange(Node("n1"), action).IsError());
  EXPECT_EQ(running->status, TASK_FAILED);
  EXPECT_EQ(fresh->status, TASK_FAILED);
  EXPECT_EQ(done->status, TASK_COMPLETE);
  EXPECT_EQ(final->status, TASK_FINAL);
  EXPECT_EQ(other->status, TASK_RUNNING);
  EXPECT_EQ(c.workersToReassign, 0u);  // its workers never ran
  // With tasks their failure tells; the node is no failed initialisation.
  EXPECT_FALSE(c.controllerInitFailed);
}

// A stage-free restore has no tasks: a node that never started loaded
// nothing, and the completion finds it recorded.
TEST_F(SupervisionTest, ANodeThatFailedToStartAStageFreeRestoreIsRecorded) {
  for (bool startFailed : {false, true}) {
    SCOPED_TRACE(startFailed);
    SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
    c.stageFreeRestore = true;
    Node("n1")->setStartFailed(startFailed);
    Node("n1")->setState(NODE_STOPPED);
    CLogCapture log;
    DistributedQEL::TakeAction action;
    ASSERT_FALSE(c.OnNodeChange(Node("n1"), action).IsError());
    EXPECT_EQ(c.controllerInitFailed, startFailed);
    EXPECT_EQ(log.Contains("Node n1 failed to start: nothing is loaded on it"), startFailed);
  }
}

TEST_F(SupervisionTest, AFailedReloadStaysRecordedWhateverFollows) {
  struct Case {
    int64_t first, second;
    bool failed;
  } cases[] = {{1, 0, true}, {0, 1, true}, {0, 0, false}};
  for (const auto& k : cases) {
    SupervisionProbe& c = Coordinator({});
    for (int64_t value : {k.first, k.second}) {
      DistributedQEL::AgentStoppedStatus status;
      status.setFailed(value);
      EXPECT_FALSE(c.processMessage(status).IsError());
    }
    EXPECT_EQ(c.reloadFailed, k.failed) << k.first << "," << k.second;
  }
  // Other messages go to the base, which takes them.
  SupervisionProbe& c = Coordinator({});
  EXPECT_FALSE(c.processMessage(DistributedQEL::NodeStop()).IsError());
  EXPECT_FALSE(c.reloadFailed);
}

TEST_F(SupervisionTest, AControllerThatFailedToInitialiseFailsItsTasks) {
  SupervisionProbe& c = Coordinator({{"n1", NODE_RUNNING}, {"n2", NODE_RUNNING}});
  auto mine = Task(7, "n1", TASK_NEW);
  auto done = Task(8, "n1", TASK_COMPLETE);
  auto other = Task(9, "n2", TASK_NEW);
  DistributedQEL::ControllerDone report;
  report.setResult(2);
  auto node = Node("n1");
  c.ControllerDone(node, &report);
  EXPECT_FALSE(c.controllerInitFailed);
  EXPECT_EQ(mine->status, TASK_NEW);

  CLogCapture log;
  report.setResult(3);
  c.ControllerDone(node, &report);
  EXPECT_TRUE(c.controllerInitFailed);
  EXPECT_EQ(mine->status, TASK_FAILED);
  EXPECT_EQ(done->status, TASK_COMPLETE);
  EXPECT_EQ(other->status, TASK_NEW);
  EXPECT_TRUE(log.Contains("Node n1 failed to initialize"));
  EXPECT_TRUE(log.Contains("Controller n1 failed. Marking task 7 failed"));
}

TEST_F(SupervisionTest, AResumedStageFreeRestoreIgnoresItsRestartEntries) {
  for (bool stageFree : {false, true}) {
    SupervisionProbe& c = Coordinator({});
    c.stageFreeRestore = stageFree;
    std::list<TQDC_FileSystem::RestartInfo> entries(1);
    entries.front().taskId = 4;
    EXPECT_FALSE(c.ProcessRestartString(entries).IsError());
    EXPECT_EQ(c.getRestartInfo().size(), stageFree ? 0u : 1u);
  }
}

TEST_F(SupervisionTest, TaskQuestionsOfTheFramework) {
  SupervisionProbe& c = Coordinator({});
  EXPECT_TRUE(c.IsAllTaskCompletedForCurrentPhase());  // no task
  EXPECT_FALSE(c.ShouldCreateWaitTask());

  auto extent = Task(1, "n1", TASK_RUNNING, 1);
  auto regular = Task(2, "n1", TASK_COMPLETE, 0);
  auto failedFiles = Task(3, "n1", TASK_FAILED, 3);
  // The regular phase does not wait for the extent task, the extent phase
  // only for it.
  EXPECT_TRUE(c.IsAllTaskCompletedForCurrentPhase());
  c.setCurrentPhase(DistributedQEL::RESTORE_PHASE_FILE_EXTENT);
  EXPECT_FALSE(c.IsAllTaskCompletedForCurrentPhase());
  c.setCurrentPhase(DistributedQEL::RESTORE_PHASE_REGULAR);
  auto deleted = Task(4, "n1", TASK_NEW, 2);
  EXPECT_FALSE(c.IsAllTaskCompletedForCurrentPhase());
  EXPECT_TRUE(c.ShouldCreateWaitTask());

  for (int status : {TASK_COMPLETE, TASK_FAILED, TASK_FINAL}) {
    deleted->status = status;
    EXPECT_FALSE(c.CanChangeTaskState(deleted, DistributedQEL::RESTORE_PHASE_REGULAR)) << status;
  }
  EXPECT_TRUE(c.IsAllTaskCompletedForCurrentPhase());
  EXPECT_TRUE(c.ShouldCreateWaitTask());  // the extent task still runs
  EXPECT_TRUE(c.CanChangeTaskState(extent, DistributedQEL::RESTORE_PHASE_REGULAR));
}

}  // namespace
}  // namespace restoretest
