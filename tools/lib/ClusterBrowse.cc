#include "tools/lib/ClusterBrowse.h"

#include <memory>

#include "common/CassandraNodeRecords.h"
#include "platform/app/App_ExecuteSP.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientBrowse.h"
#include "platform/runner/PluginLibrary.h"
#include "platform/suite/ClientContextScope.h"
#include "platform/suite/SuiteStore.h"

namespace TqHarness {

namespace {

constexpr uint32_t kClusterInstanceProcedure = 0x1E4FDD52;

// The instance's configuration as the central server keeps it.
CQiError StoredConfiguration(uint64_t instanceId, App::DistributedClusterConfig& config) {
  TqEntities::InstanceEntity entity;
  entity.setInstanceId(static_cast<int64_t>(instanceId));
  App::ClusterInstanceInfo info;
  info.setInstance(entity);
  info.setOperation(App::ClusterInstanceInfo::kOperationGet);
  info.setClusterType(App::ClusterInstanceInfo::kClusterTypeCassandra);
  App::DistributedClusterInstanceReq request;
  request.setInstanceInfo(info);
  std::string requestXml;
  std::string replyXml;
  App_ExecuteSP procedure;
  if (request.serialize(requestXml) != 0 ||
      procedure.executeStoredProcedure(kClusterInstanceProcedure, requestXml, replyXml) != 0) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13, "The configuration of instance %llu is not readable: %s",
        static_cast<unsigned long long>(instanceId), procedure.getErrorString().c_str());
  }
  App::DistributedClusterInstanceResp reply;
  std::optional<App::ClusterInstanceInfo> received;
  if (reply.unserialize(replyXml) == 0) received = reply.getInstanceInfo();
  std::optional<App::DistributedClusterConfig> cluster;
  if (received) cluster = received->getClusterConfig();
  if (!cluster) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "Instance %llu has no cluster configuration",
                                   static_cast<unsigned long long>(instanceId));
  }
  config = *cluster;
  return CQiError::Success();
}

}  // namespace

CQiError CClusterBrowse::MakeRequest(const ClusterBrowseRequest& request, uint64_t instanceId,
                                     uint64_t gatewayClientId, const std::string& gatewayClient,
                                     App::MachineBrowseReq& out) const {
  App::DistributedClusterConfig config;
  CQiError e = StoredConfiguration(instanceId, config);
  if (e.IsError()) return e;
  TqEntities::SubClientEntity subclient;
  subclient.setInstanceId(static_cast<int64_t>(instanceId));
  if (request.kind == BrowseKind::kKeyspaces) {
    subclient.setSubclientId(request.subclientId == 0 ? -1
                                                      : static_cast<int64_t>(request.subclientId));
  }
  App::DistributedAppsBrowseProperties properties;
  properties.setSubclient(subclient);
  properties.setClusterConfig(config);
  TqEntities::ClientEntity client;
  client.setClientId(static_cast<int64_t>(gatewayClientId));
  client.setClientName(gatewayClient);
  out = App::MachineBrowseReq();
  out.setGatewayClient(client);
  out.setBrowseProperties(properties);
  return CQiError::Success();
}

CQiError CClusterBrowse::Run(const ClusterBrowseRequest& request,
                             ClusterBrowseResult& result) const {
  result = ClusterBrowseResult();
  const CHarnessState& state = harness_.State();
  if (!state.Registered()) {
    return FXErrorUtil::ErrorWin32(FXLOC, 2, "The cluster of %s is not registered yet",
                                   harness_.Home().c_str());
  }
  CSuiteStore store = CSuiteStore::Default();
  uint64_t instanceId = state.instanceId;
  if (request.subclientId != 0) {
    SSubclientRecord subclient;
    CQiError e = store.LoadSubclient(request.subclientId, subclient);
    if (e.IsError()) return e;
    instanceId = subclient.instanceId;
  }
  SInstanceRecord instance;
  CQiError e = store.LoadInstance(instanceId, instance);
  if (e.IsError()) return e;
  SClientRecord gateway;
  e = store.LoadClient(instance.clientId, gateway);
  if (e.IsError()) return e;

  App::MachineBrowseReq browseRequest;
  e = MakeRequest(request, instanceId, gateway.id, gateway.name, browseRequest);
  if (e.IsError()) return e;
  TqRunner::ClientBrowseFactory factory = nullptr;
  e = TqRunner::CPluginLibrary::LoadClientBrowse(pluginPath_, factory);
  if (e.IsError()) return e;

  // The suite runs the browse on the gateway client.
  SClientIdentity identity;
  identity.clientName = gateway.name;
  identity.clientId = gateway.id;
  identity.hostName = gateway.hostName;
  CClientContextScope scope(identity);
  std::unique_ptr<DistributedQEL::IClientBrowse> browser(factory(0));
  if (!browser) return FXErrorUtil::ErrorWin32(FXLOC, 8, "The plug-in made no cluster browser");
  App::MachineBrowseResp response;
  App::GenericResp generic;
  result.error = browser->MachineBrowse("", nullptr, &browseRequest, &response, &generic);
  result.errorCode = generic.getErrorCode();
  result.errorMessage = generic.getErrorMessage();
  const std::vector<App::MachineBrowseItem> items = response.getBrowseItems();
  result.items = static_cast<int>(items.size());
  if (!items.empty() && items.front().getCassandraItem()) {
    result.item = *items.front().getCassandraItem();
  }
  return CQiError::Success();
}

}  // namespace TqHarness
