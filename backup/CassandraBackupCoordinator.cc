#include "backup/CassandraBackupCoordinator.h"

#include <new>

#include "common/CassandraPriamSetup.h"
#include "platform/base/FXErrorUtil.h"
#include "platform/base/FXPath.h"
#include "platform/framework/ExtentCollectFile.h"
#include "platform/framework/FrameworkArguments.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/EvEvent.h"
#include "platform/log/LogWriter.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPI_CommClient.h"
#include "platform/suite/TQPI_Focus.h"

namespace TQCassandra {

CQiError CassandraCoordinatorClientConfig::parseArguments(CProgramArgumentsPtr arguments) {
  TQ_DEBUG_FUNCTION();
  CQiError error = TQDC_FileSystem::CUnixFSClientConfig::parseArguments(arguments);
  if (error.IsError()) return error.Push(FXLOC);

  // Job results directory of this client / Ombrel id / application id. The
  // ids are unsigned 32-bit values and are written as such.
  CQiString path =
      TQPI_CommClient::getJobResultsDirectory(TQPI_Focus::getFocusClientName(true).c_str());
  CQiString component;
  component.Format("%u", getOmbrelId());
  FXPath::Append(path, component.c_str());
  component.Format("%u", getApplicationId());
  FXPath::Append(path, component.c_str());
  setJobResultsPath(path.str());

  commitLogJob = arguments->isFlagSet(CFrameworkArguments::kCommitLogFlag);

  error = MultiNodeBackupOps::CExtentCollectFile::ReadExtentConfigFromRegistry(
      extentBackup, extentSize, largeFileThreshold);
  if (error.IsError()) {
    TQLOG(-1, "Failed to read extent parameters from registry. %s", error.AsString().c_str());
  }
  return CQiError::Success();
}

CassandraBackupCoordinator::CassandraBackupCoordinator() {
  setStartAllNodesAtOnce(true);
  setStreamReservationCheckRequired(true);
}

// Priam is stopped by OnComplete, never here.
CassandraBackupCoordinator::~CassandraBackupCoordinator() = default;

CQiError CassandraBackupCoordinator::getClientConfigObject(
    DistributedQEL::CClientConfigPtr& config) {
  TQ_DEBUG_FUNCTION();
  if (!clientConfig) {
    clientConfig.reset(new (std::nothrow) CassandraCoordinatorClientConfig());
    if (!clientConfig) {
      return FXErrorUtil::ErrorWin32(
          FXLOC, 8,
          "Unable to create CassandraCoordinatorClientConfig object. Memory alllocation error.");
    }
  }
  config = clientConfig;
  setClientConfig(clientConfig);
  return CQiError::Success();
}

CQiError CassandraBackupCoordinator::initialize(DistributedQEL::CClientConfigPtr&,
                                                CProgramArgumentsPtr&, TQJobClientPtr jobClient,
                                                TQJobCtrlClientPtr jobCtrlClient) {
  TQ_DEBUG_FUNCTION();
  setJobClient(jobClient);
  setJobCtrlClient(jobCtrlClient);
  return CQiError::Success();
}

bool CassandraBackupCoordinator::supportsGeoMediaAgent() {
  int64_t enabled = 0;
  TQPlatformInfo().getNumber("Cassandra", "nEnableGeoMediaAgentSupport", enabled);
  return enabled == 1;
}

CQiError CassandraBackupCoordinator::handlePriamError(const CQiError& error, uint32_t eventId,
                                                      const std::string& detail) {
  if (!error.IsError()) return error;
  EvEvent event;
  if (FXErrorUtil::IsWin32(error, 5)) {
    event.MajorEvent(CassandraPriamSetup::kEvPriamAccessDenied);
  } else {
    if (!detail.empty()) event << detail;
    event.MajorEvent(eventId);
  }
  return error;
}

}  // namespace TQCassandra
