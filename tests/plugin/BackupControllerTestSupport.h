#pragma once

// Helpers of the backup controller tests: a generated cluster whose nodes are
// the Cassandra instances of one node machine, the controller driven in the
// framework's order in that machine's client context, the coordinator's
// collect-file request, and readers of the files the controller writes.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraControllerClientConfig.h"
#include "common/BackupRecords.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/InMemoryFrameworkServices.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/EventJournal.h"
#include "platform/multinode/CollectFileEntry.h"
#include "platform/multinode/PostProcessingOptions.h"
#include "platform/priam/PriamUtil.h"
#include "platform/priam/ScriptedPriam.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/PlatformInfo.h"
#include "sim/lib/ClusterFixture.h"
#include "sim/lib/PriamRequestHandler.h"
#include "sim/lib/SimClusterFile.h"
#include "support/SimTestSupport.h"

namespace bctest {

namespace fs = std::filesystem;

constexpr uint32_t kSubclient = 12;
constexpr int64_t kJob = 205;
const char* const kClient = "host1";
const char* const kSnapshot = "12TQsnapshot205";

// The controller with its state open to the tests.
class Controller : public TQCassandra::CassandraBackupController {
 public:
  using CassandraBackupController::backupStartTime;
  using CassandraBackupController::collectFileCreationFailed;
  using CassandraBackupController::collectFilesSkipped;
  using CassandraBackupController::fullKeyspaces;
  using CassandraBackupController::keyspacesByInstance;
  using CassandraBackupController::legacyTableDirs;
  using CassandraBackupController::priamByInstance;

  TQCassandra::CassandraControllerClientConfigPtr Config() const {
    return boost::dynamic_pointer_cast<TQCassandra::CassandraControllerClientConfig>(
        getClientConfig());
  }
};

// What the coordinator's argument line and the framework's arguments carry.
struct JobArguments {
  int level = 1;
  int streams = 2;
  int collectFileStart = 5;
  bool commitLog = false;
  bool withJobId = true;
  std::string jobToken;
  std::string mediaAgent = "MA1";
};

// One line of a numbered collect file, read back to its path.
inline std::vector<std::string> ReadNumberedFile(const std::string& path) {
  std::vector<std::string> paths;
  std::string text = simtest::ReadFile(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    MultiNodeBackupOps::CCollectFileEntry entry;
    CQiError error = MultiNodeBackupOps::CCollectFileEntry::ParseNumberedLine(line, entry);
    EXPECT_FALSE(error.IsError()) << path << ": " << line;
    paths.push_back(entry.path);
  }
  return paths;
}

// Regular files directly in `dir`, by name.
inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every table's files come from the job's snapshot.
inline std::string FromSnapshot(size_t, const std::string&) {
  return std::string("snapshots/") + kSnapshot;
}

inline ino_t Inode(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A generated cluster whose first nodes are the instances of the node machine
// "host1", and the controller of that machine.
class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CRegistry::Instance().Set("Base", "dBASEHOME", dir_.Sub("base"));
    CEventJournal::Instance().Clear();
    jobResults_ = dir_.Sub("jr");
    fs::create_directories(jobResults_);
    SClientIdentity identity;
    identity.clientName = kClient;
    identity.clientId = 3;
    identity.hostName = "host1.example";
    identity.jobResultsDirectory = jobResults_;
    context_.reset(new CClientContextScope(identity));
  }

  void TearDown() override {
    if (controller_) {
      controller_->uninitializePriam();
      controller_.reset();
    }
    context_.reset();
    CRegistry::Instance().Remove("Base", "dBASEHOME");
    CRegistry::Instance().Remove(CPostProcessingOptions::kRegistrySection,
                                 CPostProcessingOptions::kMaxEntriesValue);
    CEventJournal::Instance().Clear();
    for (pid_t pid : simtest::ChildrenOf(::getpid())) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      ADD_FAILURE() << "process " << pid << " was left running";
    }
  }

  void Generate(const TqSim::FixtureOptions& options) {
    std::string error;
    ASSERT_TRUE(TqSim::ClusterFixture::Generate(dir_.Sub("cluster"), options, cluster_, error))
        << error;
    TqSim::SimClusterFile file(cluster_.clusterFile);
    ASSERT_TRUE(file.Load(sim_, error)) << error;
  }

  void ChangeCluster(const std::function<void(TqSim::SimCluster&)>& change) {
    TqSim::SimClusterFile file(cluster_.clusterFile);
    std::string error;
    ASSERT_TRUE(file.Load(sim_, error)) << error;
    change(sim_);
    ASSERT_TRUE(file.Save(sim_, error)) << error;
  }

  // The instance name of node i: several nodes share the client "host1".
  std::string InstanceName(size_t i) const {
    return std::string(kClient) + "_" + cluster_.nodes[i].address;
  }

  // The framework's arguments followed by the coordinator's line.
  std::string ArgumentLine(const JobArguments& job) const {
    CFrameworkArguments framework;
    framework.ombrelId = 1;
    framework.applicationId = kSubclient;
    framework.jobId = job.withJobId ? kJob : 0;
    framework.jobResultsDirectory = jobResults_;
    framework.jobToken = job.jobToken;
    if (job.commitLog) framework.flags = {CFrameworkArguments::kCommitLogFlag};
    std::string line = framework.Format();
    if (!job.withJobId) line.replace(line.find(" -j 0"), 5, "");
    return line + " " +
           CFrameworkArguments::FormatNodeLine(job.streams, job.level, job.mediaAgent,
                                               job.collectFileStart);
  }

  // A controller as the framework makes and starts it.
  Controller& StartController(const JobArguments& job) {
    controller_.reset(new Controller());
    controller_->setClientName(kClient);
    controller_->setFrameworkServices(services_);
    DistributedQEL::CClientConfigPtr config;
    EXPECT_FALSE(controller_->getClientConfigObject(config).IsError());
    CProgramArgumentsPtr arguments;
    EXPECT_FALSE(CProgramArguments::Parse(ArgumentLine(job), arguments).IsError());
    if (config && arguments) config->parseArguments(arguments);
    controller_->setProgramArguments(arguments);
    controller_->OnAgentStarted();
    return *controller_;
  }

  // The node record of node i as discovery stores it.
  App::CassandraNode NodeRecord(size_t i, bool withDataDirectories = true) const {
    const TqSim::FixtureNode& node = cluster_.nodes[i];
    App::CassandraNode record;
    TqEntities::ClientEntity client;
    client.setClientId(3);
    client.setClientName(kClient);
    record.setClient(client);
    record.setAddress(node.address);
    record.setDataCenter(node.dataCenter);
    record.setRack("rack1");
    record.setConfigDirectory(node.confDir);
    record.setAgentInstanceName(InstanceName(i));
    if (withDataDirectories) {
      std::string joined;
      for (const auto& d : node.dataDirs) joined += (joined.empty() ? "" : ";") + d;
      record.setDataDirectories(joined);
    }
    return record;
  }

  // The cluster's keyspaces with their tables, as the coordinator sends them
  // (table ids without dashes).
  std::vector<DistributedQEL::CassandraKeyspace> Keyspaces() const {
    std::vector<DistributedQEL::CassandraKeyspace> out;
    for (const auto& ks : sim_.keyspaces) {
      DistributedQEL::CassandraKeyspace keyspace;
      keyspace.setKeyspaceName(ks.name);
      std::vector<DistributedQEL::CassandraTable> tables;
      for (const auto& t : ks.tables) {
        DistributedQEL::CassandraTable table;
        table.setTableName(t.name);
        std::string id = t.id;
        id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
        table.setTableId(id);
        tables.push_back(table);
      }
      keyspace.setTables(tables);
      out.push_back(keyspace);
    }
    return out;
  }

  static DistributedQEL::CassandraNodeKeyspace Entry(
      const App::CassandraNode& node, const std::vector<DistributedQEL::CassandraKeyspace>& ks) {
    DistributedQEL::CassandraNodeKeyspace entry;
    entry.setNode(node);
    entry.setKeyspaces(ks);
    return entry;
  }

  // The request for nodes 0..count-1 with every keyspace.
  DistributedQEL::CassandraCreateCollectFiles Request(
      size_t count, const std::vector<DistributedQEL::DINameValue>& options) const {
    std::vector<DistributedQEL::CassandraNodeKeyspace> entries;
    for (size_t i = 0; i < count; ++i) entries.push_back(Entry(NodeRecord(i), Keyspaces()));
    return Request(entries, options);
  }
  DistributedQEL::CassandraCreateCollectFiles Request(
      const std::vector<DistributedQEL::CassandraNodeKeyspace>& entries,
      const std::vector<DistributedQEL::DINameValue>& options) const {
    DistributedQEL::CassandraCreateCollectFiles request;
    request.setClusterName(sim_.name);
    request.setNodeKeyspaces(entries);
    request.setOptions(options);
    return request;
  }

  // The last backup status text of instances with (keyspace, status) pairs;
  // a status below 0 leaves the status field out.
  static std::string LastStatus(
      const std::map<std::string, std::vector<std::pair<std::string, int>>>& instances) {
    App::CassandraLastBackupStatus status;
    std::vector<App::CassandraNodeStatus> nodes;
    for (const auto& instance : instances) {
      App::CassandraNodeStatus node;
      node.setInstanceName(instance.first);
      std::vector<App::CassandraKeyspaceStatus> keyspaces;
      for (const auto& k : instance.second) {
        App::CassandraKeyspaceStatus keyspace;
        keyspace.setKeyspaceName(k.first);
        if (k.second >= 0) keyspace.setStatus(k.second);
        keyspaces.push_back(keyspace);
      }
      node.setKeyspaceStatuses(keyspaces);
      nodes.push_back(node);
    }
    status.setNodeStatuses(nodes);
    std::string xml;
    EXPECT_EQ(status.serialize(xml), 0);
    return xml;
  }

  // Sends the request as the coordinator does: through OnMessage.
  CQiError Send(const DistributedQEL::CassandraCreateCollectFiles& request) {
    return controller_->OnMessage(request);
  }

  // A request answered in-process by the stand-in's handler for node i.
  TqSim::SimReply SimRequest(size_t i, const std::string& target) const {
    TqSim::PriamRequestHandler handler(cluster_.clusterFile, cluster_.nodes[i].address);
    return handler.Handle(0, "/" + target, "");
  }

  // The snapshot names on node i.
  std::set<std::string> Snapshots(size_t i) const {
    TqSim::SimReply reply = SimRequest(i, "ListSnaps");
    EXPECT_EQ(reply.status, 200) << reply.text;
    std::set<std::string> names;
    nlohmann::json doc = nlohmann::json::parse(reply.text, nullptr, false);
    if (doc.is_object()) {
      for (auto it = doc.begin(); it != doc.end(); ++it) names.insert(it.key());
    }
    return names;
  }

  std::string JR(const std::string& name) const { return jobResults_ + "/" + name; }

  // Collect-file names in the job results directory.
  std::set<std::string> CollectFileNames() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(jobResults_)) {
      std::string name = e.path().filename().string();
      if (name.rfind("Collect", 0) == 0) names.insert(name);
    }
    return names;
  }

  // Every entry of the numbered collect files from `first` to `last`, then
  // the surplus temporary files from `tmpFirst` to `tmpLast`, in order.
  std::vector<std::string> CollectEntries(const std::string& kind, int first, int last,
                                          int tmpFirst = 1, int tmpLast = 0) const {
    std::vector<std::string> all;
    for (int i = first; i <= last; ++i) {
      auto part = ReadNumberedFile(JR("Collect" + kind + std::to_string(i) + ".tqf"));
      all.insert(all.end(), part.begin(), part.end());
    }
    for (int i = tmpFirst; i <= tmpLast; ++i) {
      auto part = ReadNumberedFile(JR("Collect" + kind + std::to_string(i) + "tmp.tqf"));
      all.insert(all.end(), part.begin(), part.end());
    }
    return all;
  }

  // The table directories of node i that hold tables of the request, in the
  // order the controller lists them: keyspaces in request order, then data
  // directories, then directory names.
  std::vector<std::string> TableDirs(size_t i) const {
    std::vector<std::string> dirs;
    for (const auto& ks : sim_.keyspaces) {
      for (const auto& data : cluster_.nodes[i].dataDirs) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(data + "/" + ks.name, ec)) {
          names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        for (const auto& n : names) dirs.push_back(data + "/" + ks.name + "/" + n);
      }
    }
    return dirs;
  }

  // The entries the collect files of nodes `nodes` (ascending instance
  // names) list, in order: every instance's data, keyspace and table
  // directories, then the files of each table's `source(node, keyspace)`
  // subdirectory ("snapshots/<name>" or "backups").
  std::vector<std::string> ExpectedEntries(
      const std::vector<size_t>& nodes,
      const std::function<std::string(size_t, const std::string&)>& source) const {
    std::vector<std::string> dirs;
    std::vector<std::string> files;
    for (size_t i : nodes) {
      const auto& data = cluster_.nodes[i].dataDirs;
      dirs.insert(dirs.end(), data.begin(), data.end());
      for (const auto& ks : sim_.keyspaces) {
        for (const auto& d : data) {
          const std::string ksDir = d + "/" + ks.name;
          dirs.push_back(ksDir);
          std::vector<std::string> names;
          std::error_code ec;
          for (const auto& e : fs::directory_iterator(ksDir, ec)) {
            names.push_back(e.path().filename().string());
          }
          std::sort(names.begin(), names.end());
          for (const auto& n : names) {
            dirs.push_back(ksDir + "/" + n);
            const std::string from = ksDir + "/" + n + "/" + source(i, ks.name);
            for (const auto& f : FilesIn(from)) files.push_back(from + "/" + f);
          }
        }
      }
    }
    dirs.insert(dirs.end(), files.begin(), files.end());
    return dirs;
  }

  simtest::TempDir dir_;
  std::string jobResults_;
  TqSim::FixtureResult cluster_;
  TqSim::SimCluster sim_;
  boost::shared_ptr<DistributedQEL::CInMemoryFrameworkServices> services_{
      new DistributedQEL::CInMemoryFrameworkServices()};
  std::unique_ptr<CClientContextScope> context_;
  std::unique_ptr<Controller> controller_;
};

// The controller test over a scripted Priam: every utility made while the
// test runs answers from `priam_` (flush, snapshots and "info" succeed unless
// a test scripts otherwise). Two nodes with four keyspaces of one table.
class ScriptedControllerTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    TqSim::FixtureOptions options;
    options.nodes = 2;
    options.keyspaces = 4;
    options.tablesPerKeyspace = 1;
    options.sstablesPerTable = 1;
    options.sstableSize = 16;
    Generate(options);
    for (const char* resource : {"flush", "snapshot", "clearsnapshot"}) {
      priam_->SetReply(resource, "{}");
    }
    priam_->SetReply("ListSnaps", "{}");
    priam_->SetReply("info", R"({"incrementalEnabled": true})");
  }

  int Requests(const std::string& resource) const {
    int count = 0;
    for (const auto& r : priam_->AllRequests()) count += r.resource == resource;
    return count;
  }

  std::shared_ptr<TqCassandra::ScriptedPriam> priam_ =
      std::make_shared<TqCassandra::ScriptedPriam>();
  TqCassandra::ScopedPriamTransportFactory guard_{priam_->Factory()};
};

inline DistributedQEL::DINameValue Option(const std::string& name, const std::string& value) {
  return DistributedQEL::DINameValue(name, value);
}

}  // namespace bctest
