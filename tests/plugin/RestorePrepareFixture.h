#pragma once

// The restore coordinator's preparation against a recorded Priam and an
// index of its own: a coordinator whose configuration, job client and
// started Priam (over the scripted Priam) are in place as initialize leaves
// them, restore records and source paths filled directly into the framework
// base (no launcher unless a test gives one), and "NodeMetaData" and
// "DBView" entries written into the suite home's index as a backup's end
// writes them.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "RestoreCoordinatorFixture.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/index/IndexingConnection.h"
#include "platform/index/ObjectGuid.h"
#include "platform/index/StoreDataStream.h"
#include "platform/index/XFileHeader.h"
#include "platform/log/EventJournal.h"
#include "platform/msg/IndexMetadataRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQJobCtrlClient.h"

namespace restoreprep {

constexpr uint32_t kEvSchemaCreateFailed = 0x60003F2;
constexpr int64_t kJobId = 47;
constexpr uint32_t kOmbrelId = 2;

class PrepareProbe : public restoretest::RestoresProbe {
 public:
  PrepareProbe() : TQDC_FileSystem::CRestore(false) {}

  using CCassandraRestores::backupRefTime;
  using CCassandraRestores::deferredSchemaFile;
  using CCassandraRestores::encryptedTableRows;
  using CCassandraRestores::keyspaceSchemas;
  using CCassandraRestores::systemKeyFiles;

  // The launcher the preparation gets (none: the test fills the base).
  CQiError initailizeStartClientRestoreObject(TQJobClientPtr, TQJobCtrlClientPtr) override {
    if (launcher) setStartClientRestore(launcher);
    return launcherError;
  }
  CStartClientRestorePtr launcher;
  CQiError launcherError;

  // Every call with its arguments; with `viewStandIn` the index is not read.
  CQiError QueryCassandraView(bool fetchSchemas, std::vector<std::string> paths) override {
    viewCalls.emplace_back(fetchSchemas, paths);
    if (viewStandIn) return CQiError::Success();
    return CCassandraRestores::QueryCassandraView(fetchSchemas, paths);
  }
  std::vector<std::pair<bool, std::vector<std::string>>> viewCalls;
  bool viewStandIn = false;

  using CCassandraRestores::withTableIdClause;

  // With `keyCopyStandIn` the key copy only counts its calls.
  CQiError HandleCassandraTDE() override {
    if (!keyCopyStandIn) return CCassandraRestores::HandleCassandraTDE();
    ++keyCopies;
    return keyCopyResult;
  }
  bool keyCopyStandIn = false;
  int keyCopies = 0;
  CQiError keyCopyResult;

  // With `shareStandIn` the share creation only counts its calls.
  CQiError createZelkNetworkShare() override {
    if (!shareStandIn) return CCassandraRestores::createZelkNetworkShare();
    ++shareCalls;
    return shareResult;
  }
  bool shareStandIn = false;
  int shareCalls = 0;
  CQiError shareResult;
};

// One view entry as the backup's end writes it.
struct ViewEntry {
  std::string path;
  IdxMetadata::IdxMetaData record;
};

class PrepareTest : public restoretest::RestoreCoordinatorTest {
 protected:
  void TearDown() override {
    for (const char* name : {"nKeepSourceReplicationFactor", "sChangeReplicationFactor",
                             "nDeferMateriazliedViewCreation"}) {
      CRegistry::Instance().Remove("Cassandra", name);
    }
    probe_.reset();
    RestoreCoordinatorTest::TearDown();
  }

  std::string JobResultsDir() { return home_.Sub("jr"); }
  std::string JobFile(const std::string& prefix) {
    return JobResultsDir() + "/" + prefix + std::to_string(kJobId);
  }

  // A coordinator as initialize leaves it with recover: configuration of
  // job 47, job client, and its Priam started over the script.
  PrepareProbe& Coordinator(bool withPriam = true) {
    std::filesystem::create_directories(JobResultsDir());
    probe_.reset(new PrepareProbe());
    PrepareProbe& c = *probe_;
    c.setFrameworkServices(services_);
    EXPECT_FALSE(c.getClientConfigObject(config_).IsError());
    EXPECT_FALSE(CProgramArguments::Parse(
                     "-ombrel 2 -appid 1 -j " + std::to_string(kJobId) + " -jr " + JobResultsDir(),
                     arguments_)
                     .IsError());
    EXPECT_FALSE(config_->parseArguments(arguments_).IsError());
    jobClient_.reset(new TQJobClient(kJobId));
    c.setJobClient(jobClient_);
    c.recover = true;
    if (withPriam) {
      Scripted();
      c.priamUtil.reset(new TqCassandra::PriamUtil(0, CQiString(""), home_.Sub("base"),
                                                   JobResultsDir(), ScriptedConf(), true));
      EXPECT_FALSE(c.priamUtil->startPriam().IsError());
    }
    return c;
  }

  CQiError Prepare() {
    return probe_->PrepareRestoreParameters(config_, arguments_, jobClient_,
                                            TQJobCtrlClientPtr(new TQJobCtrlClient(kJobId)));
  }

  // The selection the launcher would have handed back.
  void Select(const std::vector<std::string>& paths, uint64_t count = ~0ull) {
    for (const auto& p : paths) probe_->getSourcePaths().push_back(FSRSrcPath{p, 3});
    probe_->getRestoreInitData().numberOfSrcPaths = count == ~0ull ? paths.size() : count;
  }

  // ---- the recorded Priam ----

  void Keyspace(const std::string& keyspace, bool exists) {
    Scripted().SetReply("checkExistance?keyspace=" + keyspace, exists ? "0" : "1");
  }
  void Table(const std::string& keyspace, const std::string& table, bool exists) {
    Scripted().SetReply("checkExistance?keyspace=" + keyspace + "&table=" + table,
                        exists ? "0" : "1");
  }
  std::vector<std::string> Resources() {
    std::vector<std::string> out;
    for (const auto& r : Scripted().AllRequests()) out.push_back(r.resource);
    return out;
  }
  std::vector<std::string> CheckRequests() {
    std::vector<std::string> out;
    for (const auto& r : Scripted().AllRequests()) {
      if (r.resource.rfind("checkExistance", 0) == 0) out.push_back(r.resource);
    }
    return out;
  }
  // The bodies of every "ExecuteCQL", in order.
  std::vector<std::string> CqlBodies() {
    std::vector<std::string> out;
    for (const auto& r : Scripted().AllRequests()) {
      if (r.resource == "ExecuteCQL") {
        EXPECT_EQ(r.kind, 1);
        out.push_back(r.body);
      }
    }
    return out;
  }

  // ---- the index ----

  static std::string Guid(const std::string& path) {
    std::string guid;
    GetObjectGuid(path.c_str(), 0, '/', guid);
    return guid;
  }
  static IdxMetadata::IdxMetaData Record(const std::string& view, const std::string& path,
                                         const std::string& parent = "/") {
    IdxMetadata::IdxViewInfo info;
    info.setViewName(view);
    info.setComponentId(Guid("/"));
    IdxMetadata::IdxObjectHeader header;
    header.setView(info);
    header.setObjectGuid(Guid(path));
    header.setParentGuid(Guid(parent));
    IdxMetadata::IdxMetaData record;
    record.setHeader(header);
    return record;
  }
  static ViewEntry NodeEntry(const std::string& client, int64_t time) {
    ViewEntry e{"/" + client, Record("NodeMetaData", "/" + client)};
    IdxMetadata::CassandraNodeMetadata node;
    node.setClientName(client);
    node.setBackupTime(time);
    e.record.setNodeMetadata(node);
    return e;
  }
  static ViewEntry KeyspaceEntry(const std::string& keyspace, const std::string& cql) {
    ViewEntry e{"/" + keyspace, Record("DBView", "/" + keyspace)};
    IdxMetadata::CassandraKeyspaceMetadata meta;
    meta.setKeyspaceName(keyspace);
    meta.setCql(cql);
    e.record.setKeyspaceMetadata(meta);
    return e;
  }
  static ViewEntry TableEntry(
      const std::string& keyspace, const std::string& table, const std::string& cql,
      const std::string& id,
      const std::optional<IdxMetadata::CassandraEncryptionInfo>& keys = std::nullopt) {
    const std::string path = "/" + keyspace + "/" + table;
    ViewEntry e{path, Record("DBView", path, "/" + keyspace)};
    IdxMetadata::CassandraTableMetadata meta;
    meta.setTableName(table);
    meta.setCql(cql);
    meta.setTableId(id);
    meta.setEncrypted(keys ? 1 : 0);
    if (keys) meta.setEncryption(*keys);
    e.record.setTableMetadata(meta);
    return e;
  }
  // Encryption keys of a table as the backup stores them (encrypted).
  static IdxMetadata::CassandraEncryptionInfo Keys(const std::string& keyFile,
                                                   const std::string& content,
                                                   const std::string& key, int64_t strength) {
    IdxMetadata::CassandraEncryptionInfo keys;
    keys.setKeyFile(keyFile);
    keys.setKeyFileContent(Encrypt(content));
    keys.setCipher(Encrypt("AES"));
    keys.setKey(Encrypt(key));
    keys.setKeyId(Encrypt("id-" + key));
    keys.setStrength(strength);
    return keys;
  }

  // A backup job `jobId` with one stored item and these view entries.
  void BackupIndex(int64_t jobId, const std::vector<ViewEntry>& entries) {
    SStreamJob job;
    job.jobId = jobId;
    job.ombrelId = kOmbrelId;
    job.clientName = "node1";
    job.appType = 64;
    job.kind = "backup";
    job.level = 1;
    job.streamNumber = 1;
    {
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
    GetArchFileListForJobArgsCC_t args;
    args.ombrelId = kOmbrelId;
    args.jobId = jobId;
    std::vector<GetArchFileListForJobRetCC_t> list;
    ASSERT_EQ(ArMgrClientAPI::getArchFileListForJob(args, list), 0);
    ASSERT_FALSE(list.empty());
    IndexingConnection index;
    ASSERT_EQ(index.initialize(kOmbrelId, 1, 64, 1, "", "", nullptr, 0), 0);
    ASSERT_EQ(index.sendAfileInfo(ArMgrClientAPI::ArchiveFileIdOf(list.front()), false), 0);
    CXFileHeader header;
    std::memset(&header, 0, sizeof header);
    int64_t sequence = 0;
    for (const ViewEntry& entry : entries) {
      ASSERT_EQ(index.sendMetaDataInfo(entry.record), 0) << entry.path;
      header.SetPath(entry.path);
      ASSERT_EQ(index.sendFileInfo(header, ++sequence, nullptr, 0), 0) << entry.path;
    }
    ASSERT_EQ(index.updateRestartInfo(-1), 0);
    ASSERT_EQ(index.backupDone(1), 0);
  }

  // The pending causes of EV_SCHEMA_CREATE_FAILED with their arguments.
  static std::vector<std::vector<std::string>> SchemaFailures(
      CEventJournal::Kind kind = CEventJournal::kPendingCause) {
    std::vector<std::vector<std::string>> out;
    for (const auto& e : CEventJournal::Instance().Find(kEvSchemaCreateFailed, kind)) {
      out.push_back(e.args);
    }
    return out;
  }

  std::unique_ptr<PrepareProbe> probe_;
  DistributedQEL::CClientConfigPtr config_;
  CProgramArgumentsPtr arguments_;
  TQJobClientPtr jobClient_;
};

}  // namespace restoreprep
