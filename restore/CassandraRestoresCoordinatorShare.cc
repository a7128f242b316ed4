// The network share of a stage-free restore: the media agent's file server
// exports the backed-up files to the job's nodes, which load the tables
// straight from it.

#include <new>
#include <string>
#include <vector>

#include "common/CassandraRestoreClientConfig.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/NodeInfo.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/EntityRecords.h"
#include "platform/msg/SuiteServiceRecords.h"
#include "platform/suite/EvRstTask.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQClient.h"
#include "platform/suite/TqUserDb.h"
#include "platform/zelk/ZelkConfigClient.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

TqEntities::TimeEntity TimeRecord(int64_t seconds) {
  TqEntities::TimeEntity time;
  time.setTime(static_cast<int32_t>(seconds));
  return time;
}

}  // namespace

CQiError CCassandraRestores::createZelkNetworkShare() {
  TQ_DEBUG_FUNCTION();
  if (!restoreClientConfig || !restoreTask) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87,
                                   "The network share needs the restore's configuration and task");
  }
  const int64_t jobId = restoreClientConfig->getJobId();
  zelkShareName = "share" + std::to_string(static_cast<long long>(jobId));
  App::ZELKShareInfo share;
  share.setShareName(zelkShareName);

  TQLOG(3, "MA: %d %s", mediaAgentClientId, mediaAgentClientName.c_str());
  TqEntities::MediaAgentEntity mediaAgent;
  mediaAgent.setClientId(mediaAgentClientId);
  mediaAgent.setClientName(mediaAgentClientName);

  const int32_t backupSetId = static_cast<int32_t>(restoreTask->getBackupSetId());
  const int32_t subclientId = static_cast<int32_t>(restoreTask->getSubclientId());
  if (subclientId > 0) {
    TQLOG(0, "Subclient level restore for %ld:%ld", static_cast<long>(backupSetId),
          static_cast<long>(subclientId));
    TqEntities::SubClientEntity subclient;
    subclient.setBackupsetId(backupSetId);
    subclient.setSubclientId(subclientId);
    share.setSubclient(subclient);
  } else {
    TQLOG(0, "Instance level restore for backupset id %ld", static_cast<long>(backupSetId));
    TqEntities::BackupSetEntity backupSet;
    backupSet.setBackupSetId(backupSetId);
    share.setBackupSet(backupSet);
  }

  share.setMediaAgent(mediaAgent);
  share.setServingMediaAgent(mediaAgent);
  std::vector<std::string> hosts;
  for (const DistributedQEL::CNodeInfoPtr& node : getNodes()) hosts.push_back(node->getHostName());
  hosts.push_back(mediaAgentHostName);
  share.setHosts(hosts);
  const FSRFIRInitData& initData = getRestoreInitData();
  share.setFromTime(TimeRecord(initData.fromTime));
  share.setToTime(TimeRecord(initData.toTime));
  share.setField12(0);
  share.setField11("0");
  share.setField14(0);
  share.setField13(0);
  share.setField19(0);

  int uid = -1;
  int gid = -1;
  CQiError error = getCustomUidGid(uid, gid);
  if (error.IsError()) return error.Push(FXLOC);
  if (uid != -1 && gid != -1) {
    share.setProperties({App::KeyValueInfo("uid", std::to_string(uid)),
                         App::KeyValueInfo("gid", std::to_string(gid)),
                         App::KeyValueInfo("accessPerm", std::string("700") + ":" + "600")});
  }

  App::SetZELKSharePropsReq request;
  request.setShareInfo(share);
  request.setOperation(4);
  if (g_ptrLogWriter && g_ptrLogWriter->GetLevel() > 2) {
    std::string text;
    request.serialize(text);
    TQLOG(3, "ZelkSharePropsReq: %s", text.c_str());
  }

  TQClient mediaAgentClient(mediaAgentClientName.c_str(), TQ_NAME_TYPE_CLIENT);
  CQiString mangledHostName;
  if (mediaAgentClient.getNetworkHostnameMangled(mangledHostName).IsError()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to get mangled MA hostname");
  }

  zelkConfigClient.reset(new (std::nothrow)
                             Zelk::ZelkConfigClient(mangledHostName.str(), jobId, nullptr, 0));
  if (!zelkConfigClient) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to create ZELKConfigClient object.");
  }

  error = zelkConfigClient->StartZelkServer();
  if (error.IsError()) {
    return FXErrorUtil::Restate(FXLOC, error,
                                "Failed to start Torvanell Zelk Server: " + error.GetMessage());
  }

  App::SetZELKSharePropsResp response;
  error = zelkConfigClient->CreateZelkNetworkShare(request, response);
  if (response.hasShareId()) {
    const int64_t id = response.getShareId();
    if (id > 0 && id <= static_cast<int64_t>(UINT32_MAX)) {
      zelkShareId = static_cast<uint32_t>(id);
      TQLOG(0, "Created Zelk network share with share id : %u", zelkShareId);
    }
  }
  if (error.IsError()) return error;
  // Nodes are never sent a share the server did not confirm: without its id
  // the share can neither be trusted to exist nor be deleted again.
  if (zelkShareId == 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 1359,
        "The network file server on %s answered without a share id: network share %s was not "
        "created",
        mediaAgentHostName.c_str(), zelkShareName.c_str());
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::getCustomUidGid(int& uid, int& gid) {
  TQPlatformInfo registry;
  std::string user, group;
  if (registry.getString("Cassandra", "sCassOSUser", user) == 0 ||
      registry.getString("Cassandra", "sCassOSGroup", group) == 0) {
    return CQiError::Success();
  }
  TQLOG(0, " Fetching uid and gid for group:user %s:%s", group.c_str(), user.c_str());
  uint32_t userId = 0;
  if (!TqUserDb::LookupUser(user, userId)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to get uid for User %s", user.c_str());
  }
  uint32_t groupId = 0;
  if (!TqUserDb::LookupGroup(group, groupId)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 1359, "Failed to get gid for group %s", group.c_str());
  }
  uid = static_cast<int>(userId);
  gid = static_cast<int>(groupId);
  TQLOG(2, "%s:%s --> %d:%d", group.c_str(), user.c_str(), gid, uid);
  return CQiError::Success();
}

CQiError CCassandraRestores::deleteZelkNetworkShare() {
  if (zelkShareId == 0 || !zelkConfigClient) return CQiError::Success();
  CQiError error = zelkConfigClient->DeleteZelkNetworkShare(zelkShareId);
  if (error.IsError()) {
    TQLOG(0, "Failed to delete the network share: %s", error.AsString().c_str());
    EvEvent event;
    event << zelkShareName;
    event.MajorEvent(kEvShareDeleteFailed);
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
