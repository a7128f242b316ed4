// The restore coordinator at the end of the phase: the job status of a
// restore with tasks and of a stage-free one (from the values the phase
// starts with on), the deferred view statements, the share, and the removal
// of replaced nodes from the destination instance.

#include <gtest/gtest.h>

#include "RestoreSupervisionFixture.h"

namespace restoretest {
namespace {

constexpr uint32_t kClusterInstanceProcedure = 0x1E4FDD52;

class CompleteTest : public SupervisionTest {
 protected:
  // A stand-in for the file-server client of a stage-free restore: only its
  // presence is looked at here.
  boost::shared_ptr<Zelk::ZelkConfigClient> FakeZelkClient() {
    return boost::shared_ptr<Zelk::ZelkConfigClient>(
        reinterpret_cast<Zelk::ZelkConfigClient*>(&zelkMarker_), [](Zelk::ZelkConfigClient*) {});
  }
  void Quit(SupervisionProbe& c) {
    TQJobCtrlClientPtr control(new TQJobCtrlClient(77));
    control->setQuitFlag(true);
    c.setJobCtrlClient(control);
  }

  // A node map entry: source and target by client name and container name.
  static App::CassandraDockerClientMap Entry(const std::string& sourceClient,
                                             const std::string& targetClient,
                                             const std::string& sourceContainer = "",
                                             const std::string& targetContainer = "") {
    auto side = [](const std::string& client, const std::string& container) {
      TqEntities::ClientEntity entity;
      entity.setClientName(client);
      App::CassandraClientMapEntity side;
      side.setClient(entity);
      if (!container.empty()) side.setContainerName(container);
      return side;
    };
    App::CassandraDockerClientMap entry;
    entry.setSource(side(sourceClient, sourceContainer));
    entry.setTarget(side(targetClient, targetContainer));
    return entry;
  }
  // The stored nodes as "<client>@<address>".
  std::vector<std::string> StoredNames() {
    std::vector<std::string> out;
    for (const auto& n : StoredNodes()) out.push_back(n.getClientName() + "@" + n.getAddress());
    return out;
  }

  int zelkMarker_ = 0;
};

TEST_F(CompleteTest, StatusOfARestoreWithTasks) {
  struct Case {
    const char* name;
    int status, flag;  // as the phase left them before OnComplete
    bool reloadFailed, quit, failedTask, initFailed, truncationSkipped, viewFails;
    int endStatus, endFlag;
    bool finishes;  // deferred views and node removal run
  } cases[] = {
      {"nothing recorded", 0, 0, false, false, false, false, false, false, 0, 0, true},
      {"success set", 1, 1, false, false, false, false, false, false, 1, 1, true},
      {"failed set", 2, 1, false, false, false, false, false, false, 2, 1, false},
      {"failed set, reload failed", 2, 1, true, false, false, false, false, false, 3, 1, true},
      {"reload failed", 0, 0, true, false, false, false, false, false, 3, 1, true},
      {"reload failed and quit", 0, 0, true, true, false, false, false, false, 2, 1, false},
      {"quit", 1, 1, false, true, false, false, false, false, 2, 1, false},
      {"a task failed", 0, 0, false, false, true, false, false, false, 0, 0, false},
      {"controller init failed alone", 0, 0, false, false, false, true, false, false, 0, 0, true},
      {"truncation skipped", 0, 0, false, false, false, false, true, false, 3, 1, true},
      {"deferred views failed", 0, 0, false, false, false, false, false, true, 3, 1, true},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    SupervisionProbe& c = Coordinator({});
    c.setJobStatus(k.status);
    c.setStatusSetFlag(k.flag);
    c.reloadFailed = k.reloadFailed;
    c.controllerInitFailed = k.initFailed;
    if (k.quit) Quit(c);
    Task(1, "n1", k.failedTask ? DistributedQEL::TASK_FAILED : DistributedQEL::TASK_COMPLETE);
    if (k.truncationSkipped)
      c.truncationSkipped = "node n2 stopped before the tables were truncated";
    if (k.viewFails) c.deferredFailures = {"CREATE MATERIALIZED VIEW ks.v AS SELECT"};
    c.replaceDeadNode = true;
    c.fakeRemoveDeadNode = true;
    CLogCapture log;

    EXPECT_FALSE(c.OnComplete().IsError());

    EXPECT_EQ(c.getJobStatus(), k.endStatus);
    EXPECT_EQ(c.getStatusSetFlag(), k.endFlag);
    EXPECT_EQ(c.deferredCalls, k.finishes ? 1 : 0);
    EXPECT_EQ(c.removeDeadNodeCalls, k.finishes ? 1 : 0);
    EXPECT_EQ(c.shareDeletions, 0);
    EXPECT_EQ(log.Contains("Marking job pending as reload of tables failed on atleast one node"),
              k.reloadFailed);
    EXPECT_EQ(log.Contains("Phase will be marked Failed since QuitFlag detected"), k.quit);
    if (k.truncationSkipped) {
      EXPECT_TRUE(
          log.Contains("Marking job pending as tables were not truncated: node n2 stopped "
                       "before the tables were truncated"));
    }
    if (k.viewFails) {
      EXPECT_TRUE(
          log.Contains("Marking job pending as deferred view statements failed: CREATE "
                       "MATERIALIZED VIEW ks.v AS SELECT"));
    }
  }
}

TEST_F(CompleteTest, WithoutReplaceDeadNodeTheNodeListIsNeverTouched) {
  SupervisionProbe& c = Coordinator({});
  c.fakeRemoveDeadNode = true;
  EXPECT_FALSE(c.OnComplete().IsError());
  EXPECT_EQ(c.deferredCalls, 1);
  EXPECT_EQ(c.removeDeadNodeCalls, 0);
}

TEST_F(CompleteTest, TruncationFailuresLeaveTheJobPendingNamingTheTables) {
  SupervisionProbe& c = Coordinator({});
  c.truncateFailures = {"shop.orders", "shop.items"};
  CLogCapture log;
  EXPECT_FALSE(c.OnComplete().IsError());
  EXPECT_EQ(c.getJobStatus(), 3);
  EXPECT_EQ(c.getStatusSetFlag(), 1);
  EXPECT_TRUE(log.Contains(
      "Marking job pending as tables could not be truncated: shop.orders, shop.items"));
}

TEST_F(CompleteTest, StatusOfAStageFreeRestore) {
  const CQiError deletionError = FXErrorUtil::ErrorWin32(FXLOC, 1168, "share gone");
  struct Case {
    const char* name;
    int status, flag;
    bool quit, client;
    uint32_t share;
    bool reloadFailed, initFailed, deletionFails, truncationFails, viewFails;
    int endStatus, endFlag;
    int deletions, deferred;
    bool returnsError;
    const char* log;
  } cases[] = {
      {"nothing set yet, clean", 0, 0, false, true, 9, false, false, false, false, false, 1, 1, 1,
       1, false, ""},
      {"set at start-up", 2, 2, false, true, 9, false, false, false, false, false, 2, 2, 0, 0,
       false, "Job status already updated"},
      {"success with flag 2", 1, 2, false, true, 9, false, false, false, false, false, 1, 1, 1, 1,
       false, ""},
      {"failed with flag 1", 2, 1, false, true, 9, false, false, false, false, false, 1, 1, 1, 1,
       false, ""},
      // Only start-up's flag 2 settles the status; no other value does.
      {"failed without flag", 2, 0, false, true, 9, false, false, false, false, false, 1, 1, 1, 1,
       false, ""},
      {"pending with flag 3", 3, 3, false, true, 9, false, false, false, false, false, 1, 1, 1, 1,
       false, ""},
      {"set at start-up, then quit", 2, 2, true, true, 9, false, false, false, false, false, 2, 2,
       0, 0, false, "Job status already updated"},
      // The share is deleted also after a stop.
      {"quit", 0, 0, true, true, 9, false, false, false, false, false, 2, 1, 1, 0, false,
       "Phase will be marked Failed since QuitFlag detected"},
      {"no file-server client", 0, 0, false, false, 9, false, false, false, false, false, 2, 1, 0,
       0, false, "Marking job failure as ZelkConfigClient object was not created."},
      {"no share", 0, 0, false, true, 0, false, false, false, false, false, 2, 1, 0, 0, false,
       "Marking job failure as NFS share was not created"},
      {"reload failed", 0, 0, false, true, 9, true, false, false, false, false, 3, 1, 1, 0, false,
       "Marking job pending as reload of tables failed on atleast one node"},
      {"controller init failed, share not deleted", 0, 0, false, true, 9, false, true, true, false,
       false, 3, 1, 1, 0, true,
       "Marking job pending as reload of tables failed on atleast one node"},
      {"clean, share not deleted", 0, 0, false, true, 9, false, false, true, false, false, 1, 1, 1,
       1, false, ""},
      {"truncation failed", 0, 0, false, true, 9, false, false, false, true, false, 3, 1, 1, 1,
       false, "Marking job pending as tables could not be truncated: ks.t"},
      {"deferred views failed", 0, 0, false, true, 9, false, false, false, false, true, 3, 1, 1, 1,
       false, "Marking job pending as deferred view statements failed: CREATE MATERIALIZED VIEW"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    SupervisionProbe& c = Coordinator({});
    c.stageFreeRestore = true;
    c.setJobStatus(k.status);
    c.setStatusSetFlag(k.flag);
    if (k.quit) Quit(c);
    if (k.client) c.zelkConfigClient = FakeZelkClient();
    c.zelkShareId = k.share;
    c.reloadFailed = k.reloadFailed;
    c.controllerInitFailed = k.initFailed;
    if (k.deletionFails) c.shareDeletionResult = deletionError;
    if (k.truncationFails) c.truncateFailures = {"ks.t"};
    if (k.viewFails) c.deferredFailures = {"CREATE MATERIALIZED VIEW ks.v AS SELECT"};
    CLogCapture log;

    CQiError e = c.OnComplete();

    EXPECT_EQ(e.IsError(), k.returnsError) << e.AsString();
    if (k.returnsError) {
      EXPECT_EQ(e.GetMessage(), "share gone");
    }
    EXPECT_EQ(c.getJobStatus(), k.endStatus);
    EXPECT_EQ(c.getStatusSetFlag(), k.endFlag);
    EXPECT_EQ(c.shareDeletions, k.deletions);
    EXPECT_EQ(c.deferredCalls, k.deferred);
    if (*k.log) {
      EXPECT_TRUE(log.Contains(k.log)) << k.log;
    }
  }
}

TEST_F(CompleteTest, OnlyReplacedNodesLeaveTheInstance) {
  SupervisionProbe& c = Coordinator({});
  c.destInstanceId = Instance(
      InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1"), Node("n2", "10.0.0.2", "dc1"),
                                Node("n3", "10.0.0.3", "dc1"), Node("n3", "10.0.0.33", "dc1")}));
  // n1 restored onto itself (alive), n2 replaced by n4, both nodes of n3
  // replaced (one entry each).
  c.nodeMap = {Entry("n1", "n1"), Entry("n2", "n4"), Entry("n3", "n5"), Entry("n3", "n6")};
  CLogCapture log;
  App_ExecuteSP::ClearCalls();
  CQiError e = c.removeDeadNode();
  ASSERT_FALSE(e.IsError()) << e.AsString(2);
  auto calls = App_ExecuteSP::Calls();
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"n1@10.0.0.1"});
  EXPECT_TRUE(log.Contains("Set instance xml: "));
  // A get, then the set with operation 2 and the rest as the server gave it.
  ASSERT_EQ(calls.size(), 2u);
  App::DistributedClusterInstanceReq set;
  ASSERT_EQ(set.unserialize(calls.back().requestXml), 0);
  ASSERT_TRUE(set.getInstanceInfo());
  EXPECT_EQ(set.getInstanceInfo()->getOperation(), 2);
  EXPECT_EQ(set.getInstanceInfo()->getClusterType(), 9);
  EXPECT_EQ(set.getInstanceInfo()->getInstance()->getInstanceId(),
            static_cast<int64_t>(c.destInstanceId));
}

TEST_F(CompleteTest, ANodeNamedByItsAgentInstanceIsMatchedByContainerName) {
  SupervisionProbe& c = Coordinator({});
  c.destInstanceId = Instance(
      InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1"), Node("n1", "10.0.0.11", "dc1")}));
  EditInstance(c.destInstanceId, [](SInstanceRecord& r) {
    for (size_t i = 0; i < r.nodeXmls.size(); ++i) {
      App::CassandraNode node;
      ASSERT_EQ(node.unserialize(r.nodeXmls[i]), 0);
      node.setAgentInstanceName(i == 0 ? "n1_a" : "n1_b");
      ASSERT_EQ(node.serialize(r.nodeXmls[i]), 0);
    }
  });
  // The client name alone matches no node that has an agent instance name.
  c.nodeMap = {Entry("n1", "n9")};
  ASSERT_FALSE(c.removeDeadNode().IsError());
  EXPECT_EQ(StoredNodes().size(), 2u);
  c.nodeMap = {Entry("n1", "n9", "n1_b", "n9_a")};
  ASSERT_FALSE(c.removeDeadNode().IsError());
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"n1@10.0.0.1"});
}

TEST_F(CompleteTest, RemoveDeadNodeFailures) {
  SupervisionProbe& c = Coordinator({});
  c.destInstanceId = Instance(
      InstanceSettings("dest", {Node("n1", "10.0.0.1", "dc1"), Node("n2", "10.0.0.2", "dc1")}));
  c.nodeMap = {Entry("n2", "n4")};
  App::DistributedClusterInstanceResp empty;
  App::ClusterInstanceInfo info;
  info.setOperation(1);
  empty.setInstanceInfo(info);
  std::string emptyXml;
  ASSERT_EQ(empty.serialize(emptyXml), 0);

  struct Case {
    const char* name;
    std::function<void()> arrange;
    uint32_t code;
    std::string message;
  } cases[] = {
      {"get fails", [] { App_ExecuteSP::FailProcedure(kClusterInstanceProcedure, 5, "db down"); },
       13,
       "Stored procedure to get instance properties failed with an error [5], response Str [db "
       "down]"},
      {"set fails",
       [] { App_ExecuteSP::FailProcedure(kClusterInstanceProcedure, 7, "read only", 1); }, 13,
       "Stored procedure to set instance properties failed with an error [7], response Str [read "
       "only]"},
      {"reply does not parse",
       [] { App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, "<not a reply"); }, 13,
       "Unserialize of Stored procedure response failed with an error 1"},
      {"reply without configuration",
       [&] { App_ExecuteSP::ReplyProcedure(kClusterInstanceProcedure, emptyXml); }, 87,
       "Null Cassandra config"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    App_ExecuteSP::ClearFailures();
    k.arrange();
    CQiError e = c.removeDeadNode();
    ASSERT_TRUE(e.IsError());
    EXPECT_TRUE(FXErrorUtil::IsWin32(e, k.code)) << e.AsString();
    EXPECT_EQ(e.GetMessage(), k.message);
    App_ExecuteSP::ClearFailures();
    EXPECT_EQ(StoredNodes().size(), 2u);  // unchanged
  }

  // At completion the failure is logged and the job ends pending.
  App_ExecuteSP::FailProcedure(kClusterInstanceProcedure, 5, "db down");
  c.replaceDeadNode = true;
  CLogCapture log;
  EXPECT_FALSE(c.OnComplete().IsError());
  App_ExecuteSP::ClearFailures();
  EXPECT_EQ(c.getJobStatus(), 3);
  EXPECT_EQ(c.getStatusSetFlag(), 1);
  EXPECT_TRUE(log.Contains("Failed to remove the replaced nodes from the instance"));
  EXPECT_TRUE(log.Contains("Marking job pending as the replaced nodes could not be removed"));
  EXPECT_EQ(StoredNodes().size(), 2u);
}

}  // namespace
}  // namespace restoretest
