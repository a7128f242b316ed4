// The restore coordinator's job results directory and the media agent that
// serves a stage-free restore.

#include <cinttypes>
#include <set>

#include "common/CassandraRestoreClientConfig.h"
#include "platform/app/ClientApplicationList.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/Subclient.h"
#include "platform/index/ArMgrClientAPI.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/DemangleHostName.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/StoreResults.h"
#include "platform/suite/TQClient.h"
#include "platform/suite/TQJobClient.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

// The suite's operating-system ids on which a media agent may serve a
// stage-free restore.
const std::set<uint32_t>& StageFreeOperatingSystems() {
  static const std::set<uint32_t> ids = {
      2,   3,   21,  24,  25,  27,  34,  35,  39,  46,  48,  50,  51,  52,  53,  54,
      58,  61,  62,  63,  64,  65,  66,  67,  68,  69,  76,  77,  78,  80,  81,  82,
      85,  86,  87,  88,  89,  90,  91,  92,  93,  94,  98,  101, 102, 103, 104, 105,
      106, 107, 108, 109, 110, 111, 112, 200, 203, 204, 208, 209, 210, 211, 212, 213};
  return ids;
}

}  // namespace

int CCassandraRestores::CreateJobResultsDirectory() {
  const int64_t jobId = restoreClientConfig->getJobId();
  StoreResults storeResults(2, jobId, true, nullptr);
  const char* directory = storeResults.getDirectory();
  if (!directory) {
    TQLOG(-1, "storeResults->getDirectory() failed");
    return 1;
  }
  restoreClientConfig->setJobResultsDirectory(directory);
  std::string name;
  if (storeResults.openRaw(2, name) != 0) {
    TQLOG(-1, "Failed to open restore job results directorry for Job=%lld",
          static_cast<long long>(jobId));
    return 1;
  }
  storeResults.closeFile();
  return 0;
}

CQiError CCassandraRestores::getDefaultSubclientId(int64_t& id) {
  std::vector<uint64_t> ids;
  std::vector<std::string> names;
  if (ClientApplicationList::getSubclientList(ids, names, restoreTask->getSourceAppType(),
                                              restoreTask->getBackupSetId(), nullptr, 1) != 0) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to fetch subclients");
  }
  for (uint64_t candidate : ids) {
    bool isDefault = false;
    if (Subclient::isDefaultSubclient(candidate, isDefault).IsError() || !isDefault) continue;
    id = static_cast<int64_t>(candidate);
    TQLOG(2, "Using default subclient's(%ld) MA to run Zelk Server", static_cast<long>(id));
    break;
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::findStageFreeMediaAgent() {
  TQ_DEBUG_FUNCTION();
  uint64_t clientId = static_cast<uint64_t>(restoreTask->getMediaAgent());
  if (clientId == 0) {
    TQLOG(0, "Fetching default MA details");
    int64_t subclientId = restoreTask->getSubclientId();
    TQLOG(2, "App id: %ld", static_cast<long>(subclientId));
    if (subclientId < 1) {
      CQiError e = getDefaultSubclientId(subclientId);
      if (e.IsError()) return e.Push(FXLOC);
    }
    GetMediaAgentArgs_t args;
    args.param2 = 4;
    args.param4 = subclientId;
    GetMediaAgentRet_t answer;
    if (ArMgrClientAPI::getMediaAgent(args, answer) != 0) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359,
                                     "Failed to fetch Media Agent details to run Zelk server");
    }
    std::string hostName, clientName;
    if (!DemangleHostName(answer.mediaAgentName, hostName, clientName)) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to fetch MA Client ID from ClientName");
    }
    mediaAgentHostName = hostName;
    TQClient byName(clientName.c_str(), TQ_NAME_TYPE_CLIENT);
    if (byName.getClientId(clientId).IsError()) {
      return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to fetch MA Client ID from ClientName");
    }
  }

  TQClient client(clientId);
  std::string clientName;
  if (client.getName(clientName).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to fetch MA ClientName from client ID");
  }
  uint32_t operatingSystem = 0;
  client.getOperatingSystemId(operatingSystem);
  TQLOG(2, "MA: %s OS: %d", clientName.c_str(), static_cast<int>(operatingSystem));
  if (StageFreeOperatingSystems().count(operatingSystem) == 0) {
    // OnComplete finds the status set and leaves it.
    setJobStatus(2);
    setStatusSetFlag(2);
    if (getJobClient())
      getJobClient()->setPendingCauseAndEvent(kEvStageFreeMaUnsupported, 6, 0, false, 300, 0, 0, 0,
                                              0, 0);
    return FXErrorUtil::ErrorEventMessage(FXLOC, kEvStageFreeMaUnsupported);
  }
  CQiString networkHostName;
  if (client.getNetworkHostname(networkHostName).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to fetch MA hostname");
  }
  mediaAgentHostName = networkHostName.str();
  TQLOG(0, "Linux/Windows MA. Trying a stage free restore");
  mediaAgentClientId = static_cast<int32_t>(clientId);
  mediaAgentClientName = clientName;
  return CQiError::Success();
}

}  // namespace TQCassandra
