#include "tools/lib/JobHarness.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/index/StoreDataStream.h"
#include "platform/runner/JobRecordStore.h"
#include "platform/runner/JobRunner.h"
#include "platform/suite/ClientContext.h"
#include "platform/suite/PlatformInfo.h"
#include "sim/lib/SimClusterFile.h"
#include "sim/lib/SimDockerWorld.h"
#include "tools/lib/ClusterDataChange.h"
#include "tools/lib/JobVerifier.h"

namespace TqHarness {

namespace fs = std::filesystem;

namespace {

// The names of this process's effective user and group; false when either
// has no name.
bool CurrentOwner(std::string& user, std::string& group) {
  std::vector<char> buffer(16384);
  struct passwd pw;
  struct passwd* pwFound = nullptr;
  if (getpwuid_r(geteuid(), &pw, buffer.data(), buffer.size(), &pwFound) != 0 || !pwFound) {
    return false;
  }
  user = pw.pw_name;
  struct group gr;
  struct group* grFound = nullptr;
  if (getgrgid_r(getegid(), &gr, buffer.data(), buffer.size(), &grFound) != 0 || !grFound) {
    return false;
  }
  group = gr.gr_name;
  return true;
}

}  // namespace

CJobHarness::CJobHarness(std::string home, HarnessPaths paths)
    : home_(std::move(home)), paths_(std::move(paths)) {}

CJobHarness::~CJobHarness() { Close(); }

CQiError CJobHarness::Open() {
  std::error_code ec;
  for (const std::string& dir : {home_ + "/base", SuiteHome()}) {
    if (!ec) fs::create_directories(dir, ec);
  }
  if (ec) {
    return FXErrorUtil::ErrorErrNo(FXLOC, ec.value(), "Cannot create the harness home %s",
                                   home_.c_str());
  }
  home_ = fs::absolute(home_).lexically_normal().string();
  if (!home_.empty() && home_.back() == '/') home_.pop_back();
  savedRegistry_ = CRegistry::Instance().GetFile();
  CClientContext::SetSuiteHome(SuiteHome());
  if (!CRegistry::Instance().SetFile(home_ + "/registry")) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cannot read the registry %s/registry",
                                   home_.c_str());
  }
  open_ = true;
  CRegistry& registry = CRegistry::Instance();
  if (!registry.Set("Base", "dBASEHOME", home_ + "/base") ||
      (!paths_.priamCommand.empty() &&
       !registry.Set("Cassandra", "sPriamCommand", paths_.priamCommand))) {
    return FXErrorUtil::ErrorWin32(FXLOC, 29, "Cannot write the registry %s/registry",
                                   home_.c_str());
  }
  {
    // Restored files are given to the user and group the nodes run as; the
    // simulated nodes' files belong to this process's user, and a machine
    // need not have a "cassandra" user. A value set in the home stays.
    std::string user, group;
    if (!registry.Get("Cassandra", "sCassOSUser", user) && CurrentOwner(user, group) &&
        (!registry.Set("Cassandra", "sCassOSUser", user) ||
         !registry.Set("Cassandra", "sCassOSGroup", group))) {
      return FXErrorUtil::ErrorWin32(FXLOC, 29, "Cannot write the registry %s/registry",
                                     home_.c_str());
    }
  }
  CQiError error = state_.Load(home_);
  if (error.IsError()) return error;
  UseDockerWorld();
  return CQiError();
}

CQiError CJobHarness::OpenForReading() {
  std::error_code ec;
  if (!fs::is_directory(home_, ec)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 2, "There is no tqcass home at %s", home_.c_str());
  }
  home_ = fs::absolute(home_).lexically_normal().string();
  if (!home_.empty() && home_.back() == '/') home_.pop_back();
  savedRegistry_ = CRegistry::Instance().GetFile();
  CClientContext::SetSuiteHome(SuiteHome());
  open_ = true;
  // The registry is read, never written: its file may not be writable.
  if (!CRegistry::Instance().SetFile(home_ + "/registry")) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cannot read the registry %s/registry",
                                   home_.c_str());
  }
  return state_.Load(home_);
}

namespace {

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetEnv(const char* name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

}  // namespace

void CJobHarness::UseDockerWorld() {
  if (paths_.dockerDirectory.empty()) return;
  if (!dockerSet_) {
    savedPath_ = GetEnv("PATH");
    savedDockerWorld_ = GetEnv(TqSim::SimDockerWorld::kWorldEnv);
    SetEnv("PATH", paths_.dockerDirectory + ":" + savedPath_.value_or("/usr/bin:/bin"));
    dockerSet_ = true;
  }
  SetEnv(TqSim::SimDockerWorld::kWorldEnv, state_.dockerWorld.empty()
                                               ? std::nullopt
                                               : std::optional<std::string>(state_.dockerWorld));
}

void CJobHarness::Close() {
  if (!open_) return;
  open_ = false;
  if (dockerSet_) {
    SetEnv("PATH", savedPath_);
    SetEnv(TqSim::SimDockerWorld::kWorldEnv, savedDockerWorld_);
    dockerSet_ = false;
  }
  CClientContext::SetSuiteHome("");
  if (savedRegistry_.empty()) {
    CRegistry::Instance().ClearMemory();
    CRegistry::Instance().SetFile("");
  } else {
    CRegistry::Instance().SetFile(savedRegistry_);
  }
}

CQiError CJobHarness::NeedCluster() const {
  if (!state_.HasCluster()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 2, "%s has no cluster yet; make one with \"tqcass cluster\"", home_.c_str());
  }
  return CQiError();
}

CQiError CJobHarness::NeedRegistered() const {
  CQiError error = NeedCluster();
  if (error.IsError()) return error;
  if (!state_.Registered()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 2, "The cluster of %s is not registered yet; register it with \"tqcass register\"",
        home_.c_str());
  }
  return CQiError();
}

namespace {

// The harness's record of a node the cluster fixture made (its container
// archive folder aside, which only the harness's own cluster keeps).
HarnessNode HarnessNodeOf(const TqSim::FixtureNode& node) {
  HarnessNode n;
  n.name = node.name;
  n.address = node.address;
  n.dataCenter = node.dataCenter;
  n.confDir = node.confDir;
  n.dataDirs = node.dataDirs;
  n.commitLogArchiveDir = node.commitLogArchiveDir;
  return n;
}

// The bytes a generated cluster takes: each SSTable's data plus its small
// component files, and per node its configuration and commit-log segments.
uint64_t BytesOf(const TqSim::FixtureOptions& options) {
  const uint64_t sstables = static_cast<uint64_t>(options.nodes) * options.keyspaces *
                            options.tablesPerKeyspace * options.sstablesPerTable *
                            options.dataDirsPerNode;
  return sstables * (options.sstableSize + CJobHarness::kSSTableOverhead) +
         static_cast<uint64_t>(options.nodes) *
             (CJobHarness::kNodeOverhead +
              options.commitLogSegments * options.commitLogSegmentSize);
}

}  // namespace

CQiError CJobHarness::ReclaimClusterFolder(const std::string& folder) {
  // The home's lock keeps other runs out, and its state names no cluster
  // here: what the folder holds is the part of a cluster a run generated
  // before it was stopped, never recorded, so never used.
  reclaimed_.clear();
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::symlink_status(folder, ec))) return CQiError();
  std::filesystem::remove_all(folder, ec);
  if (ec) {
    return FXErrorUtil::ErrorWin32(FXLOC, 5,
                                   "Cannot remove %s, left by a cluster run that was stopped: %s",
                                   folder.c_str(), ec.message().c_str());
  }
  reclaimed_ = folder;
  return CQiError();
}

CQiError CJobHarness::CreateCluster(const TqSim::FixtureOptions& options) {
  if (state_.HasCluster()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 183, "%s has a cluster already (%s)", home_.c_str(),
                                   state_.clusterFile.c_str());
  }
  CQiError space = ReclaimClusterFolder(home_ + "/cluster");
  if (space.IsError()) return space;
  space = CheckFreeSpace(BytesOf(options), "the cluster");
  if (space.IsError()) return space;
  TqSim::FixtureResult fixture;
  std::string error;
  if (!TqSim::ClusterFixture::Generate(home_ + "/cluster", options, fixture, error)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cannot generate the cluster: %s", error.c_str());
  }
  state_.clusterRoot = fixture.root;
  state_.clusterFile = fixture.clusterFile;
  state_.clusterName = options.clusterName;
  state_.dockerWorld = fixture.dockerWorld;
  state_.nodes.clear();
  for (const auto& node : fixture.nodes) {
    HarnessNode n = HarnessNodeOf(node);
    n.containerArchiveDir = node.containerArchiveDir;
    state_.nodes.push_back(n);
  }
  UseDockerWorld();
  if (options.flavour == "dse" && !state_.nodes.empty() &&
      !CRegistry::Instance().Set("Cassandra", "sCassandraDSEyamlFile",
                                 state_.nodes.front().confDir + "/dse.yaml")) {
    // Where a DSE node keeps its system keys: the backup stores them with
    // the encrypted tables' views.
    return FXErrorUtil::ErrorWin32(FXLOC, 29, "Cannot write the registry %s/registry",
                                   home_.c_str());
  }
  return state_.Save(home_);
}

CQiError CJobHarness::CreateCluster(const TqSim::FixtureOptions& given, const std::string& name) {
  if (!state_.HasCluster()) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 2, "%s has no cluster yet; make its first one with \"tqcass cluster\"",
        home_.c_str());
  }
  if (name.empty() || name.size() > 48 ||
      name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                             "0123456789_-") != std::string::npos ||
      name[0] == '-') {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "Cannot name a cluster \"%s\": use 1 to 48 letters, digits, "
                                   "\"_\" and \"-\" (not first)",
                                   name.c_str());
  }
  HarnessCluster existing;
  if (state_.FindCluster(name, existing)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 183, "%s has a cluster named %s already", home_.c_str(),
                                   name.c_str());
  }
  if (given.docker) {
    return FXErrorUtil::ErrorWin32(FXLOC, 50,
                                   "A further cluster cannot run in containers: the docker "
                                   "stand-in serves the first cluster's containers only");
  }
  const int network = static_cast<int>(state_.clusters.size()) + 1;
  if (network > 255) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "%s has as many clusters as addresses allow",
                                   home_.c_str());
  }
  TqSim::FixtureOptions options = given;
  options.clusterName = name;
  options.nodePrefix = name + "-node";
  options.addressNetwork = network;
  options.seed = given.seed + static_cast<uint64_t>(network);
  CQiError space = ReclaimClusterFolder(home_ + "/clusters/" + name);
  if (space.IsError()) return space;
  space = CheckFreeSpace(BytesOf(options), "the cluster");
  if (space.IsError()) return space;
  TqSim::FixtureResult fixture;
  std::string error;
  if (!TqSim::ClusterFixture::Generate(home_ + "/clusters/" + name, options, fixture, error)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Cannot generate the cluster %s: %s", name.c_str(),
                                   error.c_str());
  }
  HarnessCluster cluster;
  cluster.name = name;
  cluster.clusterRoot = fixture.root;
  cluster.clusterFile = fixture.clusterFile;
  for (const auto& node : fixture.nodes) {
    cluster.nodes.push_back(HarnessNodeOf(node));
  }
  state_.clusters.push_back(cluster);
  return state_.Save(home_);
}

CQiError CJobHarness::Register(const RegisterOptions& options) {
  CQiError error = NeedCluster();
  if (error.IsError()) return error;
  if (state_.Registered()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 183, "The cluster of %s is registered already",
                                   home_.c_str());
  }
  HarnessCluster cluster = state_.Primary();
  cluster.coordinatorClient = kCoordinatorClient;
  error = RegisterCluster(cluster, options, state_.dockerWorld, kInstanceName, 1);
  if (error.IsError()) return error;
  state_.nodes = cluster.nodes;
  state_.coordinatorClient = cluster.coordinatorClient;
  state_.coordinatorClientId = cluster.coordinatorClientId;
  state_.instanceId = cluster.instanceId;
  state_.subclientId = cluster.subclientId;
  return state_.Save(home_);
}

CQiError CJobHarness::Register(const RegisterOptions& options, const std::string& name) {
  HarnessCluster* cluster = state_.FurtherCluster(name);
  if (cluster == nullptr) {
    if (state_.HasCluster() && name == state_.clusterName) return Register(options);
    return FXErrorUtil::ErrorWin32(FXLOC, 2,
                                   "%s has no cluster named %s; make it with \"tqcass cluster "
                                   "--name %s\"",
                                   home_.c_str(), name.c_str(), name.c_str());
  }
  if (cluster->Registered()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 183, "The cluster %s of %s is registered already",
                                   name.c_str(), home_.c_str());
  }
  const std::string number = std::to_string(cluster - state_.clusters.data() + 2);
  HarnessCluster registered = *cluster;
  registered.coordinatorClient = "cluster" + number;
  // Each instance's subclients form a backup set of their own.
  CQiError error = RegisterCluster(registered, options, "", "cassandra" + number,
                                   static_cast<uint64_t>(std::stoull(number)));
  if (error.IsError()) return error;
  *cluster = registered;
  return state_.Save(home_);
}

CQiError CJobHarness::RegisterCluster(HarnessCluster& cluster, const RegisterOptions& options,
                                      const std::string& dockerWorld,
                                      const std::string& instanceName, uint64_t backupSetId) {
  // Checked before anything is registered, so that a refused registration
  // can be tried again.
  std::string folder = options.archiveDirectory;
  if (options.commitLogBackup && folder.empty()) {
    if (!dockerWorld.empty()) {
      folder = cluster.nodes.front().containerArchiveDir;
    } else if (cluster.nodes.size() == 1) {
      folder = cluster.nodes.front().commitLogArchiveDir;
    } else {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 87,
          "The nodes of a cluster without containers share no commit-log archive folder; "
          "name one");
    }
  }
  CSuiteRegistration registration;
  uint64_t clusterClient = 0;
  CQiError error = registration.registerClient(
      cluster.coordinatorClient, cluster.coordinatorClient + ".sim", {}, clusterClient);
  if (error.IsError()) return error;
  for (auto& node : cluster.nodes) {
    node.clientId = 0;
    error =
        registration.registerClient(node.name, node.name + ".sim", {node.address}, node.clientId);
    if (error.IsError()) return error;
  }
  SInstanceSettings instance;
  instance.name = instanceName;
  instance.clientId = clusterClient;
  instance.cassandraConfigFile = cluster.nodes.front().confDir + "/cassandra.yaml";
  instance.javaHome = "/usr/lib/jvm/java-11";
  instance.gatewayHost = cluster.nodes.front().address;
  instance.clusterName = cluster.name;
  if (options.commitLogBackup) {
    instance.enableCommitLogBackup = true;
    instance.archiveLogPath = folder;
    instance.archiveCommand = options.archiveCommand.empty() ? "/bin/cp" : options.archiveCommand;
  }
  for (const auto& node : cluster.nodes) {
    SNodeSettings stored;
    stored.address = node.address;
    stored.clientId = node.clientId;
    stored.configDirectory = node.confDir;
    for (const std::string& dir : node.dataDirs) {
      // Checked before the join, where a ";" would split the directory.
      error = CSuiteRegistration::CheckDataDirectory(dir, node.name);
      if (error.IsError()) return error;
      stored.dataDirectories += (stored.dataDirectories.empty() ? "" : ";") + dir;
    }
    instance.nodes.push_back(stored);
  }
  uint64_t instanceId = 0;
  error = registration.registerInstance(instance, instanceId);
  if (error.IsError()) return error;
  SSubclientSettings subclient;
  subclient.name = kSubclientName;
  subclient.instanceId = instanceId;
  subclient.isDefault = true;
  subclient.backupSetId = backupSetId;
  subclient.maxStreams = options.maxStreams;
  uint64_t subclientId = 0;
  error = registration.registerSubclient(subclient, subclientId);
  if (error.IsError()) return error;
  cluster.coordinatorClientId = clusterClient;
  cluster.instanceId = instanceId;
  cluster.subclientId = subclientId;
  return CQiError();
}

TqRunner::JobSpec CJobHarness::MakeSpec(const BackupRequest& request) const {
  TqRunner::JobSpec spec = BaseSpec();
  spec.jobType = "backup";
  spec.phases = {"scan", "backup", "postop"};
  spec.backupLevel = request.level;
  spec.commitLogJob = request.commitLog;
  spec.numberOfStreams = request.numberOfStreams;
  spec.observer = request.observer;
  return spec;
}

CQiError CJobHarness::MakeRestoreSpec(const RestoreRequest& request,
                                      TqRunner::JobSpec& spec) const {
  CQiError error = NeedRegistered();
  if (error.IsError()) return error;
  spec = BaseSpec();
  spec.jobType = "restore";
  spec.phases = request.phases;
  spec.numberOfStreams = request.numberOfStreams;
  spec.restoreDestination = request.destination;
  spec.observer = request.observer;

  TqRunner::JobDescription description;
  description.jobId = spec.jobId;
  description.jobType = spec.jobType;
  description.startTime = static_cast<int64_t>(std::time(nullptr));
  description.ombrelId = spec.ombrelId;
  description.clientName = spec.coordinatorClient.clientName;
  description.sourceInstanceId = state_.instanceId;
  description.destInstanceId = state_.instanceId;
  description.sourceAppType = kAppType;
  description.sourceClientId = state_.coordinatorClientId;
  description.backupSetId = spec.backupSetId;
  description.subclientId = static_cast<int64_t>(state_.subclientId);
  description.fromTime = request.fromTime;
  description.toTime = request.toTime;
  description.pathList1 = request.paths;
  if (description.pathList1.empty()) description.pathList1.push_back("/" + state_.clusterName);
  description.pathList2 = request.filterPaths;
  if (!request.targetCluster.empty()) {
    HarnessCluster target;
    if (!state_.FindCluster(request.targetCluster, target)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 2, "%s has no cluster named %s", home_.c_str(),
                                     request.targetCluster.c_str());
    }
    if (!target.Registered()) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 2,
          "The cluster %s is not registered yet; register it with \"tqcass register "
          "--cluster %s\"",
          target.name.c_str(), target.name.c_str());
    }
    description.destInstanceId = target.instanceId;
    if (target.instanceId != state_.instanceId) {
      spec.coordinatorClient = {target.coordinatorClient,
                                static_cast<uint32_t>(target.coordinatorClientId),
                                target.coordinatorClient + ".sim", 0};
      description.clientName = target.coordinatorClient;
      for (const auto& node : target.nodes) {
        spec.nodeClients.push_back(
            {node.name, static_cast<uint32_t>(node.clientId), node.name + ".sim", 0});
      }
    }
  }
  description.xmlOptions = request.jobOptionsXml;
  error = TqRunner::CJobRecordStore(spec.recordsDirectory).WriteDescription(description);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CJobHarness::RunRestore(const RestoreRequest& request, TqRunner::JobResult& result) {
  TqRunner::JobSpec spec;
  CQiError error = MakeRestoreSpec(request, spec);
  if (error.IsError()) return error;
  return Run(spec, result);
}

TqRunner::JobSpec CJobHarness::BaseSpec() const {
  TqRunner::JobSpec spec;
  spec.jobId = state_.nextJobId;
  spec.pluginPath = paths_.pluginPath;
  spec.ombrelId = kOmbrelId;
  spec.applicationId = static_cast<uint32_t>(state_.subclientId);
  spec.instanceId = state_.instanceId;
  spec.backupSetId = 1;  // registered subclients belong to backup set 1
  spec.appType = kAppType;
  spec.mediaAgent = "MA1";
  spec.coordinatorClient = {state_.coordinatorClient,
                            static_cast<uint32_t>(state_.coordinatorClientId),
                            state_.coordinatorClient + ".sim", 0};
  for (const auto& node : state_.nodes) {
    spec.nodeClients.push_back(
        {node.name, static_cast<uint32_t>(node.clientId), node.name + ".sim", 0});
  }
  spec.limits.pollInterval = std::chrono::milliseconds(10);
  spec.limits.phaseTimeout = std::chrono::minutes(10);
  spec.limits.stopGrace = std::chrono::seconds(30);
  return spec;
}

TqRunner::StreamFactory CJobHarness::StoreStreams(const TqRunner::JobSpec& spec) const {
  SStreamJob base;
  base.jobId = spec.jobId;
  base.ombrelId = spec.ombrelId;
  base.instanceId = spec.instanceId;
  base.backupsetId = spec.backupSetId;
  base.subclientId = spec.applicationId;
  base.appType = spec.appType;
  base.kind = spec.jobType;
  base.level = spec.backupLevel;
  std::map<std::string, uint64_t> clientIds;
  for (const auto& client : spec.nodeClients) clientIds[client.clientName] = client.clientId;
  const std::string home = SuiteHome();
  return [base, clientIds, home](const std::string& clientName, int streamNumber) {
    SStreamJob job = base;
    job.clientName = clientName;
    auto it = clientIds.find(clientName);
    job.clientId = it == clientIds.end() ? 0 : it->second;
    job.streamNumber = streamNumber;
    job.commitBatch = CJobHarness::kCommitBatch;
    return boost::shared_ptr<OBJECTOPSAPI::IDataStream>(new CStoreDataStream(job, home));
  };
}

CQiError CJobHarness::Run(TqRunner::JobSpec spec, TqRunner::JobResult& result) {
  CQiError error = NeedRegistered();
  if (error.IsError()) return error;
  if (spec.jobId == 0) {
    spec.jobId = state_.nextJobId;
  }
  if (spec.jobId >= state_.nextJobId) {
    state_.nextJobId = spec.jobId + 1;
    error = state_.Save(home_);
    if (error.IsError()) return error;
  }
  if (!spec.streamFactory) spec.streamFactory = StoreStreams(spec);
  if (spec.writeRecord) {
    error = RecordStart(spec);
    if (error.IsError()) return error;
  }
  result = TqRunner::CJobRunner(std::move(spec)).Run();
  if (!result.error.empty()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1064, "Job %lld could not run: %s",
                                   static_cast<long long>(result.jobId), result.error.c_str());
  }
  return CQiError();
}

CQiError CJobHarness::RunBackup(const BackupRequest& request, TqRunner::JobResult& result) {
  CQiError error = NeedRegistered();
  if (error.IsError()) return error;
  return Run(MakeSpec(request), result);
}

CQiError CJobHarness::EditCluster(const std::function<void(TqSim::SimCluster&)>& edit) {
  CQiError error = NeedCluster();
  if (error.IsError()) return error;
  TqSim::SimClusterFile file(state_.clusterFile);
  TqSim::SimCluster cluster;
  std::string text;
  if (!file.Load(cluster, text)) return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", text.c_str());
  edit(cluster);
  if (!file.Save(cluster, text)) return FXErrorUtil::ErrorWin32(FXLOC, 29, "%s", text.c_str());
  return CQiError();
}

CQiError CJobHarness::ChangeData(int perTable, uint64_t dataSize, int& added) {
  CQiError error = NeedCluster();
  if (error.IsError()) return error;
  {
    TqSim::SimClusterFile file(state_.clusterFile);
    TqSim::SimCluster cluster;
    std::string text;
    if (!file.Load(cluster, text)) return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", text.c_str());
    uint64_t tables = 0;
    for (const auto& keyspace : cluster.keyspaces) tables += keyspace.tables.size();
    tables *= cluster.nodes.size();
    error = CheckFreeSpace(tables * static_cast<uint64_t>(perTable) * (dataSize + kSSTableOverhead),
                           "the new SSTables");
    if (error.IsError()) return error;
  }
  ++state_.changes;
  error = CClusterDataChange::AddSSTables(state_.clusterFile, perTable, dataSize, state_.changes,
                                          added);
  if (error.IsError()) return error;
  return state_.Save(home_);
}

std::vector<int64_t> CJobHarness::Jobs() const {
  return TqRunner::CJobRecordStore(SuiteHome() + "/Jobs").List();
}

CQiError CJobHarness::ReadJob(int64_t jobId, TqRunner::JobResult& result) const {
  return TqRunner::CJobRecordStore(SuiteHome() + "/Jobs").Read(jobId, result);
}

CQiError CJobHarness::Verify(int64_t jobId, VerifyReport& report) const {
  TqRunner::JobResult result;
  CQiError error = ReadJob(jobId, result);
  if (error.IsError()) return error;
  return CJobVerifier(SuiteHome(), state_).Verify(result, report);
}

std::function<CCollectTotals::Totals()> CJobHarness::CollectTotals(int64_t jobId) const {
  std::vector<std::string> folders;
  for (const auto& node : state_.nodes) folders.push_back(JobResultsOf(node.name, jobId));
  auto totals = std::make_shared<CCollectTotals>(folders);
  return [totals] { return totals->Read(); };
}

std::string CJobHarness::JobResultsOf(const std::string& client, int64_t jobId) const {
  return SuiteHome() + "/" + client + "/JobResults/" + std::to_string(jobId);
}

}  // namespace TqHarness
