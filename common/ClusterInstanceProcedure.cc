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

// Sends `instance` to the procedure; the request text goes to `sentXml` when
// given. On success `replyXml` holds the answer and `out` stays kOk.
void RunProcedure(const App::ClusterInstanceInfo& instance, ClusterInstanceConfig& out,
                  std::string& replyXml, std::string& errorText, std::string* sentXml) {
  App::DistributedClusterInstanceReq request;
  request.setInstanceInfo(instance);
  std::string requestXml;
  if (request.serialize(requestXml) != 0) {
    out.step = ClusterInstanceConfig::kSerialize;
    return;
  }
  if (sentXml) *sentXml = requestXml;
  App_ExecuteSP executor;
  int result = executor.executeStoredProcedure(SP_DISTRIBUTED_CLUSTER_INSTANCE, requestXml,
                                               replyXml, nullptr);
  errorText = executor.getErrorString();
  if (result != 0) {
    out.step = ClusterInstanceConfig::kProcedure;
    out.code = result;
    out.errorText = errorText;
  }
}

}  // namespace

ClusterInstanceConfig ClusterInstanceConfig::Get(int32_t instanceId) {
  ClusterInstanceConfig out;
  TqEntities::InstanceEntity entity;
  entity.setInstanceId(instanceId);
  App::ClusterInstanceInfo info;
  info.setInstance(entity);
  info.setOperation(kGetOperation);
  info.setClusterType(kCassandraClusterType);
  std::string replyXml;
  std::string errorText;
  RunProcedure(info, out, replyXml, errorText, nullptr);
  if (out.step != kOk) return out;
  App::DistributedClusterInstanceResp reply;
  const int result = reply.unserialize(replyXml);
  if (result != 0) {
    out.step = kParse;
    out.code = result;
    out.errorText = errorText;
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
  std::string replyXml;
  std::string errorText;
  RunProcedure(instance, out, replyXml, errorText, sentXml);
  return out;
}

}  // namespace TQCassandra
