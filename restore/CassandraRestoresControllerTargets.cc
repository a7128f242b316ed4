// The target nodes of a restore controller: per mapping the target's work
// folder, Priam (properties, and with recover its start with the data
// directories), the staging path as the host sees it (also for a node in a
// Docker container), and the token rule.

#include <new>
#include <optional>
#include <vector>

#include "backup/CassandraDockerHelper.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "restore/CassandraRestoresController.h"

namespace TQCassandra {

namespace {

constexpr uint32_t kEvPriamStartFailed = 0x60003D4;
constexpr uint32_t kEvPriamAccessDenied = 0x6000485;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

// A target key names the target's work folder: it must be one path
// component, so that no name leads outside the restore results folder.
bool IsFolderName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
  }
  return true;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CQiError CCassandraRestoreController::checkIfCassandraInDocker(const std::string& targetKey,
                                                               const std::string& configDirectory,
                                                               bool& inDocker) {
  inDocker = CassandraDockerHelper::checkIfCassandraInDocker();
  if (!inDocker) return CQiError::Success();
  CassandraDockerHelper helper(configDirectory);
  CQiError e = helper.initialize();
  if (e.IsError()) {
    TQLOG(0, "Failed to initialize docker helper: %s. Continuing with non docker config",
          e.AsString(2).c_str());
    inDocker = false;
    return CQiError::Success();
  }
  std::string container;
  if (helper.getContainerName(container).IsError()) {
    inDocker = false;
    return CQiError::Success();
  }
  containerByTarget[targetKey] = container;
  inDocker = true;
  std::string hostPath;
  e = helper.getSourcePath(stagePath, hostPath);
  if (e.IsError()) return e.Push(FXLOC);
  hostStagingPath[targetKey] = hostPath;
  TQLOG(0, "Commit log restore location %s on container maps to %s on host", stagePath.c_str(),
        hostPath.c_str());
  return CQiError::Success();
}

CQiError CCassandraRestoreController::setUpMapping(
    const DistributedQEL::CassandraSourceTargetMapping& mapping,
    const std::string& resultsDirectory, const std::string& baseDirectory,
    TargetPriamSettings& settings) {
  const std::optional<App::CassandraNode> source = mapping.getSource();
  const std::optional<App::CassandraNode> target = mapping.getTarget();
  if (!source || !target) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "A source and target mapping lacks its %s node",
                                   source ? "target" : "source");
  }
  const std::string sourceName = NodeNameOf(*source);
  const std::string targetKey = TargetKeyOf(*target);
  TQLOG(1, "Source node %s restores to %s", sourceName.c_str(), targetKey.c_str());

  auto known = dataDirsByTarget.find(targetKey);
  if (known != dataDirsByTarget.end() && !known->second.empty()) {
    dataDirBySource[sourceName] = known->second.front();
  }

  // "<configuration directory>:<the same as the host sees it>", or one path.
  const std::string configField = target->getConfigDirectory();
  std::vector<std::string> configParts = Split(configField, ':');
  std::string configDirectory = configField, hostConfigDirectory = configField;
  if (configParts.size() == 2) {
    configDirectory = configParts[0];
    hostConfigDirectory = configParts[1];
  }

  if (priamByTarget.find(targetKey) == priamByTarget.end()) {
    if (!IsFolderName(targetKey)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Target node name [%s] cannot name a folder",
                                     targetKey.c_str());
    }
    const std::string workDirectory = FXPath::Join(resultsDirectory, targetKey);
    CQiError e = CQiDirectory::Create(workDirectory.c_str(), true);
    if (e.IsError()) return e.Push(FXLOC);
    workDirByTarget[targetKey] = workDirectory;

    std::string javaPath;
    const std::string javaHome = targetNode ? targetNode->getJavaHome() : std::string();
    if (!javaHome.empty()) javaPath = FXPath::Join(javaHome, "java");
    boost::shared_ptr<TqCassandra::PriamUtil> priam(new (std::nothrow) TqCassandra::PriamUtil(
        0, CQiString(javaPath.c_str()), baseDirectory, workDirectory, configDirectory,
        replaceDeadNode || runDR));
    if (!priam) {
      return FXErrorUtil::ErrorWin32(FXLOC, 8, "Memory allocation failed for Priam object");
    }

    std::map<std::string, std::string>& properties = settings.properties;
    properties["priam.jmx.port"] = priam->getJMXport();
    std::string cqlHost = priam->getCQLhost(), cqlPort = priam->getCQLport();
    if (cqlHost.empty() || cqlPort.empty()) {
      cqlHost = settings.cqlHostFallback;
      cqlPort = settings.cqlPortFallback;
    }
    properties["priam.cqlhost"] = cqlHost;
    properties["priam.cqlport"] = cqlPort;
    e = priam->writePriamProperties(properties);
    if (e.IsError()) {
      TQLOG(1, "Failed to write the Priam properties of %s: %s", targetKey.c_str(),
            e.AsString(2).c_str());
    }
    priamByTarget[targetKey] = priam;

    if (recover) {
      TQLOG(2,
            "Using cassandra conf directory: %s and conf directory with host relative "
            "keystore/truststore paths: %s",
            configDirectory.c_str(), hostConfigDirectory.c_str());
      std::string configFileName;
      e = priam->getConfFileNameCassFlavor(configFileName, cassandraFlavor);
      if (e.IsError()) return e.Push(FXLOC);
      const std::string configFile = FXPath::Join(hostConfigDirectory, BaseName(configFileName));

      std::vector<std::string> dataDirectories;
      const std::string dataField = target->getDataDirectories();
      if (dataField.empty()) {
        TQLOG(0, "Using data directory from Cassandra config files");
        e = priam->getCassandraDataDir(dataDirectories);
        if (e.IsError()) return e.Push(FXLOC);
      } else {
        dataDirectories = Split(dataField, ';');
      }
      std::list<std::string> directories;
      for (const std::string& directory : dataDirectories) {
        if (!directory.empty()) directories.push_back(directory);
      }
      if (directories.empty()) {
        return FXErrorUtil::ErrorWin32(FXLOC, 13, "No data directory for target node %s",
                                       targetKey.c_str());
      }
      dataDirsByTarget[targetKey] = directories;
      dataDirBySource[sourceName] = directories.front();

      char options[8192];
      snprintf(options, sizeof options,
               "%s  -Dcassandra.storagedir=%s "
               "-Dcassandra-rackdc.properties=file://%s/cassandra-rackdc.properties "
               "-Dcassandra.config=file://%s ",
               settings.jvmOptions.c_str(), directories.front().c_str(), configDirectory.c_str(),
               configFile.c_str());
      priam->priamAdditionalParameters = options;
      TQLOG(2, "Priam additional parameters: %s", options);

      e = priam->startPriam();
      if (e.IsError()) {
        EvEvent event;
        if (FXErrorUtil::IsWin32(e, 5)) {
          event.MajorEvent(kEvPriamAccessDenied);
        } else {
          event << e.AsString(2);
          event.MajorEvent(kEvPriamStartFailed);
        }
        return e.Push(FXLOC);
      }
    }

    bool inDocker = false;
    e = checkIfCassandraInDocker(targetKey, configDirectory, inDocker);
    if (e.IsError()) {
      // Without a staging path the host can reach, the node's files would
      // have nowhere to go.
      TQLOG(0, "Failed to check if it is a docker configuration: %s", e.AsString(2).c_str());
      return e.Push(FXLOC);
    }
    if (!inDocker) hostStagingPath[targetKey] = stagePath;
  }

  if (tokenRuleApplies(sourceName, NodeNameOf(*target))) {
    CQiError e = CompareAndReplaceTokens(targetKey, configDirectory, source->getTokens());
    if (e.IsError()) return e.Push(FXLOC);
  }
  stagingBySource[sourceName] = hostStagingPath[targetKey];
  return CQiError::Success();
}

}  // namespace TQCassandra
