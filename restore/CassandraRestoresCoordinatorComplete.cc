// The restore coordinator at the end of the phase: the job status, the
// deferred view statements, the removal of replaced nodes from the
// destination instance and the network share of a stage-free restore.

#include <cerrno>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/CassandraNodeRecords.h"
#include "common/ClusterInstanceProcedure.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXMutex.h"
#include "platform/framework/TaskBase.h"
#include "platform/json/TqJson.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/EntityRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/TQJobCtrlClient.h"
#include "restore/CassandraRestoresCoordinator.h"

namespace TQCassandra {

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::string ClientNameOf(const std::optional<App::CassandraClientMapEntity>& entity) {
  if (!entity) return "";
  std::optional<TqEntities::ClientEntity> client = entity->getClient();
  return client ? client->getClientName() : "";
}

// The addresses the ring of a "status" reply reports "Up". False for a reply
// that is not an array of objects with text members.
bool ReadUpAddresses(const std::string& reply, std::set<std::string>& up) {
  TqJson::Array elements;
  if (!TqJson::Unserialize(reply, elements)) return false;
  try {
    for (const TqJson::Value& element : elements) {
      if (!element.isObject()) continue;
      if (TqJson::GetStringValue(element.getObject(), "nodestatus") == "Up") {
        up.insert(TqJson::GetStringValue(element.getObject(), "node"));
      }
    }
  } catch (const std::runtime_error&) {
    return false;
  }
  return true;
}

}  // namespace

CQiError CCassandraRestores::OnComplete() {
  TQ_DEBUG_FUNCTION();
  const bool quit = getJobCtrlClient() && getJobCtrlClient()->checkQuitFlag();
  auto markPending = [this](const std::string& why) {
    TQLOG(0, "Marking job pending as %s", why.c_str());
    setJobStatus(3);
    setStatusSetFlag(1);
  };
  // What went wrong after the data arrived, in a restore that finished its
  // tasks: deferred views that failed, replaced nodes left in the instance.
  auto finishSchemasAndNodes = [&]() {
    failedDeferredSchemas.clear();
    // No file means no view was deferred; any other failure loses views.
    CQiError deferred = createDeferredSchemas(&failedDeferredSchemas);
    std::string why;
    if (!failedDeferredSchemas.empty()) {
      why = "deferred view statements failed: " + Joined(failedDeferredSchemas);
    } else if (deferred.IsError() && !FXErrorUtil::IsErrNo(deferred, ENOENT)) {
      why = "deferred view statements could not be run: " + deferred.AsString();
    }
    if (replaceDeadNode) {
      CQiError error = removeDeadNode();
      if (error.IsError()) {
        TQLOG(-1, "Failed to remove the replaced nodes from the instance: %s",
              error.AsString().c_str());
        why += (why.empty() ? "" : "; ") + std::string("the replaced nodes could not be removed");
      }
    }
    return why;
  };
  const std::string truncationProblem =
      !truncationSkipped.empty()
          ? "tables were not truncated: " + truncationSkipped
          : (truncateFailures.empty()
                 ? ""
                 : "tables could not be truncated: " + Joined(truncateFailures));

  if (!stageFreeRestore) {
    CQiError error = TQDC_FileSystem::CRestore::OnComplete();
    if (error.IsError()) return error.Push(FXLOC);
    if (reloadFailed) {
      TQLOG(0, "Marking job pending as reload of tables failed on atleast one node");
      setJobStatus(3);
      setStatusSetFlag(1);
    }
    if (!truncationProblem.empty()) markPending(truncationProblem);
    if (quit) {
      TQLOG(0, "Phase will be marked Failed since QuitFlag detected");
      setJobStatus(2);
      setStatusSetFlag(1);
    }
    // A status nobody set is the one the tasks give: failed when one failed.
    int status = getJobStatus();
    if (getStatusSetFlag() == 0 && status == 0) {
      status = 1;
      auto_lock lock(getCoordinatorLock(), true);
      for (const DistributedQEL::TaskBasePtr& task : getTaskList()) {
        if (task && task->status == DistributedQEL::TASK_FAILED) status = 2;
      }
    }
    if (status == 1 || status == 3) {
      const std::string why = finishSchemasAndNodes();
      if (!why.empty()) markPending(why);
    }
    return CQiError::Success();
  }

  // Stage-free. Only a start-up that refused the media agent (status-set
  // flag 2) has settled the status already; any other start, also the
  // untouched one (nothing set), goes on, so the share is deleted and the
  // status set.
  if (getStatusSetFlag() == 2 && getJobStatus() != 1) {
    TQLOG(0, "Job status already updated");
    return CQiError::Success();
  }
  if (quit) {
    TQLOG(0, "Phase will be marked Failed since QuitFlag detected");
    setJobStatus(2);
    setStatusSetFlag(1);
    // A share the preparation made is not left exported after a stop.
    if (zelkConfigClient && zelkShareId != 0) return deleteZelkNetworkShare();
    return CQiError::Success();
  }
  if (!zelkConfigClient) {
    TQLOG(0, "Marking job failure as ZelkConfigClient object was not created.");
    setJobStatus(2);
    setStatusSetFlag(1);
    return CQiError::Success();
  }
  if (zelkShareId == 0) {
    TQLOG(-1, "Marking job failure as NFS share was not created");
    setJobStatus(2);
    setStatusSetFlag(1);
    return CQiError::Success();
  }
  CQiError deleted = deleteZelkNetworkShare();
  if (reloadFailed || controllerInitFailed) {
    TQLOG(0, "Marking job pending as reload of tables failed on atleast one node");
    setJobStatus(3);
    setStatusSetFlag(1);
    return deleted;
  }
  std::string why = finishSchemasAndNodes();
  if (!truncationProblem.empty()) {
    why = truncationProblem + (why.empty() ? "" : "; " + why);
  }
  if (!why.empty()) {
    markPending(why);
  } else {
    setJobStatus(1);
    setStatusSetFlag(1);
  }
  return CQiError::Success();
}

CQiError CCassandraRestores::removeDeadNode() {
  TQ_DEBUG_FUNCTION();
  const char* const kSerializeText =
      "Distributed cluster instance XML serialization failed with an error. Please check the logs";
  ClusterInstanceConfig stored = ClusterInstanceConfig::Get(static_cast<int32_t>(destInstanceId));
  switch (stored.step) {
    case ClusterInstanceConfig::kOk:
      break;
    case ClusterInstanceConfig::kSerialize:
      return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", kSerializeText);
    case ClusterInstanceConfig::kProcedure:
      return FXErrorUtil::ErrorWin32(
          FXLOC, 13,
          "Stored procedure to get instance properties failed with an error [%d], response Str "
          "[%s]",
          stored.code, stored.errorText.c_str());
    case ClusterInstanceConfig::kParse:
      return FXErrorUtil::ErrorWin32(
          FXLOC, 13, "Unserialize of Stored procedure response failed with an error %d",
          stored.code);
    case ClusterInstanceConfig::kNoConfig:
      return FXErrorUtil::ErrorWin32(FXLOC, 87, "Null Cassandra config");
  }
  // A source node the destination's ring still reports Up was not replaced
  // (its replacement failed, or it never was down) and stays in the
  // instance. The ring is asked only where the coordinator runs a Priam.
  std::set<std::string> up;
  if (priamUtil) {
    CQiString reply;
    CQiError e = priamUtil->get(0, CQiString("status"), reply, CQiString(""));
    if (e.IsError() || !ReadUpAddresses(reply.str(), up)) {
      TQLOG(-1, "Failed to read the ring before removing the replaced nodes: %s [%s]",
            e.IsError() ? e.AsString(2).c_str() : "not a list of nodes", reply.c_str());
      return FXErrorUtil::ErrorWin32(FXLOC, 13,
                                     "The ring could not be read to tell which nodes were "
                                     "replaced; no node was removed from the instance");
    }
  }
  App::CassandraConfig* cassandra = &stored.config;
  std::vector<App::CassandraNode> nodes = cassandra->getNodes();
  for (const App::CassandraDockerClientMap& entry : nodeMap) {
    std::optional<App::CassandraClientMapEntity> source = entry.getSource();
    std::optional<App::CassandraClientMapEntity> target = entry.getTarget();
    const std::string sourceClient = ClientNameOf(source);
    const std::string sourceContainer = source ? source->getContainerName() : "";
    // Only a node that another node replaced leaves the instance; a node
    // restored onto itself is alive.
    if (sourceClient == ClientNameOf(target) &&
        sourceContainer == (target ? target->getContainerName() : "")) {
      continue;
    }
    for (auto it = nodes.begin(); it != nodes.end(); ++it) {
      const std::string agentName = it->getAgentInstanceName();
      const bool matches =
          !agentName.empty() ? agentName == sourceContainer : it->getClientName() == sourceClient;
      if (matches && up.count(it->getAddress())) {
        TQLOG(0,
              "Keeping node %s (%s) in the instance: the ring reports it Up, so it was not "
              "replaced",
              agentName.empty() ? it->getClientName().c_str() : agentName.c_str(),
              it->getAddress().c_str());
        break;
      }
      if (matches) {
        TQLOG(0, "Removing the replaced node %s (%s) from the instance",
              agentName.empty() ? it->getClientName().c_str() : agentName.c_str(),
              it->getAddress().c_str());
        nodes.erase(it);
        break;
      }
    }
  }
  cassandra->setNodes(nodes);
  std::optional<App::DistributedClusterConfig> cluster = stored.instance.getClusterConfig();
  if (!cluster) return FXErrorUtil::ErrorWin32(FXLOC, 87, "Null Cassandra config");
  cluster->setCassandraConfig(*cassandra);
  stored.instance.setClusterConfig(*cluster);
  std::string setXml;
  const ClusterInstanceConfig set = ClusterInstanceConfig::Set(stored.instance, &setXml);
  if (!setXml.empty()) TQLOG(2, "Set instance xml: %s", setXml.c_str());
  if (set.step == ClusterInstanceConfig::kSerialize) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "%s", kSerializeText);
  }
  if (set.step != ClusterInstanceConfig::kOk) {
    return FXErrorUtil::ErrorWin32(
        FXLOC, 13,
        "Stored procedure to set instance properties failed with an error [%d], response Str [%s]",
        set.code, set.errorText.c_str());
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
