// The restore node controller: its restore node arguments, its start, the
// restore workers it hands out and when it is done.

#include "restore/CassandraRestoresController.h"

#include <cstdlib>
#include <new>
#include <optional>

#include "platform/base/FXErrorUtil.h"
#include "platform/framework/ClientConfig.h"
#include "platform/framework/ProgramArguments.h"
#include "platform/log/LogWriter.h"
#include "platform/priam/PriamUtil.h"
#include "platform/suite/PlatformInfo.h"
#include "platform/suite/TQPI_PlatformBase.h"
#include "platform/suite/TQRstJobClient.h"
#include "restore/CassandraRestoreWorker.h"

namespace TQCassandra {

namespace {

// A flag or small number of the argument line, read as atoi reads it: text
// that is not a number reads as 0.
int ArgumentNumber(const std::string& text) { return std::atoi(text.c_str()); }

// An instance id of the argument line: the coordinator writes it as an
// unsigned 64-bit decimal.
uint64_t ArgumentId(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

int64_t ClientIdOf(const boost::shared_ptr<App::CassandraNode>& node) {
  if (!node) return 0;
  std::optional<TqEntities::ClientEntity> client = node->getClient();
  return client ? client->getClientId() : 0;
}

}  // namespace

CCassandraRestoreController::CCassandraRestoreController() = default;

CCassandraRestoreController::~CCassandraRestoreController() { stopPriams(); }

void CCassandraRestoreController::stopPriams() {
  for (auto& entry : priamByTarget) {
    if (!entry.second || !entry.second->getIsConnected()) continue;
    CQiError e = entry.second->stopPriam();
    if (e.IsError()) {
      TQLOG(-1, "Failed to stop the Priam of %s: %s", entry.first.c_str(), e.AsString(2).c_str());
    }
  }
}

CQiError CCassandraRestoreController::ParseArgs() {
  TQ_DEBUG_FUNCTION();
  const CProgramArgumentsPtr& arguments = getProgramArguments();
  if (!arguments) {
    return FXErrorUtil::ErrorWin32(FXLOC, 87, "The controller has no program arguments");
  }
  std::string value;
  CQiError e = arguments->getStringValue("CassInst", value);
  if (e.IsError()) return e.Push(FXLOC);
  sourceInstanceId = ArgumentId(value);
  e = arguments->getStringValue("DestInstance", value);
  if (e.IsError()) return e.Push(FXLOC);
  destInstanceId = ArgumentId(value);
  e = arguments->getStringValue("ReplaceDeadNode", value);
  if (e.IsError()) return e.Push(FXLOC);
  replaceDeadNode = ArgumentNumber(value) != 0;
  // The node does not use the cross-instance option, but it must be there.
  e = arguments->getStringValue("CrossInstance", value);
  if (e.IsError()) return e.Push(FXLOC);
  e = arguments->getStringValue("Recover", value);
  if (e.IsError()) return e.Push(FXLOC);
  recover = ArgumentNumber(value) != 0;
  e = arguments->getStringValue("UseSSTableLaoder", value);
  if (e.IsError()) return e.Push(FXLOC);
  useSSTableLoader = ArgumentNumber(value) != 0;
  e = arguments->getStringValue("runDR", value);
  if (e.IsError()) return e.Push(FXLOC);
  runDR = ArgumentNumber(value) != 0;

  int64_t forceLoader = 0;
  if (TQPlatformInfo().getNumber("Cassandra", "nUseSSTableLoader", forceLoader) &&
      forceLoader == 1) {
    useSSTableLoader = true;
  }
  int64_t sleepTime = static_cast<int64_t>(cassandraSleepTime);
  if (!TQPlatformInfo().getNumber("Cassandra", "nCassandraSleepTime", sleepTime)) {
    TQLOG(-1, " Failed to read the registry value ");
  }
  cassandraSleepTime = static_cast<uint64_t>(sleepTime);

  e = arguments->getStringValue("stagePath", stagePath);
  if (e.IsError()) return e.Push(FXLOC);
  e = arguments->getStringValue("StageFreeRestore", value);
  if (e.IsError()) return e.Push(FXLOC);
  stageFreeRestore = ArgumentNumber(value) != 0;

  TQLOG(0,
        "Options: Recover [%d] Staging Path [%s] Replace Dead Node [%d] UseSStableLoader [%d] Run "
        "DR [%d]  Source Instance [%lu] destination [%lu] Stage Free Restore [%d]",
        recover ? 1 : 0, stagePath.c_str(), replaceDeadNode ? 1 : 0, useSSTableLoader ? 1 : 0,
        runDR ? 1 : 0, static_cast<unsigned long>(sourceInstanceId),
        static_cast<unsigned long>(destInstanceId), stageFreeRestore ? 1 : 0);
  return CQiError::Success();
}

CQiError CCassandraRestoreController::OnControllerStarted() {
  TQ_DEBUG_FUNCTION();
  CQiError e = TQDC_FileSystem::CFSRestoreController::OnControllerStarted();
  if (e.IsError()) return e.Push(FXLOC);
  rstJobClient.reset(new (std::nothrow) TQRstJobClient());
  if (!rstJobClient) {
    return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate the restore job client");
  }
  char host[1024] = {0};
  if (!TQPI_PlatformBase::getZentoreHostName(host, sizeof host)) {
    return FXErrorUtil::ErrorWin32(FXLOC, 774, "Unable to get zentor name");
  }
  const int64_t jobId = getClientConfig() ? getClientConfig()->getJobId() : 0;
  if (!rstJobClient->init(host, jobId, 4, false, nullptr)) {
    TQLOG(-1, "Failed to initialize job client object");
    return FXErrorUtil::ErrorErrNo(FXLOC, -1, "Failed to initialize job clinet object");
  }
  if (stageFreeRestore) {
    e = handleStageFreeRestore();
    if (e.IsError()) return e.Push(FXLOC);
  }
  return CQiError::Success();
}

CQiError CCassandraRestoreController::GetRestoreWorker(DistributedQEL::IRestoreWorkerPtr& worker) {
  const bool crossNode = ClientIdOf(sourceNode) != ClientIdOf(targetNode);
  DistributedQEL::IRestoreWorkerPtr made(new (std::nothrow) CCassandraRestoreWorker(
      this, static_cast<unsigned long>(destInstanceId), recover, dataDirBySource, stagingBySource,
      crossNode, useSSTableLoader, &tableMetadata));
  if (!made) return FXErrorUtil::ErrorWin32(FXLOC, 8, "Failed to allocate a restore worker");
  worker = made;
  return CQiError::Success();
}

int CCassandraRestoreController::getNumberOfWorkers() {
  if (stageFreeRestore) return 0;
  return TQDC_FileSystem::CFSRestoreController::getNumberOfWorkers();
}

bool CCassandraRestoreController::isControllerDone() {
  if (!stageFreeRestore) return TQDC_FileSystem::CFSRestoreController::isControllerDone();
  if (!getStopRequested()) return false;
  if (stageFreeFinished) {
    TQLOG(0, "Stage free restore completed. Controller done");
    return true;
  }
  return TQDC_FileSystem::CFSRestoreController::isControllerDone();
}

}  // namespace TQCassandra
