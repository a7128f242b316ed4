// The backup controller's start-up and done reports, its tasks, its workers
// and their parameters, and its stop.
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "backup/CassandraBackupController.h"
#include "backup/CassandraBackupWorker.h"
#include "backup/CassandraControllerClientConfig.h"
#include "common/BackupRecords.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/base/FXString.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/multinode/MultiNodeBackupOpsWorkerParams.h"
#include "platform/multinode/UnixFileNameFactory.h"
#include "platform/suite/TQPI_Focus.h"

namespace TQCassandra {

CQiError CassandraBackupController::SetAdditionalStartupValues(
    DistributedQEL::ControllerStartup& startup) {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  std::vector<DistributedQEL::DINameValue> values;
  if (!config->startupSent) {
    TQLOG(2, "Setting CassandraStartup on startup message");
    values.push_back(DistributedQEL::DINameValue("CassandraStartup", "y"));
    config->startupSent = true;
  } else {
    std::string failed;
    for (const auto& entry : priamByInstance) {
      if (isPriamRunning(entry.first)) continue;
      TQLOG(0, "Priam not initialized or not started on %s. Adding to failed instances list",
            entry.first.c_str());
      failed += entry.first + ",";
    }
    if (!failed.empty()) values.push_back(DistributedQEL::DINameValue("FailedInstances", failed));
    const uint32_t count = config->getCollectFileCount();
    const uint32_t start = config->getCollectFileStart();
    if (count != 0 && start != 0) {
      TQLOG(2, "Setting Cassandra collect file details on startup message");
      values.push_back(DistributedQEL::DINameValue("CollectFileCount", std::to_string(count)));
      values.push_back(DistributedQEL::DINameValue("CollectFileStart", std::to_string(start)));
    }
  }
  startup.setValues(values);
  return CQiError::Success();
}

CQiError CassandraBackupController::SetAdditionalCtrlDoneValues(
    DistributedQEL::ControllerDone& done) {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  if (collectFileCreationFailed || config->commitLogJob) {
    TQLOG(-1,
          "Not sending backup status. CassandraCreateCollectFileFailed: %u CommitLogBackupJob: %u",
          collectFileCreationFailed ? 1u : 0u, config->commitLogJob ? 1u : 0u);
    return CQiError::Success();
  }
  std::vector<DistributedQEL::DINameValue> values;
  values.push_back(
      DistributedQEL::DINameValue("CassandraNodeBackupTime", std::to_string(backupStartTime)));

  // The keyspaces that failed, from the failures list (written while the
  // collect files were made and by the workers).
  const CassandraHandleFailedFiles::FailedKeyspaces failed =
      CassandraHandleFailedFiles::ReadFailedKeyspaces(config->getFailuresFilePath());

  std::vector<App::CassandraNodeStatus> nodes;
  for (const auto& instance : keyspacesByInstance) {
    if (!isPriamRunning(instance.first)) {
      TQLOG(0, "Priam not initialized or not started on %s. Backup was skipped",
            instance.first.c_str());
      continue;
    }
    TQLOG(0, "Status for instance: %s", instance.first.c_str());
    auto failedHere = failed.find(instance.first);
    App::CassandraNodeStatus node;
    node.setInstanceName(instance.first);
    std::vector<App::CassandraKeyspaceStatus> keyspaces;
    for (const DistributedQEL::CassandraKeyspace& keyspace : instance.second) {
      const std::string name = keyspace.getKeyspaceName();
      TQLOG(0, "For keyspace: %s", name.c_str());
      App::CassandraKeyspaceStatus status;
      status.setKeyspaceName(name);
      status.setStatus(failedHere != failed.end() && failedHere->second.count(name) ? 0 : 1);
      keyspaces.push_back(status);
    }
    node.setKeyspaceStatuses(keyspaces);
    nodes.push_back(node);
  }
  App::CassandraLastBackupStatus record;
  record.setNodeStatuses(nodes);
  std::string xml;
  record.serialize(xml, false);
  TQLOG(2, "Status: %s", xml.c_str());
  TQLOG(0, "Sending keyspace backup status");
  values.push_back(DistributedQEL::DINameValue("CassandraKeyspaceStatus", xml));
  done.setValues(values);

  if (!failed.empty()) {
    std::string text = " backing up keyspaces ";
    bool first = true;
    for (const auto& instance : failed) {
      for (const auto& keyspace : instance.second) {
        if (!first) text += ", ";
        text += keyspace + " on node " + instance.first;
        first = false;
      }
    }
    EvEvent event;
    event << text << TQPI_Focus::getFocusClientName();
    event.MajorEvent(kEvKeyspaceBackupFailed);
  }
  return CQiError::Success();
}

bool CassandraBackupController::IsOwnCollectFileNumber(int number) const {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return false;
  const int64_t start = config->getCollectFileStart();
  const int64_t width = 2 * static_cast<int64_t>(config->getNumberOfStreams());
  return start > 0 && width > 0 && number >= start && number < start + width;
}

CQiError CassandraBackupController::OnTask(DistributedQEL::TaskInfo* task, bool& flag) {
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  if (!task) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No task");

  const std::string payload = task->getPayload();
  TQLOG(1, " Recived task payload : %s", payload.c_str());
  std::vector<std::string> fields;
  FXString::Split(payload, "|", fields, FXString::kKeepEmpty);
  int collectNumber = 0;
  long long offset = -1;
  if (fields.size() == 2) {
    collectNumber = static_cast<int>(std::strtol(fields[0].c_str(), nullptr, 10));
    offset = std::strtoll(fields[1].c_str(), nullptr, 10);
  }
  const std::optional<DistributedQEL::TaskID> id = task->getTaskId();
  const int taskNumber = id ? static_cast<int>(id->getTaskId()) : 0;

  CUnixFileNameFactory names(config->getBackupLevel(), config->getJobResultsDirectory());
  const std::string temporary = names.GetTempCollectFilePath(collectNumber);
  const std::string numbered = names.GetCollectFilePath(taskNumber);
  const bool temporaryExists = FXPath::DoesPathExist(temporary.c_str());

  if (taskNumber == collectNumber && IsOwnCollectFileNumber(taskNumber)) {
    // One of the node's own numbered collect files, in place since the
    // split. A temporary file of the same number is a surplus file of its
    // own task and stays for it.
    if (temporaryExists) {
      TQLOG(1, "Task %d uses %s; %s stays for its own task", taskNumber, numbered.c_str(),
            temporary.c_str());
    }
  } else if (taskNumber != collectNumber || temporaryExists) {
    if (!temporaryExists && taskNumber != collectNumber &&
        FXPath::DoesPathExist(numbered.c_str()) && !IsOwnCollectFileNumber(taskNumber)) {
      // Moved by an earlier hand-out of this task (a task reassigned to
      // another stream, or a resumed job).
      TQLOG(1, "Collect file %s of task %d is already in place", numbered.c_str(), taskNumber);
    } else {
      if (IsOwnCollectFileNumber(taskNumber) && FXPath::DoesPathExist(numbered.c_str())) {
        CQiError error = FXErrorUtil::ErrorWin32(
            FXLOC, 183, "Collect file %s of the node's own range is not replaced by %s",
            numbered.c_str(), temporary.c_str());
        TQLOG(-1, "Failed to rename collect file %s: %s", temporary.c_str(),
              error.AsString(2).c_str());
        return error;
      }
      CQiError error =
          FXFile::TQMoveFileEx(temporary.c_str(), numbered.c_str(), FXFile::kMoveReplaceExisting);
      if (error.IsError()) {
        TQLOG(-1, "Failed to rename collect file %s: %s", temporary.c_str(),
              error.AsString(2).c_str());
        return error.Push(FXLOC);
      }
      TQLOG(1, "Moved %s to %s", temporary.c_str(), numbered.c_str());
    }
    const std::string rewritten = MultiNodeBackupOps::BackupTaskParams::FormatPayload(
        taskNumber, static_cast<int64_t>(offset));
    task->setPayload(rewritten);
    TQLOG(1, "New task payload: %s", rewritten.c_str());
  }
  CQiError error = MultiNodeBackupOps::MultiNodeBackupOpsController::OnTask(task, flag);
  if (error.IsError()) return error.Push(FXLOC);
  return CQiError::Success();
}

CQiError CassandraBackupController::GetBackupWorker(MultiNodeBackupOps::IBackupWorkerPtr& worker,
                                                    DistributedQEL::StreamInfo* stream) {
  const int streamNumber = stream ? static_cast<int>(stream->getStreamNumber()) : 0;
  boost::shared_ptr<CassandraBackupWorker> made(new (std::nothrow)
                                                    CassandraBackupWorker(streamNumber));
  if (!made) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 8, "Unable to get job CassandraBackupWorker object. Memory allocation error.");
  }
  worker = made;
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL CassandraControllerClientConfig");
  if (config->extentBackup) made->setExtentSize(config->extentSize);
  return CQiError::Success();
}

CQiError CassandraBackupController::GetBackupWorkerParams(
    MultiNodeBackupOps::CBackupWorkerParamsPtr& params) {
  boost::shared_ptr<CassandraBackupWorkerParams> made(new (std::nothrow)
                                                          CassandraBackupWorkerParams());
  if (!made) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 8, "Unable to get job CassandraBackupWorkerParams object. Memort allocation error.");
  }
  params = made;
  return CQiError::Success();
}

CQiError CassandraBackupController::InitializeBackupWorkerParams(
    MultiNodeBackupOps::CBackupWorkerParamsPtr& params) {
  MultiNodeBackupOps::MultiNodeBackupOpsController::InitializeBackupWorkerParams(params);
  boost::shared_ptr<CassandraControllerClientConfig> config = GetControllerConfig();
  if (!config) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359,
                                   "Unable to get CassandraControllerClientConfig object.");
  }
  CassandraBackupWorkerParamsPtr own =
      boost::dynamic_pointer_cast<CassandraBackupWorkerParams>(params);
  if (!own) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Invalid backup worker parameters");
  own->commitLogJob = config->commitLogJob ? 1 : 0;
  own->clusterName = config->clusterName;
  own->instanceParams.clear();
  for (const auto& entry : config->nodeProperties) {
    TQLOG(0, "Setting up params for instance %s", entry.first.c_str());
    const CassandraCtrlNodeProperties& properties = entry.second;
    own->instanceParams.push_back(CassandraNodeInstanceParams(
        properties.node.getDataCenter(), properties.node.getRack(), entry.first,
        properties.dataDirectories,
        properties.commitLogArchiveHostPath.empty() ? config->commitLogBackupDir
                                                    : properties.commitLogArchiveHostPath));
  }
  return CQiError::Success();
}

void CassandraBackupController::OnAgentStopped() {
  CQiError error = uninitializePriam();
  if (error.IsError()) TQLOG(-1, "Error stopping Priam");
  MultiNodeBackupOps::MultiNodeBackupOpsController::OnAgentStopped();
}

}  // namespace TQCassandra
