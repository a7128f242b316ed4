// The point-in-time coordinator while the phase starts and runs: the point in
// time, the destination's commit-log archive command, the commit-log
// launcher, the node start payload and the controllers' restart reports.

#include "logrestore/CassandraLogRestoresCoordinator.h"

#include <fstream>
#include <new>
#include <vector>

#include "backup/CassandraBackupCoordinator.h"
#include "common/CassandraRestoreClientConfig.h"
#include "common/CommitLogStagingPath.h"
#include "common/RestoreRecords.h"
#include "logrestore/CassandraDockerInfo.h"
#include "logrestore/StartClientRestoreCassandraLog.h"
#include "platform/app/CassandraInstance.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/TimeStamp.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/JobClientHelper.h"
#include "platform/suite/TQJobClient.h"
#include "platform/suite/TQPI_PlatformBase.h"
#include "platform/suite/TQRstJobClient.h"

namespace TQCassandra {

namespace {

constexpr const char* kDockerSeparator = "##";

// The pieces of `text` between `separator`s, empty ones included.
std::vector<std::string> SplitOn(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    pieces.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return pieces;
    start = at + separator.size();
  }
}

}  // namespace

CCassandraLogRestores::CCassandraLogRestores(bool cleanupRestore)
    : CRestore(false), CCassandraRestores(cleanupRestore) {
  isLogRestore = true;
}

CCassandraLogRestores::~CCassandraLogRestores() = default;

std::string CCassandraLogRestores::backupRefTimeFile() const {
  return jobResultsFile("BackupRefTime_");
}

CQiError CCassandraLogRestores::initialize(DistributedQEL::CClientConfigPtr& config,
                                           CProgramArgumentsPtr& arguments,
                                           TQJobClientPtr jobClient,
                                           TQJobCtrlClientPtr jobCtrlClient) {
  TQ_DEBUG_FUNCTION();
  CQiError e = CCassandraRestores::initialize(config, arguments, jobClient, jobCtrlClient);
  if (e.IsError()) return e.Push(FXLOC);
  // Commit logs are always staged on the nodes: no network share.
  stageFreeRestore = false;
  // The staging folder goes into each node's restore settings and into the
  // nodes' restart requests; one that they cannot carry is refused before
  // any node controller starts.
  const std::string problem = CommitLogStagingPath::Problem(stagePath);
  if (!problem.empty()) {
    TQLOG(-1, "The staging folder [%s] cannot be used to replay commit logs: %s", stagePath.c_str(),
          problem.c_str());
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "The staging folder %s cannot be used to replay commit logs: %s",
                                   stagePath.c_str(), problem.c_str());
  }

  pointInTime = restoreTask ? restoreTask->getToTime() : 0;
  if (pointInTime == 0) {
    char host[1024] = {0};
    if (!TQPI_PlatformBase::getZentorerHostName(host, sizeof host)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 774, "Unable to get Zentorer name");
    }
    const int64_t jobId = restoreClientConfig ? restoreClientConfig->getJobId() : 0;
    CTimeStamp start;
    e = CJobClientHelper::GetJobStartTimeByJobId(host, jobId, start);
    if (e.IsError()) {
      TQLOG(-1, "Failed get job start time");
      return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to fetch job start time");
    }
    const int64_t startTime = start.AsUnixTime();
    if (startTime == 0) {
      TQLOG(-1, "Job start time is 0");
      return FXErrorUtil::ErrorWin32(FXLOC, 774, "Failed to fetch job start time");
    }
    pointInTime = startTime;
  }
  TQLOG(0, "To Time: %ld", static_cast<long>(pointInTime));
  return CQiError::Success();
}

CQiError CCassandraLogRestores::getClusterDetails(bool destination) {
  CQiError e = CCassandraRestores::getClusterDetails(destination);
  if (e.IsError()) return e.Push(FXLOC);
  if (!destination || !destConfig) return CQiError::Success();
  std::string command;
  e = CassandraInstance(destInstanceId).getCassArchiveCommand(command);
  if (e.IsError()) return e.Push(FXLOC);
  destConfig->archiveCommand = command;
  TQLOG(2, "Commit log restore command: %s", command.c_str());
  return CQiError::Success();
}

CQiError CCassandraLogRestores::initailizeStartClientRestoreObject(
    TQJobClientPtr jobClient, TQJobCtrlClientPtr jobCtrlClient) {
  TQ_DEBUG_FUNCTION();
  const bool baseFlag = restoreClientConfig && restoreClientConfig->getLauncherFlag();
  CStartClientRestorePtr launcher(new (std::nothrow) CStartClientRestoreCassandraLog(
      dynamic_cast<TQRstJobClient*>(jobClient.get()), jobCtrlClient.get(), baseFlag,
      subclientRestore));
  if (!launcher) {
    return FXErrorUtil::ErrorErrNo(FXLOC, 12,
                                   "Failed to allocate memory for CStartClientRestoreCassandra");
  }
  setStartClientRestore(launcher);
  return CQiError::Success();
}

CQiError CCassandraLogRestores::getNodeStartAcknowledgeMessage(DistributedQEL::CNodeInfoPtr& node,
                                                               FrameworkMessagePtr& message) {
  TQ_DEBUG_FUNCTION();
  FrameworkMessagePtr built;
  CQiError e = CCassandraRestores::getNodeStartAcknowledgeMessage(node, built);
  if (e.IsError()) return e.Push(FXLOC);
  auto init = boost::dynamic_pointer_cast<DistributedQEL::NodeInit>(built);
  if (!init) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Unable to typecast the message to NodeInit type");
  }

  // Read again for every node: the preparation writes it once.
  std::string referenceTime;
  std::ifstream file(backupRefTimeFile());
  if (file && std::getline(file, referenceTime)) {
    TQLOG(0, "Backup ref time: %s", referenceTime.c_str());
  } else {
    referenceTime.clear();
  }

  std::vector<DistributedQEL::DINameValue> payload = init->getValues();
  payload.emplace_back("BackupReferenceTime", referenceTime);
  if (recover) {
    TQLOG(0, "Sending details for Cassandra commit log restore");
    payload.emplace_back("CommitLogRestoreCmd", destConfig ? destConfig->archiveCommand : "");
    payload.emplace_back("CommitLogRestoreTime", std::to_string(pointInTime));
  }
  init->setValues(payload);
  message = init;
  return CQiError::Success();
}

CQiError CCassandraLogRestores::ProcessRestartString(std::list<TQDC_FileSystem::RestartInfo>&) {
  return CQiError::Success();
}

CQiError CCassandraLogRestores::processMessage(const CNMessageBase& message) {
  TQLOG(2, "Message %s", message.getTagName().c_str());
  if (std::optional<DistributedQEL::AgentStoppedStatus> status =
          RecordAs<DistributedQEL::AgentStoppedStatus>(message)) {
    return handleAgentStoppedStatus(*status);
  }
  return CCassandraRestores::processMessage(message);
}

CQiError CCassandraLogRestores::handleAgentStoppedStatus(
    const DistributedQEL::AgentStoppedStatus& status) {
  TQLOG(2, "Received AgentStoppedStatus msg");
  std::string nodeName, restart, dockerInfo;
  for (const DistributedQEL::DINameValue& value : status.getValues()) {
    const std::string name = value.getName();
    if (name == "NodeName") {
      nodeName = value.getValue();
    } else if (name == "CassandraRestart") {
      restart = value.getValue();
    } else if (name == "DockerInfo") {
      dockerInfo = value.getValue();
    }
  }

  auto_lock lock(restartLock, true);
  if (!reloadFailed) reloadFailed = status.getFailed() != 0;
  if (!dockerInfo.empty()) {
    for (const std::string& piece : SplitOn(dockerInfo, kDockerSeparator)) {
      if (piece.empty()) continue;
      // "<node key>:<container>:<host staging path>"; the path keeps any
      // further ":".
      const size_t first = piece.find(':');
      const size_t second = first == std::string::npos ? first : piece.find(':', first + 1);
      if (second == std::string::npos || first == 0 || second == first + 1 ||
          second + 1 == piece.size()) {
        TQLOG(-1,
              "Ignoring the Docker entry [%s] of node %s: it does not name a node, a "
              "container and a staging location",
              piece.c_str(), nodeName.c_str());
        continue;
      }
      boost::shared_ptr<CCassandraDockerInfo> info(new CCassandraDockerInfo());
      const std::string key = piece.substr(0, first);
      info->containerName = piece.substr(first + 1, second - first - 1);
      info->stagingLocation = piece.substr(second + 1);
      TQLOG(0, "Node %s Container %s StagingLocation %s", key.c_str(), info->containerName.c_str(),
            info->stagingLocation.c_str());
      dockerInfoByNode[key] = info;
    }
  }
  if (!nodeName.empty() && restart == "1") {
    TQLOG(0, "Node %s to be restarted", nodeName.c_str());
    nodesToRestart.push_back(nodeName);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
