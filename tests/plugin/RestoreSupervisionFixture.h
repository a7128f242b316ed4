#pragma once

// The restore coordinator while a phase runs and when it ends: framework
// nodes and tasks made by hand, a scripted coordinator Priam, and the
// coordinator's supervision and completion state opened to the tests.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "RestoreCoordinatorFixture.h"
#include "common/RestoreRecords.h"
#include "platform/framework/TaskBase.h"
#include "platform/msg/FrameworkRecords.h"

namespace restoretest {

class SupervisionProbe : public RestoresProbe {
 public:
  using CCassandraRestores::cassTruncateTable;
  using CCassandraRestores::controllerInitFailed;
  using CCassandraRestores::deferredSchemaFile;
  using CCassandraRestores::failedDeferredSchemas;
  using CCassandraRestores::keyspaceSchemas;
  using CCassandraRestores::reloadFailed;
  using CCassandraRestores::truncateFailures;
  using CCassandraRestores::truncationSkipped;
  using CCassandraRestores::workersToReassign;
  using CCassandraRestores::zelkConfigClient;
  using CCassandraRestores::zelkShareId;

  // What the completion called, and what the calls are to give.
  int deferredCalls = 0;
  std::vector<std::string> deferredFailures;  // lines createDeferredSchemas reports
  int shareDeletions = 0;
  CQiError shareDeletionResult;
  bool fakeRemoveDeadNode = false;  // count removeDeadNode calls instead of running it
  int removeDeadNodeCalls = 0;
  CQiError removeDeadNodeResult;

  CQiError createDeferredSchemas(std::vector<std::string>* failedLines) override {
    ++deferredCalls;
    if (failedLines) *failedLines = deferredFailures;
    return CQiError::Success();
  }
  CQiError deleteZelkNetworkShare() override {
    ++shareDeletions;
    return shareDeletionResult;
  }
  CQiError removeDeadNode() override {
    if (!fakeRemoveDeadNode) return CCassandraRestores::removeDeadNode();
    ++removeDeadNodeCalls;
    return removeDeadNodeResult;
  }
};

class SupervisionTest : public RestoreCoordinatorTest {
 protected:
  void TearDown() override {
    probe_ = nullptr;
    RestoreCoordinatorTest::TearDown();
  }

  // A coordinator whose nodes are registered, in order, each with the state
  // given (4 running, 5 told to stop, 6 stopped).
  SupervisionProbe& Coordinator(const std::vector<std::pair<std::string, int>>& nodes) {
    probe_ = new SupervisionProbe();
    restores_.reset(probe_);
    probe_->setFrameworkServices(services_);
    // The restore's configuration keeps the skipped-item count.
    probe_->setClientConfig(
        DistributedQEL::CClientConfigPtr(new TQCassandra::CCassandraRestoreClientConfig()));
    for (const auto& n : nodes) {
      if (clientIds_.count(n.first) == 0) {
        Client(n.first);
      } else {
        // Fresh framework services know no client yet.
        services_->registerClient(static_cast<uint32_t>(clientIds_[n.first]), n.first,
                                  n.first + ".sim");
      }
      CQiError e = probe_->addNode(n.first);
      EXPECT_FALSE(e.IsError()) << e.AsString(2);
      Node(n.first)->setState(n.second);
    }
    probe_->setReady(true);
    return *probe_;
  }
  using RestoreCoordinatorTest::Node;
  DistributedQEL::CNodeInfoPtr Node(const std::string& name) {
    return probe_->findNodeInfoByNodeName(name);
  }
  DistributedQEL::TaskBasePtr Task(int id, const std::string& node, int status, int type = 0) {
    DistributedQEL::TaskBasePtr task(new DistributedQEL::TaskBase());
    task->taskId = id;
    task->reservedNode = node;
    task->status = status;
    TQDC_FileSystem::RestoreTaskInfoWrapperPtr info(new TQDC_FileSystem::RestoreTaskInfoWrapper());
    info->taskType = type;
    task->customInfo = info;
    probe_->addTask(task);
    return task;
  }
  // The schemas of the restore: keyspace -> its tables.
  void Schemas(const std::map<std::string, std::vector<std::string>>& keyspaces) {
    for (const auto& ks : keyspaces) {
      TQCassandra::cassandraCqlStatements statements;
      statements.keyspaceName = ks.first;
      for (const auto& t : ks.second) statements.tableExists[t] = true;
      probe_->keyspaceSchemas[ks.first] = statements;
    }
  }
  // The coordinator's Priam, started, answering from the script.
  void StartPriam() {
    Scripted().SetReply("TruncateTable", "Success");
    probe_->priamUtil.reset(new TqCassandra::PriamUtil(
        0, CQiString(""), "/opt/base", home_.Sub("coordinator-priam"), ScriptedConf(), true));
    CQiError e = probe_->priamUtil->startPriam();
    ASSERT_FALSE(e.IsError()) << e.AsString(2);
  }
  // Figures the runner adds as the tasks end.
  void Counters(long long restored, unsigned long long skipped, unsigned long long expected) {
    DistributedQEL::CRestoreStatistics statistics;
    statistics.itemsRestored = restored;
    statistics.skippedFilesCount = static_cast<int64_t>(skipped);
    probe_->AddRestoreStatistics(statistics);
    probe_->setItemCount(expected);
  }

  // The bodies of the "TruncateTable" requests sent, in order.
  std::vector<std::string> TruncateBodies() const {
    std::vector<std::string> out;
    if (!priamScript_) return out;
    for (const auto& r : priamScript_->AllRequests()) {
      if (r.resource == "TruncateTable") {
        EXPECT_EQ(r.kind, 1);
        out.push_back(r.body);
      }
    }
    return out;
  }
  // Client names that were sent NodeStop, in order.
  std::vector<std::string> Stopped() const {
    std::vector<std::string> out;
    for (const auto& m : services_->nodeMessages()) {
      if (m.message && m.message->getTagID() == DistributedQEL::NodeStop().getTagID()) {
        out.push_back(m.clientName);
      }
    }
    return out;
  }
  // Workers asked for, per client, in the order first asked.
  std::vector<std::pair<std::string, int>> Workers() const {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& w : services_->workerRequests()) {
      EXPECT_FALSE(w.backupWorker);
      if (out.empty() || out.back().first != w.clientName) out.push_back({w.clientName, 0});
      ++out.back().second;
    }
    return out;
  }

  SupervisionProbe* probe_ = nullptr;
};

}  // namespace restoretest
