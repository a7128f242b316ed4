#include "common/ClusterInstanceProcedure.h"

#include <optional>

#include "platform/app/App_ExecuteSP.h"
#include "platform/msg/EntityRecords.h"

namespace TQCassandra {

namespace {

constexpr uint32_t SP_DISTRIBUTED_CLUSTER_INSTANCE = 0x1E4FDD52;
constexpr int64_t kGetOperation = 1;
constexpr int64_t kSetOperation = 2;
constexpr int64_t kCassandraClusterType = 9;

}  // namespace

ClusterInstanceConfig ClusterInstanceConfig::Get(int32_t instanceId) {
  ClusterInstanceConfig out;
  TqEntities::InstanceEntity entity;
  entity.setInstanceId(instanceId);
  App::ClusterInstanceInfo info;
  info.setInstance(entity);
  info.setOperation(kGetOperation);
  info.setClusterType(kCassandraClusterType);
  App::DistributedClusterInstanceReq request;
  request.setInstanceInfo(info);

  std::string requestXml;
  if (request.serialize(requestXml) != 0) {
    out.step = kSerialize;
    return out;
  }
  App_ExecuteSP executor;
  std::string replyXml;
  int result = executor.executeStoredProcedure(SP_DISTRIBUTED_CLUSTER_INSTANCE, requestXml,
                                               replyXml, nullptr);
  if (result != 0) {
    out.step = kProcedure;
    out.code = result;
    out.errorText = executor.getErrorString();
    return out;
  }
  App::DistributedClusterInstanceResp reply;
  result = reply.unserialize(replyXml);
  if (result != 0) {
    out.step = kParse;
    out.code = result;
    out.errorText = executor.getErrorString();
    return out;
  }
  std::optional<App::ClusterInstanceInfo> received = reply.getInstanceInfo();
  std::optional<App::DistributedClusterConfig> cluster;
  if (received) cluster = received->getClusterConfig();
  std::optional<App::CassandraConfig> cassandra;
  if (cluster) cassandra = cluster->getCassandraConfig();
  if (!cassandra) {
    out.step = kNoConfig;
    return out;
  }
  out.config = *cassandra;
  out.instance = *received;
  return out;
}

ClusterInstanceConfig ClusterInstanceConfig::Set(App::ClusterInstanceInfo instance,
                                                 std::string* sentXml) {
  ClusterInstanceConfig out;
  instance.setOperation(kSetOperation);
  App::DistributedClusterInstanceReq request;
  request.setInstanceInfo(instance);
  std::string requestXml;
  if (request.serialize(requestXml) != 0) {
    out.step = kSerialize;
    return out;
  }
  if (sentXml) *sentXml = requestXml;
  App_ExecuteSP executor;
  std::string replyXml;
  int result = executor.executeStoredProcedure(SP_DISTRIBUTED_CLUSTER_INSTANCE, requestXml,
                                               replyXml, nullptr);
  if (result != 0) {
    out.step = kProcedure;
    out.code = result;
    out.errorText = executor.getErrorString();
  }
  return out;
}

}  // namespace TQCassandra
