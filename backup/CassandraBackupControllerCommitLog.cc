// The commit-log job of the backup controller: commit-log archiving set up in
// every instance's "commitlog_archiving.properties", the archive directory
// mapped onto the host when Cassandra runs in Docker containers, and the
// archived commit logs listed in collect files.

#include <string>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraControllerClientConfig.h"
#include "backup/CassandraDockerHelper.h"
#include "common/CassandraPriamSetup.h"
#include "common/CommitLogArchivingProperties.h"
#include "platform/app/SuiteRegistration.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiDirectory.h"
#include "platform/base/QiFile.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/multinode/UnixFlatCollectFile.h"

namespace TQCassandra {

namespace {

const char* const kArchiveKey = "archive_command";
// Names of archived commit-log segments begin with "CommitLog".
const char* const kSegmentPattern = "CommitLog*";

}  // namespace

CQiError CassandraBackupController::configureCommitLogBackup() {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");

  CQiError checked = CSuiteRegistration::CheckArchiveSetting(config->commitLogBackupDir, "folder");
  if (!checked.IsError()) {
    checked = CSuiteRegistration::CheckArchiveSetting(config->commitLogBackupCmd, "command");
  }
  if (checked.IsError()) {
    TQLOG(-1, "%s", checked.AsString(2).c_str());
    return checked.Push(FXLOC);
  }
  const std::string archiveValue =
      config->commitLogBackupCmd + " %path " + config->commitLogBackupDir + "/%name";
  // A line end in the value would add lines of its own to the file.
  if (archiveValue.find_first_of("\r\n") != std::string::npos) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "Commit log backup command or directory holds a line end");
  }

  for (const auto& entry : config->nodeProperties) {
    const std::string& instance = entry.first;
    std::string path = NodeConfigurationLocation(entry.second.node.getConfigDirectory());
    FXPath::Append(path, CommitLogArchivingProperties::kFileName, 0);
    TQLOG(0, "Configuring commit log backup for instance %s in file %s", instance.c_str(),
          path.c_str());

    std::string text;
    CQiError error = CQiFile::ReadWholeFile(path.c_str(), text);
    if (error.IsError()) {
      TQLOG(-1, "Failed to open Cassandra commit log archive config file - %s: %s", path.c_str(),
            error.AsString(2).c_str());
      return FXErrorUtil::ErrorWin32(
          FXLOC, 87, "Failed to open Cassandra commit log archive config file - %s", path.c_str());
    }

    std::string current;
    if (CommitLogArchivingProperties::FindKey(text, kArchiveKey, current) &&
        current == archiveValue) {
      TQLOG(0, "Not editing commit log archiving conf file as it is already configured");
      continue;
    }

    const std::string updated =
        CommitLogArchivingProperties::UpdateKey(text, kArchiveKey, archiveValue);
    CommitLogArchivingProperties::RewriteStep step;
    error = CommitLogArchivingProperties::Rewrite(path, updated, step);
    if (error.IsError()) {
      TQLOG(-1, "Failed to rewrite %s: %s", path.c_str(), error.AsString(2).c_str());
      return FXErrorUtil::Restate(
          FXLOC, error,
          step == CommitLogArchivingProperties::kRewriteOpen
              ? "Failed to open Cassandra commit log archive config file"
              : "Failed to write into Cassandra commit log archive config file");
    }
    TQLOG(0,
          "Commit log archiving has been configured. This will take effect with a restart of "
          "Cassandra services.");
    EvEvent().MajorEvent(kEvCommitLogArchivingConfigured, 0, 0);
  }
  return CQiError::Success();
}

CQiError CassandraBackupController::checkIfCassandraInDocker() {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  if (!CassandraDockerHelper::checkIfCassandraInDocker()) return CQiError::Success();

  for (auto& entry : config->nodeProperties) {
    const std::string& instance = entry.first;
    if (!isPriamRunning(instance)) {
      TQLOG(0, "Priam not initialized or not started on %s. Skipping for docker check",
            instance.c_str());
      continue;
    }
    CassandraDockerHelper helper(entry.second.node.getConfigDirectory());
    CQiError error = helper.initialize();
    if (error.IsError()) {
      TQLOG(0, "Failed to initialize docker helper: %s. Continuing with non docker config",
            error.AsString(2).c_str());
      return CQiError::Success();
    }
    std::string hostPath;
    error = helper.getSourcePath(config->commitLogBackupDir, hostPath);
    if (error.IsError()) return error.Push(FXLOC);
    entry.second.commitLogArchiveHostPath = hostPath;
    TQLOG(0, "Commit log archive path %s on instance %s maps to %s on host",
          config->commitLogBackupDir.c_str(), instance.c_str(), hostPath.c_str());
  }
  return CQiError::Success();
}

CQiError CassandraBackupController::generateCollectFilesForCommitLogs(int splitCount,
                                                                      int collectFileStart) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");

  const TQBkpLevel level = static_cast<TQBkpLevel>(config->getBackupLevel());
  CassandraCollectFileContext context;
  CUnixFlatCollectFilePtr flat;
  std::string flatPath;
  CQiError opened = openFlatCollectFile(level, context, flat, flatPath);
  if (opened.IsError()) return opened.Push(FXLOC);

  for (auto& entry : priamByInstance) {
    const std::string& name = entry.first;
    TQLOG(0, "Instance %s", name.c_str());
    if (!isPriamRunning(name)) {
      TQLOG(0, "Priam not initialized or not started on %s. Skipping", name.c_str());
      continue;
    }
    const std::string& hostPath = config->nodeProperties[name].commitLogArchiveHostPath;
    const std::string archive = hostPath.empty() ? config->commitLogBackupDir : hostPath;
    CQiError error = writeToCollectFile(archive, flatPath, context.consumer);
    if (error.IsError()) return error.Push(FXLOC);

    CQiDirectory listing;
    error = listing.Open(archive.c_str(), kSegmentPattern);
    if (error.IsError()) {
      TQLOG(-1, "Failed to open commit log backup directory %s: %s", archive.c_str(),
            error.AsString(2).c_str());
      return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                     "Failed to open the configured commit log backup directory");
    }
    while (true) {
      SQiDirEntry item;
      bool done = false;
      error = listing.GetEntry(item, done);
      if (error.IsError()) return error.Push(FXLOC);
      if (done) break;
      error =
          writeToCollectFile(FXPath::Join(archive, item.name.str()), flatPath, context.consumer);
      if (error.IsError()) return error.Push(FXLOC);
    }
  }

  CQiError error = finishCollectFiles(splitCount, collectFileStart, context);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

}  // namespace TQCassandra
