#pragma once

// The restore controller at the end of a restore, filled member by member: a
// suite home with this machine's client "host1", one scripted Priam per
// target node, command lines answered by a script, sleeps recorded, the
// framework's messages to the coordinator kept in memory.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SuiteFixture.h"
#include "common/CassandraNodeRecords.h"
#include "common/RestoreRecords.h"
#include "platform/base/SleepRecorder.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/RestoreClientConfig.h"
#include "platform/log/EventJournal.h"
#include "platform/msg/EntityRecords.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/ProcessScript.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQRstJobClient.h"
#include "restore/CassandraRestoresController.h"
#include "support/SimTestSupport.h"

namespace finishtest {

namespace fs = std::filesystem;
using TqCassandra::ScriptedPriam;

constexpr int64_t kJobId = 77;
constexpr uint32_t kChownFailed = 0x600048D;
constexpr uint32_t kReloadFailed = 0x6000472;
constexpr uint32_t kAccessDenied = 0x6000485;

class FinishProbe : public TQCassandra::CCassandraRestoreController {
 public:
  using CCassandraRestoreController::cassandraFlavor;
  using CCassandraRestoreController::cassandraSleepTime;
  using CCassandraRestoreController::collectStagedDirectories;
  using CCassandraRestoreController::dataDirsByTarget;
  using CCassandraRestoreController::getInstanceFromPath;
  using CCassandraRestoreController::hostStagingPath;
  using CCassandraRestoreController::keyspacesByInstance;
  using CCassandraRestoreController::priamByTarget;
  using CCassandraRestoreController::recover;
  using CCassandraRestoreController::reloadFailed;
  using CCassandraRestoreController::replaceDeadNode;
  using CCassandraRestoreController::restoreResultsDirectory;
  using CCassandraRestoreController::rstJobClient;
  using CCassandraRestoreController::runDR;
  using CCassandraRestoreController::runSSTableLoader;
  using CCassandraRestoreController::sourceTargetMappings;
  using CCassandraRestoreController::stageFreeRestore;
  using CCassandraRestoreController::stagePath;
  using CCassandraRestoreController::taskReceived;
  using CCassandraRestoreController::useSSTableLoader;
};

// A node record: client name, agent instance name ("" = not set), address,
// tokens and configuration field.
inline App::CassandraNode Node(const std::string& client, const std::string& agent,
                               const std::string& address = "10.0.0.1",
                               const std::string& tokens = "", const std::string& conf = "") {
  App::CassandraNode node;
  TqEntities::ClientEntity entity;
  entity.setClientName(client);
  node.setClient(entity);
  if (!agent.empty()) node.setAgentInstanceName(agent);
  node.setAddress(address);
  if (!tokens.empty()) node.setTokens(tokens);
  if (!conf.empty()) node.setConfigDirectory(conf);
  return node;
}

inline DistributedQEL::CassandraSourceTargetMapping Mapping(const App::CassandraNode& source,
                                                            const App::CassandraNode& target) {
  DistributedQEL::CassandraSourceTargetMapping mapping;
  mapping.setSource(source);
  mapping.setTarget(target);
  return mapping;
}

class RestoreFinishTest : public plugintest::SuiteTest {
 protected:
  void SetUp() override {
    SetUpSuite(false);
    ActAsClient("host1", 3);
    UseScriptedPriam();
    process_.reset(new CProcessScript());
    sleeps_.reset(new CSleepRecorder());
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    jobCtrl_.reset(new TQJobCtrlClient(kJobId));
    process_->Add(CProcessScript::kPrefix, " chown -R ", CProcessScript::Answer{});
    priamScript_->SetReply("refresh", "Success");
    priamScript_->SetReply("start", "Success");
    priamScript_->SetReply("replaceDeadNode", "Success");
    priamScript_->SetReply("ReplaceTokens", "Tokens replaced");
    priamScript_->SetReply("ExecuteBatch", "Loaded");

    controller_.reset(new FinishProbe());
    controller_->setClientName("host1");
    controller_->setFrameworkServices(services_);
    controller_->setJobCtrlClient(jobCtrl_);
    TQDC_FileSystem::CRestoreClientConfig* config = new TQDC_FileSystem::CRestoreClientConfig(2);
    config->setJobId(kJobId);
    controller_->setClientConfig(DistributedQEL::CClientConfigPtr(config));
    controller_->rstJobClient.reset(new TQRstJobClient(kJobId));
    controller_->cassandraFlavor = "cassandra";
    controller_->cassandraSleepTime = 3;
    controller_->recover = true;
    controller_->sourceTargetMappings.reset(new DistributedQEL::CassandraSourceTargetMappingList());
  }

  // Idempotent, so that a test may run several cases, each between
  // TearDown() and SetUp().
  void TearDown() override {
    controller_.reset();
    sleeps_.reset();
    process_.reset();
    for (const char* name :
         {"sCassOSUser", "sCassOSGroup", "nKeepCassandraStagingPath", "nUseSSTableLoader"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    TQJobCtrlClient::SetProcessQuitFlag(false);
    TearDownSuite();
  }

  // A target node with its Priam utility (started unless `start` is false)
  // and its data directory; returns the configuration location that names
  // its Priam session.
  std::string AddTarget(const std::string& key, bool start = true) {
    const std::string conf = home_.Sub("conf/" + key);
    simtest::WriteFile(conf + "/cassandra.yaml", "cluster_name: test\n");
    const std::string work = home_.Sub("work/" + key);
    fs::create_directories(work);
    boost::shared_ptr<TqCassandra::PriamUtil> priam(
        new TqCassandra::PriamUtil(1, "", home_.Sub("base"), work, conf, true));
    if (start) {
      EXPECT_FALSE(priam->startPriam().IsError());
    }
    controller_->priamByTarget[key] = priam;
    const std::string data = home_.Sub("data/" + key);
    fs::create_directories(data);
    controller_->dataDirsByTarget[key] = {data};
    return conf;
  }

  void AddMapping(const App::CassandraNode& source, const App::CassandraNode& target) {
    std::vector<DistributedQEL::CassandraSourceTargetMapping> mappings =
        controller_->sourceTargetMappings->getMappings();
    mappings.push_back(Mapping(source, target));
    controller_->sourceTargetMappings->setMappings(mappings);
  }

  // The session of the Priam whose configuration location is `conf`.
  ScriptedPriam::Session SessionOf(const std::string& conf) const {
    for (const ScriptedPriam::Session& s : priamScript_->Sessions()) {
      if (s.context.confLocation == conf) return s;
    }
    ADD_FAILURE() << "no Priam session for " << conf;
    return ScriptedPriam::Session();
  }

  std::vector<std::string> ResourcesOf(const std::string& conf) const {
    std::vector<std::string> resources;
    for (const auto& r : SessionOf(conf).requests) resources.push_back(r.resource);
    return resources;
  }

  // Hands the controller a task over these source paths.
  CQiError Task(const std::vector<std::string>& paths) {
    DistributedQEL::RestoreTaskInfo info;
    info.setSourcePaths(paths);
    std::string xml;
    EXPECT_EQ(0, info.serialize(xml));
    DistributedQEL::TaskInfo task;
    task.setPayload(xml);
    bool flag = false;
    return controller_->OnTask(&task, flag);
  }

  // Failure flags of the AgentStoppedStatus messages sent to the coordinator.
  std::vector<int64_t> StatusMessages() const {
    std::vector<int64_t> flags;
    for (const auto& sent : services_->serverMessages()) {
      auto status = RecordAs<DistributedQEL::AgentStoppedStatus>(*sent.message);
      if (!status) continue;
      EXPECT_FALSE(status->isSet(2));
      flags.push_back(status->getFailed());
    }
    return flags;
  }

  size_t PendingCauses(uint32_t id) const {
    return CEventJournal::Instance().Find(id, CEventJournal::kPendingCause).size();
  }

  std::vector<std::string> Commands() const { return process_->Commands(); }

  std::unique_ptr<CProcessScript> process_;
  std::unique_ptr<CSleepRecorder> sleeps_;
  boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices> services_;
  TQJobCtrlClientPtr jobCtrl_;
  std::unique_ptr<FinishProbe> controller_;
};

}  // namespace finishtest
