#include "cleanup/CassandraPostOpCleanupController.h"

#include <new>

#include "common/CassandraPriamSetup.h"
#include "common/CleanupRecords.h"
#include "common/PriamQuery.h"
#include "platform/app/ApplicationId.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXFile.h"
#include "platform/base/FXPath.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/json/TqJson.h"
#include "platform/log/LogWriter.h"
#include "platform/msg/FrameworkRecords.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/TQPI_Focus.h"

namespace TQCassandra {

CassandraPostOpCleanupController::CassandraPostOpCleanupController() = default;

CassandraPostOpCleanupController::~CassandraPostOpCleanupController() = default;

CQiError CassandraPostOpCleanupController::processNodeInit(CNMessageBase* message) {
  TQ_DEBUG_FUNCTION();
  CQiError e = DistributedQEL::CController::processNodeInit(message);
  if (e.IsError()) return e.Push(FXLOC);
  std::optional<DistributedQEL::NodeInit> init;
  if (message != nullptr) init = RecordAs<DistributedQEL::NodeInit>(*message);
  if (!init) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The node start message is not a NodeInit record");
  }

  if (!clientConfig) {
    clientConfig.reset(new (std::nothrow) DistributedQEL::CClientConfig(1));
    if (!clientConfig) {
      return FXErrorUtil::ErrorWin32(FXLOC, 8,
                                     "Unable to get job ClientConfig object. Memory allocation "
                                     "error.");
    }
  }
  const CProgramArgumentsPtr& arguments = getProgramArguments();
  if (!arguments) return FXErrorUtil::ErrorWin32(FXLOC, 87, "No program arguments");
  e = clientConfig->parseArguments(arguments);
  if (e.IsError()) return e.Push(FXLOC);

  int64_t level = 0;
  e = arguments->getNumberValue("t", level);
  if (e.IsError()) return e.Push(FXLOC);
  backupLevel = static_cast<TQBkpLevel>(level);

  ApplicationId application(clientConfig->getOmbrelId(), clientConfig->getApplicationId());
  if (application.getSubclient() == nullptr) {
    return FXErrorUtil::ErrorWin32(FXLOC, 13, "NULL subclient object.");
  }
  snapshotName = std::to_string(application.getSubclient()->getSubclientId()) + "TQsnapshot" +
                 std::to_string(clientConfig->getJobId());

  std::string jmxConfig, authConfig, nodeConfig;
  for (const DistributedQEL::DINameValue& entry : init->getValues()) {
    const std::string name = entry.getName();
    const std::string value = entry.getValue();
    if (name == "taskStatus") {
      taskStatus = value;
      TQLOG(2, "Task Status: %s", taskStatus.c_str());
    } else if (name == "JMXConfig") {
      jmxConfig = value;
      TQLOG(2, "JMX config: %s", jmxConfig.c_str());
    } else if (name == "AuthConfig") {
      authConfig = value;
      TQLOG(2, "Auth config: %s", authConfig.c_str());
    } else if (name == "NodeConfig") {
      nodeConfig = value;
      TQLOG(2, "Node config: %s", nodeConfig.c_str());
    } else if (name == "JobKill" && value == "1") {
      TQLOG(0, "job kill");
      jobKilled = true;
    }
  }

  DistributedQEL::CassandraPostOpParamsList list;
  list.unserialize(nodeConfig);
  if (!list.isSet(1)) return FXErrorUtil::ErrorWin32(FXLOC, 13, "Failed to fetch node details");
  const std::vector<DistributedQEL::CassandraPostOpParams> params = list.getParams();
  for (size_t i = 0; i < params.size(); ++i) {
    const std::string nodeName = priamKeyFor(params[i].getNodeName(), i + 1);
    e = initializePriam(params[i].getJavaHome(), params[i].getConfigDirectory(), jmxConfig,
                        authConfig, nodeName, true);
    if (e.IsError()) {
      TQLOG(-1, "Failed to start Priam on %s. Skipping node.", nodeName.c_str());
    }
  }
  return CQiError::Success();
}

std::string CassandraPostOpCleanupController::priamKeyFor(const std::string& nodeName,
                                                          size_t position) const {
  // Nodes without a name of their own (agent instance name set but empty), or
  // with a name that an earlier node already holds, each keep their own
  // Priam under their position in the payload.
  if (!nodeName.empty() && priamByNode.count(nodeName) == 0) return nodeName;
  std::string key = nodeName + "#" + std::to_string(position);
  while (priamByNode.count(key) != 0) key += "#";
  return key;
}

CQiError CassandraPostOpCleanupController::initializePriam(
    const std::string& javaHome, const std::string& confDir, const std::string& jmxConfig,
    const std::string& authConfig, const std::string& nodeName, bool start) {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) return FXErrorUtil::ErrorWin32(FXLOC, 87, "NULL ClientConfig");
  PriamUtilPtr priam;
  CQiError e = CassandraPriamSetup::MakeNodePriam(javaHome, clientConfig->getJobResultsDirectory(),
                                                  TQPI_Focus::getFocusClientName(true).str(),
                                                  nodeName, confDir, priam);
  if (e.IsError()) return e.Push(FXLOC);
  if (start) {
    e = CassandraPriamSetup::ConfigureNodePriam(CassandraPriamOptionsBuilder::kServiceStyle,
                                                jmxConfig, authConfig, *priam);
    if (e.IsError()) return e.Push(FXLOC);
    e = priam->startPriam();
    if (e.IsError()) {
      // The node keeps no utility, so none of its snapshots counts as
      // cleared; the event marks the phase.
      CassandraPriamSetup::RaiseNodeStartFailure(e);
      return e.Push(FXLOC);
    }
  }
  priamByNode[nodeName] = priam;
  return CQiError::Success();
}

CQiError CassandraPostOpCleanupController::uninitializePriam() {
  for (auto& entry : priamByNode) {
    if (!entry.second || !entry.second->getIsConnected()) continue;
    if (entry.second->stopPriam().IsError()) {
      TQLOG(-1, "Failed to stop priam for instance %s", entry.first.c_str());
    }
  }
  return CQiError::Success();
}

bool CassandraPostOpCleanupController::IsSubclientSnapshot(const std::string& name,
                                                           const std::string& snapshotName) {
  const size_t marker = snapshotName.find("TQsnapshot");
  if (marker == std::string::npos) return false;
  return name.compare(0, marker, snapshotName, 0, marker) == 0 && name.find("TQsnapshot") == marker;
}

void CassandraPostOpCleanupController::deleteSnapshots() {
  TQ_DEBUG_FUNCTION();
  for (auto& entry : priamByNode) {
    if (!entry.second) continue;
    TqCassandra::PriamUtil& priam = *entry.second;
    TQLOG(0, "Request: %s", "ListSnaps");
    CQiString reply;
    CQiError e = priam.get(0, CQiString("ListSnaps"), reply, CQiString(""));
    TQLOG(0, "ListSnaps response. Error: %s, Response: %s", e.AsString(2).c_str(), reply.c_str());
    std::vector<std::string> names;
    TqJson::Object snapshots;
    if (e.IsError()) {
      // Without the list, at least this job's own snapshot goes; the next
      // node is still visited.
      TQLOG(-1, "Not listing snapshots");
      names.push_back(snapshotName);
    } else if (!TqJson::Unserialize(reply.str(), snapshots)) {
      TQLOG(-1, "Snapshot list not readable; clearing only %s", snapshotName.c_str());
      names.push_back(snapshotName);
    } else {
      for (const auto& snapshot : snapshots) {
        if (IsSubclientSnapshot(snapshot.first, snapshotName)) names.push_back(snapshot.first);
      }
    }
    for (const std::string& name : names) {
      CQiString cleared;
      e = priam.get(0, CQiString(("clearsnapshot?SnapID=" + PriamQueryValue(name)).c_str()),
                    cleared, CQiString(""));
      if (e.IsError()) {
        TQLOG(-1, "Error while deleting snapshot. Error: %s, Response: %s", e.AsString(2).c_str(),
              cleared.c_str());
      } else {
        TQLOG(0, "Cleared snapshot %s on %s", name.c_str(), entry.first.c_str());
      }
    }
  }
}

CQiError CassandraPostOpCleanupController::OnControllerStarted() {
  TQ_DEBUG_FUNCTION();
  CQiError e = DistributedQEL::CController::OnControllerStarted();
  if (e.IsError()) return e.Push(FXLOC);
  deleteSnapshots();
  if (!jobKilled) cleanupIncrFiles(backupLevel);
  e = uninitializePriam();
  if (e.IsError()) return e.Push(FXLOC);
  controllerDone = true;
  if (clientConfig) {
    FXFile::RemoveFile(
        FXPath::Join(clientConfig->getJobResultsDirectory(), kCleanupInfoFileName).c_str());
  }
  return CQiError::Success();
}

}  // namespace TQCassandra
