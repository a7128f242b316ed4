#include "backup/CassandraBackupController.h"

#include <cstdlib>
#include <ctime>
#include <new>

#include "backup/CassandraControllerClientConfig.h"
#include "common/CassandraPriamSetup.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/ExtentCollectFile.h"
#include "platform/priam/PriamUtil.h"

namespace TQCassandra {

namespace {

// The leading decimal digits of `text` as an unsigned number; none gives 0.
uint64_t LeadingNumber(const std::string& text) {
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

CassandraBackupController::CassandraBackupController() = default;

CassandraBackupController::~CassandraBackupController() { TQLOG(0, "--------"); }

boost::shared_ptr<CassandraControllerClientConfig> CassandraBackupController::GetControllerConfig()
    const {
  return boost::dynamic_pointer_cast<CassandraControllerClientConfig>(getClientConfig());
}

CQiError CassandraBackupController::getClientConfigObject(
    TQDC_FileSystem::CFSClientConfigPtr& config) {
  if (!clientConfig) {
    clientConfig.reset(new (std::nothrow) CassandraControllerClientConfig());
    if (!clientConfig) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 8, "Unable to get job CassandraClientConfig object. Memory alllocation error.");
    }
  }
  config = clientConfig;
  setClientConfig(clientConfig);
  return CQiError::Success();
}

void CassandraBackupController::OnAgentStarted() {
  TQ_DEBUG_FUNCTION();
  MultiNodeBackupOpsController::OnAgentStarted();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) {
    TQLOG(-1, "NULL Cassandra controller client config object");
    return;
  }
  CProgramArgumentsPtr arguments = getProgramArguments();
  CQiError error = config->parseArguments(arguments);
  if (error.IsError()) {
    TQLOG(-1, "Failed to parse the controller arguments: %s", error.AsString(2).c_str());
  }
}

CQiError CassandraBackupController::OnMessage(const CNMessageBase& message) {
  TQ_DEBUG_FUNCTION();
  if (!GetControllerConfig()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  }
  if (message.getTagID() != kCreateCollectFilesTag) {
    const std::string name = message.getTagName();
    TQLOG(0, "Unhandled message %s", name.c_str());
    return FXErrorUtil::ErrorWin32(FXLOC, 6, "Unhandled message %s", name.c_str());
  }
  CNMessageBase request(message);
  CQiError error = handleCassandraCreateCollectFilesMsg(&request);
  if (error.IsError()) TQLOG(0, "Failed to create collect files: %s", error.AsString().c_str());
  // The framework's start-up step once more: it sends the second start-up
  // report with the outcome.
  DistributedQEL::CController::OnAgentStarted();
  return CQiError::Success();
}

CQiError CassandraBackupController::handleCassandraCreateCollectFilesMsg(CNMessageBase* message) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  auto fail = [this](CQiError error) {
    collectFileCreationFailed = true;
    return error.Push(FXLOC);
  };
  std::optional<DistributedQEL::CassandraCreateCollectFiles> request;
  if (message) request = RecordAs<DistributedQEL::CassandraCreateCollectFiles>(*message);
  if (!request) {
    return fail(FXErrorUtil::ErrorWin32(FXLOC, 13, "The message is not a collect file request"));
  }

  // The instances and their keyspaces.
  for (const DistributedQEL::CassandraNodeKeyspace& entry : request->getNodeKeyspaces()) {
    CassandraCtrlNodeProperties properties;
    std::optional<App::CassandraNode> node = entry.getNode();
    if (node) properties.node = *node;
    const std::string directories = properties.node.getDataDirectories();
    if (!directories.empty()) properties.dataDirectories = SplitAt(directories, ';');
    const std::string name = GetInstanceName(properties.node);
    TQLOG(0, "Populating map for instance %s", name.c_str());
    config->nodeProperties[name] = properties;
    keyspacesByInstance[name] = entry.getKeyspaces();
  }
  config->clusterName = request->getClusterName();
  TQLOG(2, "Cassandra cluster name: %s", config->clusterName.c_str());

  // The options; a later entry of a name overrides an earlier one.
  bool skipCollectFiles = false;
  std::string jmxConfig;
  std::string authConfig;
  std::string lastBackupStatus;
  if (!request->isSet(4)) {
    TQLOG(0, "Options not set. Will continue with creating collect files");
  } else {
    for (const DistributedQEL::DINameValue& option : request->getOptions()) {
      const std::string name = option.getName();
      const std::string value = option.getValue();
      if (name == "CreateCollectFiles") {
        skipCollectFiles = value == "n";
      } else if (name == "JMXConfig") {
        jmxConfig = value;
      } else if (name == "AuthConfig") {
        authConfig = value;
      } else if (name == "LastBackupStatus") {
        lastBackupStatus = value;
      } else if (name == "CommitLogBackupDir") {
        config->commitLogBackupDir = value;
      } else if (name == "CommitLogBackupCmd") {
        config->commitLogBackupCmd = value;
      } else if (name == "ExtentSize") {
        config->extentBackup = true;
        config->extentSize = LeadingNumber(value);
      } else if (name == "LargeFileThreshold") {
        config->extentBackup = true;
        config->largeFileThreshold = LeadingNumber(value);
      }
    }
  }
  // A threshold alone (the coordinator sends no extent size of 0) must not
  // leave extents of no size: the default extent size applies.
  if (config->extentBackup && config->extentSize == 0) {
    config->extentSize = MultiNodeBackupOps::CExtentCollectFile::kDefaultExtentSize;
    TQLOG(0, "No extent size given. Using %llu",
          static_cast<unsigned long long>(config->extentSize));
  }

  CQiError error = initializePriam(jmxConfig, authConfig, true);
  if (error.IsError()) return fail(error);

  deleteSnapshots(false);

  if (!config->commitLogJob) {
    error = chooseBackupLevels(lastBackupStatus);
    if (error.IsError()) return fail(error);
  }

  if (skipCollectFiles) {
    collectFilesSkipped = true;
    TQLOG(0, "Not creating collect files. Continuing");
    if (!config->commitLogJob) recoverBackupStartTime();
    return CQiError::Success();
  }

  if (config->commitLogJob) {
    error = configureCommitLogBackup();
    if (error.IsError()) return fail(error);
    error = checkIfCassandraInDocker();
    if (error.IsError()) return fail(error);
    error = generateCollectFilesForCommitLogs(2 * config->getNumberOfStreams(),
                                              static_cast<int>(config->getCollectFileStart()));
    if (error.IsError()) return fail(error);
    TQLOG(2, "handleCassandraCreateCollectFilesMsg done");
    return CQiError::Success();
  }

  backupStartTime = static_cast<int64_t>(std::time(nullptr));
  {
    // Kept for a rerun, which makes no collect files and reports this time.
    const std::string path = FXPath::Join(config->getJobResultsDirectory(), kBackupTimeFileName);
    const std::string line = std::to_string(backupStartTime) + "\n";
    CQiFile file;
    CQiError written = file.Open(path.c_str(), "w");
    if (!written.IsError()) written = file.Write(line.data(), line.size());
    if (!written.IsError()) written = file.Close();
    if (written.IsError()) {
      TQLOG(-1, "Failed to keep the backup time in %s: %s", path.c_str(),
            written.AsString(2).c_str());
    }
  }
  // The failures list starts empty for this job and keeps every line until
  // the done report has read it; a list that does not exist is no failure.
  const std::string failuresList = config->getFailuresFilePath();
  if (!failuresList.empty()) {
    error = CQiFile::Delete(failuresList.c_str(), false);
    if (error.IsError()) {
      TQLOG(-1, "Failed to delete Failures.tqf");
      return fail(error);
    }
  }
  error = flushCassandraTables();
  if (error.IsError()) return fail(error);
  error = takeSnapshot();
  if (error.IsError()) return fail(error);
  error = generateCollectFiles(2 * config->getNumberOfStreams(),
                               static_cast<int>(config->getCollectFileStart()),
                               static_cast<TQBkpLevel>(config->getBackupLevel()));
  if (error.IsError()) return fail(error);

  TQLOG(2, "handleCassandraCreateCollectFilesMsg done");
  return CQiError::Success();
}

CQiError CassandraBackupController::chooseBackupLevels(const std::string& lastBackupStatus) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");

  std::map<std::string, std::vector<App::CassandraKeyspaceStatus>> statusByInstance;
  if (!lastBackupStatus.empty()) {
    App::CassandraLastBackupStatus status;
    int result = status.unserialize(lastBackupStatus);
    if (result != 0) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 13, "Unserialize of CassandraLastBackupStatus failed with an error %d", result);
    }
    if (!status.isSet(1)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to fetch node last backup status");
    }
    for (const App::CassandraNodeStatus& node : status.getNodeStatuses()) {
      statusByInstance[node.getInstanceName()] = node.getKeyspaceStatuses();
    }
  } else if (config->getBackupLevel() == TQBkpLevel_Incremental) {
    TQLOG(0, "There is no last backup status. Converting to FULL");
    config->setBackupLevel(TQBkpLevel_Full);
    EvEvent().MinorEvent(kEvConvertedToFull);
  }

  for (auto& entry : config->nodeProperties) {
    const std::string& name = entry.first;
    CassandraCtrlNodeProperties& properties = entry.second;
    TQLOG(2, "Instance %s", name.c_str());
    auto priamEntry = priamByInstance.find(name);
    TqCassandra::PriamUtil* priam =
        priamEntry == priamByInstance.end() ? nullptr : priamEntry->second.get();

    if (properties.dataDirectories.empty()) {
      if (!priam) {
        return FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for instance %s", name.c_str());
      }
      CQiError error = priam->getCassandraDataDir(properties.dataDirectories);
      if (error.IsError()) return error.Push(FXLOC);
    }
    // A relative directory would be read against the working directory, and
    // one holding ";" would split in the lists that the cleanup and the
    // restore read: the node's collect files are not made.
    for (const std::string& directory : properties.dataDirectories) {
      CQiError error = CSuiteRegistration::CheckDataDirectory(directory, name);
      if (error.IsError()) {
        TQLOG(-1, "%s", error.AsString(2).c_str());
        return error.Push(FXLOC);
      }
    }
    if (config->getBackupLevel() != TQBkpLevel_Incremental) continue;

    const std::vector<App::CassandraKeyspaceStatus>& statuses = statusByInstance[name];
    std::vector<std::string>& full = fullKeyspaces[name];
    for (const DistributedQEL::CassandraKeyspace& keyspace : keyspacesByInstance[name]) {
      const std::string keyspaceName = keyspace.getKeyspaceName();
      const App::CassandraKeyspaceStatus* status = nullptr;
      for (const App::CassandraKeyspaceStatus& candidate : statuses) {
        if (candidate.getKeyspaceName() == keyspaceName) {
          status = &candidate;
          break;
        }
      }
      bool takeFull = false;
      if (!status) {
        TQLOG(0, "New keyspace %s, taking FULL", keyspaceName.c_str());
        takeFull = true;
      } else if (status->hasStatus() && status->getStatus() == 0) {
        TQLOG(0, "keyspace %s failed, taking FULL", keyspaceName.c_str());
        takeFull = true;
      }
      bool listed = false;
      for (const std::string& known : full) listed = listed || known == keyspaceName;
      if (takeFull && !listed) full.push_back(keyspaceName);
    }

    CQiString reply;
    CQiError error =
        priam ? priam->get(0, CQiString("info"), reply, CQiString(""))
              : FXErrorUtil::ErrorWin32(FXLOC, 87, "No Priam for instance %s", name.c_str());
    if (error.IsError()) {
      TQLOG(-1, "Failed to fetch Cassandra info to check if Incremental is enabled");
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Failed to check if Incremental backup is enabled");
    }
    TqJson::Object info;
    TqJson::Unserialize(reply.str(), info);
    TqJson::Value enabled;
    bool incrementalEnabled = TqJson::FindValue(info, "incrementalEnabled", enabled) &&
                              enabled.isBool() && enabled.getBool();
    if (!incrementalEnabled) {
      TQLOG(-1, "Incremental backup is not enabled on Cassandra");
      EvEvent().InfoEvent(kEvIncrementalDisabled);
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Incremental backup is not enabled on Cassandra");
    }
  }

  if (config->snapshotName.empty()) {
    TQLOG(-1, "Snapshot name is empty. Not proceeding.");
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "Failed to generate snapshot name.");
  }
  return CQiError::Success();
}

void CassandraBackupController::recoverBackupStartTime() {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return;
  // The state file names the job whose collect files were made last; only
  // then is the snapshot time beside it this job's.
  const std::string stateFile = FXPath::Join(config->getJobResultsDirectory(), kJRStateFileName);
  std::string jobId;
  CQiFile::ReadWholeFile(stateFile.c_str(), jobId);
  if (jobId != std::to_string(config->GetSCStateFileJobId())) {
    TQLOG(-1, "Collect files of job %lld not found in %s; no backup time of an earlier run",
          static_cast<long long>(config->GetSCStateFileJobId()), stateFile.c_str());
    return;
  }
  // The time the first run took before its flush; the snapshot time, taken
  // after it, would claim data written during the flush.
  const std::string path = FXPath::Join(config->getJobResultsDirectory(), kBackupTimeFileName);
  std::string content;
  CQiError error = CQiFile::ReadWholeFile(path.c_str(), content);
  const std::string firstLine = content.substr(0, content.find('\n'));
  char* end = nullptr;
  long long time = firstLine.empty() ? 0 : std::strtoll(firstLine.c_str(), &end, 10);
  if (error.IsError() || firstLine.empty() || *end != '\0' || time <= 0) {
    TQLOG(-1, "No backup time of an earlier run in %s", path.c_str());
    return;
  }
  backupStartTime = time;
  TQLOG(0, "Backup time %lld of the earlier run taken from %s", time, path.c_str());
}

CQiError CassandraBackupController::initializePriam(const std::string& jmxConfig,
                                                    const std::string& authConfig, bool start) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  std::map<std::string, NodePriamInstance> instances;
  for (const auto& entry : config->nodeProperties) {
    instances[entry.first] = NodePriamInstance::FromNode(entry.second.node);
  }
  CQiError error = CassandraPriamSetup::InitializeNodePriams(
      instances, config->getJobResultsDirectory(), jmxConfig, authConfig, start, priamByInstance);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

bool CassandraBackupController::isPriamRunning(const std::string& instance) const {
  auto entry = priamByInstance.find(instance);
  return entry != priamByInstance.end() && entry->second && entry->second->getIsConnected();
}

CQiError CassandraBackupController::uninitializePriam() {
  TQ_DEBUG_FUNCTION();
  CQiError error = CassandraPriamSetup::UninitializeNodePriams(priamByInstance);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
