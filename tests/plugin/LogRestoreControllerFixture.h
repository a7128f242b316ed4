#pragma once

// The point-in-time node controller filled member by member, as the
// restore's end-of-node tests fill the restore controller: a suite home with
// this machine's client "host1", command lines answered by a script, sleeps
// recorded, the framework's messages to the coordinator kept in memory, and
// target nodes whose Cassandra configuration folders hold real files.

#include <gtest/gtest.h>

#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RestoreFinishFixture.h"
#include "logrestore/CassandraLogRestoresController.h"

namespace logrestoretest {

namespace fs = std::filesystem;
using finishtest::Mapping;
using finishtest::Node;

constexpr int64_t kJobId = 91;
constexpr uint32_t kConfigFailed = 0x600046A;

class LogProbe : public TQCassandra::CCassandraLogRestoreController {
 public:
  using CCassandraLogRestoreController::backupRefTime;
  using CCassandraLogRestoreController::cassandraFlavor;
  using CCassandraLogRestoreController::cassandraPointInTime;
  using CCassandraLogRestoreController::containerByTarget;
  using CCassandraLogRestoreController::hostStagingPath;
  using CCassandraLogRestoreController::priamByTarget;
  using CCassandraLogRestoreController::recover;
  using CCassandraLogRestoreController::replayTablesByTarget;
  using CCassandraLogRestoreController::restoreCommand;
  using CCassandraLogRestoreController::rstJobClient;
  using CCassandraLogRestoreController::sourceTargetMappings;
  using CCassandraLogRestoreController::stagePath;
  using CCassandraLogRestoreController::tablesByKeyspace;
  using CCassandraLogRestoreController::useSSTableLoader;
  using CCassandraLogRestoreController::workDirByTarget;
};

// The agent-stopped status as the coordinator reads it.
struct Status {
  int64_t failed = -1;
  bool hasValues = false;
  std::vector<std::pair<std::string, std::string>> values;
};

class LogRestoreControllerTest : public ::testing::Test {
 protected:
  static constexpr const char* kProps = "commitlog_archiving.properties";
  static constexpr const char* kEnv = "cassandra-env.sh";

  void SetUp() override {
    CClientContext::SetSuiteHome(home_.path());
    CEventJournal::Instance().Clear();
    CRegistry::Instance().Set("Base", "dBASEHOME", home_.Sub("base"));
    SClientIdentity identity;
    identity.clientName = "host1";
    identity.clientId = 3;
    identity.jobResultsDirectory = home_.Sub("host1/JobResults");
    scope_.reset(new CClientContextScope(identity));
    priam_ = std::make_shared<TqCassandra::ScriptedPriam>();
    factory_.reset(new TqCassandra::ScopedPriamTransportFactory(priam_->Factory()));
    process_.reset(new CProcessScript());
    process_->Add(CProcessScript::kPrefix, " chown -R ", CProcessScript::Answer{});
    sleeps_.reset(new CSleepRecorder());
    services_.reset(new DistributedQEL::CInMemoryFrameworkServices());
    jobCtrl_.reset(new TQJobCtrlClient(kJobId));
    controller_ = Make(true);
  }

  void TearDown() override {
    controller_.reset();
    sleeps_.reset();
    process_.reset();
    factory_.reset();
    scope_.reset();
    for (const char* name : {"sCassOSUser", "sCassOSGroup"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    CRegistry::Instance().Remove("Base", "dBASEHOME");
    TQJobCtrlClient::SetProcessQuitFlag(false);
    CEventJournal::Instance().Clear();
    CClientDirectory::Instance().Clear();
    CClientContext::SetSuiteHome("");
  }

  // A controller as processNodeInit leaves it with recover, the restore
  // command "/bin/cp" and the staging path "/stage/91"; without
  // `withServices` its messages reach no coordinator.
  std::unique_ptr<LogProbe> Make(bool withServices) {
    std::unique_ptr<LogProbe> controller(new LogProbe());
    controller->setClientName("host1");
    if (withServices) controller->setFrameworkServices(services_);
    controller->setJobCtrlClient(jobCtrl_);
    TQDC_FileSystem::CRestoreClientConfig* config = new TQDC_FileSystem::CRestoreClientConfig(2);
    config->setJobId(kJobId);
    controller->setClientConfig(DistributedQEL::CClientConfigPtr(config));
    controller->rstJobClient.reset(new TQRstJobClient(kJobId));
    controller->cassandraFlavor = "cassandra";
    controller->recover = true;
    controller->restoreCommand = "/bin/cp";
    controller->cassandraPointInTime = "2021:3:4 5:6:7";
    controller->stagePath = "/stage/91";
    controller->sourceTargetMappings.reset(new DistributedQEL::CassandraSourceTargetMappingList());
    return controller;
  }

  // A target node: its configuration folder with the two files (one that is
  // std::nullopt is not made), its Priam utility (not started), its host
  // staging folder with restored commit logs unless `staged` is false, and
  // the tables it replays. Returns the configuration folder.
  std::string AddTarget(const std::string& key, const std::optional<std::string>& props,
                        const std::optional<std::string>& env,
                        const std::list<std::string>& tables = {"ks1.t1", "ks1.t2"},
                        bool staged = true) {
    const std::string conf = home_.Sub("conf/" + key);
    simtest::WriteFile(conf + "/cassandra.yaml", "cluster_name: test\n");
    if (props) simtest::WriteFile(conf + "/" + kProps, *props);
    if (env) simtest::WriteFile(conf + "/" + kEnv, *env);
    const std::string work = home_.Sub("work/" + key);
    fs::create_directories(work);
    controller_->workDirByTarget[key] = work;
    controller_->priamByTarget[key].reset(
        new TqCassandra::PriamUtil(1, "", home_.Sub("base"), work, conf, true));
    // Restored from the source node "node1", whose logs are staged below a
    // folder of its name.
    AddMapping(Node("node1", ""), Node("host1", key));
    const std::string staging = home_.Sub("stage/" + key);
    fs::create_directories(staged ? staging + "/node1/#COMMITLOG#" : staging);
    controller_->hostStagingPath[key] = staging;
    if (!tables.empty()) controller_->replayTablesByTarget[key] = tables;
    return conf;
  }

  void AddMapping(const App::CassandraNode& source, const App::CassandraNode& target) {
    std::vector<DistributedQEL::CassandraSourceTargetMapping> mappings =
        controller_->sourceTargetMappings->getMappings();
    mappings.push_back(finishtest::Mapping(source, target));
    controller_->sourceTargetMappings->setMappings(mappings);
  }

  std::vector<Status> StatusMessages() const {
    std::vector<Status> found;
    for (const auto& sent : services_->serverMessages()) {
      auto record = RecordAs<DistributedQEL::AgentStoppedStatus>(*sent.message);
      if (!record) continue;
      Status status;
      status.failed = record->getFailed();
      status.hasValues = record->isSet(2);
      for (const auto& value : record->getValues()) {
        status.values.emplace_back(value.getName(), value.getValue());
      }
      found.push_back(status);
    }
    return found;
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

  size_t PendingCauses(uint32_t id) const {
    return CEventJournal::Instance().Find(id, CEventJournal::kPendingCause).size();
  }

  simtest::TempDir home_;
  std::unique_ptr<CClientContextScope> scope_;
  std::shared_ptr<TqCassandra::ScriptedPriam> priam_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> factory_;
  std::unique_ptr<CProcessScript> process_;
  std::unique_ptr<CSleepRecorder> sleeps_;
  boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices> services_;
  TQJobCtrlClientPtr jobCtrl_;
  std::unique_ptr<LogProbe> controller_;
};

}  // namespace logrestoretest
