#pragma once

// The end of a backup job: a coordinator whose members are set as job start,
// node start-up and the tasks would have left them, in a suite home of its own
// (records, index catalog and store), with its job clients and, when a test
// asks for it, a started Priam over a script.

#include <gtest/gtest.h>

#include <boost/shared_ptr.hpp>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "common/BackupRecords.h"
#include "platform/TempDir.h"
#include "platform/app/CassandraSubclient.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/framework/NodeInfo.h"
#include "platform/framework/TaskBase.h"
#include "platform/index/IndexCatalog.h"
#include "platform/index/StoreDataStream.h"
#include "platform/log/EventJournal.h"
#include "platform/msg/IndexMetadataRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQBkpJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "platform/suite/TQPassword.h"

namespace backup_complete {

// Opens the coordinator's protected parts to the tests.
class CompletionProbe : public TQCassandra::CassandraBackupCoordinator {
 public:
  using CassandraBackupCoordinator::clientConfig;
  using CassandraBackupCoordinator::commitLogNotConfigured;
  using CassandraBackupCoordinator::createCassandraMetadataInIndex;
  using CassandraBackupCoordinator::fetchLastBackupTimeFromIndex;
  using CassandraBackupCoordinator::getCassandraSystemKeyDirectory;
  using CassandraBackupCoordinator::isKeyspaceBackedUp;
  using CassandraBackupCoordinator::keyspaceStatusXmls;
  using CassandraBackupCoordinator::metaJson;
  using CassandraBackupCoordinator::noBackupContent;
  using CassandraBackupCoordinator::nodeBackupTime;
  using CassandraBackupCoordinator::nodeKeyspaces;
  using CassandraBackupCoordinator::nodeSkipped;
  using CassandraBackupCoordinator::priam;
  using CassandraBackupCoordinator::subclient;
};

// Registry values set by a test, removed again when it ends.
class RegistryValues {
 public:
  ~RegistryValues() {
    for (const auto& v : set_) CRegistry::Instance().Remove(v.first, v.second);
  }
  void Set(const std::string& section, const std::string& name, const std::string& value) {
    CRegistry::Instance().Set(section, name, value);
    set_.push_back({section, name});
  }

 private:
  std::vector<std::pair<std::string, std::string>> set_;
};

inline std::string Decrypt(const std::string& text) {
  std::vector<char> buffer(4096, '\0');
  unsigned int length = static_cast<unsigned int>(buffer.size());
  if (!TQPassword().decrypt(text.c_str(), buffer.data(), length)) return "<does not decrypt>";
  return std::string(buffer.data(), length);
}

// A status report of one controller: the nodes with their keyspaces.
inline std::string StatusReport(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& nodes) {
  std::vector<App::CassandraNodeStatus> list;
  for (const auto& node : nodes) {
    App::CassandraNodeStatus status;
    status.setInstanceName(node.first);
    std::vector<App::CassandraKeyspaceStatus> keyspaces;
    for (const auto& name : node.second) {
      App::CassandraKeyspaceStatus keyspace;
      keyspace.setKeyspaceName(name);
      keyspace.setStatus(1);
      keyspaces.push_back(keyspace);
    }
    status.setKeyspaceStatuses(keyspaces);
    list.push_back(status);
  }
  App::CassandraLastBackupStatus report;
  report.setNodeStatuses(list);
  std::string xml;
  report.serialize(xml);
  return xml;
}

class CompletionTest : public ::testing::Test {
 protected:
  static constexpr int64_t kJobId = 1001;
  static constexpr uint32_t kOmbrelId = 2;
  static constexpr uint64_t kInstanceId = 7;
  static constexpr uint64_t kBackupSetId = 8;

  void SetUp() override {
    // A fresh suite home each time, also when a test runs SetUp again.
    home_.reset(new TempDir);
    ASSERT_FALSE(home_->path().empty());
    CClientContext::SetSuiteHome(home_->path());
    CEventJournal::Instance().Clear();

    CSuiteRegistration registration(CSuiteStore::Default());
    for (const char* name : {"node1", "node2", "node3"}) {
      uint64_t id = 0;
      ASSERT_FALSE(registration.registerClient(name, std::string(name) + ".sim", {}, id).IsError());
    }
    uint64_t clusterClient = 100;
    ASSERT_FALSE(
        registration.registerClient("cluster1", "cluster1.sim", {}, clusterClient).IsError());
    SInstanceSettings instance;
    instance.id = kInstanceId;
    instance.name = "cassandra1";
    instance.clientId = clusterClient;
    uint64_t instanceId = 0;
    ASSERT_FALSE(registration.registerInstance(instance, instanceId).IsError());
    SSubclientSettings subclient;
    subclient.name = "sc1";
    subclient.instanceId = kInstanceId;
    subclient.backupSetId = kBackupSetId;
    ASSERT_FALSE(registration.registerSubclient(subclient, subclientId_).IsError());

    coordinator_.reset(new CompletionProbe);
    DistributedQEL::CClientConfigPtr config;
    ASSERT_FALSE(coordinator_->getClientConfigObject(config).IsError());
    config_ = coordinator_->clientConfig;
    config_->setOmbrelId(kOmbrelId);
    config_->setApplicationId(static_cast<uint32_t>(subclientId_));
    config_->setJobId(kJobId);
    config_->setJobToken("token-1001");
    config_->setBackupLevel(TQBkpLevel_Full);
    config_->setMediaAgentName("ma1");
    config_->clientId = 100;

    jobClient_.reset(new TQBkpJobClient(kJobId));
    jobCtrlClient_.reset(new TQJobCtrlClient(kJobId));
    CProgramArgumentsPtr arguments;
    ASSERT_FALSE(coordinator_->initialize(config, arguments, jobClient_, jobCtrlClient_).IsError());

    subclient_.reset(new CassandraSubclient(subclientId_));
    ASSERT_TRUE(subclient_->isValid());
    coordinator_->subclient = subclient_.get();
  }

  void TearDown() override {
    coordinator_.reset();
    subclient_.reset();
    guard_.reset();
    script_.reset();
    CEventJournal::Instance().Clear();
    CClientContext::SetSuiteHome("");
    home_.reset();
  }

  // The job's nodes, in the framework's order.
  void AddNodes(const std::vector<std::string>& names) {
    uint32_t id = 1;
    auto_lock lock(coordinator_->getCoordinatorLock());
    for (const auto& name : names) {
      coordinator_->getNodeList().push_back(
          DistributedQEL::CNodeInfoPtr(new DistributedQEL::CNodeInfo(name, id++)));
    }
  }

  // `total` tasks, the first `complete` of them complete, the rest in `other`.
  void AddTasks(int total, int complete, int other = DistributedQEL::TASK_FAILED) {
    for (int i = 0; i < total; ++i) {
      DistributedQEL::TaskBasePtr task(new DistributedQEL::TaskBase);
      task->taskId = i + 1;
      task->status = i < complete ? DistributedQEL::TASK_COMPLETE : other;
      coordinator_->addTask(task);
    }
  }

  // One item stored by a data stream of the job, which gives the job its
  // first archive file.
  void StoreJobItem(int64_t jobId = kJobId, uint64_t instanceId = kInstanceId) {
    SStreamJob job;
    job.jobId = jobId;
    job.ombrelId = kOmbrelId;
    job.clientName = "node1";
    job.instanceId = instanceId;
    job.backupsetId = kBackupSetId;
    job.subclientId = subclientId_;
    job.appType = 64;
    job.kind = "backup";
    job.level = 1;
    job.streamNumber = 1;
    CStoreDataStream stream(job);
    OBJECTOPSAPI::StreamItemHeader header;
    header.headerPath = "/TestCluster/dc1/node1/ks1/t1/nb-1-big-Data.db";
    header.sourcePath = "/data/ks1/t1/nb-1-big-Data.db";
    const std::string content = "sstable bytes";
    header.fileSize = content.size();
    header.pieceLength = content.size();
    ASSERT_FALSE(stream.BeginItem(header).IsError());
    ASSERT_FALSE(stream.WriteExtent(0, content.data(), content.size()).IsError());
    ASSERT_FALSE(stream.CommitItem().IsError());
  }

  // A started Priam over the script as the coordinator's Priam.
  void UseScriptedPriam() {
    script_ = std::make_shared<TqCassandra::ScriptedPriam>();
    guard_.reset(new TqCassandra::ScopedPriamTransportFactory(script_->Factory()));
    coordinator_->priam.reset(new TqCassandra::PriamUtil(0, CQiString(""), "/opt/base",
                                                         data_.path(), "/etc/cassandra", false));
    ASSERT_FALSE(coordinator_->priam->startPriam().IsError());
  }

  // Requests the script received, by resource.
  int RequestsFor(const std::string& resource) const {
    int count = 0;
    for (const auto& r : script_->AllRequests()) count += r.resource == resource;
    return count;
  }

  std::vector<SMetadataRecord> Metadata(int64_t jobId = kJobId) {
    CIndexCatalog catalog;
    std::vector<SMetadataRecord> records;
    EXPECT_FALSE(catalog.Open().IsError());
    EXPECT_FALSE(catalog.ListMetadata(jobId, records).IsError());
    return records;
  }

  std::vector<SEntryRecord> FileRecords(int64_t jobId = kJobId) {
    CIndexCatalog catalog;
    std::vector<SEntryRecord> records;
    EXPECT_FALSE(catalog.Open().IsError());
    EXPECT_FALSE(catalog.ListEntryRecords(jobId, records).IsError());
    return records;
  }

  // Whether the job's index writing was closed (its restart value set).
  bool IndexWritingClosed(int64_t jobId = kJobId) {
    CIndexCatalog catalog;
    int64_t value = 0;
    bool found = false;
    EXPECT_FALSE(catalog.Open().IsError());
    EXPECT_FALSE(catalog.GetRestartInfo(jobId, value, found).IsError());
    return found && value == -1;
  }

  static IdxMetadata::IdxMetaData Parse(const SMetadataRecord& record) {
    IdxMetadata::IdxMetaData metadata;
    EXPECT_EQ(metadata.unserialize(record.xml), 0) << record.xml;
    return metadata;
  }

  std::string StoredStatus() {
    CassandraSubclient fresh(subclientId_);
    std::string xml;
    EXPECT_FALSE(fresh.getBackedupContentXML(xml).IsError());
    return xml;
  }

  std::unique_ptr<TempDir> home_;
  TempDir data_;
  uint64_t subclientId_ = 0;
  std::unique_ptr<CompletionProbe> coordinator_;
  TQCassandra::CassandraCoordinatorClientConfigPtr config_;
  boost::shared_ptr<TQBkpJobClient> jobClient_;
  TQJobCtrlClientPtr jobCtrlClient_;
  std::unique_ptr<CassandraSubclient> subclient_;
  std::shared_ptr<TqCassandra::ScriptedPriam> script_;
  std::unique_ptr<TqCassandra::ScopedPriamTransportFactory> guard_;
  RegistryValues registry_;
};

}  // namespace backup_complete
