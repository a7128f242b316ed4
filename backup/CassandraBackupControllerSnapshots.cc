// Flush, the job's snapshot and the clean-up of the subclient's earlier
// snapshots, each through the Priam of every running instance.

#include <ctime>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraControllerClientConfig.h"
#include "common/PriamQuery.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/base/QiFile.h"
#include "platform/json/TqJson.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"

namespace TQCassandra {

namespace {

void LogSkipped(const std::string& instance) {
  TQLOG(0, "Priam not initialized or not started on %s. Skipping", instance.c_str());
}

}  // namespace

CQiError CassandraBackupController::flushCassandraTables() {
  TQ_DEBUG_FUNCTION();
  for (auto& entry : priamByInstance) {
    const std::string& name = entry.first;
    if (!isPriamRunning(name)) {
      LogSkipped(name);
      continue;
    }
    TQLOG(0, "Executing flush for instance %s", name.c_str());
    CQiString reply;
    CQiError error = entry.second->get(0, CQiString("flush"), reply, CQiString(""));
    if (error.IsError()) {
      TQLOG(-1, "Error while flushing tables. Error: %s, Response: %s", error.AsString(2).c_str(),
            reply.c_str());
      return error.Push(FXLOC);
    }
  }
  return CQiError::Success();
}

CQiError CassandraBackupController::takeSnapshot() {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");

  const long snapshotTime = static_cast<long>(std::time(nullptr));
  TQLOG(0, "Snapshot creation time: %ld", snapshotTime);

  // The post-backup cleanup reads this file: the snapshot time, then one line
  // per instance asked for a snapshot with its data directories.
  const std::string cleanupInfoPath =
      FXPath::Join(config->getJobResultsDirectory(), kCleanupInfoFileName);
  CQiFile cleanupInfo;
  CQiError opened = cleanupInfo.Open(cleanupInfoPath.c_str(), "w");
  if (opened.IsError()) {
    TQLOG(-1, "Failed to open %s: %s", cleanupInfoPath.c_str(), opened.AsString(2).c_str());
  } else {
    const std::string line = std::to_string(snapshotTime) + "\n";
    CQiError written = cleanupInfo.Write(line.data(), line.size());
    if (written.IsError()) TQLOG(-1, "Failed to write %s", cleanupInfoPath.c_str());
  }

  CQiError result;
  for (auto& entry : priamByInstance) {
    const std::string& name = entry.first;
    TQLOG(0, "Instance %s", name.c_str());
    if (!isPriamRunning(name)) {
      LogSkipped(name);
      continue;
    }

    CQiString parameters;
    auto full = fullKeyspaces.find(name);
    if (full != fullKeyspaces.end() && !full->second.empty()) {
      TQLOG(0, "Taking snapshot for FULL backup keyspaces");
      std::string names;
      for (const std::string& keyspace : full->second) {
        // A keyspace whose name cannot be a folder name is not backed up.
        if (!IsFolderName(keyspace)) continue;
        parameters += "&?keyspace=";
        parameters += PriamQueryValue(keyspace).c_str();
        if (!names.empty()) names += " ,";
        names += keyspace;
      }
      EvEvent event;
      event << names;
      event.MinorEvent(kEvKeyspacesTakenFull);
    } else if (config->getBackupLevel() == TQBkpLevel_Full) {
      TQLOG(0, "Taking snapshot for all keyspaces");
      for (const DistributedQEL::CassandraKeyspace& keyspace : keyspacesByInstance[name]) {
        if (!IsFolderName(keyspace.getKeyspaceName())) continue;
        parameters += "&?keyspace=";
        parameters += PriamQueryValue(keyspace.getKeyspaceName()).c_str();
      }
    }
    if (parameters.IsEmpty()) continue;

    CQiString resource =
        CQiString("snapshot?SnapID=") + PriamQueryValue(config->snapshotName).c_str();
    resource += parameters;

    if (cleanupInfo.IsOpen()) {
      std::string line = name + " ";
      for (const std::string& directory : config->nodeProperties[name].dataDirectories) {
        line += ";" + directory;
      }
      line += "\n";
      CQiError written = cleanupInfo.Write(line.data(), line.size());
      if (written.IsError()) TQLOG(-1, "Failed to write %s", cleanupInfoPath.c_str());
    }

    CQiString reply;
    CQiError error = entry.second->get(0, resource, reply, CQiString(""));
    if (!error.IsError()) continue;
    TQLOG(-1, "Error while taking snapshot. Error: %s, Response: %s", error.AsString(2).c_str(),
          reply.c_str());
    if (reply.str().find("already exists") != std::string::npos) {
      TQLOG(0, "Snapshot %s already exists. Continuing", config->snapshotName.c_str());
      continue;
    }
    result = FXErrorUtil::ErrorWin32(FXLOC, 774, "Cassandra snapshot creation failed");
  }

  if (cleanupInfo.IsOpen()) {
    CQiError closed = cleanupInfo.Close();
    if (closed.IsError()) {
      TQLOG(-1, "Failed to write %s: %s", cleanupInfoPath.c_str(), closed.AsString(2).c_str());
    }
  }
  return result;
}

void CassandraBackupController::deleteSnapshots(bool postBackupCleanup) {
  TQ_DEBUG_FUNCTION();
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) {
    TQLOG(-1, "Fetching Cassandra client config failed");
    return;
  }
  const std::string subclient = std::to_string(config->getSubclientId());
  const std::string& current = config->snapshotName;

  for (auto& entry : priamByInstance) {
    const std::string& name = entry.first;
    if (!isPriamRunning(name)) {
      LogSkipped(name);
      continue;
    }
    TqCassandra::PriamUtil& priam = *entry.second;
    TQLOG(0, "Executing ListSnaps for instance %s", name.c_str());

    bool listed = false;
    CQiString reply;
    if (!legacyTableDirs) {
      CQiError error = priam.get(0, CQiString("ListSnaps"), reply, CQiString(""));
      TQLOG(0, "ListSnaps response. Error: %s, Response: %s", error.AsString(2).c_str(),
            reply.c_str());
      listed = !error.IsError();
    }
    if (!listed) {
      TQLOG(-1, "Not listing snapshots");
      if (postBackupCleanup) {
        CQiString cleared;
        CQiError error = priam.get(0, CQiString("clearsnapshot?SnapID=" + PriamQueryValue(current)),
                                   cleared, CQiString(""));
        if (error.IsError()) {
          TQLOG(-1, "Error while deleting snapshot. Error: %s, Response: %s",
                error.AsString(2).c_str(), cleared.c_str());
        }
      }
      continue;
    }

    TqJson::Object snapshots;
    TqJson::Unserialize(reply.str(), snapshots);
    for (const auto& snapshot : snapshots) {
      const std::string& snapshotName = snapshot.first;
      if (!postBackupCleanup && snapshotName == current) {
        TQLOG(2, "Not a post backup cleanup, not deleting snap %s", snapshotName.c_str());
        continue;
      }
      // This subclient's snapshots: its id followed at once by "TQsnapshot".
      if (snapshotName.compare(0, subclient.size(), subclient) != 0 ||
          snapshotName.find("TQsnapshot") != subclient.size()) {
        continue;
      }
      CQiString cleared;
      CQiError error =
          priam.get(0, CQiString("clearsnapshot?SnapID=" + PriamQueryValue(snapshotName)), cleared,
                    CQiString(""));
      if (error.IsError()) {
        TQLOG(-1, "Error while deleting snapshot. Error: %s, Response: %s",
              error.AsString(2).c_str(), cleared.c_str());
      }
    }
  }
}

}  // namespace TQCassandra
