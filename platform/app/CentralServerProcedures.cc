#include "platform/app/CentralServerProcedures.h"

#include <vector>

#include "platform/app/AppRecordLayout.h"
#include "platform/base/FXString.h"
#include "platform/msg/NMessageBase.h"
#include "platform/suite/ClientDirectory.h"
#include "platform/suite/SuiteStore.h"

namespace L = AppRecordLayout;

namespace {

CNMessageBase Make(L::RecordId id) { return CNMessageBase(id.ns, id.cls); }

bool IsRecord(const CNMessageBase* record, L::RecordId id) {
  return record != nullptr && record->getNamespaceId() == id.ns && record->getClassId() == id.cls;
}

// The nested record in `field` when it is of class `id`; else null.
const CNMessageBase* Nested(const CNMessageBase& record, L::FieldId field, L::RecordId id) {
  const CNMessageBase* nested = record.getObjectAccessor(field.field, field.index);
  return IsRecord(nested, id) ? nested : nullptr;
}

// The gateway node of an instance: its address, Java home, JMX and
// authentication records, and the CQL user's credentials.
CNMessageBase GatewayNode(const SInstanceRecord& instance) {
  CNMessageBase node = Make(L::kCassandraNode);
  node.setstring(L::kNodeAddress.field, L::kNodeAddress.index, instance.gatewayHost);
  if (!instance.javaHome.empty()) {
    node.setstring(L::kNodeJavaHome.field, L::kNodeJavaHome.index, instance.javaHome);
  }
  if (!instance.jmxConfigXml.empty()) {
    CNMessageBase jmx = Make(L::kJMXConnection);
    if (jmx.unserialize(instance.jmxConfigXml) == 0) {
      node.setObjectAccessor(L::kNodeJmx.field, L::kNodeJmx.index, jmx);
    }
  }
  if (!instance.authConfigXml.empty()) {
    CNMessageBase auth = Make(L::kAuthConfig);
    if (auth.unserialize(instance.authConfigXml) == 0) {
      node.setObjectAccessor(L::kNodeAuth.field, L::kNodeAuth.index, auth);
    }
  }
  CNMessageBase gateway = Make(L::kCassandraGatewayNode);
  gateway.setObjectAccessor(L::kGatewayNode.field, L::kGatewayNode.index, node);
  if (!instance.gatewayUser.empty()) {
    CNMessageBase credentials = Make(L::kUserCredentials);
    credentials.setstring(L::kUserName.field, L::kUserName.index, instance.gatewayUser);
    credentials.setpstring(L::kUserPassword.field, L::kUserPassword.index,
                           instance.gatewayPassword);
    gateway.setObjectAccessor(L::kGatewayCqlCredentials.field, L::kGatewayCqlCredentials.index,
                              credentials);
  }
  return gateway;
}

}  // namespace

int CCentralServerProcedures::Execute(uint32_t procedureId, const std::string& request,
                                      std::string& reply, std::string& errorText) {
  switch (procedureId) {
    case kGetClientsForIPs:
      return GetClientsForIPs(request, reply, errorText);
    case kDistributedClusterInstance:
      return DistributedClusterInstance(request, reply, errorText);
    default:
      errorText = FXString::Format("Unknown stored procedure 0x%08X", procedureId);
      return kUnknownProcedure;
  }
}

int CCentralServerProcedures::GetClientsForIPs(const std::string& request, std::string& reply,
                                               std::string& errorText) {
  CNMessageBase input = Make(L::kGetClientsForIPAddressRequest);
  int parsed = input.unserialize(request);
  if (parsed != 0) {
    errorText =
        FXString::Format("The request is not a GetClientsForIPAddressRequest record (%d)", parsed);
    return kBadRequest;
  }
  std::vector<CNMessageBase> clients;
  for (const std::string& address :
       input.getStringList(L::kIpAddresses.field, L::kIpAddresses.index)) {
    SClientRecord owner;
    if (!CClientDirectory::Instance().FindByAddress(address, owner)) continue;
    CNMessageBase entity = Make(L::kClientEntity);
    entity.setint64(L::kClientId.field, L::kClientId.index, static_cast<int64_t>(owner.id));
    entity.setstring(L::kClientName.field, L::kClientName.index, owner.name);
    entity.setstring(L::kClientHostName.field, L::kClientHostName.index, address);
    clients.push_back(std::move(entity));
  }
  CNMessageBase output = Make(L::kGetClientsForIPAddressResponse);
  output.setlistobject(L::kClients.field, L::kClients.index, clients);
  std::string text;
  if (output.serialize(text) != 0) {
    errorText = "Failed to serialize the GetClientsForIPAddressResponse";
    return kRecordsUnavailable;
  }
  reply = text;
  return kOk;
}

int CCentralServerProcedures::DistributedClusterInstance(const std::string& request,
                                                         std::string& reply,
                                                         std::string& errorText) {
  CNMessageBase input = Make(L::kDistributedClusterInstanceReq);
  int parsed = input.unserialize(request);
  if (parsed != 0) {
    errorText =
        FXString::Format("The request is not a DistributedClusterInstanceReq record (%d)", parsed);
    return kBadRequest;
  }
  const CNMessageBase* info = Nested(input, L::kInstanceInfo, L::kClusterInstanceInfo);
  const CNMessageBase* entity =
      info ? Nested(*info, L::kInfoInstance, L::kInstanceEntity) : nullptr;
  if (entity == nullptr) {
    errorText = "The request names no cluster instance";
    return kBadRequest;
  }
  const int64_t clusterType = info->getint64(L::kInfoClusterType.index);
  if (clusterType != L::kClusterTypeCassandra) {
    errorText =
        FXString::Format("Cluster type %lld is not supported", static_cast<long long>(clusterType));
    return kBadRequest;
  }
  const int64_t instanceId = entity->getint64(L::kInstanceId.index);
  const int64_t operation = info->getint64(L::kInfoOperation.index);
  if (operation != L::kOperationGet && operation != L::kOperationSet) {
    errorText =
        FXString::Format("Unknown operation %lld on instance %lld",
                         static_cast<long long>(operation), static_cast<long long>(instanceId));
    return kBadRequest;
  }

  CSuiteStore store = CSuiteStore::Default();
  SInstanceRecord instance;
  CQiError error = instanceId > 0 ? store.LoadInstance(static_cast<uint64_t>(instanceId), instance)
                                  : CQiError(CQiError::MakeCode(CQiError::kWin32, 1168));
  if (error.IsError()) {
    if (error.GetValue() == 1168 && error.GetFacility() == CQiError::kWin32) {
      errorText =
          FXString::Format("Instance %lld is not registered", static_cast<long long>(instanceId));
      return kNotFound;
    }
    errorText = error.AsString(2);
    return kRecordsUnavailable;
  }

  CNMessageBase answerInfo = *info;
  if (operation == L::kOperationGet) {
    std::vector<CNMessageBase> nodes;
    for (size_t i = 0; i < instance.nodeXmls.size(); ++i) {
      CNMessageBase node = Make(L::kCassandraNode);
      if (node.unserialize(instance.nodeXmls[i]) != 0) {
        errorText = FXString::Format("Stored node %zu of instance %lld is damaged", i,
                                     static_cast<long long>(instanceId));
        return kRecordsUnavailable;
      }
      nodes.push_back(std::move(node));
    }
    CNMessageBase cassandra = Make(L::kCassandraConfig);
    cassandra.setObjectAccessor(L::kConfigGatewayNode.field, L::kConfigGatewayNode.index,
                                GatewayNode(instance));
    cassandra.setlistobject(L::kConfigNodes.field, L::kConfigNodes.index, nodes);
    if (!instance.clusterName.empty()) {
      cassandra.setstring(L::kConfigClusterName.field, L::kConfigClusterName.index,
                          instance.clusterName);
    }
    if (!instance.cassandraConfigFile.empty()) {
      cassandra.setstring(L::kConfigFilePath.field, L::kConfigFilePath.index,
                          instance.cassandraConfigFile);
    }
    CNMessageBase cluster = Make(L::kDistributedClusterConfig);
    cluster.setObjectAccessor(L::kCassandraConfigField.field, L::kCassandraConfigField.index,
                              cassandra);
    answerInfo.setObjectAccessor(L::kInfoClusterConfig.field, L::kInfoClusterConfig.index, cluster);
  } else {
    const CNMessageBase* cluster =
        Nested(*info, L::kInfoClusterConfig, L::kDistributedClusterConfig);
    const CNMessageBase* cassandra =
        cluster ? Nested(*cluster, L::kCassandraConfigField, L::kCassandraConfig) : nullptr;
    const std::vector<CNMessageBase>* nodes =
        cassandra ? cassandra->getlistobject(L::kConfigNodes.field, L::kConfigNodes.index)
                  : nullptr;
    if (nodes == nullptr) {
      errorText = FXString::Format("The set request for instance %lld carries no node list",
                                   static_cast<long long>(instanceId));
      return kBadRequest;
    }
    std::vector<std::string> nodeXmls;
    for (size_t i = 0; i < nodes->size(); ++i) {
      std::string text;
      if (!IsRecord(&(*nodes)[i], L::kCassandraNode) || (*nodes)[i].serialize(text) != 0) {
        errorText =
            FXString::Format("Node %zu of the set request is not a CassandraNode record", i);
        return kBadRequest;
      }
      nodeXmls.push_back(std::move(text));
    }
    error = store.UpdateInstance(
        instance.id, [&nodeXmls](SInstanceRecord& stored) { stored.nodeXmls = nodeXmls; });
    if (error.IsError()) {
      errorText = error.AsString(2);
      return kRecordsUnavailable;
    }
  }
  CNMessageBase output = Make(L::kDistributedClusterInstanceResp);
  output.setObjectAccessor(L::kInstanceInfo.field, L::kInstanceInfo.index, answerInfo);
  std::string text;
  if (output.serialize(text) != 0) {
    errorText = "Failed to serialize the DistributedClusterInstanceResp";
    return kRecordsUnavailable;
  }
  reply = text;
  return kOk;
}
